// Pictures decoded by the system's imaging component (WIC): every format it
// has a codec for. Windows only; the tests use it directly to check the
// pixel copy on formats Wine decodes too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/picture.h"

namespace folivex {

// The first frame as RGB, or RGBA when any pixel is not opaque. NoDecoder
// when no installed codec takes the bytes.
PictureDecode DecodeWithImagingComponent(const std::uint8_t* data, std::size_t size);

}  // namespace folivex
