// folivex-sample-site: serves demo flip-books on 127.0.0.1 for trying the
// program by hand, for the demo and for the benchmark.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "support/sample_site.h"

namespace {

const char kHelp[] =
    "Usage: folivex-sample-site [options]\n"
    "Serves demo flip-books on 127.0.0.1 and prints the address of each book\n"
    "page on standard output, one per line, once the server listens.\n"
    "\n"
    "  --port N          port to listen on; 0 (the default) lets the system pick\n"
    "  --books K         number of books, ids book1..bookK (default 1)\n"
    "  --pages P         pages per book (default 10)\n"
    "  --size S          bytes per JPEG picture, padded exactly (default 153600)\n"
    "  --width W         picture width in pixels (default 600)\n"
    "  --height H        picture height in pixels (default 800)\n"
    "  --latency-ms L    delay before every answer (default 0)\n"
    "  --rate B          bytes per second per connection, 0 = no cap (default 0)\n"
    "  --title TEXT      title of the first book, UTF-8 (default a Chinese title);\n"
    "                    later books get the same title followed by their number\n"
    "  --format F        jpeg (the default) or webp: the pictures' format; a WebP\n"
    "                    book serves n.webp and answers n.jpg with 404\n"
    "  --png-page N      page N's picture is a PNG, served as n.jpg\n"
    "  --jpeg-trailer T  bytes T after the end marker of every JPEG picture\n"
    "  --referer-check   pictures answer 403 unless the Referer is the book page\n"
    "  --until-stdin-closes\n"
    "                    stop when standard input reaches its end; without this\n"
    "                    the server runs until it is killed\n"
    "  --help            this text\n";

bool NumberArgument(int argc, char** argv, int& i, const char* name, long long& value) {
  if (std::strcmp(argv[i], name) != 0) return false;
  if (i + 1 >= argc) {
    std::fprintf(stderr, "folivex-sample-site: %s needs a value\n", name);
    std::exit(2);
  }
  char* end = nullptr;
  value = std::strtoll(argv[++i], &end, 10);
  if (*end != '\0' || value < 0) {
    std::fprintf(stderr, "folivex-sample-site: %s: not a number: %s\n", name, argv[i]);
    std::exit(2);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long long port = 0, books = 1, pages = 10, size = 153600, width = 600, height = 800;
  long long latency = 0, rate = 0;
  std::string title = "\xE6\x98\xA5\xE5\xA4\xA9\xE7\x9A\x84\xE7\x94\xBB\xE5\x86\x8C";  // 春天的画册
  bool until_stdin_closes = false;
  folivex::PageFormat format = folivex::PageFormat::Jpeg;
  long long png_page = 0;
  std::string jpeg_trailer;
  bool referer_check = false;
  for (int i = 1; i < argc; ++i) {
    if (NumberArgument(argc, argv, i, "--port", port) ||
        NumberArgument(argc, argv, i, "--books", books) ||
        NumberArgument(argc, argv, i, "--pages", pages) ||
        NumberArgument(argc, argv, i, "--size", size) ||
        NumberArgument(argc, argv, i, "--width", width) ||
        NumberArgument(argc, argv, i, "--height", height) ||
        NumberArgument(argc, argv, i, "--latency-ms", latency) ||
        NumberArgument(argc, argv, i, "--rate", rate) ||
        NumberArgument(argc, argv, i, "--png-page", png_page)) {
      continue;
    }
    if (std::strcmp(argv[i], "--title") == 0 && i + 1 < argc) {
      title = argv[++i];
    } else if (std::strcmp(argv[i], "--format") == 0 && i + 1 < argc) {
      const std::string name = argv[++i];
      if (name != "jpeg" && name != "webp") {
        std::fprintf(stderr, "folivex-sample-site: --format: jpeg or webp, not %s\n", name.c_str());
        return 2;
      }
      format = name == "webp" ? folivex::PageFormat::Webp : folivex::PageFormat::Jpeg;
    } else if (std::strcmp(argv[i], "--jpeg-trailer") == 0 && i + 1 < argc) {
      jpeg_trailer = argv[++i];
    } else if (std::strcmp(argv[i], "--referer-check") == 0) {
      referer_check = true;
    } else if (std::strcmp(argv[i], "--until-stdin-closes") == 0) {
      until_stdin_closes = true;
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kHelp, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "folivex-sample-site: unknown option %s\n\n%s", argv[i], kHelp);
      return 2;
    }
  }
  if (port > 65535 || books < 1 || pages < 1 || width < 1 || height < 1 || width > 8192 ||
      height > 8192) {
    std::fprintf(stderr, "folivex-sample-site: a value is out of range\n");
    return 2;
  }

  folivex::SiteOptions options;
  options.latency = std::chrono::milliseconds(latency);
  options.bytes_per_second = rate;
  folivex::SampleSite site(options);
  for (long long n = 1; n <= books; ++n) {
    folivex::BookSpec book;
    book.id = "book" + std::to_string(n);
    book.title = n == 1 ? title : title + std::to_string(n);
    book.pages = static_cast<int>(pages);
    book.page_size = static_cast<std::size_t>(size);
    book.picture.width = static_cast<int>(width);
    book.picture.height = static_cast<int>(height);
    book.format = format;
    if (png_page > 0) book.page_formats[static_cast<int>(png_page)] = folivex::PageFormat::Png;
    book.jpeg_trailer = jpeg_trailer;
    book.referer_check = referer_check;
    site.AddBook(book);
  }
  // Every picture is encoded before the addresses are printed, so that
  // the first download of a page measures the transfer, not the encoder.
  const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  for (long long n = 1; n <= books; ++n) site.PreparePictures("book" + std::to_string(n), threads);
  if (!site.Start(static_cast<int>(port))) {
    std::fprintf(stderr, "folivex-sample-site: %s\n", site.error().c_str());
    return 1;
  }
  for (long long n = 1; n <= books; ++n) {
    std::printf("%s\n", site.BookUrl("book" + std::to_string(n)).c_str());
  }
  std::fflush(stdout);

  if (until_stdin_closes) {
    std::string line;
    while (std::getline(std::cin, line)) {
    }
  } else {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  site.Stop();
  return 0;
}
