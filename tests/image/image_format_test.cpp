#include "image/image_format.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "platform/services.h"
#include "support/jpeg_maker.h"

namespace folivex {
namespace {

namespace fs = std::filesystem;

// --- Sample builders ------------------------------------------------------------
// Structurally sound files, small enough to read in a failure message. The
// scan data is not decodable; the checks never decode.

void Append(Bytes& out, std::initializer_list<int> bytes) {
  for (int b : bytes) out.push_back(static_cast<std::uint8_t>(b));
}
void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
void Append(Bytes& out, const char* text) {
  out.insert(out.end(), text, text + std::strlen(text));
}

Bytes JpegSegment(int marker, const Bytes& body) {
  Bytes out;
  std::size_t length = body.size() + 2;
  Append(out, {0xFF, marker, static_cast<int>(length >> 8), static_cast<int>(length & 0xFF)});
  Append(out, body);
  return out;
}

struct JpegSample {
  int width = 16;
  int height = 8;
  int components = 3;
  int frame_marker = 0xC0;
  int bits = 8;
  bool adobe = false;
};

Bytes FrameBody(const JpegSample& s) {
  Bytes body;
  Append(body, {s.bits, s.height >> 8, s.height & 0xFF, s.width >> 8, s.width & 0xFF,
                s.components});
  for (int c = 1; c <= s.components; ++c) Append(body, {c, 0x11, 0});
  return body;
}

Bytes ScanBody(int components) {
  Bytes body;
  Append(body, {components});
  for (int c = 1; c <= components; ++c) Append(body, {c, 0x00});
  Append(body, {0, 63, 0});
  return body;
}

// Scan data with a stuffed FF 00 and a restart marker in it.
Bytes ScanData() { return Bytes{0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD0, 0x56, 0x78}; }

Bytes MakeJpegSample(const JpegSample& s) {
  Bytes out;
  Append(out, {0xFF, 0xD8});
  Bytes jfif;
  Append(jfif, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
  Append(out, JpegSegment(0xE0, jfif));
  if (s.adobe) {
    Bytes adobe;
    Append(adobe, {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 2});
    Append(out, JpegSegment(0xEE, adobe));
  }
  Append(out, JpegSegment(0xDB, Bytes(65, 1)));  // quantisation table
  Append(out, JpegSegment(s.frame_marker, FrameBody(s)));
  Append(out, JpegSegment(0xC4, Bytes(20, 0)));  // Huffman table
  Append(out, JpegSegment(0xDA, ScanBody(s.components)));
  Append(out, ScanData());
  if (s.frame_marker == 0xC2) {
    // A second scan, with its own table segment between the scans.
    Append(out, JpegSegment(0xC4, Bytes(20, 0)));
    Append(out, JpegSegment(0xDA, ScanBody(1)));
    Append(out, ScanData());
  }
  Append(out, {0xFF, 0xD9});
  return out;
}

Bytes PngChunk(const char* type, const Bytes& data) {
  Bytes out;
  std::size_t n = data.size();
  Append(out, {static_cast<int>(n >> 24), static_cast<int>((n >> 16) & 0xFF),
               static_cast<int>((n >> 8) & 0xFF), static_cast<int>(n & 0xFF)});
  Append(out, type);
  Append(out, data);
  Append(out, {0, 0, 0, 0});  // CRC, not checked
  return out;
}

Bytes MakePng() {
  Bytes out;
  Append(out, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
  Append(out, PngChunk("IHDR", Bytes{0, 0, 0, 1, 0, 0, 0, 1, 8, 2, 0, 0, 0}));
  Append(out, PngChunk("IDAT", Bytes{0x78, 0x9C, 0x63, 0x60, 0x00, 0x00}));
  Append(out, PngChunk("IEND", {}));
  return out;
}

Bytes MakeGif() {
  Bytes out;
  Append(out, "GIF89a");
  Append(out, {1, 0, 1, 0, 0x80, 0, 0});             // 1x1, global table of 2
  Append(out, {0, 0, 0, 255, 255, 255});             // the table
  Append(out, {0x21, 0xF9, 4, 0, 0, 0, 0, 0});       // graphic control extension
  Append(out, {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0});    // image descriptor
  Append(out, {2, 2, 0x4C, 0x01, 0});                // LZW size, one sub-block, end
  Append(out, {0x3B});
  return out;
}

Bytes MakeBmp() {
  Bytes out;
  Append(out, {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0});
  Append(out, {40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0});
  Append(out, Bytes(24, 0));
  Append(out, {0x10, 0x20, 0x30, 0});  // one pixel, padded to 4 bytes
  return out;
}

Bytes Cut(Bytes bytes, std::size_t drop) {
  bytes.resize(bytes.size() - drop);
  return bytes;
}
Bytes Plus(Bytes bytes, const Bytes& more) {
  Append(bytes, more);
  return bytes;
}
Bytes FromText(const char* text) {
  Bytes out;
  Append(out, text);
  return out;
}

const Bytes kJpeg = MakeJpegSample({});
const Bytes kProgressive = MakeJpegSample({.frame_marker = 0xC2});
const Bytes kPng = MakePng();
const Bytes kGif = MakeGif();
const Bytes kBmp = MakeBmp();

Bytes RealJpeg() {
  std::string file = MakeJpeg({.width = 40, .height = 24, .page = 3});
  return Bytes(file.begin(), file.end());
}

// --- Sniffing -------------------------------------------------------------------

TEST(SniffImage, NamesTheKindFromTheFirstBytes) {
  struct Case {
    const char* name;
    Bytes bytes;
    ImageKind kind;
  } cases[] = {
      {"JPEG", kJpeg, ImageKind::Jpeg},
      {"JPEG signature alone", Bytes{0xFF, 0xD8, 0xFF}, ImageKind::Jpeg},
      {"PNG", kPng, ImageKind::Png},
      {"GIF89a", kGif, ImageKind::Gif},
      {"GIF87a", FromText("GIF87a......."), ImageKind::Gif},
      {"BMP", kBmp, ImageKind::Bmp},
      {"empty", {}, ImageKind::None},
      {"two JPEG bytes", Bytes{0xFF, 0xD8}, ImageKind::None},
      {"HTML error page", FromText("<html><body>404 Not Found</body></html>"), ImageKind::None},
      {"text starting with BM", FromText("BMW owners club page, plain text"), ImageKind::None},
      {"GIF88a is no GIF", FromText("GIF88a......."), ImageKind::None},
      {"PNG signature with a wrong byte", Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0B},
       ImageKind::None},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SniffImage(c.bytes), c.kind);
  }
  EXPECT_EQ(SniffImage(nullptr, 4), ImageKind::None);
}

// --- Frame header -------------------------------------------------------------

TEST(ReadJpegInfo, ReportsTheFrameHeader) {
  struct Case {
    const char* name;
    JpegSample sample;
    bool progressive;
    bool common;
  } cases[] = {
      {"baseline colour", {.width = 640, .height = 480}, false, true},
      {"grey", {.width = 3, .height = 5000, .components = 1}, false, true},
      {"CMYK with the Adobe marker", {.width = 100, .height = 200, .components = 4, .adobe = true},
       false, true},
      {"progressive", {.width = 65535, .height = 1, .frame_marker = 0xC2}, true, true},
      {"extended sequential", {.frame_marker = 0xC1}, false, true},
      {"12-bit", {.frame_marker = 0xC1, .bits = 12}, false, false},
      {"lossless", {.frame_marker = 0xC3}, false, false},
      {"arithmetic", {.frame_marker = 0xC9}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<JpegInfo> info = ReadJpegInfo(MakeJpegSample(c.sample));
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->width, c.sample.width);
    EXPECT_EQ(info->height, c.sample.height);
    EXPECT_EQ(info->components, c.sample.components);
    EXPECT_EQ(info->bits, c.sample.bits);
    EXPECT_EQ(info->progressive, c.progressive);
    EXPECT_EQ(info->adobe, c.sample.adobe);
    EXPECT_EQ(info->adobe_transform, c.sample.adobe ? 2 : -1);
    EXPECT_EQ(info->IsCommonCoding(), c.common);
  }
}

TEST(ReadJpegInfo, ReadsARealEncoderOutput) {
  std::optional<JpegInfo> info = ReadJpegInfo(RealJpeg());
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->width, 40);
  EXPECT_EQ(info->height, 24);
  EXPECT_EQ(info->components, 3);
  EXPECT_TRUE(info->IsCommonCoding());
}

TEST(ReadJpegInfo, NeedsOnlyTheBytesUpToTheFrameHeader) {
  // Where the frame header ends in the sample: SOI, APP0, DQT, SOF.
  const std::size_t frame_end = 2 + 18 + 69 + 19;
  ASSERT_EQ(kJpeg[frame_end], 0xFF);
  ASSERT_EQ(kJpeg[frame_end + 1], 0xC4);
  EXPECT_TRUE(ReadJpegInfo(kJpeg.data(), frame_end).has_value());
  EXPECT_FALSE(ReadJpegInfo(kJpeg.data(), frame_end - 1).has_value());
}

TEST(ReadJpegInfo, RejectsWhatGivesNoUsableFrame) {
  Bytes frame_too_short = Bytes{0xFF, 0xD8};
  Append(frame_too_short, JpegSegment(0xC0, Bytes{8, 0, 8, 0, 16, 3, 1, 0x11, 0}));  // 3 comps, 1 listed
  Bytes length_past_end = Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xFF, 'J', 'F'};
  Append(length_past_end, JpegSegment(0xC0, FrameBody({})));
  struct Case {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"empty", {}},
      {"PNG", kPng},
      {"SOI only", Bytes{0xFF, 0xD8}},
      {"no width", MakeJpegSample({.width = 0})},
      {"height left to a DNL marker", MakeJpegSample({.height = 0})},
      {"two components", MakeJpegSample({.components = 2})},
      {"frame lists fewer components than it counts", frame_too_short},
      {"segment length runs past the end", length_past_end},
      {"segment length 1", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0xFF, 0xC0}},
      {"segment length 0", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x00, 0xFF, 0xC0}},
      {"no FF before the next marker", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0x00, 0xC0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(ReadJpegInfo(c.bytes).has_value());
  }
}

// --- Whole or not ---------------------------------------------------------------

TEST(IsCompleteImage, AcceptsWholeImagesOfEachKind) {
  struct Case {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"JPEG", kJpeg},
      {"real encoder output", RealJpeg()},
      {"progressive JPEG with two scans", kProgressive},
      {"grey JPEG", MakeJpegSample({.components = 1})},
      {"Adobe CMYK JPEG", MakeJpegSample({.components = 4, .adobe = true})},
      {"JPEG with zero padding", Plus(kJpeg, Bytes(100, 0))},
      {"JPEG with fill bytes before a marker", [] {
         Bytes b = kJpeg;
         b.insert(b.begin() + 2, {0xFF, 0xFF});  // FF FF FF E0 ...
         return b;
       }()},
      {"PNG", kPng},
      {"PNG with zero padding", Plus(kPng, Bytes(3, 0))},
      {"GIF", kGif},
      {"BMP", kBmp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(IsCompleteImage(c.bytes));
  }
}

TEST(IsCompleteImage, RejectsBrokenAndForeignBodies) {
  Bytes eoi_without_scan = {0xFF, 0xD8};
  Append(eoi_without_scan, JpegSegment(0xC0, FrameBody({})));
  Append(eoi_without_scan, {0xFF, 0xD9});
  Bytes scan_before_frame = {0xFF, 0xD8};
  Append(scan_before_frame, JpegSegment(0xDA, ScanBody(3)));
  Append(scan_before_frame, ScanData());
  Append(scan_before_frame, {0xFF, 0xD9});
  Bytes thumbnail_eoi_in_app1 = {0xFF, 0xD8};
  // An EXIF thumbnail's FF D9 sits inside a segment and ends nothing.
  Append(thumbnail_eoi_in_app1, JpegSegment(0xE1, Bytes{'E', 'x', 'i', 'f', 0, 0, 0xFF, 0xD8,
                                                        0xFF, 0xD9}));
  Bytes huge_png_chunk = kPng;
  huge_png_chunk[33] = 0xFF;  // the IDAT length's top byte: over 2^31
  Bytes png_not_ihdr_first = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Append(png_not_ihdr_first, PngChunk("IDAT", Bytes{1, 2, 3}));
  Append(png_not_ihdr_first, PngChunk("IEND", {}));
  Bytes bmp_size_too_small = kBmp;
  bmp_size_too_small[2] = 20;
  struct Case {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"empty", {}},
      {"HTML error page", FromText("<html><body>500</body></html>")},
      {"junk", Bytes{0x00, 0x01, 0x02, 0xFF, 0xD9}},
      {"JPEG cut in the scan data", Cut(kJpeg, 4)},
      {"JPEG without EOI", Cut(kJpeg, 2)},
      {"JPEG with FF but no D9", Cut(kJpeg, 1)},
      {"JPEG header only", Bytes(kJpeg.begin(), kJpeg.begin() + 120)},
      {"JPEG with bytes after EOI", Plus(kJpeg, FromText("<html>"))},
      {"JPEG followed by another JPEG", Plus(kJpeg, kJpeg)},
      {"JPEG with EOI before any scan", eoi_without_scan},
      {"JPEG with a scan before the frame", scan_before_frame},
      {"JPEG ending in an EXIF thumbnail's EOI", thumbnail_eoi_in_app1},
      {"JPEG with a second SOI", Plus(Bytes{0xFF, 0xD8}, kJpeg)},
      {"JPEG with two frames", [] {
         Bytes b = {0xFF, 0xD8};
         Append(b, JpegSegment(0xC0, FrameBody({})));
         Append(b, JpegSegment(0xC0, FrameBody({})));
         Append(b, JpegSegment(0xDA, ScanBody(3)));
         Append(b, {0x11, 0xFF, 0xD9});
         return b;
       }()},
      {"JPEG segment length below 2", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0xFF, 0xD9}},
      {"JPEG segment length past the end", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xFF, 0xFF, 0xD9}},
      {"PNG without IEND", Cut(kPng, 12)},
      {"PNG cut inside IEND", Cut(kPng, 3)},
      {"PNG signature only", Bytes(kPng.begin(), kPng.begin() + 8)},
      {"PNG chunk length over 2^31", huge_png_chunk},
      {"PNG whose first chunk is not IHDR", png_not_ihdr_first},
      {"PNG with junk after IEND", Plus(kPng, FromText("x"))},
      {"GIF without trailer", Cut(kGif, 1)},
      {"GIF cut inside a sub-block", Cut(kGif, 4)},
      {"GIF with an unknown block", [] {
         Bytes b = Cut(kGif, 1);
         Append(b, {0x99, 0x3B});
         return b;
       }()},
      {"BMP shorter than its header says", Cut(kBmp, 1)},
      {"BMP longer than its header says, not zeros", Plus(kBmp, FromText("x"))},
      {"BMP size smaller than its headers", bmp_size_too_small},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(IsCompleteImage(c.bytes));
  }
}

const struct Sample {
  const char* name;
  const Bytes* bytes;
} kSamples[] = {
    {"JPEG", &kJpeg}, {"progressive JPEG", &kProgressive}, {"PNG", &kPng},
    {"GIF", &kGif},   {"BMP", &kBmp},
};

TEST(IsCompleteImage, NoCutOfAWholeImageIsWhole) {
  Bytes real = RealJpeg();
  std::vector<Sample> samples(std::begin(kSamples), std::end(kSamples));
  samples.push_back({"real JPEG", &real});
  for (const Sample& s : samples) {
    SCOPED_TRACE(s.name);
    ASSERT_TRUE(IsCompleteImage(*s.bytes));
    for (std::size_t length = 0; length < s.bytes->size(); ++length) {
      ASSERT_FALSE(IsCompleteImage(s.bytes->data(), length)) << "cut to " << length << " bytes";
    }
  }
}

// --- Piece by piece -------------------------------------------------------------

TEST(ImageScanner, PiecesCutAnywhereGiveTheWholeVerdict) {
  for (const Sample& s : kSamples) {
    SCOPED_TRACE(s.name);
    const Bytes& bytes = *s.bytes;
    for (std::size_t split = 0; split <= bytes.size(); ++split) {
      ImageScanner scanner;
      scanner.Feed(bytes.data(), split);
      scanner.Feed(bytes.data() + split, bytes.size() - split);
      ASSERT_TRUE(scanner.Complete()) << "split at " << split;
      ASSERT_EQ(scanner.BytesFed(), bytes.size());
    }
    ImageScanner one_by_one;
    for (std::uint8_t byte : bytes) one_by_one.Feed(&byte, 1);
    EXPECT_TRUE(one_by_one.Complete());
    EXPECT_EQ(one_by_one.Kind(), SniffImage(bytes));
  }
}

TEST(ImageScanner, JunkAfterTheEndBreaksForGood) {
  ImageScanner scanner;
  scanner.Feed(kJpeg);
  scanner.Feed(Bytes(10, 0));
  EXPECT_TRUE(scanner.Complete());
  scanner.Feed(FromText("<"));
  EXPECT_TRUE(scanner.Broken());
  scanner.Feed(Bytes(10, 0));
  EXPECT_FALSE(scanner.Complete());
}

// Hostile input: damaged copies of every sample and random bytes behind
// each signature. Nothing may read outside the buffer (the sanitizer build
// sees that), and the piecewise verdict must match the whole-buffer one.
TEST(ImageScanner, DamagedInputNeitherCrashesNorDisagrees) {
  std::mt19937 random(20240601);
  std::vector<Bytes> inputs;
  for (const Sample& s : kSamples) {
    for (int round = 0; round < 300; ++round) {
      Bytes damaged = *s.bytes;
      int flips = 1 + static_cast<int>(random() % 4);
      for (int f = 0; f < flips; ++f) {
        damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
      }
      inputs.push_back(std::move(damaged));
    }
  }
  const Bytes signatures[] = {Bytes{0xFF, 0xD8, 0xFF}, Bytes(kPng.begin(), kPng.begin() + 8),
                              FromText("GIF89a"), Bytes(kBmp.begin(), kBmp.begin() + 18)};
  for (const Bytes& signature : signatures) {
    for (int round = 0; round < 300; ++round) {
      Bytes input = signature;
      std::size_t extra = random() % 200;
      for (std::size_t k = 0; k < extra; ++k) {
        input.push_back(static_cast<std::uint8_t>(random() % 4 == 0 ? 0xFF : random()));
      }
      inputs.push_back(std::move(input));
    }
  }
  for (const Bytes& input : inputs) {
    bool whole = IsCompleteImage(input);
    (void)ReadJpegInfo(input);
    ImageScanner scanner;
    std::size_t at = 0;
    while (at < input.size()) {
      std::size_t piece = std::min<std::size_t>(1 + random() % 7, input.size() - at);
      scanner.Feed(input.data() + at, piece);
      at += piece;
    }
    ASSERT_EQ(scanner.Complete(), whole);
  }
}

// --- Files on disk --------------------------------------------------------------

class ImageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = fs::temp_directory_path() /
            ("folivex-image-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Text In(const Text& name) const { return root_.string() + PathSeparator() + name; }
  fs::path root_;
};

TEST_F(ImageFileTest, ScansFilesInChunks) {
  // Larger than one read chunk, so the walk crosses chunk boundaries.
  std::string big = MakeJpeg({.width = 400, .height = 300, .noise = 200, .target_size = 300000});
  Bytes big_jpeg(big.begin(), big.end());
  ASSERT_EQ(big_jpeg.size(), 300000u);
  struct Case {
    const char* name;
    Bytes bytes;
    ImageKind kind;
    bool complete;
    int width;
  } cases[] = {
      {"large JPEG", big_jpeg, ImageKind::Jpeg, true, 400},
      {"large JPEG cut short", Cut(big_jpeg, 70000), ImageKind::Jpeg, false, 400},
      {"PNG", kPng, ImageKind::Png, true, 0},
      {"error page", FromText("<html>Not Found</html>"), ImageKind::None, false, 0},
      {"empty file", {}, ImageKind::None, false, 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Text path = In(std::to_string(++n) + ".jpg");
    ASSERT_TRUE(WriteBytesFile(path, c.bytes));
    ImageFileScan scan = ScanImageFile(path);
    EXPECT_TRUE(scan.opened);
    EXPECT_EQ(scan.kind, c.kind);
    EXPECT_EQ(scan.complete, c.complete);
    EXPECT_EQ(scan.jpeg.has_value(), c.width != 0);
    if (scan.jpeg) {
      EXPECT_EQ(scan.jpeg->width, c.width);
    }
    if (c.complete) {
      EXPECT_EQ(scan.size, c.bytes.size());
    }
  }
  ImageFileScan missing = ScanImageFile(In("missing.jpg"));
  EXPECT_FALSE(missing.opened);
  EXPECT_FALSE(missing.complete);
}

}  // namespace
}  // namespace folivex
