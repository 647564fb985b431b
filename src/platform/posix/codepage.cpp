// Code page conversion that gives the same bytes as the Windows functions.
//
// glibc's iconv stops at the first ill-formed or unmappable character, and
// its GBK table lacks the user-defined areas, the look-alikes and the single
// bytes 0x80 and 0xFF of the Windows table. So iconv is asked once, one
// character at a time, for the code page 936 table; the Windows additions
// are laid over it; and the conversions themselves walk that table. UTF-8
// is decoded here as well, with the replacements Windows makes.
#include <iconv.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/codepage.h"
#include "platform/posix/codepage_936_table.h"

namespace folivex {
namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr char16_t kQuestion = u'?';

struct GbkTables {
  // Per UTF-16 code unit: its code page 936 code, one byte when below
  // 0x100, else lead byte * 256 + trail byte. "?" where there is none.
  std::array<std::uint16_t, 0x10000> to_gbk;
  // Per lead byte * 256 + second byte: the character, "?" for an invalid
  // pair. Only lead bytes 0x81..0xFE are used.
  std::array<char16_t, 0x10000> from_pair;
};

class Iconv {
 public:
  Iconv(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
  ~Iconv() {
    if (Valid()) iconv_close(handle_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool Valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // Converts one character; the number of output bytes, 0 when iconv
  // cannot.
  std::size_t One(const char* input, std::size_t length, char* output, std::size_t capacity) {
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(input);
    char* out = output;
    std::size_t in_left = length;
    std::size_t out_left = capacity;
    if (iconv(handle_, &in, &in_left, &out, &out_left) == static_cast<std::size_t>(-1) ||
        in_left != 0) {
      return 0;
    }
    return capacity - out_left;
  }

 private:
  iconv_t handle_;
};

bool IsSurrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

std::unique_ptr<GbkTables> BuildGbkTables() {
  auto tables = std::make_unique<GbkTables>();
  tables->to_gbk.fill(kQuestion);
  tables->from_pair.fill(kQuestion);

  Iconv encode("GBK", "UTF-16LE");
  if (encode.Valid()) {
    for (unsigned unit = 0; unit < 0x10000; ++unit) {
      if (IsSurrogate(unit)) continue;
      const char in[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
      unsigned char out[8];
      const std::size_t n = encode.One(in, 2, reinterpret_cast<char*>(out), sizeof out);
      if (n == 1) tables->to_gbk[unit] = out[0];
      if (n == 2) tables->to_gbk[unit] = static_cast<std::uint16_t>(out[0] << 8 | out[1]);
    }
  }
  // Never anything but ASCII below 0x80, whatever iconv says.
  for (unsigned unit = 0; unit < 0x80; ++unit) tables->to_gbk[unit] = static_cast<std::uint16_t>(unit);

  Iconv decode("UTF-16LE", "GBK");
  if (decode.Valid()) {
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
      for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        unsigned char out[8];
        if (decode.One(in, 2, reinterpret_cast<char*>(out), sizeof out) == 2) {
          tables->from_pair[lead << 8 | trail] = static_cast<char16_t>(out[0] | out[1] << 8);
        }
      }
    }
  }

  for (const cp936::PrivateRun& run : cp936::kPrivateRuns) {
    for (unsigned i = 0; i < run.count; ++i) {
      tables->to_gbk[run.first_unit + i] = static_cast<std::uint16_t>(run.first_code + i);
      tables->from_pair[run.first_code + i] = static_cast<char16_t>(run.first_unit + i);
    }
  }
  for (const cp936::BestFit& fit : cp936::kBestFit) tables->to_gbk[fit.unit] = fit.code;
  tables->to_gbk[0x20AC] = 0x80;
  tables->to_gbk[0xF8F5] = 0xFF;
  return tables;
}

const GbkTables& Gbk() {
  static const std::unique_ptr<GbkTables> tables = BuildGbkTables();
  return *tables;
}

// Output sinks: one that only counts, for the size query, and one that
// writes and reports when the capacity runs out.
template <class Unit>
class CountingSink {
 public:
  bool Put(unsigned) {
    ++size_;
    return true;
  }
  bool PutAscii(const unsigned char*, int n) {
    size_ += n;
    return true;
  }
  bool PutPair(unsigned, unsigned) {
    size_ += 2;
    return true;
  }
  bool PutNarrow(const char16_t*, int n) {
    size_ += n;
    return true;
  }
  int Size() const { return size_; }

 private:
  int size_ = 0;
};

// Four bytes (the low half of `word`) as four little-endian 16-bit units.
constexpr std::uint64_t Spread(std::uint64_t word) {
  return (word & 0xFF) | (word & 0xFF00) << 8 | (word & 0xFF0000) << 16 | (word & 0xFF000000) << 24;
}

template <class Unit>
class WritingSink {
 public:
  WritingSink(Unit* output, int capacity) : next_(output), end_(output + capacity), begin_(output) {}
  bool Put(unsigned value) {
    if (next_ == end_) return false;
    *next_++ = static_cast<Unit>(value);
    return true;
  }
  bool PutAscii(const unsigned char* bytes, int n) {
    if (end_ - next_ < n) return false;
    if constexpr (sizeof(Unit) == 2 && std::endian::native == std::endian::little) {
      if (n == 8) {
        // Eight bytes widened to eight code units with shifts, not a loop.
        std::uint64_t word;
        std::memcpy(&word, bytes, sizeof word);
        const std::uint64_t halves[2] = {Spread(word & 0xFFFFFFFF), Spread(word >> 32)};
        std::memcpy(next_, halves, sizeof halves);
        next_ += 8;
        return true;
      }
    }
    for (int i = 0; i < n; ++i) *next_++ = static_cast<Unit>(bytes[i]);
    return true;
  }
  bool PutPair(unsigned first, unsigned second) {
    if (end_ - next_ < 2) return false;
    *next_++ = static_cast<Unit>(first);
    *next_++ = static_cast<Unit>(second);
    return true;
  }
  // ASCII code units, narrowed to bytes.
  bool PutNarrow(const char16_t* units, int n) {
    if (end_ - next_ < n) return false;
    if constexpr (sizeof(Unit) == 1 && std::endian::native == std::endian::little) {
      if (n == 4) {
        std::uint64_t word;
        std::memcpy(&word, units, sizeof word);
        const std::uint32_t bytes = static_cast<std::uint32_t>(
            (word & 0xFF) | (word >> 8 & 0xFF00) | (word >> 16 & 0xFF0000) | (word >> 24 & 0xFF000000));
        std::memcpy(next_, &bytes, sizeof bytes);
        next_ += 4;
        return true;
      }
    }
    for (int i = 0; i < n; ++i) *next_++ = static_cast<Unit>(units[i]);
    return true;
  }
  int Size() const { return static_cast<int>(next_ - begin_); }

 private:
  Unit* next_;
  Unit* end_;
  Unit* begin_;
};

// Runs the conversion once into a counter (capacity 0) or into the output;
// 0 when the output is too small.
template <class Unit, class Convert>
int Run(Unit* output, int capacity, Convert convert) {
  if (capacity == 0) {
    CountingSink<Unit> sink;
    convert(sink);
    return sink.Size();
  }
  WritingSink<Unit> sink(output, capacity);
  return convert(sink) ? sink.Size() : 0;
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The number of continuation bytes a lead byte asks for; 0 for bytes that
// cannot start a sequence (continuation bytes, C0, C1, F5..FF).
int ContinuationCount(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 1;
  if (lead >= 0xE0 && lead <= 0xEF) return 2;
  if (lead >= 0xF0 && lead <= 0xF4) return 3;
  return 0;
}

// Decodes one sequence after its lead byte, which asks for `count` bytes
// and has them before the end. Bytes are taken while they still fit: an
// overlong form or an encoded surrogate is found after its second byte,
// which is consumed; a value above U+10FFFF is found before its third byte,
// which is not. A byte that is not a continuation is never consumed.
// Returns the code point, or U+FFFD.
unsigned DecodeSequence(unsigned char lead, int count, const unsigned char*& s) {
  if (count == 1) {
    if (!IsContinuation(s[0])) return kReplacement;
    return (lead & 0x1Fu) << 6 | (*s++ & 0x3Fu);
  }
  if (count == 2) {
    if (!IsContinuation(s[0])) return kReplacement;
    unsigned value = (lead & 0x0Fu) << 6 | (*s++ & 0x3Fu);
    if (value < 0x20 || (value >= 0x360 && value <= 0x37F)) return kReplacement;
    if (!IsContinuation(s[0])) return kReplacement;
    return value << 6 | (*s++ & 0x3Fu);
  }
  if (!IsContinuation(s[0])) return kReplacement;
  unsigned value = (lead & 0x07u) << 6 | (*s++ & 0x3Fu);
  if (value < 0x10) return kReplacement;
  if (!IsContinuation(s[0])) return kReplacement;
  value = value << 6 | (s[0] & 0x3Fu);
  if (value >= 0x4400) return kReplacement;
  ++s;
  if (!IsContinuation(s[0])) return kReplacement;
  return value << 6 | (*s++ & 0x3Fu);
}

bool AllAscii(const unsigned char* s) {
  std::uint64_t word;
  std::memcpy(&word, s, sizeof word);
  return (word & 0x8080808080808080ull) == 0;
}

template <class Sink>
bool DecodeUtf8(const unsigned char* s, const unsigned char* end, Sink& sink) {
  while (s < end) {
    while (end - s >= 8 && AllAscii(s)) {
      if (!sink.PutAscii(s, 8)) return false;
      s += 8;
    }
    if (s == end) break;
    const unsigned char lead = *s++;
    if (lead < 0x80) {
      if (!sink.Put(lead)) return false;
      continue;
    }
    if ((lead & 0xF0) == 0xE0 && end - s >= 2 && IsContinuation(s[0]) && IsContinuation(s[1])) {
      // The common case of Chinese text: a well-formed three-byte sequence
      // that is neither overlong nor a surrogate.
      const unsigned value = (lead & 0x0Fu) << 12 | (s[0] & 0x3Fu) << 6 | (s[1] & 0x3Fu);
      if (value >= 0x800 && (value < 0xD800 || value > 0xDFFF)) {
        if (!sink.Put(value)) return false;
        s += 2;
        continue;
      }
    }
    const int count = ContinuationCount(lead);
    if (count > end - s) {
      // A sequence cut off by the end takes the rest of the input with it.
      return sink.Put(kReplacement);
    }
    const unsigned value = count == 0 ? kReplacement : DecodeSequence(lead, count, s);
    if (value > 0xFFFF) {
      const unsigned offset = value - 0x10000;
      if (!sink.PutPair(0xD800 | offset >> 10, 0xDC00 | (offset & 0x3FF))) return false;
    } else if (!sink.Put(value)) {
      return false;
    }
  }
  return true;
}

template <class Sink>
bool EncodeUtf8(const char16_t* s, const char16_t* end, Sink& sink) {
  while (s < end) {
    unsigned value = *s++;
    if (value >= 0xD800 && value <= 0xDBFF && s < end && *s >= 0xDC00 && *s <= 0xDFFF) {
      value = 0x10000 + ((value - 0xD800) << 10) + (*s++ - 0xDC00u);
    } else if (IsSurrogate(value)) {
      value = kReplacement;
    }
    bool ok;
    if (value < 0x80) {
      ok = sink.Put(value);
    } else if (value < 0x800) {
      ok = sink.Put(0xC0 | value >> 6) && sink.Put(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
      ok = sink.Put(0xE0 | value >> 12) && sink.Put(0x80 | (value >> 6 & 0x3F)) &&
           sink.Put(0x80 | (value & 0x3F));
    } else {
      ok = sink.Put(0xF0 | value >> 18) && sink.Put(0x80 | (value >> 12 & 0x3F)) &&
           sink.Put(0x80 | (value >> 6 & 0x3F)) && sink.Put(0x80 | (value & 0x3F));
    }
    if (!ok) return false;
  }
  return true;
}

// Four ASCII code units in a row, tested at once.
bool FourAscii(const char16_t* s) {
  std::uint64_t word;
  std::memcpy(&word, s, sizeof word);
  return (word & 0xFF80FF80FF80FF80ull) == 0;
}

// Each code unit on its own, surrogates included: a pair becomes "??".
template <class Sink>
bool EncodeGbk(const char16_t* s, const char16_t* end, Sink& sink) {
  const auto& to_gbk = Gbk().to_gbk;
  while (s < end) {
    if (end - s >= 4 && FourAscii(s)) {
      if (!sink.PutNarrow(s, 4)) return false;
      s += 4;
      continue;
    }
    const unsigned code = to_gbk[*s++];
    if (code < 0x100) {
      if (!sink.Put(code)) return false;
    } else if (!sink.PutPair(code >> 8, code & 0xFF)) {
      return false;
    }
  }
  return true;
}

// The size alone: one byte per code unit, two where the code has two.
int GbkSize(const char16_t* s, const char16_t* end) {
  const auto& to_gbk = Gbk().to_gbk;
  int size = 0;
  while (s < end) {
    if (end - s >= 4 && FourAscii(s)) {
      size += 4;
      s += 4;
      continue;
    }
    size += 1 + (to_gbk[*s++] >= 0x100);
  }
  return size;
}

template <class Sink>
bool DecodeGbk(const unsigned char* s, const unsigned char* end, Sink& sink) {
  const auto& from_pair = Gbk().from_pair;
  while (s < end) {
    const unsigned char byte = *s++;
    unsigned value;
    if (byte < 0x80) {
      value = byte;
    } else if (byte == 0x80) {
      value = 0x20AC;
    } else if (byte == 0xFF) {
      value = 0xF8F5;
    } else if (s == end || *s == 0) {
      value = kQuestion;  // a lead byte alone; the zero byte stays a character
    } else {
      value = from_pair[byte << 8 | *s++];
    }
    if (!sink.Put(value)) return false;
  }
  return true;
}

const unsigned char* Unsigned(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

}  // namespace

int ConvertUtf8ToUtf16(const char* input, int length, char16_t* output, int capacity) {
  if (length <= 0 || capacity < 0) return 0;
  return Run(output, capacity, [&](auto& sink) {
    return DecodeUtf8(Unsigned(input), Unsigned(input) + length, sink);
  });
}

int ConvertUtf16ToUtf8(const char16_t* input, int length, char* output, int capacity) {
  if (length <= 0 || capacity < 0) return 0;
  return Run(output, capacity, [&](auto& sink) { return EncodeUtf8(input, input + length, sink); });
}

int ConvertUtf16ToGbk(const char16_t* input, int length, char* output, int capacity) {
  if (length <= 0 || capacity < 0) return 0;
  if (capacity == 0) return GbkSize(input, input + length);
  return Run(output, capacity, [&](auto& sink) { return EncodeGbk(input, input + length, sink); });
}

int ConvertGbkToUtf16(const char* input, int length, char16_t* output, int capacity) {
  if (length <= 0 || capacity < 0) return 0;
  return Run(output, capacity, [&](auto& sink) {
    return DecodeGbk(Unsigned(input), Unsigned(input) + length, sink);
  });
}

}  // namespace folivex
