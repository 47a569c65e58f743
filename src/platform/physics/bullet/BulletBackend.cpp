#include "platform/physics/bullet/BulletBackend.h"

#include <BulletCollision/CollisionDispatch/btGhostObject.h>
#include <btBulletDynamicsCommon.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <unordered_map>

namespace platform::physics {

namespace {

constexpr btScalar kSubStep = btScalar(1.0) / btScalar(60.0);
constexpr int kMaxSubSteps = 8;
constexpr btScalar kGravity = btScalar(-9.81);

// Actor description flag bits the backend reads.
constexpr std::uint32_t kFlagStatic = 0x001;
constexpr std::uint32_t kFlagTrigger = 0x002;
constexpr std::uint32_t kFlagSwept = 0x008;
constexpr std::uint32_t kFlagModelLink = 0x010;

// Joint kinds that load and the breakable bit.
constexpr std::uint32_t kJointFixed = 4;
constexpr std::uint32_t kJointPrismatic = 2;
constexpr std::uint32_t kJointCylindrical = 3;
constexpr std::uint32_t kJointPointOnLine = 7;
constexpr std::uint32_t kJointPointOnPlane = 6;
constexpr std::uint32_t kJointBreakableFlag = 0x80;
constexpr std::uint32_t kJointCollisionFlag = 0x100;

// Collision groups 0-6 as Bullet filter bits. Everything collides with the
// static groups; characters, NPCs and dynamic bodies with each other; the
// invisible groups collide like their visible twins (they are only never
// drawn); triggers block nothing and detect characters, NPCs and dynamics.
//   group              filter bit   collides with
//   0 Static           kStatic      characters, NPCs, dynamics
//   1 Static invisible kStatic      characters, NPCs, dynamics
//   2 Main character   kCharacter   static, characters, NPCs, dynamics
//   3 NPC              kCharacter   static, characters, NPCs, dynamics
//   4 Dynamic          kDynamic     static, characters, NPCs, dynamics
//   5 Dynamic invisible kDynamic    static, characters, NPCs, dynamics
//   6 Trigger          kTrigger     (detects) characters, NPCs, dynamics
constexpr int kStaticBit = 1 << 6;
constexpr int kCharacterBit = 1 << 7;
constexpr int kDynamicBit = 1 << 8;
constexpr int kTriggerBit = 1 << 9;
constexpr int kMovingMask = kStaticBit | kCharacterBit | kDynamicBit;

struct Filter {
    int group;
    int mask;
};

Filter filterOf(std::uint32_t group) {
    switch (group) {
        case 0:
        case 1:
            return {kStaticBit, kCharacterBit | kDynamicBit | kTriggerBit};
        case 2:
        case 3:
            return {kCharacterBit, kMovingMask | kTriggerBit};
        case 6:
            return {kTriggerBit, kCharacterBit | kDynamicBit};
        default:
            return {kDynamicBit, kMovingMask | kTriggerBit};
    }
}

// Poses are rows (row vectors, transforms composing left to right): row i
// is the image of axis i, Bullet's basis holds the axes as columns.
btTransform toTransform(const float* m) {
    btMatrix3x3 basis(m[0], m[3], m[6], m[1], m[4], m[7], m[2], m[5], m[8]);
    return btTransform(basis, btVector3(m[9], m[10], m[11]));
}

void fromTransform(const btTransform& t, float* m) {
    const btMatrix3x3& b = t.getBasis();
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) m[row * 3 + col] = static_cast<float>(b[col][row]);
    for (int i = 0; i < 3; ++i) m[9 + i] = static_cast<float>(t.getOrigin()[i]);
}

bool finite(float v) { return std::isfinite(v); }

// Surface combine modes (0 average, 1 minimum, 2 multiply, 3 maximum),
// held in each object's user indices (friction, restitution); of two
// objects the higher mode decides.
btScalar combine(int modeA, int modeB, btScalar a, btScalar b) {
    switch (std::max(modeA, modeB)) {
        case 1:
            return std::min(a, b);
        case 2:
            return a * b;
        case 3:
            return std::max(a, b);
        default:
            return (a + b) * btScalar(0.5);
    }
}

btScalar combinedFriction(const btCollisionObject* a, const btCollisionObject* b) {
    return combine(a->getUserIndex(), b->getUserIndex(), a->getFriction(), b->getFriction());
}

btScalar combinedRestitution(const btCollisionObject* a, const btCollisionObject* b) {
    return combine(a->getUserIndex2(), b->getUserIndex2(), a->getRestitution(), b->getRestitution());
}

void report(const char* format, const char* detail) { std::fprintf(stderr, format, detail); }

struct Actor;

// The rescalable shape of an actor.
class ActorShape : public Shape {
public:
    ActorShape(btCollisionShape* shape, ShapeKind kind) : shape_(shape), kind_(kind) {}
    void setDimensions(const float* size) override {
        if (kind_ != ShapeKind::Box || !size) return;
        for (int i = 0; i < 3; ++i)
            if (!finite(size[i]) || size[i] <= 0.0f) return;
        auto* box = static_cast<btBoxShape*>(shape_);
        const btVector3 half = box->getHalfExtentsWithMargin();
        box->setLocalScaling(btVector3(size[0] / half.x(), size[1] / half.y(), size[2] / half.z()) *
                             box->getLocalScaling());
    }
    void setRadius(float radius) override { scaleCapsule(radius, 0.0f); }
    void setHeight(float height) override { scaleCapsule(0.0f, height); }

private:
    void scaleCapsule(float radius, float height) {
        if (kind_ != ShapeKind::Capsule) return;
        auto* capsule = static_cast<btCapsuleShape*>(shape_);
        btVector3 scaling = capsule->getLocalScaling();
        if (radius > 0.0f && finite(radius)) {
            const btScalar now = capsule->getRadius();
            if (now > 0) scaling.setX(scaling.x() * radius / now), scaling.setZ(scaling.z() * radius / now);
        }
        if (height > 0.0f && finite(height)) {
            const btScalar now = capsule->getHalfHeight() * 2;
            if (now > 0) scaling.setY(scaling.y() * height / now);
        }
        capsule->setLocalScaling(scaling);
    }

    btCollisionShape* shape_;
    ShapeKind kind_;
};

struct Actor {
    std::unique_ptr<btCollisionShape> shape;
    std::unique_ptr<btTriangleIndexVertexArray> meshData;
    std::vector<btScalar> meshVertices;
    std::vector<int> meshIndices;
    std::unique_ptr<btCollisionObject> object;  // a btRigidBody or a ghost
    std::unique_ptr<btDefaultMotionState> motion;
    std::unique_ptr<ActorShape> rescale;
    bool rigid = false;
    bool trigger = false;
    bool kinematic = false;
    bool controller = false;
    ControllerDesc character;
    // The description's shape kind (a moving mesh keeps Mesh though it is
    // built as its hull).
    ShapeKind kind = ShapeKind::Box;
    btScalar fallSpeed = 0;
    bool onGround = false;
    bool settle = false;
    // A move this frame already found the ground under the capsule.
    bool groundFound = false;
    // A driven body: the steps handed since the last world step, and the
    // velocities they ask for during the current one.
    bool driven = false;
    bool driveFresh = false;
    bool planar = false;
    btVector3 driveStep{0, 0, 0};
    btScalar driveTurn = 0;
    btVector3 wantedVelocity{0, 0, 0};
    btScalar wantedSpin = 0;
};

struct Joint {
    std::unique_ptr<btTypedConstraint> constraint;
};

struct Trigger {
    std::unique_ptr<btBoxShape> shape;
    std::unique_ptr<btPairCachingGhostObject> ghost;
    std::uint32_t owner = 0;
    std::set<Handle> inside;
};

// The world's narrow phase works out contacts only where the solver can
// answer them: a pair of bodies neither of which moves under the solver
// (static actors, the character capsules and the actors following their
// model, all moved by hand) gets no contact response, and no one reads
// its contacts; nor does a pair with a trigger volume, whose overlaps the
// trigger pass tests itself. Without this every capsule's contacts with
// the floor, the walls and the other capsules were worked out at each
// sub-step for nothing. Sweeps and contact tests go their own way and
// still see every pair.
// Whether the solver answers contacts between two objects (see above).
bool contactsAnswered(const btCollisionObject* a, const btCollisionObject* b) {
    if (a->isStaticOrKinematicObject() && b->isStaticOrKinematicObject()) return false;
    return a->hasContactResponse() && b->hasContactResponse();
}

class ContactDispatcher : public btCollisionDispatcher {
public:
    using btCollisionDispatcher::btCollisionDispatcher;
    bool needsCollision(const btCollisionObject* a, const btCollisionObject* b) override {
        return contactsAnswered(a, b) && btCollisionDispatcher::needsCollision(a, b);
    }
};

// The same rule in the broadphase: such pairs never enter the overlapping
// pair cache (the capsules' group pairs with itself for the sweeps, which
// read the broadphase tree, not the cache). An object's kind and contact
// response are fixed when it is made, so a pair left out stays out rightly.
class ContactPairFilter : public btOverlapFilterCallback {
public:
    bool needBroadphaseCollision(btBroadphaseProxy* a, btBroadphaseProxy* b) const override {
        if (!(a->m_collisionFilterGroup & b->m_collisionFilterMask) ||
            !(b->m_collisionFilterGroup & a->m_collisionFilterMask))
            return false;
        const auto* first = static_cast<const btCollisionObject*>(a->m_clientObject);
        const auto* second = static_cast<const btCollisionObject*>(b->m_clientObject);
        return !first || !second || contactsAnswered(first, second);
    }
};

struct World {
    btDefaultCollisionConfiguration configuration;
    ContactDispatcher dispatcher{&configuration};
    btDbvtBroadphase broadphase;
    btGhostPairCallback ghostPairs;
    ContactPairFilter pairFilter;
    btSequentialImpulseConstraintSolver solver;
    std::unique_ptr<btDiscreteDynamicsWorld> dynamics;
    btScalar carried = 0;
    std::map<Handle, std::unique_ptr<Actor>> actors;
    std::map<Handle, std::unique_ptr<Joint>> joints;
    std::map<Handle, std::unique_ptr<Trigger>> triggers;
    std::unordered_map<const btCollisionObject*, Handle> handleOf;
    std::vector<TriggerEvent> events;
    Handle next = 1;

    World() {
        broadphase.getOverlappingPairCache()->setInternalGhostPairCallback(&ghostPairs);
        broadphase.getOverlappingPairCache()->setOverlapFilterCallback(&pairFilter);
        dynamics = std::make_unique<btDiscreteDynamicsWorld>(&dispatcher, &broadphase, &solver, &configuration);
        dynamics->setGravity(btVector3(0, kGravity, 0));
    }
    ~World() {
        for (auto& [handle, joint] : joints) dynamics->removeConstraint(joint->constraint.get());
        joints.clear();
        for (auto& [handle, trigger] : triggers) dynamics->removeCollisionObject(trigger->ghost.get());
        triggers.clear();
        for (auto& [handle, actor] : actors) removeObject(*actor);
        actors.clear();
        dynamics.reset();
    }
    void removeObject(Actor& actor) {
        if (actor.rigid)
            dynamics->removeRigidBody(static_cast<btRigidBody*>(actor.object.get()));
        else
            dynamics->removeCollisionObject(actor.object.get());
    }
};

// The nearest hit of a convex sweep, ignoring one object and anything the
// filter does not collide with.
// An axis-aligned box standing at its centre, to test what touches it.
struct BoxProbe {
    BoxProbe(const btVector3& half, const btVector3& center) : box(half) {
        object.setCollisionShape(&box);
        btTransform at;
        at.setIdentity();
        at.setOrigin(center);
        object.setWorldTransform(at);
    }
    btBoxShape box;
    btCollisionObject object;
};

// The last contact a probe reported: trigger volumes (ghosts) left out when
// asked, and contacts with a gap when asked. A found touch becomes a hit at
// distance 0 with no feature.
struct ProbeTouch : btCollisionWorld::ContactResultCallback {
    ProbeTouch(bool skipGhosts, bool touchingOnly) : skipGhosts(skipGhosts), touchingOnly(touchingOnly) {}
    btScalar addSingleResult(btManifoldPoint& cp, const btCollisionObjectWrapper*, int, int,
                             const btCollisionObjectWrapper* other, int, int) override {
        if (skipGhosts && other->getCollisionObject()->getInternalType() == btCollisionObject::CO_GHOST_OBJECT) return 0;
        if (touchingOnly && cp.getDistance() > 0) return 0;
        found = true;
        point = cp.getPositionWorldOnB();
        normal = cp.m_normalWorldOnB;
        return 0;
    }
    bool takeHit(QueryHit& hit) const {
        if (!found) return false;
        for (int i = 0; i < 3; ++i) {
            hit.point[i] = point[i];
            hit.normal[i] = static_cast<float>(normal[i]);
        }
        hit.distance = 0.0f;
        hit.feature = -1;
        return true;
    }
    bool skipGhosts;
    bool touchingOnly;
    bool found = false;
    btVector3 point{0, 0, 0};
    btVector3 normal{0, 1, 0};
};

struct SweepResult : btCollisionWorld::ClosestConvexResultCallback {
    SweepResult(const btCollisionObject* self, const btVector3& from, const btVector3& to, int group, int mask)
        : ClosestConvexResultCallback(from, to), self_(self) {
        m_collisionFilterGroup = group;
        m_collisionFilterMask = mask;
    }
    bool needsCollision(btBroadphaseProxy* proxy) const override {
        if (proxy->m_clientObject == self_) return false;
        return ClosestConvexResultCallback::needsCollision(proxy);
    }
    btScalar addSingleResult(btCollisionWorld::LocalConvexResult& result, bool normalInWorldSpace) override {
        if (result.m_hitCollisionObject->getInternalType() == btCollisionObject::CO_GHOST_OBJECT) return 1;
        return ClosestConvexResultCallback::addSingleResult(result, normalInWorldSpace);
    }
    const btCollisionObject* self_;
};

class BulletBackend final : public Backend {
public:
    BulletBackend() {
        gCalculateCombinedFrictionCallback = combinedFriction;
        gCalculateCombinedRestitutionCallback = combinedRestitution;
    }

    bool open() override { return true; }

    Handle createWorld() override {
        const Handle handle = nextWorld_++;
        worlds_[handle] = std::make_unique<World>();
        return handle;
    }

    void releaseWorld(Handle world) override { worlds_.erase(world); }

    void step(Handle handle, float seconds) override {
        World* world = find(handle);
        if (!world || !(seconds > 0.0f) || !finite(seconds)) return;
        world->carried += seconds;
        int steps = 0;
        while (world->carried >= kSubStep && steps < kMaxSubSteps) {
            world->carried -= kSubStep;
            ++steps;
            fallControllers(*world);
            if (steps == 1) aimDrivenBodies(*world, seconds);
            pushDrivenBodies(*world);
            world->dynamics->stepSimulation(kSubStep, 0, kSubStep);
        }
        // A long frame drops what the sub-step limit could not take.
        if (steps == kMaxSubSteps) world->carried = std::min(world->carried, kSubStep);
        if (steps) collectTriggerEvents(*world);
    }

    Handle createActor(Handle handle, const ActorDesc& desc, const float* pose) override {
        World* world = find(handle);
        if (!world || !pose || !validPose(pose)) return 0;
        auto actor = std::make_unique<Actor>();
        const bool isStatic = (desc.flags & kFlagStatic) != 0;
        if (!buildShape(desc, isStatic, *actor)) return 0;
        const btTransform transform = toTransform(pose);
        const Filter filter = (desc.flags & kFlagTrigger) ? filterOf(6)
                              : isStatic                  ? filterOf(0)
                                                          : filterOf(desc.collisionGroup);
        if (desc.flags & kFlagTrigger) {
            auto ghost = std::make_unique<btPairCachingGhostObject>();
            ghost->setCollisionShape(actor->shape.get());
            ghost->setWorldTransform(transform);
            ghost->setCollisionFlags(ghost->getCollisionFlags() | btCollisionObject::CF_NO_CONTACT_RESPONSE);
            actor->trigger = true;
            actor->object = std::move(ghost);
            world->dynamics->addCollisionObject(actor->object.get(), filter.group, filter.mask);
        } else {
            // Actors that follow their model are kinematic whatever their mass.
            const bool dynamic = !isStatic && desc.mass > 0.0f && !(desc.flags & kFlagModelLink);
            actor->kinematic = !isStatic && !dynamic;
            const btScalar mass = dynamic ? desc.mass : 0;
            btVector3 inertia(0, 0, 0);
            if (dynamic) actor->shape->calculateLocalInertia(mass, inertia);
            actor->motion = std::make_unique<btDefaultMotionState>(transform);
            btRigidBody::btRigidBodyConstructionInfo info(mass, actor->motion.get(), actor->shape.get(), inertia);
            applySurface(desc, info);
            auto body = std::make_unique<btRigidBody>(info);
            applyCombineModes(desc, *body);
            if (actor->kinematic) {
                body->setCollisionFlags(body->getCollisionFlags() | btCollisionObject::CF_KINEMATIC_OBJECT);
                body->setActivationState(DISABLE_DEACTIVATION);
            }
            if (isStatic) body->setCollisionFlags(body->getCollisionFlags() | btCollisionObject::CF_STATIC_OBJECT);
            if (dynamic && (desc.flags & kFlagSwept)) {
                btVector3 center;
                btScalar radius = 0;
                actor->shape->getBoundingSphere(center, radius);
                body->setCcdMotionThreshold(radius * btScalar(0.5));
                body->setCcdSweptSphereRadius(radius * btScalar(0.4));
            }
            actor->rigid = true;
            world->dynamics->addRigidBody(body.get(), filter.group, filter.mask);
            actor->object = std::move(body);
        }
        actor->rescale = std::make_unique<ActorShape>(actor->shape.get(), desc.kind);
        actor->kind = desc.kind;
        return add(*world, std::move(actor));
    }

    Handle createController(Handle handle, const ControllerDesc& desc, const float* pose) override {
        World* world = find(handle);
        if (!world || !pose || !validPose(pose)) return 0;
        if (!finite(desc.radius) || !finite(desc.height) || desc.radius <= 0.0f || desc.height < 0.0f) {
            report("Physics: refused a character capsule of a bad size%s\n", "");
            return 0;
        }
        auto actor = std::make_unique<Actor>();
        actor->shape = std::make_unique<btCapsuleShape>(desc.radius, desc.height);
        auto object = std::make_unique<btCollisionObject>();
        object->setCollisionShape(actor->shape.get());
        // The character stands upright whatever the model's turn.
        btTransform transform;
        transform.setIdentity();
        transform.setOrigin(btVector3(pose[9], pose[10], pose[11]));
        object->setWorldTransform(transform);
        object->setCollisionFlags(object->getCollisionFlags() | btCollisionObject::CF_KINEMATIC_OBJECT |
                                  btCollisionObject::CF_CHARACTER_OBJECT);
        object->setActivationState(DISABLE_DEACTIVATION);
        const Filter filter = filterOf(2);
        actor->object = std::move(object);
        actor->controller = true;
        actor->character = desc;
        actor->settle = true;
        world->dynamics->addCollisionObject(actor->object.get(), filter.group, filter.mask);
        actor->rescale = std::make_unique<ActorShape>(actor->shape.get(), ShapeKind::Capsule);
        actor->kind = ShapeKind::Capsule;
        return add(*world, std::move(actor));
    }

    void releaseActor(Handle handle, Handle actorHandle) override {
        World* world = find(handle);
        if (!world) return;
        auto at = world->actors.find(actorHandle);
        if (at == world->actors.end()) return;
        // Joints on the actor go with it.
        for (auto joint = world->joints.begin(); joint != world->joints.end();) {
            btTypedConstraint& c = *joint->second->constraint;
            if (&c.getRigidBodyA() == at->second->object.get() || &c.getRigidBodyB() == at->second->object.get()) {
                world->dynamics->removeConstraint(&c);
                joint = world->joints.erase(joint);
            } else {
                ++joint;
            }
        }
        for (auto& [tag, trigger] : world->triggers) trigger->inside.erase(actorHandle);
        world->handleOf.erase(at->second->object.get());
        world->removeObject(*at->second);
        world->actors.erase(at);
    }

    bool moveController(Handle handle, Handle actorHandle, const float* delta, bool& onGround) override {
        onGround = false;
        World* world = find(handle);
        Actor* actor = world ? findActor(*world, actorHandle) : nullptr;
        if (!actor || !actor->controller || !delta) return false;
        if (!finite(delta[0]) || !finite(delta[1]) || !finite(delta[2])) return false;
        if (actor->settle) {
            // The teleport step, once, lets the capsule settle where it was put.
            actor->settle = false;
            const float* t = actor->character.teleportStep;
            walk(*world, *actor, btVector3(t[0], t[1], t[2]));
        }
        const btVector3 motion(delta[0], delta[1], delta[2]);
        if (motion.length() >= actor->character.minStep) walk(*world, *actor, motion);
        onGround = actor->onGround;
        return true;
    }

    bool controllerOnGround(Handle handle, Handle actorHandle) override {
        World* world = find(handle);
        const Actor* actor = world ? findActor(*world, actorHandle) : nullptr;
        return actor && actor->controller && actor->onGround;
    }

    bool getActorPose(Handle handle, Handle actorHandle, float* pose) override {
        World* world = find(handle);
        Actor* actor = world ? findActor(*world, actorHandle) : nullptr;
        if (!actor || !pose) return false;
        fromTransform(actor->object->getWorldTransform(), pose);
        return true;
    }

    bool setActorPose(Handle handle, Handle actorHandle, const float* pose) override {
        World* world = find(handle);
        Actor* actor = world ? findActor(*world, actorHandle) : nullptr;
        if (!actor || !pose || !validPose(pose)) return false;
        btTransform transform = toTransform(pose);
        if (actor->controller) {
            btTransform upright;
            upright.setIdentity();
            upright.setOrigin(transform.getOrigin());
            transform = upright;
            actor->settle = true;
            actor->fallSpeed = 0;
        }
        actor->object->setWorldTransform(transform);
        if (actor->motion) actor->motion->setWorldTransform(transform);
        if (actor->rigid && !actor->kinematic) {
            auto* body = static_cast<btRigidBody*>(actor->object.get());
            body->setCenterOfMassTransform(transform);
            body->activate(true);
        }
        world->dynamics->updateSingleAabb(actor->object.get());
        return true;
    }

    void setActorVisible(Handle, Handle, bool) override {}

    bool driveActor(Handle handle, Handle actorHandle, const float* linearStep, const float* angularStep,
                    bool planar) override {
        World* world = find(handle);
        Actor* actor = world ? findActor(*world, actorHandle) : nullptr;
        if (!actor || !actor->rigid || actor->kinematic || !linearStep || !angularStep) return false;
        auto* body = static_cast<btRigidBody*>(actor->object.get());
        if (body->isStaticObject() || !(body->getInvMass() > 0)) return false;
        for (int i = 0; i < 3; ++i)
            if (!finite(linearStep[i]) || !finite(angularStep[i])) return false;
        if (planar != actor->planar || !actor->driven) {
            body->setLinearFactor(planar ? btVector3(1, 0, 1) : btVector3(1, 1, 1));
            body->setAngularFactor(planar ? btVector3(0, 1, 0) : btVector3(1, 1, 1));
            if (planar) {
                const btVector3 v = body->getLinearVelocity();
                body->setLinearVelocity(btVector3(v.x(), 0, v.z()));
                body->setAngularVelocity(btVector3(0, body->getAngularVelocity().y(), 0));
            }
        }
        // A driven body stays awake: the drive works on its velocities.
        body->setActivationState(DISABLE_DEACTIVATION);
        actor->driven = true;
        actor->planar = planar;
        actor->driveFresh = true;
        actor->driveStep = btVector3(linearStep[0], linearStep[1], linearStep[2]);
        actor->driveTurn = angularStep[1];
        return true;
    }

    Shape* actorShape(Handle handle, Handle actorHandle) override {
        World* world = find(handle);
        Actor* actor = world ? findActor(*world, actorHandle) : nullptr;
        return actor ? actor->rescale.get() : nullptr;
    }

    Handle createJoint(Handle handle, const JointDesc& desc, const float* pose) override {
        World* world = find(handle);
        if (!world) return 0;
        Actor* a = findActor(*world, desc.ends[0].actor);
        Actor* b = findActor(*world, desc.ends[1].actor);
        if (!a || !b || !a->rigid || !b->rigid || a == b) {
            report("Physics: refused a joint whose ends name no bodies%s\n", "");
            return 0;
        }
        for (const JointEndDesc& end : desc.ends)
            for (int i = 0; i < 3; ++i)
                if (!finite(end.anchor[i]) || !finite(end.axis[i]) || !finite(end.normal[i])) {
                    report("Physics: refused a joint with a bad anchor or axis%s\n", "");
                    return 0;
                }
        auto* bodyA = static_cast<btRigidBody*>(a->object.get());
        auto* bodyB = static_cast<btRigidBody*>(b->object.get());
        // The joint frame: at each end's anchor (in the model's space, placed
        // by its pose), its X along the first end's axis.
        btVector3 axis = jointAxis(desc);
        axis.normalize();
        btTransform frame;
        frame.setIdentity();
        btVector3 y, z;
        btPlaneSpace1(axis, y, z);
        frame.setBasis(btMatrix3x3(axis.x(), y.x(), z.x(), axis.y(), y.y(), z.y(), axis.z(), y.z(), z.z()));
        btTransform frameA = frame;
        frameA.setOrigin(btVector3(desc.ends[0].anchor[0], desc.ends[0].anchor[1], desc.ends[0].anchor[2]));
        btTransform frameB = frame;
        frameB.setOrigin(btVector3(desc.ends[1].anchor[0], desc.ends[1].anchor[1], desc.ends[1].anchor[2]));
        if (pose && validPose(pose)) {
            const btTransform model = toTransform(pose);
            frameA = model * frameA;
            frameB = model * frameB;
        }
        const btTransform inA = bodyA->getCenterOfMassTransform().inverse() * frameA;
        const btTransform inB = bodyB->getCenterOfMassTransform().inverse() * frameB;
        std::unique_ptr<btTypedConstraint> constraint;
        if (desc.kind == kJointFixed) {
            constraint = std::make_unique<btFixedConstraint>(*bodyA, *bodyB, inA, inB);
        } else if (desc.kind == kJointPrismatic || desc.kind == kJointCylindrical) {
            auto slider = std::make_unique<btSliderConstraint>(*bodyA, *bodyB, inA, inB, true);
            slider->setLowerLinLimit(1);
            slider->setUpperLinLimit(-1);
            if (desc.kind == kJointPrismatic) slider->setLowerAngLimit(0), slider->setUpperAngLimit(0);
            else slider->setLowerAngLimit(1), slider->setUpperAngLimit(-1);
            constraint = std::move(slider);
        } else if (desc.kind == kJointPointOnLine || desc.kind == kJointPointOnPlane) {
            auto generic = std::make_unique<btGeneric6DofConstraint>(*bodyA, *bodyB, inA, inB, true);
            // Free rotation; the point slides along the line (X, the axis)
            // or in the plane (Y and Z, the plane's normal being X).
            generic->setAngularLowerLimit(btVector3(1, 1, 1));
            generic->setAngularUpperLimit(btVector3(-1, -1, -1));
            if (desc.kind == kJointPointOnLine) {
                generic->setLinearLowerLimit(btVector3(1, 0, 0));
                generic->setLinearUpperLimit(btVector3(-1, 0, 0));
            } else {
                generic->setLinearLowerLimit(btVector3(0, 1, 1));
                generic->setLinearUpperLimit(btVector3(0, -1, -1));
            }
            constraint = std::move(generic);
        } else {
            report("Physics: refused a joint of a kind the backend does not build%s\n", "");
            return 0;
        }
        if (desc.flags & kJointBreakableFlag) {
            // The threshold is an impulse per sub-step.
            const float force = std::max(desc.maxForce, desc.maxTorque);
            if (finite(force) && force > 0.0f) constraint->setBreakingImpulseThreshold(force * kSubStep);
        }
        const bool collide = (desc.flags & kJointCollisionFlag) != 0;
        world->dynamics->addConstraint(constraint.get(), !collide);
        auto joint = std::make_unique<Joint>();
        joint->constraint = std::move(constraint);
        const Handle jointHandle = world->next++;
        world->joints[jointHandle] = std::move(joint);
        return jointHandle;
    }

    void releaseJoint(Handle handle, Handle jointHandle) override {
        World* world = find(handle);
        if (!world) return;
        auto at = world->joints.find(jointHandle);
        if (at == world->joints.end()) return;
        world->dynamics->removeConstraint(at->second->constraint.get());
        world->joints.erase(at);
    }

    Handle createTrigger(Handle handle, const TriggerDesc& desc) override {
        World* world = find(handle);
        if (!world || !validPose(desc.pose)) return 0;
        for (float h : desc.halfSize)
            if (!finite(h) || h <= 0.0f) {
                report("Physics: refused a trigger volume of a bad size%s\n", "");
                return 0;
            }
        auto trigger = std::make_unique<Trigger>();
        trigger->shape = std::make_unique<btBoxShape>(btVector3(desc.halfSize[0], desc.halfSize[1], desc.halfSize[2]));
        trigger->ghost = std::make_unique<btPairCachingGhostObject>();
        trigger->ghost->setCollisionShape(trigger->shape.get());
        trigger->ghost->setWorldTransform(toTransform(desc.pose));
        trigger->ghost->setCollisionFlags(trigger->ghost->getCollisionFlags() |
                                          btCollisionObject::CF_NO_CONTACT_RESPONSE);
        trigger->owner = desc.owner;
        const Filter filter = filterOf(6);
        world->dynamics->addCollisionObject(trigger->ghost.get(), filter.group, filter.mask);
        const Handle triggerHandle = world->next++;
        world->triggers[triggerHandle] = std::move(trigger);
        return triggerHandle;
    }

    void releaseTrigger(Handle handle, Handle triggerHandle) override {
        World* world = find(handle);
        if (!world) return;
        auto at = world->triggers.find(triggerHandle);
        if (at == world->triggers.end()) return;
        world->dynamics->removeCollisionObject(at->second->ghost.get());
        world->triggers.erase(at);
    }

    void updateTriggers(Handle handle) override {
        if (World* world = find(handle)) collectTriggerEvents(*world);
    }

    void takeTriggerEvents(Handle handle, std::vector<TriggerEvent>& out) override {
        out.clear();
        if (World* world = find(handle)) out.swap(world->events);
    }

    bool sweepBox(Handle handle, const double* corners, const float* position, const float* motion,
                  QueryHit& hit) override {
        World* world = find(handle);
        if (!world || !corners || !position || !motion) return false;
        btVector3 half, center;
        if (!boxOf(corners, position, half, center)) return false;
        const btVector3 move(motion[0], motion[1], motion[2]);
        if (!finite(motion[0]) || !finite(motion[1]) || !finite(motion[2])) return false;
        btBoxShape box(half);
        btTransform from, to;
        from.setIdentity();
        from.setOrigin(center);
        to.setIdentity();
        to.setOrigin(center + move);
        SweepResult result(nullptr, from.getOrigin(), to.getOrigin(), btBroadphaseProxy::AllFilter,
                           kStaticBit | kCharacterBit | kDynamicBit);
        world->dynamics->convexSweepTest(&box, from, to, result);
        if (!result.hasHit()) return false;
        const float distance = static_cast<float>(result.m_closestHitFraction * move.length());
        if (distance >= hit.distance) return false;
        for (int i = 0; i < 3; ++i) {
            hit.point[i] = result.m_hitPointWorld[i];
            hit.normal[i] = static_cast<float>(result.m_hitNormalWorld[i]);
        }
        hit.distance = distance;
        hit.feature = -1;
        return true;
    }

    bool overlapBox(Handle handle, const double* corners, const float* position, QueryHit& hit) override {
        World* world = find(handle);
        if (!world || !corners || !position) return false;
        btVector3 half, center;
        if (!boxOf(corners, position, half, center)) return false;
        BoxProbe probe(half, center);
        ProbeTouch touch(true, false);
        touch.m_collisionFilterGroup = btBroadphaseProxy::AllFilter;
        touch.m_collisionFilterMask = kStaticBit | kCharacterBit | kDynamicBit;
        world->dynamics->contactTest(&probe.object, touch);
        return hit.distance > 0.0f && touch.takeHit(hit);
    }

    bool queryActor(Handle handle, Handle actorHandle, ShapeKind kind, const double* corners, const float* position,
                    const float* motion, QueryHit& hit) override {
        World* world = find(handle);
        Actor* actor = world ? findActor(*world, actorHandle) : nullptr;
        if (!actor || actor->kind != kind || !corners || !position) return false;
        btVector3 half, center;
        if (!boxOf(corners, position, half, center)) return false;
        return motion ? sweepActor(*actor, half, center, motion, hit) : overlapActor(*world, *actor, half, center, hit);
    }

    float freeDistance(Handle handle, const float* from, const float* direction, float distance,
                       float radius) override {
        World* world = find(handle);
        if (!world || !from || !direction || !finite(distance) || distance <= 0.0f || !finite(radius) ||
            radius <= 0.0f)
            return distance;
        for (int i = 0; i < 3; ++i)
            if (!finite(from[i]) || !finite(direction[i])) return distance;
        btVector3 unit(direction[0], direction[1], direction[2]);
        if (unit.length2() < btScalar(1e-12)) return distance;
        unit.normalize();
        btSphereShape sphere(radius);
        btTransform start, end;
        start.setIdentity();
        start.setOrigin(btVector3(from[0], from[1], from[2]));
        end.setIdentity();
        end.setOrigin(start.getOrigin() + unit * distance);
        SweepResult result(nullptr, start.getOrigin(), end.getOrigin(), btBroadphaseProxy::AllFilter, kStaticBit);
        world->dynamics->convexSweepTest(&sphere, start, end, result);
        return result.hasHit() ? static_cast<float>(result.m_closestHitFraction * distance) : distance;
    }

private:
    // Driven bodies. The thrust and the drag are one force, mass x rate x
    // (wanted velocity - velocity): a constant step settles at its speed
    // with a time constant of 1 / rate. The torque about Y works the same
    // way on the spin. Rates, per second:
    static constexpr btScalar kDriveLinearRate = 2;    // 0.5 s to speed
    static constexpr btScalar kDriveAngularRate = 20;  // 0.05 s to the turn rate

    // At the first sub-step of a frame: the velocities the frame's drive
    // asks for; without a drive this frame, rest.
    static void aimDrivenBodies(World& world, float seconds) {
        for (auto& [handle, actor] : world.actors) {
            if (!actor->driven) continue;
            if (actor->driveFresh) {
                actor->wantedVelocity = actor->driveStep / btScalar(seconds);
                actor->wantedSpin = actor->driveTurn / btScalar(seconds);
            } else {
                actor->wantedVelocity.setZero();
                actor->wantedSpin = 0;
            }
            if (actor->planar) actor->wantedVelocity.setY(0);
            actor->driveFresh = false;
        }
    }

    // Before each sub-step: the drive's force and torque (Bullet clears
    // applied forces after every step).
    static void pushDrivenBodies(World& world) {
        for (auto& [handle, actor] : world.actors) {
            if (!actor->driven) continue;
            auto* body = static_cast<btRigidBody*>(actor->object.get());
            btVector3 velocity = body->getLinearVelocity();
            if (actor->planar) velocity.setY(0);
            const btScalar mass = btScalar(1) / body->getInvMass();
            body->applyCentralForce((actor->wantedVelocity - velocity) * (mass * kDriveLinearRate));
            const btScalar inverseInertia = body->getInvInertiaDiagLocal().y();
            if (inverseInertia > 0) {
                const btScalar spin = body->getAngularVelocity().y();
                body->applyTorque(btVector3(0, (actor->wantedSpin - spin) * kDriveAngularRate / inverseInertia, 0));
            }
        }
    }

    World* find(Handle handle) {
        auto at = worlds_.find(handle);
        return at == worlds_.end() ? nullptr : at->second.get();
    }

    static Actor* findActor(World& world, Handle handle) {
        auto at = world.actors.find(handle);
        return at == world.actors.end() ? nullptr : at->second.get();
    }

    static Handle add(World& world, std::unique_ptr<Actor> actor) {
        const Handle handle = world.next++;
        world.handleOf[actor->object.get()] = handle;
        world.actors[handle] = std::move(actor);
        return handle;
    }

    static bool validPose(const float* pose) {
        for (int i = 0; i < 12; ++i)
            if (!finite(pose[i])) {
                report("Physics: refused a pose that is not a number%s\n", "");
                return false;
            }
        return true;
    }

    static bool boxOf(const double* corners, const float* position, btVector3& half, btVector3& center) {
        for (int i = 0; i < 6; ++i)
            if (!std::isfinite(corners[i])) return false;
        for (int i = 0; i < 3; ++i)
            if (!finite(position[i])) return false;
        half = btVector3(std::abs(corners[3] - corners[0]), std::abs(corners[4] - corners[1]),
                         std::abs(corners[5] - corners[2])) *
               btScalar(0.5);
        for (int i = 0; i < 3; ++i) half[i] = std::max(half[i], btScalar(1e-3));
        center = btVector3((corners[0] + corners[3]) * 0.5 + position[0], (corners[1] + corners[4]) * 0.5 + position[1],
                           (corners[2] + corners[5]) * 0.5 + position[2]);
        return true;
    }

    // The actor's shape from its description; false (said) when Bullet
    // cannot take it.
    static bool buildShape(const ActorDesc& desc, bool isStatic, Actor& actor) {
        btVector3 scale(desc.scale[0], desc.scale[1], desc.scale[2]);
        for (int i = 0; i < 3; ++i)
            if (!finite(desc.scale[i]) || desc.scale[i] <= 0.0f) scale[i] = 1;
        switch (desc.kind) {
            case ShapeKind::Box: {
                for (float s : desc.size)
                    if (!finite(s) || s <= 0.0f) {
                        report("Physics: refused a box of a bad size%s\n", "");
                        return false;
                    }
                actor.shape = std::make_unique<btBoxShape>(btVector3(desc.size[0], desc.size[1], desc.size[2]) * scale);
                return true;
            }
            case ShapeKind::Capsule: {
                if (!finite(desc.radius) || !finite(desc.height) || desc.radius <= 0.0f || desc.height < 0.0f) {
                    report("Physics: refused a capsule of a bad size%s\n", "");
                    return false;
                }
                actor.shape = std::make_unique<btCapsuleShape>(desc.radius * std::min(scale.x(), scale.z()),
                                                               desc.height * scale.y());
                return true;
            }
            case ShapeKind::Sphere: {
                if (!finite(desc.radius) || desc.radius <= 0.0f) {
                    report("Physics: refused a sphere of a bad size%s\n", "");
                    return false;
                }
                actor.shape = std::make_unique<btSphereShape>(desc.radius * scale.x());
                return true;
            }
            case ShapeKind::Convex:
            case ShapeKind::Mesh: {
                if (!desc.vertices || desc.vertexCount < 3) {
                    report("Physics: refused a hull or mesh without vertices%s\n", "");
                    return false;
                }
                for (std::uint32_t i = 0; i < desc.vertexCount * 3; ++i)
                    if (!finite(desc.vertices[i])) {
                        report("Physics: refused a hull or mesh with a vertex that is not a number%s\n", "");
                        return false;
                    }
                if (desc.kind == ShapeKind::Mesh && isStatic) return buildMesh(desc, scale, actor);
                static bool hullSaid = false;
                if (desc.kind == ShapeKind::Mesh && !hullSaid) {
                    hullSaid = true;
                    report("Physics: a moving mesh takes its convex hull%s\n", "");
                }
                auto hull = std::make_unique<btConvexHullShape>();
                for (std::uint32_t i = 0; i < desc.vertexCount; ++i) {
                    const float* v = desc.vertices + i * 3;
                    hull->addPoint(btVector3(v[0], v[1], v[2]) * scale, false);
                }
                // The hull's margin lies outside its points: kept thin so
                // that it stands where its vertices say.
                hull->setMargin(btScalar(0.01));
                hull->recalcLocalAabb();
                actor.shape = std::move(hull);
                return true;
            }
            default:
                report("Physics: refused an actor of a kind the backend does not build%s\n", "");
                return false;
        }
    }

    static bool buildMesh(const ActorDesc& desc, const btVector3& scale, Actor& actor) {
        if (!desc.triangles || desc.triangleCount == 0) {
            report("Physics: refused a mesh without triangles%s\n", "");
            return false;
        }
        actor.meshVertices.reserve(desc.vertexCount * 3);
        for (std::uint32_t i = 0; i < desc.vertexCount; ++i)
            for (int k = 0; k < 3; ++k) actor.meshVertices.push_back(desc.vertices[i * 3 + k] * scale[k]);
        // Each triangle holds three vertex indices, a material and flags.
        for (std::uint32_t t = 0; t < desc.triangleCount; ++t) {
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t index = desc.triangles[t * 5 + k];
                if (index >= desc.vertexCount) {
                    report("Physics: refused a mesh whose triangle names a vertex past its vertices%s\n", "");
                    return false;
                }
                actor.meshIndices.push_back(static_cast<int>(index));
            }
        }
        actor.meshData = std::make_unique<btTriangleIndexVertexArray>(
            static_cast<int>(desc.triangleCount), actor.meshIndices.data(), 3 * sizeof(int),
            static_cast<int>(desc.vertexCount), actor.meshVertices.data(), 3 * sizeof(btScalar));
        actor.shape = std::make_unique<btBvhTriangleMeshShape>(actor.meshData.get(), true);
        return true;
    }

    static void applySurface(const ActorDesc& desc, btRigidBody::btRigidBodyConstructionInfo& info) {
        if (desc.surfaces.empty()) return;
        const SurfaceDesc& s = desc.surfaces.front();
        if (finite(s.dynamicFriction) && s.dynamicFriction >= 0.0f) info.m_friction = s.dynamicFriction;
        if (finite(s.restitution) && s.restitution >= 0.0f) info.m_restitution = s.restitution;
    }

    // The joint frame's X: the plane's normal for a point on a plane (its
    // axis when the normal is missing), else the first end's axis; X when
    // neither is given.
    static btVector3 jointAxis(const JointDesc& desc) {
        const JointEndDesc& end = desc.ends[0];
        btVector3 axis(end.axis[0], end.axis[1], end.axis[2]);
        const btVector3 normal(end.normal[0], end.normal[1], end.normal[2]);
        if (desc.kind == kJointPointOnPlane && normal.length2() >= btScalar(1e-12)) axis = normal;
        if (axis.length2() < btScalar(1e-12)) axis = btVector3(1, 0, 0);
        return axis;
    }

    // A box swept from a centre along a motion against one actor alone.
    static bool sweepActor(Actor& actor, const btVector3& half, const btVector3& center, const float* motion,
                           QueryHit& hit) {
        if (!finite(motion[0]) || !finite(motion[1]) || !finite(motion[2])) return false;
        const btVector3 move(motion[0], motion[1], motion[2]);
        btBoxShape box(half);
        btTransform from, to;
        from.setIdentity();
        from.setOrigin(center);
        to.setIdentity();
        to.setOrigin(center + move);
        btCollisionWorld::ClosestConvexResultCallback result(from.getOrigin(), to.getOrigin());
        btCollisionObject* object = actor.object.get();
        btCollisionWorld::objectQuerySingle(&box, from, to, object, object->getCollisionShape(),
                                            object->getWorldTransform(), result, 0);
        if (!result.hasHit()) return false;
        const float distance = static_cast<float>(result.m_closestHitFraction * move.length());
        if (distance >= hit.distance) return false;
        for (int i = 0; i < 3; ++i) {
            hit.point[i] = result.m_hitPointWorld[i];
            hit.normal[i] = static_cast<float>(result.m_hitNormalWorld[i]);
        }
        hit.distance = distance;
        hit.feature = -1;
        return true;
    }

    // A box where it stands against one actor alone: a touch is a hit at
    // distance 0.
    static bool overlapActor(World& world, Actor& actor, const btVector3& half, const btVector3& center,
                             QueryHit& hit) {
        if (hit.distance <= 0.0f) return false;
        BoxProbe probe(half, center);
        ProbeTouch touch(false, true);
        world.dynamics->contactPairTest(&probe.object, actor.object.get(), touch);
        return touch.takeHit(hit);
    }

    // The surface's combine modes go into the body's user indices (read by
    // the combined friction and restitution callbacks); an anisotropic
    // surface scales its friction along its direction (in the body's own
    // axes) by the ratio of its directional friction to its friction.
    static void applyCombineModes(const ActorDesc& desc, btRigidBody& body) {
        body.setUserIndex(0);
        body.setUserIndex2(0);
        if (desc.surfaces.empty()) return;
        const SurfaceDesc& surface = desc.surfaces.front();
        body.setUserIndex(static_cast<int>(std::min<std::uint32_t>(surface.frictionCombine, 3)));
        body.setUserIndex2(static_cast<int>(std::min<std::uint32_t>(surface.restitutionCombine, 3)));
        if (!(surface.flags & 0x1)) return;
        btVector3 direction(surface.anisotropy[0], surface.anisotropy[1], surface.anisotropy[2]);
        const float along = surface.dynamicFrictionV;
        const float across = surface.dynamicFriction;
        if (!finite(direction.x()) || !finite(direction.y()) || !finite(direction.z()) || !finite(along) ||
            !finite(across) || along < 0.0f || across <= 0.0f || direction.length2() < btScalar(1e-12))
            return;
        direction.normalize();
        const btScalar ratio = along / across;
        btVector3 scaling;
        for (int i = 0; i < 3; ++i) scaling[i] = 1 + (ratio - 1) * std::abs(direction[i]);
        body.setAnisotropicFriction(scaling);
    }

    // Sweeps the capsule from where it stands along a motion; the part of
    // the motion it can make, the hit normal when stopped.
    static btScalar sweep(World& world, Actor& actor, const btVector3& motion, btVector3* normal,
                          btVector3* point = nullptr) {
        const btScalar length = motion.length();
        if (length < btScalar(1e-7)) return 0;
        auto* shape = static_cast<btConvexShape*>(actor.shape.get());
        btTransform from = actor.object->getWorldTransform();
        btTransform to = from;
        to.setOrigin(from.getOrigin() + motion);
        const Filter filter = filterOf(2);
        SweepResult result(actor.object.get(), from.getOrigin(), to.getOrigin(), filter.group,
                           kStaticBit | kCharacterBit | kDynamicBit);
        world.dynamics->convexSweepTest(shape, from, to, result, 0);
        if (!result.hasHit()) return length;
        if (normal) *normal = result.m_hitNormalWorld;
        if (point) *point = result.m_hitPointWorld;
        const btScalar skin = actor.character.skinWidth;
        return std::max(btScalar(0), result.m_closestHitFraction * length - skin);
    }

    static void translate(Actor& actor, const btVector3& by) {
        btTransform t = actor.object->getWorldTransform();
        t.setOrigin(t.getOrigin() + by);
        actor.object->setWorldTransform(t);
    }

    // Moves the capsule along a horizontal motion, sliding along what it
    // meets. Walkable slopes are climbed (their push keeps its rise),
    // steeper ones and walls are not; flat: every face met only stops its
    // own direction.
    static void slide(World& world, Actor& actor, btVector3 motion, bool flat = false) {
        for (int pass = 0; pass < 4 && motion.length2() > btScalar(1e-12); ++pass) {
            btVector3 normal(0, 0, 0);
            const btScalar length = motion.length();
            const btScalar made = sweep(world, actor, motion, &normal);
            translate(actor, motion * (made / length));
            if (made >= length) break;
            btVector3 rest = motion * ((length - made) / length);
            if (flat || normal.y() < actor.character.slopeCosine) normal.setY(0);
            if (normal.length2() < btScalar(1e-12)) break;
            normal.normalize();
            rest -= normal * rest.dot(normal);
            rest.setY(0);
            motion = rest;
        }
    }

    // One controller move: up by the step height, across, then down to the
    // ground (the step height plus any downward motion).
    static void walk(World& world, Actor& actor, const btVector3& motion) {
        const btScalar stepHeight = std::max(btScalar(0), btScalar(actor.character.stepHeight));
        const btVector3 start = actor.object->getWorldTransform().getOrigin();
        const btVector3 across(motion.x(), 0, motion.z());
        btScalar raised = 0;
        if (across.length2() > 0 && stepHeight > 0) {
            raised = sweep(world, actor, btVector3(0, stepHeight, 0), nullptr);
            translate(actor, btVector3(0, raised, 0));
        }
        slide(world, actor, across);
        if (motion.y() > 0) translate(actor, btVector3(0, sweep(world, actor, btVector3(0, motion.y(), 0), nullptr), 0));
        const btScalar down = raised + std::max(btScalar(0), -motion.y()) + actor.character.skinWidth * 2;
        btVector3 normal(0, 1, 0);
        btVector3 point(0, 0, 0);
        const btScalar made = sweep(world, actor, btVector3(0, -down, 0), &normal, &point);
        if (made < down) {
            // The capsule's lowest point where it started: what it lands on
            // must be no higher above it than the step height.
            auto* capsule = static_cast<btCapsuleShape*>(actor.shape.get());
            const btScalar foot = start.y() - capsule->getHalfHeight() - capsule->getRadius();
            const bool tooHigh = point.y() - foot > stepHeight + btScalar(1e-3);
            if ((normal.y() < actor.character.slopeCosine || tooHigh) && across.length2() > 0) {
                // Landed on a face too steep or too high: the move is not
                // made up it.
                btTransform t = actor.object->getWorldTransform();
                t.setOrigin(start);
                actor.object->setWorldTransform(t);
                slide(world, actor, across, true);
                world.dynamics->updateSingleAabb(actor.object.get());
                return;
            }
            translate(actor, btVector3(0, -made, 0));
            actor.onGround = normal.y() >= actor.character.slopeCosine;
            actor.groundFound = actor.onGround;
            if (actor.onGround) actor.fallSpeed = 0;
        } else {
            translate(actor, btVector3(0, -std::min(down, raised + std::max(btScalar(0), -motion.y())), 0));
            actor.onGround = false;
        }
        world.dynamics->updateSingleAabb(actor.object.get());
    }

    // Gravity on the character capsules not standing on the ground.
    static void fallControllers(World& world) {
        for (auto& [handle, actor] : world.actors) {
            if (!actor->controller) continue;
            if (actor->groundFound) {
                actor->groundFound = false;
                continue;
            }
            if (actor->onGround) {
                // Still on something? A short probe below says.
                btVector3 normal(0, 1, 0);
                const btScalar probe = actor->character.skinWidth * 2 + btScalar(0.01);
                if (sweep(world, *actor, btVector3(0, -probe, 0), &normal) < probe &&
                    normal.y() >= actor->character.slopeCosine)
                    continue;
                actor->onGround = false;
            }
            actor->fallSpeed -= kGravity * kSubStep;
            const btScalar drop = actor->fallSpeed * kSubStep;
            btVector3 normal(0, 1, 0);
            const btScalar made = sweep(world, *actor, btVector3(0, -drop, 0), &normal);
            translate(*actor, btVector3(0, -made, 0));
            if (made < drop) {
                actor->onGround = normal.y() >= actor->character.slopeCosine;
                actor->fallSpeed = 0;
            }
            world.dynamics->updateSingleAabb(actor->object.get());
        }
    }

    // Compares what each trigger volume overlaps now with before and queues
    // the enter and leave events. Static actors never count.
    static void collectTriggerEvents(World& world) {
        for (auto& [handle, trigger] : world.triggers) {
            std::set<Handle> now;
            struct Overlaps : btCollisionWorld::ContactResultCallback {
                World* world;
                std::set<Handle>* found;
                btScalar addSingleResult(btManifoldPoint& cp, const btCollisionObjectWrapper* a, int, int,
                                         const btCollisionObjectWrapper* b, int, int) override {
                    if (cp.getDistance() > 0) return 0;
                    // The filter keeps static actors out of the test.
                    for (const btCollisionObjectWrapper* w : {a, b}) {
                        const btCollisionObject* object = w->getCollisionObject();
                        auto at = world->handleOf.find(object);
                        if (at != world->handleOf.end()) found->insert(at->second);
                    }
                    return 0;
                }
            } overlaps;
            overlaps.world = &world;
            overlaps.found = &now;
            overlaps.m_collisionFilterGroup = kTriggerBit;
            overlaps.m_collisionFilterMask = kCharacterBit | kDynamicBit;
            world.dynamics->contactTest(trigger->ghost.get(), overlaps);
            for (Handle actor : now)
                if (!trigger->inside.count(actor)) world.events.push_back({trigger->owner, actor, true});
            for (Handle actor : trigger->inside)
                if (!now.count(actor)) world.events.push_back({trigger->owner, actor, false});
            trigger->inside = std::move(now);
        }
    }

    std::map<Handle, std::unique_ptr<World>> worlds_;
    Handle nextWorld_ = 1;
};

}  // namespace

std::unique_ptr<Backend> createBulletBackend() { return std::make_unique<BulletBackend>(); }

}  // namespace platform::physics
