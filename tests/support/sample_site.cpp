#include "support/sample_site.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "support/png_maker.h"
#include "support/webp_maker.h"

namespace folivex {
namespace {

const char kImageFolder[] = "files/mobile/";
// Every extension a picture address may have; requests for any of them
// are answered and counted.
const char* const kExtensions[] = {"jpg", "webp", "png"};

const char* ExtensionOf(PageFormat format) { return format == PageFormat::Webp ? "webp" : "jpg"; }

const char* ContentTypeOf(PageFormat format) {
  switch (format) {
    case PageFormat::Webp: return "image/webp";
    case PageFormat::Png: return "image/png";
    case PageFormat::Jpeg: break;
  }
  return "image/jpeg";
}

PageFormat FormatOf(const BookSpec& spec, int page) {
  auto found = spec.page_formats.find(page);
  return found == spec.page_formats.end() ? spec.format : found->second;
}

std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

SampleSite::SampleSite(SiteOptions options) {
  server_.SetLatency(options.latency);
  server_.SetBandwidth(options.bytes_per_second);
}

bool SampleSite::Start(int port) { return server_.Start(port); }

void SampleSite::AddBook(BookSpec spec) {
  std::string id = spec.id;
  {
    std::lock_guard lock(mutex_);
    auto book = std::make_unique<Book>();
    book->spec = std::move(spec);
    books_[id] = std::move(book);
  }
  server_.HandlePrefix("/" + id + "/", [this, id](const RecordedRequest& request) {
    return Answer(id, request);
  });
}

void SampleSite::SetPageFault(const std::string& id, int page, PageFault fault) {
  std::lock_guard lock(mutex_);
  auto found = books_.find(id);
  if (found != books_.end()) found->second->spec.page_faults[page] = std::move(fault);
}

void SampleSite::SetBookPageFault(const std::string& id, PageFault fault) {
  std::lock_guard lock(mutex_);
  auto found = books_.find(id);
  if (found != books_.end()) found->second->spec.book_page_fault = std::move(fault);
}

std::string SampleSite::BaseUrl(const std::string& id) const {
  return server_.Url("/" + id + "/");
}

std::string SampleSite::ImageUrl(const std::string& id, int page) const {
  return ImageBase(id) + std::to_string(page) + "." + Extension(id);
}

std::string SampleSite::ImagePath(const std::string& id, int page, const std::string& extension) {
  return "/" + id + "/" + kImageFolder + std::to_string(page) + "." + extension;
}

std::string SampleSite::Extension(const std::string& id) const {
  std::lock_guard lock(mutex_);
  auto found = books_.find(id);
  return ExtensionOf(found == books_.end() ? PageFormat::Jpeg : found->second->spec.format);
}

int SampleSite::ImageRequests(const std::string& id, int page) const {
  int count = 0;
  for (const char* extension : kExtensions) count += ImageRequests(id, page, extension);
  return count;
}

const std::string& SampleSite::PageBytes(const std::string& id, int page) {
  static const std::string kNone;
  std::unique_lock lock(mutex_);
  auto found = books_.find(id);
  if (found == books_.end()) return kNone;
  return Picture(lock, *found->second, page);
}

void SampleSite::PreparePictures(const std::string& id, int threads) {
  int pages = 0;
  {
    std::lock_guard lock(mutex_);
    auto found = books_.find(id);
    if (found == books_.end()) return;
    pages = found->second->spec.pages;
  }
  std::atomic<int> next{1};
  std::vector<std::thread> pool;
  for (int i = 0; i < std::max(1, threads); ++i) {
    pool.emplace_back([&] {
      for (int page = next++; page <= pages; page = next++) PageBytes(id, page);
    });
  }
  for (std::thread& thread : pool) thread.join();
}

std::string SampleSite::BookPage(const std::string& id) const {
  std::lock_guard lock(mutex_);
  auto found = books_.find(id);
  return found == books_.end() ? std::string() : RenderBookPage(found->second->spec);
}

int SampleSite::BookPageRequests(const std::string& id) const {
  return server_.RequestCount("/" + id + "/index.html") + server_.RequestCount("/" + id + "/");
}

const std::string& SampleSite::Picture(std::unique_lock<std::mutex>& lock, Book& book,
                                       int page) {
  JpegOptions options = book.spec.picture;
  options.page = page;
  if (book.spec.page_size) options.target_size = book.spec.page_size;
  const PageFormat format = FormatOf(book.spec, page);
  // Only a JPEG carries the trailer.
  PictureKey key{format, options, format == PageFormat::Jpeg ? book.spec.jpeg_trailer : ""};
  auto made = pictures_.find(key);
  if (made != pictures_.end()) return made->second;
  // Encoding a large picture takes a good part of a second; under the lock
  // it would hold up every other connection.
  lock.unlock();
  std::string picture;
  switch (format) {
    case PageFormat::Jpeg:
      picture = MakeJpeg(options) + std::get<2>(key);
      break;
    case PageFormat::Webp:
      picture = MakeWebp(options);
      break;
    case PageFormat::Png:
      picture = MakePng(options, {}).bytes;
      break;
  }
  lock.lock();
  // Another connection may have made the same picture meanwhile; both are
  // equal, and the first one stays (map entries never move).
  return pictures_.emplace(std::move(key), std::move(picture)).first->second;
}

std::string SampleSite::RenderBookPage(const BookSpec& spec) const {
  if (spec.raw_page) return *spec.raw_page;
  const std::string base = spec.base_text.value_or(BaseUrl(spec.id));
  const std::string count = spec.page_count_text.value_or(std::to_string(spec.pages));
  std::string page =
      "<!DOCTYPE html>\n"
      "<html lang=\"zh-CN\">\n"
      "<head>\n"
      "<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>" + spec.title + "</title>\n"
      "<link rel=\"stylesheet\" href=\"style/reader.css\">\n"
      "</head>\n"
      "<body>\n"
      "<div class=\"toolbar\">\n"
      "  <a class=\"home\" href=\"/\">\xE9\xA6\x96\xE9\xA1\xB5</a>\n"  // 首页
      "</div>\n"
      "<div class=\"share\">\n"
      "<label>\xE5\x88\x86\xE4\xBA\xAB\xE9\x93\xBE\xE6\x8E\xA5</label>\n";  // 分享链接
  if (!spec.omit_base) {
    page += "<input type=\"text\" class=\"form-control af-left\" readonly value=\"" + base +
            "index.html\">\n <button class=\"btn copy\">\xE5\xA4\x8D\xE5\x88\xB6</button>\n";  // 复制
  }
  page +=
      "</div>\n"
      "<div id=\"reader\"></div>\n"
      "<script type=\"text/javascript\">\n"
      "var bookConfig = {\n";
  if (!spec.omit_title) page += "  title: \"" + spec.title + "\",\n";
  if (!spec.omit_page_count) page += "  pages: \"" + count + "\",\n";
  page +=
      "  pageWidth: \"" + std::to_string(spec.picture.width) + "\",\n"
      "  pageHeight: \"" + std::to_string(spec.picture.height) + "\",\n"
      "  imageFolder: \"" + std::string(kImageFolder) + "\"\n"
      "};\n"
      "</script>\n"
      "</body>\n"
      "</html>\n";
  return spec.crlf ? WithCrLf(page) : page;
}

Response SampleSite::Answer(const std::string& id, const RecordedRequest& request) {
  std::unique_lock lock(mutex_);
  auto found = books_.find(id);
  if (found == books_.end()) return Response::HtmlError(404, "Not Found");
  Book& book = *found->second;
  const std::string rest = request.path.substr(id.size() + 2);
  if (rest.empty() || rest == "index.html") {
    return Apply(book, request.path, book.spec.book_page_fault,
                 Response::Ok(RenderBookPage(book.spec)));
  }
  const std::size_t dot = rest.rfind('.');
  if (rest.rfind(kImageFolder, 0) == 0 && dot != std::string::npos &&
      dot > sizeof kImageFolder - 1) {
    const std::string extension = rest.substr(dot + 1);
    std::string number = rest.substr(sizeof kImageFolder - 1, dot - (sizeof kImageFolder - 1));
    bool digits = !number.empty() && number.size() < 9 && number[0] != '0' &&
                  number.find_first_not_of("0123456789") == std::string::npos;
    int page = digits ? std::atoi(number.c_str()) : 0;
    const bool known = std::find(std::begin(kExtensions), std::end(kExtensions), extension) !=
                       std::end(kExtensions);
    if (known && page >= 1 && page <= book.spec.pages) {
      if (book.spec.referer_check) {
        const std::string referer = request.Header("Referer");
        if (referer != BookUrl(id) && referer != BaseUrl(id)) {
          return Response::HtmlError(403, "Forbidden");
        }
      }
      if (extension != ExtensionOf(book.spec.format)) {
        return Response::HtmlError(book.spec.other_extension_status,
                                   book.spec.other_extension_status == 403 ? "Forbidden"
                                                                           : "Not Found");
      }
      const std::string content_type = ContentTypeOf(FormatOf(book.spec, page));
      auto fault = book.spec.page_faults.find(page);
      Response good = Response::Ok(Picture(lock, book, page), content_type);
      return fault == book.spec.page_faults.end()
                 ? good
                 : Apply(book, request.path, fault->second, std::move(good));
    }
  }
  return Response::HtmlError(404, "Not Found");
}

Response SampleSite::Apply(Book& book, const std::string& path, const PageFault& fault,
                           Response good) {
  int seen = ++book.seen[path];
  Response response = std::move(good);
  if (seen <= fault.fail_first) {
    // The refusals come quickly and whole; only the latency applies to them.
    response = Response::HtmlError(503, "Service Unavailable");
    response.delivery.latency = fault.delivery.latency;
    return response;
  }
  if (fault.html_body) {
    response = Response::HtmlError(200, "\xE9\xA1\xB5\xE9\x9D\xA2\xE4\xB8\x8D\xE5\xAD\x98\xE5\x9C\xA8");  // 页面不存在
  } else if (fault.status != 200) {
    response = Response::HtmlError(fault.status, "Error");
  } else if (fault.body) {
    response.body = *fault.body;
  }
  response.delivery = fault.delivery;
  return response;
}

}  // namespace folivex
