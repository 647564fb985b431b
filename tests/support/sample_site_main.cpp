// folivex-sample-site: serves demo flip-books on 127.0.0.1 for trying the
// program by hand, for the demo and for the benchmark.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "support/sample_site.h"

namespace {

const char kHelp[] =
    "Usage: folivex-sample-site [options]\n"
    "Serves demo flip-books on 127.0.0.1 and prints the address of each book\n"
    "page on standard output, one per line, once the server listens.\n"
    "\n"
    "  --port N          port to listen on; 0 (the default) lets the system pick\n"
    "  --books K         number of books, ids book1..bookK (default 1); page n\n"
    "                    of every book is the same picture, made once\n"
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
    "  --tls DIR         serve HTTPS with a certificate issued for 127.0.0.1 by the\n"
    "                    test authority in DIR (made there unless one valid for\n"
    "                    another day is there), whose revocation list a second,\n"
    "                    plain server answers at the certificate's distribution\n"
    "                    point; Linux only\n"
    "  --revoked         the revocation list names the server's certificate\n"
    "  --crl-gone        the distribution point names a port nobody listens on\n"
    "  --authority-only  with --tls: make or keep the authority, print the path\n"
    "                    of its certificate and stop\n"
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
  std::string tls_folder;
  bool revoked = false, crl_gone = false, authority_only = false;
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
    } else if (std::strcmp(argv[i], "--tls") == 0 && i + 1 < argc) {
      tls_folder = argv[++i];
    } else if (std::strcmp(argv[i], "--revoked") == 0) {
      revoked = true;
    } else if (std::strcmp(argv[i], "--crl-gone") == 0) {
      crl_gone = true;
    } else if (std::strcmp(argv[i], "--authority-only") == 0) {
      authority_only = true;
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

  // The revocation list is served over plain HTTP, as certificate checks
  // fetch it; the certificate can only name its address once that server
  // listens, so the certificate is issued here, at every start.
  folivex::TestServer crl_server;
  std::string certificate_folder;
  folivex::TestCertificates certificates;
  if (!tls_folder.empty()) {
    std::string error;
    folivex::TestAuthority authority;
    if (!folivex::MakeTestAuthority(tls_folder, &authority, &error)) {
      std::fprintf(stderr, "folivex-sample-site: %s\n", error.c_str());
      return 1;
    }
    if (authority_only) {
      std::printf("%s\n", authority.ca_file.c_str());
      return 0;
    }
    if (!crl_server.Start()) {
      std::fprintf(stderr, "folivex-sample-site: %s\n", crl_server.error().c_str());
      return 1;
    }
    std::string crl_url = crl_server.Url("/test-ca.crl");
    if (crl_gone) {
      // A port that was free a moment ago and is closed again.
      folivex::TestServer gone;
      if (gone.Start()) crl_url = gone.Url("/test-ca.crl");
    }
    certificate_folder = (std::filesystem::temp_directory_path() /
                          ("folivex-site-tls-" + std::to_string(crl_server.port())))
                             .string();
    std::vector<std::string> listed;
    if (!folivex::IssueServerCertificate(authority, certificate_folder, crl_url, &certificates,
                                         &error)) {
      std::fprintf(stderr, "folivex-sample-site: %s\n", error.c_str());
      return 1;
    }
    if (revoked) listed.push_back(certificates.cert_file);
    const std::optional<std::string> crl = folivex::MakeRevocationList(authority, listed, &error);
    if (!crl) {
      std::fprintf(stderr, "folivex-sample-site: %s\n", error.c_str());
      return 1;
    }
    crl_server.Serve("/test-ca.crl", folivex::Response::Ok(*crl, "application/pkix-crl"));
  }

  folivex::SiteOptions options;
  options.latency = std::chrono::milliseconds(latency);
  options.bytes_per_second = rate;
  folivex::SampleSite site(options);
  if (!certificate_folder.empty()) site.UseTls(certificates.cert_file, certificates.key_file);
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
  crl_server.Stop();
  if (!certificate_folder.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(certificate_folder, ignored);
  }
  return 0;
}
