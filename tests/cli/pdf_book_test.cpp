// The PDF book on both systems, read back with a small reader of our own:
// the cross-reference offsets must point at their objects, the pages must
// come in the order given, and each image stream must be the page file's
// bytes unchanged (a text-mode write on Windows would turn every 0x0A into
// 0D 0A and fail both checks).
#include "cli/pdf_book.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include <zlib.h>

#include "cli/picture_pixels.h"
#include "image/png_decode.h"
#include "platform/services.h"
#include "support/jpeg_maker.h"
#include "support/png_maker.h"
#include "support/webp_maker.h"

namespace folivex {
namespace {

namespace fs = std::filesystem;

Bytes RealJpeg(int width, int height, int page) {
  std::string file = MakeJpeg({.width = width, .height = height, .page = page});
  return Bytes(file.begin(), file.end());
}

// A structurally whole JPEG header and scan with `components` components,
// for colour spaces the test encoder does not make. Never decoded here.
Bytes SketchJpeg(int width, int height, int components, bool adobe) {
  Bytes out = {0xFF, 0xD8};
  auto segment = [&](std::uint8_t marker, Bytes body) {
    std::size_t length = body.size() + 2;
    out.insert(out.end(), {0xFF, marker, static_cast<std::uint8_t>(length >> 8),
                           static_cast<std::uint8_t>(length)});
    out.insert(out.end(), body.begin(), body.end());
  };
  if (adobe) segment(0xEE, {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 2});
  Bytes frame = {8,
                 static_cast<std::uint8_t>(height >> 8), static_cast<std::uint8_t>(height),
                 static_cast<std::uint8_t>(width >> 8), static_cast<std::uint8_t>(width),
                 static_cast<std::uint8_t>(components)};
  Bytes scan = {static_cast<std::uint8_t>(components)};
  for (int c = 1; c <= components; ++c) {
    frame.insert(frame.end(), {static_cast<std::uint8_t>(c), 0x11, 0});
    scan.insert(scan.end(), {static_cast<std::uint8_t>(c), 0});
  }
  scan.insert(scan.end(), {0, 63, 0});
  segment(0xC0, frame);
  segment(0xDA, scan);
  out.insert(out.end(), {0x0A, 0x0D, 0xFF, 0x00, 0x1A, 0xFF, 0xD9});
  return out;
}

Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes FromString(const std::string& bytes) { return Bytes(bytes.begin(), bytes.end()); }
Bytes Cut(Bytes bytes, std::size_t keep) {
  bytes.resize(keep);
  return bytes;
}

// Just enough of a PDF reader to check what this writer makes.
class PdfReader {
 public:
  explicit PdfReader(std::string bytes) : bytes_(std::move(bytes)) {}

  // Follows startxref to the table and checks each entry's object header.
  ::testing::AssertionResult Parse() {
    std::size_t at = bytes_.rfind("startxref\n");
    if (at == std::string::npos) return ::testing::AssertionFailure() << "no startxref";
    std::size_t table = std::stoull(bytes_.substr(at + 10));
    if (bytes_.compare(table, 7, "xref\n0 ") != 0) {
      return ::testing::AssertionFailure() << "startxref " << table << " is no xref table";
    }
    std::size_t line_end = bytes_.find('\n', table + 5);
    int count = std::stoi(bytes_.substr(table + 7, line_end - table - 7));
    std::size_t entry = line_end + 1;
    for (int n = 0; n < count; ++n, entry += 20) {
      std::string line = bytes_.substr(entry, 20);
      if (line.size() != 20 || line.compare(18, 2, " \n") != 0) {
        return ::testing::AssertionFailure() << "xref entry " << n << " is not 20 bytes";
      }
      if (n == 0) continue;
      std::size_t offset = std::stoull(line.substr(0, 10));
      std::string head = std::to_string(n) + " 0 obj\n";
      if (bytes_.compare(offset, head.size(), head) != 0) {
        return ::testing::AssertionFailure() << "object " << n << " is not at " << offset;
      }
      offsets_[n] = offset + head.size();
    }
    if (bytes_.compare(entry, 8, "trailer\n") != 0) {
      return ::testing::AssertionFailure() << "no trailer after the table";
    }
    trailer_ = bytes_.substr(entry, at - entry);
    if (bytes_.substr(bytes_.size() - 6) != "%%EOF\n") {
      return ::testing::AssertionFailure() << "no %%EOF at the end";
    }
    return ::testing::AssertionSuccess();
  }

  // The object's text up to its stream or its end.
  std::string Dictionary(int n) const {
    std::size_t start = offsets_.at(n);
    std::size_t end = std::min(bytes_.find("stream\n", start), bytes_.find("endobj", start));
    return bytes_.substr(start, end - start);
  }
  std::string Stream(int n) const {
    std::size_t start = bytes_.find("stream\n", offsets_.at(n)) + 7;
    std::size_t length = static_cast<std::size_t>(Number(Dictionary(n), "/Length"));
    if (bytes_.compare(start + length, 10, "\nendstream") != 0) return "(bad /Length)";
    return bytes_.substr(start, length);
  }
  static int Reference(const std::string& text, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(key + " (\\d+) 0 R"))) return 0;
    return std::stoi(m[1]);
  }
  static double Number(const std::string& text, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(key + " ([0-9.]+)"))) return -1;
    return std::stod(m[1]);
  }
  const std::string& Trailer() const { return trailer_; }
  // Image object numbers, page by page, through the catalogue's page tree.
  std::vector<int> PageImages() const {
    int catalog = Reference(trailer_, "/Root");
    std::string tree = Dictionary(Reference(Dictionary(catalog), "/Pages"));
    std::vector<int> images;
    std::smatch kids;
    if (!std::regex_search(tree, kids, std::regex("/Kids \\[([^\\]]*)\\]"))) return images;
    std::string list = kids[1];
    std::regex ref("(\\d+) 0 R");
    for (auto it = std::sregex_iterator(list.begin(), list.end(), ref); it != std::sregex_iterator();
         ++it) {
      images.push_back(Reference(Dictionary(std::stoi((*it)[1])), "/Im0"));
    }
    return images;
  }
  std::string PageOfImage(int image) const {
    for (const auto& [n, offset] : offsets_) {
      std::string d = Dictionary(n);
      if (d.find("/Type /Page ") != std::string::npos && Reference(d, "/Im0") == image) return d;
    }
    return {};
  }

 private:
  std::string bytes_;
  std::map<int, std::size_t> offsets_;
  std::string trailer_;
};

void PutPngChunk(std::string& out, const char* type, const std::string& data) {
  auto put32 = [&](std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(v >> shift);
  };
  put32(static_cast<std::uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  out += body;
  put32(static_cast<std::uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

// A Flate image stream with PNG predictors is a PNG's IDAT data: wrapped in
// a PNG of the dictionary's size, colour space and depth, the PNG reader
// gives its pixels.
std::optional<DecodedPicture> FlateImagePixels(const std::string& dictionary,
                                               const std::string& stream) {
  if (dictionary.find("/Filter /FlateDecode") == std::string::npos ||
      dictionary.find("/Predictor 15") == std::string::npos) {
    return std::nullopt;
  }
  const int width = static_cast<int>(PdfReader::Number(dictionary, "/Width"));
  const int height = static_cast<int>(PdfReader::Number(dictionary, "/Height"));
  const int bits = static_cast<int>(PdfReader::Number(dictionary, "/BitsPerComponent"));
  int colour_type = 2;
  std::string palette;
  std::smatch m;
  if (std::regex_search(dictionary, m, std::regex("/Indexed /DeviceRGB \\d+ <([0-9A-F]*)>"))) {
    colour_type = 3;
    const std::string hex = m[1];
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
      palette += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
  } else if (dictionary.find("/ColorSpace /DeviceGray") != std::string::npos) {
    colour_type = 0;
  }
  std::string png = "\x89PNG\r\n\x1A\n";
  std::string header;
  for (int v : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) header += static_cast<char>(v >> shift);
  }
  header += {static_cast<char>(bits), static_cast<char>(colour_type), 0, 0, 0};
  PutPngChunk(png, "IHDR", header);
  if (!palette.empty()) PutPngChunk(png, "PLTE", palette);
  PutPngChunk(png, "IDAT", stream);
  PutPngChunk(png, "IEND", "");
  PngRead read = ReadPngLayout(reinterpret_cast<const std::uint8_t*>(png.data()), png.size());
  if (!read.layout) return std::nullopt;
  return DecodePng(*read.layout).picture;
}

class PdfBookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = fs::temp_directory_path() /
            ("folivex-pdf-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Text In(const Text& name) const { return root_.string() + PathSeparator() + name; }
  Text Put(const Text& name, const Bytes& bytes) {
    Text path = In(name);
    EXPECT_TRUE(WriteBytesFile(path, bytes));
    return path;
  }
  std::string ReadPdf(const Text& path) {
    std::optional<Bytes> bytes = ReadBytesFile(path);
    if (!bytes) return {};
    return std::string(bytes->begin(), bytes->end());
  }
  fs::path root_;
};

TEST_F(PdfBookTest, EmbedsEachJpegUnchangedInOrderAndSkipsTheRest) {
  const Bytes wide = RealJpeg(320, 200, 1);
  const Bytes tall = RealJpeg(96, 400, 2);
  const Bytes small = RealJpeg(17, 9, 3);
  const Bytes cut = [&] {
    Bytes b = RealJpeg(64, 64, 4);
    b.resize(b.size() / 2);
    return b;
  }();
  struct Page {
    const char* name;
    Text path;
    const Bytes* bytes;  // null: skipped
    int width, height;
  } pages[] = {
      {"wide", Put("1.jpg", wide), &wide, 320, 200},
      {"error page", Put("2.jpg", FromText("<html>404</html>")), nullptr, 0, 0},
      {"tall", Put("3.jpg", tall), &tall, 96, 400},
      {"missing", In("4.jpg"), nullptr, 0, 0},
      {"cut short", Put("5.jpg", cut), nullptr, 0, 0},
      {"small, and the wide one again", Put("6.jpg", small), &small, 17, 9},
      {"empty", Put("7.jpg", {}), nullptr, 0, 0},
  };
  std::vector<Text> paths;
  for (const Page& p : pages) paths.push_back(p.path);
  paths.push_back(pages[0].path);

  const Text pdf = In("book.pdf");
  PdfResult result = WritePdfBook(pdf, "Book", paths);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.pages, (std::vector<std::size_t>{0, 2, 5, 7}));
  ASSERT_EQ(result.skipped.size(), 4u);
  const std::size_t skipped_indexes[] = {1, 3, 4, 6};
  for (std::size_t k = 0; k < 4; ++k) {
    SCOPED_TRACE(pages[skipped_indexes[k]].name);
    EXPECT_EQ(result.skipped[k].index, skipped_indexes[k]);
    EXPECT_EQ(result.skipped[k].path, paths[skipped_indexes[k]]);
    EXPECT_FALSE(result.skipped[k].reason.empty());
  }

  PdfReader reader(ReadPdf(pdf));
  ASSERT_TRUE(reader.Parse());
  std::vector<int> images = reader.PageImages();
  const Page* expected[] = {&pages[0], &pages[2], &pages[5], &pages[0]};
  ASSERT_EQ(images.size(), 4u);
  for (std::size_t k = 0; k < images.size(); ++k) {
    SCOPED_TRACE(expected[k]->name);
    const Bytes& file = *expected[k]->bytes;
    EXPECT_EQ(reader.Stream(images[k]), std::string(file.begin(), file.end()));
    std::string image = reader.Dictionary(images[k]);
    EXPECT_NE(image.find("/Filter /DCTDecode"), std::string::npos) << image;
    EXPECT_NE(image.find("/ColorSpace /DeviceRGB"), std::string::npos) << image;
    EXPECT_EQ(PdfReader::Number(image, "/Width"), expected[k]->width);
    EXPECT_EQ(PdfReader::Number(image, "/Height"), expected[k]->height);
    std::string box = "/MediaBox [0 0 " + std::to_string(expected[k]->width) + " " +
                      std::to_string(expected[k]->height) + "]";
    EXPECT_NE(reader.PageOfImage(images[k]).find(box), std::string::npos);
  }
  // Nothing is left beside the book.
  std::vector<Text> left = ListFiles(root_.string());
  EXPECT_EQ(std::count(left.begin(), left.end(), "book.pdf"), 1);
  EXPECT_EQ(left.size(), 7u) << "six page files and the book";
}

TEST_F(PdfBookTest, ColourSpaceFollowsTheComponents) {
  struct Case {
    const char* name;
    Bytes jpeg;
    const char* colour_space;
    bool decode_inverted;
  } cases[] = {
      {"grey", SketchJpeg(10, 20, 1, false), "/DeviceGray", false},
      {"colour", SketchJpeg(10, 20, 3, false), "/DeviceRGB", false},
      {"CMYK from an Adobe writer, stored inverted", SketchJpeg(10, 20, 4, true), "/DeviceCMYK",
       true},
      {"CMYK without the Adobe marker", SketchJpeg(10, 20, 4, false), "/DeviceCMYK", false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Text page = Put(std::to_string(++n) + ".jpg", c.jpeg);
    const Text pdf = In(std::to_string(n) + ".pdf");
    PdfResult result = WritePdfBook(pdf, "", {page});
    ASSERT_TRUE(result.ok) << result.error;
    PdfReader reader(ReadPdf(pdf));
    ASSERT_TRUE(reader.Parse());
    std::vector<int> images = reader.PageImages();
    ASSERT_EQ(images.size(), 1u);
    std::string image = reader.Dictionary(images[0]);
    EXPECT_NE(image.find(std::string("/ColorSpace ") + c.colour_space), std::string::npos) << image;
    EXPECT_EQ(image.find("/Decode [1 0 1 0 1 0 1 0]") != std::string::npos, c.decode_inverted)
        << image;
    EXPECT_EQ(reader.Stream(images[0]), std::string(c.jpeg.begin(), c.jpeg.end()));
  }
}

TEST_F(PdfBookTest, TitleIsUtf16WithAByteOrderMark) {
  struct Case {
    const char* name;
    Text title;
    const char* hex;  // null: no /Title at all
  } cases[] = {
      {"ASCII", "Book (1)\\", "<FEFF0042006F006F006B0020002800310029005C>"},
      // 图书杂志 in code page 936.
      {"Chinese", "\xCD\xBC\xCA\xE9\xD4\xD3\xD6\xBE", "<FEFF56FE4E6667425FD7>"},
      {"empty", "", nullptr},
  };
  const Text page = Put("1.jpg", RealJpeg(8, 8, 1));
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Text pdf = In(std::to_string(++n) + ".pdf");
    PdfResult result = WritePdfBook(pdf, c.title, {page});
    ASSERT_TRUE(result.ok) << result.error;
    PdfReader reader(ReadPdf(pdf));
    ASSERT_TRUE(reader.Parse());
    std::string info = reader.Dictionary(PdfReader::Reference(reader.Trailer(), "/Info"));
    EXPECT_NE(info.find("/Producer (folivex-dl)"), std::string::npos) << info;
    if (c.hex) {
      EXPECT_NE(info.find(std::string("/Title ") + c.hex), std::string::npos) << info;
    } else {
      EXPECT_EQ(info.find("/Title"), std::string::npos) << info;
    }
  }
}

TEST_F(PdfBookTest, AnExistingBookIsReplacedWholeOrKept) {
  const Text pdf = In("book.pdf");
  const Bytes old_book = FromText("%PDF-1.4 the old book");
  ASSERT_TRUE(WriteBytesFile(pdf, old_book));
  const Text junk = Put("1.jpg", FromText("not an image"));

  PdfResult nothing = WritePdfBook(pdf, "Book", {junk, In("2.jpg")});
  EXPECT_FALSE(nothing.ok);
  EXPECT_FALSE(nothing.error.empty());
  EXPECT_TRUE(nothing.pages.empty());
  EXPECT_EQ(nothing.skipped.size(), 2u);
  EXPECT_EQ(ReadBytesFile(pdf), old_book);

  PdfResult none_given = WritePdfBook(pdf, "Book", {});
  EXPECT_FALSE(none_given.ok);
  EXPECT_EQ(ReadBytesFile(pdf), old_book);

  PdfResult no_folder = WritePdfBook(In("missing") + PathSeparator() + "book.pdf", "Book",
                                     {Put("3.jpg", RealJpeg(8, 8, 1))});
  EXPECT_FALSE(no_folder.ok);
  EXPECT_FALSE(no_folder.error.empty());

  PdfResult written = WritePdfBook(pdf, "Book", {In("3.jpg")});
  ASSERT_TRUE(written.ok) << written.error;
  EXPECT_TRUE(PdfReader(ReadPdf(pdf)).Parse());
  // No temporary file is left behind by any of the runs.
  std::vector<Text> left = ListFiles(root_.string());
  EXPECT_EQ(left, (std::vector<Text>{"1.jpg", "3.jpg", "book.pdf"}));
}

// 乗 in code page 936 ends in 0x5C, the byte of a backslash: the book and
// its temporary file must stay in the book's folder, and the rename over
// the book must work through the system's wide names.
TEST_F(PdfBookTest, WorksInAFolderWhoseNameEndsInABackslashByte) {
  const Text name = "\x81\x5C";
  const Text folder = In(name);
  ASSERT_TRUE(CreateFolder(folder));
  const Text page = folder + PathSeparator() + "1.jpg";
  ASSERT_TRUE(WriteBytesFile(page, RealJpeg(8, 8, 1)));
  const Text pdf = folder + PathSeparator() + name + ".pdf";
  PdfResult result = WritePdfBook(pdf, name, {page});
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_TRUE(PdfReader(ReadPdf(pdf)).Parse());
  EXPECT_EQ(ListFiles(folder), (std::vector<Text>{"1.jpg", name + ".pdf"}));
  EXPECT_EQ(ListFiles(root_.string()), std::vector<Text>{});
}

// The PDF's temporaries are the program's own kind: those a killed run left
// beside the book are removed, a live run's stays, and names that are
// taken are passed over instead of written through.
TEST_F(PdfBookTest, TemporariesOfKilledRunsGoAndTakenNamesArePassedOver) {
  const Text pdf = In("book.pdf");
  const Text page = Put("1.jpg", RealJpeg(8, 8, 1));
  const Text killed = In(".book.pdf.part-999999-0");
  const Text killed_here = In(".book.pdf.part-" + std::to_string(ProcessId()) + "-0badbeef-3");
  ASSERT_TRUE(WriteBytesFile(killed, FromText("%PDF-1.4 half")));
  ASSERT_TRUE(WriteBytesFile(killed_here, FromText("%PDF-1.4 half")));
  const Text live = In(".book.pdf.part-" + std::to_string(ProcessId() + 1) + "-0123abcd-0");
  StreamFile live_writer(live, StreamFile::Mode::Write);
  ASSERT_TRUE(live_writer.IsOpen());

  // The names this run takes next belong to someone else already.
  TemporaryFile probe = CreateTemporaryBeside(pdf);
  ASSERT_TRUE(probe.file.IsOpen()) << probe.error;
  const std::uint32_t next =
      ParseTemporaryFileName(probe.path.substr(FolderOfPath(probe.path).size()))->counter + 1;
  ASSERT_TRUE(probe.file.Close());
  ASSERT_TRUE(RemoveFile(probe.path));
  std::vector<Text> taken;
  for (std::uint32_t n = next; n < next + 3; ++n) taken.push_back(Put(TemporaryFileName("book.pdf", n), FromText("not yours")));

  const PdfResult result = WritePdfBook(pdf, "Book", {page});
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_TRUE(PdfReader(ReadPdf(pdf)).Parse());
  EXPECT_FALSE(FileExists(killed));
  // A container gives every run the same pid: the run digits tell them apart.
  if (ParseTemporaryFileName(killed_here.substr(root_.string().size() + 1))->run !=
      ParseTemporaryFileName(TemporaryFileName("x", 0))->run) {
    EXPECT_FALSE(FileExists(killed_here));
  }
  EXPECT_TRUE(FileExists(live));
  for (const Text& path : taken) EXPECT_EQ(ReadBytesFile(path), FromText("not yours"));
  EXPECT_TRUE(live_writer.Close());
}

TEST_F(PdfBookTest, PagesBeyondTheReadersLimitAreScaledDown) {
  struct Case {
    const char* name;
    int width, height;
    const char* box;
  } cases[] = {
      {"at the limit", 14400, 30, "[0 0 14400 30]"},
      {"twice as tall as the limit", 100, 28800, "[0 0 50 14400]"},
      {"a third over", 19200, 1000, "[0 0 14400 750]"},
      {"uneven ratio", 30000, 7, "[0 0 14400 3.36]"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Text page = Put(std::to_string(++n) + ".jpg", SketchJpeg(c.width, c.height, 3, false));
    const Text pdf = In(std::to_string(n) + ".pdf");
    PdfResult result = WritePdfBook(pdf, "", {page});
    ASSERT_TRUE(result.ok) << result.error;
    PdfReader reader(ReadPdf(pdf));
    ASSERT_TRUE(reader.Parse());
    std::vector<int> images = reader.PageImages();
    ASSERT_EQ(images.size(), 1u);
    std::string page_dictionary = reader.PageOfImage(images[0]);
    EXPECT_NE(page_dictionary.find(std::string("/MediaBox ") + c.box), std::string::npos)
        << page_dictionary;
    EXPECT_EQ(PdfReader::Number(reader.Dictionary(images[0]), "/Width"), c.width);
  }
}

// PNG and WebP pages come back from the PDF as exactly the pixels a reader
// of the page file gets: PNG data PDF can read goes in unchanged, the rest
// is decoded and deflated, alpha as a soft mask.
TEST_F(PdfBookTest, EmbedsPngAndWebpPagesWithoutLoss) {
  const JpegOptions picture = {.width = 31, .height = 23, .page = 6, .noise = 30};
  const std::string webp_alpha = EncoderWebpSamples()[1].bytes;
  PictureDecode webp_alpha_pixels =
      DecodeWebp(reinterpret_cast<const std::uint8_t*>(webp_alpha.data()), webp_alpha.size());
  const bool webp_decodes = webp_alpha_pixels.failure != DecodeFailure::NoDecoder;
  DecodedPicture page_pixels{picture.width, picture.height, 3, PagePixels(picture)};
  struct Page {
    const char* name;
    Bytes file;
    std::optional<DecodedPicture> pixels;  // what the page shows
    bool as_is;                            // the PNG's own IDAT data in the stream
    bool webp;
  };
  auto png = [&](const char* name, PngOptions options, bool as_is) {
    PngSample sample = MakePng(picture, options);
    return Page{name, FromString(sample.bytes), sample.pixels, as_is, false};
  };
  std::vector<Page> pages = {
      png("PNG RGB", {.colour_type = 2}, true),
      png("PNG palette 4-bit", {.colour_type = 3, .bit_depth = 4}, true),
      png("PNG grey 1-bit", {.colour_type = 0, .bit_depth = 1}, true),
      png("PNG RGBA", {.colour_type = 6}, false),
      png("PNG palette with alpha", {.colour_type = 3, .transparency = true}, false),
      png("PNG interlaced", {.colour_type = 2, .interlaced = true}, false),
      png("PNG grey 16-bit", {.colour_type = 0, .bit_depth = 16}, false),
      {"WebP of our encoder", FromString(MakeWebp(picture)), page_pixels, false, true},
      {"WebP with alpha of the real encoder", FromString(webp_alpha), webp_alpha_pixels.picture,
       false, true},
  };
  std::vector<Text> paths;
  for (std::size_t k = 0; k < pages.size(); ++k) {
    paths.push_back(Put(std::to_string(k + 1) + (pages[k].webp ? ".webp" : ".png"), pages[k].file));
  }
  const Text pdf = In("book.pdf");
  PdfResult result = WritePdfBook(pdf, "Book", paths);
  ASSERT_TRUE(result.ok) << result.error;
  std::vector<const Page*> shown;
  std::size_t skipped = 0;
  for (std::size_t k = 0; k < pages.size(); ++k) {
    if (pages[k].webp && !webp_decodes) {
      // A system without a WebP decoder names the page and leaves it out.
      ASSERT_LT(skipped, result.skipped.size());
      EXPECT_EQ(result.skipped[skipped].index, k);
      EXPECT_EQ(result.skipped[skipped].kind, PdfSkipReason::NoDecoder);
      EXPECT_NE(result.skipped[skipped].reason.find("WebP"), std::string::npos);
      ++skipped;
    } else {
      shown.push_back(&pages[k]);
    }
  }
  EXPECT_EQ(result.skipped.size(), skipped);
  EXPECT_EQ(result.AllPagesIn(), webp_decodes);

  PdfReader reader(ReadPdf(pdf));
  ASSERT_TRUE(reader.Parse());
  std::vector<int> images = reader.PageImages();
  ASSERT_EQ(images.size(), shown.size());
  for (std::size_t k = 0; k < images.size(); ++k) {
    const Page& page = *shown[k];
    SCOPED_TRACE(page.name);
    ASSERT_TRUE(page.pixels);
    const std::string image = reader.Dictionary(images[k]);
    const std::string stream = reader.Stream(images[k]);
    if (page.as_is) {
      PngRead layout = ReadPngLayout(page.file.data(), page.file.size());
      ASSERT_TRUE(layout.layout);
      EXPECT_EQ(stream, std::string(layout.layout->data.begin(), layout.layout->data.end()));
    }
    std::optional<DecodedPicture> colour = FlateImagePixels(image, stream);
    ASSERT_TRUE(colour) << image;
    std::vector<std::uint8_t> got = AsRgba(*colour);
    const int mask = PdfReader::Reference(image, "/SMask");
    const bool has_alpha = page.pixels->channels == 2 || page.pixels->channels == 4;
    EXPECT_EQ(mask != 0, has_alpha) << image;
    if (mask) {
      const std::string mask_dictionary = reader.Dictionary(mask);
      EXPECT_NE(mask_dictionary.find("/ColorSpace /DeviceGray"), std::string::npos);
      std::optional<DecodedPicture> alpha = FlateImagePixels(mask_dictionary, reader.Stream(mask));
      ASSERT_TRUE(alpha) << mask_dictionary;
      ASSERT_EQ(alpha->pixels.size() * 4, got.size());
      for (std::size_t i = 0; i < alpha->pixels.size(); ++i) got[i * 4 + 3] = alpha->pixels[i];
    }
    EXPECT_TRUE(got == AsRgba(*page.pixels));
    const std::string box = "/MediaBox [0 0 " + std::to_string(page.pixels->width) + " " +
                            std::to_string(page.pixels->height) + "]";
    EXPECT_NE(reader.PageOfImage(images[k]).find(box), std::string::npos);
  }
}

// A JPEG's picture ends at its end marker: whatever a camera or a server
// put after it stays in the page file and out of the PDF.
TEST_F(PdfBookTest, JpegBytesAfterTheEndMarkerStayOut) {
  const Bytes jpeg = RealJpeg(24, 16, 1);
  Bytes with_trailer = jpeg;
  for (char c : std::string("<html>trailer</html>")) with_trailer.push_back(static_cast<std::uint8_t>(c));
  const Text page = Put("1.jpg", with_trailer);
  const Text pdf = In("book.pdf");
  PdfResult result = WritePdfBook(pdf, "", {page});
  ASSERT_TRUE(result.AllPagesIn()) << result.error;
  PdfReader reader(ReadPdf(pdf));
  ASSERT_TRUE(reader.Parse());
  std::vector<int> images = reader.PageImages();
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(reader.Stream(images[0]), std::string(jpeg.begin(), jpeg.end()));
}

TEST_F(PdfBookTest, EachLeftOutPageSaysWhy) {
  Bytes bad_crc = FromString(MakePng({.width = 8, .height = 8}, {}).bytes);
  bad_crc[40] ^= 0x01;
  Bytes gif = FromText("GIF89a");
  gif.insert(gif.end(), {1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255, 0x2C, 0, 0, 0, 0, 1, 0,
                         1, 0, 0, 2, 2, 0x4C, 0x01, 0, 0x3B});
  const Bytes twelve_bit = [] {
    Bytes b = SketchJpeg(8, 8, 3, false);
    b[6] = 12;  // the frame header's sample precision
    return b;
  }();
  Bytes webp_cut = FromString(MakeWebp({.width = 8, .height = 8}));
  webp_cut.resize(webp_cut.size() - 5);
  struct Case {
    const char* name;
    std::optional<Bytes> file;  // nullopt: no file at all
    PdfSkipReason kind;
  } cases[] = {
      {"missing", std::nullopt, PdfSkipReason::Missing},
      {"empty", Bytes{}, PdfSkipReason::Empty},
      {"error page", FromText("<html>404</html>"), PdfSkipReason::NotAnImage},
      {"JPEG cut short", Cut(RealJpeg(16, 16, 2), 300), PdfSkipReason::Damaged},
      {"PNG with a wrong CRC", bad_crc, PdfSkipReason::Damaged},
      {"WebP cut short", webp_cut, PdfSkipReason::Damaged},
      {"GIF", gif, PdfSkipReason::Unsupported},
      {"12-bit JPEG", twelve_bit, PdfSkipReason::Unsupported},
  };
  std::vector<Text> paths = {Put("good.jpg", RealJpeg(8, 8, 1))};
  int n = 0;
  for (const Case& c : cases) {
    const Text path = In(std::to_string(++n) + ".page");
    if (c.file) {
      ASSERT_TRUE(WriteBytesFile(path, *c.file));
    }
    paths.push_back(path);
  }
  PdfResult result = WritePdfBook(In("book.pdf"), "", paths);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_FALSE(result.AllPagesIn());
  EXPECT_EQ(result.pages, std::vector<std::size_t>{0});
  ASSERT_EQ(result.skipped.size(), std::size(cases));
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    SCOPED_TRACE(cases[k].name);
    EXPECT_EQ(result.skipped[k].index, k + 1);
    EXPECT_EQ(result.skipped[k].path, paths[k + 1]);
    EXPECT_EQ(result.skipped[k].kind, cases[k].kind);
    EXPECT_FALSE(result.skipped[k].reason.empty());
  }
}

}  // namespace
}  // namespace folivex
