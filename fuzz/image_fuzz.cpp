// Page pictures from hostile servers: the whole-image walk gives one verdict
// however the bytes are cut into pieces, never reads past them, and measures
// an image within what it was fed; the PNG reader decodes only pictures of
// the size their header gives.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"

#include <cstdint>
#include <vector>

#include "image/image_format.h"
#include "image/png_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace folivex;
  FuzzedDataProvider data(bytes, size);
  const std::size_t piece = data.ConsumeIntegralInRange<std::size_t>(1, 64);
  const std::vector<std::uint8_t> input = data.ConsumeRemainingBytes<std::uint8_t>();

  const bool whole = IsCompleteImage(input.data(), input.size());
  ImageScanner scanner;
  for (std::size_t at = 0; at < input.size(); at += piece) {
    scanner.Feed(input.data() + at, std::min(piece, input.size() - at));
  }
  Check(scanner.Complete() == whole);
  Check(scanner.BytesFed() == input.size());
  Check(scanner.ImageSize() <= scanner.BytesFed());
  Check(whole == (scanner.ImageSize() > 0));
  Check(!whole || scanner.Kind() == SniffImage(input.data(), input.size()));

  const PngRead read = ReadPngLayout(input.data(), input.size());
  if (read.layout) {
    const PictureDecode decoded = DecodePng(*read.layout);
    if (decoded.picture) {
      const DecodedPicture& p = *decoded.picture;
      Check(p.width == read.layout->width && p.height == read.layout->height);
      Check(p.channels >= 1 && p.channels <= 4);
      Check(p.pixels.size() == std::size_t(p.width) * p.height * p.channels);
    }
  }
  return 0;
}
