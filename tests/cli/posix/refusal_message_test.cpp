// What folivex-dl prints when a book page cannot be used: the address and
// the reason, on standard error.
#include <gtest/gtest.h>

#include <string>

#include "cli/cli_app.h"
#include "platform/services.h"
#include "support/sample_site.h"
#include "support/scratch_folder.h"

namespace folivex {
namespace {

TEST(RefusalMessage, NamesTheAddressAndTheReason) {
  struct Case {
    const char* name;
    BookSpec book;
    const char* reason;
  } cases[] = {
      {"page count not a number", {.id = "a", .page_count_text = "abc"}, "no usable page count"},
      {"page count beyond 32 bits", {.id = "b", .page_count_text = "2147483648"}, "no usable page count"},
      {"no markers at all", {.id = "c", .raw_page = "<html></html>"}, "no usable page count"},
      {"CR LF hides the base address", {.id = "d", .crlf = true}, "no address of the page images"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SampleSite site;
    site.AddBook(c.book);
    ASSERT_TRUE(site.Start()) << site.error();
    ScratchFolder out;
    ::testing::internal::CaptureStderr();
    const int status = RunCli({"-q", "-o", out.text(), site.BookUrl(c.book.id)});
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, kExitFailed);
    // A book that cannot be downloaded gets no folder.
    EXPECT_TRUE(out.Tree().empty()) << *out.Tree().begin();
    EXPECT_NE(err.find(site.BookUrl(c.book.id)), std::string::npos) << err;
    EXPECT_NE(err.find(c.reason), std::string::npos) << err;
  }
}

}  // namespace
}  // namespace folivex
