#pragma once

#include <cstdint>
#include <optional>

namespace folivex {

// Waits `interval` units while the calling thread's window messages keep
// being handled. Units: 0 (or omitted) milliseconds, 1 seconds, 2 minutes,
// 3 hours; any other value is itself the length of a unit in milliseconds.
// Always returns true.
bool PumpingDelay(std::optional<std::int32_t> interval,
                  std::optional<std::int32_t> unit = std::nullopt);

// The relative due time in 100-nanosecond units (negative) for a wait of
// `interval` units. Formed in double precision, so 24 hours does not
// overflow; clamped to the 64-bit range.
std::int64_t PumpingDueTime(std::int32_t interval, std::int32_t unit);

}  // namespace folivex
