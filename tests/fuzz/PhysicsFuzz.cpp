// Fuzz targets of the physics model descriptions (".fh4" with its ".fy3")
// and of the compiled physics surfaces (".mat").
#include <cstring>
#include <string>

#include "control/SurfaceDataManager.h"
#include "control/Y3PhysicsModelData.h"
#include "foundation/DataStream.h"
#include "fuzz/FuzzTarget.h"
#include "physics/PhysicsWriter.h"

namespace fuzzing {

namespace {

MemoryStream streamOver(const std::uint8_t* data, std::size_t size) {
    return MemoryStream(const_cast<std::uint8_t*>(data), static_cast<std::int32_t>(size));
}

// A u32 header length, the header, then the data file.
std::string modelInput(const physics_tools::PhysicsModelFile& model) {
    const std::string header = physics_tools::headerBytes(model);
    const std::string data = physics_tools::dataBytes(model);
    const auto length = static_cast<std::uint32_t>(header.size());
    return std::string(reinterpret_cast<const char*>(&length), 4) + header + data;
}

}  // namespace

// Whatever header is accepted names no more actors and joints than its
// bytes hold and keeps every name terminated; an accepted data part holds
// no more bulk bytes than it was given.
int fuzzPhysicsModel(const std::uint8_t* data, std::size_t size) {
    if (size < 4 || size > (1u << 20)) return 0;
    std::uint32_t headerLength = 0;
    std::memcpy(&headerLength, data, 4);
    const std::size_t rest = size - 4;
    if (headerLength > rest) headerLength = static_cast<std::uint32_t>(rest);
    MemoryStream header = streamOver(data + 4, headerLength);
    MemoryStream body = streamOver(data + 4 + headerLength, rest - headerLength);
    Y3PhysicsModelData model;
    const std::int32_t headerRead = model.readHeader(header);
    if (headerRead >= 0) {
        fuzzCheck(headerRead <= static_cast<std::int32_t>(headerLength), "physics: more header bytes read than given");
        fuzzCheck(model.actors.size() * 134 + model.joints.size() * 101 <= headerLength,
                  "physics: more entries than the header holds");
        for (const auto& actor : model.actors) {
            fuzzCheck(actor && std::memchr(actor->name, 0, sizeof(actor->name)) &&
                          std::memchr(actor->bone, 0, sizeof(actor->bone)),
                      "physics: an actor name is not terminated");
            for (const auto& material : actor->materials)
                fuzzCheck(std::memchr(material.data(), 0, material.size()) != nullptr,
                          "physics: a material name is not terminated");
        }
        const std::int32_t dataRead = model.readData(body);
        if (dataRead >= 0) {
            std::size_t bulk = 0;
            for (const auto& actor : model.actors)
                for (const auto& array : actor->bulk) bulk += array.size();
            fuzzCheck(bulk <= rest - headerLength && dataRead <= static_cast<std::int32_t>(rest - headerLength),
                      "physics: more data bytes than given");
        }
    }
    model.release(nullptr);
    forgetLog();
    return 0;
}

void seedPhysicsModel(std::vector<std::string>& out) {
    const char* const descriptions[] = {
        "model empty\n",
        "model crate\nactor box body size 1 2 3 mass 4 material wood material metal\n"
        "actor capsule hero flags controller,modelLink height 2 radius 0.5 bone bip01\n"
        "actor sphere ball radius 0.3\njoint fixed weld flags breakable actors 0 1 maxforce 10 maxtorque 2\n"
        "joint prismatic slide actors 1 2\n",
        "model ground\nactor mesh floor\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 0 1\ntriangle 0 1 2 material 1\n"
        "actor cloth sail flags cloth\nvertex 0 1 0\nclothdata 2 1\nactor convex rock\nvertex 1 1 1\n",
    };
    for (const char* text : descriptions) {
        physics_tools::PhysicsDescription description;
        std::string error;
        if (physics_tools::parsePhysicsDescription(text, description, error))
            out.push_back(modelInput(description.models.front()));
    }
}

// An accepted surface writes back to content that reads the same.
int fuzzSurface(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    MemoryStream stored = streamOver(data, size);
    PhysicsSurface surface;
    if (readCompiledSurface(stored, surface)) {
        fuzzCheck(std::memchr(surface.name, 0, sizeof(surface.name)) != nullptr, "surface: name not terminated");
        MemoryStream compiled;
        fuzzCheck(compileSurface(surface, compiled), "surface: an accepted surface is not written");
        compiled.setPosition(0);
        PhysicsSurface again;
        fuzzCheck(readCompiledSurface(compiled, again), "surface: a written surface is not read back");
        fuzzCheck(std::strcmp(again.name, surface.name) == 0 &&
                      std::memcmp(&again.dynamicFriction, &surface.dynamicFriction, 11 * 4) == 0,
                  "surface: a written surface reads back different");
    }
    forgetLog();
    return 0;
}

void seedSurface(std::vector<std::string>& out) {
    physics_tools::PhysicsDescription description;
    std::string error;
    if (!physics_tools::parsePhysicsDescription(
            "surface default\n"
            "surface ice dynamic 0.05 static 0.1 restitution 0.2 frictioncombine min restitutioncombine max\n"
            "surface rubber spring 10 0.5 1 anisotropic 0.3 0.4 0 1 0\n",
            description, error))
        return;
    for (const auto& surface : description.surfaces) out.push_back(physics_tools::surfaceBytes(surface));
}

}  // namespace fuzzing
