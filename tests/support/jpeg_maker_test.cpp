// The test picture maker: the padding must hit the byte count exactly, since
// downloads are compared byte for byte and sized pages drive the benchmark.
#include <gtest/gtest.h>

#include <string>

#include "support/jpeg_maker.h"

namespace folivex {
namespace {

// Walks the marker segments up to the scan; false when the layout is broken.
bool SegmentsAreSound(const std::string& jpeg, int* comments) {
  *comments = 0;
  if (jpeg.size() < 4 || jpeg.compare(0, 2, "\xFF\xD8") != 0 ||
      jpeg.compare(jpeg.size() - 2, 2, "\xFF\xD9") != 0) {
    return false;
  }
  std::size_t at = 2;
  while (at + 4 <= jpeg.size()) {
    if (static_cast<unsigned char>(jpeg[at]) != 0xFF) return false;
    unsigned char marker = static_cast<unsigned char>(jpeg[at + 1]);
    std::size_t length = static_cast<unsigned char>(jpeg[at + 2]) * 256u +
                         static_cast<unsigned char>(jpeg[at + 3]);
    if (length < 2) return false;
    if (marker == 0xFE) ++*comments;
    if (marker == 0xDA) return true;
    at += 2 + length;
  }
  return false;
}

TEST(JpegMaker, PadsToTheExactSize) {
  JpegOptions plain;
  plain.width = 64;
  plain.height = 48;
  const std::size_t natural = MakeJpeg(plain).size();
  struct Case {
    const char* name;
    std::size_t target;
    std::size_t expected;
  } cases[] = {
      {"no padding", 0, natural},
      {"below the natural size", natural / 2, natural},
      {"one byte more", natural + 1, natural + 1},
      {"three bytes more", natural + 3, natural + 3},
      {"fills one comment segment", natural + 65533 - 11, natural + 65533 - 11},
      {"one past one segment", natural + 65533 - 10, natural + 65533 - 10},
      {"a few past one segment", natural + 65533 - 8, natural + 65533 - 8},
      {"a page of 150 KB", 153600, 153600},
      {"a megabyte", 1 << 20, 1 << 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JpegOptions options = plain;
    options.target_size = c.target;
    std::string jpeg = MakeJpeg(options);
    EXPECT_EQ(jpeg.size(), c.expected);
    int comments = 0;
    EXPECT_TRUE(SegmentsAreSound(jpeg, &comments));
    EXPECT_GE(comments, 1);
  }
}

TEST(JpegMaker, PagesDifferAndRepeat) {
  JpegOptions one, two;
  one.page = 1;
  two.page = 2;
  one.target_size = two.target_size = 20000;
  EXPECT_NE(MakeJpeg(one), MakeJpeg(two));
  EXPECT_EQ(MakeJpeg(one), MakeJpeg(one));
}

}  // namespace
}  // namespace folivex
