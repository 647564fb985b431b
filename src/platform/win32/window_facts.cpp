// Reading the main window and its controls back from the system: what
// tests and screenshot tools check, taken from the real windows rather than
// from the WindowSpec they were made from.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <optional>
#include <string>

#include "platform/window.h"
#include "platform/win32/app_window_impl.h"
#include "platform/win32/gdi.h"

namespace folivex {
namespace {

std::u16string ToU16(const std::wstring& wide) { return std::u16string(wide.begin(), wide.end()); }

std::string ClassNameOf(HWND hwnd) {
  wchar_t name[256] = {};
  const int length = GetClassNameW(hwnd, name, 256);
  std::string ascii;
  for (int i = 0; i < length; ++i) ascii.push_back(name[i] < 0x80 ? static_cast<char>(name[i]) : '?');
  return ascii;
}

Rgb FromColorRef(COLORREF colour) {
  return Rgb{GetRValue(colour), GetGValue(colour), GetBValue(colour)};
}

// The colour at a point of a window (frame included, window coordinates),
// painted afresh into a bitmap of its own: works on hidden windows too.
std::optional<Rgb> PaintedWindowPixel(HWND hwnd, int x, int y) {
  RECT rect;
  GetWindowRect(hwnd, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (x < 0 || y < 0 || x >= width || y >= height) return std::nullopt;
  const HDC screen = GetDC(nullptr);
  MemoryDc dc(CreateCompatibleDC(screen));
  BitmapHandle canvas(CreateCompatibleBitmap(screen, width, height));
  ReleaseDC(nullptr, screen);
  if (!dc || !canvas) return std::nullopt;
  Selected selected(dc.get(), canvas.get());
  SendMessageW(hwnd, WM_PRINT, reinterpret_cast<WPARAM>(dc.get()),
               PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND);
  const COLORREF colour = GetPixel(dc.get(), x, y);
  if (colour == CLR_INVALID) return std::nullopt;
  return FromColorRef(colour);
}

}  // namespace

std::wstring WindowTextOf(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  if (length <= 0) return {};
  std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(hwnd, buffer.data(), length + 1);
  buffer.resize(static_cast<std::size_t>(std::max(got, 0)));
  return buffer;
}

WindowFacts AppWindow::Facts() const {
  WindowFacts facts;
  const HWND hwnd = impl_->window.load();
  if (!hwnd) return facts;
  facts.class_name = ClassNameOf(hwnd);
  facts.title = ToU16(WindowTextOf(hwnd));
  RECT outer, client;
  GetWindowRect(hwnd, &outer);
  GetClientRect(hwnd, &client);
  facts.left = outer.left;
  facts.top = outer.top;
  facts.width = outer.right - outer.left;
  facts.height = outer.bottom - outer.top;
  facts.client_width = client.right;
  facts.client_height = client.bottom;
  facts.screen_width = GetSystemMetrics(SM_CXSCREEN);
  facts.screen_height = GetSystemMetrics(SM_CYSCREEN);
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE));
  facts.visible = (style & WS_VISIBLE) != 0;
  facts.caption = (style & WS_CAPTION) == WS_CAPTION;
  facts.system_menu = (style & WS_SYSMENU) != 0;
  facts.minimise_box = (style & WS_MINIMIZEBOX) != 0;
  facts.maximise_box = (style & WS_MAXIMIZEBOX) != 0;
  facts.resizable = (style & WS_THICKFRAME) != 0;
  return facts;
}

std::optional<ControlFacts> AppWindow::Facts(ControlId control) const {
  const HWND child = impl_->Handle(control);
  const ControlSpec* control_spec = impl_->Spec(control);
  if (!child || !control_spec) return std::nullopt;
  ControlFacts facts;
  facts.class_name = ClassNameOf(child);
  const HWND parent = GetParent(child);
  facts.parent = impl_->ControlOf(parent);
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
  facts.left = rect.left;
  facts.top = rect.top;
  facts.width = rect.right - rect.left;
  facts.height = rect.bottom - rect.top;
  RECT client;
  GetClientRect(child, &client);
  facts.client_width = client.right;
  facts.client_height = client.bottom;
  facts.text = ToU16(WindowTextOf(child));

  const auto style = static_cast<DWORD>(GetWindowLongPtrW(child, GWL_STYLE));
  const auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(child, GWL_EXSTYLE));
  facts.visible = (style & WS_VISIBLE) != 0;
  facts.enabled = (style & WS_DISABLED) == 0;
  facts.tab_stop = (style & WS_TABSTOP) != 0;
  facts.gui_font = SendMessageW(child, WM_GETFONT, 0, 0) ==
                   reinterpret_cast<LRESULT>(GetStockObject(DEFAULT_GUI_FONT));
  const bool borders[] = {(style & WS_BORDER) != 0, (ex_style & WS_EX_CLIENTEDGE) != 0,
                          (ex_style & WS_EX_STATICEDGE) != 0, (style & WS_DLGFRAME) != 0};
  facts.border_count = static_cast<int>(std::count(std::begin(borders), std::end(borders), true));
  // How far the client area sits inside the window on the left and top
  // (scroll bars sit on the right and at the bottom).
  POINT origin{0, 0};
  MapWindowPoints(child, parent, &origin, 1);
  const int inset = std::min(origin.x - facts.left, origin.y - facts.top);
  if (ex_style & WS_EX_CLIENTEDGE) {
    facts.border = Border::Sunken;
  } else if (ex_style & WS_EX_STATICEDGE) {
    facts.border = Border::ThinSunken;
  } else if ((style & WS_BORDER) || inset == 1) {
    facts.border = Border::Single;
  } else if (control_spec->kind == ControlKind::Edit) {
    // An edit box takes WS_BORDER off its style and draws that line itself,
    // inside or around its client area: look at what it paints.
    const std::optional<Rgb> edge = PaintedWindowPixel(child, 0, facts.height / 2);
    const std::optional<Rgb> inside = PaintedWindowPixel(child, 3, facts.height / 2);
    if (edge && inside && !(edge->r == inside->r && edge->g == inside->g && edge->b == inside->b)) {
      facts.border = Border::Single;
      ++facts.border_count;
    }
  }

  switch (control_spec->kind) {
    case ControlKind::Edit:
      facts.align = (style & ES_CENTER) ? Align::Centre : Align::Left;
      facts.multi_line = (style & ES_MULTILINE) != 0;
      facts.want_return = (style & ES_WANTRETURN) != 0;
      facts.vertical_scroll_bar = (style & WS_VSCROLL) != 0;
      facts.scrolls_horizontally = (style & ES_AUTOHSCROLL) != 0;
      facts.read_only = (style & ES_READONLY) != 0;
      facts.hides_input = (style & ES_PASSWORD) != 0;
      facts.text_limit = static_cast<std::size_t>(SendMessageW(child, EM_GETLIMITTEXT, 0, 0));
      break;
    case ControlKind::Label:
    case ControlKind::TransparentLabel:
      facts.align = (style & SS_CENTER) ? Align::Centre : Align::Left;
      break;
    case ControlKind::ProgressBar: {
      facts.smooth = (style & PBS_SMOOTH) != 0;
      facts.vertical = (style & PBS_VERTICAL) != 0;
      PBRANGE range{};
      SendMessageW(child, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
      facts.range_low = range.iLow;
      facts.range_high = range.iHigh;
      facts.position = static_cast<int>(SendMessageW(child, PBM_GETPOS, 0, 0));
      break;
    }
    case ControlKind::Picture:
      if (const HBITMAP picture = impl_->pictures[Index(control)].get()) {
        BITMAP held{};
        facts.has_picture = true;
        if (GetObjectW(picture, sizeof(held), &held) != 0) {
          facts.picture_width = held.bmWidth;
          facts.picture_height = held.bmHeight;
        }
      }
      break;
    case ControlKind::Button:
      break;
  }

  // Ask the window for the colours, as the control itself does when drawing.
  if (control_spec->kind == ControlKind::Edit || control_spec->kind == ControlKind::Label ||
      control_spec->kind == ControlKind::TransparentLabel) {
    MemoryDc dc(CreateCompatibleDC(nullptr));
    if (dc) {
      SetBkMode(dc.get(), OPAQUE);
      const UINT message =
          control_spec->kind == ControlKind::Edit ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC;
      const auto brush = reinterpret_cast<HBRUSH>(
          SendMessageW(parent, message, reinterpret_cast<WPARAM>(dc.get()),
                       reinterpret_cast<LPARAM>(child)));
      facts.text_colour = FromColorRef(GetTextColor(dc.get()));
      facts.transparent = GetBkMode(dc.get()) == TRANSPARENT ||
                          brush == static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
      LOGBRUSH logical{};
      if (!facts.transparent && brush && GetObjectW(brush, sizeof(logical), &logical) != 0 &&
          logical.lbStyle == BS_SOLID) {
        facts.background = FromColorRef(logical.lbColor);
      }
    }
  }
  return facts;
}

std::optional<Rgb> AppWindow::PaintedPixel(ControlId control, int x, int y) const {
  const HWND child = impl_->Handle(control);
  const ControlSpec* control_spec = impl_->Spec(control);
  if (!child || !control_spec || control_spec->kind != ControlKind::Picture) return std::nullopt;
  RECT client;
  GetClientRect(child, &client);
  if (x < 0 || y < 0 || x >= client.right || y >= client.bottom) return std::nullopt;
  const HDC screen = GetDC(nullptr);
  MemoryDc dc(CreateCompatibleDC(screen));
  BitmapHandle canvas(CreateCompatibleBitmap(screen, client.right, client.bottom));
  ReleaseDC(nullptr, screen);
  if (!dc || !canvas) return std::nullopt;
  Selected selected(dc.get(), canvas.get());
  SendMessageW(child, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.get()), PRF_CLIENT);
  const COLORREF colour = GetPixel(dc.get(), x, y);
  if (colour == CLR_INVALID) return std::nullopt;
  return FromColorRef(colour);
}

}  // namespace folivex
