#include "analysis/folder_name.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "http/url.h"

namespace folivex {
namespace {

// Full-width stand-ins (code page 936) for the characters no Windows file
// name may hold; on Linux they keep the names the same on both systems.
std::string_view FullWidthFor(unsigned char c) {
  switch (c) {
    case '\\': return "\xA3\xDC";  // ＼
    case '/': return "\xA3\xAF";   // ／
    case ':': return "\xA3\xBA";   // ：
    case '*': return "\xA3\xAA";   // ＊
    case '?': return "\xA3\xBF";   // ？
    case '"': return "\xA3\xA2";   // ＂
    case '<': return "\xA3\xBC";   // ＜
    case '>': return "\xA3\xBE";   // ＞
    case '|': return "\xA3\xFC";   // ｜
    case '.': return "\xA3\xAE";   // ．
    case ' ': return "\xA1\xA1";   // full-width space
    default: return {};
  }
}

bool IsUnusable(std::string_view title) {
  for (char c : title) {
    if (c != '?' && c != ' ') return false;
  }
  return true;
}

// Windows reserves these names whatever their case and extension.
bool IsDeviceName(std::string_view name) {
  const std::size_t dot = name.find('.');
  std::string_view stem = name.substr(0, dot);
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  const Text lower = ToLower(stem);
  static constexpr std::array<std::string_view, 4> kPlain = {"con", "prn", "aux", "nul"};
  for (std::string_view device : kPlain) {
    if (lower == device) return true;
  }
  if (lower.size() == 4 && (lower.starts_with("com") || lower.starts_with("lpt")) &&
      lower[3] >= '1' && lower[3] <= '9') {
    return true;
  }
  return false;
}

std::uint32_t Fnv1a(std::string_view bytes) {
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
}

// Replaces what no file name may hold, character by character.
Text ReplaceUnsafe(std::string_view title) {
  Text out;
  out.reserve(title.size() + 8);
  for (std::size_t i = 0; i < title.size();) {
    const unsigned char c = static_cast<unsigned char>(title[i]);
    if (c >= 0x80) {
      if (i + 1 >= title.size()) {  // a lone lead byte names no character
        out += '_';
        break;
      }
      out.append(title.substr(i, 2));
      i += 2;
      continue;
    }
    if (c < 0x20 || c == 0x7F) {
      out += '_';
    } else if (c != '.' && c != ' ' && !FullWidthFor(c).empty()) {
      out.append(FullWidthFor(c));
    } else {
      out += static_cast<char>(c);
    }
    ++i;
  }
  return out;
}

// Cuts to at most `limit` bytes without splitting a double-byte character.
Text CutAtCharacter(const Text& text, std::size_t limit) {
  std::size_t end = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t step = static_cast<unsigned char>(text[i]) >= 0x80 ? 2 : 1;
    if (i + step > limit) break;
    i += step;
    end = i;
  }
  return text.substr(0, end);
}

// Windows drops trailing dots and spaces from names, and "." and ".." name
// other folders: replace every trailing one by its full-width form.
void ReplaceTrailingDotsAndSpaces(Text& name) {
  std::size_t keep = name.size();
  // Walk from the end only over single-byte dots and spaces; a trail byte
  // of a double-byte character is never 0x20 or 0x2E, so this is safe.
  while (keep > 0 && (name[keep - 1] == '.' || name[keep - 1] == ' ')) --keep;
  Text tail;
  for (std::size_t i = keep; i < name.size(); ++i) {
    tail.append(FullWidthFor(static_cast<unsigned char>(name[i])));
  }
  name.resize(keep);
  name += tail;
}

Text MakeName(const Text& source) {
  Text name = ReplaceUnsafe(source);
  if (static_cast<int>(name.size()) > kMaxFolderNameBytes) {
    char hash[10];
    static const char kHex[] = "0123456789abcdef";
    const std::uint32_t h = Fnv1a(source);
    hash[0] = '~';
    for (int k = 0; k < 8; ++k) hash[1 + k] = kHex[(h >> (28 - 4 * k)) & 0xF];
    hash[9] = '\0';
    name = CutAtCharacter(name, kMaxFolderNameBytes - 9) + hash;
  }
  ReplaceTrailingDotsAndSpaces(name);
  // A leading dot hides the folder on Linux.
  if (!name.empty() && name.front() == '.') name = ConcatText(FullWidthFor('.'), name.substr(1));
  if (IsDeviceName(name)) {
    const std::size_t stem_end = std::min(name.find('.'), name.size());
    name = ConcatText(name.substr(0, stem_end), "_", name.substr(stem_end));
  }
  return name;
}

}  // namespace

Text SafeFolderName(const Text& title, const Text& address) {
  if (!IsUnusable(title)) return MakeName(title);
  // Name the folder after where the book came from: host and path, with
  // the scheme dropped, so two books without usable titles stay apart.
  Text from = ConcatText(UrlHost(address), UrlPath(address));
  while (!from.empty() && from.back() == '/') from.pop_back();
  if (IsUnusable(from)) return "book";
  return MakeName(ConcatText("book_", from));
}

}  // namespace folivex
