// Utf8ToGbk on a 20 MB page of mixed Chinese and ASCII, beside glibc's
// iconv converting the same bytes in one call.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <string>

#include "analysis/decode.h"

namespace folivex {
namespace {

const Bytes& Page() {
  static const Bytes page = [] {
    const std::string lines[] = {
        "<div class=\"page\"><a href=\"files/mobile/12.jpg\">",
        "\xE7\xAC\xAC\xE5\x8D\x81\xE4\xBA\x8C\xE9\xA1\xB5",  // 第十二页
        "</a> <span>\xE4\xB9\xA6\xE5\x90\x8D\xEF\xBC\x9A",    // 书名：
        "\xE5\x9B\xBE\xE4\xB9\xA6\xE6\x9D\x82\xE5\xBF\x97\xE7\xA4\xBA\xE4\xBE\x8B",  // 图书杂志示例
        "</span> var total = 200; // \xE5\x85\xB1\xE4\xB8\x80\xE7\x99\xBE\xE9\xA1\xB5\n",
    };
    Bytes bytes;
    bytes.reserve(20u << 20);
    while (bytes.size() < (20u << 20)) {
      for (const std::string& line : lines) bytes.insert(bytes.end(), line.begin(), line.end());
    }
    return bytes;
  }();
  return page;
}

void BM_Utf8ToGbk(benchmark::State& state) {
  const Bytes& page = Page();
  for (auto _ : state) {
    Text text = Utf8ToGbk(page);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_Utf8ToGbk)->Unit(benchmark::kMillisecond);

// One iconv call over the whole page. With `fresh_output` the output is
// allocated for each conversion, as a function returning a new text must;
// otherwise one buffer made up front is reused.
void RawIconv(benchmark::State& state, bool fresh_output) {
  const Bytes& page = Page();
  iconv_t cd = iconv_open("GBK", "UTF-8");
  std::string reused(page.size(), '\0');  // GBK never needs more bytes than UTF-8
  for (auto _ : state) {
    std::string fresh;
    if (fresh_output) fresh.resize(page.size());
    std::string& out = fresh_output ? fresh : reused;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(page.data()));
    std::size_t in_left = page.size();
    char* o = out.data();
    std::size_t out_left = out.size();
    if (iconv(cd, &in, &in_left, &o, &out_left) == static_cast<std::size_t>(-1)) {
      state.SkipWithError("iconv stopped");
      break;
    }
    if (fresh_output) out.resize(out.size() - out_left);
    benchmark::DoNotOptimize(out.data());
  }
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

void BM_RawIconv(benchmark::State& state) { RawIconv(state, false); }
BENCHMARK(BM_RawIconv)->Unit(benchmark::kMillisecond);

void BM_RawIconvFreshOutput(benchmark::State& state) { RawIconv(state, true); }
BENCHMARK(BM_RawIconvFreshOutput)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace folivex

BENCHMARK_MAIN();
