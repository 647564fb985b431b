// The picture box: a child window class of this program that shows one
// picture stretched over its client area. The box holds no picture of its
// own; its owner keeps the bitmap and hands the box a pointer to it in
// GWLP_USERDATA.
#pragma once

#include <windows.h>

#include "platform/win32/gdi.h"
#include "text/text.h"

namespace folivex {

inline constexpr wchar_t kPictureClass[] = L"FolivexPictureBox";

// Decodes JPEG, PNG, GIF, BMP (whatever the system's imaging component
// reads) into a top-down 32-bit bitmap no larger than `width` x `height`
// (each side shrunk on its own, as the box stretches the picture over its
// whole area anyway; a smaller picture keeps its size). Null for empty
// bytes, bytes that are no image it knows, and pictures of absurd size.
BitmapHandle DecodePicture(const Bytes& bytes, int width, int height);

// The window procedure of the kPictureClass boxes: paints the picture and
// keeps the font it is given.
LRESULT CALLBACK PictureProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace folivex
