#include "support/jpeg_maker.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace folivex {
namespace {

constexpr std::array<int, 64> kZigzag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The example quantisation tables, in natural (row by row) order.
constexpr std::array<int, 64> kLumaQuant = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::array<int, 64> kChromaQuant = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// The standard Huffman tables: code counts per length 1..16, then the values.
struct HuffmanSpec {
  std::array<std::uint8_t, 16> counts;
  std::vector<std::uint8_t> values;
};

const HuffmanSpec kDcLuma = {{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
                             {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
const HuffmanSpec kDcChroma = {{0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0},
                               {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
const HuffmanSpec kAcLuma = {
    {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d},
    {0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
     0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
     0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
     0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
     0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
     0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
     0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
     0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
     0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
     0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
     0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa}};
const HuffmanSpec kAcChroma = {
    {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77},
    {0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
     0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
     0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
     0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
     0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
     0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
     0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
     0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
     0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
     0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
     0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa}};

struct HuffmanCode {
  std::uint16_t code = 0;
  std::uint8_t length = 0;
};

// Canonical codes: within each length, values get consecutive codes.
std::array<HuffmanCode, 256> BuildCodes(const HuffmanSpec& spec) {
  std::array<HuffmanCode, 256> codes{};
  std::uint16_t code = 0;
  std::size_t k = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < spec.counts[length - 1]; ++i) {
      codes[spec.values[k++]] = {code, static_cast<std::uint8_t>(length)};
      ++code;
    }
    code <<= 1;
  }
  return codes;
}

std::array<int, 64> ScaledQuant(const std::array<int, 64>& base, int quality) {
  quality = std::clamp(quality, 1, 100);
  int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
  std::array<int, 64> table{};
  for (int i = 0; i < 64; ++i) table[i] = std::clamp((base[i] * scale + 50) / 100, 1, 255);
  return table;
}

class BitWriter {
 public:
  explicit BitWriter(std::string& out) : out_(out) {}
  void Put(std::uint32_t bits, int count) {
    for (int i = count - 1; i >= 0; --i) {
      buffer_ = static_cast<std::uint8_t>((buffer_ << 1) | ((bits >> i) & 1));
      if (++filled_ == 8) Flush();
    }
  }
  // Pads the last byte with one-bits, as the format asks.
  void Finish() {
    while (filled_ != 0) Put(1, 1);
  }

 private:
  void Flush() {
    out_.push_back(static_cast<char>(buffer_));
    // A 0xFF in the entropy-coded data is followed by a zero byte so that
    // it cannot be read as a marker.
    if (buffer_ == 0xFF) out_.push_back('\0');
    buffer_ = 0;
    filled_ = 0;
  }
  std::string& out_;
  std::uint8_t buffer_ = 0;
  int filled_ = 0;
};

int BitLength(int value) {
  value = std::abs(value);
  int length = 0;
  while (value) {
    ++length;
    value >>= 1;
  }
  return length;
}

struct DctTable {
  double c[8][8];
  DctTable() {
    const double pi = std::acos(-1.0);
    for (int u = 0; u < 8; ++u) {
      for (int x = 0; x < 8; ++x) {
        c[u][x] = (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * x + 1) * u * pi / 16);
      }
    }
  }
};

// Forward DCT of one 8x8 block of level-shifted samples, quantised; the
// result in zigzag order.
std::array<int, 64> TransformBlock(const double (&block)[64], const std::array<int, 64>& quant) {
  static const DctTable table;
  double rows[64];
  for (int y = 0; y < 8; ++y) {
    for (int u = 0; u < 8; ++u) {
      double sum = 0;
      for (int x = 0; x < 8; ++x) sum += table.c[u][x] * block[y * 8 + x];
      rows[y * 8 + u] = sum;
    }
  }
  std::array<int, 64> out{};
  for (int v = 0; v < 8; ++v) {
    for (int u = 0; u < 8; ++u) {
      double sum = 0;
      for (int y = 0; y < 8; ++y) sum += table.c[v][y] * rows[y * 8 + u];
      int natural = v * 8 + u;
      (void)natural;
      out[natural] = static_cast<int>(std::lround(sum / quant[natural]));
    }
  }
  std::array<int, 64> zigzag{};
  for (int i = 0; i < 64; ++i) zigzag[i] = out[kZigzag[i]];
  return zigzag;
}

void EncodeBlock(BitWriter& bits, const std::array<int, 64>& coefficients, int& previous_dc,
                 const std::array<HuffmanCode, 256>& dc, const std::array<HuffmanCode, 256>& ac) {
  auto put_value = [&](int value, int length) {
    // Negative values are sent as value - 1 in `length` bits (ones' complement).
    std::uint32_t raw = value >= 0 ? static_cast<std::uint32_t>(value)
                                   : static_cast<std::uint32_t>(value - 1);
    bits.Put(raw & ((1u << length) - 1), length);
  };
  int diff = coefficients[0] - previous_dc;
  previous_dc = coefficients[0];
  int category = BitLength(diff);
  bits.Put(dc[category].code, dc[category].length);
  if (category) put_value(diff, category);

  int run = 0;
  for (int i = 1; i < 64; ++i) {
    int value = coefficients[i];
    if (value == 0) {
      ++run;
      continue;
    }
    while (run >= 16) {
      bits.Put(ac[0xF0].code, ac[0xF0].length);
      run -= 16;
    }
    int size = BitLength(value);
    int symbol = (run << 4) | size;
    bits.Put(ac[symbol].code, ac[symbol].length);
    put_value(value, size);
    run = 0;
  }
  if (run > 0) bits.Put(ac[0x00].code, ac[0x00].length);
}

void PutMarker(std::string& out, std::uint8_t marker) {
  out.push_back('\xFF');
  out.push_back(static_cast<char>(marker));
}

void PutWord(std::string& out, std::size_t value) {
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
  out.push_back(static_cast<char>(value & 0xFF));
}

void PutSegment(std::string& out, std::uint8_t marker, const std::string& payload) {
  PutMarker(out, marker);
  PutWord(out, payload.size() + 2);
  out += payload;
}

std::string HuffmanPayload(int table_class, int id, const HuffmanSpec& spec) {
  std::string payload(1, static_cast<char>((table_class << 4) | id));
  for (std::uint8_t count : spec.counts) payload.push_back(static_cast<char>(count));
  for (std::uint8_t value : spec.values) payload.push_back(static_cast<char>(value));
  return payload;
}

// A 5x7 pixel font for the digits, one row per byte, bit 4 leftmost.
constexpr std::uint8_t kDigits[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}};

struct Rgb {
  int r, g, b;
};

Rgb FromHue(int hue, double saturation, double value) {
  double h = (hue % 360) / 60.0;
  double c = value * saturation;
  double x = c * (1 - std::fabs(std::fmod(h, 2.0) - 1));
  double m = value - c;
  double r = 0, g = 0, b = 0;
  switch (static_cast<int>(h)) {
    case 0: r = c, g = x; break;
    case 1: r = x, g = c; break;
    case 2: g = c, b = x; break;
    case 3: g = x, b = c; break;
    case 4: r = x, b = c; break;
    default: r = c, b = x; break;
  }
  return {static_cast<int>((r + m) * 255), static_cast<int>((g + m) * 255),
          static_cast<int>((b + m) * 255)};
}

std::uint8_t ClampByte(double value) {
  return static_cast<std::uint8_t>(std::clamp(static_cast<int>(std::lround(value)), 0, 255));
}

}  // namespace

std::vector<std::uint8_t> PagePixels(const JpegOptions& options) {
  const int width = std::max(1, options.width);
  const int height = std::max(1, options.height);
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  const int hue = (options.page * 47) % 360;
  const Rgb light = FromHue(hue, 0.35, 0.97);
  const Rgb stripe = FromHue(hue, 0.55, 0.85);
  const Rgb ink = FromHue((hue + 180) % 360, 0.8, 0.35);

  const std::string number = std::to_string(options.page);
  const int digits = static_cast<int>(number.size());
  // Cells of the 5x7 font, one blank column between digits, filling at most
  // 80% of the width and 40% of the height.
  const int cell = std::max(1, std::min(width * 8 / 10 / (digits * 6), height * 4 / 10 / 7));
  const int text_width = (digits * 6 - 1) * cell;
  const int left = (width - text_width) / 2;
  const int top = (height - 7 * cell) / 2;
  const int frame = std::max(1, std::min(width, height) / 40);

  std::uint32_t state = 0x9E3779B9u ^ static_cast<std::uint32_t>(options.page) * 2654435761u;
  auto random = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      Rgb colour = ((x + y) / std::max(4, width / 16)) % 2 ? stripe : light;
      if (x < frame || y < frame || x >= width - frame || y >= height - frame) colour = ink;
      int tx = x - left, ty = y - top;
      if (tx >= 0 && ty >= 0 && tx < text_width && ty < 7 * cell) {
        int column = tx / cell;
        int digit = column / 6, bit = column % 6;
        if (bit < 5 && (kDigits[number[digit] - '0'][ty / cell] >> (4 - bit)) & 1) colour = ink;
      }
      double shade = 0;
      if (options.noise > 0) {
        shade = static_cast<int>(random() % (2 * options.noise + 1)) - options.noise;
      }
      std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
      rgb[at] = ClampByte(colour.r + shade);
      rgb[at + 1] = ClampByte(colour.g + shade);
      rgb[at + 2] = ClampByte(colour.b + shade);
    }
  }
  return rgb;
}

std::string MakeJpeg(const JpegOptions& options) {
  return EncodeJpeg(PagePixels(options), std::max(1, options.width), std::max(1, options.height),
                    options.quality, options.subsample,
                    "Test page " + std::to_string(options.page), options.target_size);
}

std::string EncodeJpeg(const std::vector<std::uint8_t>& rgb, int width, int height, int quality,
                       bool subsample, const std::string& comment, std::size_t target_size) {
  static const auto dc_luma = BuildCodes(kDcLuma);
  static const auto dc_chroma = BuildCodes(kDcChroma);
  static const auto ac_luma = BuildCodes(kAcLuma);
  static const auto ac_chroma = BuildCodes(kAcChroma);
  const auto luma_quant = ScaledQuant(kLumaQuant, quality);
  const auto chroma_quant = ScaledQuant(kChromaQuant, quality);

  // Full resolution planes, level-shifted; edges are read clamped.
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  std::vector<double> planes[3];
  for (auto& plane : planes) plane.resize(pixels);
  for (std::size_t i = 0; i < pixels; ++i) {
    double r = rgb[i * 3], g = rgb[i * 3 + 1], b = rgb[i * 3 + 2];
    planes[0][i] = 0.299 * r + 0.587 * g + 0.114 * b - 128;
    planes[1][i] = -0.168736 * r - 0.331264 * g + 0.5 * b;
    planes[2][i] = 0.5 * r - 0.418688 * g - 0.081312 * b;
  }
  auto sample = [&](int plane, int x, int y) {
    x = std::min(x, width - 1);
    y = std::min(y, height - 1);
    return planes[plane][static_cast<std::size_t>(y) * width + x];
  };

  std::string out;
  PutMarker(out, 0xD8);  // SOI
  PutSegment(out, 0xE0, std::string("JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 14));
  std::string quant_payload;
  for (int id = 0; id < 2; ++id) {
    const auto& table = id == 0 ? luma_quant : chroma_quant;
    quant_payload.push_back(static_cast<char>(id));
    for (int i = 0; i < 64; ++i) quant_payload.push_back(static_cast<char>(table[kZigzag[i]]));
  }
  PutSegment(out, 0xDB, quant_payload);
  std::string frame;
  frame.push_back(8);
  PutWord(frame, static_cast<std::size_t>(height));
  PutWord(frame, static_cast<std::size_t>(width));
  frame.push_back(3);
  frame += std::string{1, static_cast<char>(subsample ? 0x22 : 0x11), 0};
  frame += std::string{2, 0x11, 1};
  frame += std::string{3, 0x11, 1};
  PutSegment(out, 0xC0, frame);
  PutSegment(out, 0xC4, HuffmanPayload(0, 0, kDcLuma) + HuffmanPayload(1, 0, kAcLuma) +
                            HuffmanPayload(0, 1, kDcChroma) + HuffmanPayload(1, 1, kAcChroma));
  const std::size_t comment_at = out.size();
  PutSegment(out, 0xFE, comment);
  std::string scan{3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0};
  PutSegment(out, 0xDA, scan);

  BitWriter bits(out);
  int dc[3] = {0, 0, 0};
  const int mcu = subsample ? 16 : 8;
  double block[64];
  for (int my = 0; my < height; my += mcu) {
    for (int mx = 0; mx < width; mx += mcu) {
      for (int by = 0; by < mcu; by += 8) {
        for (int bx = 0; bx < mcu; bx += 8) {
          for (int i = 0; i < 64; ++i) block[i] = sample(0, mx + bx + i % 8, my + by + i / 8);
          EncodeBlock(bits, TransformBlock(block, luma_quant), dc[0], dc_luma, ac_luma);
        }
      }
      for (int plane = 1; plane < 3; ++plane) {
        for (int i = 0; i < 64; ++i) {
          int x = mx + (i % 8) * (mcu / 8), y = my + (i / 8) * (mcu / 8);
          block[i] = subsample ? (sample(plane, x, y) + sample(plane, x + 1, y) +
                                  sample(plane, x, y + 1) + sample(plane, x + 1, y + 1)) /
                                     4
                               : sample(plane, x, y);
        }
        EncodeBlock(bits, TransformBlock(block, chroma_quant), dc[plane], dc_chroma, ac_chroma);
      }
    }
  }
  bits.Finish();
  PutMarker(out, 0xD9);  // EOI

  if (target_size > out.size()) {
    // Grow the comment; one segment holds at most 65533 bytes, so the
    // padding continues in further comment segments as needed.
    std::size_t missing = target_size - out.size();
    std::string padding;
    std::string first = comment;
    std::size_t room = 65533 - first.size();
    std::size_t grow = std::min(missing, room);
    first.append(grow, '.');
    missing -= grow;
    while (missing > 0) {
      // A segment costs 4 bytes besides its text; leave no remainder that
      // is too small for one.
      std::size_t total = std::min<std::size_t>(missing, 65537);
      if (missing - total > 0 && missing - total < 4) total -= 4;
      if (total < 4) {
        // Fewer than four bytes left: take them from the first segment.
        first.resize(first.size() - (4 - total));
        total = 4;
      }
      PutSegment(padding, 0xFE, std::string(total - 4, '.'));
      missing -= std::min(missing, total);
    }
    std::string rebuilt = out.substr(0, comment_at);
    PutSegment(rebuilt, 0xFE, first);
    rebuilt += padding;
    rebuilt += out.substr(comment_at + 4 + comment.size());
    out = std::move(rebuilt);
  }
  return out;
}

}  // namespace folivex
