// The text primitives on arbitrary bytes: no crash, no sanitizer report, and
// every position or piece they hand back lies inside the text it came from.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "text/text.h"

namespace {

std::string FoldBytes(std::string bytes) {
  for (char& c : bytes) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
  }
  return bytes;
}

std::optional<int> MaybeInt(FuzzedDataProvider& data) {
  if (!data.ConsumeBool()) return std::nullopt;
  return data.ConsumeIntegralInRange<int>(-5, 1 << 12);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace folivex;
  FuzzedDataProvider data(bytes, size);
  const std::string sub = data.ConsumeRandomLengthString(16);
  const std::string other = data.ConsumeRandomLengthString(16);
  const std::optional<int> start = MaybeInt(data);
  const std::optional<int> count = MaybeInt(data);
  const bool flag = data.ConsumeBool();
  const int n = data.ConsumeIntegralInRange<int>(-8, 1 << 12);
  const std::string text = data.ConsumeRemainingBytesAsString();
  const int length = static_cast<int>(text.size());

  const int found = FindText(text, sub, start, flag);
  Check(found == -1 || (found >= 1 && found + static_cast<int>(sub.size()) - 1 <= length));
  if (found > 0 && !flag) Check(text.compare(found - 1, sub.size(), sub) == 0);
  // Ignoring case folds every compared byte, the second byte of a
  // double-byte character too, unlike ToLower: fold byte by byte here.
  if (found > 0 && flag) Check(FoldBytes(text.substr(found - 1, sub.size())) == FoldBytes(sub));
  const int last = FindTextReverse(text, sub, start, flag);
  Check(last == -1 || (last >= 1 && last + static_cast<int>(sub.size()) - 1 <= length));
  if (last > 0 && !flag) Check(text.compare(last - 1, sub.size(), sub) == 0);

  Check(static_cast<int>(TextLeft(text, n).size()) <= std::max(0, std::min(n, length)));
  Check(static_cast<int>(TextRight(text, n).size()) <= std::max(0, std::min(n, length)));
  const Text mid = TextMid(text, start.value_or(1), n);
  Check(mid.size() <= text.size() && text.find(mid) != std::string::npos);

  const std::optional<std::string_view> replacement =
      flag ? std::optional<std::string_view>(other) : std::nullopt;
  const Text replaced = ReplaceText(text, sub, replacement, start, count, flag);
  if (count && *count == 0) Check(replaced == text);
  if (sub.empty()) Check(replaced == text);

  const TextArray pieces = SplitText(text, flag ? std::optional<std::string_view>(sub) : std::nullopt, count);
  std::size_t total = 0;
  for (const Text& piece : pieces) total += piece.size();
  Check(total <= text.size());

  const Text trimmed = TrimBoth(text);
  Check(trimmed.size() <= text.size() && text.find(trimmed) != std::string::npos);
  Check(ToLower(text).size() == text.size());
  const std::int32_t number = TextToInt(text);
  Check(TextToInt(IntToText(number)) == number);
  Check(TextLength(text) == length);
  const int order = CompareText(text, sub);
  Check(order == -CompareText(sub, text) && order >= -1 && order <= 1);
  Check(CompareText(text, text) == 0);

  const Bytes raw = TextToBytes(text);
  Check(BytesLength(raw) == length && BytesEqual(raw, TextToBytes(raw)));
  const Text upto_zero = BytesToText(raw);
  Check(upto_zero.find('\0') == std::string::npos && text.compare(0, upto_zero.size(), upto_zero) == 0);
  Check(static_cast<int>(BytesLeft(raw, n).size()) <= std::max(0, std::min(n, length)));
  Check(ConcatText(text, sub) == text + sub);
  Check(static_cast<int>(BlankText(n % 64).size()) == std::max(0, n % 64));
  return 0;
}
