#include "render/RenderCore.h"

// No render backend is built in yet: the core starts, has no device, and
// every pass draws nothing.

RenderCore::~RenderCore() { release(); }

void RenderCore::readConfig() {}

bool RenderCore::initialize() { return true; }

bool RenderCore::allocate_device() { return true; }

void RenderCore::renderSplash() {}

void RenderCore::mainLoop() {}

void RenderCore::updateResources() {}

void RenderCore::releaseDeviceData() {}

void RenderCore::release() { releaseDeviceData(); }
