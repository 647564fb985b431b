#include "cli/cli_app.h"

#include <gtest/gtest.h>

#include "platform/services.h"
#include "support/sample_site.h"
#include "support/scratch_folder.h"

namespace folivex {
namespace {

namespace fs = std::filesystem;

// folivex-dl run in this process against the sample site.
class CliRunTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"-q", "-o", out_.text(), "--retries", "2"});
    return RunCli(args);
  }
  fs::path Page(const std::string& folder, int n) const {
    return out_.root() / folder / (std::to_string(n) + ".jpg");
  }
  // The page files in a book folder.
  int PagesIn(const std::string& folder) const {
    int files = 0;
    for (const auto& entry : fs::directory_iterator(out_.root() / folder)) {
      files += entry.is_regular_file() && entry.path().filename() != kBookRecordFileName;
    }
    return files;
  }

  SampleSite site_;
  ScratchFolder out_;
};

TEST_F(CliRunTest, SeveralBooksInOneRunEachIntoItsOwnFolder) {
  site_.AddBook({.id = "a", .title = "Alpha", .pages = 4});
  site_.AddBook({.id = "b", .title = "Beta", .pages = 6});
  ASSERT_TRUE(site_.Start()) << site_.error();
  EXPECT_EQ(Run({site_.BookUrl("a"), site_.BookUrl("b")}), kExitOk);
  for (int n = 1; n <= 4; ++n) EXPECT_EQ(ScratchFolder::ReadFile(Page("Alpha", n)), site_.PageBytes("a", n));
  for (int n = 1; n <= 6; ++n) EXPECT_EQ(ScratchFolder::ReadFile(Page("Beta", n)), site_.PageBytes("b", n));
  EXPECT_EQ(PagesIn("Alpha"), 4);
  EXPECT_EQ(PagesIn("Beta"), 6);
  // The cover is page 1: it is saved without asking for it again.
  EXPECT_EQ(site_.ImageRequests("a", 1), 1);
  EXPECT_EQ(site_.ImageRequests("b", 1), 1);
}

TEST_F(CliRunTest, PageRangeAndTitleOverride) {
  site_.AddBook({.id = "a", .title = "Alpha", .pages = 9});
  ASSERT_TRUE(site_.Start()) << site_.error();
  EXPECT_EQ(Run({"--pages", "2-3,5,8-", "--title", "My Book", site_.BookUrl("a")}), kExitOk);
  EXPECT_FALSE(fs::exists(out_.root() / "Alpha"));
  for (int n : {2, 3, 5, 8, 9}) {
    EXPECT_EQ(ScratchFolder::ReadFile(Page("My Book", n)), site_.PageBytes("a", n)) << n;
  }
  EXPECT_EQ(PagesIn("My Book"), 5);
  EXPECT_EQ(site_.ImageRequests("a", 4), 0);
}

TEST_F(CliRunTest, ABookThatCannotBeAnalysedDoesNotStopTheOthers) {
  site_.AddBook({.id = "a", .title = "Alpha", .pages = 2});
  site_.AddBook({.id = "bad", .title = "Bad", .omit_base = true});
  ASSERT_TRUE(site_.Start()) << site_.error();
  EXPECT_EQ(Run({site_.BookUrl("bad"), "http://127.0.0.1:1/nothing/index.html", site_.BookUrl("a")}),
            kExitFailed);
  EXPECT_EQ(PagesIn("Alpha"), 2);
}

TEST_F(CliRunTest, ARerunFetchesOnlyWhatIsMissing) {
  site_.AddBook({.id = "a", .title = "Alpha", .pages = 8});
  site_.SetPageFault("a", 3, {.status = 500});
  site_.SetPageFault("a", 6, {.html_body = true});
  ASSERT_TRUE(site_.Start()) << site_.error();
  EXPECT_EQ(Run({site_.BookUrl("a")}), kExitFailed);
  EXPECT_FALSE(fs::exists(Page("Alpha", 3)));
  EXPECT_FALSE(fs::exists(Page("Alpha", 6)));

  site_.SetPageFault("a", 3, {});
  site_.SetPageFault("a", 6, {});
  EXPECT_EQ(Run({site_.BookUrl("a")}), kExitOk);
  for (int n = 1; n <= 8; ++n) {
    EXPECT_EQ(ScratchFolder::ReadFile(Page("Alpha", n)), site_.PageBytes("a", n)) << n;
    // Page 1 is each analysis's cover; the first run saved it from there.
    // Page 3 (a 500, which may heal) was asked twice, page 6 (no picture,
    // which does not) once, before the good fetch of the rerun.
    const int expected = n == 1 ? 2 : n == 3 ? 2 + 1 : n == 6 ? 1 + 1 : 1;
    EXPECT_EQ(site_.ImageRequests("a", n), expected) << n;
  }
  // --overwrite fetches everything again.
  EXPECT_EQ(Run({"--overwrite", site_.BookUrl("a")}), kExitOk);
  EXPECT_EQ(site_.ImageRequests("a", 2), 2);
}

TEST_F(CliRunTest, TwoBooksOfOneTitleNeverShareAFolder) {
  site_.AddBook({.id = "m1", .title = "Monthly", .pages = 3});
  site_.AddBook({.id = "m2", .title = "Monthly", .pages = 2});
  ASSERT_TRUE(site_.Start()) << site_.error();
  EXPECT_EQ(Run({site_.BookUrl("m1")}), kExitOk);
  EXPECT_EQ(Run({site_.BookUrl("m2")}), kExitOk);
  // The second book's pages were fetched, not taken from the first's folder.
  for (int n = 1; n <= 2; ++n) EXPECT_EQ(site_.ImageRequests("m2", n), 1) << n;
  EXPECT_EQ(PagesIn("Monthly"), 3);
  std::vector<fs::path> folders;
  for (const auto& entry : fs::directory_iterator(out_.root())) folders.push_back(entry.path());
  ASSERT_EQ(folders.size(), 2u);
  for (const fs::path& folder : folders) {
    if (folder.filename() == "Monthly") continue;
    EXPECT_TRUE(folder.filename().string().starts_with("Monthly (")) << folder;
    for (int n = 1; n <= 2; ++n) EXPECT_EQ(ScratchFolder::ReadFile(folder / (std::to_string(n) + ".jpg")), site_.PageBytes("m2", n));
  }
  // Each book again: each resumes in its own folder, nothing fetched.
  EXPECT_EQ(Run({site_.BookUrl("m1"), site_.BookUrl("m2")}), kExitOk);
  EXPECT_EQ(site_.ImageRequests("m2", 2), 1);
  EXPECT_EQ(site_.ImageRequests("m1", 3), 1);
}

TEST_F(CliRunTest, BadCommandLinesExitWithTwo) {
  EXPECT_EQ(RunCli({}), kExitUsage);
  EXPECT_EQ(RunCli({"--threads", "0", "http://x/"}), kExitUsage);
  EXPECT_EQ(RunCli({"-o", (out_.root() / "missing" / "deeper").string(), "http://x/"}), kExitUsage);
  EXPECT_EQ(RunCli({"--help"}), kExitOk);
}

}  // namespace
}  // namespace folivex
