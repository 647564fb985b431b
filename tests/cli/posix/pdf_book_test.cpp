// The PDF book judged by other readers: qpdf checks the file's structure and
// hands back each image stream raw, pdfinfo reads pages, sizes and title,
// pdftoppm draws the pages so the colours can be checked, and pdftocairo
// draws them pixel for pixel. The test pictures
// come from the test encoder and from ImageMagick (grey, CMYK, progressive),
// and from the PNG and WebP makers.
#include "cli/pdf_book.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <string>

#include "cli/picture_pixels.h"
#include "platform/picture.h"
#include "image/png_decode.h"
#include "platform/services.h"
#include "support/jpeg_maker.h"
#include "support/png_maker.h"
#include "support/webp_maker.h"

namespace folivex {
namespace {

namespace fs = std::filesystem;

struct CommandResult {
  int exit_code = -1;
  std::string output;  // standard output, standard error joined
};

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>&1").c_str(), "r"), pclose);
  if (!pipe) return result;
  std::array<char, 65536> buffer;
  std::size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0) {
    result.output.append(buffer.data(), got);
  }
  int status = pclose(pipe.release());
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Pixel {
  int r = -1, g = -1, b = -1;
};

// The pixel at the middle of a binary PPM (P6, maximum 255).
Pixel MiddlePixel(const std::string& ppm, int* width, int* height) {
  std::smatch m;
  if (!std::regex_search(ppm, m, std::regex("^P6\\s+(\\d+)\\s+(\\d+)\\s+255\\s"))) return {};
  *width = std::stoi(m[1]);
  *height = std::stoi(m[2]);
  std::size_t data = static_cast<std::size_t>(m.length(0));
  std::size_t at = data + (static_cast<std::size_t>(*height / 2) * *width + *width / 2) * 3;
  if (at + 3 > ppm.size()) return {};
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(ppm[at + k]); };
  return {byte(0), byte(1), byte(2)};
}

class PdfBookToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = fs::temp_directory_path() /
            ("folivex-pdf-tools-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  fs::path root_;
};

TEST_F(PdfBookToolsTest, ReadersSeeEveryPageAsWritten) {
  struct Page {
    const char* name;
    std::string file;
    std::string make;  // an ImageMagick command line, or empty for the test encoder
    int width, height;
    Pixel colour;      // expected at the middle of the drawn page; r < 0: not checked
    int tolerance;     // per channel; CMYK goes through the reader's rough conversion
  } pages[] = {
      {"encoder, wide", "1.jpg", "", 320, 200, {}, 0},
      {"error page", "2.jpg", "", 0, 0, {}, 0},
      {"encoder, tall", "3.jpg", "", 96, 400, {}, 0},
      {"ImageMagick grey", "4.jpg", "-size 50x20 xc:gray50 -colorspace Gray", 50, 20,
       {128, 128, 128}, 16},
      {"ImageMagick CMYK red", "5.jpg", "-size 40x30 xc:#ff0000 -colorspace CMYK", 40, 30,
       {255, 0, 0}, 60},
      {"ImageMagick progressive blue", "6.jpg", "-size 64x48 xc:#2040c0 -interlace JPEG", 64, 48,
       {0x20, 0x40, 0xC0}, 16},
  };
  std::vector<Text> paths;
  std::vector<const Page*> expected;
  int encoder_page = 0;
  for (const Page& p : pages) {
    SCOPED_TRACE(p.name);
    const fs::path path = root_ / p.file;
    paths.push_back(path.string());
    if (p.width == 0) {
      ASSERT_TRUE(WriteBytesFile(path.string(), TextToBytes("<html>Not Found</html>")));
      continue;
    }
    expected.push_back(&p);
    if (p.make.empty()) {
      std::string jpeg = MakeJpeg({.width = p.width, .height = p.height, .page = ++encoder_page});
      ASSERT_TRUE(WriteBytesFile(path.string(), Bytes(jpeg.begin(), jpeg.end())));
    } else {
      CommandResult made = RunCommand("convert " + p.make + " " + Quoted(path));
      ASSERT_EQ(made.exit_code, 0) << made.output;
    }
  }
  // 图书杂志 in code page 936.
  const Text title = "\xCD\xBC\xCA\xE9\xD4\xD3\xD6\xBE";
  const fs::path pdf = root_ / "book.pdf";
  PdfResult result = WritePdfBook(pdf.string(), title, paths);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.pages, (std::vector<std::size_t>{0, 2, 3, 4, 5}));
  ASSERT_EQ(result.skipped.size(), 1u);
  EXPECT_EQ(result.skipped[0].index, 1u);

  CommandResult check = RunCommand("qpdf --check " + Quoted(pdf));
  EXPECT_EQ(check.exit_code, 0) << check.output;
  EXPECT_NE(check.output.find("No syntax or stream encoding errors"), std::string::npos)
      << check.output;

  CommandResult info = RunCommand("pdfinfo -enc UTF-8 -f 1 -l 99 " + Quoted(pdf));
  ASSERT_EQ(info.exit_code, 0) << info.output;
  EXPECT_TRUE(std::regex_search(info.output, std::regex("\nPages: +5\n"))) << info.output;
  EXPECT_TRUE(std::regex_search(info.output, std::regex("Title: +图书杂志\n"))) << info.output;
  EXPECT_TRUE(std::regex_search(info.output, std::regex("Producer: +folivex-dl\n"))) << info.output;

  CommandResult shown = RunCommand("qpdf --show-pages --with-images " + Quoted(pdf));
  ASSERT_EQ(shown.exit_code, 0) << shown.output;
  std::vector<int> images;
  std::regex image_line("/Im0: (\\d+) 0 R");
  for (auto it = std::sregex_iterator(shown.output.begin(), shown.output.end(), image_line);
       it != std::sregex_iterator(); ++it) {
    images.push_back(std::stoi((*it)[1]));
  }
  ASSERT_EQ(images.size(), expected.size()) << shown.output;

  for (std::size_t k = 0; k < expected.size(); ++k) {
    const Page& p = *expected[k];
    SCOPED_TRACE(p.name);
    const int number = static_cast<int>(k) + 1;
    std::string size_line = "Page +" + std::to_string(number) + " size: +" +
                            std::to_string(p.width) + " x " + std::to_string(p.height) + " pts";
    EXPECT_TRUE(std::regex_search(info.output, std::regex(size_line))) << info.output;

    const fs::path raw = root_ / ("raw" + std::to_string(number));
    CommandResult dumped = RunCommand("qpdf --show-object=" + std::to_string(images[k]) +
                                      " --raw-stream-data " + Quoted(pdf) + " > " + Quoted(raw));
    ASSERT_EQ(dumped.exit_code, 0) << dumped.output;
    EXPECT_EQ(ReadAll(raw), ReadAll(root_ / p.file)) << "stream differs from the page file";

    if (p.colour.r < 0) continue;
    const fs::path drawn = root_ / ("page" + std::to_string(number));
    CommandResult rendered = RunCommand("pdftoppm -r 72 -singlefile -f " + std::to_string(number) +
                                        " -l " + std::to_string(number) + " " + Quoted(pdf) + " " +
                                        Quoted(drawn));
    ASSERT_EQ(rendered.exit_code, 0) << rendered.output;
    int width = 0, height = 0;
    Pixel got = MiddlePixel(ReadAll(drawn.string() + ".ppm"), &width, &height);
    // At 72 dots per inch one point is one pixel, so the page comes back at
    // the picture's own size.
    EXPECT_EQ(width, p.width);
    EXPECT_EQ(height, p.height);
    EXPECT_NEAR(got.r, p.colour.r, p.tolerance);
    EXPECT_NEAR(got.g, p.colour.g, p.tolerance);
    EXPECT_NEAR(got.b, p.colour.b, p.tolerance);
  }
}

// PNG and WebP pages drawn by another reader show the page file's pixels,
// sample for sample (alpha over white paper within the reader's rounding).
TEST_F(PdfBookToolsTest, PngAndWebpPagesDrawAsTheirPixels) {
  const JpegOptions picture = {.width = 45, .height = 33, .page = 8, .noise = 50};
  const EncoderWebp& lossy_alpha = EncoderWebpSamples()[1];
  PictureDecode lossy_alpha_pixels = DecodeWebp(
      reinterpret_cast<const std::uint8_t*>(lossy_alpha.bytes.data()), lossy_alpha.bytes.size());
  ASSERT_TRUE(lossy_alpha_pixels.picture) << lossy_alpha_pixels.detail;
  struct Page {
    const char* name;
    std::string file;
    std::string bytes;
    DecodedPicture pixels;
    int tolerance;
  };
  auto png = [&](const char* name, const char* file, PngOptions options, int tolerance) {
    PngSample sample = MakePng(picture, options);
    return Page{name, file, sample.bytes, sample.pixels, tolerance};
  };
  const std::vector<Page> pages = {
      png("PNG RGB, as it is", "1.png", {.colour_type = 2}, 0),
      png("PNG palette 2-bit, as it is", "2.png", {.colour_type = 3, .bit_depth = 2}, 0),
      png("PNG grey 1-bit, as it is", "3.png", {.colour_type = 0, .bit_depth = 1}, 0),
      png("PNG RGBA", "4.png", {.colour_type = 6}, 2),
      png("PNG interlaced RGBA 16-bit", "5.png",
          {.colour_type = 6, .bit_depth = 16, .interlaced = true}, 2),
      {"WebP of our encoder", "6.webp", MakeWebp(picture),
       DecodedPicture{picture.width, picture.height, 3, PagePixels(picture)}, 0},
      {"lossy WebP with alpha of the real encoder", "7.webp", lossy_alpha.bytes,
       *lossy_alpha_pixels.picture, 2},
  };
  std::vector<Text> paths;
  for (const Page& page : pages) {
    paths.push_back((root_ / page.file).string());
    ASSERT_TRUE(WriteBytesFile(paths.back(), Bytes(page.bytes.begin(), page.bytes.end())));
  }
  const fs::path pdf = root_ / "book.pdf";
  PdfResult result = WritePdfBook(pdf.string(), "", paths);
  ASSERT_TRUE(result.AllPagesIn()) << result.error;

  CommandResult check = RunCommand("qpdf --check " + Quoted(pdf));
  EXPECT_EQ(check.exit_code, 0) << check.output;
  EXPECT_NE(check.output.find("No syntax or stream encoding errors"), std::string::npos)
      << check.output;
  CommandResult info = RunCommand("pdfinfo " + Quoted(pdf));
  ASSERT_EQ(info.exit_code, 0) << info.output;
  EXPECT_TRUE(std::regex_search(info.output, std::regex("\nPages: +" + std::to_string(pages.size()) + "\n")))
      << info.output;

  for (std::size_t k = 0; k < pages.size(); ++k) {
    const Page& page = pages[k];
    SCOPED_TRACE(page.name);
    const std::string number = std::to_string(k + 1);
    // pdftoppm resamples even at one pixel to the point, so it only has to
    // draw the page at its size; cairo's drawing keeps every pixel.
    const fs::path drawn = root_ / ("page" + number);
    CommandResult rendered = RunCommand("pdftoppm -r 72 -singlefile -f " + number + " -l " +
                                        number + " " + Quoted(pdf) + " " + Quoted(drawn));
    ASSERT_EQ(rendered.exit_code, 0) << rendered.output;
    int width = 0, height = 0;
    MiddlePixel(ReadAll(drawn.string() + ".ppm"), &width, &height);
    EXPECT_EQ(width, page.pixels.width);
    EXPECT_EQ(height, page.pixels.height);

    const fs::path exact = root_ / ("exact" + number);
    rendered = RunCommand("pdftocairo -png -r 72 -singlefile -f " + number + " -l " + number +
                          " " + Quoted(pdf) + " " + Quoted(exact));
    ASSERT_EQ(rendered.exit_code, 0) << rendered.output;
    const std::string png = ReadAll(exact.string() + ".png");
    PngRead read = ReadPngLayout(reinterpret_cast<const std::uint8_t*>(png.data()), png.size());
    ASSERT_TRUE(read.layout) << read.detail;
    PictureDecode got = DecodePng(*read.layout);
    ASSERT_TRUE(got.picture) << got.detail;
    ASSERT_EQ(got.picture->width, page.pixels.width);
    ASSERT_EQ(got.picture->height, page.pixels.height);
    const std::vector<std::uint8_t> shown = OnWhite(*got.picture);
    const std::vector<std::uint8_t> expected = OnWhite(page.pixels);
    ASSERT_EQ(shown.size(), expected.size());
    int worst = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) {
      worst = std::max(worst, std::abs(shown[i] - expected[i]));
    }
    EXPECT_LE(worst, page.tolerance) << "largest difference of a sample";
  }
}

// A link planted under the name of the PDF's next temporary: the book is
// written all the same, and the link's target is not touched.
TEST_F(PdfBookToolsTest, ALinkUnderTheTemporarysNameIsNotFollowed) {
  const fs::path victim = root_ / "victim.txt";
  std::ofstream(victim) << "precious";
  const std::string jpeg = MakeJpeg({.width = 8, .height = 8, .page = 1});
  std::ofstream(root_ / "1.jpg", std::ios::binary) << jpeg;
  const Text pdf = (root_ / "book.pdf").string();
  TemporaryFile probe = CreateTemporaryBeside(pdf);
  ASSERT_TRUE(probe.file.IsOpen()) << probe.error;
  const std::uint32_t next =
      ParseTemporaryFileName(probe.path.substr(FolderOfPath(probe.path).size()))->counter + 1;
  ASSERT_TRUE(probe.file.Close());
  ASSERT_TRUE(RemoveFile(probe.path));
  for (std::uint32_t n = next; n < next + 3; ++n) {
    fs::create_symlink(victim, root_ / TemporaryFileName("book.pdf", n));
  }
  const PdfResult result = WritePdfBook(pdf, "Book", {(root_ / "1.jpg").string()});
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(ReadAll(victim), "precious");
  EXPECT_EQ(ReadAll(root_ / "book.pdf").rfind("%PDF-", 0), 0u);
}

}  // namespace
}  // namespace folivex
