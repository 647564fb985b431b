#include "image/image_format.h"

#include <algorithm>
#include <cstring>

namespace folivex {
namespace {

constexpr std::uint8_t kJpegSignature[] = {0xFF, 0xD8, 0xFF};
constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint8_t kGif87Signature[] = {'G', 'I', 'F', '8', '7', 'a'};
constexpr std::uint8_t kGif89Signature[] = {'G', 'I', 'F', '8', '9', 'a'};
// File header (14 bytes) plus the size field of the DIB header after it.
constexpr std::size_t kBmpSniffSize = 18;

// Anything after "BM" decides whether it is a bitmap: a text page that
// happens to start with "BM" must not pass, so the DIB header size has to be
// one of the sizes the known header versions have.
bool KnownDibHeaderSize(std::uint32_t size) {
  switch (size) {
    case 12: case 40: case 52: case 56: case 64: case 108: case 124:
      return true;
    default:
      return false;
  }
}

std::uint32_t BigEndian16(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 8) | p[1];
}
std::uint32_t BigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
         (std::uint32_t{p[2]} << 8) | p[3];
}
std::uint32_t LittleEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[1]} << 8) | p[0];
}

struct Sniff {
  ImageKind kind = ImageKind::None;
  bool need_more = false;  // the bytes so far could still start an image
};

Sniff Classify(const std::uint8_t* data, std::size_t size) {
  Sniff result;
  // 1: the signature is there; 0: the bytes so far agree with it; -1: no.
  auto against = [&](const std::uint8_t* signature, std::size_t length) {
    std::size_t common = std::min(size, length);
    if (common > 0 && std::memcmp(data, signature, common) != 0) return -1;
    return size >= length ? 1 : 0;
  };
  struct Candidate {
    ImageKind kind;
    int verdict;
  } candidates[] = {
      {ImageKind::Jpeg, against(kJpegSignature, sizeof kJpegSignature)},
      {ImageKind::Png, against(kPngSignature, sizeof kPngSignature)},
      {ImageKind::Gif, against(kGif87Signature, sizeof kGif87Signature)},
      {ImageKind::Gif, against(kGif89Signature, sizeof kGif89Signature)},
      {ImageKind::Bmp, -1},
  };
  static constexpr std::uint8_t kBm[] = {'B', 'M'};
  int bm = against(kBm, sizeof kBm);
  if (bm >= 0) {
    if (size < kBmpSniffSize) {
      candidates[4].verdict = 0;
    } else {
      candidates[4].verdict = KnownDibHeaderSize(LittleEndian32(data + 14)) ? 1 : -1;
    }
  }
  for (const Candidate& c : candidates) {
    if (c.verdict == 1) {
      result.kind = c.kind;
      return result;
    }
    if (c.verdict == 0) result.need_more = true;
  }
  return result;
}

bool IsJpegFrameMarker(std::uint8_t code) {
  // C4 (Huffman tables), C8 (reserved) and CC (arithmetic conditioning)
  // share the range but are no frame headers.
  return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 &&
         code != 0xCC;
}

constexpr std::uint8_t kJpegStartOfScan = 0xDA;
constexpr std::uint8_t kJpegAdobe = 0xEE;  // APP14

}  // namespace

ImageKind SniffImage(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr) return ImageKind::None;
  return Classify(data, size).kind;
}

ImageKind SniffImage(const Bytes& bytes) {
  return SniffImage(bytes.data(), bytes.size());
}

std::optional<JpegInfo> ReadJpegInfo(const std::uint8_t* data, std::size_t size) {
  if (SniffImage(data, size) != ImageKind::Jpeg) return std::nullopt;
  ImageScanner scanner;
  scanner.Feed(data, size);
  return scanner.Jpeg();
}

std::optional<JpegInfo> ReadJpegInfo(const Bytes& bytes) {
  return ReadJpegInfo(bytes.data(), bytes.size());
}

bool IsCompleteImage(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr) return false;
  ImageScanner scanner;
  scanner.Feed(data, size);
  return scanner.Complete();
}

bool IsCompleteImage(const Bytes& bytes) {
  return IsCompleteImage(bytes.data(), bytes.size());
}

// --- ImageScanner ------------------------------------------------------------

bool ImageScanner::Complete() const {
  return kind_ != ImageKind::None && state_ == State::Trailer;
}

void ImageScanner::Feed(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size == 0) return;
  fed_ += size;
  std::size_t used = 0;
  // The kind is decided on at most 18 bytes, gathered one at a time; then
  // those bytes go through the format's walk like any others.
  while (state_ == State::Sniffing && used < size) {
    buffer_.push_back(data[used++]);
    Sniff sniff = Classify(buffer_.data(), buffer_.size());
    if (sniff.kind != ImageKind::None) {
      std::vector<std::uint8_t> prefix;
      prefix.swap(buffer_);
      StartKind(sniff.kind);
      Run(prefix.data(), prefix.size());
    } else if (!sniff.need_more) {
      Break();
    }
  }
  if (used < size) Run(data + used, size - used);
}

void ImageScanner::StartKind(ImageKind kind) {
  kind_ = kind;
  switch (kind) {
    case ImageKind::Jpeg:
      Collect(2, Step::JpegSoi);
      break;
    case ImageKind::Png:
      Collect(sizeof kPngSignature, Step::PngSignature);
      break;
    case ImageKind::Gif:
      // Signature (6) and logical screen descriptor (7).
      Collect(13, Step::GifHeader);
      break;
    case ImageKind::Bmp:
      Collect(kBmpSniffSize, Step::BmpHeader);
      break;
    case ImageKind::None:
      Break();
      break;
  }
}

void ImageScanner::Collect(std::size_t count, Step step) {
  buffer_.clear();
  need_ = count;
  step_ = step;
  state_ = State::Collect;
  if (count == 0) Handle(step);
}

void ImageScanner::SkipThen(std::uint64_t count, State next, Step step,
                            std::size_t need) {
  skip_ = count;
  after_skip_ = next;
  after_step_ = step;
  after_need_ = need;
  state_ = State::Skip;
  if (count == 0) EndSkip();
}

void ImageScanner::EndSkip() {
  if (after_skip_ == State::Collect) {
    Collect(after_need_, after_step_);
  } else {
    state_ = after_skip_;
  }
}

void ImageScanner::Run(const std::uint8_t* data, std::size_t size) {
  std::size_t i = 0;
  while (i < size) {
    switch (state_) {
      case State::Sniffing:  // only Feed sniffs
      case State::Broken:
        return;
      case State::Skip: {
        std::uint64_t n = std::min<std::uint64_t>(skip_, size - i);
        i += static_cast<std::size_t>(n);
        skip_ -= n;
        if (skip_ == 0) EndSkip();
        break;
      }
      case State::Collect: {
        std::size_t n = std::min(need_ - buffer_.size(), size - i);
        buffer_.insert(buffer_.end(), data + i, data + i + n);
        i += n;
        if (buffer_.size() == need_) Handle(step_);
        break;
      }
      case State::Trailer:
        for (; i < size; ++i) {
          if (data[i] != 0) {
            Break();
            return;
          }
        }
        break;
      case State::JpegMarkerStart:
        if (data[i++] != 0xFF) {
          Break();
        } else {
          state_ = State::JpegMarkerCode;
        }
        break;
      case State::JpegMarkerCode: {
        std::uint8_t code = data[i++];
        if (code != 0xFF) HandleJpegMarker(code);  // FF: fill byte
        break;
      }
      case State::JpegEntropy: {
        const void* found = std::memchr(data + i, 0xFF, size - i);
        if (found == nullptr) {
          i = size;
        } else {
          i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - data) + 1;
          state_ = State::JpegEntropyFF;
        }
        break;
      }
      case State::JpegEntropyFF: {
        std::uint8_t code = data[i++];
        if (code == 0x00 || (code >= 0xD0 && code <= 0xD7)) {
          state_ = State::JpegEntropy;  // a stuffed FF data byte or a restart
        } else if (code != 0xFF) {
          HandleJpegMarker(code);
        }
        break;
      }
      case State::GifBlock: {
        std::uint8_t introducer = data[i++];
        if (introducer == 0x2C) {
          Collect(9, Step::GifImageDescriptor);
        } else if (introducer == 0x21) {
          SkipThen(1, State::GifSubBlock);  // the extension's label
        } else if (introducer == 0x3B) {
          state_ = State::Trailer;
        } else {
          Break();
        }
        break;
      }
      case State::GifSubBlock: {
        std::uint8_t length = data[i++];
        if (length == 0) {
          state_ = State::GifBlock;  // the block terminator
        } else {
          SkipThen(length, State::GifSubBlock);
        }
        break;
      }
    }
  }
}

void ImageScanner::HandleJpegMarker(std::uint8_t code) {
  marker_ = code;
  if (code == 0xD9) {
    // EOI ends the image only after scan data; before it the file is a
    // header and nothing more.
    if (scan_seen_) {
      state_ = State::Trailer;
    } else {
      Break();
    }
  } else if (code == 0x00 || code == 0xD8) {
    Break();
  } else if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) {
    state_ = State::JpegMarkerStart;  // markers without a length
  } else {
    Collect(2, Step::JpegLength);
  }
}

void ImageScanner::HandleJpegSegment() {
  const std::uint8_t* body = buffer_.data();
  std::size_t length = buffer_.size();
  if (IsJpegFrameMarker(marker_)) {
    std::size_t components = body[5];
    if (length < 6 + 3 * components) return Break();
    JpegInfo info = frame_;
    info.bits = body[0];
    info.height = static_cast<int>(BigEndian16(body + 1));
    info.width = static_cast<int>(BigEndian16(body + 3));
    info.components = static_cast<int>(components);
    info.frame_marker = marker_;
    info.progressive = marker_ == 0xC2 || marker_ == 0xC6 || marker_ == 0xCA ||
                       marker_ == 0xCE;
    // A height of 0 is left to a DNL marker after the first scan: no page
    // size can be taken from such a header, so it counts as unusable.
    if (info.width == 0 || info.height == 0 ||
        (components != 1 && components != 3 && components != 4)) {
      return Break();
    }
    frame_ = info;
    frame_seen_ = true;
    jpeg_ = frame_;
    state_ = State::JpegMarkerStart;
  } else if (marker_ == kJpegStartOfScan) {
    std::size_t components = body[0];
    if (components < 1 || components > 4 || length < 1 + 2 * components + 3) {
      return Break();
    }
    scan_seen_ = true;
    state_ = State::JpegEntropy;
  } else if (marker_ == kJpegAdobe) {
    if (length >= 12 && std::memcmp(body, "Adobe", 5) == 0) {
      frame_.adobe = true;
      frame_.adobe_transform = body[11];
      if (jpeg_) {
        jpeg_->adobe = true;
        jpeg_->adobe_transform = body[11];
      }
    }
    state_ = State::JpegMarkerStart;
  } else {
    state_ = State::JpegMarkerStart;
  }
}

void ImageScanner::Handle(Step step) {
  const std::uint8_t* b = buffer_.data();
  switch (step) {
    case Step::None:
      Break();
      return;
    case Step::JpegSoi:
      if (b[0] != 0xFF || b[1] != 0xD8) return Break();
      state_ = State::JpegMarkerStart;
      return;
    case Step::JpegLength: {
      std::uint32_t length = BigEndian16(b);
      if (length < 2) return Break();
      std::uint32_t body = length - 2;
      if (IsJpegFrameMarker(marker_)) {
        // A second frame header is a hierarchical file: not a page image.
        if (frame_seen_ || body < 6) return Break();
        Collect(body, Step::JpegSegment);
      } else if (marker_ == kJpegStartOfScan) {
        if (!frame_seen_ || body < 6) return Break();
        Collect(body, Step::JpegSegment);
      } else if (marker_ == kJpegAdobe && !scan_seen_) {
        Collect(body, Step::JpegSegment);
      } else {
        SkipThen(body, State::JpegMarkerStart);
      }
      return;
    }
    case Step::JpegSegment:
      HandleJpegSegment();
      return;
    case Step::PngSignature:
      if (std::memcmp(b, kPngSignature, sizeof kPngSignature) != 0) return Break();
      Collect(8, Step::PngChunkHead);
      return;
    case Step::PngChunkHead: {
      std::uint32_t length = BigEndian32(b);
      const std::uint8_t* type = b + 4;
      if (length > 0x7FFFFFFFu) return Break();
      for (int k = 0; k < 4; ++k) {
        bool letter = (type[k] >= 'A' && type[k] <= 'Z') || (type[k] >= 'a' && type[k] <= 'z');
        if (!letter) return Break();
      }
      bool ihdr = std::memcmp(type, "IHDR", 4) == 0;
      if (png_first_chunk_ && (!ihdr || length != 13)) return Break();
      png_first_chunk_ = false;
      if (std::memcmp(type, "IEND", 4) == 0) {
        if (length != 0) return Break();
        SkipThen(4, State::Trailer);  // its CRC
      } else {
        SkipThen(std::uint64_t{length} + 4, State::Collect, Step::PngChunkHead, 8);
      }
      return;
    }
    case Step::GifHeader: {
      if (std::memcmp(b, kGif87Signature, 6) != 0 &&
          std::memcmp(b, kGif89Signature, 6) != 0) {
        return Break();
      }
      std::uint8_t flags = b[10];
      std::uint64_t table = (flags & 0x80) ? 3u << ((flags & 7) + 1) : 0;
      SkipThen(table, State::GifBlock);
      return;
    }
    case Step::GifImageDescriptor: {
      std::uint8_t flags = b[8];
      std::uint64_t table = (flags & 0x80) ? 3u << ((flags & 7) + 1) : 0;
      // The local colour table, then the LZW code size byte before the data.
      SkipThen(table + 1, State::GifSubBlock);
      return;
    }
    case Step::BmpHeader: {
      if (b[0] != 'B' || b[1] != 'M') return Break();
      std::uint32_t file_size = LittleEndian32(b + 2);
      std::uint32_t dib_size = LittleEndian32(b + 14);
      if (!KnownDibHeaderSize(dib_size) || file_size < 14 + dib_size) return Break();
      SkipThen(file_size - kBmpSniffSize, State::Trailer);
      return;
    }
  }
}

}  // namespace folivex
