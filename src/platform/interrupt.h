// The user's wish to stop a command-line program: Ctrl-C (SIGINT), SIGTERM,
// and the console's Ctrl-C and Ctrl-Break on Windows.
#pragma once

#include <functional>
#include <memory>

namespace folivex {

// While it lives, the first interrupt runs `first` on a thread of the
// watch's own, so the program can wind down in order; any further one ends
// the process at once with the usual status for the signal (130 for
// Ctrl-C). One watch at a time in a process; the old handling is back once
// it is gone.
class InterruptWatch {
 public:
  explicit InterruptWatch(std::function<void()> first);
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // 0 before any interrupt; then the status a program that stops for it
  // exits with: 128 + the signal's number.
  int ExitStatus() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace folivex
