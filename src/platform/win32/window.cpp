// The main window on the Win32 API: one top-level window, its child
// controls made from the WindowSpec, their colours, the picture boxes, the
// event dispatch and the control access from any thread.
//
// Every text crosses into the system as UTF-16 through the W functions, so
// Chinese shows the same whatever the system's ANSI code page is.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/process_settings.h"
#include "platform/window.h"
#include "platform/win32/app_window_impl.h"
#include "platform/win32/gdi.h"
#include "platform/win32/picture_box.h"
#include "platform/win32/wide_text.h"

namespace folivex {
namespace {

constexpr wchar_t kMainClass[] = L"FolivexMainWindow";
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

COLORREF ToColorRef(Rgb rgb) { return RGB(rgb.r, rgb.g, rgb.b); }

LRESULT CALLBACK MainProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

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

void AppWindow::Impl::Dispatch(ControlId control, Event event) const {
  // Copied first: a handler may not change the table, but it must not see
  // it move either.
  const std::vector<EventBinding> events = spec.events;
  for (const EventBinding& binding : events) {
    if (binding.control == control && binding.event == event && binding.handler) {
      binding.handler();
    }
  }
}

bool AppWindow::Impl::OnGuiThread(const std::function<void()>& task) const {
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

HBRUSH AppWindow::Impl::Colours(HWND child, HDC dc) const {
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
