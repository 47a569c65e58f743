// The physics frame of N characters (1, 50, 200, 1,000) walking among walls,
// paired (bench/PairedRun.h) with the same frame written with bare Bullet
// calls. The project side is the game's road: a scene made from a package,
// whose physics scene comes with it; a floor, walls and characters made as
// the scene's models, each taking the physics description of its resource
// (the characters a controller capsule). Each frame every character's move
// goes into its physics model's accumulator (as the movement encoder hands
// it over), the physics scene's update moves the capsules and steps the
// world (a 1/60 s sub-step), and each model takes its pose back as its
// frame update does (the capsule's position into the model's matrix). The
// baseline holds the same floor, the same walls, the same capsules and the
// same walk directions in a world of its own and makes the same character
// move with bare Bullet calls (the same sweeps: lift, slide, down, and the
// ground probe of each step), steps the world and reads each pose into a
// 3x4 matrix, so the ratio is what the engine's objects, handles, checks
// and records cost over the same work. Neither world keeps pairs of the
// capsules and what they walk among: the engine's broadphase leaves out
// pairs without a dynamic body, and the bare world's plain collision
// objects go into its static filter group, which pairs with nothing. The
// counters give both times per frame and their ratio; the check asserts
// that both sides put every character at the same place (to 1 cm) after
// the first frames and again after the timed ones.
#include <benchmark/benchmark.h>
#include <btBulletDynamicsCommon.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchEngineRoot.h"
#include "BenchPackage.h"
#include "PairedRun.h"
#include "app/GameCore.h"
#include "control/PhysicsCore.h"
#include "control/PhysicsModel.h"
#include "control/PhysicsScene.h"
#include "effects/LightSetLibrary.h"
#include "effects/SkyDataManager.h"
#include "foundation/AppPaths.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "model/ModelWriter.h"
#include "package/PackageWriter.h"
#include "physics/PhysicsWriter.h"
#include "resources/PackageDatabase.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "scene/SceneDescription.h"

namespace {

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

// The data of the walk: a scene, the three models' meshes (one triangle:
// nothing is drawn) and their physics descriptions.
std::string meshText(const std::string& name) {
    const std::string level =
        "lod\nmeshstream 2\nvertex p 0 0 0\nvertex p 1 0 0\nvertex p 0 1 0\nindex 0 1 2\n"
        "subset 0 0 3 3 kind 3\nbox 0.5 0.5 0.5\n";
    return "model " + name + "\nelement body\n" + level + level + level;
}

std::string physicsText() {
    char text[512];
    std::snprintf(text, sizeof(text),
                  "model walker\nactor capsule body flags controller height %g radius %g\n"
                  "model floor\nactor box ground flags static group 0 size 500 0.5 500\n"
                  "model wall\nactor box stone flags static group 0 size 0.1 1 0.5\n",
                  static_cast<double>(kHeight), static_cast<double>(kRadius));
    return text;
}

package_tool::Manifest walkManifest() {
    package_tool::Manifest manifest;
    manifest.versions.push_back("bench");
    auto add = [&](const std::string& mask, const std::string& name, std::string bytes) {
        bench_package::addFile(manifest, "walk", mask, name, std::move(bytes));
    };
    std::string error;
    scene_tools::SceneDescription scene;
    if (scene_tools::parseSceneDescription("scene walk\nlightset walk_default ambient 0.2 0.2 0.2\n", scene, error)) {
        add(".ms4", "walk", scene_tools::sceneDataBytes(scene.data));
        add(".sky", "walk", "sky");
        for (const LightSet& set : scene.lightSets) add(".ls", set.name, scene_tools::lightSetBytes(set));
    }
    for (const char* name : {"walker", "floor", "wall"}) {
        model_tools::ModelDescription description;
        if (!model_tools::parseModelDescription(meshText(name), description, error) || description.models.empty())
            continue;
        model_tools::ModelFile& file = description.models.front();
        add(".mh4", name, model_tools::modelFileBytes(*file.model, name, true));
        add(".my3", name, model_tools::modelFileBytes(*file.model, name, false));
        for (model_tools::ModelFile& made : description.models) made.model->release();
    }
    physics_tools::PhysicsDescription physics;
    if (physics_tools::parsePhysicsDescription(physicsText(), physics, error))
        for (const auto& file : physics_tools::physicsFiles(physics)) {
            const std::size_t dot = file.name.rfind('.');
            add(file.name.substr(dot), file.name.substr(0, dot), file.bytes);
        }
    return manifest;
}

Matrix34 poseAt(const btVector3& at) {
    Matrix34 pose = matrix34Identity();
    for (int k = 0; k < 3; ++k) pose.m[9 + k] = static_cast<float>(at[k]);
    return pose;
}

// The project side: the scene and its models as the game makes and runs
// them, on the game's simulation.
class EngineSide {
public:
    explicit EngineSide(const Layout& l) : directions_(l.directions) {
        gameCore.physics = &physics_;
        // What the game installs at its start: its simulation, and the
        // models' answers to their physics models.
        PhysicsCore::installGamePlatform();
        Model::installPhysicsHooks();
        if (!root_.built()) return;
        scene_.reset(SceneContext::createScene(root_.scenes.get("walk", true)));
        if (!scene_ || !scene_->initialize(matrix34Identity())) return;
        physicsScene_ = physicsSceneOf(scene_.get());
        if (!physicsScene_ || !scene_->createModel("floor", "floor", poseAt(btVector3(0, -0.5f, 0)), 0)) return;
        for (std::size_t i = 0; i < l.walls.size(); ++i) {
            const std::string name = "wall_" + std::to_string(i);
            if (!scene_->createModel("wall", name.c_str(), poseAt(btVector3(l.walls[i].x(), 1.0f, l.walls[i].z())), 0))
                return;
        }
        for (std::size_t i = 0; i < l.starts.size(); ++i) {
            const std::string name = "walker_" + std::to_string(i);
            auto* model = static_cast<Model*>(scene_->createModel("walker", name.c_str(), poseAt(l.starts[i]), 0));
            if (!model || !model->attachedPhysics() || !(model->attachedPhysics()->flags & kPhysicsModelController))
                return;
            walkers_.push_back(model);
        }
        ready_ = true;
    }
    ~EngineSide() {
        if (scene_) scene_->release();
        scene_.reset();
        root_.models.releaseAll();
        gameCore.physics = nullptr;
    }
    EngineSide(const EngineSide&) = delete;
    EngineSide& operator=(const EngineSide&) = delete;
    bool ready() const { return ready_; }

    void frame() {
        for (std::size_t i = 0; i < walkers_.size(); ++i) {
            const btVector3 d = directions_[i] * (kSpeed * kFrame);
            const float delta[3] = {static_cast<float>(d.x()), 0.0f, static_cast<float>(d.z())};
            walkers_[i]->attachedPhysics()->move(delta);
        }
        physicsScene_->updatePhase1(CurrentTime(kFrame), 0);
        for (Model* model : walkers_) {
            Matrix34 simulated;
            if (model->attachedPhysics()->syncControllerModelPose(model->worldMatrix, simulated))
                model->setWorldMatrix(simulated);
        }
    }
    btVector3 position(std::size_t i) const {
        const float* m = walkers_[i]->worldMatrix.m;
        return btVector3(m[9], m[10], m[11]);
    }

private:
    // The simulation outlives the models and their resources.
    PhysicsCore physics_;
    bench_package::EngineRoot root_{"physics", walkManifest()};
    std::vector<btVector3> directions_;
    std::unique_ptr<Scene> scene_;
    PhysicsScene* physicsScene_ = nullptr;
    std::vector<Model*> walkers_;
    bool ready_ = false;
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
    bool settled = false;

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
    void walk(std::size_t i, const btVector3& motion) {
        const btVector3 start = characters[i]->getWorldTransform().getOrigin();
        const btVector3 across(motion.x(), 0, motion.z());
        const btScalar sink = std::max(btScalar(0), -motion.y());
        const btScalar raised = sweep(i, btVector3(0, kStepHeight, 0), nullptr);
        translate(i, btVector3(0, raised, 0));
        slide(i, across, false);
        const btScalar down = raised + sink + kSkin * 2;
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
            translate(i, btVector3(0, -(raised + sink), 0));
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
        // Gravity: the speed of the fall grows downwards.
        state.fallSpeed += btScalar(9.81) * kFrame;
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
        for (std::size_t i = 0; i < characters.size(); ++i) {
            // A capsule just placed first settles by the teleport step.
            if (!settled) walk(i, btVector3(btScalar(-0.002), btScalar(-0.002), 0));
            walk(i, directions[i] * (kSpeed * kFrame));
        }
        settled = true;
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

// Both sides hold every character at the same place (to 1 cm).
bool samePlaces(const EngineSide& engine, const BareSide& bare, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const btVector3 a = engine.position(i);
        const btVector3 b = bare.position(i);
        if ((a - b).length() > btScalar(0.01)) {
            std::fprintf(stderr, "character %zu: engine at (%.3f %.3f %.3f), bare Bullet at (%.3f %.3f %.3f)\n", i,
                         double(a.x()), double(a.y()), double(a.z()), double(b.x()), double(b.y()), double(b.z()));
            return false;
        }
    }
    return true;
}

void BM_CharacterStep(benchmark::State& state) {
    bench_pairs::fixAllocator();
    const Layout l = layout(static_cast<int>(state.range(0)));
    EngineSide engine(l);
    if (!engine.ready()) {
        state.SkipWithError("the scene of walkers did not build");
        return;
    }
    BareSide bare(l);
    for (int frame = 0; frame < 30; ++frame) {
        engine.frame();
        bare.frame();
    }
    if (!samePlaces(engine, bare, l.starts.size())) {
        state.SkipWithError("the engine and bare Bullet walk the characters to different places");
        return;
    }
    bench_pairs::runPaired(state, [&] { engine.frame(); }, [&] { bare.frame(); });
    if (!samePlaces(engine, bare, l.starts.size()))
        state.SkipWithError("the engine and bare Bullet walk the characters to different places");
}

}  // namespace

BENCHMARK(BM_CharacterStep)->Arg(1)->Arg(50)->Arg(200)->Arg(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
