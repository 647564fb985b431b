#include "image/png_decode.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace folivex {
namespace {

constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// The inflated rows of one picture may not exceed this; a 16-bit RGBA page
// at the pixel limit would need 800 MB.
constexpr std::uint64_t kMaxRawBytes = 1ull << 30;

std::uint32_t BigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
         (std::uint32_t{p[2]} << 8) | p[3];
}

PngRead Refused(DecodeFailure failure, std::string detail) {
  PngRead read;
  read.failure = failure;
  read.detail = std::move(detail);
  return read;
}

PictureDecode Failed(DecodeFailure failure, std::string detail) {
  PictureDecode result;
  result.failure = failure;
  result.detail = std::move(detail);
  return result;
}

bool ValidDepth(int colour_type, int depth) {
  switch (colour_type) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2: case 4: case 6: return depth == 8 || depth == 16;
    default: return false;
  }
}

// One pass of the picture: where its pixels sit in the full picture.
struct Pass {
  int x0, y0, dx, dy;
};
constexpr Pass kWhole[] = {{0, 0, 1, 1}};
// Adam7's seven passes.
constexpr Pass kAdam7[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                           {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

std::uint64_t PassColumns(const Pass& p, int width) {
  return width > p.x0 ? (std::uint64_t(width) - p.x0 + p.dx - 1) / p.dx : 0;
}
std::uint64_t PassRows(const Pass& p, int height) {
  return height > p.y0 ? (std::uint64_t(height) - p.y0 + p.dy - 1) / p.dy : 0;
}

std::uint8_t Paeth(int a, int b, int c) {
  int p = a + b - c;
  int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
  return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

// Undoes one row's filter in place; `previous` is the row above after its
// own unfiltering, or null for a pass's first row.
bool Unfilter(int filter, std::uint8_t* row, const std::uint8_t* previous, std::size_t length,
              std::size_t bpp) {
  switch (filter) {
    case 0:
      return true;
    case 1:
      for (std::size_t i = bpp; i < length; ++i) row[i] = static_cast<std::uint8_t>(row[i] + row[i - bpp]);
      return true;
    case 2:
      if (previous) {
        for (std::size_t i = 0; i < length; ++i) row[i] = static_cast<std::uint8_t>(row[i] + previous[i]);
      }
      return true;
    case 3:
      for (std::size_t i = 0; i < length; ++i) {
        int left = i >= bpp ? row[i - bpp] : 0;
        int up = previous ? previous[i] : 0;
        row[i] = static_cast<std::uint8_t>(row[i] + ((left + up) >> 1));
      }
      return true;
    case 4:
      for (std::size_t i = 0; i < length; ++i) {
        int left = i >= bpp ? row[i - bpp] : 0;
        int up = previous ? previous[i] : 0;
        int up_left = previous && i >= bpp ? previous[i - bpp] : 0;
        row[i] = static_cast<std::uint8_t>(row[i] + Paeth(left, up, up_left));
      }
      return true;
    default:
      return false;
  }
}

// Reads stored samples of one row and writes 8-bit output pixels.
class SampleReader {
 public:
  SampleReader(const PngLayout& layout, int out_channels)
      : layout_(layout), stored_(layout.Channels()), out_channels_(out_channels) {
    const auto& t = layout.transparency;
    if (layout.colour_type == 0 && t.size() >= 2) {
      key_[0] = (t[0] << 8) | t[1];
      keyed_ = true;
    } else if (layout.colour_type == 2 && t.size() >= 6) {
      for (int c = 0; c < 3; ++c) key_[c] = (t[2 * c] << 8) | t[2 * c + 1];
      keyed_ = true;
    }
  }

  // Sample `index` of the row as stored, at its own depth.
  unsigned Sample(const std::uint8_t* row, std::uint64_t index) const {
    const int depth = layout_.bit_depth;
    if (depth == 8) return row[index];
    if (depth == 16) return (unsigned{row[2 * index]} << 8) | row[2 * index + 1];
    const std::uint64_t bit = index * depth;
    const unsigned byte = row[bit / 8];
    const int shift = 8 - depth - static_cast<int>(bit % 8);
    return (byte >> shift) & ((1u << depth) - 1);
  }

  std::uint8_t To8(unsigned value) const {
    switch (layout_.bit_depth) {
      case 16: return static_cast<std::uint8_t>((value + 128) / 257);
      case 8: return static_cast<std::uint8_t>(value);
      default: return static_cast<std::uint8_t>(value * 255 / ((1u << layout_.bit_depth) - 1));
    }
  }

  // Pixel `x` of the row into `out` (out_channels bytes).
  void Pixel(const std::uint8_t* row, std::uint64_t x, std::uint8_t* out) const {
    unsigned s[4] = {};
    for (int c = 0; c < stored_; ++c) s[c] = Sample(row, x * stored_ + c);
    switch (layout_.colour_type) {
      case 0:
        out[0] = To8(s[0]);
        if (out_channels_ == 2) out[1] = keyed_ && s[0] == key_[0] ? 0 : 255;
        return;
      case 4:
        out[0] = To8(s[0]);
        out[1] = To8(s[1]);
        return;
      case 3: {
        // An index past the palette shows black, as most readers do.
        const std::size_t entry = s[0];
        const bool known = entry * 3 + 2 < layout_.palette.size();
        for (int c = 0; c < 3; ++c) out[c] = known ? layout_.palette[entry * 3 + c] : 0;
        if (out_channels_ == 4) {
          out[3] = entry < layout_.transparency.size() ? layout_.transparency[entry] : 255;
        }
        return;
      }
      case 2:
        for (int c = 0; c < 3; ++c) out[c] = To8(s[c]);
        if (out_channels_ == 4) {
          out[3] = keyed_ && s[0] == key_[0] && s[1] == key_[1] && s[2] == key_[2] ? 0 : 255;
        }
        return;
      default:  // 6
        for (int c = 0; c < 4; ++c) out[c] = To8(s[c]);
        return;
    }
  }

 private:
  const PngLayout& layout_;
  int stored_;
  int out_channels_;
  unsigned key_[3] = {};
  bool keyed_ = false;
};

}  // namespace

int PngLayout::Channels() const {
  switch (colour_type) {
    case 2: return 3;
    case 4: return 2;
    case 6: return 4;
    default: return 1;
  }
}

PngRead ReadPngLayout(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size < sizeof kSignature ||
      std::memcmp(data, kSignature, sizeof kSignature) != 0) {
    return Refused(DecodeFailure::Damaged, "no PNG signature");
  }
  PngLayout layout;
  bool header = false, ended = false, data_done = false;
  std::size_t at = sizeof kSignature;
  while (!ended) {
    if (size - at < 12) return Refused(DecodeFailure::Damaged, "PNG cut short");
    const std::uint32_t length = BigEndian32(data + at);
    if (length > size - at - 12) return Refused(DecodeFailure::Damaged, "PNG cut short");
    const std::uint8_t* type = data + at + 4;
    const std::uint8_t* body = data + at + 8;
    const std::uint32_t stored_crc = BigEndian32(body + length);
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), type, 4 + length);
    if (crc != stored_crc) return Refused(DecodeFailure::Damaged, "PNG chunk with a wrong CRC");
    auto is = [type](const char* name) { return std::memcmp(type, name, 4) == 0; };
    if (!header) {
      if (!is("IHDR") || length != 13) return Refused(DecodeFailure::Damaged, "PNG without IHDR");
      header = true;
      const std::uint32_t width = BigEndian32(body), height = BigEndian32(body + 4);
      layout.bit_depth = body[8];
      layout.colour_type = body[9];
      if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF ||
          !ValidDepth(layout.colour_type, layout.bit_depth) || body[10] != 0 || body[11] != 0 ||
          body[12] > 1) {
        return Refused(DecodeFailure::Damaged, "PNG header out of range");
      }
      if (std::uint64_t{width} * height > kMaxDecodedPixels) {
        return Refused(DecodeFailure::TooLarge, "PNG of " + std::to_string(width) + " x " +
                                                    std::to_string(height) + " pixels");
      }
      layout.width = static_cast<int>(width);
      layout.height = static_cast<int>(height);
      layout.interlaced = body[12] == 1;
    } else if (is("IDAT")) {
      if (data_done) return Refused(DecodeFailure::Damaged, "PNG with IDAT chunks apart");
      layout.data.insert(layout.data.end(), body, body + length);
    } else {
      if (!layout.data.empty()) data_done = true;
      if (is("PLTE")) {
        if (length % 3 != 0 || length == 0 || length > 3 * 256) {
          return Refused(DecodeFailure::Damaged, "PNG palette of a wrong length");
        }
        layout.palette.assign(body, body + length);
      } else if (is("tRNS")) {
        layout.transparency.assign(body, body + length);
      } else if (is("IEND")) {
        ended = true;
      } else if ((type[0] & 0x20) == 0) {
        // An unknown chunk that readers must understand to show the picture.
        return Refused(DecodeFailure::Unsupported, "PNG with an unknown critical chunk");
      }
    }
    at += 12 + std::size_t{length};
  }
  if (layout.data.empty()) return Refused(DecodeFailure::Damaged, "PNG without picture data");
  if (layout.colour_type == 3 && layout.palette.empty()) {
    return Refused(DecodeFailure::Damaged, "PNG without its palette");
  }
  PngRead read;
  read.layout = std::move(layout);
  return read;
}

PictureDecode DecodePng(const PngLayout& layout) {
  const int stored = layout.Channels();
  const std::uint64_t bits_per_pixel = std::uint64_t(stored) * layout.bit_depth;
  const std::size_t bpp = static_cast<std::size_t>(std::max<std::uint64_t>(1, bits_per_pixel / 8));
  const Pass* passes = layout.interlaced ? kAdam7 : kWhole;
  const int pass_count = layout.interlaced ? 7 : 1;

  std::uint64_t raw_size = 0;
  for (int p = 0; p < pass_count; ++p) {
    const std::uint64_t columns = PassColumns(passes[p], layout.width);
    if (columns == 0) continue;
    raw_size += PassRows(passes[p], layout.height) * (1 + (columns * bits_per_pixel + 7) / 8);
  }
  if (raw_size > kMaxRawBytes) return Failed(DecodeFailure::TooLarge, "PNG too large to decode");

  // The rows grow with what the data really inflates to: a small file whose
  // header claims a huge picture takes little memory before it is refused.
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(std::min<std::uint64_t>(raw_size, 1 << 20)));
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return Failed(DecodeFailure::Unsupported, "zlib unavailable");
  z.next_in = const_cast<Bytef*>(layout.data.data());
  std::size_t in_left = layout.data.size();
  std::size_t out_done = 0;
  int status = Z_OK;
  while (status == Z_OK && out_done < raw_size) {
    if (out_done == raw.size()) {
      raw.resize(static_cast<std::size_t>(std::min<std::uint64_t>(raw_size, raw.size() * 2)));
    }
    // Pieces that fit zlib's 32-bit counters.
    const uInt in_piece = static_cast<uInt>(std::min<std::size_t>(in_left, 1u << 30));
    const uInt out_piece = static_cast<uInt>(std::min<std::size_t>(raw.size() - out_done, 1u << 30));
    z.avail_in = in_piece;
    z.next_out = raw.data() + out_done;
    z.avail_out = out_piece;
    status = inflate(&z, Z_NO_FLUSH);
    in_left -= in_piece - z.avail_in;
    z.next_in = const_cast<Bytef*>(layout.data.data()) + (layout.data.size() - in_left);
    out_done += out_piece - z.avail_out;
    // No progress for want of room is no fault: the buffer grows above.
    if (status == Z_BUF_ERROR && (in_left > 0 || out_done == raw.size())) status = Z_OK;
  }
  inflateEnd(&z);
  if (out_done < raw_size) {
    return Failed(DecodeFailure::Damaged, status == Z_DATA_ERROR || status == Z_NEED_DICT
                                              ? "PNG picture data damaged"
                                              : "PNG picture data cut short");
  }

  const int out_channels =
      layout.colour_type == 3 ? (layout.transparency.empty() ? 3 : 4)
      : layout.colour_type == 0 ? (layout.transparency.size() >= 2 ? 2 : 1)
      : layout.colour_type == 2 ? (layout.transparency.size() >= 6 ? 4 : 3)
                                : stored;
  DecodedPicture picture;
  picture.width = layout.width;
  picture.height = layout.height;
  picture.channels = out_channels;
  picture.pixels.resize(std::size_t(layout.width) * layout.height * out_channels);
  const SampleReader reader(layout, out_channels);

  std::size_t at = 0;
  for (int p = 0; p < pass_count; ++p) {
    const Pass& pass = passes[p];
    const std::uint64_t columns = PassColumns(pass, layout.width);
    const std::uint64_t rows = columns ? PassRows(pass, layout.height) : 0;
    const std::size_t row_bytes = static_cast<std::size_t>((columns * bits_per_pixel + 7) / 8);
    const std::uint8_t* previous = nullptr;
    for (std::uint64_t r = 0; r < rows; ++r) {
      const int filter = raw[at];
      std::uint8_t* row = raw.data() + at + 1;
      if (!Unfilter(filter, row, previous, row_bytes, bpp)) {
        return Failed(DecodeFailure::Damaged, "PNG row with an unknown filter");
      }
      const std::uint64_t y = pass.y0 + r * pass.dy;
      for (std::uint64_t c = 0; c < columns; ++c) {
        const std::uint64_t x = pass.x0 + c * pass.dx;
        reader.Pixel(row, c,
                     &picture.pixels[static_cast<std::size_t>((y * layout.width + x) * out_channels)]);
      }
      previous = row;
      at += 1 + row_bytes;
    }
  }
  PictureDecode result;
  result.picture = std::move(picture);
  return result;
}

}  // namespace folivex
