// Book pages written to break the program: titles that try to leave the
// output folder or name a device, page counts that are not numbers or do
// not fit, pages that are huge, binary or cut differently. Whatever the
// page says, nothing may appear outside the output folder, the book goes
// into exactly one folder level below it, and a page that cannot be used
// is refused with its reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "analysis/book_analysis.h"
#include "cli/cli_app.h"
#include "platform/services.h"
#include "support/sample_site.h"
#include "support/scratch_folder.h"

namespace folivex {
namespace {

namespace fs = std::filesystem;

// The output folder sits two levels below the scratch root, so that a
// title climbing out of it with ".." still lands where the test sees it.
class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    out_ = scratch_.root() / "a" / "b" / "out";
    fs::create_directories(out_);
  }

  int Run(const std::string& url) {
    return RunCli({"-q", "-o", out_.string(), "--retries", "1", "--timeout", "5", url});
  }

  // Everything below the scratch root that is not the output folder or in
  // it: must stay empty.
  std::vector<std::string> Escaped() const {
    std::vector<std::string> outside;
    for (const std::string& entry : scratch_.Tree()) {
      if (entry != "a" && entry != "a/b" && entry != "a/b/out" && entry.rfind("a/b/out/", 0) != 0) {
        outside.push_back(entry);
      }
    }
    return outside;
  }

  // The book folders made in the output folder.
  std::vector<fs::path> BookFolders() const {
    std::vector<fs::path> folders;
    for (const auto& entry : fs::directory_iterator(out_)) {
      if (entry.is_directory()) folders.push_back(entry.path());
    }
    return folders;
  }

  // Every entry in the output folder is a book folder holding page files.
  void ExpectOnlyPagesBelowOneLevel() const {
    for (const auto& entry : fs::recursive_directory_iterator(out_)) {
      const fs::path relative = fs::relative(entry.path(), out_);
      const auto depth = std::distance(relative.begin(), relative.end());
      if (entry.is_directory()) {
        EXPECT_EQ(depth, 1) << "folder " << relative.generic_string();
      } else if (entry.path().filename() != kBookRecordFileName) {
        EXPECT_EQ(depth, 2) << "file " << relative.generic_string();
        EXPECT_EQ(entry.path().extension(), ".jpg") << relative.generic_string();
      }
    }
  }

  ScratchFolder scratch_;
  fs::path out_;
};

TEST_F(HostileInputTest, TitlesNameOneFolderInsideTheOutputFolder) {
  std::string wide;  // 150 double-byte characters: 300 bytes in code page 936
  for (int i = 0; i < 150; ++i) wide += "\xE6\x98\xA5";  // 春
  struct Case {
    const char* name;
    std::string title;
  } cases[] = {
      {"backslash climb", "..\\..\\x"},
      {"slash climb", "../../x"},
      {"drive path", "C:\\Windows"},
      {"absolute path", "/etc"},
      {"device name", "CON"},
      {"device name with extension", "nul.txt"},
      {"trailing dot", "a."},
      {"only dots", ".."},
      {"300 bytes of double-byte characters", wide},
      {"only question marks", "????"},
      {"control characters", std::string("a\x01\x1F\tb\x7F", 6)},
      {"empty", ""},
      {"invalid UTF-8", "\xFF\xFE" "ab\xC3"},
  };
  int book = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SampleSite site;
    const std::string id = "t" + std::to_string(++book);
    site.AddBook({.id = id, .title = c.title, .pages = 3});
    ASSERT_TRUE(site.Start()) << site.error();
    const std::vector<fs::path> before = BookFolders();

    EXPECT_EQ(Run(site.BookUrl(id)), kExitOk);
    EXPECT_TRUE(Escaped().empty()) << Escaped().front();
    ExpectOnlyPagesBelowOneLevel();
    // One new folder, holding the book.
    std::vector<fs::path> made;
    for (const fs::path& folder : BookFolders()) {
      if (std::find(before.begin(), before.end(), folder) == before.end()) made.push_back(folder);
    }
    ASSERT_EQ(made.size(), 1u);
    const fs::path folder = made.front();
    for (int n = 1; n <= 3; ++n) {
      EXPECT_EQ(ScratchFolder::ReadFile(folder / (std::to_string(n) + ".jpg")), site.PageBytes(id, n))
          << "page " << n;
    }
    const std::string name = fs::relative(folder, out_).generic_string();
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
    EXPECT_NE(name, "CON");
    EXPECT_NE(name.back(), '.') << name;
    EXPECT_LE(name.size(), 255u);
  }
}

// The page count and the page itself: each case either downloads the book
// or stops at the analysis with the problem named, and nothing is fetched
// for a book that was refused.
TEST_F(HostileInputTest, PageCountsAndPagesThatCannotBeUsedAreRefused) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 131 + 7) & 0xFF));

  struct Case {
    const char* name;
    BookSpec book;
    AnalysisProblem problem;  // None: the book downloads
  } cases[] = {
      {"letters", {.page_count_text = "abc"}, AnalysisProblem::NoPageCount},
      {"negative", {.page_count_text = "-5"}, AnalysisProblem::NoPageCount},
      {"zero", {.page_count_text = "0"}, AnalysisProblem::NoPageCount},
      {"one past the 32-bit range", {.page_count_text = "2147483648"}, AnalysisProblem::NoPageCount},
      {"full-width digits", {.pages = 3, .page_count_text = "\xEF\xBC\x93"}, AnalysisProblem::None},  // ３
      {"no markers", {.raw_page = "<html><body>Nothing here</body></html>"}, AnalysisProblem::NoPageCount},
      {"CR LF line ends", {.crlf = true}, AnalysisProblem::NoBaseAddress},
      {"binary bytes", {.raw_page = binary}, AnalysisProblem::NoPageCount},
      {"invalid UTF-8 around the fields",
       {.title = "\xC0\xAF\xED\xA0\x80", .pages = 2}, AnalysisProblem::None},
      {"a file address as base", {.base_text = "file:///etc/"}, AnalysisProblem::None},
  };
  int book = 0;
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    SampleSite site;
    c.book.id = "p" + std::to_string(++book);
    // Each book its own folder: a book kept from an earlier case would
    // hide a failure.
    if (c.book.title == BookSpec{}.title) c.book.title = c.book.id;
    site.AddBook(c.book);
    ASSERT_TRUE(site.Start()) << site.error();

    const BookAnalysis analysis = AnalyzeBook(site.BookUrl(c.book.id), FetchOptions{});
    EXPECT_EQ(analysis.problem, c.problem);

    const int status = Run(site.BookUrl(c.book.id));
    const bool downloads = c.problem == AnalysisProblem::None && !c.book.base_text;
    EXPECT_EQ(status, downloads ? kExitOk : kExitFailed);
    if (c.problem != AnalysisProblem::None) {
      // The cover is asked for during the analysis; no page after it.
      for (int n = 2; n <= 3; ++n) EXPECT_EQ(site.ImageRequests(c.book.id, n), 0);
    }
    EXPECT_TRUE(Escaped().empty()) << Escaped().front();
    ExpectOnlyPagesBelowOneLevel();
  }
}

// A book page is read whole up to its bound (16 MiB): fields after 12 MB
// of filler are found. Past the bound the page is refused before anything
// is made or fetched for the book.
TEST_F(HostileInputTest, BookPagesAreReadWholeUpToTheirBound) {
  struct Case {
    const char* name;
    std::size_t filler;
    bool downloads;
  } cases[] = {
      {.name = "12 MB of filler", .filler = 12u << 20, .downloads = true},
      {.name = "20 MB of filler", .filler = 20u << 20, .downloads = false},
  };
  int number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SampleSite site;
    const std::string id = "big" + std::to_string(++number);
    BookSpec book{.id = id, .title = id, .pages = 2};
    site.AddBook(book);
    ASSERT_TRUE(site.Start()) << site.error();
    std::string page(c.filler, 'x');
    for (std::size_t i = 1000; i < page.size(); i += 1000) page[i] = '\n';
    page += site.BookPage(id);
    book.raw_page = page;
    site.AddBook(book);

    EXPECT_EQ(Run(site.BookUrl(id)), c.downloads ? kExitOk : kExitFailed);
    for (int n = 1; n <= 2; ++n) {
      const fs::path file = out_ / id / (std::to_string(n) + ".jpg");
      if (c.downloads) {
        EXPECT_EQ(ScratchFolder::ReadFile(file), site.PageBytes(id, n));
      } else {
        EXPECT_EQ(site.ImageRequests(id, n), 0);
      }
    }
    if (!c.downloads) {
      EXPECT_FALSE(fs::exists(out_ / id));
    }
    EXPECT_TRUE(Escaped().empty());
  }
}

// A page image that never ends is given up at the page bound (64 MiB by
// default), once: asking again would bring the same. The book's other
// pages are saved and nothing of the endless one stays on disk.
TEST_F(HostileInputTest, APageWithoutEndIsRefusedAtTheBound) {
  SampleSite site;
  BookSpec book{.id = "endless", .title = "Endless", .pages = 3};
  Delivery endless;
  endless.endless = true;
  book.page_faults[2] = PageFault{.delivery = endless, .body = std::string(64 * 1024, 'e')};
  site.AddBook(book);
  ASSERT_TRUE(site.Start()) << site.error();

  EXPECT_EQ(Run(site.BookUrl("endless")), kExitFailed);
  EXPECT_EQ(site.ImageRequests("endless", 2), 1);
  for (int n : {1, 3}) {
    EXPECT_EQ(ScratchFolder::ReadFile(out_ / "Endless" / (std::to_string(n) + ".jpg")),
              site.PageBytes("endless", n));
  }
  EXPECT_FALSE(fs::exists(out_ / "Endless" / "2.jpg"));
  EXPECT_TRUE(Escaped().empty());
  ExpectOnlyPagesBelowOneLevel();
}

// The base address field is the site's word for where the pictures are.
TEST_F(HostileInputTest, BaseAddressesWithoutASlashOrOnAnotherHost) {
  SampleSite site, other;
  other.AddBook({.id = "elsewhere", .title = "Other", .pages = 3});
  ASSERT_TRUE(other.Start()) << other.error();
  ASSERT_TRUE(site.Start()) << site.error();
  site.AddBook({.id = "h", .title = "Host", .pages = 3, .base_text = other.BaseUrl("elsewhere")});
  // Without the trailing slash the image folder is glued to the last name.
  std::string no_slash = site.BaseUrl("s");
  no_slash.pop_back();
  site.AddBook({.id = "s", .title = "Slash", .pages = 3, .base_text = no_slash});

  EXPECT_EQ(Run(site.BookUrl("h")), kExitOk);
  for (int n = 1; n <= 3; ++n) {
    EXPECT_EQ(ScratchFolder::ReadFile(out_ / "Host" / (std::to_string(n) + ".jpg")),
              other.PageBytes("elsewhere", n));
    EXPECT_EQ(site.ImageRequests("h", n), 0);
  }

  EXPECT_EQ(Run(site.BookUrl("s")), kExitFailed);
  for (int n = 1; n <= 3; ++n) EXPECT_FALSE(fs::exists(out_ / "Slash" / (std::to_string(n) + ".jpg")));
  EXPECT_TRUE(Escaped().empty());
  ExpectOnlyPagesBelowOneLevel();
}

}  // namespace
}  // namespace folivex
