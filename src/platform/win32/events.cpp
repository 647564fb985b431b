// The calling thread's message handling and the waitable timer that
// PumpingDelay waits on.
#include <windows.h>

#include <limits>

#include "platform/services.h"

namespace folivex {

void ProcessEvents() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // The quit message belongs to the message loop: put it back so the
      // loop still sees it after this call.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

PumpTimer::PumpTimer() : handle_(CreateWaitableTimerA(nullptr, FALSE, nullptr)) {}

PumpTimer::~PumpTimer() {
  if (handle_) CloseHandle(handle_);
}

bool PumpTimer::Valid() const { return handle_ != nullptr; }

bool PumpTimer::Arm(std::int64_t due_time_100ns) {
  if (!handle_) return false;
  LARGE_INTEGER due;
  due.QuadPart = due_time_100ns;
  return SetWaitableTimer(handle_, &due, 0, nullptr, nullptr, FALSE) != 0;
}

PumpTimer::WaitResult PumpTimer::Wait() {
  if (!handle_) return WaitResult::Failed;
  HANDLE handle = handle_;
  // 0xFF: keys, mouse, posted and sent messages, timers, paint and hot
  // keys, without raw input.
  const DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, 0xFF);
  if (result == WAIT_OBJECT_0) return WaitResult::Fired;
  if (result == WAIT_OBJECT_0 + 1) return WaitResult::MessagesWaiting;
  return WaitResult::Failed;
}

}  // namespace folivex
