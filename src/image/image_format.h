// Recognising page images and telling whether one is whole. A page that is
// an error page, or one cut short by a dropped connection, must not pass for
// a page: these checks follow each format's own structure up to its end
// mark, so a body is judged by what it is, not by its name or its headers.
//
// Everything here except ScanImageFile is pure: bytes in, facts out. No
// input, however hostile, makes it read outside the bytes it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "text/text.h"

namespace folivex {

enum class ImageKind { None, Jpeg, Png, Gif, Bmp };

// What a JPEG's frame header says, plus the Adobe marker that decides how
// four-component samples are to be read.
struct JpegInfo {
  int width = 0;
  int height = 0;
  int components = 0;        // 1 grey, 3 YCbCr or RGB, 4 CMYK or YCCK
  int bits = 0;              // sample precision, 8 in nearly every file
  bool progressive = false;
  std::uint8_t frame_marker = 0;  // 0xC0..0xCF: the coding process
  // An Adobe APP14 segment came before the first scan. Adobe writers store
  // four-component samples inverted, so readers have to flip them back.
  bool adobe = false;
  int adobe_transform = -1;  // its colour transform byte, -1 without one

  // Huffman-coded 8-bit sequential or progressive: what every JPEG decoder,
  // and the DCT filter of every PDF reader, handles.
  bool IsCommonCoding() const {
    return bits == 8 && (frame_marker == 0xC0 || frame_marker == 0xC1 ||
                         frame_marker == 0xC2);
  }
};

// The kind the first bytes announce: JPEG (FF D8 FF), PNG (its 8-byte
// signature), GIF ("GIF87a" or "GIF89a") or BMP ("BM" with a known header
// size). None for anything else, empty bytes included.
ImageKind SniffImage(const Bytes& bytes);
ImageKind SniffImage(const std::uint8_t* data, std::size_t size);

// The frame header of a JPEG, found by walking its segments from the start.
// Empty for bytes that are no JPEG, for a segment length that runs past the
// end or below its minimum, or for a frame with no size or with other than
// 1, 3 or 4 components. Needs only the bytes up to the frame header.
std::optional<JpegInfo> ReadJpegInfo(const std::uint8_t* data, std::size_t size);
std::optional<JpegInfo> ReadJpegInfo(const Bytes& bytes);

// Whether the bytes are one whole image of a known kind, ending where the
// format says it ends; zero bytes after that end are allowed (padding).
//   JPEG: SOI, a sound segment walk to a frame header and a scan, the scan
//         data, and the EOI marker FF D9.
//   PNG:  the signature, IHDR first, chunks whose lengths fit, and IEND.
//   GIF:  header, colour tables, blocks and sub-blocks, and the 0x3B trailer.
//   BMP:  as many bytes as the file size in its header.
bool IsCompleteImage(const Bytes& bytes);
bool IsCompleteImage(const std::uint8_t* data, std::size_t size);

// The same checks on bytes that arrive piece by piece (a file read in
// chunks, a download in progress). Pieces may be cut anywhere; the verdict
// is the same as for the joined bytes.
class ImageScanner {
 public:
  void Feed(const std::uint8_t* data, std::size_t size);
  void Feed(const Bytes& bytes) { Feed(bytes.data(), bytes.size()); }

  // None until enough bytes came to tell, and for bytes that are no image.
  ImageKind Kind() const { return kind_; }
  // Whether everything fed so far is one whole image (see IsCompleteImage).
  bool Complete() const;
  // The bytes broke the format: nothing fed later can make them whole.
  bool Broken() const { return state_ == State::Broken; }
  // A JPEG's frame header once it has been read and found usable.
  const std::optional<JpegInfo>& Jpeg() const { return jpeg_; }
  std::uint64_t BytesFed() const { return fed_; }

 private:
  enum class State {
    Sniffing,
    Broken,
    Skip,       // drop skip_ bytes, then go on as SkipThen said
    Collect,    // gather need_ bytes into buffer_, then handle them
    Trailer,    // past the end mark: zero bytes only
    JpegMarkerStart,  // expecting FF
    JpegMarkerCode,   // after FF: fill bytes or the marker code
    JpegEntropy,      // scan data: looking for FF
    JpegEntropyFF,    // FF inside scan data
    GifBlock,         // one byte: image, extension or trailer
    GifSubBlock,      // one byte: the length of the next sub-block
  };
  enum class Step {
    None,
    JpegSoi,
    JpegLength,
    JpegSegment,
    PngSignature,
    PngChunkHead,
    GifHeader,
    GifImageDescriptor,
    BmpHeader,
  };

  void Run(const std::uint8_t* data, std::size_t size);
  void StartKind(ImageKind kind);
  void Collect(std::size_t count, Step step);
  // Drops `count` bytes, then enters `next`; when `next` is Collect, it
  // gathers `need` bytes for `step`.
  void SkipThen(std::uint64_t count, State next, Step step = Step::None,
                std::size_t need = 0);
  void EndSkip();
  void Handle(Step step);
  void HandleJpegMarker(std::uint8_t code);
  void HandleJpegSegment();
  void Break() { state_ = State::Broken; }

  ImageKind kind_ = ImageKind::None;
  State state_ = State::Sniffing;
  State after_skip_ = State::Broken;
  Step after_step_ = Step::None;
  std::size_t after_need_ = 0;
  Step step_ = Step::None;
  std::size_t need_ = 0;
  std::uint64_t skip_ = 0;
  std::uint64_t fed_ = 0;
  std::vector<std::uint8_t> buffer_;
  std::optional<JpegInfo> jpeg_;
  // JPEG walk state.
  std::uint8_t marker_ = 0;
  bool frame_seen_ = false;
  bool scan_seen_ = false;
  JpegInfo frame_;
  // PNG walk state.
  bool png_first_chunk_ = true;
};

// A file on disk checked in chunks through StreamFile, never held whole.
struct ImageFileScan {
  bool opened = false;  // false: missing or unreadable
  ImageKind kind = ImageKind::None;
  bool complete = false;
  std::optional<JpegInfo> jpeg;
  std::uint64_t size = 0;
};
ImageFileScan ScanImageFile(const Text& path);

}  // namespace folivex
