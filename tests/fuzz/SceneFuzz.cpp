// Fuzz target of the stored scene resources: the scene data record
// (".ms4"), the scene's waypoints (".wp"), a light set (".ls"), the sky
// description (".sky") with the sky's saved words, and the screen actions
// (".as"). The first byte of an input chooses the resource, the rest is its
// stored bytes.
//
// What must hold: a record is accepted whole or not at all (an accepted one
// was read to its last byte, holds only finite geometry and reads back
// whole after it is written again), and a refused one leaves nothing behind.
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "effects/LightSetLibrary.h"
#include "effects/Y3Light.h"
#include "effects/Y3Sky.h"
#include "foundation/DataStream.h"
#include "fuzz/FuzzTarget.h"
#include "resources/StoredDataManager.h"
#include "scene/Scene.h"
#include "scene/SceneDataManager.h"
#include "scene/SceneDescription.h"
#include "scene/SceneWriter.h"

namespace fuzzing {

namespace {

enum SceneResource : std::uint8_t {
    ResourceSceneData,
    ResourceWaypoints,
    ResourceLightSet,
    ResourceSky,
    ResourceActions,
    ResourceKinds,
};

std::string bytesOf(MemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

bool finiteVolume(const IntersectionOBBox& volume) {
    return allFinite(volume.box.matrix.m, 12) && allFinite(volume.box.extents, 3) &&
           allFinite(volume.sphere.matrix.m, 12) && std::isfinite(volume.sphere.radius);
}

bool finiteGeometry(const SceneData& data) {
    for (const SceneModelPlacement& model : data.models)
        if (!allFinite(model.pose.m, 12)) return false;
    for (const SceneSpritePlacement& sprite : data.sprites)
        if (!allFinite(sprite.pose.m, 12)) return false;
    for (const std::unique_ptr<Y3Light>& light : data.lights)
        if (!light || !allFinite(light->pose.m, 12) || !std::isfinite(light->radius)) return false;
    for (const std::unique_ptr<Y3Pose>& pose : data.poses)
        if (!pose || !allFinite(pose->pose.m, 12)) return false;
    for (const auto& area : data.pvs.areas)
        for (const auto& volume : area->volumes)
            if (!finiteVolume(*volume)) return false;
    for (const auto& portal : data.pvs.portals)
        if (!finiteVolume(portal->volume)) return false;
    return true;
}

void fuzzSceneData(const std::string& bytes) {
    SceneData data;
    MemoryStream stream(const_cast<char*>(bytes.data()), static_cast<std::int32_t>(bytes.size()));
    const std::int32_t result = data.read(stream);
    if (result < 0) {
        data.release();
        return;
    }
    fuzzCheck(result == static_cast<std::int32_t>(bytes.size()), "scene: an accepted record left bytes unread");
    fuzzCheck(finiteGeometry(data), "scene: an accepted record holds geometry that is not finite");
    // Written again, the record reads back whole and writes a record of the
    // same size (an oriented box's axes are normalised again at each read,
    // so their last bits may differ).
    MemoryStream first(true);
    const std::int32_t written = data.write(first);
    fuzzCheck(written == first.size(), "scene: an accepted record cannot be written again");
    const std::string once = bytesOf(first);
    SceneData again;
    MemoryStream in(const_cast<char*>(once.data()), static_cast<std::int32_t>(once.size()));
    fuzzCheck(again.read(in) == written, "scene: a written record does not read back");
    MemoryStream second(true);
    again.write(second);
    fuzzCheck(second.size() == first.size(), "scene: a record read back writes a record of another size");
    again.release();
    data.release();
}

void checkWaypoints(const std::string& bytes) {
    std::vector<std::unique_ptr<Y3Pose>> poses;
    MemoryStream stream(const_cast<char*>(bytes.data()), static_cast<std::int32_t>(bytes.size()));
    const std::int32_t result = readWaypointResource(stream, poses, "fuzz");
    if (result < 0) {
        fuzzCheck(poses.empty(), "waypoints: a refused resource kept poses");
        return;
    }
    fuzzCheck(result == static_cast<std::int32_t>(bytes.size()), "waypoints: an accepted resource left bytes unread");
    MemoryStream out(true);
    writeU32(out, static_cast<std::uint32_t>(poses.size()));
    for (const std::unique_ptr<Y3Pose>& pose : poses) {
        fuzzCheck(pose && allFinite(pose->pose.m, 12), "waypoints: an accepted pose is not finite");
        fuzzCheck(pose->writeBinary(out) >= 0, "waypoints: an accepted pose cannot be written again");
    }
    const std::string once = bytesOf(out);
    std::vector<std::unique_ptr<Y3Pose>> again;
    MemoryStream in(const_cast<char*>(once.data()), static_cast<std::int32_t>(once.size()));
    fuzzCheck(readWaypointResource(in, again, "fuzz") == static_cast<std::int32_t>(once.size()) &&
                  again.size() == poses.size(),
              "waypoints: a written resource does not read back");
}

void fuzzLightSet(const std::string& bytes) {
    LightSet set;
    MemoryStream stream(const_cast<char*>(bytes.data()), static_cast<std::int32_t>(bytes.size()));
    if (!readStoredLightSet(stream, set)) return;
    // Stored again, the set reads back the same.
    const std::string stored = scene_tools::lightSetBytes(set);
    LightSet again;
    MemoryStream in(const_cast<char*>(stored.data()), static_cast<std::int32_t>(stored.size()));
    fuzzCheck(readStoredLightSet(in, again) && std::memcmp(&set, &again, sizeof(LightSet)) == 0,
              "light set: a stored set does not read back");
}

// A sky description loads its 16 records from a long enough file and none
// from a shorter one; its text form parses whatever it holds; the sky's
// saved words are read whole or not at all.
void fuzzSky(const std::string& bytes) {
    Y3SkyDataInstance description("fuzz");
    MemoryStream stream(const_cast<char*>(bytes.data()), static_cast<std::int32_t>(bytes.size()));
    const std::int32_t kept = description.readHeader(stream);
    const bool whole = bytes.size() >= static_cast<std::size_t>(kSkyTableBytes);
    fuzzCheck(whole == (kept == kSkyTableBytes), "sky: a description loaded by its size");
    fuzzCheck(!whole || std::memcmp(description.records(), bytes.data(), kSkyTableBytes) == 0,
              "sky: the records are not the file's");
    SkyTable table;
    parseSkyText("fuzz", bytes, table);
    Y3Sky sky(nullptr);
    MemoryStream fresh(true);
    sky.write(fresh);
    MemoryStream words(const_cast<char*>(bytes.data()), static_cast<std::int32_t>(bytes.size()));
    const std::int32_t result = sky.read(words);
    MemoryStream after(true);
    sky.write(after);
    if (result < 0) fuzzCheck(bytesOf(after) == bytesOf(fresh), "sky: refused words changed the sky");
    fuzzCheck((sky.state & (kSkyRegistered | kSkyAllocated)) == 0, "sky: read words left the sky pushed");
}

std::string withKind(SceneResource kind, const std::string& bytes) { return std::string(1, static_cast<char>(kind)) + bytes; }

constexpr char kSeedScene[] = R"(
scene harbour
sky all all horizon 0.3 0.5 0.7 cloudsspeed 0.02
sky nighttime clouds skycolor 0.1 0.2 0.3 fog 60 900 depth 1 2 3 4 5
actions
screen hall
action door order 2 help 10 20 cells 0 0 3 3 cells 250 180 255 191
lightset harbour_default ambient 0.2 0.2 0.3 diffuse 1 0.9 0.8
light point lamp at 1 2 3 radius 4 colour 1 0.9 0.7 lightset harbour_default
light direct sun radius 50 distance 100
model boat boat_model at 1 0 0 texture_set 2
sprite gull gull_sprite at 0 3 0
pose camera view at 0 5 -10
pose point spawn at 0 0 1
pose trigger gate at 4 0 4
pose volume dock at 8 0 8
pose particle smoke at 2 2 2
waypoint point pier at 5 0 5
waypoint camera overview at 0 20 -20
waypoint trigger pier_gate at 12 0 4
area water at 0 0 0 extents 40 10 40
area pier at 12 0 4 extents 3 5 3
)";

}  // namespace

int fuzzScene(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > (1u << 20)) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % ResourceKinds) {
    case ResourceSceneData: fuzzSceneData(bytes); break;
    case ResourceWaypoints: checkWaypoints(bytes); break;
    case ResourceLightSet: fuzzLightSet(bytes); break;
    case ResourceSky: fuzzSky(bytes); break;
    default: checkActionResource(bytes, false); break;
    }
    forgetLog();
    return 0;
}

void seedScene(std::vector<std::string>& out) {
    scene_tools::SceneDescription scene;
    std::string error;
    fuzzCheck(scene_tools::parseSceneDescription(kSeedScene, scene, error), "scene: the seed description");
    // A portal between the two areas, and a projected texture on each light.
    scene_tools::VisibilityBuilder build;
    const float water[3] = {0, 0, 0}, waterSize[3] = {40, 10, 40};
    const float pier[3] = {12, 0, 4}, pierSize[3] = {3, 5, 3};
    const float gate[3] = {10, 0, 4}, gateSize[3] = {0.1f, 2, 1};
    build.addArea("water", water, waterSize);
    build.addArea("pier", pier, pierSize);
    build.addPortal("gangway", gate, gateSize, 0, 1, "gate_door");
    build.hideIn(1, "boat");
    scene.data.pvs.copyFrom(build.pvs());
    if (auto* lamp = dynamic_cast<Y3Light_POINT*>(scene.data.lights[0].get())) lamp->texture.init("lamp_mask", 0, 1, 1);
    if (auto* sun = dynamic_cast<Y3Light_DIRECT*>(scene.data.lights[1].get())) sun->textures[1].init("clouds", 1);
    out.push_back(withKind(ResourceSceneData, scene_tools::sceneDataBytes(scene.data)));
    out.push_back(withKind(ResourceSceneData, scene_tools::sceneDataBytes(SceneData{})));
    out.push_back(withKind(ResourceWaypoints, scene_tools::waypointBytes(scene.waypoints)));
    for (const LightSet& set : scene.lightSets) out.push_back(withKind(ResourceLightSet, scene_tools::lightSetBytes(set)));
    Y3Sky sky(nullptr);
    sky.timeOfDay = 2;
    MemoryStream words(true);
    sky.write(words);
    out.push_back(withKind(ResourceSky, bytesOf(words)));
    out.push_back(withKind(ResourceSky, scene_tools::skyTableBytes(scene.skyTable)));
    out.push_back(withKind(ResourceSky, "[Day] (clear) skycolor 255,0,127 fogtime 50, 900\n[nighttime] (fog) depth 1, 2, 3\n"));
    out.push_back(withKind(ResourceActions, scene_tools::sceneActionBytes(scene)));
}

int fuzzWaypoints(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    checkWaypoints(std::string(reinterpret_cast<const char*>(data), size));
    forgetLog();
    return 0;
}

void seedWaypoints(std::vector<std::string>& out) {
    scene_tools::SceneDescription scene;
    std::string error;
    fuzzCheck(scene_tools::parseSceneDescription(kSeedScene, scene, error), "scene: the seed description");
    out.push_back(scene_tools::waypointBytes(scene.waypoints));
}

}  // namespace fuzzing
