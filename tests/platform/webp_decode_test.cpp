// WebP decoding through the system's decoder, with the test makers' files:
// our own lossless encoder's pages and the real encoder's three layouts.
// Where the system has no WebP decoder (Windows without its WebP codec,
// Wine) the cases that need one are skipped; libwebp always has one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "image/image_format.h"
#include "platform/picture.h"
#include "support/webp_maker.h"

namespace folivex {
namespace {

PictureDecode Decode(const std::string& file) {
  return DecodeWebp(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
}

#define SKIP_WITHOUT_DECODER(decoded)                             \
  if ((decoded).failure == DecodeFailure::NoDecoder) {            \
    GTEST_SKIP() << "no WebP decoder here: " << (decoded).detail; \
  }

TEST(DecodeWebp, OurLosslessPagesComeBackExactly) {
  const JpegOptions pictures[] = {
      {.width = 1, .height = 1, .page = 1},
      {.width = 17, .height = 9, .page = 2},
      {.width = 120, .height = 160, .page = 3, .noise = 60},
  };
  for (const JpegOptions& picture : pictures) {
    SCOPED_TRACE(std::to_string(picture.width) + " x " + std::to_string(picture.height));
    const std::string file = MakeWebp(picture);
    const Bytes bytes(file.begin(), file.end());
    EXPECT_EQ(SniffImage(bytes), ImageKind::Webp);
    EXPECT_TRUE(IsCompleteImage(bytes));
    PictureDecode decoded = Decode(file);
    SKIP_WITHOUT_DECODER(decoded);
    ASSERT_TRUE(decoded.picture) << decoded.detail;
    EXPECT_EQ(decoded.picture->width, picture.width);
    EXPECT_EQ(decoded.picture->height, picture.height);
    EXPECT_EQ(decoded.picture->channels, 3);
    EXPECT_TRUE(decoded.picture->pixels == PagePixels(picture));
  }
}

TEST(DecodeWebp, AlphaComesBackStraight) {
  std::vector<std::uint8_t> rgba;
  for (int i = 0; i < 8 * 4; ++i) {
    rgba.insert(rgba.end(), {static_cast<std::uint8_t>(i * 8), 100, 200,
                             static_cast<std::uint8_t>(i * 8 + 3)});
  }
  PictureDecode decoded = Decode(EncodeWebpLossless(rgba, 8, 4, 4));
  SKIP_WITHOUT_DECODER(decoded);
  ASSERT_TRUE(decoded.picture) << decoded.detail;
  EXPECT_EQ(decoded.picture->channels, 4);
  EXPECT_TRUE(decoded.picture->pixels == rgba);
}

// The lossy files show the same picture as the lossless one, within what a
// lossy encoder at quality 80 changes.
TEST(DecodeWebp, ReadsTheRealEncodersLayouts) {
  const std::vector<EncoderWebp>& samples = EncoderWebpSamples();
  ASSERT_EQ(samples.size(), 3u);
  std::vector<std::uint8_t> reference;
  for (auto it = samples.rbegin(); it != samples.rend(); ++it) {  // lossless first
    const EncoderWebp& sample = *it;
    SCOPED_TRACE(sample.name);
    const Bytes bytes(sample.bytes.begin(), sample.bytes.end());
    ASSERT_EQ(SniffImage(bytes), ImageKind::Webp);
    ASSERT_TRUE(IsCompleteImage(bytes));
    PictureDecode decoded = Decode(sample.bytes);
    SKIP_WITHOUT_DECODER(decoded);
    ASSERT_TRUE(decoded.picture) << decoded.detail;
    const DecodedPicture& picture = *decoded.picture;
    EXPECT_EQ(picture.width, sample.width);
    EXPECT_EQ(picture.height, sample.height);
    ASSERT_EQ(picture.channels, sample.alpha ? 4 : 3);
    if (reference.empty()) {
      reference = picture.pixels;
      continue;
    }
    long long difference = 0;
    const std::size_t count = std::size_t(picture.width) * picture.height;
    for (std::size_t i = 0; i < count; ++i) {
      for (int c = 0; c < 3; ++c) {
        difference += std::abs(picture.pixels[i * picture.channels + c] - reference[i * 3 + c]);
      }
    }
    EXPECT_LT(difference / static_cast<long long>(count * 3), 8) << "mean difference per sample";
    if (sample.alpha) {
      // The ramp runs from transparent at the left to opaque at the right.
      EXPECT_LT(picture.pixels[3], 16);
      EXPECT_GT(picture.pixels[(std::size_t(picture.width) - 1) * 4 + 3], 239);
    }
  }
}

TEST(DecodeWebp, RefusesWhatIsNoWholePicture) {
  const std::string good = MakeWebp({.width = 20, .height = 10});
  {
    PictureDecode decoded = Decode(good);
    SKIP_WITHOUT_DECODER(decoded);
    ASSERT_TRUE(decoded.picture);
  }
  std::string bad_signature = good;
  bad_signature[20] = 0x2E;  // the VP8L signature byte
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"cut short", good.substr(0, good.size() / 2)},
      {"header only", good.substr(0, 12)},
      {"no VP8L signature", bad_signature},
      {"not WebP", "<html>403 Forbidden</html>"},
      {"nothing", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PictureDecode decoded = Decode(c.bytes);
    EXPECT_FALSE(decoded.picture);
    EXPECT_EQ(decoded.failure, DecodeFailure::Damaged) << decoded.detail;
    EXPECT_FALSE(decoded.detail.empty());
  }
}

}  // namespace
}  // namespace folivex
