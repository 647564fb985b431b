// The system's imaging component decodes what Wine decodes too (PNG), so
// the pixel copy behind the WebP pages is checked on every Windows run.
#include "platform/win32/imaging.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/png_maker.h"

namespace folivex {
namespace {

// The expected pixels as RGB or RGBA, as the imaging component gives them.
std::vector<std::uint8_t> AsColour(const DecodedPicture& picture, bool alpha) {
  std::vector<std::uint8_t> out;
  const std::size_t count = std::size_t(picture.width) * picture.height;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* p = &picture.pixels[i * picture.channels];
    const bool grey = picture.channels <= 2;
    out.insert(out.end(), {p[0], grey ? p[0] : p[1], grey ? p[0] : p[2]});
    if (alpha) out.push_back(picture.channels == 2 || picture.channels == 4 ? p[picture.channels - 1] : 255);
  }
  return out;
}

TEST(ImagingComponent, DecodesPngToThePixelsOfTheFile) {
  struct Case {
    const char* name;
    PngOptions png;
    bool alpha;
  } cases[] = {
      {"RGB", {.colour_type = 2}, false},
      {"palette", {.colour_type = 3, .bit_depth = 4}, false},
      {"RGBA", {.colour_type = 6}, true},
      {"interlaced grey", {.colour_type = 0, .interlaced = true}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PngSample sample = MakePng({.width = 23, .height = 17, .page = 4, .noise = 30}, c.png);
    PictureDecode decoded = DecodeWithImagingComponent(
        reinterpret_cast<const std::uint8_t*>(sample.bytes.data()), sample.bytes.size());
    ASSERT_TRUE(decoded.picture) << decoded.detail;
    EXPECT_EQ(decoded.picture->width, 23);
    EXPECT_EQ(decoded.picture->height, 17);
    ASSERT_EQ(decoded.picture->channels, c.alpha ? 4 : 3);
    EXPECT_TRUE(decoded.picture->pixels == AsColour(sample.pixels, c.alpha));
  }
}

TEST(ImagingComponent, NamesWhatItCannotDecode) {
  const std::string html = "<html>403 Forbidden</html>";
  PictureDecode decoded = DecodeWithImagingComponent(
      reinterpret_cast<const std::uint8_t*>(html.data()), html.size());
  EXPECT_FALSE(decoded.picture);
  EXPECT_NE(decoded.failure, DecodeFailure::None);
  EXPECT_FALSE(decoded.detail.empty());
}

}  // namespace
}  // namespace folivex
