#include "foundation/Time.h"

#include <cstdio>
#include <cstring>

std::string formatTimeStamp(const platform::LocalTime& t) {
    char text[128];
    std::snprintf(text, sizeof(text), "%04i-%02i-%02i %02i-%02i-%02i", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

void makeTimeStamp(char* buffer, std::size_t size) {
    if (!buffer || size == 0) return;
    const std::string text = formatTimeStamp(platform::localTime());
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
}
