// The physics backend over the Bullet rigid-body library: one dynamics
// world per physics scene, stepped in fixed sub-steps of 1/60 s; static,
// dynamic and kinematic actors from their descriptions; the character
// controller as a kinematic capsule moved by sweeps (slides along walls,
// climbs steps up to its step height, falls under gravity); ghost boxes
// for trigger volumes; box sweeps and overlaps.
//
// Only this folder sees Bullet's headers: the rest of the engine talks to
// the backend interface.
#pragma once

#include <memory>

#include "platform/physics/PhysicsBackend.h"

namespace platform::physics {

// A new Bullet backend; the caller installs it and keeps it alive while
// installed.
std::unique_ptr<Backend> createBulletBackend();

}  // namespace platform::physics
