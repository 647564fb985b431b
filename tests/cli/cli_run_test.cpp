#include "cli/cli_app.h"

#include <gtest/gtest.h>

#include "platform/picture.h"
#include "platform/services.h"
#include "support/json_reader.h"
#include "support/sample_site.h"
#include "support/scratch_folder.h"
#include "support/webp_maker.h"

namespace folivex {
namespace {

namespace fs = std::filesystem;

// folivex-dl run in this process against the sample site.
class CliRunTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"-q", "-o", out_.text(), "--tries", "2"});
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

TEST_F(CliRunTest, EveryRequestCarriesTheAgentRefererHeadersAndMatchingCookies) {
  site_.AddBook({.id = "a", .title = "Alpha", .pages = 3});
  ASSERT_TRUE(site_.Start()) << site_.error();
  ScratchFolder files;
  const fs::path cookies = files.root() / "cookies.txt";
  ScratchFolder::WriteFile(cookies,
                           "# Netscape HTTP Cookie File\n"
                           "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tabc123\n"
                           "#HttpOnly_127.0.0.1\tFALSE\t/a/\tFALSE\t0\tlogin\tyes\n"
                           "127.0.0.1\tFALSE\t/\tTRUE\t0\tsecure_only\tno\n"
                           "127.0.0.1\tFALSE\t/other/\tFALSE\t0\telsewhere\tno\n"
                           "example.test\tTRUE\t/\tFALSE\t0\tforeign\tno\n");
  EXPECT_EQ(Run({"--user-agent", "Reader/2.0", "--referer", "http://127.0.0.1/shelf", "--header",
                 "X-Token: t-42", "--header", "Accept-Language: zh-CN", "--cookies", cookies.string(),
                 site_.BookUrl("a")}),
            kExitOk);
  const std::vector<RecordedRequest> requests = site_.server().Requests();
  ASSERT_EQ(requests.size(), 4u) << "the book page and three pictures";
  for (const RecordedRequest& r : requests) {
    SCOPED_TRACE(r.target);
    EXPECT_EQ(r.Header("User-Agent"), "Reader/2.0");
    EXPECT_EQ(r.HeaderValues("User-Agent").size(), 1u);
    EXPECT_EQ(r.Header("Referer"), "http://127.0.0.1/shelf");
    EXPECT_EQ(r.Header("X-Token"), "t-42");
    EXPECT_EQ(r.Header("Accept-Language"), "zh-CN");
    EXPECT_EQ(r.Header("Cookie"), "sid=abc123; login=yes");
  }
  // Without the options the old agent goes out alone.
  site_.server().ClearRequests();
  EXPECT_EQ(Run({"--overwrite", site_.BookUrl("a")}), kExitOk);
  for (const RecordedRequest& r : site_.server().Requests()) {
    EXPECT_NE(r.Header("User-Agent"), "Reader/2.0");
    EXPECT_NE(r.Header("Referer"), "http://127.0.0.1/shelf");
    EXPECT_FALSE(r.HasHeader("Cookie"));
  }
}

TEST_F(CliRunTest, AddressListsSkipCommentsAndBlankLines) {
  site_.AddBook({.id = "a", .title = "Alpha", .pages = 2});
  site_.AddBook({.id = "b", .title = "Beta", .pages = 3});
  site_.AddBook({.id = "c", .title = "Gamma", .pages = 1});
  ASSERT_TRUE(site_.Start()) << site_.error();
  ScratchFolder files;
  const fs::path list = files.root() / "books.txt";
  ScratchFolder::WriteFile(list, "# my shelf\r\n\n" + site_.BookUrl("a") + "\r\n   \n# " + site_.BookUrl("c") +
                                     "\n  " + site_.BookUrl("b") + "  \n");
  EXPECT_EQ(Run({"-i", list.string()}), kExitOk);
  EXPECT_EQ(PagesIn("Alpha"), 2);
  EXPECT_EQ(PagesIn("Beta"), 3);
  EXPECT_FALSE(fs::exists(out_.root() / "Gamma")) << "a commented-out address";
  EXPECT_EQ(Run({"-i", (files.root() / "missing.txt").string()}), kExitUsage);
}

TEST_F(CliRunTest, ABadBookAmongGoodOnesRunningSideBySide) {
  for (int i = 0; i < 6; ++i) site_.AddBook({.id = "g" + std::to_string(i), .title = "Good " + std::to_string(i), .pages = 5});
  site_.AddBook({.id = "bad", .title = "Bad", .omit_page_count = true});
  site_.AddBook({.id = "holes", .title = "Holes", .pages = 4});
  site_.SetPageFault("holes", 3, {.status = 404});
  ASSERT_TRUE(site_.Start()) << site_.error();
  std::vector<std::string> args = {"-j", "4", site_.BookUrl("bad"), site_.BookUrl("holes")};
  for (int i = 0; i < 6; ++i) args.push_back(site_.BookUrl("g" + std::to_string(i)));
  EXPECT_EQ(Run(args), kExitFailed);
  for (int i = 0; i < 6; ++i) {
    for (int n = 1; n <= 5; ++n) {
      EXPECT_EQ(ScratchFolder::ReadFile(Page("Good " + std::to_string(i), n)), site_.PageBytes("g" + std::to_string(i), n));
    }
  }
  EXPECT_EQ(PagesIn("Holes"), 3);
  EXPECT_FALSE(fs::exists(out_.root() / "Bad"));
}

TEST_F(CliRunTest, TheReportTellsEachBookAndPage) {
  site_.AddBook({.id = "a", .title = "Alpha \x1b[31m\"q\"", .pages = 3});
  site_.SetPageFault("a", 2, {.status = 404});
  site_.AddBook({.id = "bad", .title = "Bad", .omit_base = true});
  ASSERT_TRUE(site_.Start()) << site_.error();
  ScratchFolder files;
  const fs::path report = files.root() / "run.json";
  EXPECT_EQ(Run({"--report", report.string(), site_.BookUrl("a"), site_.BookUrl("bad")}), kExitFailed);
  std::string error;
  const std::optional<JsonValue> json = ParseJson(ScratchFolder::ReadFile(report), &error);
  ASSERT_TRUE(json) << error;
  const JsonValue& doc = *json;
  EXPECT_FALSE(doc["interrupted"].Bool());
  ASSERT_EQ(doc["books"].Items().size(), 2u);

  const JsonValue& a = doc["books"][0];
  EXPECT_EQ(a["address"].String(), site_.BookUrl("a"));
  EXPECT_EQ(a["title"].String(), "Alpha \x1b[31m\"q\"");
  EXPECT_EQ(a["declared_pages"].Number(), 3);
  EXPECT_FALSE(a["complete"].Bool());
  ASSERT_EQ(a["pages"].Items().size(), 3u);
  for (int n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    const JsonValue& page = a["pages"][static_cast<std::size_t>(n - 1)];
    EXPECT_EQ(page["page"].Number(), n);
    EXPECT_EQ(page["address"].String(), site_.ImageUrl("a", n));
    EXPECT_TRUE(page["file"].String().ends_with(std::to_string(n) + ".jpg"));
    if (n == 2) {
      EXPECT_EQ(page["outcome"].String(), "failed");
      EXPECT_EQ(page["bytes"].Number(), 0);
      EXPECT_EQ(page["attempts"].Number(), 1) << "a 404 is not asked again";
      EXPECT_EQ(page["failure"]["kind"].String(), "http-status");
      EXPECT_EQ(page["failure"]["status"].Number(), 404);
      EXPECT_TRUE(page["failure"].Has("detail"));
    } else {
      EXPECT_EQ(page["outcome"].String(), "saved");
      EXPECT_EQ(page["bytes"].Number(), static_cast<double>(site_.PageBytes("a", n).size()));
      EXPECT_EQ(page["attempts"].Number(), 1);
      EXPECT_TRUE(page["failure"].IsNull());
      // The report's texts are UTF-8, whatever the system's own code page.
      const std::string& file = page["file"].String();
      EXPECT_EQ(ScratchFolder::ReadFile(fs::path(std::u8string(file.begin(), file.end()))), site_.PageBytes("a", n));
    }
  }
  const JsonValue& bad = doc["books"][1];
  EXPECT_EQ(bad["address"].String(), site_.BookUrl("bad"));
  EXPECT_FALSE(bad["complete"].Bool());
  EXPECT_EQ(bad["folder"].String(), "");
  EXPECT_EQ(bad["problem"].String(), "the page holds no address of the page images");
  EXPECT_TRUE(bad["pages"].Items().empty());
  // Written whole: nothing but the report is left beside it.
  int files_beside = 0;
  for (const auto& entry : fs::directory_iterator(files.root())) files_beside += entry.is_regular_file();
  EXPECT_EQ(files_beside, 1);
}

TEST_F(CliRunTest, OddRequestsAreToldAndTheBookIsNotComplete) {
  site_.AddBook({.id = "five", .title = "Five", .pages = 5});
  site_.AddBook({.id = "huge", .title = "Huge", .pages = 2, .page_count_text = "100001"});
  ASSERT_TRUE(site_.Start()) << site_.error();
  // Pages beyond the book: the pages that exist are saved, and the run fails.
  EXPECT_EQ(Run({"--pages", "3,7", site_.BookUrl("five")}), kExitFailed);
  EXPECT_EQ(PagesIn("Five"), 1);
  EXPECT_EQ(Run({"--pages", "1-5", site_.BookUrl("five")}), kExitOk);
  // A count above the cap is cut and said; the pages asked for still come.
  EXPECT_EQ(Run({"--pages", "1-2", site_.BookUrl("huge")}), kExitFailed);
  EXPECT_EQ(PagesIn("Huge"), 2);
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

// Whether this system decodes WebP (Windows without its WebP codec, and
// Wine, do not): then a WebP page cannot go into a PDF.
bool SystemDecodesWebp() {
  const std::string webp = MakeWebp({.width = 2, .height = 2});
  return DecodeWebp(reinterpret_cast<const std::uint8_t*>(webp.data()), webp.size()).failure !=
         DecodeFailure::NoDecoder;
}

// Books as current hosts serve them, each into its folder and its PDF:
// every page saved byte for byte under the extension of what it is, and
// the requests a book of each kind costs.
TEST_F(CliRunTest, BooksOfEachKindAreSavedWholeWithTheirPdf) {
  const JpegOptions small = {.width = 36, .height = 48};
  struct Case {
    const char* name;
    BookSpec book;
    std::vector<std::string> files;
    int image_requests;  // for every picture address of the book together
    bool webp;           // the PDF needs a WebP decoder
  } cases[] = {
      {"JPEG: one request a page, the cover reused",
       {.id = "jpeg", .title = "Jpeg", .pages = 4, .picture = small},
       {"1.jpg", "2.jpg", "3.jpg", "4.jpg"}, 4, false},
      {"WebP only, .jpg missing: one more request, for 1.jpg",
       {.id = "webp", .title = "Webp", .pages = 4, .picture = small, .format = PageFormat::Webp},
       {"1.webp", "2.webp", "3.webp", "4.webp"}, 5, true},
      {"WebP only, .jpg forbidden, behind a Referer check",
       {.id = "webpref", .title = "WebpRef", .pages = 3, .picture = small,
        .format = PageFormat::Webp, .other_extension_status = 403, .referer_check = true},
       {"1.webp", "2.webp", "3.webp"}, 4, true},
      {"JPEG behind a Referer check",
       {.id = "ref", .title = "Ref", .pages = 3, .picture = small, .referer_check = true},
       {"1.jpg", "2.jpg", "3.jpg"}, 3, false},
      {"JPEG with bytes after the end marker",
       {.id = "trailer", .title = "Trailer", .pages = 3, .picture = small,
        .jpeg_trailer = std::string("\xFF\xD9 camera trailer \x00\x01", 20)},
       {"1.jpg", "2.jpg", "3.jpg"}, 3, false},
      {"a PNG page under .jpg",
       {.id = "png", .title = "Png", .pages = 3, .picture = small,
        .page_formats = {{2, PageFormat::Png}}},
       {"1.jpg", "2.png", "3.jpg"}, 3, false},
  };
  for (const Case& c : cases) site_.AddBook(c.book);
  ASSERT_TRUE(site_.Start()) << site_.error();
  const bool webp_decodes = SystemDecodesWebp();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool pdf_whole = !c.webp || webp_decodes;
    EXPECT_EQ(Run({"--pdf", site_.BookUrl(c.book.id)}), pdf_whole ? kExitOk : kExitFailed);
    const fs::path folder = out_.root() / c.book.title;
    EXPECT_EQ(PagesIn(c.book.title), static_cast<int>(c.files.size()));
    int requests = 0;
    for (int n = 1; n <= c.book.pages; ++n) {
      const std::string& name = c.files[static_cast<std::size_t>(n - 1)];
      EXPECT_EQ(ScratchFolder::ReadFile(folder / name), site_.PageBytes(c.book.id, n)) << name;
      requests += site_.ImageRequests(c.book.id, n);
    }
    EXPECT_EQ(requests, c.image_requests);
    EXPECT_EQ(site_.BookPageRequests(c.book.id), 1);
    // The PDF holds every page, or every page a decoder exists for.
    const std::string pdf = ScratchFolder::ReadFile(out_.root() / (c.book.title + ".pdf"));
    const std::string count = "/Count " + std::to_string(pdf_whole ? c.book.pages : 0);
    if (pdf_whole) {
      EXPECT_NE(pdf.find(count), std::string::npos) << "no " << count;
    } else {
      EXPECT_TRUE(pdf.empty()) << "a PDF of WebP pages only, none decodable";
    }
  }
}

TEST_F(CliRunTest, AnOutputFolderWhoseLastCharacterEndsInTheSeparatorByte) {
  site_.AddBook({.id = "a", .title = "Alpha", .pages = 2});
  ASSERT_TRUE(site_.Start()) << site_.error();
  // 乗 is 0x81 0x5C in code page 936: its second byte is the byte of "\".
  const std::string folder = out_.text() + "/\xE4\xB9\x97";
  EXPECT_EQ(RunCli({"-q", "-o", folder, site_.BookUrl("a")}), kExitOk);
  EXPECT_EQ(ScratchFolder::ReadFile(fs::path(std::u8string(reinterpret_cast<const char8_t*>(folder.c_str()))) /
                                    "Alpha" / "2.jpg"),
            site_.PageBytes("a", 2));
}

TEST_F(CliRunTest, MaxPageSizeRefusesLargerPagesOnce) {
  site_.AddBook({.id = "a", .title = "Alpha", .pages = 3, .page_size = 8192});
  ASSERT_TRUE(site_.Start()) << site_.error();
  EXPECT_EQ(Run({"--max-page-size", "4K", "--overwrite", site_.BookUrl("a")}), kExitFailed);
  // Too large does not heal: each page is asked once, none is written.
  for (int n = 2; n <= 3; ++n) {
    EXPECT_EQ(site_.ImageRequests("a", n), 1) << n;
    EXPECT_FALSE(fs::exists(Page("Alpha", n))) << n;
  }
}

TEST_F(CliRunTest, BadCommandLinesExitWithTwo) {
  EXPECT_EQ(RunCli({}), kExitUsage);
  const fs::path file = out_.root() / "a-file";
  ScratchFolder::WriteFile(file, "x");
  EXPECT_EQ(RunCli({"-o", file.string(), "http://x/"}), kExitUsage);
  EXPECT_EQ(RunCli({"--cookies", (out_.root() / "none.txt").string(), "http://x/"}), kExitUsage);
  EXPECT_EQ(RunCli({"--threads", "0", "http://x/"}), kExitUsage);
  EXPECT_EQ(RunCli({"-o", (out_.root() / "missing" / "deeper").string(), "http://x/"}), kExitUsage);
  EXPECT_EQ(RunCli({"--help"}), kExitOk);
}

}  // namespace
}  // namespace folivex
