// Clocks and time stamps of the engine.
#pragma once

#include <cstddef>
#include <string>

#include "platform/Time.h"

// "%04i-%02i-%02i %02i-%02i-%02i" of a local time (year, month, day, hour,
// minute, second).
std::string formatTimeStamp(const platform::LocalTime& time);
// The current local time stamp, copied into buffer (at most size - 1
// characters and a terminator).
void makeTimeStamp(char* buffer, std::size_t size);
