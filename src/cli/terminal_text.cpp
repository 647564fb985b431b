#include "cli/terminal_text.h"

#include <cstdio>

namespace folivex {

long NextCodePoint(std::string_view text, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  int length = 0;
  long code = 0;
  long lowest = 0;
  if (lead < 0x80) {
    ++at;
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, lowest = 0x10000;
  } else {
    ++at;
    return -1;
  }
  if (at + static_cast<std::size_t>(length) > text.size()) {
    ++at;
    return -1;
  }
  for (int i = 1; i < length; ++i) {
    const unsigned char next = byte(at + static_cast<std::size_t>(i));
    if ((next & 0xC0) != 0x80) {
      ++at;
      return -1;
    }
    code = (code << 6) | (next & 0x3F);
  }
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    ++at;
    return -1;
  }
  at += static_cast<std::size_t>(length);
  return code;
}

std::string TerminalSafe(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t start = at;
    const long code = NextCodePoint(text, at);
    char escape[16];
    if (code < 0) {
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[start]));
      out += escape;
    } else if (code < 0x20 || code == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(code));
      out += escape;
    } else if (code >= 0x80 && code <= 0x9F) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
      out += escape;
    } else {
      out.append(text.substr(start, at - start));
    }
  }
  return out;
}

}  // namespace folivex
