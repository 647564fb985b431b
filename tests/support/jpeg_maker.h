// A small baseline JPEG encoder for test pictures: real, decodable files
// (sequential DCT, the standard Huffman tables, YCbCr 4:2:0 or 4:4:4) of any
// size, showing a page number on a coloured page, optionally padded to an
// exact byte count.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace folivex {

struct JpegOptions {
  int width = 240;
  int height = 320;
  int page = 1;            // the number drawn, and the seed of the colours and noise
  int quality = 85;        // 1..100, as in the usual quality scale
  bool subsample = true;   // 4:2:0 when true, 4:4:4 otherwise
  int noise = 0;           // amplitude 0..255 of pseudo-random noise on every pixel
  // Pads the file with comment segments to exactly this many bytes; 0, or a
  // size below the natural one, leaves the file as encoded.
  std::size_t target_size = 0;

  // Equal options give equal bytes, so pictures can be shared by them.
  auto operator<=>(const JpegOptions&) const = default;
};

// The picture for `options` as JPEG file bytes.
std::string MakeJpeg(const JpegOptions& options);

// Encodes `rgb` (width * height * 3 bytes, rows top to bottom) as a baseline
// JPEG; `comment` goes into a COM segment, padded as above.
std::string EncodeJpeg(const std::vector<std::uint8_t>& rgb, int width, int height, int quality,
                       bool subsample, const std::string& comment, std::size_t target_size = 0);

// The page picture's pixels (RGB) before encoding.
std::vector<std::uint8_t> PagePixels(const JpegOptions& options);

}  // namespace folivex
