// folivex-dl as a program: what a user sees in the terminal, a run killed
// in the middle of a book, and the PDF checked by other programs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <cstdio>
#include <thread>

#include "folivex_version.h"
#include "support/json_reader.h"
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
       {"Fake^[[2K^MGood: 3 saved: 0 saved, 0 kept, 1 failed"}},
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

// folivex-dl started in the background, its output into `log`.
pid_t StartDl(const std::vector<std::string>& args, const fs::path& log) {
  std::vector<std::string> argv_text{FOLIVEX_DL_PATH};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  const pid_t child = ::fork();
  if (child != 0) return child;
  const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(fd, STDOUT_FILENO);
  ::dup2(fd, STDERR_FILENO);
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::execv(FOLIVEX_DL_PATH, argv.data());
  ::_exit(127);
}

// The page files under `root`, book folder by book folder.
std::vector<fs::path> PageFiles(const fs::path& root) {
  std::vector<fs::path> pages;
  if (!fs::exists(root)) return pages;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().extension() == ".jpg") pages.push_back(entry.path());
  }
  return pages;
}

int ExitStatusOf(pid_t child) {
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Ctrl-C in the middle of a run of several books: the pages in flight are
// finished, no book or page starts after it, nothing half-written stays,
// the report says what was not fetched, and the run exits with 130.
TEST(FolivexDl, AnInterruptedRunEndsInOrder) {
  SampleSite site(SiteOptions{.latency = std::chrono::milliseconds(150)});
  const std::vector<std::string> ids = {"a", "b", "c", "d"};
  for (const std::string& id : ids) site.AddBook({.id = id, .title = "Book " + id, .pages = 30, .page_size = 30000});
  ASSERT_TRUE(site.Start()) << site.error();
  ScratchFolder out;
  const fs::path list = out.root() / "list.txt";
  std::string addresses;
  for (const std::string& id : ids) addresses += site.BookUrl(id) + "\n";
  ScratchFolder::WriteFile(list, addresses);
  const fs::path books = out.root() / "books";
  const fs::path report_file = out.root() / "run.json";
  const fs::path log = out.root() / "log.txt";

  const pid_t child = StartDl({"-j", "4", "-i", list.string(), "-o", books.string(), "--report", report_file.string()}, log);
  ASSERT_GE(child, 0);
  for (int i = 0; i < 400 && PageFiles(books).size() < 6; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  ::kill(child, SIGINT);
  EXPECT_EQ(ExitStatusOf(child), 130);
  const std::string said = ScratchFolder::ReadFile(log);
  EXPECT_NE(said.find("folivex-dl: interrupted: finishing the pages in flight"), std::string::npos) << said;
  EXPECT_NE(said.find("books complete; the same command fetches the rest"), std::string::npos) << said;

  // Only whole pages and the folders' records: no temporary.
  const std::vector<fs::path> pages = PageFiles(books);
  ASSERT_GE(pages.size(), 6u);
  for (const auto& entry : fs::recursive_directory_iterator(books)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory() || name == kBookRecordFileName) continue;
    ASSERT_EQ(entry.path().extension(), ".jpg") << entry.path();
  }

  std::string error;
  const std::optional<JsonValue> report = ParseJson(ScratchFolder::ReadFile(report_file), &error);
  ASSERT_TRUE(report) << error;
  EXPECT_TRUE((*report)["interrupted"].Bool());
  std::size_t saved = 0, not_started = 0;
  for (const JsonValue& book : (*report)["books"].Items()) {
    for (const JsonValue& page : book["pages"].Items()) {
      const std::string outcome = page["outcome"].String();
      SCOPED_TRACE(page["address"].String() + ": " + outcome);
      if (outcome == "saved") {
        ++saved;
        const auto id = std::find_if(ids.begin(), ids.end(), [&](const std::string& i) { return site.BookUrl(i) == book["address"].String(); });
        ASSERT_NE(id, ids.end());
        EXPECT_TRUE(ScratchFolder::ReadFile(page["file"].String()) ==
                    site.PageBytes(*id, static_cast<int>(page["page"].Number())));
      } else if (outcome == "not-started") {
        ++not_started;
        EXPECT_EQ(page["attempts"].Number(), 0);
        EXPECT_FALSE(fs::exists(page["file"].String()));
      } else {
        ASSERT_EQ(outcome, "failed");
        EXPECT_EQ(page["failure"]["kind"].String(), "stopped");
      }
    }
    if (!book["complete"].Bool()) {
      EXPECT_NE(book["problem"].String().find("interrupted"), std::string::npos);
    }
  }
  EXPECT_EQ(saved, pages.size());
  EXPECT_GT(not_started, 0u);

  // The same command fetches the rest.
  const Finished rerun = RunDl({"-q", "-i", list.string(), "-o", books.string()});
  EXPECT_EQ(rerun.status, 0) << rerun.output;
  EXPECT_EQ(PageFiles(books).size(), 4u * 30u);
}

// A second Ctrl-C does not wait for the pages in flight: the run ends at
// once, before its report, and the next run finds its folders sound.
TEST(FolivexDl, ASecondInterruptEndsTheRunAtOnce) {
  SampleSite site(SiteOptions{.latency = std::chrono::milliseconds(400)});
  site.AddBook({.id = "b", .title = "Slow", .pages = 40});
  ASSERT_TRUE(site.Start()) << site.error();
  ScratchFolder out;
  const fs::path report_file = out.root() / "run.json";
  const pid_t child = StartDl({"-j", "4", "-o", out.text(), "--report", report_file.string(), site.BookUrl("b")},
                              out.root() / "log.txt");
  ASSERT_GE(child, 0);
  for (int i = 0; i < 400 && PageFiles(out.root()).size() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  ::kill(child, SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ::kill(child, SIGINT);
  EXPECT_EQ(ExitStatusOf(child), 130);
  EXPECT_FALSE(fs::exists(report_file)) << "the run went on to its end after the second interrupt";

  const Finished rerun = RunDl({"-q", "-o", out.text(), site.BookUrl("b")});
  EXPECT_EQ(rerun.status, 0) << rerun.output;
  for (int n = 1; n <= 40; ++n) {
    EXPECT_EQ(ScratchFolder::ReadFile(out.root() / "Slow" / (std::to_string(n) + ".jpg")), site.PageBytes("b", n)) << n;
  }
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

// A book of each kind current hosts serve, downloaded by the program with
// --pdf: the pages as served, and a PDF that qpdf finds sound, pdfinfo
// counts whole and pdftoppm draws page by page.
TEST(FolivexDl, BooksOfEachKindGiveASoundPdf) {
  SampleSite site;
  const JpegOptions picture = {.width = 60, .height = 80};
  struct Case {
    const char* name;
    BookSpec book;
    std::vector<std::string> files;
  } cases[] = {
      {"JPEG", {.id = "jpeg", .title = "Jpeg", .pages = 3, .picture = picture},
       {"1.jpg", "2.jpg", "3.jpg"}},
      {"WebP only", {.id = "webp", .title = "Webp", .pages = 3, .picture = picture,
                     .format = PageFormat::Webp, .other_extension_status = 403},
       {"1.webp", "2.webp", "3.webp"}},
      {"behind a Referer check", {.id = "ref", .title = "Ref", .pages = 2, .picture = picture,
                                  .referer_check = true},
       {"1.jpg", "2.jpg"}},
      {"JPEG with trailers", {.id = "trailer", .title = "Trailer", .pages = 2, .picture = picture,
                              .jpeg_trailer = "\xFF\xD9 more bytes"},
       {"1.jpg", "2.jpg"}},
      {"a PNG page", {.id = "png", .title = "Png", .pages = 3, .picture = picture,
                      .page_formats = {{3, PageFormat::Png}}},
       {"1.jpg", "2.jpg", "3.png"}},
  };
  for (const Case& c : cases) site.AddBook(c.book);
  ASSERT_TRUE(site.Start()) << site.error();
  ScratchFolder out;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Finished run = RunDl({"-q", "--pdf", "-o", out.text(), site.BookUrl(c.book.id)});
    EXPECT_EQ(run.status, 0) << run.output;
    for (std::size_t k = 0; k < c.files.size(); ++k) {
      EXPECT_EQ(ScratchFolder::ReadFile(out.root() / c.book.title / c.files[k]),
                site.PageBytes(c.book.id, static_cast<int>(k) + 1))
          << c.files[k];
    }
    const std::string pdf = (out.root() / (c.book.title + ".pdf")).string();
    const Finished check = RunCommand("qpdf --check " + Quote(pdf));
    EXPECT_EQ(check.status, 0) << check.output;
    const Finished info = RunCommand("pdfinfo " + Quote(pdf));
    EXPECT_NE(info.output.find("Pages:           " + std::to_string(c.book.pages) + "\n"),
              std::string::npos)
        << info.output;
    for (int n = 1; n <= c.book.pages; ++n) {
      const std::string drawn = (out.root() / (c.book.title + "-" + std::to_string(n))).string();
      const Finished render = RunCommand("pdftoppm -r 72 -singlefile -f " + std::to_string(n) +
                                         " -l " + std::to_string(n) + " " + Quote(pdf) + " " +
                                         Quote(drawn));
      EXPECT_EQ(render.status, 0) << render.output;
      // The page is drawn at the picture's size: a binary PPM of 60 x 80.
      EXPECT_EQ(ScratchFolder::ReadFile(drawn + ".ppm").rfind("P6\n60 80\n255\n", 0), 0u) << n;
    }
  }
}

}  // namespace
}  // namespace folivex
