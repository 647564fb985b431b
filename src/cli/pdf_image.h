// Page pictures other than JPEG made into PDF images without loss.
//
// A PNG whose samples PDF can read as they are (not interlaced, no
// transparency, at most 8 bits a sample) goes in with its own compressed
// data: PDF's Flate filter with PNG predictors reads IDAT data unchanged.
// Every other picture (WebP, PNG with alpha, interlaced or 16-bit) is
// decoded to 8-bit samples, filtered row by row the PNG way and deflated;
// its alpha becomes a soft mask. Nothing is lost that a screen can show.
#pragma once

#include <optional>
#include <string>

#include "platform/picture.h"
#include "text/text.h"

namespace folivex {

// The part of an image dictionary that describes the samples, and the
// stream that holds them.
struct PdfImageStream {
  // "/ColorSpace ... /BitsPerComponent n /Filter /FlateDecode
  // /DecodeParms << ... >>", without /Width, /Height or /Length.
  std::string entries;
  Bytes data;
};

struct PdfPicture {
  int width = 0;
  int height = 0;
  PdfImageStream image;
  // Alpha as a DeviceGray image of the same size; none when opaque.
  std::optional<PdfImageStream> soft_mask;
  // The file's own compressed samples, not decoded and encoded again.
  bool passed_through = false;
};

struct PdfPictureResult {
  std::optional<PdfPicture> picture;
  DecodeFailure failure = DecodeFailure::None;
  std::string detail;  // in UTF-8, for people; empty on success
};

// zlib's level for the samples this module deflates: 6, its usual default.
// On decoded WebP pages the PDF benchmark finds level 9 at most 4% smaller
// for up to four times the time, and level 1 up to 23% larger.
inline constexpr int kPdfDeflateLevel = 6;

PdfPictureResult PngPicture(const Bytes& png);
PdfPictureResult WebpPicture(const Bytes& webp);
// Decoded samples as a PDF image, deflated at `level` (1..9).
PdfPicture PixelPicture(const DecodedPicture& picture, int level = kPdfDeflateLevel);

}  // namespace folivex
