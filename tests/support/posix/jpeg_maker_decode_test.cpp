// The test pictures decode, with any size and either chroma layout, to the
// pixels they were made from; checked with ImageMagick's decoder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/jpeg_maker.h"

namespace folivex {
namespace {

bool HaveConvert() { return std::system("convert -version >/dev/null 2>&1") == 0; }

// Decodes through a PPM file; empty on failure. -regard-warnings makes any
// decoder complaint (corrupt data, premature end) a failure.
std::string DecodeToRgb(const std::string& jpeg, int* width, int* height) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("folivex-jpeg-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string in = (dir / "in.jpg").string(), out = (dir / "out.ppm").string();
  std::ofstream(in, std::ios::binary) << jpeg;
  std::string command = "convert -regard-warnings '" + in + "' -depth 8 ppm:'" + out + "' 2>/dev/null";
  std::string pixels;
  if (std::system(command.c_str()) == 0) {
    std::ifstream file(out, std::ios::binary);
    std::string data(std::istreambuf_iterator<char>(file), {});
    // P6, width, height, maximum, each after white space or a '#' comment
    // line (the decoder copies the JPEG comment there).
    std::size_t at = 2;
    int fields[3] = {};
    for (int& field : fields) {
      while (at < data.size() && (std::isspace(static_cast<unsigned char>(data[at])) || data[at] == '#')) {
        if (data[at] == '#') at = data.find('\n', at);
        if (at == std::string::npos) return {};
        ++at;
      }
      while (at < data.size() && std::isdigit(static_cast<unsigned char>(data[at]))) {
        field = field * 10 + (data[at++] - '0');
      }
    }
    *width = fields[0];
    *height = fields[1];
    pixels = data.substr(std::min(at + 1, data.size()));
  }
  std::filesystem::remove_all(dir);
  return pixels;
}

TEST(JpegMakerDecode, DecodesToThePicture) {
  if (!HaveConvert()) GTEST_SKIP() << "ImageMagick convert is not installed";
  struct Case {
    const char* name;
    int width, height, page;
    bool subsample;
    int noise;
    std::size_t target;
  } cases[] = {
      {"4:2:0 page", 240, 320, 1, true, 0, 0},
      {"4:4:4 odd size", 241, 333, 12, false, 0, 0},
      {"tiny, smaller than a block", 5, 3, 7, true, 0, 0},
      {"single pixel", 1, 1, 3, false, 0, 0},
      {"noisy", 120, 90, 45, true, 30, 0},
      {"padded to 150 KB", 600, 800, 88, true, 0, 153600},
      {"padded by one byte past a full comment", 16, 16, 2, true, 0, 700 + 65533},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JpegOptions options;
    options.width = c.width;
    options.height = c.height;
    options.page = c.page;
    options.subsample = c.subsample;
    options.noise = c.noise;
    options.target_size = c.target;
    std::string jpeg = MakeJpeg(options);
    int width = 0, height = 0;
    std::string decoded = DecodeToRgb(jpeg, &width, &height);
    ASSERT_EQ(width, c.width);
    ASSERT_EQ(height, c.height);
    auto expected = PagePixels(options);
    ASSERT_EQ(decoded.size(), expected.size());
    // Lossy, but close: a broken table or bit order gives garbage, far
    // beyond this. Brightness only, since halved chroma legitimately smears
    // the colour of details one or two pixels wide.
    auto luma = [](auto r, auto g, auto b) {
      return 0.299 * static_cast<unsigned char>(r) + 0.587 * static_cast<unsigned char>(g) +
             0.114 * static_cast<unsigned char>(b);
    };
    double error = 0;
    for (std::size_t i = 0; i < expected.size(); i += 3) {
      error += std::abs(luma(decoded[i], decoded[i + 1], decoded[i + 2]) -
                        luma(expected[i], expected[i + 1], expected[i + 2]));
    }
    error *= 3;
    EXPECT_LT(error / expected.size(), c.noise ? 20.0 : 12.0);
  }
}

}  // namespace
}  // namespace folivex
