#include "render/VideoCore.h"

VideoCore::~VideoCore() { release(); }

bool VideoCore::initialize() { return true; }

void VideoCore::release() { device_ = nullptr; }
