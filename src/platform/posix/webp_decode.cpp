#include <webp/decode.h>

#include "platform/picture.h"

namespace folivex {

PictureDecode DecodeWebp(const std::uint8_t* data, std::size_t size) {
  PictureDecode result;
  WebPBitstreamFeatures features;
  if (data == nullptr || WebPGetFeatures(data, size, &features) != VP8_STATUS_OK) {
    result.failure = DecodeFailure::Damaged;
    result.detail = "damaged WebP";
    return result;
  }
  if (features.has_animation) {
    result.failure = DecodeFailure::Unsupported;
    result.detail = "animated WebP";
    return result;
  }
  const std::uint64_t pixels = std::uint64_t(features.width) * std::uint64_t(features.height);
  if (features.width <= 0 || features.height <= 0 || pixels > kMaxDecodedPixels) {
    result.failure = DecodeFailure::TooLarge;
    result.detail = "WebP of " + std::to_string(features.width) + " x " +
                    std::to_string(features.height) + " pixels";
    return result;
  }
  DecodedPicture picture;
  picture.width = features.width;
  picture.height = features.height;
  picture.channels = features.has_alpha ? 4 : 3;
  const int stride = picture.width * picture.channels;
  picture.pixels.resize(pixels * static_cast<std::size_t>(picture.channels));
  std::uint8_t* decoded =
      features.has_alpha
          ? WebPDecodeRGBAInto(data, size, picture.pixels.data(), picture.pixels.size(), stride)
          : WebPDecodeRGBInto(data, size, picture.pixels.data(), picture.pixels.size(), stride);
  if (decoded == nullptr) {
    result.failure = DecodeFailure::Damaged;
    result.detail = "damaged WebP";
    return result;
  }
  result.picture = std::move(picture);
  return result;
}

}  // namespace folivex
