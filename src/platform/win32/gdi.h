// GDI objects and memory device contexts, each deleted by its owner, and an
// object selected into a device context for one scope.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace folivex {

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const {
    if (object) DeleteObject(object);
  }
};
using BitmapHandle = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;
using BrushHandle = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiObjectDeleter>;

struct DcDeleter {
  void operator()(HDC dc) const {
    if (dc) DeleteDC(dc);
  }
};
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;

// Puts an object into a DC for a scope and puts the old one back.
class Selected {
 public:
  Selected(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
  ~Selected() { SelectObject(dc_, old_); }
  Selected(const Selected&) = delete;
  Selected& operator=(const Selected&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

}  // namespace folivex
