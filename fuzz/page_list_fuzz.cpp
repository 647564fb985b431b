// Page lists as typed after --pages: any text is either refused with a
// reason or names exactly the pages a plain reading of it names, ascending
// and each once, never outside the book.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"

namespace {

struct Range {
  long long first, last;  // last < 0: open end
};

// The list read the plain way: items between commas, each "N", "N-" or
// "N-M" of decimal digits with 1 <= N (<= M). Nothing when it is not one.
std::optional<std::vector<Range>> ReadPlainly(const std::string& text) {
  std::vector<Range> ranges;
  std::size_t start = 0;
  auto number = [](const std::string& digits) -> std::optional<long long> {
    if (digits.empty()) return std::nullopt;
    long long value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
      if (value > 0x7FFFFFFF) return std::nullopt;
    }
    if (value < 1 || value > 0x7FFFFFFF) return std::nullopt;
    return value;
  };
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const std::size_t dash = item.find('-');
    const auto first = number(item.substr(0, dash));
    if (!first) return std::nullopt;
    long long last = *first;
    if (dash != std::string::npos) {
      const std::string tail = item.substr(dash + 1);
      if (tail.empty()) {
        last = -1;
      } else {
        const auto end = number(tail);
        if (!end || *end < *first) return std::nullopt;
        last = *end;
      }
    }
    ranges.push_back({*first, last});
    if (comma == std::string::npos) return ranges;
    start = comma + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace folivex;
  FuzzedDataProvider data(bytes, size);
  const int count = data.ConsumeIntegralInRange<int>(-3, 3000);
  const std::string text = data.ConsumeRemainingBytesAsString();

  std::string error;
  const std::optional<PageList> list = PageList::Parse(text, &error);
  const std::optional<std::vector<Range>> plain = ReadPlainly(text);
  Check(list.has_value() == plain.has_value());
  if (!list) {
    Check(!error.empty());
    return 0;
  }
  const std::vector<int> pages = list->Select(count);
  std::size_t next = 0;
  for (int page = 1; page <= count; ++page) {
    bool named = false;
    for (const Range& r : *plain) named = named || (page >= r.first && (r.last < 0 || page <= r.last));
    if (named) {
      Check(next < pages.size() && pages[next] == page);
      ++next;
    }
  }
  Check(next == pages.size());
  // The same list through the command line.
  const ParsedCommandLine parsed = ParseCommandLine({"--pages", text, "http://h/"});
  Check(parsed.options.has_value() && parsed.options->pages.has_value());
  Check(parsed.options->pages->Select(count) == pages);
  return 0;
}
