#include "download/pumping_delay.h"

#include <cmath>
#include <limits>

#include "platform/services.h"

namespace folivex {

std::int64_t PumpingDueTime(std::int32_t interval, std::int32_t unit) {
  double multiplier = 0;
  switch (unit) {
    case 0: multiplier = 1; break;
    case 1: multiplier = 1000; break;
    case 2: multiplier = 60000; break;
    case 3: multiplier = 3600000; break;
    default: multiplier = unit; break;  // the value is the unit's length in ms
  }
  const double due = static_cast<double>(interval) * multiplier * -10000.0;
  // Converting a double outside the 64-bit range is undefined: clamp first.
  constexpr double kLimit = 9.2e18;
  if (due <= -kLimit) return -static_cast<std::int64_t>(kLimit);
  if (due >= kLimit) return static_cast<std::int64_t>(kLimit);
  return static_cast<std::int64_t>(std::trunc(due));
}

bool PumpingDelay(std::optional<std::int32_t> interval, std::optional<std::int32_t> unit) {
  PumpTimer timer;
  // A timer that cannot be created or armed, or a failed wait, ends the
  // call: waiting on it would never see the timer fire.
  if (!timer.Valid() || !timer.Arm(PumpingDueTime(interval.value_or(0), unit.value_or(0)))) {
    return true;
  }
  for (;;) {
    const PumpTimer::WaitResult result = timer.Wait();
    if (result == PumpTimer::WaitResult::Fired || result == PumpTimer::WaitResult::Failed) break;
    ProcessEvents();
  }
  return true;
}

}  // namespace folivex
