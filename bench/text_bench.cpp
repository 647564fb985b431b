// The text primitives on a page-sized text: 20 MB of HTML-like lines that mix
// ASCII with double-byte characters (some with ASCII second bytes), and the
// markers of interest near the end, as on a long book page.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "text/markers.h"
#include "text/text.h"

namespace folivex {
namespace {

constexpr std::string_view kLeft = "<div class=\"book-pages\" data-count=\"";
constexpr std::string_view kRight = "\"></div>";

const Text& PageText() {
  static const Text text = [] {
    constexpr std::size_t kSize = 20u << 20;
    Text t;
    t.reserve(kSize + 256);
    std::uint32_t state = 12345;
    auto next = [&state](std::uint32_t n) {
      state = state * 1664525u + 1013904223u;
      return (state >> 8) % n;
    };
    while (t.size() < kSize) {
      t += "<p class=\"line\">";
      const std::uint32_t words = 3 + next(6);
      for (std::uint32_t w = 0; w < words; ++w) {
        if (next(2) == 0) {
          const std::uint32_t letters = 2 + next(7);
          for (std::uint32_t i = 0; i < letters; ++i) t += static_cast<char>('a' + next(26));
        } else {
          const std::uint32_t chars = 1 + next(6);
          for (std::uint32_t i = 0; i < chars; ++i) {
            t += static_cast<char>(0xB0 + next(0x48));
            // Second bytes run from 0x40, so some are ASCII letters and signs.
            t += static_cast<char>(next(4) == 0 ? 0x40 + next(0x3F) : 0xA1 + next(0x5E));
          }
        }
        t += ' ';
      }
      t += "</p>\r\n";
    }
    t += "<div class=\"book-pages\" data-count=\"128\"></div>\r\n<p>end</p>\r\n";
    return t;
  }();
  return text;
}

void BM_StdStringFind(benchmark::State& state) {
  const Text& text = PageText();
  for (auto _ : state) {
    const std::size_t a = text.find(kLeft);
    benchmark::DoNotOptimize(a);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_StdStringFind);

// Both markers with std::string::find and the piece copied: the same work as
// ExtractBetweenFirst without the character walk.
void BM_StdStringFindBoth(benchmark::State& state) {
  const Text& text = PageText();
  for (auto _ : state) {
    const std::size_t a = text.find(kLeft) + kLeft.size();
    const std::size_t b = text.find(kRight, a);
    Text piece = text.substr(a, b - a);
    benchmark::DoNotOptimize(piece);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_StdStringFindBoth);

void BM_ExtractBetweenFirst(benchmark::State& state) {
  const Text& text = PageText();
  for (auto _ : state) {
    Text piece = ExtractBetweenFirst(text, kLeft, kRight);
    benchmark::DoNotOptimize(piece);
  }
  if (ExtractBetweenFirst(text, kLeft, kRight) != "128") state.SkipWithError("wrong piece");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ExtractBetweenFirst);

void BM_FindText(benchmark::State& state) {
  const Text& text = PageText();
  for (auto _ : state) {
    const int position = FindText(text, kLeft);
    benchmark::DoNotOptimize(position);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_FindText);

// A one-byte marker that occurs on every line, to weigh the per-candidate
// cost of the walk.
void BM_FindTextReverseFrequent(benchmark::State& state) {
  const Text& text = PageText();
  for (auto _ : state) {
    const int position = FindTextReverse(text, "<");
    benchmark::DoNotOptimize(position);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_FindTextReverseFrequent);

void BM_SplitTextLines(benchmark::State& state) {
  const Text& text = PageText();
  for (auto _ : state) {
    TextArray lines = SplitText(text, "\r\n");
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_SplitTextLines)->Unit(benchmark::kMillisecond);

void BM_ReplaceTextTags(benchmark::State& state) {
  const Text& text = PageText();
  for (auto _ : state) {
    Text replaced = ReplaceText(text, "<p class=\"line\">", std::string_view("<p>"), std::nullopt,
                                std::nullopt, true);
    benchmark::DoNotOptimize(replaced);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ReplaceTextTags)->Unit(benchmark::kMillisecond);

// The default, case-folding replacement.
void BM_ReplaceTextIgnoringCase(benchmark::State& state) {
  const Text& text = PageText();
  for (auto _ : state) {
    Text replaced = ReplaceText(text, "</P>", std::string_view("</p>"));
    benchmark::DoNotOptimize(replaced);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ReplaceTextIgnoringCase)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace folivex

BENCHMARK_MAIN();
