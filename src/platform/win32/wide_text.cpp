#include "platform/win32/wide_text.h"

#include <windows.h>

#include "platform/codepage.h"

namespace folivex {

constexpr UINT kGbk = 936;

// Code page 936 -> UTF-16. Bytes that are not valid code page 936 fail the
// conversion (nullopt), so a garbled name is never used.
std::optional<std::wstring> WidenGbk(std::string_view text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
  return wide;
}

// As WidenGbk, but bytes that do not convert become "?"; for texts that are
// shown rather than used as names. wchar_t is a UTF-16 code unit here.
std::wstring WidenGbkLossy(std::string_view text) {
  const std::u16string wide = GbkToUtf16(text);
  return std::wstring(wide.begin(), wide.end());
}

// UTF-16 -> code page 936, or nothing when a character has no code of its
// own there (no "?" and no look-alike stands in for it).
std::optional<Text> StrictNarrowToGbk(std::wstring_view wide) {
  if (wide.empty()) return Text();
  const int size = static_cast<int>(wide.size());
  BOOL used_default = FALSE;
  const int length = WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0,
                                         nullptr, &used_default);
  if (length <= 0 || used_default) return std::nullopt;
  Text out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, wide.data(), size, out.data(), length, nullptr,
                      &used_default);
  if (used_default) return std::nullopt;
  return out;
}

std::u16string_view Units(std::wstring_view wide) {
  return {reinterpret_cast<const char16_t*>(wide.data()), wide.size()};
}

// UTF-16 -> code page 936; characters without a code page 936 form become "?".
Text NarrowToGbk(std::wstring_view wide) { return Utf16ToGbk(Units(wide)); }

std::string Utf8(std::wstring_view wide) { return Utf16ToUtf8(Units(wide)); }

}  // namespace folivex
