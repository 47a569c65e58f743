#include "input/InputVirtualDevices.h"

#include "foundation/DataStream.h"

void InputVirtualPointer::move(float mx, float my) {
    if (!enabled) return;
    const double speedX = sensitivity ? sensitivity[0] : 1.0;
    const double speedY = sensitivity ? sensitivity[1] : 1.0;
    x = static_cast<float>(static_cast<double>(x) + static_cast<double>(mx) * speedX);
    y = static_cast<float>(static_cast<double>(y) + static_cast<double>(my) * speedY);
    clamp();
}

void InputVirtualPointer::clamp() {
    if (x < minX) x = minX;
    if (y < minY) y = minY;
    if (x > maxX) x = maxX;
    if (y > maxY) y = maxY;
}

void InputVirtualPointer::setLimit(float newMinX, float newMinY, float newMaxX, float newMaxY) {
    minX = newMinX < 0.0f ? x : newMinX;
    minY = newMinY < 0.0f ? y : newMinY;
    maxX = newMaxX < 0.0f ? x : newMaxX;
    maxY = newMaxY < 0.0f ? y : newMaxY;
    clamp();
}

void InputVirtualPointer::set(float newX, float newY) {
    x = newX;
    y = newY;
    clamp();
}

void InputMotionAccumulator::addMotion(float x, float y) {
    if (!enabled) return;
    const float speedX = setup ? setup->lookSpeed[0] : 1.0f;
    const float speedY = setup ? setup->lookSpeed[1] : 1.0f;
    const float sign = setup && setup->invertLook ? -1.0f : 1.0f;
    dx += x * speedX;
    dy += y * speedY * sign;
}

void InputMotionAccumulator::addWheel(float v) {
    if (enabled) wheel += v * (setup ? setup->wheelFactor : 1.0f);
}

InputVirtualDevices::InputVirtualDevices() {
    pointer.sensitivity = setup.cursorSpeed;
    pointer.setLimit(0.0f, 0.0f, 1024.0f, 768.0f);
    motion.setup = &setup;
    virtualButton.setup = &setup;
}

std::int32_t InputVirtualDevices::write(DataStream& s) const {
    std::int32_t total = 0;
    if (!addField(total, writeU8(s, pointer.enabled ? 1 : 0))) return total;
    for (float v : {pointer.x, pointer.y, pointer.minX, pointer.minY, pointer.maxX, pointer.maxY})
        if (!addField(total, writeF32(s, v))) return total;
    if (!addField(total, writeU8(s, motion.enabled ? 1 : 0))) return total;
    for (float v : {motion.dx, motion.dy, motion.wheel})
        if (!addField(total, writeF32(s, v))) return total;
    addField(total, virtualButton.write(s));
    return total;
}

std::int32_t InputVirtualDevices::read(DataStream& s) {
    std::int32_t total = 0;
    std::uint8_t flag = 0;
    if (!addField(total, readU8(s, flag))) return total;
    pointer.enabled = flag != 0;
    for (float* v : {&pointer.x, &pointer.y, &pointer.minX, &pointer.minY, &pointer.maxX, &pointer.maxY})
        if (!addField(total, readF32(s, *v))) return total;
    if (!addField(total, readU8(s, flag))) return total;
    motion.enabled = flag != 0;
    for (float* v : {&motion.dx, &motion.dy, &motion.wheel})
        if (!addField(total, readF32(s, *v))) return total;
    if (!addField(total, virtualButton.read(s))) return total;
    motion.clear();
    virtualButton.clearValues();
    return total;
}
