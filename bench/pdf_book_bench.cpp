// How fast page images are checked and bound: the JPEG walk over bytes in
// memory, and a whole book written from files on disk.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/pdf_book.h"
#include "image/image_format.h"
#include "platform/services.h"
#include "support/jpeg_maker.h"

namespace folivex {
namespace {

namespace fs = std::filesystem;

Bytes PageJpeg(int page) {
  // A noisy page, so the scan data is as dense as a photographed page.
  std::string file = MakeJpeg({.width = 1000, .height = 1400, .page = page, .noise = 60});
  return Bytes(file.begin(), file.end());
}

void BM_IsCompleteImage(benchmark::State& state) {
  const Bytes jpeg = PageJpeg(1);
  for (auto _ : state) benchmark::DoNotOptimize(IsCompleteImage(jpeg));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * jpeg.size()));
}
BENCHMARK(BM_IsCompleteImage);

void BM_WritePdfBook(benchmark::State& state) {
  const fs::path folder = fs::temp_directory_path() / "folivex-bench-pdf";
  fs::create_directories(folder);
  const int pages = static_cast<int>(state.range(0));
  std::vector<Text> paths;
  std::uint64_t total = 0;
  for (int n = 1; n <= pages; ++n) {
    Bytes jpeg = PageJpeg(n % 7);
    total += jpeg.size();
    paths.push_back((folder / (std::to_string(n) + ".jpg")).string());
    WriteBytesFile(paths.back(), jpeg);
  }
  const Text pdf = (folder / "book.pdf").string();
  for (auto _ : state) {
    PdfResult result = WritePdfBook(pdf, "Book", paths);
    if (!result.ok) state.SkipWithError(result.error.c_str());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * total));
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}
BENCHMARK(BM_WritePdfBook)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace folivex

BENCHMARK_MAIN();
