#include "platform/interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

namespace folivex {
namespace {

// What the handler may touch: atomics and a pipe, nothing that locks.
std::atomic<int> interrupts{0};
std::atomic<int> first_signal{0};
std::atomic<int> wake_fd{-1};

constexpr char kInterrupted = 'i';
constexpr char kQuit = 'q';

void OnSignal(int signal_number) {
  if (interrupts.fetch_add(1) > 0) ::_exit(128 + signal_number);
  first_signal = signal_number;
  const int saved_errno = errno;
  const char byte = kInterrupted;
  [[maybe_unused]] const ssize_t ignored = ::write(wake_fd, &byte, 1);
  errno = saved_errno;
}

constexpr int kSignals[] = {SIGINT, SIGTERM};

}  // namespace

struct InterruptWatch::State {
  int pipe_fds[2] = {-1, -1};
  struct sigaction old_actions[std::size(kSignals)] = {};
  std::thread watcher;
};

InterruptWatch::InterruptWatch(std::function<void()> first) : state_(std::make_unique<State>()) {
  interrupts = 0;
  first_signal = 0;
  if (::pipe2(state_->pipe_fds, O_CLOEXEC) != 0) return;  // no watch: signals act as before
  wake_fd = state_->pipe_fds[1];
  const int read_fd = state_->pipe_fds[0];
  state_->watcher = std::thread([read_fd, first = std::move(first)] {
    for (;;) {
      char byte = 0;
      const ssize_t got = ::read(read_fd, &byte, 1);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0 || byte == kQuit) return;
      if (first) first();
    }
  });
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    ::sigaction(kSignals[i], &action, &state_->old_actions[i]);
  }
}

InterruptWatch::~InterruptWatch() {
  if (state_->pipe_fds[0] < 0) return;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    ::sigaction(kSignals[i], &state_->old_actions[i], nullptr);
  }
  const char byte = kQuit;
  while (::write(state_->pipe_fds[1], &byte, 1) < 0 && errno == EINTR) {
  }
  state_->watcher.join();
  wake_fd = -1;
  ::close(state_->pipe_fds[0]);
  ::close(state_->pipe_fds[1]);
}

int InterruptWatch::ExitStatus() const {
  const int signal_number = first_signal;
  return signal_number ? 128 + signal_number : 0;
}

}  // namespace folivex
