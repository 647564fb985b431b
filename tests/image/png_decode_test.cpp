// PNG reading: every colour type, depth and interlacing the maker writes
// must come back as the pixels it says a reader gets; damaged files must be
// refused, never read past.
#include "image/png_decode.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

#include "image/image_format.h"
#include "support/png_maker.h"

namespace folivex {
namespace {

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

PictureDecode Decode(const Bytes& bytes) {
  PngRead read = ReadPngLayout(bytes.data(), bytes.size());
  if (!read.layout) {
    PictureDecode failed;
    failed.failure = read.failure;
    failed.detail = read.detail;
    return failed;
  }
  return DecodePng(*read.layout);
}

// Odd sizes, so the last byte of a row and the last column of each Adam7
// pass are partly filled.
const JpegOptions kPicture = {.width = 29, .height = 21, .page = 5, .noise = 40};

TEST(DecodePng, GivesThePixelsOfEveryLayout) {
  struct Case {
    const char* name;
    PngOptions png;
  } cases[] = {
      {"RGB", {.colour_type = 2}},
      {"RGB 16-bit", {.colour_type = 2, .bit_depth = 16}},
      {"RGB with a colour key", {.colour_type = 2, .transparency = true}},
      {"RGBA", {.colour_type = 6}},
      {"RGBA 16-bit", {.colour_type = 6, .bit_depth = 16}},
      {"grey 1-bit", {.colour_type = 0, .bit_depth = 1}},
      {"grey 2-bit", {.colour_type = 0, .bit_depth = 2}},
      {"grey 4-bit", {.colour_type = 0, .bit_depth = 4}},
      {"grey 8-bit", {.colour_type = 0}},
      {"grey 16-bit", {.colour_type = 0, .bit_depth = 16}},
      {"grey with a key", {.colour_type = 0, .bit_depth = 4, .transparency = true}},
      {"grey and alpha", {.colour_type = 4}},
      {"grey and alpha 16-bit", {.colour_type = 4, .bit_depth = 16}},
      {"palette 1-bit", {.colour_type = 3, .bit_depth = 1}},
      {"palette 4-bit", {.colour_type = 3, .bit_depth = 4}},
      {"palette 8-bit", {.colour_type = 3}},
      {"palette with alpha", {.colour_type = 3, .transparency = true}},
      {"interlaced RGB", {.colour_type = 2, .interlaced = true}},
      {"interlaced palette 2-bit", {.colour_type = 3, .bit_depth = 2, .interlaced = true}},
      {"interlaced RGBA 16-bit", {.colour_type = 6, .bit_depth = 16, .interlaced = true}},
      {"one IDAT chunk per byte", {.colour_type = 2, .idat_size = 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PngSample sample = MakePng(kPicture, c.png);
    const Bytes bytes = ToBytes(sample.bytes);
    ASSERT_TRUE(IsCompleteImage(bytes));
    PictureDecode decoded = Decode(bytes);
    ASSERT_TRUE(decoded.picture) << decoded.detail;
    EXPECT_EQ(decoded.picture->width, kPicture.width);
    EXPECT_EQ(decoded.picture->height, kPicture.height);
    EXPECT_EQ(decoded.picture->channels, sample.pixels.channels);
    EXPECT_TRUE(decoded.picture->pixels == sample.pixels.pixels);
  }
}

TEST(DecodePng, InterlacingCoversPicturesSmallerThanAPass) {
  for (int width = 1; width <= 9; ++width) {
    for (int height : {1, 2, 5}) {
      SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
      const PngSample sample =
          MakePng({.width = width, .height = height}, {.colour_type = 2, .interlaced = true});
      PictureDecode decoded = Decode(ToBytes(sample.bytes));
      ASSERT_TRUE(decoded.picture) << decoded.detail;
      EXPECT_TRUE(decoded.picture->pixels == sample.pixels.pixels);
    }
  }
}

// The byte offset of the first chunk of `type` in a PNG.
std::size_t ChunkAt(const Bytes& png, const char* type) {
  std::string text(png.begin(), png.end());
  return text.find(type) - 4;
}

TEST(DecodePng, RefusesDamagedFiles) {
  const Bytes good = ToBytes(MakePng(kPicture, {.colour_type = 2}).bytes);
  const Bytes palette = ToBytes(MakePng(kPicture, {.colour_type = 3}).bytes);
  auto changed = [](Bytes bytes, std::size_t at, std::uint8_t value) {
    bytes[at] = value;
    return bytes;
  };
  auto without_chunk = [](Bytes bytes, const char* type) {
    std::size_t at = ChunkAt(bytes, type);
    std::size_t length = (std::size_t{bytes[at]} << 24) | (bytes[at + 1] << 16) |
                         (bytes[at + 2] << 8) | bytes[at + 3];
    bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                bytes.begin() + static_cast<std::ptrdiff_t>(at + 12 + length));
    return bytes;
  };
  // A picture whose rows end early: the IHDR says one more row.
  Bytes taller = good;
  taller[ChunkAt(taller, "IHDR") + 8 + 7] += 1;
  struct Case {
    const char* name;
    Bytes bytes;
    DecodeFailure failure;
  } cases[] = {
      {"no signature", Bytes(good.begin() + 1, good.end()), DecodeFailure::Damaged},
      {"cut short", Bytes(good.begin(), good.end() - 13), DecodeFailure::Damaged},
      {"a flipped data bit", changed(good, ChunkAt(good, "IDAT") + 20, 0x5A),
       DecodeFailure::Damaged},
      {"rows missing (CRC made to fit)", taller, DecodeFailure::Damaged},
      {"no picture data", without_chunk(good, "IDAT"), DecodeFailure::Damaged},
      {"palette picture without its palette", without_chunk(palette, "PLTE"),
       DecodeFailure::Damaged},
      {"bit depth 3", changed(good, ChunkAt(good, "IHDR") + 16, 3), DecodeFailure::Damaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PictureDecode decoded = Decode(c.bytes);
    EXPECT_FALSE(decoded.picture);
    EXPECT_EQ(decoded.failure, c.failure);
    EXPECT_FALSE(decoded.detail.empty());
  }
}

TEST(DecodePng, RefusesHugeHeadersBeforeTakingMemory) {
  const Bytes good = ToBytes(MakePng(kPicture, {.colour_type = 2}).bytes);
  const PngRead read = ReadPngLayout(good.data(), good.size());
  ASSERT_TRUE(read.layout);
  PngLayout huge = *read.layout;
  huge.width = 10000;  // at the pixel limit: 300 MB of rows if taken at once
  huge.height = 10000;
  PictureDecode decoded = DecodePng(huge);
  EXPECT_EQ(decoded.failure, DecodeFailure::Damaged) << "rows missing, not memory taken";
}

// Gives every chunk whose length fits a CRC that matches, so damage reaches
// past the CRC check into the header, the palette and the data.
void FixCrcs(Bytes& png) {
  std::size_t at = 8;
  while (at + 12 <= png.size()) {
    std::size_t length = (std::size_t{png[at]} << 24) | (png[at + 1] << 16) |
                         (png[at + 2] << 8) | png[at + 3];
    if (length > png.size() - at - 12) return;
    uLong crc = crc32(0L, &png[at + 4], static_cast<uInt>(4 + length));
    for (int k = 0; k < 4; ++k) png[at + 8 + length + k] = static_cast<std::uint8_t>(crc >> (24 - 8 * k));
    at += 12 + length;
  }
}

// Random damage to real files: never a read outside the bytes (the
// sanitizer build sees that), and a picture only of the size the header says.
TEST(DecodePng, DamagedInputNeitherCrashesNorLies) {
  std::mt19937 random(77);
  const PngOptions layouts[] = {{.colour_type = 2}, {.colour_type = 3, .bit_depth = 2},
                                {.colour_type = 6, .bit_depth = 16, .interlaced = true}};
  for (const PngOptions& layout : layouts) {
    const Bytes good = ToBytes(MakePng(kPicture, layout).bytes);
    for (int round = 0; round < 300; ++round) {
      Bytes damaged = good;
      int flips = 1 + static_cast<int>(random() % 3);
      for (int f = 0; f < flips; ++f) {
        damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
      }
      if (random() % 2 == 0) FixCrcs(damaged);
      if (random() % 4 == 0) damaged.resize(random() % damaged.size());
      PictureDecode decoded = Decode(damaged);
      if (decoded.picture) {
        ASSERT_EQ(decoded.picture->pixels.size(),
                  std::size_t(decoded.picture->width) * decoded.picture->height *
                      decoded.picture->channels);
      }
    }
  }
}

}  // namespace
}  // namespace folivex
