// Decoded pictures: 8-bit samples, rows top to bottom, channels
// interleaved. What the PDF writer embeds when a page file cannot go in as
// it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace folivex {

struct DecodedPicture {
  int width = 0;
  int height = 0;
  // 1 grey, 2 grey and alpha, 3 RGB, 4 RGBA; alpha is straight (not
  // premultiplied), 255 opaque.
  int channels = 0;
  std::vector<std::uint8_t> pixels;  // width * height * channels bytes
};

// Why a picture could not be decoded.
enum class DecodeFailure {
  None,
  Damaged,      // the file breaks its format
  Unsupported,  // a kind of file or a feature this build cannot decode
  NoDecoder,    // the system has no decoder for the format
  TooLarge,     // more pixels than a page is allowed to hold in memory
};

struct PictureDecode {
  std::optional<DecodedPicture> picture;
  DecodeFailure failure = DecodeFailure::None;
  std::string detail;  // in UTF-8, for people; empty on success
};

// The largest picture decoded to pixels: 100 million pixels, 400 MB as
// RGBA. Pages are far smaller; a header claiming more is refused before any
// memory is taken.
inline constexpr std::uint64_t kMaxDecodedPixels = 100'000'000;

// Decodes a still WebP picture to RGB, or RGBA when it has alpha (an
// animation is Unsupported: pages are still pictures). Linux uses libwebp; Windows uses the
// system's imaging component, which decodes WebP where the system's WebP
// codec is installed (current Windows 10 and 11) and reports NoDecoder
// elsewhere.
PictureDecode DecodeWebp(const std::uint8_t* data, std::size_t size);

}  // namespace folivex
