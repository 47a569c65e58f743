// Meshes for the tests, built by the model writer from a description and
// read through both stored parts as a model resource reads them.
#pragma once

#include <string>

#include "foundation/DataStream.h"
#include "model/ModelWriter.h"
#include "model/Y3Mesh.h"

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

}  // namespace mesh_test
