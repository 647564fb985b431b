#include "analysis/decode.h"

#include <algorithm>
#include <limits>
#include <string>

#include "platform/codepage.h"

namespace folivex {

Text Utf8ToGbk(const Bytes& page) {
  if (BytesEqual(page, Bytes())) return Text();
  // The conversions count in int; a page beyond 2 GiB is cut there rather
  // than wrapping to a negative length.
  const int length = static_cast<int>(
      std::min<std::size_t>(page.size(), static_cast<std::size_t>(std::numeric_limits<int>::max())));
  const char* utf8 = reinterpret_cast<const char*>(page.data());

  const int units = ConvertUtf8ToUtf16(utf8, length, nullptr, 0);
  if (units <= 0) return Text();
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  ConvertUtf8ToUtf16(utf8, length, wide.data(), units);

  const int size = ConvertUtf16ToGbk(wide.data(), static_cast<int>(wide.size()), nullptr, 0);
  if (size <= 0) return Text();
  Bytes gbk = BlankBytes(size);
  ConvertUtf16ToGbk(wide.data(), static_cast<int>(wide.size()), reinterpret_cast<char*>(gbk.data()),
                    size);
  return BytesToText(gbk);
}

}  // namespace folivex
