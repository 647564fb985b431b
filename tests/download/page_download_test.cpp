// The page engine against the sample site's books as current hosts serve
// them: files named by what they hold, a resume that knows every picture
// extension, and picture requests that name their book page.
#include "download/page_download.h"

#include <gtest/gtest.h>

#include <set>
#include <memory>
#include <string>
#include <thread>

#include "image/image_format.h"
#include "support/png_maker.h"
#include "support/sample_site.h"
#include "support/scratch_folder.h"
#include "support/webp_maker.h"

namespace folivex {
namespace {

namespace fs = std::filesystem;

const JpegOptions kSmall = {.width = 30, .height = 40};

class PageDownloadTest : public ::testing::Test {
 protected:
  void Start() { ASSERT_TRUE(site_.Start()) << site_.error(); }
  // Pages of book `id` from the site's own addresses into the scratch
  // folder, named n.jpg as a JPEG book's would be.
  PageTargetFor TargetsOf(const std::string& id) {
    return [this, id](int n) {
      return PageTarget{site_.ImageUrl(id, n),
                        ConcatText(folder_.text(), PathSeparator(), IntToText(n), ".jpg")};
    };
  }
  DownloadReport Download(const std::string& id, int pages, DownloadSettings settings = {}) {
    settings.retry_pause = std::chrono::milliseconds(1);
    return DownloadBook(PageRange(pages), settings, TargetsOf(id), nullptr);
  }
  std::string File(const std::string& name) const { return ScratchFolder::ReadFile(folder_.root() / name); }

  SampleSite site_;
  ScratchFolder folder_;
};

TEST_F(PageDownloadTest, PagesAreNamedByWhatTheyHold) {
  site_.AddBook({.id = "mixed", .pages = 3, .picture = kSmall,
                 .page_formats = {{2, PageFormat::Png}}, .jpeg_trailer = "trailer"});
  site_.AddBook({.id = "webp", .pages = 2, .picture = kSmall, .format = PageFormat::Webp});
  Start();
  struct Case {
    const char* name;
    std::string id;
    int pages;
    std::set<std::string> files;
  } cases[] = {
      {"JPEG pages with a trailer and a PNG page", "mixed", 3, {"1.jpg", "2.png", "3.jpg"}},
      {"WebP pages", "webp", 2, {"1.webp", "2.webp"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : fs::directory_iterator(folder_.root())) fs::remove(entry.path());
    const DownloadReport report = Download(c.id, c.pages);
    ASSERT_TRUE(report.AllSaved());
    EXPECT_EQ(folder_.Tree(), c.files);
    for (const PageOutcome& outcome : report.outcomes) {
      const std::string name = fs::path(outcome.path).filename().string();
      EXPECT_EQ(c.files.count(name), 1u) << outcome.path;
      EXPECT_EQ(File(name), site_.PageBytes(c.id, outcome.page)) << name;
    }
  }
}

TEST_F(PageDownloadTest, AResumeKnowsEveryPictureExtension) {
  site_.AddBook({.id = "b", .pages = 5, .picture = kSmall});
  Start();
  const std::string png = MakePng(kSmall, {}).bytes;
  const std::string webp = MakeWebp(kSmall);
  // An older run saved page 1 as a PNG under .jpg, page 2 as WebP; page 3
  // is a WebP cut short, page 4 a leftover of a killed run.
  ScratchFolder::WriteFile(folder_.root() / "1.jpg", png);
  ScratchFolder::WriteFile(folder_.root() / "2.webp", webp);
  ScratchFolder::WriteFile(folder_.root() / "3.webp", webp.substr(0, webp.size() / 2));
  ScratchFolder::WriteFile(folder_.root() / ".4.webp.part-999999-0", webp.substr(0, 100));
  ScratchFolder::WriteFile(folder_.root() / "5.txt", "the user's own notes");

  DownloadSettings settings;
  settings.keep_complete = true;
  const DownloadReport report = Download("b", 5, settings);
  EXPECT_EQ(report.kept, (std::vector<int>{1, 2}));
  EXPECT_EQ(report.saved, (std::vector<int>{3, 4, 5}));
  EXPECT_EQ(fs::path(report.outcomes[0].path).filename(), "1.jpg");
  EXPECT_EQ(fs::path(report.outcomes[1].path).filename(), "2.webp");
  EXPECT_EQ(site_.ImageRequests("b", 1) + site_.ImageRequests("b", 2), 0);
  // The cut WebP is replaced by the JPEG now served; nothing of the killed
  // run is left; the user's file stays.
  EXPECT_EQ(folder_.Tree(), (std::set<std::string>{"1.jpg", "2.webp", "3.jpg", "4.jpg", "5.jpg",
                                                   "5.txt"}));
  EXPECT_EQ(File("1.jpg"), png);
  EXPECT_EQ(File("3.jpg"), site_.PageBytes("b", 3));
}

TEST_F(PageDownloadTest, ASavedPageReplacesItsPicturesOfOtherExtensions) {
  site_.AddBook({.id = "b", .pages = 2, .picture = kSmall, .page_formats = {{2, PageFormat::Png}}});
  Start();
  ScratchFolder::WriteFile(folder_.root() / "1.webp", MakeWebp(kSmall));
  ScratchFolder::WriteFile(folder_.root() / "1.png", "old");
  ScratchFolder::WriteFile(folder_.root() / "2.jpg", site_.PageBytes("b", 1));
  const DownloadReport report = Download("b", 2);  // no resume: every page anew
  ASSERT_TRUE(report.AllSaved());
  EXPECT_EQ(folder_.Tree(), (std::set<std::string>{"1.jpg", "2.png"}));
  EXPECT_EQ(File("2.png"), site_.PageBytes("b", 2));
}

TEST_F(PageDownloadTest, PictureRequestsNameTheBookPage) {
  site_.AddBook({.id = "guarded", .pages = 4, .picture = kSmall, .referer_check = true});
  Start();
  const DownloadReport refused = Download("guarded", 2);
  EXPECT_EQ(refused.failed, (std::vector<int>{1, 2}));

  DownloadSettings settings;
  settings.threads = 3;
  settings.fetch.referer = site_.BookUrl("guarded");
  settings.fetch.user_agent = "PageReader/2.0 (test)";
  const DownloadReport report = Download("guarded", 4, settings);
  EXPECT_TRUE(report.AllSaved());
  for (int n = 1; n <= 4; ++n) {
    EXPECT_EQ(File(std::to_string(n) + ".jpg"), site_.PageBytes("guarded", n)) << n;
    const std::vector<RecordedRequest> requests =
        site_.server().RequestsFor(SampleSite::ImagePath("guarded", n));
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().Header("Referer"), site_.BookUrl("guarded"));
    EXPECT_EQ(requests.back().Header("User-Agent"), "PageReader/2.0 (test)");
  }
}

// Books that share the run's request slots are served in the order they
// began: an earlier book's pages go before a later one's, so books end one
// after the other instead of all together.
TEST_F(PageDownloadTest, AnEarlierBookGoesFirstForSharedSlots) {
  site_.AddBook({.id = "first", .pages = 4, .picture = kSmall});
  site_.AddBook({.id = "second", .pages = 4, .picture = kSmall});
  Start();
  DownloadSettings settings;
  settings.threads = 2;
  settings.fetch.slots = std::make_shared<RequestSlots>(1);
  RequestSlots& slots = *settings.fetch.slots;
  slots.Acquire(0);  // nothing goes until both books wait
  const auto waiting_reach = [&](std::size_t count) {
    while (slots.Waiting() < count) std::this_thread::yield();
  };
  std::thread first([&] { EXPECT_TRUE(Download("first", 4, settings).AllSaved()); });
  waiting_reach(2);
  std::thread second([&] {
    EXPECT_TRUE(DownloadBook(PageRange(4), settings, [&](int n) {
                  return PageTarget{site_.ImageUrl("second", n),
                                    ConcatText(folder_.text(), PathSeparator(), "b", IntToText(n), ".jpg")};
                }, nullptr).AllSaved());
  });
  waiting_reach(4);
  slots.Release();
  first.join();
  second.join();
  std::string books;
  for (const RecordedRequest& request : site_.server().Requests()) {
    books += request.path.rfind("/first/", 0) == 0 ? "1" : "2";
  }
  EXPECT_EQ(books, "11112222");
}

}  // namespace
}  // namespace folivex
