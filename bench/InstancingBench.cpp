// Static instancing on the GL backend: a frame of 1,000 props whose level
// asks for instancing ("min_instances_per_group" 2: they form one group,
// drawn with one call) against a frame of the same 1,000 props of a
// resource that does not ask for it, each drawn alone (PairedRun.h). Both
// resources hold the same box with the same texture; both sets stand in
// one scene, the plain one turned half round about the camera's vertical
// axis, and each side's camera looks at its own set (the other set lies
// behind it), so both frames show the same picture. Each frame is the
// game's: the scene's step, the contexts' cull and update, the object pass
// on the fixed-function path, read back. The pictures must agree (each
// channel within 2) before the timing and after it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BenchDevice.h"
#include "BenchEngineRoot.h"
#include "BenchPackage.h"
#include "BenchScene.h"
#include "GLBench.h"
#include "PairedRun.h"
#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "model/ModelWriter.h"
#include "model/Y3Mesh.h"
#include "render/RenderCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/VideoCore.h"
#include "render/states/DXStateCache.h"
#include "scene/CameraCore.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/SceneDescription.h"
#include "textures/DdsWriter.h"

namespace {

constexpr int kProps = 1000;
constexpr int kColumns = 40;
constexpr unsigned kSize = 256;

// A box of half size 0.3: four vertices and two triangles a face.
std::string boxLevel(bool instanced) {
    static const float faces[6][4][3] = {
        {{-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1}},      {{1, -1, -1}, {-1, -1, -1}, {-1, 1, -1}, {1, 1, -1}},
        {{1, -1, 1}, {1, -1, -1}, {1, 1, -1}, {1, 1, 1}},      {{-1, -1, -1}, {-1, -1, 1}, {-1, 1, 1}, {-1, 1, -1}},
        {{-1, 1, 1}, {1, 1, 1}, {1, 1, -1}, {-1, 1, -1}},      {{-1, -1, -1}, {1, -1, -1}, {1, -1, 1}, {-1, -1, 1}}};
    static const float uv[4][2] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
    std::string text = "lod\nmeshstream 4\n";
    std::string indices = "index";
    for (int f = 0; f < 6; ++f) {
        for (int v = 0; v < 4; ++v)
            text += "vertex p " + std::to_string(0.3f * faces[f][v][0]) + " " + std::to_string(0.3f * faces[f][v][1]) +
                    " " + std::to_string(0.3f * faces[f][v][2]) + " t " + std::to_string(uv[v][0]) + " " +
                    std::to_string(uv[v][1]) + "\n";
        for (int k : {0, 1, 2, 0, 2, 3}) indices += " " + std::to_string(4 * f + k);
    }
    return text + indices + "\nsubset 0 0 36 24 kind 3 diffuse paint" + (instanced ? " instanced" : "") +
           "\nbox 0.3 0.3 0.3\n";
}

package_tool::Manifest propsManifest() {
    std::vector<std::pair<std::string, std::string>> props;
    for (const bool instanced : {true, false}) {
        const std::string name = instanced ? "crate_grouped" : "crate_alone";
        const std::string level = boxLevel(instanced);
        props.emplace_back(name, "model " + name + "\nelement body\n" + level + level + level);
    }
    return bench_scene::sceneManifest("props", "scene props\nlightset props_default-ffp ambient 0.5 0.5 0.5\n", props);
}

std::vector<std::uint8_t> paintDds() {
    texture_tools::DdsImage image;
    image.width = image.height = 8;
    std::vector<std::uint8_t> texels;
    for (int i = 0; i < 64; ++i)
        texels.insert(texels.end(), {std::uint8_t(40 + 25 * (i % 8)), std::uint8_t(200 - 20 * (i / 8)), 90, 255});
    image.blocks.push_back(texels);
    return texture_tools::writeDds(image);
}

// Half a turn about the vertical axis through the origin: exact in floats.
Matrix34 halfTurned(const Matrix34& pose) {
    Matrix34 out = pose;
    for (int row = 0; row < 4; ++row) {
        out.m[row * 3] = -pose.m[row * 3];
        out.m[row * 3 + 2] = -pose.m[row * 3 + 2];
    }
    return out;
}

// The scene with both sets of props on a GL device of 256 x 256, the
// render core drawing through it on the fixed-function path.
class PropField {
public:
    explicit PropField(benchmark::State& state) : device_(state, true, kSize) {
        gameCore.clocks = &clocks_;
        gameCore.video = &video_;
        gameCore.settings = &settings_;
        gameCore.cameraMode = 1;  // the camera keeps the pose placed here
        settings_.getCategory("render").getVariable("min_instances_per_group").setString("2");
        Y3Mesh::readConfig();
        if (!device_.device() || !root_.built()) return;
        device_.textures.setup.details = 0;
        device_.textures.files["paint.dds"] = paintDds();
        render_ = std::make_unique<RenderCore>();
        gameCore.render = render_.get();
        DXStateCache& cache = render_->stateCache();
        cache.setDevice(device_.device());
        cache.initialize(false);
        if (!cache.setupDeviceDefaults(false) || !render_->streamDeclarations().allocate(device_.device())) return;
        render_->shaders().attach(device_.device(), &cache);
        render_->textures.allocated = true;
        scene_.reset(SceneContext::createScene(root_.scenes.get("props", true)));
        if (!scene_ || !scene_->initialize(matrix34Identity())) return;
        // A wall of 40 x 25 props 24 units ahead, the plain ones behind.
        for (int i = 0; i < kProps; ++i) {
            Matrix34 pose = matrix34Identity();
            pose.m[9] = -15.6f + 0.8f * float(i % kColumns);
            pose.m[10] = -9.6f + 0.8f * float(i / kColumns);
            pose.m[11] = -24.0f - 0.25f * float(i % 7);
            const std::string index = std::to_string(i);
            auto* grouped = static_cast<Model*>(scene_->createModel("crate_grouped", ("g" + index).c_str(), pose, 0));
            auto* alone =
                static_cast<Model*>(scene_->createModel("crate_alone", ("a" + index).c_str(), halfTurned(pose), 0));
            if (!grouped || !alone || !grouped->push() || !alone->push()) return;
            props_.push_back(grouped);
        }
        camera_ = scene_->camera();
        if (!camera_) return;
        render_->camera = camera_;
        ready_ = true;
    }
    ~PropField() {
        if (render_) {
            render_->renderList.clearQueues();
            render_->camera = nullptr;
        }
        if (scene_) scene_->release();
        scene_.reset();
        root_.models.releaseAll();
        if (render_) render_->textures.releaseAll();
        render_.reset();
        settings_.getCategory("render").getVariable("min_instances_per_group").setString("-1");
        Y3Mesh::readConfig();
        gameCore.render = nullptr;
        gameCore.settings = nullptr;
        gameCore.video = nullptr;
        gameCore.clocks = nullptr;
    }
    PropField(const PropField&) = delete;
    PropField& operator=(const PropField&) = delete;

    bool ready() const { return ready_; }
    // The last lines of the log, for a field that did not build.
    std::string lastLines() const {
        std::string text;
        const std::vector<LogRecord> records = root_.log.records();
        for (std::size_t i = records.size() > 4 ? records.size() - 4 : 0; i < records.size(); ++i)
            text += " | " + records[i].text;
        return text;
    }
    // Every grouped prop is drawn by a group.
    bool grouped() const {
        return std::all_of(props_.begin(), props_.end(), [](const Model* m) { return m->elements[0].instancedAt(0); });
    }

    // One frame looking at the grouped set (or the plain one), read back.
    void frame(bool grouped, std::vector<std::uint8_t>& pixels) {
        camera_->pose = grouped ? matrix34Identity() : halfTurned(matrix34Identity());
        bench_scene::sceneFrame(*scene_, *render_, device_.device(), time_, pixels);
    }

private:
    bench_device::ScopedDevice device_;
    TimeCore clocks_;
    VideoCore video_;
    IniFile settings_;
    bench_package::EngineRoot root_{"instancing", propsManifest()};
    std::unique_ptr<RenderCore> render_;
    std::unique_ptr<Scene> scene_;
    CameraCore* camera_ = nullptr;
    std::vector<Model*> props_;
    double time_ = 0.0;
    bool ready_ = false;
};

// Pixels that are not the clear colour.
std::size_t covered(const std::vector<std::uint8_t>& pixels) {
    std::size_t count = 0;
    for (std::size_t i = 0; i + 3 < pixels.size(); i += 4)
        if (pixels[i] || pixels[i + 1] || pixels[i + 2]) ++count;
    return count;
}

void BM_InstancedProps(benchmark::State& state) {
    bench_pairs::fixAllocator();
    PropField field(state);
    if (!field.ready()) {
        state.SkipWithError(("the field of props did not build" + field.lastLines()).c_str());
        return;
    }
    std::vector<std::uint8_t> grouped, alone;
    field.frame(true, grouped);
    field.frame(false, alone);
    auto same = [&] {
        return covered(grouped) > kSize * kSize / 4 && bench_gl::differingPixels(grouped, alone) == 0;
    };
    if (!field.grouped() || !same()) {
        state.SkipWithError(("the grouped props are not all in a group or show another picture: " +
                             std::to_string(bench_gl::differingPixels(grouped, alone)) + " pixels differ, " +
                             std::to_string(covered(grouped)) + " covered")
                                .c_str());
        return;
    }
    bench_pairs::runPaired(state, [&] { field.frame(true, grouped); }, [&] { field.frame(false, alone); }, kProps);
    state.counters["covered"] = double(covered(grouped));
    state.counters["differing"] = double(bench_gl::differingPixels(grouped, alone));
    if (!same()) state.SkipWithError("the grouped and the plain props show different pictures");
}

}  // namespace

BENCHMARK(BM_InstancedProps)->UseManualTime()->MinTime(1.0)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
