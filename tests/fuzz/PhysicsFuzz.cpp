// Fuzz targets of the physics model descriptions (".fh4" with its ".fy3"),
// of the compiled physics surfaces (".mat") and of the physics objects'
// save records as the check of a restore reads them.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "control/PhysicsScene.h"
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

// Saved physics objects, one after another: a kind byte (0 physics scene,
// 1 physics model, 2 physics trigger), its handle (u32), then its record.
// Once the records are read, the links are checked: when they pass, no
// physics scene lists a physics scene (itself among them), an object of a
// kind other than the list's, or one handle twice.
int fuzzPhysicsSave(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    MemoryStream in = streamOver(data, size);
    PhysicsSaveCheck check;
    struct Seen {
        std::uint32_t handle, kind;
    };
    std::vector<Seen> seen;
    std::vector<std::vector<std::uint32_t>> lists[2];
    while (in.tell() < in.size()) {
        std::uint8_t kind = 0;
        std::uint32_t handle = 0;
        if (readU8(in, kind) < 0 || readU32(in, handle) < 0) break;
        handle &= 0x00FFFFFFu;
        const std::int32_t at = in.tell();
        std::int32_t result = -1;
        if (kind == 0) result = check.checkScene(handle, in);
        else if (kind == 1) result = check.checkModel(handle, in);
        else if (kind == 2) result = check.checkTrigger(handle, in);
        if (result < 0) break;
        fuzzCheck(in.tell() - at == result, "physicssave: a record's count differs from the bytes read");
        seen.push_back({handle, kind});
        if (kind == 0) {
            // The scene's own lists, read again from its record.
            in.setPosition(at);
            std::uint32_t flags = 0;
            std::vector<std::uint32_t> models, triggers;
            fuzzCheck(readU32(in, flags) == 4 && readUIntArray(in, models) >= 0 && readUIntArray(in, triggers) >= 0,
                      "physicssave: a checked scene record does not read again");
            lists[0].push_back(std::move(models));
            lists[1].push_back(std::move(triggers));
        }
    }
    if (check.linksHold()) {
        std::vector<std::uint32_t> listed;
        for (std::uint32_t list = 0; list < 2; ++list)
            for (const std::vector<std::uint32_t>& links : lists[list])
                for (std::uint32_t value : links) {
                    const std::uint32_t handle = value & 0x00FFFFFFu;
                    const bool ofKind = std::any_of(seen.begin(), seen.end(), [&](const Seen& s) {
                        return s.handle == handle && s.kind == list + 1;
                    });
                    const bool scene = std::any_of(seen.begin(), seen.end(), [&](const Seen& s) {
                        return s.handle == handle && s.kind == 0;
                    });
                    fuzzCheck(ofKind && !scene, "physicssave: a passed list names an object of another kind");
                    fuzzCheck(std::find(listed.begin(), listed.end(), handle) == listed.end(),
                              "physicssave: a passed list names a handle twice");
                    listed.push_back(handle);
                }
    }
    forgetLog();
    return 0;
}

void seedPhysicsSave(std::vector<std::string>& out) {
    const auto u32 = [](std::uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    const auto f32 = [](float v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    const auto head = [&](std::uint8_t kind, std::uint32_t handle) { return std::string(1, char(kind)) + u32(handle); };
    using Links = std::vector<std::uint32_t>;
    const auto scene = [&](std::uint32_t handle, const Links& models, const Links& triggers) {
        std::string bytes = head(0, handle) + u32(1) + u32(std::uint32_t(models.size()));
        for (std::uint32_t m : models) bytes += u32(m);
        bytes += u32(std::uint32_t(triggers.size()));
        for (std::uint32_t t : triggers) bytes += u32(t);
        return bytes;
    };
    // A model with one actor and two joint handles.
    const auto model = [&](std::uint32_t handle, std::uint32_t owner) {
        std::string bytes = head(1, handle) + f32(1) + f32(1) + f32(1);
        bytes += u32(owner) + u32(0) + u32(0x400) + u32(0xFFFFFFFF);
        bytes += u32(1) + u32(0x100);
        for (int i = 0; i < 12; ++i) bytes += f32(i % 4 == 0 ? 1.0f : 0.0f);
        return bytes + u32(2) + u32(0) + u32(0);
    };
    const auto trigger = [&](std::uint32_t handle, std::uint32_t owner) {
        return head(2, handle) + u32(9) + u32(owner);
    };
    out.push_back(scene(3, {4, 5}, {6}) + model(4, 3) + model(5, 3) + trigger(6, 3));
    out.push_back(model(4, 3) + trigger(6, 3) + scene(3, {4}, {6}));
    out.push_back(scene(3, {}, {}));
    out.push_back(scene(3, {4}, {}) + scene(7, {8}, {}) + model(4, 3) + model(8, 7));
}

}  // namespace fuzzing
