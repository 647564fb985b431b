#include "support/png_maker.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace folivex {
namespace {

void PutBigEndian(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void PutChunk(std::string& out, const char* type, const std::string& data) {
  PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  out += body;
  PutBigEndian(out, static_cast<std::uint32_t>(
                        crc32(0L, reinterpret_cast<const Bytef*>(body.data()),
                              static_cast<uInt>(body.size()))));
}

int Paeth(int a, int b, int c) {
  int p = a + b - c;
  int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

struct Pass {
  int x0, y0, dx, dy;
};

}  // namespace

PngSample MakePng(const JpegOptions& picture, const PngOptions& png) {
  const int width = std::max(1, picture.width);
  const int height = std::max(1, picture.height);
  const std::vector<std::uint8_t> rgb = PagePixels(picture);
  const int type = png.colour_type;
  const int depth = png.bit_depth;
  const int max = (1 << depth) - 1;
  const int stored = type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : 1;

  // Samples as stored, at full depth, pixel by pixel.
  std::vector<unsigned> samples(std::size_t(width) * height * stored);
  auto stored_at = [&](int x, int y) { return &samples[(std::size_t(y) * width + x) * stored]; };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = &rgb[(std::size_t(y) * width + x) * 3];
      unsigned* s = stored_at(x, y);
      // 16-bit samples get low bits of their own, so rounding to 8 bits shows.
      auto widen = [&](int value8) -> unsigned {
        if (depth == 16) return static_cast<unsigned>(std::clamp(value8 * 257 + ((x * 37 + y * 11) % 255) - 127, 0, 65535));
        return static_cast<unsigned>(value8 * max / 255);
      };
      const int grey = (p[0] + p[1] + p[2]) / 3;
      const int alpha = (x * 255) / std::max(1, width - 1);
      switch (type) {
        case 0: s[0] = widen(grey); break;
        case 3: s[0] = static_cast<unsigned>(grey * max / 255); break;
        case 4: s[0] = widen(grey); s[1] = widen(alpha); break;
        case 2: for (int c = 0; c < 3; ++c) s[c] = widen(p[c]); break;
        default: for (int c = 0; c < 3; ++c) s[c] = widen(p[c]); s[3] = widen(alpha); break;
      }
    }
  }

  // A palette ramp, every entry of another colour; tRNS gives the entries
  // falling alpha. For grey and RGB, tRNS names the top-left pixel's value.
  std::string palette, transparency;
  std::vector<std::uint8_t> palette_rgb, palette_alpha;
  if (type == 3) {
    for (int i = 0; i <= max; ++i) {
      const std::uint8_t entry[3] = {static_cast<std::uint8_t>(i * 255 / max),
                                     static_cast<std::uint8_t>(255 - i * 255 / max),
                                     static_cast<std::uint8_t>((i * 97) % 256)};
      palette_rgb.insert(palette_rgb.end(), entry, entry + 3);
      palette_alpha.push_back(static_cast<std::uint8_t>(255 - i * 255 / max));
    }
    palette.assign(palette_rgb.begin(), palette_rgb.end());
    if (png.transparency) transparency.assign(palette_alpha.begin(), palette_alpha.end());
  } else if (png.transparency && (type == 0 || type == 2)) {
    for (int c = 0; c < stored; ++c) {
      transparency += static_cast<char>(stored_at(0, 0)[c] >> 8);
      transparency += static_cast<char>(stored_at(0, 0)[c] & 0xFF);
    }
  }

  // What a reader shows.
  PngSample sample;
  DecodedPicture& out = sample.pixels;
  out.width = width;
  out.height = height;
  const bool keyed = !transparency.empty();
  out.channels = type == 3 ? (keyed ? 4 : 3) : type == 0 ? (keyed ? 2 : 1)
                 : type == 2 ? (keyed ? 4 : 3) : stored;
  out.pixels.resize(std::size_t(width) * height * out.channels);
  auto to8 = [&](unsigned v) {
    return static_cast<std::uint8_t>(depth == 16 ? (v + 128) / 257 : v * 255 / max);
  };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned* s = stored_at(x, y);
      std::uint8_t* o = &out.pixels[(std::size_t(y) * width + x) * out.channels];
      bool key = keyed && type != 3;
      for (int c = 0; key && c < stored; ++c) key = s[c] == stored_at(0, 0)[c];
      if (type == 3) {
        for (int c = 0; c < 3; ++c) o[c] = palette_rgb[s[0] * 3 + c];
        if (keyed) o[3] = palette_alpha[s[0]];
      } else {
        for (int c = 0; c < stored; ++c) o[c] = to8(s[c]);
        if (keyed) o[stored] = key ? 0 : 255;
      }
    }
  }

  // The rows of each pass, packed, filtered with the filters in turn.
  const std::vector<Pass> passes =
      png.interlaced ? std::vector<Pass>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                         {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
                     : std::vector<Pass>{{0, 0, 1, 1}};
  const int bits_per_pixel = stored * depth;
  const std::size_t bpp = std::max(1, bits_per_pixel / 8);
  std::vector<std::uint8_t> raw;
  int row_number = 0;
  for (const Pass& pass : passes) {
    const int columns = width > pass.x0 ? (width - pass.x0 + pass.dx - 1) / pass.dx : 0;
    const int rows = columns && height > pass.y0 ? (height - pass.y0 + pass.dy - 1) / pass.dy : 0;
    const std::size_t row_bytes = (std::size_t(columns) * bits_per_pixel + 7) / 8;
    std::vector<std::uint8_t> previous, row;
    for (int r = 0; r < rows; ++r) {
      row.assign(row_bytes, 0);
      std::size_t bit = 0;
      for (int c = 0; c < columns; ++c) {
        const unsigned* s = stored_at(pass.x0 + c * pass.dx, pass.y0 + r * pass.dy);
        for (int k = 0; k < stored; ++k, bit += depth) {
          if (depth == 16) {
            row[bit / 8] = static_cast<std::uint8_t>(s[k] >> 8);
            row[bit / 8 + 1] = static_cast<std::uint8_t>(s[k]);
          } else {
            row[bit / 8] |= static_cast<std::uint8_t>(s[k] << (8 - depth - bit % 8));
          }
        }
      }
      const int filter = row_number++ % 5;
      raw.push_back(static_cast<std::uint8_t>(filter));
      for (std::size_t i = 0; i < row_bytes; ++i) {
        int a = i >= bpp ? row[i - bpp] : 0;
        int b = previous.empty() ? 0 : previous[i];
        int c = !previous.empty() && i >= bpp ? previous[i - bpp] : 0;
        int predicted = filter == 0 ? 0 : filter == 1 ? a : filter == 2 ? b
                        : filter == 3 ? (a + b) / 2 : Paeth(a, b, c);
        raw.push_back(static_cast<std::uint8_t>(row[i] - predicted));
      }
      previous = row;
    }
  }
  std::vector<std::uint8_t> packed(compressBound(static_cast<uLong>(raw.size())));
  uLongf packed_size = static_cast<uLongf>(packed.size());
  compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()), 9);

  std::string& file = sample.bytes;
  file = "\x89PNG\r\n\x1A\n";
  std::string header;
  PutBigEndian(header, static_cast<std::uint32_t>(width));
  PutBigEndian(header, static_cast<std::uint32_t>(height));
  header += static_cast<char>(depth);
  header += static_cast<char>(type);
  header += std::string(2, '\0');
  header += static_cast<char>(png.interlaced ? 1 : 0);
  PutChunk(file, "IHDR", header);
  if (!palette.empty()) PutChunk(file, "PLTE", palette);
  if (!transparency.empty()) PutChunk(file, "tRNS", transparency);
  PutChunk(file, "tEXt", std::string("Comment\0test page", 17));
  for (std::size_t at = 0; at < packed_size; at += png.idat_size) {
    const std::size_t n = std::min<std::size_t>(png.idat_size, packed_size - at);
    PutChunk(file, "IDAT", std::string(reinterpret_cast<const char*>(packed.data() + at), n));
  }
  PutChunk(file, "IEND", "");
  return sample;
}

}  // namespace folivex
