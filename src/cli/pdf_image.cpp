#include "cli/pdf_image.h"

#include <zlib.h>

#include <cstdlib>

#include "image/png_decode.h"

namespace folivex {
namespace {

std::string Flate(int colours, int bits, int columns) {
  return " /Filter /FlateDecode /DecodeParms << /Predictor 15 /Colors " +
         std::to_string(colours) + " /BitsPerComponent " + std::to_string(bits) + " /Columns " +
         std::to_string(columns) + " >>";
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::uint8_t PaethPredictor(int a, int b, int c) {
  int p = a + b - c;
  int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
  return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

// Samples of `channels` bytes a pixel, each row filtered with whichever PNG
// filter leaves the smallest sum of residues (the usual guess at what
// deflates best), then deflated.
Bytes FilterAndDeflate(const std::vector<std::uint8_t>& samples, int width, int height,
                       int channels, int level) {
  const std::size_t row_bytes = std::size_t(width) * channels;
  const std::size_t bpp = static_cast<std::size_t>(channels);
  std::vector<std::uint8_t> filtered((row_bytes + 1) * height);
  std::vector<std::uint8_t> trial[5];
  for (auto& t : trial) t.resize(row_bytes);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = &samples[row_bytes * y];
    const std::uint8_t* up = y > 0 ? row - row_bytes : nullptr;
    std::uint64_t best_cost = ~0ull;
    int best = 0;
    for (int filter = 0; filter < 5; ++filter) {
      std::uint8_t* out = trial[filter].data();
      std::uint64_t cost = 0;
      for (std::size_t i = 0; i < row_bytes; ++i) {
        int a = i >= bpp ? row[i - bpp] : 0;
        int b = up ? up[i] : 0;
        int c = up && i >= bpp ? up[i - bpp] : 0;
        int predicted = filter == 0   ? 0
                        : filter == 1 ? a
                        : filter == 2 ? b
                        : filter == 3 ? (a + b) >> 1
                                      : PaethPredictor(a, b, c);
        std::uint8_t residue = static_cast<std::uint8_t>(row[i] - predicted);
        out[i] = residue;
        cost += residue < 128 ? residue : 256 - residue;
      }
      if (cost < best_cost) {
        best_cost = cost;
        best = filter;
      }
    }
    std::uint8_t* target = &filtered[(row_bytes + 1) * y];
    target[0] = static_cast<std::uint8_t>(best);
    std::copy(trial[best].begin(), trial[best].end(), target + 1);
  }

  Bytes out(compressBound(static_cast<uLong>(filtered.size())));
  uLongf length = static_cast<uLongf>(out.size());
  if (compress2(out.data(), &length, filtered.data(), static_cast<uLong>(filtered.size()), level) !=
      Z_OK) {
    return {};
  }
  out.resize(length);
  return out;
}

PdfPictureResult Failed(DecodeFailure failure, std::string detail) {
  PdfPictureResult result;
  result.failure = failure;
  result.detail = std::move(detail);
  return result;
}

}  // namespace

PdfPicture PixelPicture(const DecodedPicture& picture, int level) {
  const int channels = picture.channels;
  const bool has_alpha = channels == 2 || channels == 4;
  const int colours = has_alpha ? channels - 1 : channels;
  const std::size_t count = std::size_t(picture.width) * picture.height;

  PdfPicture out;
  out.width = picture.width;
  out.height = picture.height;
  bool opaque = true;
  if (has_alpha) {
    for (std::size_t i = 0; i < count && opaque; ++i) {
      opaque = picture.pixels[i * channels + colours] == 255;
    }
  }
  std::vector<std::uint8_t> colour;
  const std::vector<std::uint8_t>* samples = &picture.pixels;
  if (has_alpha) {
    colour.resize(count * colours);
    std::vector<std::uint8_t> alpha(opaque ? 0 : count);
    for (std::size_t i = 0; i < count; ++i) {
      for (int c = 0; c < colours; ++c) colour[i * colours + c] = picture.pixels[i * channels + c];
      if (!opaque) alpha[i] = picture.pixels[i * channels + colours];
    }
    samples = &colour;
    if (!opaque) {
      PdfImageStream mask;
      mask.entries = "/ColorSpace /DeviceGray /BitsPerComponent 8" + Flate(1, 8, picture.width);
      mask.data = FilterAndDeflate(alpha, picture.width, picture.height, 1, level);
      out.soft_mask = std::move(mask);
    }
  }
  out.image.entries = std::string("/ColorSpace ") + (colours == 1 ? "/DeviceGray" : "/DeviceRGB") +
                      " /BitsPerComponent 8" + Flate(colours, 8, picture.width);
  out.image.data = FilterAndDeflate(*samples, picture.width, picture.height, colours, level);
  return out;
}

PdfPictureResult PngPicture(const Bytes& png) {
  PngRead read = ReadPngLayout(png.data(), png.size());
  if (!read.layout) return Failed(read.failure, read.detail);
  const PngLayout& layout = *read.layout;
  // Decoded even when the data goes in as it is: a stream that does not
  // inflate to every row would leave a page readers cannot draw.
  PictureDecode decoded = DecodePng(layout);
  if (!decoded.picture) return Failed(decoded.failure, decoded.detail);

  PdfPictureResult result;
  const bool as_is = !layout.interlaced && layout.bit_depth <= 8 && layout.transparency.empty() &&
                     layout.colour_type != 4 && layout.colour_type != 6;
  if (!as_is) {
    result.picture = PixelPicture(*decoded.picture);
    return result;
  }
  PdfPicture picture;
  picture.width = layout.width;
  picture.height = layout.height;
  picture.passed_through = true;
  const std::string bits = std::to_string(layout.bit_depth);
  if (layout.colour_type == 3) {
    const int entries = static_cast<int>(layout.palette.size() / 3);
    picture.image.entries = "/ColorSpace [/Indexed /DeviceRGB " + std::to_string(entries - 1) +
                            " <" + Hex(layout.palette) + ">] /BitsPerComponent " + bits;
  } else {
    picture.image.entries = std::string("/ColorSpace ") +
                            (layout.colour_type == 0 ? "/DeviceGray" : "/DeviceRGB") +
                            " /BitsPerComponent " + bits;
  }
  picture.image.entries += Flate(layout.Channels(), layout.bit_depth, layout.width);
  picture.image.data = layout.data;
  result.picture = std::move(picture);
  return result;
}

PdfPictureResult WebpPicture(const Bytes& webp) {
  PictureDecode decoded = DecodeWebp(webp.data(), webp.size());
  if (!decoded.picture) return Failed(decoded.failure, decoded.detail);
  PdfPictureResult result;
  result.picture = PixelPicture(*decoded.picture);
  return result;
}

}  // namespace folivex
