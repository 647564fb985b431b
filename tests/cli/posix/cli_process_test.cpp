// folivex-dl as a program: what a user sees in the terminal, a run killed
// in the middle of a book, and the PDF checked by other programs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <map>
#include <set>
#include <cstdio>
#include <thread>

#include "folivex_version.h"
#include "support/sample_site.h"
#include "support/scratch_folder.h"

namespace folivex {
namespace {

namespace fs = std::filesystem;

struct Finished {
  int status = -1;
  std::string output;  // stdout and stderr together
};

std::string Quote(const std::string& s) {
  std::string quoted = "'";
  for (char c : s) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

Finished RunCommand(const std::string& command) {
  Finished result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), n);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

Finished RunDl(const std::vector<std::string>& args) {
  std::string command = Quote(FOLIVEX_DL_PATH);
  for (const std::string& a : args) command += " " + Quote(a);
  return RunCommand(command + " </dev/null");
}

TEST(FolivexDl, TellsWhatWentWrongAndExitsAccordingly) {
  SampleSite site;
  site.AddBook({.id = "good", .title = "Good", .pages = 3});
  site.AddBook({.id = "nobase", .title = "Odd", .omit_base = true});
  site.AddBook({.id = "broken", .title = "Broken", .pages = 3});
  site.SetPageFault("broken", 2, {.status = 404});
  site.AddBook({.id = "five", .title = "Five", .pages = 5});
  site.AddBook({.id = "huge", .title = "Huge", .pages = 1, .page_count_text = "100001"});
  site.AddBook({.id = "esc", .title = "Fake\x1b[2K\rGood: 3 saved", .pages = 1});
  site.SetPageFault("esc", 1, {.status = 404});
  ASSERT_TRUE(site.Start()) << site.error();
  ScratchFolder out;
  const std::string a_file = (out.root() / "a-file").string();
  ScratchFolder::WriteFile(a_file, "x");

  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::vector<std::string> said;
  } cases[] = {
      {"unknown option", {"--bogus"}, 2, {"unknown option '--bogus'", "folivex-dl --help"}},
      {"no address", {}, 2, {"no book address given"}},
      {"version", {"--version"}, 0, {"folivex-dl " FOLIVEX_VERSION "\n"}},
      {"a good book", {"-o", out.text(), site.BookUrl("good")}, 0, {"Good: 3 saved, 0 kept, 0 failed", "pages in "}},
      {"a page that fails", {"-o", out.text(), "--retries", "1", site.BookUrl("broken")}, 1,
       {"page 2 failed after 1 attempt: the server answered 404", "Broken: 2 saved, 0 kept, 1 failed: pages 2 (404)"}},
      {"a book without image address among good ones",
       {"-o", out.text(), site.BookUrl("nobase"), site.BookUrl("good")}, 1,
       {site.BookUrl("nobase") + ": the page holds no address of the page images", "Good: 0 saved, 3 kept"}},
      {"the output is a file", {"-o", a_file, site.BookUrl("good")}, 2,
       {"cannot use the output folder '" + a_file + "': it is a file, not a folder"}},
      {"pages beyond the book", {"-o", out.text(), "--pages", "4-7", site.BookUrl("five")}, 1,
       {"--pages names pages up to 7, but the book has 5", "Five: 2 saved"}},
      {"a page count above the cap", {"-o", out.text(), "--pages", "1", site.BookUrl("huge")}, 1,
       {"the book page declares 100001 pages; only the first 100000 are fetched", "Huge: 1 saved"}},
      {"escape sequences in a title are shown, not obeyed", {"-o", out.text(), site.BookUrl("esc")}, 1,
       {"Fake\\x1b[2K\\x0dGood: 3 saved: 0 saved, 0 kept, 1 failed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Finished run = RunDl(c.args);
    EXPECT_EQ(run.status, c.status) << run.output;
    for (const std::string& text : c.said) EXPECT_NE(run.output.find(text), std::string::npos) << run.output;
  }
}

TEST(FolivexDl, ReadsAddressesFromStandardInput) {
  SampleSite site;
  site.AddBook({.id = "a", .title = "Alpha", .pages = 2});
  site.AddBook({.id = "b", .title = "Beta", .pages = 2});
  ASSERT_TRUE(site.Start()) << site.error();
  ScratchFolder out;
  const std::string list = "# shelf\n\n" + site.BookUrl("a") + "\n  # " + site.BookUrl("b") + "\n";
  const Finished run = RunCommand("printf '%s' " + Quote(list) + " | " + Quote(FOLIVEX_DL_PATH) + " -q -o " +
                                  Quote(out.text()) + " -i -");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(fs::exists(out.root() / "Alpha" / "2.jpg"));
  EXPECT_FALSE(fs::exists(out.root() / "Beta"));
}

TEST(FolivexDl, AKilledRunIsFinishedByTheNextOneWithEveryFileIntact) {
  // 40 pages, 150 ms each: the run is killed well before its end.
  SampleSite site(SiteOptions{.latency = std::chrono::milliseconds(150)});
  site.AddBook({.id = "b", .title = "Slow", .pages = 40, .page_size = 60000});
  ASSERT_TRUE(site.Start()) << site.error();
  ScratchFolder out;
  const fs::path book = out.root() / "Slow";

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::execl(FOLIVEX_DL_PATH, FOLIVEX_DL_PATH, "-q", "-j", "2", "-o", out.text().c_str(),
            site.BookUrl("b").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Kill it once some pages are on disk.
  for (int i = 0; i < 200; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (fs::exists(book) && std::distance(fs::directory_iterator(book), fs::directory_iterator()) >= 6) break;
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);

  std::set<int> before;
  for (int n = 1; n <= 40; ++n) {
    const fs::path page = book / (std::to_string(n) + ".jpg");
    if (!fs::exists(page)) continue;
    before.insert(n);
    // Whatever the kill interrupted, a page under its own name is whole.
    EXPECT_EQ(ScratchFolder::ReadFile(page), site.PageBytes("b", n)) << n;
  }
  ASSERT_GE(before.size(), 4u);
  ASSERT_LT(before.size(), 40u);
  std::map<int, int> requests_before;
  for (int n = 1; n <= 40; ++n) requests_before[n] = site.ImageRequests("b", n);

  const Finished rerun = RunDl({"-q", "-o", out.text(), site.BookUrl("b")});
  EXPECT_EQ(rerun.status, 0) << rerun.output;
  for (int n = 1; n <= 40; ++n) {
    EXPECT_EQ(ScratchFolder::ReadFile(book / (std::to_string(n) + ".jpg")), site.PageBytes("b", n)) << n;
    // Page 1 comes with the analysis's cover, whether it was kept or not.
    const int fetched = site.ImageRequests("b", n) - requests_before[n];
    EXPECT_EQ(fetched, n == 1 ? 1 : before.count(n) ? 0 : 1) << "page " << n;
  }
  // Only the pages and the folder's record of its book are left: no
  // temporary file of the killed run.
  EXPECT_EQ(std::distance(fs::directory_iterator(book), fs::directory_iterator()), 41);
  EXPECT_TRUE(fs::exists(book / kBookRecordFileName));
}

TEST(FolivexDl, ThePdfPassesQpdfAndHoldsEveryPage) {
  SampleSite site;
  site.AddBook({.id = "b", .title = "\xE5\x9B\xBE\xE4\xB9\xA6", .pages = 5});  // 图书
  site.SetPageFault("b", 4, {.status = 500});
  ASSERT_TRUE(site.Start()) << site.error();
  ScratchFolder out;
  const Finished run = RunDl({"-q", "--pdf", "--retries", "1", "-o", out.text(), site.BookUrl("b")});
  EXPECT_EQ(run.status, 1) << run.output;  // page 4 failed, the PDF holds the other four
  const std::string pdf = (out.root() / "\xE5\x9B\xBE\xE4\xB9\xA6.pdf").string();
  ASSERT_TRUE(fs::exists(pdf)) << run.output;
  EXPECT_EQ(RunCommand("qpdf --check " + Quote(pdf)).status, 0);
  const Finished info = RunCommand("pdfinfo " + Quote(pdf));
  EXPECT_NE(info.output.find("Pages:           4"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("Title:           \xE5\x9B\xBE\xE4\xB9\xA6"), std::string::npos) << info.output;
}

}  // namespace
}  // namespace folivex
