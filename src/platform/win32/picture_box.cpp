#include "platform/win32/picture_box.h"

#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <utility>

#include "platform/win32/com.h"

namespace folivex {
namespace {

// A picture that declares more pixels than this is refused before any of
// it is decoded. A flip-book's cover is a few megapixels; a 600 dpi scan of
// an A3 page is 70. More is a broken or hostile file, whose decoding would
// take gigabytes and block the window's thread.
constexpr unsigned long long kMaxPicturePixels = 80'000'000;

// The size a JPEG, PNG, GIF or BMP declares in its header, read before the
// imaging component sees the bytes: some of its decoders decode the whole
// picture as soon as they are given it. Nothing for other bytes, which the
// component then judges alone.
std::optional<std::pair<unsigned, unsigned>> DeclaredPictureSize(const Bytes& bytes) {
  const std::size_t n = bytes.size();
  const auto at = [&](std::size_t i) -> unsigned { return i < n ? bytes[i] : 0U; };
  const auto be16 = [&](std::size_t i) { return at(i) << 8 | at(i + 1); };
  const auto le16 = [&](std::size_t i) { return at(i) | at(i + 1) << 8; };
  const auto be32 = [&](std::size_t i) { return be16(i) << 16 | be16(i + 2); };
  const auto le32 = [&](std::size_t i) { return le16(i) | le16(i + 2) << 16; };
  if (n >= 4 && at(0) == 0xFF && at(1) == 0xD8) {
    // JPEG: walk the segments to the frame header.
    std::size_t i = 2;
    while (i + 4 <= n) {
      if (at(i) != 0xFF) return std::nullopt;
      const unsigned marker = at(i + 1);
      if (marker == 0xFF) {  // fill byte
        ++i;
        continue;
      }
      const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 &&
                         marker != 0xC8 && marker != 0xCC;
      if (frame && i + 9 <= n) return std::pair{be16(i + 7), be16(i + 5)};
      if (marker == 0xDA || marker == 0xD9) return std::nullopt;
      i += 2 + be16(i + 2);
    }
    return std::nullopt;
  }
  if (n >= 24 && at(0) == 0x89 && at(1) == 'P' && at(2) == 'N' && at(3) == 'G') {
    return std::pair{be32(16), be32(20)};
  }
  if (n >= 10 && at(0) == 'G' && at(1) == 'I' && at(2) == 'F') {
    return std::pair{le16(6), le16(8)};
  }
  if (n >= 26 && at(0) == 'B' && at(1) == 'M') {
    const auto width = static_cast<std::int32_t>(le32(18));
    const auto height = static_cast<std::int32_t>(le32(22));
    const auto magnitude = [](std::int32_t v) {
      return v < 0 ? 0U - static_cast<unsigned>(v) : static_cast<unsigned>(v);
    };
    return std::pair{magnitude(width), magnitude(height)};
  }
  return std::nullopt;
}

bool AbsurdPictureSize(unsigned long long width, unsigned long long height) {
  return width * height > kMaxPicturePixels;
}

// Draws the box's picture stretched over its whole client area, proportions
// not kept, or the window colour when it has none.
void PaintPicture(HWND hwnd, HDC dc) {
  RECT client;
  GetClientRect(hwnd, &client);
  const auto bitmap = reinterpret_cast<HBITMAP>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  BITMAP facts{};
  if (!bitmap || GetObjectW(bitmap, sizeof(facts), &facts) == 0) {
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    return;
  }
  MemoryDc source(CreateCompatibleDC(dc));
  if (!source) return;
  Selected selected(source.get(), bitmap);
  SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  StretchBlt(dc, 0, 0, client.right, client.bottom, source.get(), 0, 0, facts.bmWidth,
             facts.bmHeight, SRCCOPY);
}

}  // namespace

BitmapHandle DecodePicture(const Bytes& bytes, int width, int height) {
  if (bytes.empty() || bytes.size() > UINT_MAX) return nullptr;
  if (const auto declared = DeclaredPictureSize(bytes);
      declared && AbsurdPictureSize(declared->first, declared->second)) {
    return nullptr;
  }
  ComScope com;
  IWICImagingFactory* raw_factory = nullptr;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, reinterpret_cast<void**>(&raw_factory)))) {
    return nullptr;
  }
  ComPtr<IWICImagingFactory> factory(raw_factory);

  IWICStream* raw_stream = nullptr;
  if (FAILED(factory->CreateStream(&raw_stream))) return nullptr;
  ComPtr<IWICStream> stream(raw_stream);
  // The stream reads the caller's bytes in place; they outlive it.
  if (FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()),
                                          static_cast<DWORD>(bytes.size())))) {
    return nullptr;
  }
  IWICBitmapDecoder* raw_decoder = nullptr;
  if (FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad,
                                              &raw_decoder))) {
    return nullptr;
  }
  ComPtr<IWICBitmapDecoder> decoder(raw_decoder);
  IWICBitmapFrameDecode* raw_frame = nullptr;
  if (FAILED(decoder->GetFrame(0, &raw_frame))) return nullptr;
  ComPtr<IWICBitmapFrameDecode> frame(raw_frame);
  // The size the file declares, read from its header: nothing decoded yet.
  UINT declared_width = 0, declared_height = 0;
  if (FAILED(frame->GetSize(&declared_width, &declared_height)) || declared_width == 0 ||
      declared_height == 0 || AbsurdPictureSize(declared_width, declared_height)) {
    return nullptr;
  }
  IWICFormatConverter* raw_converter = nullptr;
  if (FAILED(factory->CreateFormatConverter(&raw_converter))) return nullptr;
  ComPtr<IWICFormatConverter> converter(raw_converter);
  if (FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGR,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return nullptr;
  }
  const UINT target_width = std::min<UINT>(declared_width, static_cast<UINT>(std::max(1, width)));
  const UINT target_height =
      std::min<UINT>(declared_height, static_cast<UINT>(std::max(1, height)));
  IWICBitmapScaler* raw_scaler = nullptr;
  if (FAILED(factory->CreateBitmapScaler(&raw_scaler))) return nullptr;
  ComPtr<IWICBitmapScaler> scaler(raw_scaler);
  if (FAILED(scaler->Initialize(converter.get(), target_width, target_height,
                                WICBitmapInterpolationModeFant))) {
    return nullptr;
  }

  const unsigned long long stride = 4ULL * target_width;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = static_cast<LONG>(target_width);
  info.bmiHeader.biHeight = -static_cast<LONG>(target_height);  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  BitmapHandle bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap || !bits) return nullptr;
  if (FAILED(scaler->CopyPixels(nullptr, static_cast<UINT>(stride),
                                static_cast<UINT>(stride * target_height),
                                static_cast<BYTE*>(bits)))) {
    return nullptr;
  }
  return bitmap;
}

LRESULT CALLBACK PictureProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd, &paint);
      PaintPicture(hwnd, dc);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      PaintPicture(hwnd, reinterpret_cast<HDC>(wparam));
      return 0;
    case WM_ERASEBKGND:
      // WM_PAINT covers the whole client area.
      return 1;
    case WM_SETFONT:
      SetPropW(hwnd, L"FolivexFont", reinterpret_cast<HANDLE>(wparam));
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(GetPropW(hwnd, L"FolivexFont"));
    case WM_NCDESTROY:
      RemovePropW(hwnd, L"FolivexFont");
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace folivex
