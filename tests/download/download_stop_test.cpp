// Stopping a download from another thread, as the window does when it
// closes: from the moment Stop returns, the folder holds only whole pages,
// no temporary, and nothing more is written.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "download/page_download.h"
#include "support/sample_site.h"
#include "support/scratch_folder.h"

namespace folivex {
namespace {

TEST(DownloadStop, StoppedMidwayLeavesOnlyWholePagesAndWritesNothingMore) {
  constexpr int kPages = 60;
  // Slow pages keep several in flight at any moment.
  SampleSite site(SiteOptions{.bytes_per_second = 400 * 1024});
  site.AddBook({.id = "s", .pages = kPages, .page_size = 100 * 1024});
  site.PreparePictures("s");
  ASSERT_TRUE(site.Start()) << site.error();
  ScratchFolder folder;
  const auto target = [&](int n) {
    return PageTarget{site.ImageUrl("s", n),
                      ConcatText(folder.text(), PathSeparator(), std::to_string(n), ".jpg")};
  };
  DownloadSettings settings;
  settings.threads = 8;
  DownloadStop stop;
  settings.stop = &stop;

  DownloadReport report;
  std::thread download([&] { report = DownloadBook(PageRange(kPages), settings, target, nullptr); });
  // Some pages written, most still to come.
  for (int i = 0; i < 3000 && folder.Tree().size() < 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(stop.Stop(std::chrono::seconds(10)));
  const std::set<std::string> at_stop = folder.Tree();
  download.join();

  EXPECT_EQ(folder.Tree(), at_stop) << "written after Stop returned";
  EXPECT_LT(at_stop.size(), static_cast<std::size_t>(kPages));
  for (const std::string& name : at_stop) {
    SCOPED_TRACE(name);
    const std::string stem = name.substr(0, name.find('.'));
    ASSERT_FALSE(stem.empty()) << "a temporary";
    ASSERT_EQ(name, stem + ".jpg");
    EXPECT_EQ(ScratchFolder::ReadFile(folder.root() / name), site.PageBytes("s", std::stoi(stem)));
  }
  EXPECT_EQ(report.saved.size(), at_stop.size());
  EXPECT_EQ(report.saved.size() + report.failed.size(), static_cast<std::size_t>(kPages));
  for (const PageOutcome& outcome : report.outcomes) {
    if (outcome.status == PageStatus::Failed) {
      ASSERT_TRUE(outcome.failure.has_value());
      EXPECT_EQ(outcome.failure->detail, "the download was stopped");
    }
  }
}

}  // namespace
}  // namespace folivex
