// A scene's load at two sizes in one process: 30,000 models and 30,000
// lights beside 3,000 of each, the two loads run alternately (see
// PairedRun.h). The scene writer makes the resources from its description
// format (the ".ms4" scene data record and the scene's default light set),
// stored with the model resource every placement shows (made by the model
// writer) in a package of a temporary data root; each load reads the record
// through the scene data manager, makes the scene on it and initialises it,
// as the game does. x_baseline is the large load over the small one (10 when
// loading is linear); growth_exponent is its logarithm to base 10, the
// exponent of n in the load's cost.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "BenchEngineRoot.h"
#include "BenchPackage.h"
#include "PairedRun.h"
#include "app/GameCore.h"
#include "effects/LightSetLibrary.h"
#include "effects/SkyDataManager.h"
#include "foundation/AppPaths.h"
#include "foundation/Log.h"
#include "foundation/Matrix.h"
#include "model/ModelDataManager.h"
#include "model/ModelWriter.h"
#include "package/PackageWriter.h"
#include "resources/PackageDatabase.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "scene/SceneDescription.h"

namespace {

// The description of a scene of count models and count point lights spread
// over a grid, with its default light set.
std::string describedScene(const std::string& name, int count) {
    std::string text = "scene " + name + "\nlightset " + name + "_default ambient 0.2 0.2 0.2\n";
    for (int i = 0; i < count; ++i) {
        const std::string at = " at " + std::to_string(i % 200) + " 0 " + std::to_string(i / 200);
        text += "model crate" + std::to_string(i) + " crate" + at + "\n";
        text += "light point lamp" + std::to_string(i) + at + " radius 2\n";
    }
    return text;
}

// The crate every model of the scenes shows: one element, a triangle on
// each of its three levels.
const char kCrateText[] =
    "model crate\nelement body\n"
    "lod\nmeshstream 2\nvertex p 0 0 0\nvertex p 1 0 0\nvertex p 0 1 0\nindex 0 1 2\n"
    "subset 0 0 3 3 kind 3\nbox 0.5 0.5 0.5\n"
    "lod\nmeshstream 2\nvertex p 0 0 0\nvertex p 1 0 0\nvertex p 0 1 0\nindex 0 1 2\n"
    "subset 0 0 3 3 kind 3\nbox 0.5 0.5 0.5\n"
    "lod\nmeshstream 2\nvertex p 0 0 0\nvertex p 1 0 0\nvertex p 0 1 0\nindex 0 1 2\n"
    "subset 0 0 3 3 kind 3\nbox 0.5 0.5 0.5\n";

// The stored files of the described scenes and of their crate, in one
// package.
package_tool::Manifest sceneManifest(const std::vector<std::pair<std::string, int>>& scenes) {
    package_tool::Manifest manifest;
    manifest.versions.push_back("bench");
    auto add = [&](const std::string& mask, const std::string& name, std::string bytes) {
        bench_package::addFile(manifest, "scenes", mask, name, std::move(bytes));
    };
    for (const auto& [name, count] : scenes) {
        scene_tools::SceneDescription scene;
        std::string error;
        if (!scene_tools::parseSceneDescription(describedScene(name, count), scene, error)) continue;
        add(".ms4", name, scene_tools::sceneDataBytes(scene.data));
        add(".sky", name, "sky");
        for (const LightSet& set : scene.lightSets) add(".ls", set.name, scene_tools::lightSetBytes(set));
    }
    model_tools::ModelDescription crate;
    std::string error;
    if (model_tools::parseModelDescription(kCrateText, crate, error) && !crate.models.empty()) {
        const model_tools::ModelFile& file = crate.models.front();
        add(".mh4", "crate", model_tools::modelFileBytes(*file.model, "crate", true));
        add(".my3", "crate", model_tools::modelFileBytes(*file.model, "crate", false));
        for (model_tools::ModelFile& made : crate.models) made.model->release();
    }
    return manifest;
}

// A data root with the package of the scenes and the game core's members
// that read it; the root is removed at exit.
class SceneRoot {
public:
    explicit SceneRoot(const std::vector<std::pair<std::string, int>>& scenes) : root_("scenes", sceneManifest(scenes)) {}
    bool built() const { return root_.built(); }
    SceneDataManager& manager() { return root_.scenes; }

private:
    bench_package::EngineRoot root_;
};

// One load of a stored scene: its record read, the scene made on it and
// initialised. The scene stays until clear(), which also drops the record's
// data, so that the next load reads it again.
class SceneLoad {
public:
    SceneLoad(SceneRoot& root, std::string name) : root_(root), name_(std::move(name)) {}
    ~SceneLoad() { clear(); }
    SceneLoad(const SceneLoad&) = delete;
    SceneLoad& operator=(const SceneLoad&) = delete;

    void load() {
        record_ = root_.manager().get(name_.c_str(), true);
        scene_.reset(SceneContext::createScene(record_));
        loaded_ = scene_ && !scene_->isDebugScene() && scene_->initialize(matrix34Identity());
    }
    void clear() {
        if (scene_) scene_->release();
        scene_.reset();
        if (record_) record_->release();
        loaded_ = false;
    }
    // True when the scene loaded whole, with count models and lights.
    bool holds(std::size_t count) const {
        return loaded_ && scene_->models.size() == count && scene_->lights.size() == count;
    }

private:
    SceneRoot& root_;
    std::string name_;
    Y3SceneDataInstance* record_ = nullptr;
    std::unique_ptr<Scene> scene_;
    bool loaded_ = false;
};

void BM_SceneLoadGrowth(benchmark::State& state) {
    bench_pairs::fixAllocator();
    const int small = static_cast<int>(state.range(0));
    const int large = small * 10;
    SceneRoot root({{"big", large}, {"little", small}});
    if (!root.built()) {
        state.SkipWithError("the data root did not build");
        return;
    }
    SceneLoad big(root, "big");
    SceneLoad little(root, "little");
    bench_pairs::runPaired(
        state, [&] { big.load(); }, [&] { little.load(); }, 1.0,
        [&] {
            big.clear();
            little.clear();
        });
    big.load();
    little.load();
    if (!big.holds(static_cast<std::size_t>(large)) || !little.holds(static_cast<std::size_t>(small)))
        state.SkipWithError("a scene did not load whole");
    const double ratio = state.counters["x_baseline"];
    state.counters["growth_exponent"] = ratio > 0.0 ? std::log10(ratio) : 0.0;
}

}  // namespace

BENCHMARK(BM_SceneLoadGrowth)->Arg(3000)->Iterations(7)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
