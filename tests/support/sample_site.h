// A sample flip-book site on the loopback test server: book pages in UTF-8
// with the title, page count and base address fields the analysis cuts out,
// and real page images at BASE + "files/mobile/" + n + ".jpg" (or ".webp"
// for a WebP book), where BASE = http://127.0.0.1:PORT/<book id>/. Every
// page and the book page can be made to fail in the ways a real server
// does, and books can be served the ways current hosting serves them: WebP
// only, PNG bodies under a .jpg name, bytes after a JPEG's end marker, and
// pictures refused without the book page as Referer.
//
//   folivex::SampleSite site;
//   site.AddBook({.id = "b1", .title = "春天的书", .pages = 5});
//   ASSERT_TRUE(site.Start()) << site.error();
//   Download(site.BookUrl("b1"));
//   EXPECT_EQ(ReadFile(dir / "3.jpg"), site.PageBytes("b1", 3));
//   EXPECT_EQ(site.ImageRequests("b1", 3), 1);
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "support/jpeg_maker.h"
#include "support/test_server.h"

namespace folivex {

// The format of a page picture. A WebP book serves its pages at n.webp and
// answers the n.jpg address with an error; JPEG and PNG pictures are served
// at n.jpg, as sites do that convert pages without renaming them.
enum class PageFormat { Jpeg, Webp, Png };

// How one address of a book misbehaves. The default serves it normally.
struct PageFault {
  int status = 200;        // another status: a small HTML error page with it
  bool html_body = false;  // status 200 with an HTML error page instead of the picture
  int fail_first = 0;      // the first k requests get 503, the later ones the real thing
  // Latency, rate, slow drip, stall, cut-short body, reset, wrong length.
  Delivery delivery;
  // Serve these bytes instead of the page (a hostile or odd body).
  std::optional<std::string> body;
};

struct BookSpec {
  std::string id = "book";               // the book's folder on the server
  std::string title = "\xE6\xB5\x8B\xE8\xAF\x95\xE5\x9B\xBE\xE4\xB9\xA6";  // 测试图书, UTF-8
  int pages = 3;
  std::size_t page_size = 0;             // each JPEG padded to this many bytes; 0: as encoded
  JpegOptions picture;                   // size, quality, noise of the page pictures
  bool crlf = false;                     // CR LF line ends in the book page
  bool omit_title = false;               // leave out the title field
  bool omit_page_count = false;          // leave out the page count field
  bool omit_base = false;                // leave out the base address field
  std::optional<std::string> page_count_text;  // between the page count markers, e.g. "abc"
  std::optional<std::string> base_text;        // before "index.html" in the base field
  std::optional<std::string> raw_page;         // the whole book page body, as is
  PageFault book_page_fault;             // for the book page itself
  std::map<int, PageFault> page_faults;  // by page number, from 1

  // The format of every page picture, and the address extension the book
  // serves them under.
  PageFormat format = PageFormat::Jpeg;
  // Pages whose picture is of another format, served under the book's
  // extension all the same (a PNG at n.jpg).
  std::map<int, PageFormat> page_formats;
  // What a WebP book answers at n.jpg (and a JPEG book at n.webp): 404 or
  // 403, as hosts differ.
  int other_extension_status = 404;
  // Bytes after the end marker of every JPEG picture (a camera trailer,
  // appended metadata); they are part of the page as served.
  std::string jpeg_trailer;
  // Pictures are refused (403) unless the request's Referer is the book
  // page's address (BookUrl or BaseUrl), as a hotlink check does.
  bool referer_check = false;
};

struct SiteOptions {
  std::chrono::milliseconds latency{0};  // added to every request
  long long bytes_per_second = 0;        // per connection, 0: no cap
};

class SampleSite {
 public:
  SampleSite() : SampleSite(SiteOptions{}) {}
  explicit SampleSite(SiteOptions options);
  // The server stops first: its threads read the books.
  ~SampleSite() { server_.Stop(); }
  SampleSite(const SampleSite&) = delete;
  SampleSite& operator=(const SampleSite&) = delete;

  // Serve HTTPS with these PEM files; call before Start (Linux only).
  void UseTls(std::string cert_file, std::string key_file) {
    server_.UseTls(std::move(cert_file), std::move(key_file));
  }
  bool Start(int port = 0);
  void Stop() { server_.Stop(); }
  const std::string& error() const { return server_.error(); }

  // Books may be added and changed before or after Start.
  void AddBook(BookSpec book);
  void SetPageFault(const std::string& id, int page, PageFault fault);
  void SetBookPageFault(const std::string& id, PageFault fault);

  // "http://127.0.0.1:PORT/<id>/" (https once the server uses TLS), ending
  // with a slash.
  std::string BaseUrl(const std::string& id) const;
  // The address a user copies: BASE + "index.html".
  std::string BookUrl(const std::string& id) const { return BaseUrl(id) + "index.html"; }
  std::string ImageBase(const std::string& id) const { return BaseUrl(id) + "files/mobile/"; }
  // The address of page `page`'s picture under the book's own extension.
  std::string ImageUrl(const std::string& id, int page) const;
  // The request path of page `page`'s picture:
  // "/<id>/files/mobile/<n>.<extension>".
  static std::string ImagePath(const std::string& id, int page,
                               const std::string& extension = "jpg");
  // "jpg" or "webp": the extension the book serves its pictures under.
  std::string Extension(const std::string& id) const;

  // The bytes a good answer for the picture of `page` carries (a JPEG's
  // trailer included).
  const std::string& PageBytes(const std::string& id, int page);
  // Encodes every page picture of the book now, on `threads` threads, so
  // that the first request for a page does not wait for its encoding.
  void PreparePictures(const std::string& id, int threads = 2);
  // The book page body as served (UTF-8).
  std::string BookPage(const std::string& id) const;

  // Requests for page `page`'s picture, under every extension asked for.
  int ImageRequests(const std::string& id, int page) const;
  int ImageRequests(const std::string& id, int page, const std::string& extension) const {
    return server_.RequestCount(ImagePath(id, page, extension));
  }
  int BookPageRequests(const std::string& id) const;

  TestServer& server() { return server_; }

 private:
  struct Book {
    BookSpec spec;
    std::map<std::string, int> seen;  // requests per path, for fail_first
  };
  // What a picture is made from; books that agree on it serve the same
  // bytes, made and kept once (a site of hundreds of books holds a few
  // dozen pictures, not thousands).
  using PictureKey = std::tuple<PageFormat, JpegOptions, std::string>;
  Response Answer(const std::string& id, const RecordedRequest& request);
  Response Apply(Book& book, const std::string& path, const PageFault& fault,
                 Response good);
  // Called and returning with `lock` held on mutex_; the encoding runs
  // without it, so other connections are served meanwhile.
  const std::string& Picture(std::unique_lock<std::mutex>& lock, Book& book, int page);
  std::string RenderBookPage(const BookSpec& spec) const;

  TestServer server_;
  mutable std::mutex mutex_;
  std::map<std::string, std::unique_ptr<Book>> books_;
  std::map<PictureKey, std::string> pictures_;  // made on first use
};

}  // namespace folivex
