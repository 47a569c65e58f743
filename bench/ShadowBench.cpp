// Shadows, two figures:
//   Shadows/rank_and_place  the frame's ranking of 500 caster groups (one
//                           record each) by their rank values and the
//                           handing out of a 2048 x 1024 atlas's cells,
//                           against std::sort of the same 500 values; both
//                           must give the same order.
//   Shadows/frame           a frame of a scene with 20 casters over a
//                           receiving floor under a directional shadow
//                           light on the GL backend (the scene's step with
//                           its shadow records, the context update, the
//                           shadow map and the object pass), with shadows
//                           on against the same frame with shadows off
//                           (video option "shadows" 0, and no shadow map,
//                           as the game has none then). The shadowed frame
//                           must give all 20 records a cell and darken the
//                           floor somewhere.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchDevice.h"
#include "BenchPackage.h"
#include "BenchScene.h"
#include "PairedRun.h"
#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "effects/Light.h"
#include "effects/LightSetLibrary.h"
#include "effects/SceneShadows.h"
#include "effects/SkyDataManager.h"
#include "foundation/AppPaths.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "model/ModelDataManager.h"
#include "model/ModelWriter.h"
#include "render/ProcRenderTarget.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "resources/PackageDatabase.h"
#include "scene/CameraCore.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "scene/SceneDescription.h"
#include "shaderpack/ShaderPacker.h"
#include "textures/DdsWriter.h"

namespace {

// ---- ranking and placing ----

void BM_ShadowRankAndPlace(benchmark::State& state) {
    bench_pairs::fixAllocator();
    constexpr std::uint32_t kGroups = 500;
    SceneShadows shadows;
    shadows.atlas.build(2048, 1024, 64);
    std::vector<float> values(kGroups);
    std::uint32_t seed = 12345;
    for (std::uint32_t i = 0; i < kGroups; ++i) {
        SceneShadows::CasterGroup& group = shadows.casters.emplace_back();
        group.caster.value = i + 1;
        group.records.emplace_back().flags = kShadowFadeStarted;
        seed = seed * 1664525u + 1013904223u;
        // Distances up to 100, a fifth of them small casters (+1000).
        values[i] = float(seed >> 8) / float(1u << 24) * 100.0f + ((seed & 7u) == 0 ? 1000.0f : 0.0f);
    }
    std::vector<ShadowRank> ranks;
    ranks.reserve(kGroups);
    std::vector<float> sorted(kGroups);
    bench_pairs::runPaired(
        state,
        [&] {
            ranks.clear();
            for (std::uint32_t i = 0; i < kGroups; ++i) ranks.push_back(ShadowRank{values[i], i});
            SoftShadow::sortRanks(ranks);
            SoftShadow::placeRecords(shadows, ranks);
            benchmark::DoNotOptimize(shadows.casters.data());
        },
        [&] {
            std::copy(values.begin(), values.end(), sorted.begin());
            std::sort(sorted.begin(), sorted.end());
            benchmark::DoNotOptimize(sorted.data());
        },
        kGroups);
    bool same = ranks.size() == sorted.size();
    for (std::size_t i = 0; same && i < ranks.size(); ++i) same = ranks[i].value == sorted[i];
    // The 92 cells went to the first 92 groups of the order.
    std::size_t withCell = 0;
    for (const SceneShadows::CasterGroup& group : shadows.casters) withCell += group.records[0].hasCell() ? 1 : 0;
    if (!same || withCell != shadows.atlas.cells.size()) state.SkipWithError("the orders or the cells differ");
}

// ---- a frame with shadows on and off ----

constexpr int kCasters = 20;

// A flat square of half size h at height y (three levels), of material kind
// 6 with the "paint" texture.
std::string square(const char* model, const char* element, float h, float y, const char* extra = "") {
    const std::string s = std::to_string(h), m = std::to_string(-h), height = std::to_string(y);
    std::string level = "lod\nmeshstream 4\nvertex p " + m + " " + height + " " + m + " n 0 1 0 t 0 0\nvertex p " + s +
                        " " + height + " " + m + " n 0 1 0 t 1 0\nvertex p " + m + " " + height + " " + s +
                        " n 0 1 0 t 0 1\nvertex p " + s + " " + height + " " + s +
                        " n 0 1 0 t 1 1\nindex 0 1 2 2 1 3 0 2 1 2 3 1\nsubset 0 0 12 4 kind 6 diffuse paint\nbox " +
                        s + " 0.05 " + s + " at 0 " + height + " 0\n";
    return std::string("model ") + model + "\nlightset day shadows_default\nelement " + element + extra + "\n" + level +
           level + level;
}

// The scene: a floor of 24 x 24 that receives shadows, 20 small lids one
// unit above it in a ring, a sun slanting down toward +x whose name makes
// it a shadow light, and a camera looking down on them from 12 above.
std::string sceneText() {
    std::string text =
        "scene shadows\nlightset shadows_default ambient 0.2 0.2 0.2 diffuse 0.8 0.8 0.8\n"
        "light direct shadow_sun matrix 0 0 1  0.7071 0.7071 0  0.7071 -0.7071 0  -20 20 0 radius 60 distance 120 "
        "colour 0.8 0.8 0.8 lightset shadows_default\n"
        "model floor floor at 0 0 0\n";
    for (int i = 0; i < kCasters; ++i) {
        const float angle = 6.2831853f * float(i) / kCasters;
        text += "model lid" + std::to_string(i) + " lid at " + std::to_string(5.0f * std::cos(angle)) + " 0 " +
                std::to_string(5.0f * std::sin(angle)) + "\n";
    }
    return text;
}

package_tool::Manifest frameManifest() {
    package_tool::Manifest manifest;
    manifest.versions.push_back("bench");
    auto add = [&](const std::string& mask, const std::string& name, std::string bytes) {
        bench_package::addFile(manifest, "shadows", mask, name, std::move(bytes));
    };
    scene_tools::SceneDescription scene;
    std::string error;
    if (scene_tools::parseSceneDescription(sceneText(), scene, error)) {
        add(".ms4", "shadows", scene_tools::sceneDataBytes(scene.data));
        add(".sky", "shadows", "sky");
        for (const LightSet& set : scene.lightSets) add(".ls", set.name, scene_tools::lightSetBytes(set));
    }
    for (const std::string& text :
         {square("floor", "deck", 12.0f, 0.0f, " flags 0x40"), square("lid", "castshadow_lid", 0.5f, 1.0f)}) {
        model_tools::ModelDescription model;
        if (!model_tools::parseModelDescription(text, model, error) || model.models.empty()) continue;
        const model_tools::ModelFile& file = model.models.front();
        add(".mh4", file.name, model_tools::modelFileBytes(*file.model, file.name, true));
        add(".my3", file.name, model_tools::modelFileBytes(*file.model, file.name, false));
        for (model_tools::ModelFile& made : model.models) made.model->release();
    }
    return manifest;
}

std::vector<std::uint8_t> solidDds(std::uint8_t grey) {
    texture_tools::DdsImage image;
    image.width = image.height = 8;
    std::vector<std::uint8_t> texels;
    for (int i = 0; i < 64; ++i) texels.insert(texels.end(), {grey, grey, grey, 255});
    image.blocks.push_back(texels);
    return texture_tools::writeDds(image);
}

// The game core's members the frame needs, the scene loaded from its
// package and the render core on a GL device of 256 x 256.
class ShadowFrame {
public:
    explicit ShadowFrame(benchmark::State& state) : device_(state, true) {
        gameCore.log = &log_;
        gameCore.clocks = &clocks_;
        gameCore.paths = &paths_;
        gameCore.packages = &database_;
        gameCore.objects = &objects_;
        gameCore.lightSets = &lightSets_;
        gameCore.skyData = &skies_;
        gameCore.video = &video_;
        gameCore.game = &game_;
        setSceneDataManager(&scenes_);
        setModelDataManager(&models_);
        gameCore.cameraMode = 1;
        root_ = bench_package::writeDataRoot("shadows", frameManifest());
        paths_.setPath(PathLanguage, "en");
        paths_.setPath(PathDataRootInput, root_);
        paths_.setPath(PathExeFolderInput, root_);
        paths_.setPath(PathShaderCacheName, "shaders.0050");
        std::string error;
        std::vector<PackedShader> shaders;
        if (!device_.device() || !database_.build() || !buildShaderBodies(shaders, error) ||
            !writeShaderPackage(paths_.get(PathShaderCacheFile), shaders, error)) {
            why_ = "no device, package or shader package " + error;
            return;
        }
        lightSets_.initialize();
        device_.textures.files["paint.dds"] = solidDds(200);
        device_.textures.setup.details = 2;
        device_.textures.setup.shadows = 1;
        render_ = std::make_unique<RenderCore>();
        gameCore.render = render_.get();
        DXStateCache& cache = render_->stateCache();
        cache.setDevice(device_.device());
        cache.initialize(false);
        why_ = "the render core did not start";
        if (!cache.setupDeviceDefaults(false)) return;
        render_->shaders().attach(device_.device(), &cache);
        if (!render_->shaders().initialize() || !render_->streamDeclarations().allocate(device_.device())) return;
        render_->textures.allocated = true;
        render_->shadowLimits = {1024, 1024, 1024};
        if (!render_->allocateShadowTargets()) return;
        why_ = "the scene did not load";

        record_ = scenes_.get("shadows", true);
        scene_.reset(SceneContext::createScene(record_));
        if (!scene_ || !scene_->initialize(matrix34Identity())) return;
        // The scene's objects are pushed as the game pushes them once the
        // scene is current: the models register as casters and receivers.
        why_ = "an object of the scene was not pushed";
        for (const std::vector<GameObjectLink>* list : {&scene_->lights, &scene_->models})
            for (GameObjectLink link : *list) {
                GameObject* object = objects_.getObject(link);
                const auto* light = dynamic_cast<Light*>(object);
                if (!object || ((!light || !light->onStack()) && !object->push())) return;
            }
        game_.scenes.push_back(scene_->id);
        game_.currentIndex = 0;
        CameraCore* camera = scene_->camera();
        why_ = "the scene has no camera";
        if (!camera) return;
        // Looking straight down from 12 above the floor's centre.
        const float rows[12] = {1, 0, 0, 0, 0, -1, 0, 1, 0, 0, 12, 0};
        std::copy(rows, rows + 12, camera->pose.m);
        render_->camera = camera;
        ready_ = scene_->models.size() == std::size_t(kCasters) + 1;
        why_ = ready_ ? "" : "the scene holds " + std::to_string(scene_->models.size()) + " models";
    }
    ~ShadowFrame() {
        if (render_) {
            render_->renderList.clearQueues();
            render_->camera = nullptr;
        }
        game_.scenes.clear();
        if (scene_) scene_->release();
        scene_.reset();
        if (record_) record_->release();
        models_.releaseAll();
        if (render_) {
            render_->releaseBuiltinTextures();
            render_->textures.releaseAll();
            render_->shaders().release();
        }
        render_.reset();
        lightSets_.release();
        setModelDataManager(nullptr);
        setSceneDataManager(nullptr);
        gameCore.render = nullptr;
        gameCore.game = nullptr;
        gameCore.video = nullptr;
        gameCore.skyData = nullptr;
        gameCore.lightSets = nullptr;
        gameCore.objects = nullptr;
        gameCore.packages = nullptr;
        gameCore.paths = nullptr;
        gameCore.clocks = nullptr;
        gameCore.log = nullptr;
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    ShadowFrame(const ShadowFrame&) = delete;
    ShadowFrame& operator=(const ShadowFrame&) = delete;

    bool ready() const { return ready_; }
    // Why the frame is not ready, with the last log line.
    std::string why() const {
        const std::vector<LogRecord> records = log_.records();
        std::string text = why_;
        for (std::size_t i = records.size() > 6 ? records.size() - 6 : 0; i < records.size(); ++i)
            text += " | " + records[i].text;
        return text;
    }
    Scene& scene() { return *scene_; }

    // One frame of 1/30 s with the video option "shadows" as given: the
    // scene's step, the context update and shadow map, the object pass;
    // the frame read back.
    void frame(std::int32_t shadows, std::vector<std::uint8_t>& pixels) {
        device_.textures.setup.shadows = shadows;
        // With shadows off the game has no shadow map (its targets are made
        // only for shadows): the map's texture is set aside for the frame.
        ProcRenderTarget* map = currentShadowTarget();
        IDirect3DBaseTexture9* const mapTexture = map ? map->texture : nullptr;
        if (map && !shadows) map->texture = nullptr;
        bench_scene::sceneFrame(*scene_, *render_, device_.device(), time_, pixels, [&] { render_->renderShadows(); });
        if (map) map->texture = mapTexture;
    }

private:
    bench_device::ScopedDevice device_;
    Log log_;
    TimeCore clocks_;
    AppPaths paths_;
    PackageDatabase database_;
    ObjectRepository objects_;
    LightSetLibrary lightSets_;
    SkyDataManager skies_;
    VideoCore video_;
    SaveGame game_;
    SceneDataManager scenes_;
    ModelDataManager models_;
    std::unique_ptr<RenderCore> render_;
    Y3SceneDataInstance* record_ = nullptr;
    std::unique_ptr<Scene> scene_;
    std::string root_;
    double time_ = 0.0;
    bool ready_ = false;
    std::string why_;
};

void BM_ShadowFrame(benchmark::State& state) {
    bench_pairs::fixAllocator();
    ShadowFrame frame(state);
    if (!frame.ready()) {
        state.SkipWithError(frame.why().c_str());
        return;
    }
    std::vector<std::uint8_t> shadowed, plain;
    // A second for the records to fade in.
    for (int i = 0; i < 32; ++i) frame.frame(1, shadowed);
    bench_pairs::runPaired(state, [&] { frame.frame(1, shadowed); }, [&] { frame.frame(0, plain); });
    frame.frame(1, shadowed);
    std::size_t withCell = 0;
    for (const SceneShadows::CasterGroup& group : frame.scene().shadows.casters)
        for (const ShadowRecord& record : group.records) withCell += record.hasCell() ? 1 : 0;
    frame.frame(0, plain);
    std::size_t darker = 0;
    for (std::size_t i = 0; i + 3 < shadowed.size() && shadowed.size() == plain.size(); i += 4)
        if (int(plain[i + 1]) - int(shadowed[i + 1]) > 40) ++darker;
    state.counters["records_with_cell"] = double(withCell);
    state.counters["darkened_pixels"] = double(darker);
    if (withCell != std::size_t(kCasters) || darker == 0)
        state.SkipWithError(("the shadowed frame does not show the casters' shadows: " + std::to_string(withCell) +
                             " records with a cell, " + std::to_string(darker) + " darker pixels")
                                .c_str());
}

}  // namespace

BENCHMARK(BM_ShadowRankAndPlace)->Name("Shadows/rank_and_place")->UseManualTime()->MinTime(0.3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShadowFrame)->Name("Shadows/frame")->UseManualTime()->MinTime(1.0)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
