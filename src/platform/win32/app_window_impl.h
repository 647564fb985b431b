// The state behind an AppWindow, shared by the code that makes and runs the
// window and the code that reads it back from the system. Everything here
// belongs to the window's own files in this folder.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "platform/window.h"
#include "platform/win32/gdi.h"

namespace folivex {

inline int Index(ControlId control) { return control.value; }
inline bool Known(ControlId control) { return Index(control) >= 0 && Index(control) < kMaxControls; }

// The text a window holds, as the system gives it.
std::wstring WindowTextOf(HWND hwnd);

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

  // Runs the handlers bound to `event` on the control.
  void Dispatch(ControlId control, Event event) const;

  // Runs the task on the GUI thread and waits for it; false when the window
  // is gone and the task did not run.
  bool OnGuiThread(const std::function<void()>& task) const;

  // The colours drawn behind a control's text, answered to WM_CTLCOLOR*.
  HBRUSH Colours(HWND child, HDC dc) const;
};

}  // namespace folivex
