// Stopping a download from another thread, as the window does when it
// closes and the command line when the user interrupts it: from the moment
// Stop or Drain returns, the folder holds only whole pages, no temporary,
// and nothing more is written.
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

// Page n of the site's book `id` goes to n.jpg in `folder`.
PageTargetFor PagesInto(const SampleSite& site, const std::string& id, const ScratchFolder& folder) {
  return [&site, id, &folder](int n) {
    return PageTarget{site.ImageUrl(id, n), ConcatText(folder.text(), PathSeparator(), std::to_string(n), ".jpg")};
  };
}

// Until `folder` holds `files` files, or 15 s have passed.
void WaitForFiles(const ScratchFolder& folder, std::size_t files) {
  for (int i = 0; i < 3000 && folder.Tree().size() < files; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

TEST(DownloadStop, StoppedMidwayLeavesOnlyWholePagesAndWritesNothingMore) {
  constexpr int kPages = 60;
  // Slow pages keep several in flight at any moment.
  SampleSite site(SiteOptions{.bytes_per_second = 400 * 1024});
  site.AddBook({.id = "s", .pages = kPages, .page_size = 100 * 1024});
  site.PreparePictures("s");
  ASSERT_TRUE(site.Start()) << site.error();
  ScratchFolder folder;
  const PageTargetFor target = PagesInto(site, "s", folder);
  DownloadSettings settings;
  settings.threads = 8;
  DownloadStop stop;
  settings.stop = &stop;

  DownloadReport report;
  std::thread download([&] { report = DownloadBook(PageRange(kPages), settings, target, nullptr); });
  // Some pages written, most still to come.
  WaitForFiles(folder, 5);
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
      EXPECT_EQ(outcome.failure->kind, FailureKind::Stopped);
    }
  }
}

// An interrupted command-line run drains: pages in flight still arrive and
// are saved, no new page starts, and a transfer that would hang gives up
// when the grace ends instead of at its own time-out.
TEST(DownloadStop, DrainingFinishesThePagesInFlightAndStartsNoMore) {
  constexpr int kPages = 40;
  constexpr int kStalled = 3;
  SampleSite site(SiteOptions{.latency = std::chrono::milliseconds(200)});
  site.AddBook({.id = "d", .pages = kPages});
  site.SetPageFault("d", kStalled, {.delivery = {.fault = Fault::kNoAnswer}});
  ASSERT_TRUE(site.Start()) << site.error();
  ScratchFolder folder;
  const PageTargetFor target = PagesInto(site, "d", folder);
  DownloadSettings settings;
  settings.threads = 4;
  // Far longer than the grace: the stalled page ends by the stop alone.
  settings.fetch.idle_timeout_ms = 120000;
  DownloadStop stop;
  settings.stop = &stop;

  DownloadReport report;
  std::thread download([&] { report = DownloadBook(PageRange(kPages), settings, target, nullptr); });
  WaitForFiles(folder, 4);
  ASSERT_TRUE(stop.Drain(std::chrono::seconds(3), std::chrono::seconds(10)));
  const std::set<std::string> at_stop = folder.Tree();
  download.join();
  EXPECT_EQ(folder.Tree(), at_stop) << "written after Drain returned";

  int not_started = 0;
  for (const PageOutcome& outcome : report.outcomes) {
    SCOPED_TRACE("page " + std::to_string(outcome.page));
    if (outcome.page == kStalled) {
      ASSERT_EQ(outcome.status, PageStatus::Failed);
      EXPECT_EQ(outcome.failure->kind, FailureKind::Stopped);
    } else if (outcome.attempts == 0) {
      ++not_started;
      ASSERT_EQ(outcome.status, PageStatus::Failed);
      EXPECT_EQ(outcome.failure->kind, FailureKind::Stopped);
    } else {
      // Started before the drain, so allowed to finish: saved whole.
      ASSERT_EQ(outcome.status, PageStatus::Saved);
      EXPECT_EQ(ScratchFolder::ReadFile(folder.root() / (std::to_string(outcome.page) + ".jpg")),
                site.PageBytes("d", outcome.page));
    }
  }
  EXPECT_GT(not_started, 0);
  EXPECT_EQ(at_stop.size(), report.saved.size()) << "only the saved pages, no temporary";
}

}  // namespace
}  // namespace folivex
