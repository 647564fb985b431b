#include "cli/terminal_text.h"

#include <cstdint>
#include <cstdio>

namespace folivex {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The code point of the UTF-8 sequence at `at` and its length; length 0
// when the bytes there are not one well-formed sequence (overlong forms,
// surrogates and values past U+10FFFF included).
struct Decoded {
  std::uint32_t code = 0;
  std::size_t length = 0;
};
Decoded DecodeAt(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return {lead, 1};
  std::size_t length = 0;
  std::uint32_t code = 0, minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1Fu, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0Fu, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07u, minimum = 0x10000;
  } else {
    return {};
  }
  if (at + length > text.size()) return {};
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(at + i);
    if ((next & 0xC0) != 0x80) return {};
    code = code << 6 | (next & 0x3Fu);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {};
  return {code, length};
}

// Characters that reorder or break the line they stand in.
bool TurnsOrBreaksLines(std::uint32_t code) {
  return code == 0x061C || code == 0x200E || code == 0x200F || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069) || code == 0x2028 || code == 0x2029;
}

// Columns of one character (see DisplayWidth).
std::size_t CharacterWidth(std::uint32_t code) {
  const auto in = [code](std::uint32_t first, std::uint32_t last) { return code >= first && code <= last; };
  if (in(0x0300, 0x036F) || in(0x1AB0, 0x1AFF) || in(0x1DC0, 0x1DFF) || in(0x20D0, 0x20FF) ||
      in(0xFE00, 0xFE0F) || in(0xFE20, 0xFE2F) || code == 0x200B || code == 0x200C || code == 0x200D) {
    return 0;
  }
  if (in(0x1100, 0x115F) || in(0x2E80, 0x303E) || in(0x3041, 0x33FF) || in(0x3400, 0x4DBF) ||
      in(0x4E00, 0x9FFF) || in(0xA000, 0xA4CF) || in(0xAC00, 0xD7A3) || in(0xF900, 0xFAFF) ||
      in(0xFE30, 0xFE4F) || in(0xFF00, 0xFF60) || in(0xFFE0, 0xFFE6) || in(0x1F300, 0x1F64F) ||
      in(0x1F900, 0x1F9FF) || in(0x20000, 0x3FFFD)) {
    return 2;
  }
  return 1;
}

}  // namespace

std::size_t DisplayWidth(std::string_view utf8) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const Decoded d = DecodeAt(utf8, i);
    width += d.length == 0 ? 1 : CharacterWidth(d.code);
    i += d.length == 0 ? 1 : d.length;
  }
  return width;
}

std::string_view CutToWidth(std::string_view utf8, std::size_t columns) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const Decoded d = DecodeAt(utf8, i);
    const std::size_t w = d.length == 0 ? 1 : CharacterWidth(d.code);
    if (width + w > columns) return utf8.substr(0, i);
    width += w;
    i += d.length == 0 ? 1 : d.length;
  }
  return utf8;
}

long NextCodePoint(std::string_view text, std::size_t& at) {
  const Decoded d = DecodeAt(text, at);
  if (d.length == 0) {
    ++at;
    return -1;
  }
  at += d.length;
  return static_cast<long>(d.code);
}

std::string TerminalSafeText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const Decoded d = DecodeAt(utf8, i);
    if (d.length == 0) {
      out += kReplacement;
      ++i;
      continue;
    }
    if (d.code < 0x20 || d.code == 0x7F) {
      out += '^';
      out += static_cast<char>(d.code ^ 0x40);  // ESC -> "[", DEL -> "?"
    } else if ((d.code >= 0x80 && d.code <= 0x9F) || TurnsOrBreaksLines(d.code)) {
      char shown[16];
      std::snprintf(shown, sizeof shown, "<U+%04X>", static_cast<unsigned>(d.code));
      out += shown;
    } else {
      out.append(utf8.substr(i, d.length));
    }
    i += d.length;
  }
  return out;
}

}  // namespace folivex
