// One camera update in scenes whose two rooms are joined by 10, 50 and 200
// portals on one opening (every order of those portals is a path of the
// visibility walk), beside the same update in the same scene with its
// visibility block left out (see PairedRun.h). The camera's resulting pose
// and matrices are checked equal between the two.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "PairedRun.h"
#include "app/GameCore.h"
#include "foundation/Matrix.h"
#include "foundation/TimeCore.h"
#include "scene/CameraCore.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "scene/SceneWriter.h"

namespace {

// Camera updates timed as one unit.
constexpr int kUpdates = 4;

struct Repository {
    Repository() {
        gameCore.objects = &objects;
        setSceneDataManager(&manager);
    }
    ObjectRepository objects;
    SceneDataManager manager;
};

Repository& repository() {
    static Repository shared;
    return shared;
}

// A debug scene of two rooms along -z and its camera in the first room,
// looking through the opening; with visibility, the rooms and portals.
class PortalScene {
public:
    PortalScene(int portals, bool withVisibility) {
        const std::string name = "rooms" + std::to_string(portals) + (withVisibility ? "v" : "");
        scene_.reset(SceneContext::createScene(repository().manager.get(name.c_str(), false)));
        scene_->initialize(matrix34Identity());
        if (withVisibility) {
            const float room[3] = {2.0f, 2.0f, 2.0f};
            const float opening[3] = {1.5f, 1.5f, 0.05f};
            const float first[3] = {0.0f, 0.0f, 0.0f};
            const float second[3] = {0.0f, 0.0f, -6.0f};
            scene_tools::VisibilityBuilder build;
            build.addArea("room0", first, room);
            build.addArea("room1", second, room);
            for (int i = 0; i < portals; ++i) {
                const float centre[3] = {0.001f * static_cast<float>(i), 0.0f, -3.0f};
                build.addPortal(("door" + std::to_string(i)).c_str(), centre, opening, 0, 1);
            }
            scene_->pvs.copyFrom(build.pvs());
        }
        CameraCore& camera = *scene_->camera();
        camera.pose = matrix34Identity();
        camera.initialize(-1.0f);
    }
    ~PortalScene() { scene_->release(); }
    PortalScene(const PortalScene&) = delete;
    PortalScene& operator=(const PortalScene&) = delete;

    void update() {
        for (int i = 0; i < kUpdates; ++i) {
            time_ += 0.05;
            CurrentTime sample;
            sample.game.time = time_;
            sample.game.step = 0.05;
            scene_->camera()->update(sample);
        }
    }
    CameraCore& camera() { return *scene_->camera(); }

private:
    std::unique_ptr<Scene> scene_;
    double time_ = 0.0;
};

void BM_CameraUpdateWithOverlappingPortals(benchmark::State& state) {
    const int portals = static_cast<int>(state.range(0));
    PortalScene walked(portals, true);
    PortalScene plain(portals, false);
    bench_pairs::runPaired(state, [&] { walked.update(); }, [&] { plain.update(); }, kUpdates);
    CameraCore& a = walked.camera();
    CameraCore& b = plain.camera();
    if (std::memcmp(a.pose.m, b.pose.m, sizeof(a.pose.m)) != 0 ||
        std::memcmp(a.viewProjection, b.viewProjection, sizeof(a.viewProjection)) != 0)
        state.SkipWithError("the camera updates differ");
    if (a.pvs.cameraAreas.size() != 1 || !a.pvs.areaVisible(1)) state.SkipWithError("the walk did not run");
    state.counters["all_visible"] = a.pvs.allVisible;
}

}  // namespace

BENCHMARK(BM_CameraUpdateWithOverlappingPortals)->Arg(10)->Arg(50)->Arg(200)->UseManualTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
