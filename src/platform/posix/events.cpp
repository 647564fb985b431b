// Without a window system there are no messages to handle: ProcessEvents
// returns at once and the pump timer is a plain monotonic wait.
#include <chrono>
#include <limits>
#include <thread>

#include "platform/services.h"

namespace folivex {
namespace {

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void ProcessEvents() {}

PumpTimer::PumpTimer() : handle_(this) {}

PumpTimer::~PumpTimer() = default;

bool PumpTimer::Valid() const { return handle_ != nullptr; }

bool PumpTimer::Arm(std::int64_t due_time_100ns) {
  // Zero or above names an absolute moment, which is always in the past
  // here; negative is relative to now.
  // Capped so that now + wait cannot overflow (the cap is about 1400 years).
  constexpr std::int64_t kMaxTicks = std::numeric_limits<std::int64_t>::max() / 400;
  std::int64_t wait_ns = 0;
  if (due_time_100ns < 0) {
    wait_ns = (due_time_100ns < -kMaxTicks ? kMaxTicks : -due_time_100ns) * 100;
  }
  deadline_ns_ = NowNs() + wait_ns;
  return true;
}

PumpTimer::WaitResult PumpTimer::Wait() {
  const std::int64_t left = deadline_ns_ - NowNs();
  if (left > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(left));
  return WaitResult::Fired;
}

}  // namespace folivex
