#include "platform/Time.h"

#include <atomic>
#include <ctime>
#include <sys/time.h>
#include <time.h>

namespace platform {
namespace {

LocalTime fromTm(const std::tm& tm, int milliseconds) {
    LocalTime t;
    t.year = static_cast<std::uint16_t>(tm.tm_year + 1900);
    t.month = static_cast<std::uint16_t>(tm.tm_mon + 1);
    t.dayOfWeek = static_cast<std::uint16_t>(tm.tm_wday);
    t.day = static_cast<std::uint16_t>(tm.tm_mday);
    t.hour = static_cast<std::uint16_t>(tm.tm_hour);
    t.minute = static_cast<std::uint16_t>(tm.tm_min);
    t.second = static_cast<std::uint16_t>(tm.tm_sec);
    t.milliseconds = static_cast<std::uint16_t>(milliseconds);
    return t;
}

}  // namespace

LocalTime localTime() {
    timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    time_t seconds = ts.tv_sec;
    ::localtime_r(&seconds, &tm);
    return fromTm(tm, static_cast<int>(ts.tv_nsec / 1000000));
}

LocalTime localTimeOf(std::int64_t secondsSinceEpoch) {
    std::tm tm{};
    time_t seconds = static_cast<time_t>(secondsSinceEpoch);
    ::localtime_r(&seconds, &tm);
    return fromTm(tm, 0);
}

namespace {
std::atomic<std::int64_t (*)()> counterSource{nullptr};
std::atomic<std::int64_t> counterSourceFrequency{0};
}  // namespace

std::int64_t performanceCounter() {
    if (auto* source = counterSource.load()) return source();
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

std::int64_t performanceFrequency() {
    if (counterSource.load()) return counterSourceFrequency.load();
    return 1000000000LL;
}

void setPerformanceCounterSource(std::int64_t (*counter)(), std::int64_t frequency) {
    counterSourceFrequency.store(counter && frequency > 0 ? frequency : 1);
    counterSource.store(counter);
}

void sleepMilliseconds(int milliseconds) {
    if (milliseconds < 0) milliseconds = 0;
    timespec ts{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0) {
    }
}

}  // namespace platform
