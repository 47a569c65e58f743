// The render core's per-frame cull and update of the model contexts: 1,000
// models of 10 resources (10 contexts of 100 models) pushed into a scene and
// spread over a field around the camera, so that some lie outside its view
// and some beyond its visibility distance. The project side is the render
// core's pass (each context culls its models, then queues the draw items of
// those drawn); the baseline is a bare loop over the same models' boxes,
// kept in a flat array, doing the same visibility-distance and frustum tests
// and inserting the same draw items into a render queue. Both must queue
// the same items, checked before and after the timing (PairedRun.h).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchEngineRoot.h"
#include "BenchPackage.h"
#include "BenchScene.h"
#include "PairedRun.h"
#include "app/GameCore.h"
#include "effects/LightSetLibrary.h"
#include "effects/SkyDataManager.h"
#include "foundation/AppPaths.h"
#include "foundation/Log.h"
#include "foundation/Matrix.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "model/ModelContext.h"
#include "model/ModelDataManager.h"
#include "model/ModelElement.h"
#include "model/ModelWriter.h"
#include "package/PackageWriter.h"
#include "render/RenderCore.h"
#include "render/RenderList.h"
#include "resources/PackageDatabase.h"
#include "scene/CameraCore.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "scene/SceneDescription.h"

namespace {

constexpr int kResources = 10;
constexpr int kPerResource = 100;
constexpr int kModels = kResources * kPerResource;

// A prop of one element: a triangle on each of its three levels.
std::string propText(const std::string& name) {
    const std::string level =
        "lod\nmeshstream 2\nvertex p 0 0 0\nvertex p 1 0 0\nvertex p 0 1 0\nindex 0 1 2\n"
        "subset 0 0 3 3 kind 3\nbox 0.5 0.5 0.5\n";
    return "model " + name + "\nelement body\n" + level + level + level;
}

// The package: the scene (without models: the benchmark places them) and
// the props' header and data files.
package_tool::Manifest fieldManifest() {
    std::vector<std::pair<std::string, std::string>> props;
    for (int r = 0; r < kResources; ++r) {
        const std::string name = "prop" + std::to_string(r);
        props.emplace_back(name, propText(name));
    }
    return bench_scene::sceneManifest("field", "scene field\nlightset field_default ambient 0.2 0.2 0.2\n", props);
}

// A data root with the package and the game core's members that read it;
// the scene made on it with its camera, the render core drawing through it.
// Removed at exit.
class Field {
public:
    Field() {
        gameCore.render = &render;
        gameCore.cameraMode = 1;  // the camera keeps the pose placed here
        if (!root_.built()) return;
        scene.reset(SceneContext::createScene(root_.scenes.get("field", true)));
        if (!scene || !scene->initialize(matrix34Identity())) return;
        // A grid of 40 x 25 models, 4 units apart, around the camera.
        for (int i = 0; i < kModels; ++i) {
            Matrix34 pose = matrix34Identity();
            pose.m[9] = -78.0f + 4.0f * float(i % 40);
            pose.m[11] = 40.0f - 4.0f * float(i / 40);
            const std::string resource = "prop" + std::to_string(i % kResources);
            const std::string name = "prop_" + std::to_string(i);
            auto* model = static_cast<Model*>(scene->createModel(resource.c_str(), name.c_str(), pose, 0));
            if (!model || !model->push()) return;
        }
        CameraCore& camera = *scene->camera();
        camera.pose = matrix34Identity();
        camera.pose.m[10] = 2.0f;
        camera.pose.m[11] = 30.0f;
        CurrentTime sample;
        camera.update(sample);
        camera.updateFrustum();
        render.camera = &camera;
        render.takeCamera();
        ready_ = true;
    }
    ~Field() {
        render.renderList.clearQueues();
        render.camera = nullptr;
        if (scene) scene->release();
        scene.reset();
        root_.models.releaseAll();
        gameCore.render = nullptr;
    }
    Field(const Field&) = delete;
    Field& operator=(const Field&) = delete;
    bool ready() const { return ready_; }

private:
    bench_package::EngineRoot root_{"models", fieldManifest()};

public:
    RenderCore render;
    std::unique_ptr<Scene> scene;

private:
    bool ready_ = false;
};

// What the bare loop knows of a model: its element's box, the reach of its
// boxes from its position, its draw instance and where its item goes.
struct BareModel {
    IntersectionOBBox box;
    float position[3];
    float radius;
    float centre[3];
    float radiusSquared;
    std::int32_t key;
    std::int32_t queue;
    RenderObject* object;
    std::int32_t instance;
};

std::vector<BareModel> bareModels(Scene& scene) {
    std::vector<BareModel> out;
    for (GameObjectLink link : scene.models) {
        auto* model = dynamic_cast<Model*>(gameCore.objects->getObject(link));
        if (!model || model->elements.empty() || !model->elements[0].lod()) continue;
        const ModelElementLod& level = *model->elements[0].lod();
        if (level.drawInstances.empty()) continue;
        const ModelDrawInstance& draw = level.drawInstances.front();
        const ModelContext* context = ModelContext::of(model->resource);
        if (!context) continue;
        const auto at = std::find(context->instances.begin(), context->instances.end(), model);
        BareModel bare{};
        bare.box = level.box;
        std::copy_n(&model->worldMatrix.m[9], 3, bare.position);
        float offset[3];
        for (int k = 0; k < 3; ++k) offset[k] = level.box.box.matrix.m[9 + k] - bare.position[k];
        bare.radius = vector3Length(offset) + level.box.radius();
        std::copy_n(draw.centre, 3, bare.centre);
        bare.radiusSquared = draw.radiusSquared;
        bare.key = draw.sortKey;
        bare.queue = draw.queue ? 1 : 0;
        bare.object = &model->resource->renderObject;
        bare.instance = std::int32_t(at - context->instances.begin());
        out.push_back(bare);
    }
    return out;
}

// The bare frame: the visibility distance, the frustum, the depth, the
// insert.
void bareFrame(const std::vector<BareModel>& models, const CameraCore& camera, RenderQueue (&queues)[2]) {
    queues[0].clear();
    queues[1].clear();
    const float* eye = camera.position();
    const float reach = gameCore.renderParameters[12];
    for (const BareModel& m : models) {
        float offset[3];
        for (int k = 0; k < 3; ++k) offset[k] = m.position[k] - eye[k];
        if (vector3Length(offset) - m.radius >= reach || !camera.frustum.intersects(m.box)) continue;
        float d2 = 0.0f;
        for (int k = 0; k < 3; ++k) d2 += (eye[k] - m.centre[k]) * (eye[k] - m.centre[k]);
        const float depth = std::max(d2 - m.radiusSquared, 0.0f);
        queues[m.queue].insert(m.key, DrawItem{m.object, m.instance, 0, 0, 0, depth, depth});
    }
}

// The (object, instance) pairs of both queues, sorted.
std::vector<std::pair<const RenderObject*, std::int32_t>> queuedPairs(const RenderQueue (&queues)[2]) {
    std::vector<std::pair<const RenderObject*, std::int32_t>> out;
    for (const RenderQueue& queue : queues)
        for (const RenderBucket& bucket : queue.buckets)
            for (const DrawItem& item : bucket.items) out.push_back({item.renderObject, item.instance});
    std::sort(out.begin(), out.end());
    return out;
}

void BM_ModelContextCullAndUpdate(benchmark::State& state) {
    bench_pairs::fixAllocator();
    Field field;
    if (!field.ready()) {
        state.SkipWithError("the field of models did not build");
        return;
    }
    RenderCore& render = field.render;
    // One frame places the models' boxes and draw instances.
    render.updateContexts();
    const std::vector<BareModel> models = bareModels(*field.scene);
    if (models.size() != std::size_t(kModels)) {
        state.SkipWithError("not every model has a draw instance");
        return;
    }
    RenderQueue bare[2];
    auto same = [&] {
        const auto drawn = queuedPairs(render.renderList.queues);
        return !drawn.empty() && drawn.size() < std::size_t(kModels) && drawn == queuedPairs(bare);
    };
    bareFrame(models, *render.camera, bare);
    if (!same()) {
        state.SkipWithError("the contexts and the bare loop queue different items");
        return;
    }
    bench_pairs::runPaired(
        state, [&] { render.updateContexts(); }, [&] { bareFrame(models, *render.camera, bare); }, kModels);
    if (!same()) state.SkipWithError("the contexts and the bare loop queue different items");
    state.counters["queued"] = double(queuedPairs(bare).size());
}

}  // namespace

BENCHMARK(BM_ModelContextCullAndUpdate)->UseManualTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
