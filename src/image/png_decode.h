// PNG files read with zlib: the chunk layout, for writers that can pass the
// compressed picture on as it is, and full decoding to 8-bit pixels.
//
// Pure: bytes in, values out. No input, however hostile, reads outside the
// bytes given, and nothing larger than kMaxDecodedPixels is decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/picture.h"

namespace folivex {

struct PngLayout {
  int width = 0;
  int height = 0;
  int bit_depth = 0;    // 1, 2, 4, 8 or 16
  int colour_type = 0;  // 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGBA
  bool interlaced = false;
  std::vector<std::uint8_t> palette;       // PLTE: RGB triples
  std::vector<std::uint8_t> transparency;  // tRNS as stored
  std::vector<std::uint8_t> data;          // the IDAT chunks joined: one zlib stream

  // Samples per pixel as stored: 1, 2, 3 or 4.
  int Channels() const;
};

struct PngRead {
  std::optional<PngLayout> layout;
  DecodeFailure failure = DecodeFailure::None;
  std::string detail;  // in UTF-8; empty on success
};

// Walks the chunks of a whole PNG: the signature, a valid IHDR, each chunk's
// CRC, PLTE where the colour type needs it, IDAT, IEND. Decodes nothing.
PngRead ReadPngLayout(const std::uint8_t* data, std::size_t size);

// Inflates and unfilters the picture (interlaced or not) and expands it to
// 8-bit samples: grey stays grey, a palette becomes RGB, 16-bit samples are
// rounded to 8 bits, and tRNS becomes an alpha channel. The zlib stream must
// hold every row; bytes after the last row are ignored.
PictureDecode DecodePng(const PngLayout& layout);

}  // namespace folivex
