// WebP pictures for tests, on every system the tests run on.
//
// MakeWebp draws the same page pictures as the JPEG maker and stores them
// losslessly with a small encoder of our own: every pixel is a literal under
// fixed 8-bit codes, so a file is about three bytes a pixel, and every WebP
// reader decodes it to exactly the pixels drawn.
//
// EncoderWebpSamples are files of the real encoder (cwebp), made at build
// time: the lossy, lossy-with-alpha and lossless layouts sites serve.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/jpeg_maker.h"

namespace folivex {

// The picture for `options` (its size, page number and noise; quality and
// padding mean nothing here) as a lossless WebP file.
std::string MakeWebp(const JpegOptions& options);

// `pixels` (width * height * channels bytes, rows top to bottom; channels 3
// for RGB, 4 for RGBA) as a lossless WebP file. With 4 channels the header
// says the picture uses alpha.
std::string EncodeWebpLossless(const std::vector<std::uint8_t>& pixels, int width, int height,
                               int channels);

struct EncoderWebp {
  std::string name;   // "lossy", "lossy-alpha", "lossless"
  std::string bytes;
  int width = 0;
  int height = 0;
  bool alpha = false;
};
const std::vector<EncoderWebp>& EncoderWebpSamples();

}  // namespace folivex
