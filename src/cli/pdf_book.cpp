#include "cli/pdf_book.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>

#include "cli/pdf_image.h"
#include "platform/codepage.h"
#include "image/image_format.h"
#include "platform/services.h"

namespace folivex {
namespace {

// Pages are sized from the image's pixels at one pixel to the point (1/72
// inch): the page is the picture, with no margin and no resampling. Readers
// refuse pages whose side exceeds 14400 points (200 inches), so a taller
// image is drawn on a page scaled down to that limit; its pixels stay as
// they are.
constexpr double kLargestPageSide = 14400.0;
constexpr std::size_t kCopyChunk = 64 * 1024;

// Decimal with at most four places, never an exponent and never the
// locale's comma: PDF numbers are plain ASCII.
std::string FormatNumber(double value) {
  long long scaled = std::llround(value * 10000.0);
  std::string text = std::to_string(scaled / 10000);
  long long fraction = scaled % 10000;
  if (fraction != 0) {
    std::string digits = std::to_string(fraction);
    digits.insert(0, 4 - digits.size(), '0');
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    text += "." + digits;
  }
  return text;
}

std::string Reference(int number) { return std::to_string(number) + " 0 R"; }

// A PDF text string: UTF-16BE behind a byte order mark, written in hex so
// no byte of the title needs escaping.
std::string TextString(const Text& gbk) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "<FEFF";
  for (char16_t unit : GbkToUtf16(gbk)) {
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
  }
  out += ">";
  return out;
}

// The output file and where each object starts in it; the cross-reference
// table at the end lists those offsets, so every byte goes through Put.
class PdfWriter {
 public:
  explicit PdfWriter(StreamFile& file) : file_(file) {}

  bool IsOpen() const { return file_.IsOpen(); }
  bool Ok() const { return ok_; }

  void Put(std::string_view text) { PutBytes(text.data(), text.size()); }
  void PutBytes(const void* data, std::size_t size) {
    if (!ok_) return;
    ok_ = file_.Write(data, size);
    offset_ += size;
  }

  int NewObject() {
    offsets_.push_back(0);
    return static_cast<int>(offsets_.size());
  }
  void BeginObject(int number) {
    offsets_[static_cast<std::size_t>(number) - 1] = offset_;
    Put(std::to_string(number) + " 0 obj\n");
  }
  void EndObject() { Put("\nendobj\n"); }
  void Object(int number, std::string_view body) {
    BeginObject(number);
    Put(body);
    EndObject();
  }

  void Finish(int root, int info) {
    std::uint64_t table = offset_;
    Put("xref\n0 " + std::to_string(offsets_.size() + 1) + "\n");
    // Each entry is exactly 20 bytes, the line end being " \n".
    Put("0000000000 65535 f \n");
    for (std::uint64_t offset : offsets_) {
      std::string digits = std::to_string(offset);
      Put(std::string(10 - std::min<std::size_t>(10, digits.size()), '0') + digits +
          " 00000 n \n");
    }
    Put("trailer\n<< /Size " + std::to_string(offsets_.size() + 1) + " /Root " +
        Reference(root) + " /Info " + Reference(info) + " >>\nstartxref\n" +
        std::to_string(table) + "\n%%EOF\n");
  }

  bool Close() {
    bool closed = file_.Close();
    ok_ = ok_ && closed;
    return ok_;
  }

 private:
  StreamFile& file_;
  bool ok_ = true;
  std::uint64_t offset_ = 0;
  std::vector<std::uint64_t> offsets_;  // object n at index n - 1
};

struct Refusal {
  PdfSkipReason kind;
  std::string reason;
};

const char* KindName(ImageKind kind) {
  switch (kind) {
    case ImageKind::Jpeg: return "JPEG";
    case ImageKind::Png: return "PNG";
    case ImageKind::Gif: return "GIF";
    case ImageKind::Bmp: return "BMP";
    case ImageKind::Webp: return "WebP";
    case ImageKind::None: break;
  }
  return "image";
}

// Why a page file cannot be a page, judged from its scan; nothing when it
// may be one.
std::optional<Refusal> Unusable(const ImageFileScan& scan) {
  if (!scan.opened) return Refusal{PdfSkipReason::Missing, "missing or unreadable"};
  if (scan.size == 0) return Refusal{PdfSkipReason::Empty, "empty file"};
  if (scan.kind == ImageKind::None) return Refusal{PdfSkipReason::NotAnImage, "not an image"};
  const std::string name = KindName(scan.kind);
  if (!scan.complete) return Refusal{PdfSkipReason::Damaged, name + " cut short or damaged"};
  if (scan.kind == ImageKind::Gif || scan.kind == ImageKind::Bmp) {
    return Refusal{PdfSkipReason::Unsupported, name + " pages are not put into the PDF"};
  }
  if (scan.kind == ImageKind::Jpeg && (!scan.jpeg || !scan.jpeg->IsCommonCoding())) {
    return Refusal{PdfSkipReason::Unsupported,
                   "JPEG coding that PDF readers do not decode (not 8-bit Huffman)"};
  }
  return std::nullopt;
}

PdfSkipReason SkipReasonOf(DecodeFailure failure) {
  switch (failure) {
    case DecodeFailure::Unsupported: return PdfSkipReason::Unsupported;
    case DecodeFailure::NoDecoder: return PdfSkipReason::NoDecoder;
    case DecodeFailure::TooLarge: return PdfSkipReason::TooLarge;
    case DecodeFailure::None:
    case DecodeFailure::Damaged: break;
  }
  return PdfSkipReason::Damaged;
}

std::string JpegDictionary(const JpegInfo& jpeg, std::uint64_t length) {
  std::string colour_space = jpeg.components == 1   ? "/DeviceGray"
                             : jpeg.components == 3 ? "/DeviceRGB"
                                                    : "/DeviceCMYK";
  std::string text = "<< /Type /XObject /Subtype /Image /Width " + std::to_string(jpeg.width) +
                     " /Height " + std::to_string(jpeg.height) + " /ColorSpace " +
                     colour_space + " /BitsPerComponent 8";
  // Adobe's writers store CMYK inverted (0 is full ink); the decode array
  // flips each sample back.
  if (jpeg.components == 4 && jpeg.adobe) text += " /Decode [1 0 1 0 1 0 1 0]";
  text += " /Filter /DCTDecode /Length " + std::to_string(length) + " >>\nstream\n";
  return text;
}

// Copies the JPEG up to its end marker into the stream (what follows the
// marker is no part of the picture) and checks that what was copied is the
// same whole JPEG that was examined before: a file rewritten in between
// would leave a stream that disagrees with its own dictionary.
bool CopyJpeg(PdfWriter& out, const Text& path, std::uint64_t image_size) {
  StreamFile file(path, StreamFile::Mode::Read);
  if (!file.IsOpen()) return false;
  ImageScanner scanner;
  std::vector<std::uint8_t> chunk(kCopyChunk);
  while (scanner.BytesFed() < image_size) {
    std::size_t got = file.Read(chunk.data(), chunk.size());
    if (got == 0) break;
    got = static_cast<std::size_t>(std::min<std::uint64_t>(got, image_size - scanner.BytesFed()));
    scanner.Feed(chunk.data(), got);
    out.PutBytes(chunk.data(), got);
    if (!out.Ok()) return false;
  }
  return scanner.Complete() && scanner.ImageSize() == image_size;
}

// Writes a picture's image object, and its soft mask before it; returns the
// image's object number.
int WritePicture(PdfWriter& out, const PdfPicture& picture) {
  auto write_stream = [&](int number, const PdfImageStream& stream, int mask) {
    out.BeginObject(number);
    std::string head = "<< /Type /XObject /Subtype /Image /Width " +
                       std::to_string(picture.width) + " /Height " +
                       std::to_string(picture.height) + " " + stream.entries;
    if (mask) head += " /SMask " + Reference(mask);
    head += " /Length " + std::to_string(stream.data.size()) + " >>\nstream\n";
    out.Put(head);
    out.PutBytes(stream.data.data(), stream.data.size());
    out.Put("\nendstream");
    out.EndObject();
  };
  int mask = 0;
  if (picture.soft_mask) {
    mask = out.NewObject();
    write_stream(mask, *picture.soft_mask, 0);
  }
  const int image = out.NewObject();
  write_stream(image, picture.image, mask);
  return image;
}

}  // namespace

PdfResult WritePdfBook(const Text& pdf_path, const Text& title,
                       const std::vector<Text>& page_paths) {
  if (pdf_path.empty()) return PdfResult{.error = "no file name for the PDF"};
  // Temporaries of killed runs lie beside the PDF; those of live runs stay.
  RemoveLeftoverTemporaries(FolderOfPath(pdf_path));
  PdfResult result;
  TemporaryFile created = CreateTemporaryBeside(pdf_path);
  if (!created.file.IsOpen()) {
    result.error = created.error;
    return result;
  }
  const Text temporary = created.path;
  const std::string shown_temporary = GbkToUtf8(temporary);
  PdfWriter out(created.file);
  auto give_up = [&](std::string error) {
    out.Close();
    RemoveFile(temporary);
    result.ok = false;
    result.error = std::move(error);
    result.pages.clear();
    return result;
  };

  // The catalogue, the page tree and the information dictionary take the
  // first numbers; they are written last, once the pages are known.
  const int catalog = out.NewObject();
  const int page_tree = out.NewObject();
  const int info = out.NewObject();
  // The second line's bytes above 127 mark the file as binary for tools
  // that guess.
  out.Put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");

  std::vector<int> page_objects;
  for (std::size_t index = 0; index < page_paths.size(); ++index) {
    const Text& path = page_paths[index];
    ImageFileScan scan = ScanImageFile(path);
    if (std::optional<Refusal> refused = Unusable(scan)) {
      result.skipped.push_back({index, path, refused->kind, refused->reason});
      continue;
    }

    int image = 0;
    int pixel_width = 0;
    int pixel_height = 0;
    if (scan.kind == ImageKind::Jpeg) {
      const JpegInfo& jpeg = *scan.jpeg;
      image = out.NewObject();
      out.BeginObject(image);
      out.Put(JpegDictionary(jpeg, scan.image_size));
      if (!CopyJpeg(out, path, scan.image_size)) {
        if (!out.Ok()) return give_up("cannot write " + shown_temporary);
        return give_up("page file " + GbkToUtf8(path) + " changed while the PDF was written");
      }
      out.Put("\nendstream");
      out.EndObject();
      pixel_width = jpeg.width;
      pixel_height = jpeg.height;
    } else {
      // PNG or WebP: read whole and checked again, so what is decoded is
      // the whole picture that was scanned.
      const std::string name = KindName(scan.kind);
      std::optional<Bytes> bytes = ReadBytesFile(path);
      if (!bytes) {
        result.skipped.push_back({index, path, PdfSkipReason::Missing, "missing or unreadable"});
        continue;
      }
      if (SniffImage(*bytes) != scan.kind || !IsCompleteImage(*bytes)) {
        result.skipped.push_back(
            {index, path, PdfSkipReason::Damaged, name + " cut short or damaged"});
        continue;
      }
      PdfPictureResult made =
          scan.kind == ImageKind::Png ? PngPicture(*bytes) : WebpPicture(*bytes);
      if (made.picture && made.picture->image.data.empty()) {
        made = {std::nullopt, DecodeFailure::Unsupported, "could not be compressed"};
      }
      if (!made.picture) {
        result.skipped.push_back(
            {index, path, SkipReasonOf(made.failure), name + ": " + made.detail});
        continue;
      }
      image = WritePicture(out, *made.picture);
      pixel_width = made.picture->width;
      pixel_height = made.picture->height;
    }

    double width = pixel_width;
    double height = pixel_height;
    double largest = std::max(width, height);
    if (largest > kLargestPageSide) {
      width = width * kLargestPageSide / largest;
      height = height * kLargestPageSide / largest;
    }
    const std::string w = FormatNumber(width);
    const std::string h = FormatNumber(height);

    const std::string drawing = "q\n" + w + " 0 0 " + h + " 0 0 cm\n/Im0 Do\nQ\n";
    const int contents = out.NewObject();
    out.Object(contents, "<< /Length " + std::to_string(drawing.size()) + " >>\nstream\n" +
                             drawing + "endstream");

    const int page = out.NewObject();
    out.Object(page, "<< /Type /Page /Parent " + Reference(page_tree) + " /MediaBox [0 0 " + w +
                         " " + h + "] /Resources << /XObject << /Im0 " + Reference(image) +
                         " >> >> /Contents " + Reference(contents) + " >>");
    page_objects.push_back(page);
    result.pages.push_back(index);
    if (!out.Ok()) return give_up("cannot write " + shown_temporary);
  }

  if (page_objects.empty()) return give_up("no usable page image");

  std::string kids;
  for (std::size_t i = 0; i < page_objects.size(); ++i) {
    kids += (i == 0 ? "" : i % 10 == 0 ? "\n" : " ") + Reference(page_objects[i]);
  }
  out.Object(page_tree, "<< /Type /Pages /Kids [" + kids + "] /Count " +
                            std::to_string(page_objects.size()) + " >>");
  out.Object(catalog, "<< /Type /Catalog /Pages " + Reference(page_tree) + " >>");
  std::string information = "<<";
  if (!title.empty()) information += " /Title " + TextString(title);
  information += " /Producer (folivex-dl) >>";
  out.Object(info, information);
  out.Finish(catalog, info);

  if (!out.Ok()) return give_up("cannot write " + shown_temporary);
  FileResult replaced = ReplaceWithTemporary(created, pdf_path);
  if (!replaced.ok) {
    result.pages.clear();
    result.error = replaced.error;
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace folivex
