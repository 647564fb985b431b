// PNG pictures for tests, in every layout the format has: each colour type
// and bit depth, Adam7 interlacing, tRNS transparency. Rows cycle through
// the five filters and the data is split over several IDAT chunks, so a
// reader meets every case. Each file comes with the 8-bit pixels a correct
// reader gets from it.
#pragma once

#include <string>

#include "platform/picture.h"
#include "support/jpeg_maker.h"

namespace folivex {

struct PngOptions {
  int colour_type = 2;        // 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGBA
  int bit_depth = 8;          // 1, 2, 4, 8, 16 as the colour type allows
  bool interlaced = false;    // Adam7
  bool transparency = false;  // a tRNS chunk (colour types 0, 2 and 3)
  std::size_t idat_size = 1000;  // the most data bytes in one IDAT chunk
};

struct PngSample {
  std::string bytes;
  // What a reader gets: grey 1 channel, grey with alpha (a tRNS key or
  // colour type 4) 2, RGB (and a palette) 3, with alpha 4; 16-bit samples
  // rounded to 8 bits.
  DecodedPicture pixels;
};

// The page picture of `picture` (size, page number, noise) in the PNG
// layout of `png`: grey levels, palette indexes and alpha are derived from
// the picture's colours and position.
PngSample MakePng(const JpegOptions& picture, const PngOptions& png);

}  // namespace folivex
