// The page download against a site that misbehaves on about one page in ten,
// one kind of fault at a time: what ends up on disk must be exactly the
// site's pages or nothing, what is missing must be reported by number, a
// page that was there before and could not be refreshed must stay as it
// was, and a rerun must ask only for what is missing.
#include <gtest/gtest.h>


#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "download/page_download.h"
#include "support/jpeg_maker.h"
#include "support/sample_site.h"
#include "support/system_expectations.h"
#include "support/scratch_folder.h"

namespace folivex {
namespace {

using std::chrono::milliseconds;

constexpr int kPages = 100;
constexpr std::size_t kPageSize = 4096;
// Short enough to keep the whole matrix quick, long enough that a loaded
// machine does not take an ordinary page for a stalled one.
constexpr int kIdleTimeoutMs = 1500;

bool Faulty(int page) { return page % 10 == 3; }  // 3, 13, ..., 93

// A page that a previous run left on disk: a whole picture, but not the one
// the site serves now.
std::string OldPicture(int page) {
  JpegOptions options;
  options.width = 32;
  options.height = 40;
  options.page = 1000 + page;
  return MakeJpeg(options);
}

struct Row {
  std::string kind;
  int saved = 0, failed = 0, corrupted = 0, lost = 0, rerun_requests = 0;
};

std::vector<Row>& Rows() {
  static std::vector<Row> rows;
  return rows;
}

// Prints the table once every case has run.
class PrintTable : public ::testing::Environment {
 public:
  void TearDown() override {
    if (Rows().empty()) return;
    std::printf("\n| fault kind | pages saved | pages reported failed | files corrupted | files lost |"
                " rerun requests |\n|---|---:|---:|---:|---:|---:|\n");
    for (const Row& row : Rows()) {
      std::printf("| %s | %d | %d | %d | %d | %d |\n", row.kind.c_str(), row.saved, row.failed,
                  row.corrupted, row.lost, row.rerun_requests);
    }
    std::fflush(stdout);
  }
};
const auto* const kPrintTable = ::testing::AddGlobalTestEnvironment(new PrintTable);

struct Case {
  const char* name;
  PageFault fault;
  bool pages_fail;  // the faulty pages cannot be had within the attempts
  int requests;     // asked of each faulty page: failures that cannot heal once
};

PageFault WithDelivery(Delivery delivery) {
  PageFault fault;
  fault.delivery = delivery;
  return fault;
}

std::vector<Case> Cases() {
  return {
      {"connection reset mid-body", WithDelivery({.fault = Fault::kReset, .fault_after = kPageSize / 2}),
       true, 3},
      {"body cut short, correct Content-Length",
       WithDelivery({.fault = Fault::kCutShort, .fault_after = kPageSize / 2}), true, 3},
      {"stall past the time-out",
       WithDelivery({.fault = Fault::kStall, .fault_after = kPageSize / 3, .stall_for = milliseconds(20000)}),
       true, 3},
      {"500", PageFault{.status = 500}, true, 3},
      {"503 then success", PageFault{.fail_first = 2}, false, 3},
      {"404", PageFault{.status = 404}, true, 1},
      {"200 with an HTML body", PageFault{.html_body = true}, true, 1},
      // Longer in all than the idle time-out, but never silent that long.
      {"slow drip", WithDelivery({.drip_bytes = 512, .drip_interval = milliseconds(400)}), false, 1},
      {"Content-Length too long", WithDelivery({.content_length = kPageSize + 100}), true, 3},
      // Cut at the declared length the picture is incomplete and asked
      // again; a system that reads on to the close gets the whole picture
      // at once (see System()).
      {"Content-Length too short", WithDelivery({.content_length = kPageSize - 100}),
       !System().reads_past_short_content_length, System().reads_past_short_content_length ? 1 : 3},
  };
}

DownloadSettings Settings(bool keep_complete) {
  DownloadSettings settings;
  settings.threads = 10;
  settings.attempts = 3;
  settings.retry_pause = milliseconds(20);
  settings.fetch.connect_timeout_ms = 5000;
  settings.fetch.idle_timeout_ms = kIdleTimeoutMs;
  settings.keep_complete = keep_complete;
  return settings;
}

TEST(FaultMatrix, EveryPageIsTheSitesOrMissingAndReported) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    SampleSite site;
    BookSpec book;
    book.id = "m";
    book.pages = kPages;
    book.page_size = kPageSize;
    book.picture.width = 32;
    book.picture.height = 40;
    for (int n = 1; n <= kPages; ++n) {
      if (Faulty(n)) book.page_faults[n] = c.fault;
    }
    site.AddBook(book);
    site.PreparePictures("m");
    ASSERT_TRUE(site.Start()) << site.error();

    ScratchFolder folder;
    const std::filesystem::path dir = folder.root();
    auto file = [&](int n) { return dir / (std::to_string(n) + ".jpg"); };
    auto target = [&](int n) {
      return PageTarget{site.ImageUrl("m", n), ConcatText(folder.text(), PathSeparator(),
                                                            std::to_string(n), ".jpg")};
    };
    // Pages a previous run left: a faulty one, which may fail to refresh,
    // and a good one, which must be replaced.
    const std::vector<int> previous = {3, 5, 53};
    for (int n : previous) ScratchFolder::WriteFile(file(n), OldPicture(n));

    const DownloadReport report = DownloadBook(PageRange(kPages), Settings(false), target, nullptr);

    Row row{c.name};
    const std::set<int> failed(report.failed.begin(), report.failed.end());
    row.saved = static_cast<int>(report.saved.size());
    row.failed = static_cast<int>(failed.size());
    EXPECT_TRUE(report.kept.empty());
    EXPECT_EQ(report.saved.size() + report.failed.size(), static_cast<std::size_t>(kPages));
    for (int n = 1; n <= kPages; ++n) {
      SCOPED_TRACE("page " + std::to_string(n));
      const bool was_there = std::find(previous.begin(), previous.end(), n) != previous.end();
      const bool on_disk = std::filesystem::exists(file(n));
      const bool expect_failure = c.pages_fail && Faulty(n);
      EXPECT_EQ(failed.count(n) == 1, expect_failure);
      if (!on_disk) {
        EXPECT_EQ(failed.count(n), 1u) << "missing but not reported";
        if (was_there) ++row.lost;
        continue;
      }
      const std::string bytes = ScratchFolder::ReadFile(file(n));
      const bool refreshed = bytes == site.PageBytes("m", n);
      const bool unchanged = was_there && bytes == OldPicture(n);
      if (failed.count(n)) {
        // A failed page leaves the disk as it was.
        if (!unchanged) ++row.corrupted;
      } else if (!refreshed) {
        ++row.corrupted;
      }
    }
    for (const PageOutcome& outcome : report.outcomes) {
      if (outcome.status == PageStatus::Failed) {
        EXPECT_TRUE(outcome.failure.has_value()) << "page " << outcome.page;
      }
    }
    for (int n = 1; n <= kPages; ++n) {
      EXPECT_EQ(site.ImageRequests("m", n), Faulty(n) ? c.requests : 1) << "page " << n;
    }
    // Nothing but whole page files: no temporary, empty or stray file.
    for (const std::string& entry : folder.Tree()) {
      const std::string stem = entry.substr(0, entry.find('.'));
      const bool page_name = !stem.empty() && entry == stem + ".jpg" &&
                             stem.find_first_not_of("0123456789") == std::string::npos;
      EXPECT_TRUE(page_name) << "stray file " << entry;
      EXPECT_GT(std::filesystem::file_size(dir / entry), 0u) << entry;
    }
    EXPECT_EQ(row.corrupted, 0);
    EXPECT_EQ(row.lost, 0);

    // The site heals; a resuming rerun asks only for the pages not on disk.
    std::set<int> missing;
    for (int n = 1; n <= kPages; ++n) {
      if (!std::filesystem::exists(file(n))) missing.insert(n);
      site.SetPageFault("m", n, PageFault{});
    }
    site.server().ClearRequests();
    const DownloadReport rerun = DownloadBook(PageRange(kPages), Settings(true), target, nullptr);
    row.rerun_requests = site.server().TotalRequests();
    EXPECT_TRUE(rerun.failed.empty());
    EXPECT_EQ(std::set<int>(rerun.saved.begin(), rerun.saved.end()), missing);
    for (int n = 1; n <= kPages; ++n) {
      SCOPED_TRACE("rerun, page " + std::to_string(n));
      EXPECT_EQ(site.ImageRequests("m", n), missing.count(n) ? 1 : 0);
      const std::string bytes = ScratchFolder::ReadFile(file(n));
      const bool stale = failed.count(n) && bytes == OldPicture(n);
      EXPECT_TRUE(stale || bytes == site.PageBytes("m", n));
    }
    Rows().push_back(row);
    site.Stop();
  }
}

}  // namespace
}  // namespace folivex
