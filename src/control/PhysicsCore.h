// The physics core. The system carries no physics simulation: the core
// exists so that physics objects have an owner, and does nothing.
#pragma once

class PhysicsCore {
public:
    PhysicsCore() = default;
    PhysicsCore(const PhysicsCore&) = delete;
    PhysicsCore& operator=(const PhysicsCore&) = delete;
};
