// What folivex-dl prints of a server's texts: nothing a terminal would act
// on gets through, and everything else is shown as it is.
#include "cli/terminal_text.h"

#include <gtest/gtest.h>

#include <string>

#include "cli/progress.h"

namespace folivex {
namespace {

TEST(TerminalSafeText, ShowsWhatATerminalWouldActOn) {
  struct Case {
    const char* name;
    std::string text, shown;
  } cases[] = {
      {"plain", "Spring 2024", "Spring 2024"},
      {"Chinese", "\xE5\x9B\xBE\xE4\xB9\xA6", "\xE5\x9B\xBE\xE4\xB9\xA6"},  // 图书
      {"a character outside the first plane", "\xF0\x9F\x93\x96", "\xF0\x9F\x93\x96"},
      {"colour and clear screen", "\x1B[31mred\x1B[2J", "^[[31mred^[[2J"},
      {"a fake summary on a line of its own", "Book\r\nBook: 3 saved, 0 failed",
       "Book^M^JBook: 3 saved, 0 failed"},
      {"cursor up and erase line", "x\x1B[1A\x1B[K", "x^[[1A^[[K"},
      {"window title (OSC ending in BEL)", "\x1B]0;pwned\x07", "^[]0;pwned^G"},
      {"tab, backspace, NUL, DEL", std::string("a\tb\bc\0d\x7F", 8), "a^Ib^Hc^@d^?"},
      {"C1 control sequence introducer", "a\xC2\x9B" "2J", "a<U+009B>2J"},
      {"next line", "a\xC2\x85" "b", "a<U+0085>b"},
      {"right-to-left override", "abc\xE2\x80\xAE" "fdp.exe", "abc<U+202E>fdp.exe"},
      {"line separator", "a\xE2\x80\xA8" "b", "a<U+2028>b"},
      {"a lone 0x9B, CSI to an 8-bit terminal", "a\x9B" "2J", "a\xEF\xBF\xBD" "2J"},
      {"a sequence cut short at the end", "ab\xE5\x9B", "ab\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"an overlong ESC", "\xC0\x9B", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"a surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"empty", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TerminalSafeText(c.text), c.shown);
  }
}

// The run's progress shows the title and each failure's reason through
// the sanitiser; its live line is redrawn with carriage returns and
// spaces, so no escape sequence at all reaches the terminal.
TEST(RunProgress, PrintsNoEscapeSequenceFromTheServer) {
  const std::string title = "Book\x1B[2J\x1B[H";
  PageOutcome failed;
  failed.page = 2;
  failed.attempts = 1;
  failed.failure = Failure{FailureKind::Other, "the server said \x1B[31mall is well\x1B[0m\n"};
  for (const bool live : {false, true}) {
    SCOPED_TRACE(live ? "terminal" : "log");
    std::string printed;
    RunProgress progress(1, live, false, [&](TerminalStream, std::string_view text) { printed += text; },
                         [] { return std::optional<int>(120); });
    const int book = progress.BookStarted(title, 2);
    progress.PageFinished(book, failed);
    PageOutcome saved;
    saved.page = 1;
    saved.status = PageStatus::Saved;
    progress.PageFinished(book, saved);
    progress.BookFinished(book);
    progress.Finish();
    EXPECT_EQ(printed.find('\x1B'), std::string::npos) << printed;
    EXPECT_NE(printed.find("Book^[[2J^[[H"), std::string::npos) << printed;
    EXPECT_NE(printed.find("the server said ^[[31mall is well^[[0m^J\n"), std::string::npos) << printed;
  }
}

}  // namespace
}  // namespace folivex
