// The marker routines on arbitrary pages and markers: no crash, and what
// they cut out is a piece of the page that stood between the markers.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "text/markers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace folivex;
  FuzzedDataProvider data(bytes, size);
  const std::string left = data.ConsumeRandomLengthString(24);
  const std::string right = data.ConsumeRandomLengthString(24);
  const std::optional<int> start =
      data.ConsumeBool() ? std::optional<int>(data.ConsumeIntegralInRange<int>(-3, 1 << 12)) : std::nullopt;
  const bool ignore_case = data.ConsumeBool();
  const std::string page = data.ConsumeRemainingBytesAsString();

  const Text first = ExtractBetweenFirst(page, left, right);
  if (!first.empty()) Check(page.find(left + first + right) != std::string::npos);
  Check(first.size() <= page.size());

  const Text between = ExtractBetween(page, left, right, start, ignore_case);
  Check(between.size() <= page.size());
  if (!between.empty() && !ignore_case && left.find('#') == std::string::npos &&
      right.find('#') == std::string::npos) {
    Check(page.find(left + between + right) != std::string::npos);
  }

  const Text before = TextBeforeMarker(page, left, start, ignore_case);
  Check(before.size() <= page.size() && page.compare(0, before.size(), before) == 0);

  const Text after = TextAfterColon(page);
  Check(after.size() <= page.size());
  return 0;
}
