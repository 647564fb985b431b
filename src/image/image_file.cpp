#include "image/image_format.h"
#include "platform/services.h"

namespace folivex {

ImageFileScan ScanImageFile(const Text& path) {
  ImageFileScan scan;
  StreamFile file(path, StreamFile::Mode::Read);
  if (!file.IsOpen()) return scan;
  scan.opened = true;
  ImageScanner scanner;
  std::vector<std::uint8_t> chunk(64 * 1024);
  // A broken walk cannot mend, so reading stops there.
  while (!scanner.Broken()) {
    std::size_t got = file.Read(chunk.data(), chunk.size());
    if (got == 0) break;
    scanner.Feed(chunk.data(), got);
  }
  scan.kind = scanner.Kind();
  scan.complete = scanner.Complete();
  scan.jpeg = scanner.Jpeg();
  scan.size = scanner.BytesFed();
  return scan;
}

}  // namespace folivex
