#include "text/text.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace folivex {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

unsigned char Byte(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]);
}

unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 0x20) : c;
}

// The character walk of a text, advanced lazily. `Position()` is always a
// character start of the walk (or the end). Whether a later byte starts a
// character depends only on the run of bytes >= 0x80 right before it: the
// byte after a byte below 0x80 always starts a character, and inside a run of
// high bytes the characters pair up. Counting that run back, never past the
// current position, keeps the walk linear over any number of checks.
class CharWalk {
 public:
  CharWalk(std::string_view text, std::size_t position)
      : text_(text), position_(position) {}

  std::size_t Position() const { return position_; }

  // Declares `index` a character start, as after a match the walk skipped.
  void MoveTo(std::size_t index) { position_ = index; }

  // Whether byte `index` (at or after Position()) starts a character. The
  // walk moves to `index`, or to the byte after it when `index` is the
  // second byte of a double-byte character.
  bool StartsAt(std::size_t index) {
    std::size_t run = index;
    while (run > position_ && static_cast<unsigned char>(text_[run - 1]) >= 0x80) --run;
    const bool starts = (index - run) % 2 == 0;
    position_ = starts ? index : index + 1;
    return starts;
  }

 private:
  std::string_view text_;
  std::size_t position_;
};

bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool EqualFolded(const char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (FoldAscii(static_cast<unsigned char>(a[i])) !=
        FoldAscii(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The first byte index at or after `from` where `sub` (not empty) lies wholly
// inside `text`, ignoring the character walk; kNone when there is none.
std::size_t FindBytes(std::string_view text, std::string_view sub,
                      std::size_t from, bool fold) {
  if (!fold) return text.find(sub, from);
  const std::size_t m = sub.size();
  if (m > text.size() || from > text.size() - m) return kNone;
  const unsigned char lower = FoldAscii(static_cast<unsigned char>(sub[0]));
  const unsigned char upper =
      (lower >= 'a' && lower <= 'z') ? static_cast<unsigned char>(lower - 0x20)
                                     : lower;
  const std::size_t last = text.size() - m;
  const char* data = text.data();
  for (std::size_t i = from; i <= last; ++i) {
    if (lower == upper) {
      const void* hit = std::memchr(data + i, lower, last - i + 1);
      if (hit == nullptr) return kNone;
      i = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
    } else {
      while (i <= last && Byte(text, i) != lower && Byte(text, i) != upper) ++i;
      if (i > last) return kNone;
    }
    if (EqualFolded(data + i + 1, sub.data() + 1, m - 1)) return i;
  }
  return kNone;
}

// The first occurrence of `sub` at a character start of a walk that begins
// at byte index `begin`; kNone when there is none. Byte search finds the
// candidates, the walk only confirms them.
std::size_t FindAtCharStart(std::string_view text, std::string_view sub,
                            std::size_t begin, bool fold, CharWalk& walk) {
  std::size_t from = begin;
  for (;;) {
    const std::size_t hit = FindBytes(text, sub, from, fold);
    if (hit == kNone) return kNone;
    if (walk.StartsAt(hit)) return hit;
    from = walk.Position();
  }
}

// Byte index where a search region starting at 1-based `start` begins.
std::size_t RegionBegin(std::optional<int> start) {
  if (!start || *start <= 1) return 0;
  return static_cast<std::size_t>(*start) - 1;
}

int Position(std::size_t index) { return static_cast<int>(index + 1); }

}  // namespace

int FindText(std::string_view text, std::string_view sub,
             std::optional<int> start, bool ignoreCase) {
  const std::size_t begin = RegionBegin(start);
  if (begin >= text.size()) return -1;
  if (sub.empty()) return 1;
  CharWalk walk(text, begin);
  const std::size_t hit = FindAtCharStart(text, sub, begin, ignoreCase, walk);
  return hit == kNone ? -1 : Position(hit);
}

int FindTextReverse(std::string_view text, std::string_view sub,
                    std::optional<int> start, bool ignoreCase) {
  std::size_t region = text.size();
  if (start) {
    region = *start < 2 ? 0
                        : std::min(region, static_cast<std::size_t>(*start) - 1);
  }
  if (region == 0) return -1;
  if (sub.empty()) return 1;
  const std::string_view searched = text.substr(0, region);
  CharWalk walk(searched, 0);
  std::size_t last = kNone;
  std::size_t from = 0;
  for (;;) {
    const std::size_t hit = FindAtCharStart(searched, sub, from, ignoreCase, walk);
    if (hit == kNone) break;
    last = hit;
    from = hit + 1;
  }
  return last == kNone ? -1 : Position(last);
}

Text TextLeft(std::string_view text, int n) {
  if (n <= 0) return {};
  return Text(text.substr(0, static_cast<std::size_t>(n)));
}

Text TextRight(std::string_view text, int n) {
  if (n <= 0) return {};
  const std::size_t count = std::min(text.size(), static_cast<std::size_t>(n));
  return Text(text.substr(text.size() - count));
}

Text TextMid(std::string_view text, int start, int n) {
  if (start < 1 || static_cast<std::size_t>(start) > text.size() || n <= 0) return {};
  return Text(text.substr(static_cast<std::size_t>(start) - 1,
                          static_cast<std::size_t>(n)));
}

Text ReplaceText(std::string_view text, std::string_view sub,
                 std::optional<std::string_view> replacement,
                 std::optional<int> start, std::optional<int> count,
                 bool caseSensitive) {
  const std::size_t begin = RegionBegin(start);
  if (text.empty() || sub.empty() || begin >= text.size() || (count && *count == 0)) {
    return Text(text);
  }
  const std::string_view with = replacement.value_or(std::string_view());
  const bool limited = count && *count > 0;
  const bool fold = !caseSensitive;

  Text result;
  result.reserve(text.size());
  CharWalk walk(text, begin);
  std::size_t copied = 0;  // bytes before this index are in `result`
  int replaced = 0;
  bool stopped_by_count = false;
  for (;;) {
    const std::size_t hit = FindAtCharStart(text, sub, walk.Position(), fold, walk);
    if (hit == kNone) break;
    result.append(text.substr(copied, hit - copied));
    result.append(with);
    copied = hit + sub.size();
    walk.MoveTo(copied);  // the walk resumes right after the occurrence
    if (limited && ++replaced == *count) {
      stopped_by_count = true;
      break;
    }
  }
  result.append(text.substr(copied));
  // A one-byte `sub` keeps the walk going to the last byte; a lead byte there
  // with nothing after it is not a character and is dropped.
  const std::size_t last = text.size() - 1;
  if (!stopped_by_count && sub.size() == 1 && copied <= last &&
      walk.Position() <= last && Byte(text, last) >= 0x80 && walk.StartsAt(last)) {
    result.pop_back();
  }
  return result;
}

TextArray SplitText(std::string_view text, std::optional<std::string_view> separator,
                    std::optional<int> maxCount) {
  const std::string_view sep = separator.value_or(",");
  const int max_count = maxCount ? std::max(*maxCount, 0) : -1;
  TextArray parts;
  if (text.empty() || max_count == 0) return parts;
  if (sep.empty()) {
    parts.emplace_back(text);
    return parts;
  }
  CharWalk walk(text, 0);
  std::size_t piece = 0;
  for (;;) {
    const std::size_t hit = FindAtCharStart(text, sep, walk.Position(), false, walk);
    if (hit == kNone) break;
    parts.emplace_back(text.substr(piece, hit - piece));
    piece = hit + sep.size();
    walk.MoveTo(piece);
    if (max_count > 0 && static_cast<int>(parts.size()) == max_count) return parts;
  }
  if (piece < text.size()) parts.emplace_back(text.substr(piece));
  return parts;
}

Text TrimBoth(std::string_view text) {
  const std::size_t size = text.size();
  auto space_length = [&](std::size_t i) -> std::size_t {
    if (Byte(text, i) == 0x20) return 1;
    if (i + 1 < size && Byte(text, i) == 0xA1 && Byte(text, i + 1) == 0xA1) return 2;
    return 0;
  };
  std::size_t i = 0;
  while (i < size) {
    const std::size_t n = space_length(i);
    if (n == 0) break;
    i += n;
  }
  const std::size_t first = i;
  std::size_t end = first;  // one past the last character that is not a space
  while (i < size) {
    const bool lead = Byte(text, i) >= 0x80;
    if (lead && i + 1 == size) {
      // A lone lead byte at the end is left out; the spaces before it stay.
      return Text(text.substr(first, i - first));
    }
    const std::size_t n = space_length(i);
    if (n != 0) {
      i += n;
    } else {
      i += lead ? 2 : 1;
      end = i;
    }
  }
  return Text(text.substr(first, end - first));
}

Text ToLower(std::string_view text) {
  Text result(text);
  for (std::size_t i = 0; i < result.size();) {
    const unsigned char c = static_cast<unsigned char>(result[i]);
    if (c >= 0x80) {
      i += 2;
    } else {
      result[i] = static_cast<char>(FoldAscii(c));
      ++i;
    }
  }
  return result;
}

std::int32_t TextToInt(std::string_view text) {
  // Full-width forms become ASCII first. Folding stops after the first byte
  // that can be neither space, sign nor digit: the number ends there anyway,
  // and a long text is not copied.
  Text folded;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = Byte(text, i);
    if (c < 0x80) {
      folded.push_back(static_cast<char>(c));
      ++i;
    } else {
      if (i + 1 == text.size()) break;  // a lone lead byte is dropped
      const unsigned char trail = Byte(text, i + 1);
      if (c == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
        folded.push_back(static_cast<char>(trail - 0x80));
      } else if (c == 0xA1 && trail == 0xA1) {
        folded.push_back(' ');
      } else if (c == 0xA1 && trail == 0xAB) {
        folded.push_back('~');
      } else if (c == 0xA1 && (trail == 0xEE || trail == 0xEF)) {
        folded.push_back('*');
      } else {
        folded.append(text.substr(i, 2));
      }
      i += 2;
    }
    const char last = folded.back();
    if (!IsAsciiSpace(last) && last != '+' && last != '-' && (last < '0' || last > '9')) break;
  }

  std::size_t i = 0;
  while (i < folded.size() && IsAsciiSpace(folded[i])) ++i;
  bool negative = false;
  if (i < folded.size() && (folded[i] == '+' || folded[i] == '-')) {
    negative = folded[i] == '-';
    ++i;
  }
  // Unsigned arithmetic wraps around by definition; the conversion back to
  // int32 is modulo 2^32 as well.
  std::uint32_t value = 0;
  for (; i < folded.size() && folded[i] >= '0' && folded[i] <= '9'; ++i) {
    value = value * 10u + static_cast<std::uint32_t>(folded[i] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

Text IntToText(std::int32_t value) { return std::to_string(value); }

int TextLength(std::string_view text) { return static_cast<int>(text.size()); }

Text CharText(std::uint8_t code) {
  if (code == 0) return {};
  return Text(1, static_cast<char>(code));
}

Text BlankText(int n) {
  if (n <= 0) return {};
  return Text(static_cast<std::size_t>(n), ' ');
}

Text ConcatText(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (std::string_view part : parts) size += part.size();
  Text result;
  result.reserve(size);
  for (std::string_view part : parts) result.append(part);
  return result;
}

int CompareText(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  const int order = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);  // unsigned bytes
  if (order != 0) return order < 0 ? -1 : 1;
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

Bytes TextToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes TextToBytes(const Bytes& bytes) { return bytes; }

Text BytesToText(const Bytes& bytes) {
  const auto zero = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  return Text(bytes.begin(), zero);
}

int BytesLength(const Bytes& bytes) { return static_cast<int>(bytes.size()); }

Bytes BytesLeft(const Bytes& bytes, int n) {
  if (n <= 0) return {};
  const std::size_t count = std::min(bytes.size(), static_cast<std::size_t>(n));
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

Bytes BlankBytes(int n) {
  if (n <= 0) return {};
  return Bytes(static_cast<std::size_t>(n), 0);
}

Bytes ConcatBytes(std::initializer_list<const Bytes*> parts) {
  std::size_t size = 0;
  for (const Bytes* part : parts) size += part->size();
  Bytes result;
  result.reserve(size);
  for (const Bytes* part : parts) result.insert(result.end(), part->begin(), part->end());
  return result;
}

bool BytesEqual(const Bytes& a, const Bytes& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

int BitOr(std::initializer_list<int> values) {
  int result = 0;
  for (int value : values) result |= value;
  return result;
}

}  // namespace folivex
