#include "input/InputCore.h"

InputCore::~InputCore() { release(); }

bool InputCore::Initialize() { return true; }

void InputCore::release() {}

void InputCore::update(const CurrentTime&) {}

void InputCore::updateStateMode() {}

void InputCore::reset(const CurrentTime&) {}

void InputCore::resetView(const CurrentTime&) {}

void InputCore::flushDevices(const CurrentTime&) {}

std::int32_t InputCore::write(DataStream&) { return 0; }

std::int32_t InputCore::read(DataStream&) { return 0; }
