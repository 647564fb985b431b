// How fast page images are checked and bound: the JPEG walk over bytes in
// memory, a whole book written from files on disk, and what a WebP page
// costs: decoding, the lossless PDF image (time and size at three deflate
// levels), and a WebP book written whole.
//
// The WebP pages are lossy (quality 80, as sites serve them) at 1000 x 1400
// pixels: "photo" is the test page with noise on every pixel, as dense as a
// photographed page; "flat" is the same page without noise, like a page of
// text and plain colour.
#include <benchmark/benchmark.h>
#include <webp/encode.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/pdf_book.h"
#include "cli/pdf_image.h"
#include "image/image_format.h"
#include "platform/picture.h"
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

Bytes PageWebp(int page, int noise) {
  const JpegOptions options = {.width = 1000, .height = 1400, .page = page, .noise = noise};
  const std::vector<std::uint8_t> rgb = PagePixels(options);
  std::uint8_t* output = nullptr;
  const std::size_t size =
      WebPEncodeRGB(rgb.data(), options.width, options.height, options.width * 3, 80, &output);
  Bytes file(output, output + size);
  WebPFree(output);
  return file;
}

int NoiseOf(const benchmark::State& state) { return state.range(0) ? 60 : 0; }
const char* LabelOf(const benchmark::State& state) { return state.range(0) ? "photo" : "flat"; }

void BM_IsCompleteImage(benchmark::State& state) {
  const Bytes jpeg = PageJpeg(1);
  for (auto _ : state) benchmark::DoNotOptimize(IsCompleteImage(jpeg));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * jpeg.size()));
}
BENCHMARK(BM_IsCompleteImage);

void BM_DecodeWebpPage(benchmark::State& state) {
  const Bytes webp = PageWebp(3, NoiseOf(state));
  for (auto _ : state) benchmark::DoNotOptimize(DecodeWebp(webp.data(), webp.size()));
  state.SetLabel(LabelOf(state));
  state.counters["webp_bytes"] = static_cast<double>(webp.size());
}
BENCHMARK(BM_DecodeWebpPage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The PDF image of one decoded page: filtering and deflating only.
void BM_WebpPageAsPdfImage(benchmark::State& state) {
  const Bytes webp = PageWebp(3, NoiseOf(state));
  const DecodedPicture picture = *DecodeWebp(webp.data(), webp.size()).picture;
  const int level = static_cast<int>(state.range(1));
  std::size_t stream = 0;
  for (auto _ : state) {
    PdfPicture image = PixelPicture(picture, level);
    stream = image.image.data.size();
    benchmark::DoNotOptimize(image);
  }
  state.SetLabel(std::string(LabelOf(state)) + ", level " + std::to_string(level));
  state.counters["webp_bytes"] = static_cast<double>(webp.size());
  state.counters["pdf_image_bytes"] = static_cast<double>(stream);
}
BENCHMARK(BM_WebpPageAsPdfImage)
    ->ArgsProduct({{0, 1}, {1, 6, 9}})
    ->Unit(benchmark::kMillisecond);

// For comparison only (the PDF does not do this): the same decoded page
// encoded again as a baseline JPEG at quality 92 by the test encoder, the
// lossy alternative to the lossless image.
void BM_WebpPageAsJpegForComparison(benchmark::State& state) {
  const Bytes webp = PageWebp(3, NoiseOf(state));
  const DecodedPicture picture = *DecodeWebp(webp.data(), webp.size()).picture;
  std::size_t size = 0;
  for (auto _ : state) {
    size = EncodeJpeg(picture.pixels, picture.width, picture.height, 92, true, "").size();
  }
  state.SetLabel(LabelOf(state));
  state.counters["webp_bytes"] = static_cast<double>(webp.size());
  state.counters["jpeg_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_WebpPageAsJpegForComparison)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

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

// A book of 20 WebP pages written whole: reading, checking, decoding,
// deflating. Reports the time and the PDF's bytes per page.
void BM_WriteWebpPdfBook(benchmark::State& state) {
  const fs::path folder = fs::temp_directory_path() / "folivex-bench-pdf-webp";
  fs::create_directories(folder);
  constexpr int kPages = 20;
  std::vector<Text> paths;
  std::uint64_t total = 0;
  for (int n = 1; n <= kPages; ++n) {
    Bytes webp = PageWebp(n % 7, NoiseOf(state));
    total += webp.size();
    paths.push_back((folder / (std::to_string(n) + ".webp")).string());
    WriteBytesFile(paths.back(), webp);
  }
  const Text pdf = (folder / "book.pdf").string();
  for (auto _ : state) {
    PdfResult result = WritePdfBook(pdf, "Book", paths);
    if (!result.AllPagesIn()) state.SkipWithError("a page was left out");
  }
  state.SetLabel(LabelOf(state));
  state.counters["ms_per_page"] = benchmark::Counter(
      kPages / 1000.0, benchmark::Counter::kIsIterationInvariantRate |
                                                benchmark::Counter::kInvert);
  state.counters["webp_bytes_per_page"] = static_cast<double>(total) / kPages;
  state.counters["pdf_bytes_per_page"] =
      static_cast<double>(fs::file_size(folder / "book.pdf")) / kPages;
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}
BENCHMARK(BM_WriteWebpPdfBook)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace folivex

BENCHMARK_MAIN();
