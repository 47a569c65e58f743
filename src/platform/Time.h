// Clocks of the host system.
#pragma once

#include <cstdint>

namespace platform {

// Local calendar time, fields as the engine stores them (month 1-12,
// day of week 0 = Sunday).
struct LocalTime {
    std::uint16_t year = 0, month = 0, dayOfWeek = 0, day = 0;
    std::uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
};

LocalTime localTime();
// Local time of a moment given in seconds since the epoch.
LocalTime localTimeOf(std::int64_t secondsSinceEpoch);

// Monotonic performance counter and its frequency (ticks per second).
std::int64_t performanceCounter();
std::int64_t performanceFrequency();
// Replaces the performance counter by a manual one (tests drive the clocks
// with it): counter() is read instead of the host's clock, at the given
// frequency. A null counter restores the host's clock.
void setPerformanceCounterSource(std::int64_t (*counter)(), std::int64_t frequency);

void sleepMilliseconds(int milliseconds);

}  // namespace platform
