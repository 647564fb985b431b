#include "platform/win32/imaging.h"

#include <windows.h>
#include <wincodec.h>

#include <climits>
#include <cstring>

#include "platform/win32/com.h"

namespace folivex {
namespace {

PictureDecode Failed(DecodeFailure failure, std::string detail) {
  PictureDecode result;
  result.failure = failure;
  result.detail = std::move(detail);
  return result;
}

}  // namespace

PictureDecode DecodeWithImagingComponent(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size == 0 || size > UINT_MAX) {
    return Failed(DecodeFailure::Damaged, "no picture bytes");
  }
  ComScope com;
  IWICImagingFactory* raw_factory = nullptr;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, reinterpret_cast<void**>(&raw_factory)))) {
    return Failed(DecodeFailure::NoDecoder, "the system's imaging component is missing");
  }
  ComPtr<IWICImagingFactory> factory(raw_factory);
  IWICStream* raw_stream = nullptr;
  if (FAILED(factory->CreateStream(&raw_stream))) {
    return Failed(DecodeFailure::NoDecoder, "the system's imaging component is missing");
  }
  ComPtr<IWICStream> stream(raw_stream);
  // The stream reads the caller's bytes in place; they outlive it.
  if (FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size)))) {
    return Failed(DecodeFailure::Damaged, "unreadable picture");
  }
  IWICBitmapDecoder* raw_decoder = nullptr;
  const HRESULT opened = factory->CreateDecoderFromStream(
      stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, &raw_decoder);
  if (opened == WINCODEC_ERR_COMPONENTNOTFOUND) {
    return Failed(DecodeFailure::NoDecoder, "this system has no decoder for the format");
  }
  if (FAILED(opened)) return Failed(DecodeFailure::Damaged, "damaged picture");
  ComPtr<IWICBitmapDecoder> decoder(raw_decoder);
  IWICBitmapFrameDecode* raw_frame = nullptr;
  if (FAILED(decoder->GetFrame(0, &raw_frame))) {
    return Failed(DecodeFailure::Damaged, "damaged picture");
  }
  ComPtr<IWICBitmapFrameDecode> frame(raw_frame);
  UINT width = 0, height = 0;
  if (FAILED(frame->GetSize(&width, &height)) || width == 0 || height == 0) {
    return Failed(DecodeFailure::Damaged, "damaged picture");
  }
  const unsigned long long pixels = 1ULL * width * height;
  if (pixels > kMaxDecodedPixels || 4ULL * width > UINT_MAX || 4ULL * pixels > UINT_MAX) {
    return Failed(DecodeFailure::TooLarge, "picture of " + std::to_string(width) + " x " +
                                               std::to_string(height) + " pixels");
  }
  // 32-bit BGRA with straight alpha exists on every Windows since 7; the
  // samples are put in RGB order below.
  IWICFormatConverter* raw_converter = nullptr;
  if (FAILED(factory->CreateFormatConverter(&raw_converter))) {
    return Failed(DecodeFailure::NoDecoder, "the system's imaging component is missing");
  }
  ComPtr<IWICFormatConverter> converter(raw_converter);
  if (FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return Failed(DecodeFailure::Unsupported, "pixel format the system cannot convert");
  }
  std::vector<std::uint8_t> bgra(static_cast<std::size_t>(pixels) * 4);
  if (FAILED(converter->CopyPixels(nullptr, 4 * width, static_cast<UINT>(bgra.size()),
                                   bgra.data()))) {
    return Failed(DecodeFailure::Damaged, "damaged picture");
  }
  bool opaque = true;
  for (std::size_t i = 3; i < bgra.size() && opaque; i += 4) opaque = bgra[i] == 255;
  DecodedPicture picture;
  picture.width = static_cast<int>(width);
  picture.height = static_cast<int>(height);
  picture.channels = opaque ? 3 : 4;
  picture.pixels.resize(static_cast<std::size_t>(pixels) * picture.channels);
  std::uint8_t* out = picture.pixels.data();
  for (std::size_t i = 0; i < bgra.size(); i += 4) {
    *out++ = bgra[i + 2];
    *out++ = bgra[i + 1];
    *out++ = bgra[i];
    if (!opaque) *out++ = bgra[i + 3];
  }
  PictureDecode result;
  result.picture = std::move(picture);
  return result;
}

PictureDecode DecodeWebp(const std::uint8_t* data, std::size_t size) {
  // "RIFF", four size bytes, "WEBP": the codec is asked only for WebP.
  if (data == nullptr || size < 12 || std::memcmp(data, "RIFF", 4) != 0 ||
      std::memcmp(data + 8, "WEBP", 4) != 0) {
    return Failed(DecodeFailure::Damaged, "damaged WebP");
  }
  PictureDecode result = DecodeWithImagingComponent(data, size);
  if (result.failure == DecodeFailure::NoDecoder) {
    result.detail = "this system has no WebP decoder (the WebP codec of Windows is not installed)";
  }
  return result;
}

}  // namespace folivex
