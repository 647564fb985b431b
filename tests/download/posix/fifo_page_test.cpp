// Not a fault of the site but of the disk (a FIFO exists on POSIX systems
// only): a FIFO stands where page 2 goes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <vector>

#include "download/page_download.h"
#include "support/sample_site.h"
#include "support/scratch_folder.h"

namespace folivex {
namespace {

// The resume check must not wait on it, and the page is reported failed
// with the reason instead of being written through or replaced.
TEST(FaultMatrix, AFifoWhereAPageGoesIsReportedAndNothingWaits) {
  SampleSite site;
  site.AddBook({.id = "f", .pages = 4});
  ASSERT_TRUE(site.Start()) << site.error();
  ScratchFolder folder;
  const std::filesystem::path fifo = folder.root() / "2.jpg";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  auto target = [&](int n) {
    return PageTarget{site.ImageUrl("f", n), ConcatText(folder.text(), PathSeparator(), std::to_string(n), ".jpg")};
  };
  for (const bool keep_complete : {true, false}) {
    SCOPED_TRACE(keep_complete ? "resuming" : "overwriting");
    const DownloadReport report = DownloadBook(PageRange(4), DownloadSettings{.threads = 2, .keep_complete = keep_complete}, target, nullptr);
    EXPECT_EQ(report.failed, std::vector<int>{2});
    ASSERT_EQ(report.outcomes.size(), 4u);
    ASSERT_TRUE(report.outcomes[1].failure.has_value());
    EXPECT_EQ(report.outcomes[1].failure->kind, FailureKind::NotRegularFile);
    EXPECT_NE(report.outcomes[1].failure->detail.find("FIFO"), std::string::npos) << report.outcomes[1].failure->detail;
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    for (int n : {1, 3, 4}) EXPECT_EQ(ScratchFolder::ReadFile(folder.root() / (std::to_string(n) + ".jpg")), site.PageBytes("f", n));
  }
}

}  // namespace
}  // namespace folivex
