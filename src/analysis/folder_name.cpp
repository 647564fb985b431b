#include "analysis/folder_name.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "http/url.h"
#include "platform/codepage.h"

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

// The size of the character at `at` of a name made by ReplaceUnsafe, where
// every lead byte has its second byte.
std::size_t CharacterSize(std::string_view name, std::size_t at) {
  return StartsGbkPair(name, at) ? 2 : 1;
}

// What one character of code page 936 costs in the file systems' own
// terms; nothing when it has no Unicode form that converts back to it.
struct Cost {
  int utf8_bytes = 0;
  int utf16_units = 0;
};
std::optional<Cost> CostOf(std::string_view character) {
  if (static_cast<unsigned char>(character[0]) < 0x80) return Cost{1, 1};
  const std::u16string wide = GbkToUtf16(character);
  // Code page 936 holds only characters of the Basic Multilingual Plane;
  // one that comes back as "?" has no character of its own.
  if (wide.size() != 1 || wide[0] == u'?' || Utf16ToGbk(wide) != character) return std::nullopt;
  const char16_t unit = wide[0];
  return Cost{unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3, 1};
}

// Windows reserves these names whatever their case and extension.
bool IsDeviceName(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  std::string lower(stem);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  static constexpr std::array<std::string_view, 6> kPlain = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  for (std::string_view device : kPlain) {
    if (lower == device) return true;
  }
  return lower.size() == 4 && (lower.starts_with("com") || lower.starts_with("lpt")) && lower[3] >= '0' &&
         lower[3] <= '9';
}

std::uint32_t Fnv1a(std::string_view bytes) {
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
}

// Replaces what no file name may hold, character by character. Bytes that
// name no character (a lead byte without a valid second byte, a pair with
// no Unicode form) become "_", so every byte of the result belongs to a
// character that both file systems take.
Text ReplaceUnsafe(std::string_view title) {
  Text out;
  out.reserve(title.size() + 8);
  for (std::size_t i = 0; i < title.size();) {
    const unsigned char c = static_cast<unsigned char>(title[i]);
    if (StartsGbkPair(title, i)) {
      const std::string_view pair = title.substr(i, 2);
      if (CostOf(pair)) {
        out.append(pair);
      } else {
        out += '_';
      }
      i += 2;
      continue;
    }
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && !CostOf(title.substr(i, 1)))) {
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

// Windows drops trailing dots and spaces from names, and "." and ".." name
// other folders: every trailing one becomes its full-width form. A leading
// dot hides the folder on Linux, and a device name is no folder on Windows.
void ReplaceUnsafeEnds(Text& name) {
  std::size_t keep = name.size();
  // A second byte is never 0x20 or 0x2E, so walking back over single bytes
  // is safe.
  while (keep > 0 && (name[keep - 1] == '.' || name[keep - 1] == ' ')) --keep;
  Text tail;
  for (std::size_t i = keep; i < name.size(); ++i) {
    tail.append(FullWidthFor(static_cast<unsigned char>(name[i])));
  }
  name.resize(keep);
  name += tail;
  if (!name.empty() && name.front() == '.') name = ConcatText(FullWidthFor('.'), name.substr(1));
  if (IsDeviceName(name)) {
    const std::size_t stem_end = std::min(name.find('.'), name.size());
    name = ConcatText(name.substr(0, stem_end), "_", name.substr(stem_end));
  }
}

// The longest start of `name` whose characters fit the budget.
Text CutToFit(const Text& name, int utf8_bytes, int utf16_units) {
  std::size_t end = 0;
  for (std::size_t i = 0; i < name.size();) {
    const std::size_t size = CharacterSize(name, i);
    const Cost cost = CostOf(std::string_view(name).substr(i, size)).value_or(Cost{3, 1});
    utf8_bytes -= cost.utf8_bytes;
    utf16_units -= cost.utf16_units;
    if (utf8_bytes < 0 || utf16_units < 0) break;
    i += size;
    end = i;
  }
  return name.substr(0, end);
}

bool Fits(const Text& name) {
  return static_cast<int>(GbkToUtf8(name).size()) <= kMaxFolderNameUtf8Bytes &&
         static_cast<int>(GbkToUtf16(name).size()) <= kMaxFolderNameUtf16Units;
}

Text MakeName(const Text& source) {
  Text name = ReplaceUnsafe(source);
  ReplaceUnsafeEnds(name);
  // Measured after every replacement: a full-width form is longer than the
  // character it stands for.
  if (Fits(name)) return name;
  static const char kHex[] = "0123456789abcdef";
  const std::uint32_t h = Fnv1a(source);
  Text hash = "~";
  for (int k = 0; k < 8; ++k) hash += kHex[(h >> (28 - 4 * k)) & 0xF];
  const int hash_size = static_cast<int>(hash.size());
  // The ends were made safe before the cut: the start stays, and the name
  // now ends with the hash.
  return CutToFit(name, kMaxFolderNameUtf8Bytes - hash_size, kMaxFolderNameUtf16Units - hash_size) + hash;
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

Text FolderNameWithSuffix(const Text& name, std::string_view suffix) {
  const int size = static_cast<int>(suffix.size());
  return ConcatText(CutToFit(name, kMaxFolderNameUtf8Bytes - size, kMaxFolderNameUtf16Units - size), suffix);
}

}  // namespace folivex
