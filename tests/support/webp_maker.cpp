#include "support/webp_maker.h"

#include <algorithm>

namespace folivex {
namespace {

// Bits go out least significant first, as the lossless format reads them.
class BitWriter {
 public:
  void Put(std::uint32_t value, int count) {
    for (int k = 0; k < count; ++k) {
      if (used_ == 0) bytes_.push_back(0);
      if ((value >> k) & 1) bytes_.back() = static_cast<char>(bytes_.back() | (1 << used_));
      used_ = (used_ + 1) % 8;
    }
  }
  std::string Take() { return std::move(bytes_); }

 private:
  std::string bytes_;
  int used_ = 0;
};

std::uint32_t Reverse8(std::uint32_t value) {
  std::uint32_t out = 0;
  for (int k = 0; k < 8; ++k) out |= ((value >> k) & 1) << (7 - k);
  return out;
}

// A prefix code whose first 256 symbols all have length 8 and whose others
// (the green alphabet's length codes) are unused. The code lengths are sent
// with a code-length code of two one-bit codes: 0 for length 0, 1 for 8.
void PutFlatCode(BitWriter& out, int alphabet) {
  out.Put(0, 1);  // a normal code
  // Code-length code lengths come in the order 17, 18, 0, 1, 2, 3, 4, 5, 16,
  // 6, 7, 8, ...: twelve of them reach the entry for length 8.
  out.Put(12 - 4, 4);
  static constexpr int kOrder[12] = {17, 18, 0, 1, 2, 3, 4, 5, 16, 6, 7, 8};
  for (int symbol : kOrder) out.Put(symbol == 0 || symbol == 8 ? 1 : 0, 3);
  out.Put(0, 1);  // every symbol of the alphabet gets a length
  for (int symbol = 0; symbol < alphabet; ++symbol) out.Put(symbol < 256 ? 1 : 0, 1);
}

// A code of one symbol, which costs no bits where it is used.
void PutSingleSymbolCode(BitWriter& out, std::uint32_t symbol) {
  out.Put(1, 1);  // a simple code
  out.Put(0, 1);  // of one symbol
  if (symbol <= 1) {
    out.Put(0, 1);
    out.Put(symbol, 1);
  } else {
    out.Put(1, 1);
    out.Put(symbol, 8);
  }
}

void PutLittleEndian(std::string& out, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) out += static_cast<char>((value >> (8 * k)) & 0xFF);
}

}  // namespace

std::string EncodeWebpLossless(const std::vector<std::uint8_t>& pixels, int width, int height,
                               int channels) {
  BitWriter out;
  out.Put(0x2F, 8);  // the lossless signature
  out.Put(static_cast<std::uint32_t>(width - 1), 14);
  out.Put(static_cast<std::uint32_t>(height - 1), 14);
  out.Put(channels == 4 ? 1 : 0, 1);
  out.Put(0, 3);  // version
  out.Put(0, 1);  // no transform
  out.Put(0, 1);  // no colour cache
  out.Put(0, 1);  // one group of prefix codes for the whole picture
  PutFlatCode(out, 256 + 24);  // green and the backward reference lengths
  PutFlatCode(out, 256);       // red
  PutFlatCode(out, 256);       // blue
  bool opaque = true;
  if (channels == 4) {
    for (std::size_t i = 3; i < pixels.size(); i += 4) opaque = opaque && pixels[i] == 255;
  }
  if (opaque) {
    PutSingleSymbolCode(out, 255);  // alpha
  } else {
    PutFlatCode(out, 256);
  }
  PutSingleSymbolCode(out, 0);  // distances, never used
  const std::size_t count = static_cast<std::size_t>(width) * height;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* p = &pixels[i * static_cast<std::size_t>(channels)];
    out.Put(Reverse8(p[1]), 8);
    out.Put(Reverse8(p[0]), 8);
    out.Put(Reverse8(p[2]), 8);
    if (!opaque) out.Put(Reverse8(p[3]), 8);
  }
  const std::string payload = out.Take();

  std::string file = "RIFF";
  const std::uint32_t padded = static_cast<std::uint32_t>(payload.size() + payload.size() % 2);
  PutLittleEndian(file, 4 + 8 + padded);
  file += "WEBPVP8L";
  PutLittleEndian(file, static_cast<std::uint32_t>(payload.size()));
  file += payload;
  if (payload.size() % 2) file += '\0';
  return file;
}

std::string MakeWebp(const JpegOptions& options) {
  return EncodeWebpLossless(PagePixels(options), std::max(1, options.width),
                            std::max(1, options.height), 3);
}

}  // namespace folivex
