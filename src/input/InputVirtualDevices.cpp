#include "input/InputVirtualDevices.h"

#include <algorithm>

void InputVirtualPointer::move(float mx, float my) {
    if (!enabled) return;
    x = static_cast<float>(static_cast<double>(x) + static_cast<double>(mx) * sensitivity[0]);
    y = static_cast<float>(static_cast<double>(y) + static_cast<double>(my) * sensitivity[1]);
    clamp();
}

void InputVirtualPointer::clamp() {
    x = std::clamp(x, minX, std::max(minX, maxX));
    y = std::clamp(y, minY, std::max(minY, maxY));
}

void InputMotionAccumulator::addMotion(float x, float y) {
    if (!enabled) return;
    dx += x;
    dy += y;
}

void InputMotionAccumulator::addWheel(float v) {
    if (enabled) wheel += v;
}
