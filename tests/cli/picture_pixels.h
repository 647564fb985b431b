// The pixels of decoded pictures in the forms the PDF tests compare them in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/picture.h"

namespace folivex {

// Any picture as RGBA, grey spread over the three colours, opaque where it
// has no alpha.
inline std::vector<std::uint8_t> AsRgba(const DecodedPicture& picture) {
  std::vector<std::uint8_t> out;
  const std::size_t count = std::size_t(picture.width) * picture.height;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* p = &picture.pixels[i * picture.channels];
    const bool grey = picture.channels <= 2;
    const bool alpha = picture.channels == 2 || picture.channels == 4;
    out.insert(out.end(), {p[0], grey ? p[0] : p[1], grey ? p[0] : p[2],
                           alpha ? p[picture.channels - 1] : std::uint8_t{255}});
  }
  return out;
}

// What a picture shows on white paper, as RGB: its alpha blended with white.
inline std::vector<std::uint8_t> OnWhite(const DecodedPicture& picture) {
  const std::vector<std::uint8_t> rgba = AsRgba(picture);
  std::vector<std::uint8_t> out;
  out.reserve(rgba.size() / 4 * 3);
  for (std::size_t i = 0; i < rgba.size(); i += 4) {
    const int alpha = rgba[i + 3];
    for (std::size_t c = 0; c < 3; ++c) {
      out.push_back(static_cast<std::uint8_t>((rgba[i + c] * alpha + 255 * (255 - alpha) + 127) / 255));
    }
  }
  return out;
}

}  // namespace folivex
