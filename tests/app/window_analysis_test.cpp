// The double click on the book address box: the window's boxes, the cover,
// SaveFolder and the book's folder after an analysis.
#include "app/window_analysis.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "app/main_window.h"
#include "app/save_folder.h"
#include "platform/codepage.h"
#include "app/controls.h"
#include "platform/services.h"
#include "support/sample_site.h"
#include "support/scratch_folder.h"
#include "app/window_in_memory.h"

namespace folivex {
namespace {

// A double click on the address box, against the sample site, with the
// window's controls in memory and the program folder in a scratch folder.
class AnalyzeBookTest : public WindowInMemoryTest {
 protected:
  void Start() { ASSERT_TRUE(site_.Start()) << site_.error(); }

  // The user copies `address` and double-clicks.
  void DoubleClick(std::optional<Text> address) {
    SetClipboardOverride(std::move(address));
    messages_.clear();
    AnalyzeBook();
  }

  Text FolderFor(const Text& name) const {
    return ConcatText(folder_.text(), PathSeparator(), name, PathSeparator());
  }

  SampleSite site_;
};

TEST_F(AnalyzeBookTest, FillsTheBoxesShowsTheCoverAndCreatesTheFolder) {
  site_.AddBook({.id = "a", .title = "Spring", .pages = 24});
  Start();
  DoubleClick(site_.BookUrl("a"));

  EXPECT_EQ(GetText(Control::书籍地址框), site_.BookUrl("a"));
  EXPECT_EQ(GetText(Control::源代码框), Utf8ToGbkText(site_.BookPage("a")));
  EXPECT_EQ(GetText(Control::书名框), "Spring");
  EXPECT_EQ(GetText(Control::页数框), "24");
  EXPECT_EQ(GetText(Control::下载绝对地址框), site_.BaseUrl("a") + "files/mobile/");
  const Bytes cover = controls_->Picture(Control::封面框);
  const std::string& page1 = site_.PageBytes("a", 1);
  EXPECT_EQ(std::string(cover.begin(), cover.end()), page1);
  EXPECT_EQ(site_.ImageRequests("a", 1), 1);
  EXPECT_EQ(SaveFolder(), FolderFor("Spring"));
  EXPECT_TRUE(FolderExists(SaveFolder()));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(AnalyzeBookTest, AChineseTitleNamesTheFolderInTheSystemsOwnCharacters) {
  site_.AddBook({.id = "c", .title = "\xE6\x98\xA5\xE5\xA4\xA9\xE7\x9A\x84\xE4\xB9\xA6", .pages = 2});  // 春天的书
  Start();
  DoubleClick(site_.BookUrl("c"));
  const Text title = "\xB4\xBA\xCC\xEC\xB5\xC4\xCA\xE9";  // 春天的书 in code page 936
  EXPECT_EQ(GetText(Control::书名框), title);
  EXPECT_EQ(SaveFolder(), FolderFor(title));
  // On disk the name is the title itself, not its code page 936 bytes.
  EXPECT_TRUE(std::filesystem::is_directory(
      folder_.root() / std::filesystem::path(std::u8string(
                           reinterpret_cast<const char8_t*>("\xE6\x98\xA5\xE5\xA4\xA9\xE7\x9A\x84\xE4\xB9\xA6")))));
}

TEST_F(AnalyzeBookTest, PagesThatAreNotWhatWasExpected) {
  struct Case {
    const char* name;
    BookSpec book;
    Text title, pages, image_base;  // image base without the site's base
    bool base_from_site;
    bool cover;
    Text folder_name;
    AnalysisProblem problem;
  } cases[] = {
      {"CR LF line ends hide the base address", {.id = "crlf", .title = "T", .pages = 3, .crlf = true},
       "T", "3", "files/mobile/", false, false, "T", AnalysisProblem::NoBaseAddress},
      {"no page count", {.id = "np", .title = "T2", .omit_page_count = true}, "T2", "", "files/mobile/",
       true, true, "T2", AnalysisProblem::NoPageCount},
      {"page count that is no number is kept as it is", {.id = "abc", .title = "T3", .page_count_text = "abc"},
       "T3", "abc", "files/mobile/", true, true, "T3", AnalysisProblem::NoPageCount},
      {"no title: the folder is named after the address", {.id = "nt", .pages = 2, .omit_title = true},
       "", "2", "files/mobile/", true, true, "", AnalysisProblem::None},
      {"an error page", {.id = "err", .book_page_fault = {.status = 404}}, "", "", "files/mobile/", false,
       false, "", AnalysisProblem::NoPageCount},
  };
  for (Case& c : cases) site_.AddBook(c.book);
  Start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string id = c.book.id;
    DoubleClick(site_.BookUrl(id));
    EXPECT_EQ(GetText(Control::书名框), c.title);
    EXPECT_EQ(GetText(Control::页数框), c.pages);
    EXPECT_EQ(GetText(Control::下载绝对地址框),
              (c.base_from_site ? site_.BaseUrl(id) : std::string()) + c.image_base);
    EXPECT_EQ(!controls_->Picture(Control::封面框).empty(), c.cover);
    if (!c.folder_name.empty()) {
      EXPECT_EQ(SaveFolder(), FolderFor(c.folder_name));
    } else {
      // A safe name made from the address, one level inside the folder.
      EXPECT_TRUE(SaveFolder().starts_with(ConcatText(folder_.text(), PathSeparator(), "book_")));
    }
    EXPECT_TRUE(FolderExists(SaveFolder()));
    if (c.problem == AnalysisProblem::None) {
      EXPECT_TRUE(messages_.empty());
    } else {
      ASSERT_EQ(messages_.size(), 1u);
      EXPECT_EQ(messages_[0], AnalysisProblemText(c.problem, site_.BookUrl(id)));
    }
  }
}

TEST_F(AnalyzeBookTest, NothingFetchedKeepsThePreviousBookAndSaysSo) {
  site_.AddBook({.id = "a", .title = "First", .pages = 5});
  Start();
  DoubleClick(site_.BookUrl("a"));
  const Text first_folder = SaveFolder();

  struct Case {
    const char* name;
    std::optional<Text> clipboard;
  } cases[] = {
      {"empty clipboard", std::nullopt},
      {"address of a server that is not there", Text("http://127.0.0.1:1/x/index.html")},
      {"not an address at all", Text("   ")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DoubleClick(c.clipboard);
    // The clipboard text goes in unchanged, nothing trimmed.
    EXPECT_EQ(GetText(Control::书籍地址框), c.clipboard.value_or(Text()));
    EXPECT_EQ(GetText(Control::源代码框), "");
    EXPECT_EQ(GetText(Control::书名框), "First");
    EXPECT_EQ(GetText(Control::页数框), "5");
    EXPECT_EQ(GetText(Control::下载绝对地址框), site_.ImageBase("a"));
    EXPECT_FALSE(controls_->Picture(Control::封面框).empty());
    EXPECT_EQ(SaveFolder(), first_folder);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], AnalysisProblemText(AnalysisProblem::PageNotFetched, c.clipboard.value_or(Text())));
  }
}

TEST_F(AnalyzeBookTest, TwoBooksOfOneTitleGetTwoFolders) {
  site_.AddBook({.id = "m1", .title = "Monthly", .pages = 2});
  site_.AddBook({.id = "m2", .title = "Monthly", .pages = 2});
  Start();
  DoubleClick(site_.BookUrl("m1"));
  const Text first = SaveFolder();
  DoubleClick(site_.BookUrl("m2"));
  const Text second = SaveFolder();
  EXPECT_EQ(first, FolderFor("Monthly"));
  EXPECT_NE(second, first);
  EXPECT_TRUE(second.starts_with(ConcatText(folder_.text(), PathSeparator(), "Monthly (")));
  EXPECT_TRUE(FolderExists(second));
  // The first book again goes back to its own folder.
  DoubleClick(site_.BookUrl("m1"));
  EXPECT_EQ(SaveFolder(), first);
}

TEST_F(AnalyzeBookTest, ASecondAnalysisReplacesTheSaveFolderAndReusesAnExistingOne) {
  site_.AddBook({.id = "a", .title = "One", .pages = 1});
  site_.AddBook({.id = "b", .title = "Two", .pages = 1});
  Start();
  DoubleClick(site_.BookUrl("a"));
  DoubleClick(site_.BookUrl("b"));
  EXPECT_EQ(SaveFolder(), FolderFor("Two"));
  // The same book again: the folder exists and is used as it is.
  SetText(Control::书籍地址框, site_.BookUrl("b"));
  const BookAnalysis again = AnalyzeBookInWindow(folder_.text());
  EXPECT_EQ(SaveFolder(), FolderFor("Two"));
  EXPECT_TRUE(FolderExists(SaveFolder()));
  EXPECT_EQ(again.problem, AnalysisProblem::None);
}

}  // namespace
}  // namespace folivex
