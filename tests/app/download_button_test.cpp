// The Download button: its page worker against the sample site with the
// window's controls in memory, the progress bar's arithmetic and the
// completion message.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "app/window_analysis.h"
#include "app/save_folder.h"
#include "app/main_window.h"
#include "app/download_button.h"
#include "download/page_download.h"
#include "platform/codepage.h"
#include "app/controls.h"
#include "platform/services.h"
#include "support/sample_site.h"
#include "support/scratch_folder.h"
#include "app/window_in_memory.h"

namespace folivex {
namespace {

namespace fs = std::filesystem;

TEST(ProgressPosition, TruncatedDoubleQuotient) {
  struct Case {
    const char* name;
    int finished, total, position;
  } cases[] = {
      {"page 29 of 100 shows 28", 29, 100, 28},
      {"page 57 of 100 shows 56", 57, 100, 56},
      {"page 58 of 100 shows 57", 58, 100, 57},
      {"page 1 of 3", 1, 3, 33},
      {"page 2 of 3", 2, 3, 66},
      {"page 3 of 3", 3, 3, 100},
      {"a total of 0 shows an empty bar", 5, 0, 0},
      {"a smaller total overfills, kept defined", 2000000000, 1, 101},
      {"a negative total", 5, -10, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ProgressPosition(c.finished, c.total), c.position);
  }
}

PageOutcome Failed(int page, Failure failure) {
  return PageOutcome{.page = page, .status = PageStatus::Failed, .attempts = 1, .failure = failure};
}

TEST(CompletionMessage, TellsTheTruthShortly) {
  DownloadReport all;
  all.saved = {1, 2, 3};
  EXPECT_EQ(CompletionMessage(all), Utf8ToGbkText("下载完成！"));

  // Each failed page with its reason, pages of one reason together.
  DownloadReport some;
  some.saved = {1, 2, 4};
  some.kept = {6};
  some.failed = {3, 5, 7};
  some.outcomes = {Failed(3, {FailureKind::HttpStatus, "", 404}), Failed(5, {FailureKind::Timeout}),
                   Failed(7, {FailureKind::HttpStatus, "", 404})};
  EXPECT_EQ(CompletionMessage(some),
            Utf8ToGbkText("下载结束：已保存 4 页，失败 3 页：3, 7（404）；5（time-out）"));

  // A page count past the cap is never reported complete.
  const std::string capped = GbkToUtf8(CompletionMessage(all, kMaxPages + 1));
  EXPECT_EQ(capped.find("下载完成"), std::string::npos) << capped;
  EXPECT_NE(capped.find("100001"), std::string::npos) << capped;
  EXPECT_EQ(GbkToUtf8(CompletionMessage(all, kMaxPages)), "下载完成！");

  // A whole book missing stays a short message.
  DownloadReport none;
  for (int n = 1; n <= 1000; ++n) {
    none.failed.push_back(n);
    none.outcomes.push_back(Failed(n, {FailureKind::HttpStatus, "", n % 2 ? 404 : 403}));
  }
  const std::string message = GbkToUtf8(CompletionMessage(none));
  EXPECT_LT(message.size(), 400u) << message;
  EXPECT_NE(message.find("（404）"), std::string::npos) << message;
}

// The Download button's worker, run on the test's thread, with the window's
// controls in memory.
class DownloadPagesTest : public WindowInMemoryTest {
 protected:
  void Analyse(const std::string& id) {
    SetText(Control::书籍地址框, site_.BookUrl(id));
    ASSERT_EQ(AnalyzeBookInWindow(folder_.text()).problem, AnalysisProblem::None);
    messages_.clear();
  }

  fs::path Page(const std::string& title, int n) const {
    return folder_.root() / title / (std::to_string(n) + ".jpg");
  }

  SampleSite site_;
};

TEST_F(DownloadPagesTest, SavesEveryPageWholeWithOneOrManyInFlight) {
  site_.AddBook({.id = "b", .title = "Book", .pages = 12});
  ASSERT_TRUE(site_.Start()) << site_.error();
  for (const char* threads : {"1", "10", "0", "99"}) {
    SCOPED_TRACE(threads);
    fs::remove_all(folder_.root() / "Book");
    Analyse("b");
    SetText(Control::编辑框_线程数, threads);
    DownloadPages(0);
    for (int n = 1; n <= 12; ++n) {
      EXPECT_EQ(ScratchFolder::ReadFile(Page("Book", n)), site_.PageBytes("b", n)) << n;
    }
    EXPECT_EQ(folder_.Tree().size(), 13u);  // the folder and its 12 pages, nothing else
    EXPECT_EQ(GetText(Control::进度标签), "12");
    EXPECT_EQ(controls_->Position(Control::进度条), 100);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], "\xCF\xC2\xD4\xD8\xCD\xEA\xB3\xC9\xA3\xA1");
  }
}

// A WebP book behind a Referer check, as the window downloads it: the
// cover told the extension, every page is named by it, every picture
// request names the book page, and a JPEG book analysed next goes back to
// .jpg.
TEST_F(DownloadPagesTest, AWebpBookBehindARefererCheck) {
  site_.AddBook({.id = "w", .title = "Webp", .pages = 3, .picture = {.width = 20, .height = 30},
                 .format = PageFormat::Webp, .referer_check = true});
  site_.AddBook({.id = "j", .title = "Jpeg", .pages = 2, .picture = {.width = 20, .height = 30}});
  ASSERT_TRUE(site_.Start()) << site_.error();
  Analyse("w");
  EXPECT_EQ(PageExtension(), "webp");
  SetText(Control::编辑框_线程数, "2");
  DownloadPages(0);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], Utf8ToGbkText("下载完成！"));
  for (int n = 1; n <= 3; ++n) {
    const fs::path page = folder_.root() / "Webp" / (std::to_string(n) + ".webp");
    EXPECT_EQ(ScratchFolder::ReadFile(page), site_.PageBytes("w", n)) << n;
    for (const RecordedRequest& request : site_.server().RequestsFor(SampleSite::ImagePath("w", n, "webp"))) {
      EXPECT_EQ(request.Header("Referer"), site_.BookUrl("w"));
    }
  }
  Analyse("j");
  EXPECT_EQ(PageExtension(), "jpg");
  DownloadPages(0);
  for (int n = 1; n <= 2; ++n) {
    EXPECT_EQ(ScratchFolder::ReadFile(Page("Jpeg", n)), site_.PageBytes("j", n)) << n;
  }
}

TEST_F(DownloadPagesTest, AFailingPageIsRetriedThenReportedAndNeverSpoilsAFile) {
  site_.AddBook({.id = "b", .title = "Book", .pages = 10});
  site_.SetPageFault("b", 5, {.status = 404});
  site_.SetPageFault("b", 7, {.fail_first = 2});  // the third attempt succeeds
  site_.SetPageFault("b", 8, {.html_body = true});
  ASSERT_TRUE(site_.Start()) << site_.error();
  Analyse("b");
  // A page 5 from an earlier run stays as it was.
  ScratchFolder::WriteFile(Page("Book", 5), "earlier page five");
  SetText(Control::编辑框_线程数, "4");
  DownloadPages(0);

  EXPECT_EQ(ScratchFolder::ReadFile(Page("Book", 5)), "earlier page five");
  EXPECT_FALSE(fs::exists(Page("Book", 8)));
  EXPECT_EQ(ScratchFolder::ReadFile(Page("Book", 7)), site_.PageBytes("b", 7));
  EXPECT_EQ(site_.ImageRequests("b", 7), 3);
  // A missing page is asked once: another try cannot make it appear.
  EXPECT_EQ(site_.ImageRequests("b", 5), 1);
  EXPECT_EQ(site_.ImageRequests("b", 8), 1);
  for (int n : {1, 2, 3, 4, 6, 9, 10}) {
    EXPECT_EQ(ScratchFolder::ReadFile(Page("Book", n)), site_.PageBytes("b", n)) << n;
  }
  EXPECT_EQ(folder_.Tree().size(), 10u);  // no temporary file is left
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], Utf8ToGbkText("下载结束：已保存 8 页，失败 2 页：5（404）；8（not an image）"));
}

TEST_F(DownloadPagesTest, NoPageCountMeansNothingHappens) {
  site_.AddBook({.id = "b", .title = "Book", .pages = 3});
  ASSERT_TRUE(site_.Start()) << site_.error();
  Analyse("b");
  for (const char* count : {"", "0", "-5", "abc"}) {
    SCOPED_TRACE(count);
    SetText(Control::页数框, count);
    DownloadPages(0);
    EXPECT_EQ(GetText(Control::进度标签), "");
    EXPECT_EQ(controls_->Position(Control::进度条), 0);
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(site_.ImageRequests("b", 1), 1);  // only the cover
  }
}

TEST_F(DownloadPagesTest, EditingThePageCountDoesNotEndTheDownloadEarly) {
  site_.AddBook({.id = "b", .title = "Book", .pages = 6});
  ASSERT_TRUE(site_.Start()) << site_.error();
  Analyse("b");
  SetText(Control::编辑框_线程数, "1");
  controls_->Watch([](Control control, MemoryControls::Change) {
    // The user types 2 into the page box while page 2 is saved.
    if (control == Control::进度标签 && GetText(Control::进度标签) == "2") SetText(Control::页数框, "2");
  });
  DownloadPages(0);
  controls_->Watch(nullptr);
  for (int n = 1; n <= 6; ++n) EXPECT_TRUE(fs::exists(Page("Book", n))) << n;
  EXPECT_EQ(messages_.size(), 1u);  // once, at the real end
  EXPECT_EQ(controls_->Position(Control::进度条), 100);  // 6 of 2: full
}

TEST_F(DownloadPagesTest, AnAnalysisDuringTheDownloadSendsTheRestToTheNewBook) {
  site_.AddBook({.id = "a", .title = "First", .pages = 6});
  site_.AddBook({.id = "b", .title = "Second", .pages = 6});
  ASSERT_TRUE(site_.Start()) << site_.error();
  Analyse("a");
  SetText(Control::编辑框_线程数, "1");
  controls_->Watch([this](Control control, MemoryControls::Change) {
    if (control == Control::进度标签 && GetText(Control::进度标签) == "3") {
      SetText(Control::下载绝对地址框, site_.ImageBase("b"));
      ReplaceSaveFolder(ConcatText(folder_.text(), PathSeparator(), "Second", PathSeparator()));
      CreateFolder(SaveFolder());
    }
  });
  DownloadPages(0);
  controls_->Watch(nullptr);
  for (int n = 1; n <= 3; ++n) {
    EXPECT_EQ(ScratchFolder::ReadFile(Page("First", n)), site_.PageBytes("a", n)) << n;
    EXPECT_FALSE(fs::exists(Page("Second", n))) << n;
  }
  for (int n = 4; n <= 6; ++n) {
    EXPECT_EQ(ScratchFolder::ReadFile(Page("Second", n)), site_.PageBytes("b", n)) << n;
    EXPECT_FALSE(fs::exists(Page("First", n))) << n;
  }
}

TEST_F(DownloadPagesTest, LeftoversOfAnInterruptedRunAreCleanedAndCompletePagesKept) {
  site_.AddBook({.id = "b", .title = "Book", .pages = 4});
  ASSERT_TRUE(site_.Start()) << site_.error();
  Analyse("b");
  const fs::path book = folder_.root() / "Book";
  // Another process died while writing page 3; page 1 is complete, page 2
  // was cut short by a crash of some older tool.
  ScratchFolder::WriteFile(book / ".3.jpg.part-999999-0", "half a page");
  ScratchFolder::WriteFile(Page("Book", 1), site_.PageBytes("b", 1));
  ScratchFolder::WriteFile(Page("Book", 2), site_.PageBytes("b", 2).substr(0, 1000));
  ScratchFolder::WriteFile(book / "notes.txt", "the user's own file");

  DownloadSettings settings;
  settings.keep_complete = true;
  const DownloadReport report = DownloadBook(PageRange(4), settings, &WindowPageTarget, nullptr);
  EXPECT_EQ(report.kept, std::vector<int>{1});
  EXPECT_EQ(report.saved, (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(site_.ImageRequests("b", 1), 1);  // the cover only: page 1 was kept
  EXPECT_FALSE(fs::exists(book / ".3.jpg.part-999999-0"));
  EXPECT_TRUE(fs::exists(book / "notes.txt"));
  for (int n = 1; n <= 4; ++n) {
    EXPECT_EQ(ScratchFolder::ReadFile(Page("Book", n)), site_.PageBytes("b", n)) << n;
  }
}

}  // namespace
}  // namespace folivex
