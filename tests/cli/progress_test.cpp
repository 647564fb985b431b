// The run's live line and the lines printed around it: what the numbers
// say while books are still being analysed, how the line fits a terminal,
// and that other lines never land in the middle of it.
#include "cli/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/terminal_text.h"

namespace folivex {
namespace {

TEST(LiveLine, ShowsTheRunAndFitsTheTerminal) {
  const std::string title = "\xE6\x98\xA5\xE5\xA4\xA9\xE7\x9A\x84\xE7\x94\xBB\xE5\x86\x8C";  // 春天的画册
  struct Case {
    const char* name;
    RunFigures figures;
    int columns;
    std::vector<std::string> shown;
  } cases[] = {
      {.name = "no book counted yet: no total, no time left",
       .figures = {.books = 100},
       .columns = 120,
       .shown = {"[------------------------------]    0%", "0/100 books", " 0 pages ", "? left"}},
      {.name = "books waiting are guessed at the average",
       .figures = {.books = 4, .books_done = 1, .books_open = 1, .pages_done = 15, .pages_closed = 10,
                   .pages_open = 10, .books_counted = 2, .pages_counted = 20, .pages_per_second = 5},
       .columns = 120,
       .shown = {"37%", "1/4 books", "15/~40 pages", "0:05 left"}},
      {.name = "every book counted: an exact total",
       .figures = {.books = 2, .books_done = 1, .books_open = 1, .pages_done = 18, .pages_closed = 12,
                   .pages_open = 12, .books_counted = 2, .pages_counted = 24, .bytes_per_second = 2.5 * 1024 * 1024,
                   .pages_per_second = 6},
       .columns = 120,
       .shown = {"[######################--------]   75%", "18/24 pages", "2.5 MiB/s", "0:01 left"}},
      {.name = "a book stopped by the user still counts its missing pages",
       .figures = {.books = 2, .books_done = 1, .pages_done = 14, .pages_closed = 14, .books_stopped = 1,
                   .pages_stopped = 6, .books_counted = 2, .pages_counted = 20, .stopping = true},
       .columns = 120,
       .shown = {"70%", "1/2 books", "14/20 pages", "stopping"}},
      {.name = "one book: its title instead of a book count",
       .figures = {.books = 1, .books_open = 1, .pages_done = 3, .pages_open = 12, .books_counted = 1,
                   .pages_counted = 12, .title = title},
       .columns = 120,
       .shown = {title + "  [", "3/12 pages"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string line = LiveLine(c.figures, c.columns);
    for (const std::string& part : c.shown) EXPECT_NE(line.find(part), std::string::npos) << line;
    EXPECT_EQ(c.figures.books == 1, line.find("books") == std::string::npos) << line;
  }

  // Narrow terminals: the bar shrinks to its least, then the line is cut,
  // wide characters counted as two columns and never cut in half.
  RunFigures one_book{.books = 1, .books_open = 1, .pages_done = 3, .pages_open = 12, .books_counted = 1,
                      .pages_counted = 12, .title = title + title + title};
  for (const int columns : {200, 80, 60, 41, 40, 12, 11, 1}) {
    SCOPED_TRACE(columns);
    const std::string line = LiveLine(one_book, columns);
    EXPECT_LE(DisplayWidth(line), static_cast<std::size_t>(std::max(columns - 1, 1)));
    EXPECT_EQ(TerminalSafeText(line), line) << "a character cut in half";
    if (columns >= 120) {
      EXPECT_NE(line.find("[#######"), std::string::npos) << line;
    }
  }
}

TEST(DisplayWidth, CountsWideCharactersTwiceAndMarksNever) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t width;
  } cases[] = {
      {"ASCII", "abc", 3},
      {"CJK", "\xE5\x9B\xBE\xE4\xB9\xA6", 4},                       // 图书
      {"full-width solidus", "a\xEF\xBC\x8F" "b", 4},               // a／b
      {"a combining accent", "e\xCC\x81", 1},
      {"an emoji", "\xF0\x9F\x93\x96", 2},
      {"a byte that is not UTF-8", "\xFF", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DisplayWidth(c.text), c.width);
  }
  EXPECT_EQ(CutToWidth("\xE5\x9B\xBE\xE4\xB9\xA6", 3), "\xE5\x9B\xBE");
  EXPECT_EQ(CutToWidth("ab", 5), "ab");
}

struct Capture {
  struct Piece {
    TerminalStream stream;
    std::string text;
  };
  std::vector<Piece> pieces;
  RunProgress::Writer Writer() {
    return [this](TerminalStream stream, std::string_view text) { pieces.push_back({stream, std::string(text)}); };
  }
  std::string All() const {
    std::string all;
    for (const Piece& p : pieces) all += p.text;
    return all;
  }
};

PageOutcome Page(int n, PageStatus status, std::optional<Failure> failure = std::nullopt) {
  PageOutcome outcome;
  outcome.page = n;
  outcome.status = status;
  outcome.attempts = 1;
  outcome.failure = std::move(failure);
  return outcome;
}

// On a terminal a line is printed only after the live line has been wiped,
// and the live line comes back after it; the screen ends on the final
// numbers.
TEST(RunProgress, PrintsLinesAboveTheLiveLine) {
  Capture capture;
  RunProgress progress(2, true, false, capture.Writer(), [] { return std::optional<int>(100); });
  const int first = progress.BookStarted("A", 2);
  progress.PageFinished(first, Page(1, PageStatus::Saved));
  progress.PageFinished(first, Page(2, PageStatus::Failed, Failure{FailureKind::HttpStatus, {}, 404}));
  progress.BookFinished(first);
  progress.Say(TerminalStream::Out, "A: 1 saved, 0 kept, 1 failed");
  progress.Finish();

  bool line_open = false;
  for (const Capture::Piece& piece : capture.pieces) {
    SCOPED_TRACE(piece.text);
    const bool wipe = piece.text.find_first_not_of(" \r") == std::string::npos;
    if (piece.text.find('\n') != std::string::npos && piece.text != "\n") {
      EXPECT_FALSE(line_open) << "a line printed into the live line";
    }
    if (wipe) line_open = false;
    if (piece.text.rfind("\r[", 0) == 0) line_open = true;
  }
  const std::string all = capture.All();
  // The failure names its book, as several books share the screen.
  EXPECT_NE(all.find("A: page 2 failed after 1 attempt: the server answered 404\n"), std::string::npos) << all;
  EXPECT_EQ(capture.pieces.back().text, "\n");
  const std::string last_line = capture.pieces[capture.pieces.size() - 2].text;
  EXPECT_NE(last_line.find("1/2 books  2/~4 pages"), std::string::npos) << last_line;
}

// In a log there is no live line: each book reports its tenths, pages the
// user stopped are not listed one by one, and quiet keeps only failures.
TEST(RunProgress, WritesPlainLinesToALog) {
  for (const bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "quiet" : "normal");
    Capture capture;
    RunProgress progress(1, false, quiet, capture.Writer(), [] { return std::optional<int>(100); });
    const int book = progress.BookStarted("B", 20);
    for (int n = 1; n <= 17; ++n) progress.PageFinished(book, Page(n, PageStatus::Saved));
    progress.PageFinished(book, Page(18, PageStatus::Failed, Failure{FailureKind::NotImage, {}}));
    for (int n = 19; n <= 20; ++n) {
      progress.PageFinished(book, Page(n, PageStatus::Failed, Failure{FailureKind::Stopped, {}}));
    }
    progress.BookFinished(book, true);
    progress.Finish();
    const std::string all = capture.All();
    EXPECT_EQ(all.find('\r'), std::string::npos) << all;
    EXPECT_NE(all.find("  page 18 failed after 1 attempt: not an image\n"), std::string::npos) << all;
    EXPECT_EQ(all.find("page 19"), std::string::npos) << all;
    EXPECT_EQ(all.find("B: 2/20 pages"), quiet ? std::string::npos : 0u) << all;
    if (!quiet) {
      EXPECT_NE(all.find("B: 18/20 pages"), std::string::npos) << all;
    }
  }
}

}  // namespace
}  // namespace folivex
