// Scenes of the benchmarks: a package holding a scene (from a scene
// description, with its light sets) and the header and data files of model
// descriptions; and one frame of the game over such a scene on a device,
// read back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "BenchPackage.h"
#include "foundation/TimeCore.h"
#include "model/ModelWriter.h"
#include "platform/d3d9/D3D9.h"
#include "render/RenderCore.h"
#include "render/shaders/ShaderCore.h"
#include "scene/Scene.h"
#include "scene/SceneDescription.h"

namespace bench_scene {

// The package of the scene described by sceneText (its data under the name
// title, an empty sky) and of each (name, model description) pair; a
// description that does not read is left out.
inline package_tool::Manifest sceneManifest(const std::string& title, const std::string& sceneText,
                                            const std::vector<std::pair<std::string, std::string>>& models) {
    package_tool::Manifest manifest;
    manifest.versions.push_back("bench");
    auto add = [&](const std::string& mask, const std::string& name, std::string bytes) {
        bench_package::addFile(manifest, title, mask, name, std::move(bytes));
    };
    scene_tools::SceneDescription scene;
    std::string error;
    if (scene_tools::parseSceneDescription(sceneText, scene, error)) {
        add(".ms4", title, scene_tools::sceneDataBytes(scene.data));
        add(".sky", title, "sky");
        for (const LightSet& set : scene.lightSets) add(".ls", set.name, scene_tools::lightSetBytes(set));
    }
    for (const auto& [name, text] : models) {
        model_tools::ModelDescription description;
        if (!model_tools::parseModelDescription(text, description, error) || description.models.empty()) continue;
        model_tools::ModelFile& file = description.models.front();
        add(".mh4", name, model_tools::modelFileBytes(*file.model, name, true));
        add(".my3", name, model_tools::modelFileBytes(*file.model, name, false));
        for (model_tools::ModelFile& made : description.models) made.model->release();
    }
    return manifest;
}

// One frame of 1/30 s as the game draws it: the scene's step, the camera
// taken and the contexts culled and updated (then afterUpdate, when given),
// the object pass into the cleared back buffer, read back into pixels.
inline void sceneFrame(Scene& scene, RenderCore& render, IDirect3DDevice9* device, double& time,
                       std::vector<std::uint8_t>& pixels, const std::function<void()>& afterUpdate = {}) {
    time += 1.0 / 30.0;
    CurrentTime sample;
    sample.game.time = sample.world.time = time;
    sample.game.step = sample.world.step = 1.0 / 30.0;
    scene.updatePhase0(sample, 0);
    scene.updatePhase1(sample, 0);
    render.takeCamera();
    render.updateContexts();
    if (afterUpdate) afterUpdate();
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    device->BeginScene();
    render.shaders().resetPass();
    scene.updatePhase2(CurrentTime(-1.0), 0);
    render.renderObjectContexts();
    render.quadBatch.flush();
    device->EndScene();
    IDirect3DSurface9* back = nullptr;
    device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    D3DSURFACE_DESC desc{};
    if (back) {
        platform::d3d9::readSurface(back, pixels, desc);
        back->Release();
    }
}

}  // namespace bench_scene
