// Meshes for the tests, built by the model writer from a description and
// read through both stored parts as a model resource reads them.
#pragma once

#include <memory>
#include <string>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/IniFile.h"
#include "foundation/TimeCore.h"
#include "model/ModelWriter.h"
#include "model/Y3Mesh.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "support/TestSupport.h"

namespace mesh_test {

// Reads the first mesh of a description into mesh; false when the
// description or either part is refused.
inline bool loadMesh(Y3Mesh& mesh, const std::string& text, bool skinTail = false) {
    model_tools::ModelDescription description;
    std::string error;
    if (!model_tools::parseModelDescription(text, description, error) || description.meshes.empty()) return false;
    for (bool header : {true, false}) {
        std::string bytes = model_tools::meshPartBytes(*description.meshes.front().mesh, skinTail, header);
        MemoryStream in(bytes.data(), std::int32_t(bytes.size()));
        if (mesh.read(in, skinTail, header) <= 0) return false;
    }
    return true;
}

inline MeshMatrix translation(float x, float y, float z = 0.0f) {
    MeshMatrix m;
    m.m[3][0] = x;
    m.m[3][1] = y;
    m.m[3][2] = z;
    return m;
}

// The cores a mesh test draws with: the settings, the game clock, a video
// core and a render core (made by the fixture once its device exists).
struct MeshCores {
    // The render core installed in the game core.
    void makeRender() {
        render = std::make_unique<RenderCore>();
        useRender = std::make_unique<testing_support::ScopedCoreMember<RenderCore>>(gameCore.render, render.get());
    }
    // Back to the default mesh settings, and the render core gone.
    void releaseRender() {
        IniFile empty;
        testing_support::ScopedCoreMember<IniFile> useEmpty(gameCore.settings, &empty);
        Y3Mesh::readConfig();
        useRender.reset();
        render.reset();
    }

    testing_support::ScopedGameCore core;
    IniFile settings;
    testing_support::ScopedCoreMember<IniFile> useSettings{gameCore.settings, &settings};
    TimeCore clocks;
    testing_support::ScopedCoreMember<TimeCore> useClocks{gameCore.clocks, &clocks};
    VideoCore video;
    testing_support::ScopedCoreMember<VideoCore> useVideo{gameCore.video, &video};
    std::unique_ptr<RenderCore> render;
    std::unique_ptr<testing_support::ScopedCoreMember<RenderCore>> useRender;
};

}  // namespace mesh_test
