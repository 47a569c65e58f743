#include "platform/physics/PhysicsBackend.h"

namespace platform::physics {

namespace {

NullBackend nullBackend;
Backend* installed = nullptr;

}  // namespace

Backend& backend() { return installed ? *installed : nullBackend; }

Backend* installBackend(Backend* next) {
    Backend* previous = installed;
    installed = next;
    return previous;
}

}  // namespace platform::physics
