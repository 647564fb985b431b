#include "cli/pdf_book.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <string_view>

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

// The temporary name beside `path`, of the form the program's other atomic
// writes use, so leftovers of a killed run are recognised as such. The
// folder part ends at the last separator outside a double-byte character:
// the second byte of a code page 936 character may be 0x5C, a backslash.
Text TemporaryPathFor(const Text& path) {
  static std::atomic<unsigned> counter{0};
  std::size_t name_start = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(path[i]);
    if (byte >= 0x80) {
      ++i;
    } else if (byte == '/' || byte == '\\') {
      name_start = i + 1;
    }
  }
  return path.substr(0, name_start) + "." + path.substr(name_start) + ".part-" +
         std::to_string(ProcessId()) + "-" + std::to_string(counter.fetch_add(1));
}

// The output file and where each object starts in it; the cross-reference
// table at the end lists those offsets, so every byte goes through Put.
class PdfWriter {
 public:
  explicit PdfWriter(const Text& path) : file_(path, StreamFile::Mode::Write) {}

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
  StreamFile file_;
  bool ok_ = true;
  std::uint64_t offset_ = 0;
  std::vector<std::uint64_t> offsets_;  // object n at index n - 1
};

// Why a page file cannot be a page; empty when it can.
std::string Unusable(const ImageFileScan& scan) {
  if (!scan.opened) return "missing or unreadable";
  if (scan.size == 0) return "empty file";
  if (scan.kind != ImageKind::Jpeg) return "not a JPEG image";
  if (!scan.jpeg || !scan.complete) return "JPEG cut short or damaged";
  if (!scan.jpeg->IsCommonCoding()) {
    return "JPEG coding that PDF readers do not decode (not 8-bit Huffman)";
  }
  return {};
}

std::string ImageDictionary(const JpegInfo& jpeg, std::uint64_t length) {
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

// Copies the file into the stream and checks that what was copied is the
// same whole JPEG that was examined before: a file rewritten in between
// would leave a stream that disagrees with its own dictionary.
bool CopyJpeg(PdfWriter& out, const Text& path, std::uint64_t expected) {
  StreamFile file(path, StreamFile::Mode::Read);
  if (!file.IsOpen()) return false;
  ImageScanner scanner;
  std::vector<std::uint8_t> chunk(kCopyChunk);
  for (;;) {
    std::size_t got = file.Read(chunk.data(), chunk.size());
    if (got == 0) break;
    if (scanner.BytesFed() + got > expected) return false;
    scanner.Feed(chunk.data(), got);
    out.PutBytes(chunk.data(), got);
    if (!out.Ok()) return false;
  }
  return scanner.BytesFed() == expected && scanner.Complete();
}

}  // namespace

PdfResult WritePdfBook(const Text& pdf_path, const Text& title,
                       const std::vector<Text>& jpeg_paths) {
  PdfResult result;
  if (pdf_path.empty()) {
    result.error = "no file name for the PDF";
    return result;
  }
  const Text temporary = TemporaryPathFor(pdf_path);
  const std::string shown_temporary = GbkToUtf8(temporary);
  PdfWriter out(temporary);
  if (!out.IsOpen()) {
    result.error = "cannot create " + shown_temporary;
    return result;
  }
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
  for (std::size_t index = 0; index < jpeg_paths.size(); ++index) {
    const Text& path = jpeg_paths[index];
    ImageFileScan scan = ScanImageFile(path);
    std::string reason = Unusable(scan);
    if (!reason.empty()) {
      result.skipped.push_back({index, path, reason});
      continue;
    }
    const JpegInfo& jpeg = *scan.jpeg;

    const int image = out.NewObject();
    out.BeginObject(image);
    out.Put(ImageDictionary(jpeg, scan.size));
    if (!CopyJpeg(out, path, scan.size)) {
      if (!out.Ok()) return give_up("cannot write " + shown_temporary);
      return give_up("page file " + GbkToUtf8(path) + " changed while the PDF was written");
    }
    out.Put("\nendstream");
    out.EndObject();

    double width = jpeg.width;
    double height = jpeg.height;
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

  if (!out.Close()) return give_up("cannot write " + shown_temporary);
  FileResult replaced = ReplaceFile(temporary, pdf_path);
  if (!replaced.ok) {
    RemoveFile(temporary);
    result.pages.clear();
    result.error = replaced.error;
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace folivex
