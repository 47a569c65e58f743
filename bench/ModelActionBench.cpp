// The picking pass of model actions: 200 models with four action items
// each, in front of a camera in a cursor mode, some across or past the
// screen's edges; the drawn ones take part. The project side is every model's action update
// (each enabled item placed in the world, its outline projected and pruned,
// the cursor tested against it, the offer to the camera); the baseline is a
// bare loop over the same items' boxes, kept in a flat array, projecting
// their eight corners and keeping those whose rectangle reaches the screen.
// Both must find the same items on the screen, checked before and after the
// timing (PairedRun.h).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchEngineRoot.h"
#include "BenchPackage.h"
#include "PairedRun.h"
#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "effects/LightSetLibrary.h"
#include "effects/SkyDataManager.h"
#include "foundation/AppPaths.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "game/QuestData.h"
#include "game/QuestLogic.h"
#include "input/InputCore.h"
#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "model/ModelWriter.h"
#include "package/PackageWriter.h"
#include "render/RenderCore.h"
#include "resources/PackageDatabase.h"
#include "scene/CameraCore.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "scene/SceneDescription.h"

namespace {

constexpr int kModels = 200;
constexpr int kItems = 4;

// A panel of one element with four actions around its middle.
std::string panelText() {
    const std::string level =
        "lod\nmeshstream 2\nvertex p 0 0 0\nvertex p 1 0 0\nvertex p 0 1 0\nindex 0 1 2\n"
        "subset 0 0 3 3 kind 3\nbox 0.5 0.5 0.5\n";
    return "model panel\nelement body\n" + level + level + level +
           "action a - size 0.3 0.3 0.3 at -0.4 0 0\naction b - size 0.3 0.3 0.3 at 0.4 0 0\n"
           "action c - size 0.2 0.4 0.2 at 0 0.5 0\naction d - size 0.2 0.2 0.2 spot 0 0.1 0 at 0 -0.5 0\n";
}

package_tool::Manifest panelManifest() {
    package_tool::Manifest manifest;
    manifest.versions.push_back("bench");
    auto add = [&](const std::string& mask, const std::string& name, std::string bytes) {
        bench_package::addFile(manifest, "panels", mask, name, std::move(bytes));
    };
    scene_tools::SceneDescription scene;
    std::string error;
    if (scene_tools::parseSceneDescription("scene wall\nlightset wall_default ambient 0.2 0.2 0.2\n", scene, error)) {
        add(".ms4", "wall", scene_tools::sceneDataBytes(scene.data));
        add(".sky", "wall", "sky");
        for (const LightSet& set : scene.lightSets) add(".ls", set.name, scene_tools::lightSetBytes(set));
    }
    model_tools::ModelDescription description;
    if (model_tools::parseModelDescription(panelText(), description, error) && !description.models.empty()) {
        model_tools::ModelFile& file = description.models.front();
        add(".mh4", "panel", model_tools::modelFileBytes(*file.model, "panel", true));
        add(".my3", "panel", model_tools::modelFileBytes(*file.model, "panel", false));
        for (model_tools::ModelFile& made : description.models) made.model->release();
    }
    return manifest;
}

// A data root with the package, the scene current in a save game, its
// camera in game mode 7 (picking by the cursor), the panels pushed, drawn
// and switched on by the quest. Removed at exit.
class Wall {
public:
    Wall() {
        gameCore.render = &render_;
        gameCore.input = &input;
        gameCore.cameraMode = 7;
        game_ = std::make_unique<SaveGame>();
        gameCore.game = game_.get();
        if (!root_.built()) return;
        scene.reset(SceneContext::createScene(root_.scenes.get("wall", true)));
        if (!scene || !scene->initialize(matrix34Identity())) return;
        game_->scenes = {scene->id};
        game_->currentIndex = 0;
        // 20 x 10 panels 1.5 apart, the outer columns past the screen's sides.
        for (int i = 0; i < kModels; ++i) {
            Matrix34 pose = matrix34Identity();
            pose.m[9] = -14.25f + 1.5f * float(i % 20);
            pose.m[10] = -6.75f + 1.5f * float(i / 20);
            const std::string name = "panel_" + std::to_string(i);
            auto* model = static_cast<Model*>(scene->createModel("panel", name.c_str(), pose, 0));
            if (!model || !model->push()) return;
            ObjectState state{};
            std::snprintf(state.name, sizeof(state.name), "%s", name.c_str());
            QuestLogic::applyObjectState(state, 2);
            panels.push_back(model);
        }
        camera = scene->camera();
        camera->pose = matrix34Identity();
        camera->pose.m[11] = 12.0f;
        camera->update(CurrentTime());
        for (Model* panel : panels) panel->cull();
        ready_ = true;
    }
    ~Wall() {
        panels.clear();
        if (game_) game_->scenes.clear();
        if (scene) scene->release();
        scene.reset();
        game_.reset();
        root_.models.releaseAll();
        gameCore.game = nullptr;
        gameCore.input = nullptr;
        gameCore.render = nullptr;
    }
    Wall(const Wall&) = delete;
    Wall& operator=(const Wall&) = delete;
    bool ready() const { return ready_; }

private:
    bench_package::EngineRoot root_{"actions", panelManifest()};

public:
    InputCore input;
    std::unique_ptr<Scene> scene;
    CameraCore* camera = nullptr;
    std::vector<Model*> panels;

private:
    RenderCore render_;
    std::unique_ptr<SaveGame> game_;
    bool ready_ = false;
};

// The bare pass: each box's corners in front of the camera projected, the
// box kept when their rectangle reaches the screen.
std::size_t bareProjections(const std::vector<IntersectionOBBox>& boxes, const CameraCore& camera) {
    const float* back = &camera.pose.m[6];
    const float* eye = camera.position();
    std::size_t onScreen = 0;
    for (const IntersectionOBBox& box : boxes) {
        float minX = 100000.0f, minY = 100000.0f, maxX = -100000.0f, maxY = -100000.0f;
        for (const float* corner : box.box.corners) {
            const float to[3] = {corner[0] - eye[0], corner[1] - eye[1], corner[2] - eye[2]};
            if (vector3Dot(back, to) > 0.0f) continue;
            float screen[2];
            camera.projectToScreen(corner, screen);
            minX = std::min(minX, screen[0]);
            maxX = std::max(maxX, screen[0]);
            minY = std::min(minY, screen[1]);
            maxY = std::max(maxY, screen[1]);
        }
        if (!(maxX < 0.0f || minX > 1024.0f || maxY < 0.0f || minY > 768.0f)) ++onScreen;
    }
    return onScreen;
}

void BM_ModelActionPicking(benchmark::State& state) {
    bench_pairs::fixAllocator();
    Wall wall;
    if (!wall.ready()) {
        state.SkipWithError("the wall of panels did not build");
        return;
    }
    // As in the scene's update, only the models drawn this frame take part.
    std::vector<Model*> drawn;
    for (Model* panel : wall.panels)
        if (panel->stateWords[0] & kModelDrawnThisFrame) drawn.push_back(panel);
    auto pass = [&] {
        for (Model* panel : drawn) panel->updateActionItems();
    };
    pass();
    // The cursor on the spot of an item in the middle of the screen.
    float spot[2];
    drawn[drawn.size() / 2]->projectActionToScreen(1, spot[0], spot[1]);
    wall.input.virtualDevices.pointer.set(spot[0], spot[1]);
    pass();
    std::vector<IntersectionOBBox> boxes;
    for (Model* panel : drawn)
        for (const ModelActionItem& item : panel->actionItems) boxes.push_back(item.box);
    // The items whose outline reaches the screen, as the models see them.
    auto projected = [&] {
        std::size_t count = 0;
        std::vector<ActionScreenPoint> points;
        for (Model* panel : drawn)
            for (std::int32_t i = 0; i < kItems; ++i) count += panel->projectActionItem(i, points) ? 1 : 0;
        return count;
    };
    std::size_t bare = bareProjections(boxes, *wall.camera);
    const std::size_t found = projected();
    if (drawn.size() == wall.panels.size() || boxes.size() != drawn.size() * kItems || found != bare || found == 0 ||
        found == boxes.size() || !wall.camera->hover) {
        state.SkipWithError("the models and the bare loop find different items on the screen");
        return;
    }
    bench_pairs::runPaired(
        state, pass, [&] { bare = bareProjections(boxes, *wall.camera); }, double(boxes.size()));
    if (projected() != bare) state.SkipWithError("the models and the bare loop find different items on the screen");
    state.counters["drawn_items"] = double(boxes.size());
    state.counters["on_screen"] = double(bare);
    state.counters["picked"] = wall.camera->hover ? 1.0 : 0.0;
}

}  // namespace

BENCHMARK(BM_ModelActionPicking)->UseManualTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
