// The physics frame of N characters (1, 50, 200) walking among walls,
// paired (bench/PairedRun.h) with the same frame written with bare Bullet
// calls. The project side goes through the physics backend as the physics
// scene drives it: each capsule's move handed over (moveController: a lift
// by the step height, a sliding sweep across, a sweep down to the ground),
// the world's step in a 1/60 s sub-step, and each capsule's pose read back
// into a 3x4 matrix. The baseline holds the same floor, the same walls, the
// same capsules and the same walk directions in a world of its own and
// makes the same character move with bare Bullet calls (the same sweeps:
// lift, slide, down, and the ground probe of each step), steps the world
// and reads the pose, so the ratio is what the backend's handles, checks
// and records cost over the same work. The counters give both times per
// frame and their ratio; the check asserts that both sides moved every
// character the same distance (to 5 cm) over the first frames.
#include <benchmark/benchmark.h>
#include <btBulletDynamicsCommon.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "PairedRun.h"
#include "platform/physics/bullet/BulletBackend.h"

namespace {

namespace ph = platform::physics;

constexpr float kFrame = 1.0f / 60.0f;
constexpr float kRadius = 0.3f;
constexpr float kHeight = 1.8f;
constexpr float kSpeed = 1.5f;  // metres a second
constexpr float kSpacing = 3.0f;

struct Layout {
    std::vector<btVector3> starts;
    std::vector<btVector3> directions;
    std::vector<btVector3> walls;  // centres of 0.2 x 2 x 1 m walls
};

// Characters on a square grid, each walking its own direction toward a
// wall 1.5 m away on every fourth one.
Layout layout(int count) {
    Layout out;
    const int side = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
    for (int i = 0; i < count; ++i) {
        const float x = static_cast<float>(i % side) * kSpacing;
        const float z = static_cast<float>(i / side) * kSpacing;
        const float angle = static_cast<float>(i) * 0.7f;
        out.starts.emplace_back(x, kHeight / 2 + kRadius + 0.05f, z);
        out.directions.emplace_back(std::cos(angle), 0, std::sin(angle));
        if (i % 4 == 0) out.walls.push_back(out.starts.back() + out.directions.back() * 1.5f + btVector3(0, 0.0f, 0));
    }
    return out;
}

std::vector<float> placed(const btVector3& at) { return {1, 0, 0, 0, 1, 0, 0, 0, 1, at.x(), at.y(), at.z()}; }

// The project side: the backend as the physics scene drives it.
struct EngineSide {
    std::unique_ptr<ph::Backend> backend = ph::createBulletBackend();
    ph::Handle world = backend->createWorld();
    std::vector<ph::Handle> characters;
    std::vector<btVector3> directions;
    std::vector<float> poses;

    explicit EngineSide(const Layout& l) : directions(l.directions) {
        ph::ActorDesc floor;
        floor.flags = 0x1;
        floor.collisionGroup = 0;
        floor.size[0] = floor.size[2] = 500;
        floor.size[1] = 0.5f;
        backend->createActor(world, floor, placed(btVector3(0, -0.5f, 0)).data());
        for (const btVector3& at : l.walls) {
            ph::ActorDesc wall;
            wall.flags = 0x1;
            wall.collisionGroup = 0;
            wall.size[0] = 0.1f;
            wall.size[1] = 1.0f;
            wall.size[2] = 0.5f;
            backend->createActor(world, wall, placed(btVector3(at.x(), 1.0f, at.z())).data());
        }
        ph::ControllerDesc desc;
        desc.radius = kRadius;
        desc.height = kHeight;
        for (const btVector3& at : l.starts) characters.push_back(backend->createController(world, desc, placed(at).data()));
        poses.resize(characters.size() * 12);
    }
    ~EngineSide() { backend->releaseWorld(world); }

    void frame() {
        for (std::size_t i = 0; i < characters.size(); ++i) {
            const btVector3 d = directions[i] * (kSpeed * kFrame);
            const float delta[3] = {static_cast<float>(d.x()), 0.0f, static_cast<float>(d.z())};
            bool onGround = false;
            backend->moveController(world, characters[i], delta, onGround);
        }
        backend->step(world, kFrame);
        for (std::size_t i = 0; i < characters.size(); ++i)
            backend->getActorPose(world, characters[i], &poses[i * 12]);
    }
    btVector3 position(std::size_t i) const { return btVector3(poses[i * 12 + 9], poses[i * 12 + 10], poses[i * 12 + 11]); }
};

// The baseline: bare Bullet calls over the same scene.
struct BareSide {
    btDefaultCollisionConfiguration configuration;
    btCollisionDispatcher dispatcher{&configuration};
    btDbvtBroadphase broadphase;
    btSequentialImpulseConstraintSolver solver;
    btDiscreteDynamicsWorld dynamics{&dispatcher, &broadphase, &solver, &configuration};
    btBoxShape floorShape{btVector3(500, 0.5f, 500)};
    btBoxShape wallShape{btVector3(0.1f, 1.0f, 0.5f)};
    btCapsuleShape capsule{kRadius, kHeight};
    std::vector<std::unique_ptr<btCollisionObject>> objects;
    std::vector<btCollisionObject*> characters;
    std::vector<btVector3> directions;
    std::vector<float> poses;

    explicit BareSide(const Layout& l) : directions(l.directions) {
        add(&floorShape, btVector3(0, -0.5f, 0));
        for (const btVector3& at : l.walls) add(&wallShape, btVector3(at.x(), 1.0f, at.z()));
        for (const btVector3& at : l.starts) {
            characters.push_back(add(&capsule, at));
            characters.back()->setCollisionFlags(btCollisionObject::CF_KINEMATIC_OBJECT);
        }
        poses.resize(characters.size() * 12);
    }
    ~BareSide() {
        for (auto& object : objects) dynamics.removeCollisionObject(object.get());
    }
    btCollisionObject* add(btCollisionShape* shape, const btVector3& at) {
        auto object = std::make_unique<btCollisionObject>();
        object->setCollisionShape(shape);
        btTransform t;
        t.setIdentity();
        t.setOrigin(at);
        object->setWorldTransform(t);
        dynamics.addCollisionObject(object.get());
        objects.push_back(std::move(object));
        return objects.back().get();
    }

    struct Sweep : btCollisionWorld::ClosestConvexResultCallback {
        Sweep(const btCollisionObject* self, const btVector3& a, const btVector3& b)
            : ClosestConvexResultCallback(a, b), self_(self) {}
        bool needsCollision(btBroadphaseProxy* proxy) const override {
            return proxy->m_clientObject != self_ && ClosestConvexResultCallback::needsCollision(proxy);
        }
        const btCollisionObject* self_;
    };

    // The same character move as the backend's, in bare calls: a lift by
    // the step height, a slide across in up to four sweeps, a sweep down to
    // the ground; gravity for capsules off the ground at each step.
    static constexpr btScalar kSkin = btScalar(0.05);
    static constexpr btScalar kStepHeight = btScalar(0.4);
    static constexpr btScalar kSlopeCosine = btScalar(0.0871557);
    struct State {
        bool onGround = false;
        bool groundFound = false;
        btScalar fallSpeed = 0;
    };
    std::vector<State> states;

    btScalar sweep(std::size_t i, const btVector3& motion, btVector3* normal, btVector3* point = nullptr) {
        const btScalar length = motion.length();
        if (length < btScalar(1e-7)) return 0;
        btCollisionObject* c = characters[i];
        const btTransform from = c->getWorldTransform();
        btTransform to = from;
        to.setOrigin(from.getOrigin() + motion);
        Sweep result(c, from.getOrigin(), to.getOrigin());
        dynamics.convexSweepTest(&capsule, from, to, result, 0);
        if (!result.hasHit()) return length;
        if (normal) *normal = result.m_hitNormalWorld;
        if (point) *point = result.m_hitPointWorld;
        return std::max(btScalar(0), result.m_closestHitFraction * length - kSkin);
    }
    void translate(std::size_t i, const btVector3& by) {
        btTransform t = characters[i]->getWorldTransform();
        t.setOrigin(t.getOrigin() + by);
        characters[i]->setWorldTransform(t);
    }
    void slide(std::size_t i, btVector3 motion, bool flat) {
        for (int pass = 0; pass < 4 && motion.length2() > btScalar(1e-12); ++pass) {
            btVector3 normal(0, 0, 0);
            const btScalar length = motion.length();
            const btScalar made = sweep(i, motion, &normal);
            translate(i, motion * (made / length));
            if (made >= length) break;
            btVector3 rest = motion * ((length - made) / length);
            if (flat || normal.y() < kSlopeCosine) normal.setY(0);
            if (normal.length2() < btScalar(1e-12)) break;
            normal.normalize();
            rest -= normal * rest.dot(normal);
            rest.setY(0);
            motion = rest;
        }
    }
    void walk(std::size_t i, const btVector3& across) {
        const btVector3 start = characters[i]->getWorldTransform().getOrigin();
        const btScalar raised = sweep(i, btVector3(0, kStepHeight, 0), nullptr);
        translate(i, btVector3(0, raised, 0));
        slide(i, across, false);
        const btScalar down = raised + kSkin * 2;
        btVector3 normal(0, 1, 0), point(0, 0, 0);
        const btScalar made = sweep(i, btVector3(0, -down, 0), &normal, &point);
        State& state = states[i];
        if (made < down) {
            const btScalar foot = start.y() - capsule.getHalfHeight() - capsule.getRadius();
            if (normal.y() < kSlopeCosine || point.y() - foot > kStepHeight + btScalar(1e-3)) {
                btTransform t = characters[i]->getWorldTransform();
                t.setOrigin(start);
                characters[i]->setWorldTransform(t);
                slide(i, across, true);
                dynamics.updateSingleAabb(characters[i]);
                return;
            }
            translate(i, btVector3(0, -made, 0));
            state.onGround = normal.y() >= kSlopeCosine;
            state.groundFound = state.onGround;
            if (state.onGround) state.fallSpeed = 0;
        } else {
            translate(i, btVector3(0, -raised, 0));
            state.onGround = false;
        }
        dynamics.updateSingleAabb(characters[i]);
    }
    void fall(std::size_t i) {
        State& state = states[i];
        if (state.groundFound) {
            state.groundFound = false;
            return;
        }
        if (state.onGround) {
            btVector3 normal(0, 1, 0);
            const btScalar probe = kSkin * 2 + btScalar(0.01);
            if (sweep(i, btVector3(0, -probe, 0), &normal) < probe && normal.y() >= kSlopeCosine) return;
            state.onGround = false;
        }
        state.fallSpeed -= btScalar(9.81) * kFrame;
        const btScalar drop = state.fallSpeed * kFrame;
        btVector3 normal(0, 1, 0);
        const btScalar made = sweep(i, btVector3(0, -drop, 0), &normal);
        translate(i, btVector3(0, -made, 0));
        if (made < drop) {
            state.onGround = normal.y() >= kSlopeCosine;
            state.fallSpeed = 0;
        }
        dynamics.updateSingleAabb(characters[i]);
    }

    void frame() {
        states.resize(characters.size());
        for (std::size_t i = 0; i < characters.size(); ++i) walk(i, directions[i] * (kSpeed * kFrame));
        for (std::size_t i = 0; i < characters.size(); ++i) fall(i);
        dynamics.stepSimulation(kFrame, 0, kFrame);
        for (std::size_t i = 0; i < characters.size(); ++i) {
            const btTransform& t = characters[i]->getWorldTransform();
            const btMatrix3x3& b = t.getBasis();
            float* m = &poses[i * 12];
            for (int row = 0; row < 3; ++row)
                for (int col = 0; col < 3; ++col) m[row * 3 + col] = static_cast<float>(b[col][row]);
            for (int k = 0; k < 3; ++k) m[9 + k] = static_cast<float>(t.getOrigin()[k]);
        }
    }
    btVector3 position(std::size_t i) const { return btVector3(poses[i * 12 + 9], poses[i * 12 + 10], poses[i * 12 + 11]); }
};

void BM_CharacterStep(benchmark::State& state) {
    const Layout l = layout(static_cast<int>(state.range(0)));
    EngineSide engine(l);
    BareSide bare(l);
    // The check: over the first 30 frames both sides move every character
    // the same horizontal distance.
    for (int frame = 0; frame < 30; ++frame) {
        engine.frame();
        bare.frame();
    }
    for (std::size_t i = 0; i < l.starts.size(); ++i) {
        btVector3 a = engine.position(i) - l.starts[i];
        btVector3 b = bare.position(i) - l.starts[i];
        a.setY(0);
        b.setY(0);
        if (std::abs(a.length() - b.length()) > 0.05f) {
            std::fprintf(stderr, "character %zu: engine moved %.3f m, bare Bullet %.3f m\n", i,
                         static_cast<double>(a.length()), static_cast<double>(b.length()));
            std::abort();
        }
    }
    bench_pairs::runPaired(state, [&] { engine.frame(); }, [&] { bare.frame(); });
}

}  // namespace

BENCHMARK(BM_CharacterStep)->Arg(1)->Arg(50)->Arg(200)->UseManualTime();
BENCHMARK_MAIN();
