// The whole-string conversions, on top of each system's size-query-then-fill
// primitives.
#include "platform/codepage.h"

#include <limits>

namespace folivex {
namespace {

// Runs a primitive twice: once for the size, once to fill an output of
// exactly that size.
template <class Out, class In, class Convert>
Out ConvertWhole(In input, Convert convert) {
  Out output;
  if (input.empty()) return output;
  const int size = convert(input.data(), static_cast<int>(input.size()), nullptr, 0);
  if (size <= 0) return output;
  output.resize(static_cast<std::size_t>(size));
  const int written =
      convert(input.data(), static_cast<int>(input.size()), output.data(), size);
  output.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return output;
}

// The primitives take an int length; nothing this program converts comes
// near 2 GiB, so a longer input is cut to what an int can count rather than
// wrapping to a negative length.
template <class View>
View Clamp(View input) {
  constexpr std::size_t kMax = static_cast<std::size_t>(std::numeric_limits<int>::max());
  return input.size() > kMax ? input.substr(0, kMax) : input;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  return ConvertWhole<std::u16string>(Clamp(utf8), ConvertUtf8ToUtf16);
}

std::string Utf16ToUtf8(std::u16string_view wide) {
  return ConvertWhole<std::string>(Clamp(wide), ConvertUtf16ToUtf8);
}

std::string Utf16ToGbk(std::u16string_view wide) {
  return ConvertWhole<std::string>(Clamp(wide), ConvertUtf16ToGbk);
}

std::u16string GbkToUtf16(std::string_view gbk) {
  return ConvertWhole<std::u16string>(Clamp(gbk), ConvertGbkToUtf16);
}

std::string GbkToUtf8(std::string_view gbk) { return Utf16ToUtf8(GbkToUtf16(gbk)); }

std::string Utf8ToGbkText(std::string_view utf8) { return Utf16ToGbk(Utf8ToUtf16(utf8)); }

}  // namespace folivex
