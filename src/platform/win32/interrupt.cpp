#include "platform/interrupt.h"

#include <windows.h>

#include <atomic>
#include <thread>

namespace folivex {
namespace {

// Ctrl-C's status, as a shell reports a program ended by SIGINT.
constexpr int kInterruptedStatus = 130;

std::atomic<int> interrupts{0};
std::atomic<HANDLE> wake_event{nullptr};

// Runs on a thread the console starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (interrupts.fetch_add(1) > 0) TerminateProcess(GetCurrentProcess(), kInterruptedStatus);
  SetEvent(wake_event);
  return TRUE;
}

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

}  // namespace

struct InterruptWatch::State {
  OwnedHandle interrupted{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  OwnedHandle quit{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::thread watcher;
  bool installed = false;
};

InterruptWatch::InterruptWatch(std::function<void()> first) : state_(std::make_unique<State>()) {
  interrupts = 0;
  if (!state_->interrupted || !state_->quit) return;
  wake_event = state_->interrupted.get();
  const HANDLE events[2] = {state_->quit.get(), state_->interrupted.get()};
  state_->watcher = std::thread([events, first = std::move(first)] {
    while (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
      if (first) first();
    }
  });
  state_->installed = SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

InterruptWatch::~InterruptWatch() {
  if (state_->installed) SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  if (state_->watcher.joinable()) {
    SetEvent(state_->quit.get());
    state_->watcher.join();
  }
  wake_event = nullptr;
}

int InterruptWatch::ExitStatus() const { return interrupts > 0 ? kInterruptedStatus : 0; }

}  // namespace folivex
