#include "analysis/decode.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/codepage.h"

namespace folivex {

Text Utf8ToGbk(const Bytes& page) {
  if (BytesEqual(page, Bytes())) return Text();
  // The conversions count in int; a page beyond 2 GiB is cut there rather
  // than wrapping to a negative length.
  const int length = static_cast<int>(
      std::min<std::size_t>(page.size(), static_cast<std::size_t>(std::numeric_limits<int>::max())));
  const char* utf8 = reinterpret_cast<const char*>(page.data());

  // Each conversion runs twice: once for the exact size, once to fill.
  const int units = ConvertUtf8ToUtf16(utf8, length, nullptr, 0);
  if (units <= 0) return Text();
  // Every unit is written by the conversion, so the buffer starts unfilled.
  const auto wide = std::make_unique_for_overwrite<char16_t[]>(static_cast<std::size_t>(units));
  ConvertUtf8ToUtf16(utf8, length, wide.get(), units);

  const int size = ConvertUtf16ToGbk(wide.get(), units, nullptr, 0);
  if (size <= 0) return Text();
  // The code page 936 buffer is the result itself, cut before its first
  // zero byte (as BytesToText would), so a 20 MB page is not copied again.
  Text text(static_cast<std::size_t>(size), '\0');
  ConvertUtf16ToGbk(wide.get(), units, text.data(), size);
  if (const void* zero = std::memchr(text.data(), 0, text.size())) {
    text.resize(static_cast<std::size_t>(static_cast<const char*>(zero) - text.data()));
  }
  return text;
}

}  // namespace folivex
