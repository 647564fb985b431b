// The main window on the Win32 API: one top-level window, its child
// controls made from the WindowSpec, their colours, the picture boxes, the
// event dispatch and the control access from any thread.
//
// Every text crosses into the system as UTF-16 through the W functions, so
// Chinese shows the same whatever the system's ANSI code page is.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/process_settings.h"
#include "platform/window.h"
#include "platform/win32/com.h"
#include "platform/win32/wide_text.h"

namespace folivex {

namespace {

constexpr wchar_t kMainClass[] = L"FolivexMainWindow";
constexpr wchar_t kPictureClass[] = L"FolivexPictureBox";
// Fixed border with a title bar, the system menu and a minimise box.
constexpr DWORD kMainStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kFirstControlId = 1000;
// The icon of the executable's resources.
constexpr int kIconId = 1;

// Carries a task to the GUI thread: lParam points at a std::function that
// the window procedure runs. SendMessageW waits for it, and calls from one
// thread are handled in the order made.
constexpr UINT kRunTask = WM_APP + 1;
// Destroys the window on its own thread (DestroyWindow works only there).
constexpr UINT kDestroy = WM_APP + 2;

int Index(ControlId control) { return control.value; }
bool Known(ControlId control) { return Index(control) >= 0 && Index(control) < kMaxControls; }

std::u16string ToU16(const std::wstring& wide) { return std::u16string(wide.begin(), wide.end()); }

std::wstring WindowTextOf(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  if (length <= 0) return {};
  std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(hwnd, buffer.data(), length + 1);
  buffer.resize(static_cast<std::size_t>(std::max(got, 0)));
  return buffer;
}

std::string ClassNameOf(HWND hwnd) {
  wchar_t name[256] = {};
  const int length = GetClassNameW(hwnd, name, 256);
  std::string ascii;
  for (int i = 0; i < length; ++i) ascii.push_back(name[i] < 0x80 ? static_cast<char>(name[i]) : '?');
  return ascii;
}

COLORREF ToColorRef(Rgb rgb) { return RGB(rgb.r, rgb.g, rgb.b); }
Rgb FromColorRef(COLORREF colour) {
  return Rgb{GetRValue(colour), GetGValue(colour), GetBValue(colour)};
}

// --- Handles ------------------------------------------------------------------

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

// --- Pictures ---------------------------------------------------------------

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

// Decodes JPEG, PNG, GIF, BMP (whatever the system's imaging component
// reads) into a top-down 32-bit bitmap no larger than `width` x `height`
// (each side shrunk on its own, as the box stretches the picture over its
// whole area anyway; a smaller picture keeps its size). Null for empty
// bytes, bytes that are no image it knows, and pictures of absurd size.
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

LRESULT CALLBACK MainProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

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

bool RegisterClasses(HINSTANCE instance) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  if (!GetClassInfoExW(instance, kMainClass, &existing)) {
    WNDCLASSEXW main{};
    main.cbSize = sizeof(main);
    main.lpfnWndProc = MainProc;
    main.hInstance = instance;
    main.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    main.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    main.lpszClassName = kMainClass;
    // Absent in programs without the icon resource (the tests): then the
    // system's default icon shows.
    main.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXICON),
                                               GetSystemMetrics(SM_CYICON), LR_SHARED));
    main.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXSMICON),
                                                 GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    if (!RegisterClassExW(&main)) return false;
  }
  if (!GetClassInfoExW(instance, kPictureClass, &existing)) {
    WNDCLASSEXW picture{};
    picture.cbSize = sizeof(picture);
    picture.lpfnWndProc = PictureProc;
    picture.hInstance = instance;
    picture.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    picture.lpszClassName = kPictureClass;
    if (!RegisterClassExW(&picture)) return false;
  }
  return true;
}

struct Styles {
  DWORD style = 0;
  DWORD ex_style = 0;
};

Styles BorderStyles(Border border) {
  switch (border) {
    case Border::None: return {};
    case Border::Single: return {WS_BORDER, 0};
    case Border::Sunken: return {0, WS_EX_CLIENTEDGE};
    case Border::ThinSunken: return {0, WS_EX_STATICEDGE};
  }
  return {};
}

struct ClassAndStyles {
  const wchar_t* class_name;
  Styles styles;
};

ClassAndStyles ControlClass(const ControlSpec& spec) {
  Styles styles = BorderStyles(spec.border);
  styles.style |= WS_CHILD | WS_VISIBLE;
  switch (spec.kind) {
    case ControlKind::Label:
    case ControlKind::TransparentLabel:
      // No "&" prefixes: a caption shows exactly the text written.
      styles.style |= (spec.align == Align::Centre ? SS_CENTER : SS_LEFT) | SS_NOPREFIX;
      return {L"Static", styles};
    case ControlKind::Edit:
      styles.style |= WS_TABSTOP | (spec.align == Align::Centre ? ES_CENTER : ES_LEFT);
      if (spec.multi_line) {
        styles.style |= ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL;
      } else {
        styles.style |= ES_AUTOHSCROLL;
      }
      return {L"Edit", styles};
    case ControlKind::Picture:
      styles.style |= WS_CLIPCHILDREN;
      return {kPictureClass, styles};
    case ControlKind::ProgressBar:
      // Without PBS_SMOOTH the bar is drawn in blocks.
      return {PROGRESS_CLASSW, styles};
    case ControlKind::Button:
      styles.style |= WS_TABSTOP | BS_PUSHBUTTON;
      return {L"Button", styles};
  }
  return {L"Static", styles};
}

}  // namespace

// --- The window's state ---------------------------------------------------------

struct AppWindow::Impl {
  WindowSpec spec;
  // Read by any thread to reach the GUI thread; cleared when the window
  // goes. Everything below is touched by the GUI thread only.
  std::atomic<HWND> window{nullptr};
  // Set once every control exists: a window that failed half-way must not
  // leave a quit message behind (it would close the error message at once).
  bool complete = false;
  std::array<HWND, kMaxControls> controls{};
  std::array<const ControlSpec*, kMaxControls> specs{};
  std::array<BitmapHandle, kMaxControls> pictures;
  std::array<BrushHandle, kMaxControls> backgrounds;

  // The control behind a child window handle, if it is one of ours.
  std::optional<ControlId> ControlOf(HWND child) const {
    if (!child) return std::nullopt;
    for (int i = 0; i < kMaxControls; ++i) {
      if (controls[i] == child) return ControlId(i);
    }
    return std::nullopt;
  }

  HWND Handle(ControlId control) const { return Known(control) ? controls[Index(control)] : nullptr; }

  const ControlSpec* Spec(ControlId control) const {
    return Known(control) ? specs[Index(control)] : nullptr;
  }

  void Dispatch(ControlId control, Event event) const {
    // Copied first: a handler may not change the table, but it must not see
    // it move either.
    const std::vector<EventBinding> events = spec.events;
    for (const EventBinding& binding : events) {
      if (binding.control == control && binding.event == event && binding.handler) {
        binding.handler();
      }
    }
  }

  // Runs the task on the GUI thread and waits for it; false when the window
  // is gone and the task did not run.
  bool OnGuiThread(const std::function<void()>& task) const {
    const HWND hwnd = window.load();
    if (!hwnd) return false;
    bool ran = false;
    const std::function<void()> wrapped = [&] {
      task();
      ran = true;
    };
    SendMessageW(hwnd, kRunTask, 0, reinterpret_cast<LPARAM>(&wrapped));
    return ran;
  }

  // The colours drawn behind a control's text, answered to WM_CTLCOLOR*.
  HBRUSH Colours(HWND child, HDC dc) const {
    const std::optional<ControlId> control = ControlOf(child);
    const ControlSpec* control_spec = control ? Spec(*control) : nullptr;
    if (!control_spec) return nullptr;
    SetTextColor(dc, RGB(0, 0, 0));
    switch (control_spec->kind) {
      case ControlKind::TransparentLabel:
        // Only the caption is drawn; the window's own background shows.
        SetBkMode(dc, TRANSPARENT);
        return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
      case ControlKind::Edit:
        if (const HBRUSH brush = backgrounds[Index(*control)].get()) {
          SetBkColor(dc, ToColorRef(*control_spec->background));
          return brush;
        }
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return GetSysColorBrush(COLOR_WINDOW);
      default:
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return GetSysColorBrush(COLOR_BTNFACE);
    }
  }
};

namespace {

LRESULT CALLBACK EditSubclassProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                  UINT_PTR /*id*/, DWORD_PTR data) {
  if (message == WM_LBUTTONDBLCLK) {
    // The box selects the word first, as it always does; then the handler.
    const LRESULT result = DefSubclassProc(hwnd, message, wparam, lparam);
    const auto* impl = reinterpret_cast<const AppWindow::Impl*>(data);
    if (const std::optional<ControlId> control = impl->ControlOf(hwnd)) {
      impl->Dispatch(*control, Event::DoubleClick);
    }
    return result;
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(hwnd, EditSubclassProc, 0);
  return DefSubclassProc(hwnd, message, wparam, lparam);
}

LRESULT CALLBACK MainProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* impl = reinterpret_cast<AppWindow::Impl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!impl) return DefWindowProcW(hwnd, message, wparam, lparam);

  switch (message) {
    case kRunTask:
      (*reinterpret_cast<const std::function<void()>*>(lparam))();
      return 0;
    case kDestroy:
      DestroyWindow(hwnd);
      return 0;
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED && lparam != 0) {
        if (const std::optional<ControlId> control = impl->ControlOf(reinterpret_cast<HWND>(lparam))) {
          impl->Dispatch(*control, Event::Click);
        }
        return 0;
      }
      break;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      if (const HBRUSH brush = impl->Colours(reinterpret_cast<HWND>(lparam),
                                             reinterpret_cast<HDC>(wparam))) {
        return reinterpret_cast<LRESULT>(brush);
      }
      break;
    case WM_DESTROY:
      // The program's only window: closing it ends the message loop.
      if (impl->complete) PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      impl->window.store(nullptr);
      impl->controls.fill(nullptr);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace

// --- AppWindow ------------------------------------------------------------------

AppWindow::AppWindow(Key, std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

AppWindow::~AppWindow() {
  // From the GUI thread this destroys the window at once; from another
  // thread the GUI thread does it.
  if (const HWND hwnd = impl_->window.load()) SendMessageW(hwnd, kDestroy, 0, 0);
}

std::shared_ptr<AppWindow> AppWindow::Create(const WindowSpec& spec) {
  INITCOMMONCONTROLSEX common{};
  common.dwSize = sizeof(common);
  common.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
  InitCommonControlsEx(&common);
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!RegisterClasses(instance)) return nullptr;

  auto impl = std::make_unique<Impl>();
  impl->spec = spec;

  // Centred on the screen, integer division.
  const int left = (GetSystemMetrics(SM_CXSCREEN) - spec.outer_width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - spec.outer_height) / 2;
  const HWND hwnd = CreateWindowExW(0, kMainClass, WidenGbkLossy(spec.title).c_str(), kMainStyle, left, top,
                                    spec.outer_width, spec.outer_height, nullptr, nullptr, instance,
                                    impl.get());
  if (!hwnd) return nullptr;
  impl->window.store(hwnd);
  auto window = std::make_shared<AppWindow>(Key{}, std::move(impl));
  Impl& state = *window->impl_;

  const auto font = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));
  for (const ControlSpec& control : state.spec.controls) {
    if (!Known(control.id) || state.controls[Index(control.id)]) return nullptr;
    HWND parent = hwnd;
    if (control.parent) {
      parent = state.Handle(*control.parent);
      // A holder comes before what it holds.
      if (!parent) return nullptr;
    }
    const ClassAndStyles made = ControlClass(control);
    const HWND child = CreateWindowExW(
        made.styles.ex_style, made.class_name, WidenGbkLossy(control.default_text).c_str(),
        made.styles.style, control.left, control.top, control.width, control.height, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + Index(control.id))),
        instance, nullptr);
    if (!child) return nullptr;
    state.controls[Index(control.id)] = child;
    state.specs[Index(control.id)] = &control;
    SendMessageW(child, WM_SETFONT, font, FALSE);

    switch (control.kind) {
      case ControlKind::Edit:
        // No length limit: the largest the box allows.
        SendMessageW(child, EM_SETLIMITTEXT, 0, 0);
        if (control.background) {
          state.backgrounds[Index(control.id)].reset(CreateSolidBrush(ToColorRef(*control.background)));
        }
        SetWindowSubclass(child, EditSubclassProc, 0, reinterpret_cast<DWORD_PTR>(&state));
        break;
      case ControlKind::ProgressBar:
        SendMessageW(child, PBM_SETRANGE32, 0, 100);
        SendMessageW(child, PBM_SETPOS, 0, 0);
        break;
      default:
        break;
    }
  }
  state.complete = true;
  return window;
}

void AppWindow::Show(int show_command) {
  impl_->OnGuiThread([&] {
    ShowWindow(impl_->window.load(), show_command);
    UpdateWindow(impl_->window.load());
  });
}

void AppWindow::Close() {
  if (const HWND hwnd = impl_->window.load()) SendMessageW(hwnd, kDestroy, 0, 0);
}

bool AppWindow::IsOpen() const { return impl_->window.load() != nullptr; }

Text AppWindow::GetText(ControlId control) {
  Text text;
  impl_->OnGuiThread([&] {
    if (const HWND child = impl_->Handle(control)) text = NarrowToGbk(WindowTextOf(child));
  });
  return text;
}

void AppWindow::SetText(ControlId control, const Text& text) {
  const std::wstring wide = WidenGbkLossy(text);
  impl_->OnGuiThread([&] {
    const HWND child = impl_->Handle(control);
    const ControlSpec* control_spec = impl_->Spec(control);
    if (!child || !control_spec) return;
    SetWindowTextW(child, wide.c_str());
    if (control_spec->kind == ControlKind::TransparentLabel) {
      // A transparent caption does not wipe the old one: the window repaints
      // its background under it first.
      RECT rect;
      GetWindowRect(child, &rect);
      const HWND parent = GetParent(child);
      MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
      InvalidateRect(parent, &rect, TRUE);
    }
  });
}

void AppWindow::SetPicture(ControlId control, const Bytes& image) {
  impl_->OnGuiThread([&] {
    const HWND child = impl_->Handle(control);
    const ControlSpec* control_spec = impl_->Spec(control);
    if (!child || !control_spec || control_spec->kind != ControlKind::Picture) return;
    RECT client{};
    GetClientRect(child, &client);
    BitmapHandle picture = DecodePicture(image, client.right, client.bottom);
    SetWindowLongPtrW(child, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(picture.get()));
    // The previous picture goes only after the box stopped pointing at it.
    impl_->pictures[Index(control)] = std::move(picture);
    InvalidateRect(child, nullptr, TRUE);
  });
}

void AppWindow::SetPosition(ControlId control, int value) {
  impl_->OnGuiThread([&] {
    const HWND child = impl_->Handle(control);
    const ControlSpec* control_spec = impl_->Spec(control);
    if (!child || !control_spec || control_spec->kind != ControlKind::ProgressBar) return;
    SendMessageW(child, PBM_SETPOS, static_cast<WPARAM>(std::clamp(value, 0, 100)), 0);
  });
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

void* AppWindow::NativeHandle() const { return impl_->window.load(); }

void AppWindow::ShowOwnedMessage(const Text& text) {
  const Text& title = DefaultMessageTitle();
  if (RunMessageHook(text, title)) return;
  // The owner is disabled while the box is open: a second double click on
  // the window cannot start another analysis inside this one's box.
  MessageBoxW(impl_->window.load(), WidenGbkLossy(text).c_str(), WidenGbkLossy(title).c_str(), MB_OK);
}

void AppWindow::Click(ControlId control) {
  if (const HWND child = impl_->Handle(control)) SendMessageW(child, BM_CLICK, 0, 0);
}

void AppWindow::DoubleClick(ControlId control) {
  const HWND child = impl_->Handle(control);
  if (!child) return;
  const LPARAM point = MAKELPARAM(4, 4);
  SendMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, point);
  SendMessageW(child, WM_LBUTTONUP, 0, point);
  SendMessageW(child, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
  SendMessageW(child, WM_LBUTTONUP, 0, point);
}

int RunMessageLoop(AppWindow* window) {
  MSG msg;
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got == -1) return 1;
    // Tab and Shift+Tab move between the tab stops.
    const auto hwnd = window ? static_cast<HWND>(window->NativeHandle()) : nullptr;
    if (hwnd && IsDialogMessageW(hwnd, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void EndProcess(int exit_code) { ExitProcess(static_cast<UINT>(exit_code)); }

}  // namespace folivex
