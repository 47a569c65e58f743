#include "render/RenderCore.h"

#include "ui/StillFrameData.h"

// No render backend is built in yet: the core starts, has no device, and
// every pass draws nothing.

RenderCore::RenderCore() : stillFrames_(std::make_unique<StillFrameRenderer>()) {}

RenderCore::~RenderCore() { release(); }

void RenderCore::readConfig() {}

bool RenderCore::initialize() { return true; }

bool RenderCore::allocate_device() { return true; }

void RenderCore::renderSplash() {}

void RenderCore::mainLoop() {}

void RenderCore::updateResources() {}

void RenderCore::releaseDeviceData() {}

void RenderCore::release() { releaseDeviceData(); }
