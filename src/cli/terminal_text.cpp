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

}  // namespace

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
