#include "scene/ScenePVS.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "effects/Particle.h"
#include "effects/ParticleLayer.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "model/Model.h"
#include "scene/CameraCore.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"

namespace {

bool contains(const std::vector<std::int32_t>& list, std::int32_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

void append(std::vector<std::int32_t>& list, const std::vector<std::int32_t>& more) {
    list.insert(list.end(), more.begin(), more.end());
}

// --- Stored fields ----------------------------------------------------------

std::int32_t writeIntArray(DataStream& s, const std::vector<std::int32_t>& list) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(s, static_cast<std::uint32_t>(list.size())))) return total;
    for (std::int32_t value : list)
        if (!addField(total, writeI32(s, value))) return total;
    return total;
}

// A count the stream cannot hold is refused before anything is allocated.
bool countFits(DataStream& s, std::uint32_t count, std::uint32_t elementSize) {
    return count <= static_cast<std::uint32_t>(bytesLeft(s)) / elementSize;
}

std::int32_t readIntArray(DataStream& s, std::vector<std::int32_t>& list) {
    std::int32_t total = 0;
    std::uint32_t count = 0;
    list.clear();
    if (!addField(total, readU32(s, count))) return total;
    if (!countFits(s, count, 4)) return -1;
    list.resize(count);
    for (std::int32_t& value : list)
        if (!addField(total, readI32(s, value))) return total;
    return total;
}

std::int32_t writeName(DataStream& s, const char* name) {
    const std::size_t length = strnlen(name, 127);
    std::int32_t total = 0;
    if (!addField(total, writeU8(s, static_cast<std::uint8_t>(length)))) return total;
    if (length) addField(total, s.write(name, static_cast<std::int32_t>(length)));
    return total;
}

std::int32_t readName(DataStream& s, char* name) {
    std::int32_t total = 0;
    std::uint8_t length = 0;
    std::memset(name, 0, 128);
    if (!addField(total, readU8(s, length))) return total;
    if (length > 127) return -1;
    if (length) addField(total, readExact(s, name, length));
    return total;
}

std::int32_t writeObjectName(DataStream& s, const PVSObjectName& entry) {
    std::int32_t total = 0;
    if (!addField(total, writeI32(s, entry.index))) return total;
    addField(total, s.write(entry.name, sizeof(entry.name)));
    return total;
}

std::int32_t readObjectName(DataStream& s, PVSObjectName& entry) {
    std::int32_t total = 0;
    if (!addField(total, readI32(s, entry.index))) return total;
    if (!addField(total, readExact(s, entry.name, sizeof(entry.name)))) return total;
    entry.name[sizeof(entry.name) - 1] = 0;
    return total;
}

std::int32_t writeObjectNames(DataStream& s, const std::vector<PVSObjectName>& list) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(s, static_cast<std::uint32_t>(list.size())))) return total;
    for (const PVSObjectName& entry : list)
        if (!addField(total, writeObjectName(s, entry))) return total;
    return total;
}

std::int32_t readObjectNames(DataStream& s, std::vector<PVSObjectName>& list) {
    std::int32_t total = 0;
    std::uint32_t count = 0;
    list.clear();
    if (!addField(total, readU32(s, count))) return total;
    if (!countFits(s, count, 132)) return -1;
    list.resize(count);
    for (PVSObjectName& entry : list)
        if (!addField(total, readObjectName(s, entry))) return total;
    return total;
}

// A stored volume whose numbers are not all finite is refused: it would
// place the area or portal nowhere and every test against it would fail.
std::int32_t readVolume(DataStream& s, IntersectionOBBox& volume, const char* kind, const char* name) {
    const std::int32_t result = volume.read(s);
    if (result < 0) return result;
    if (!allFinite(volume.box.matrix.m, 12) || !allFinite(volume.box.extents, 3) ||
        !allFinite(volume.sphere.matrix.m, 12) || !std::isfinite(volume.sphere.radius)) {
        engineLog().error("Can't read visibility %s [%s]: its volume holds numbers that are not finite", kind, name);
        return -1;
    }
    return result;
}

std::int32_t writeArea(DataStream& s, const PVSAreaRecord& area) {
    std::int32_t total = 0;
    if (!addField(total, writeName(s, area.name))) return total;
    if (!addField(total, writeU32(s, static_cast<std::uint32_t>(area.volumes.size())))) return total;
    for (const auto& volume : area.volumes)
        if (!addField(total, volume->write(s))) return total;
    if (!addField(total, writeIntArray(s, area.portals))) return total;
    if (!addField(total, writeObjectNames(s, area.excludedObjects))) return total;
    addField(total, writeObjectNames(s, area.hiddenObjects));
    return total;
}

std::int32_t readArea(DataStream& s, PVSAreaRecord& area) {
    std::int32_t total = 0;
    std::uint32_t count = 0;
    if (!addField(total, readName(s, area.name))) return total;
    if (!addField(total, readU32(s, count))) return total;
    if (!countFits(s, count, 112)) return -1;
    for (std::uint32_t i = 0; i < count; ++i) {
        auto volume = std::make_unique<IntersectionOBBox>();
        if (!addField(total, readVolume(s, *volume, "area", area.name))) return total;
        area.volumes.push_back(std::move(volume));
    }
    if (!addField(total, readIntArray(s, area.portals))) return total;
    if (!addField(total, readObjectNames(s, area.excludedObjects))) return total;
    addField(total, readObjectNames(s, area.hiddenObjects));
    return total;
}

std::int32_t writeSide(DataStream& s, const PVSPortalSide& side) {
    std::int32_t total = 0;
    if (!addField(total, writeI32(s, side.area))) return total;
    addField(total, writeIntArray(s, side.list));
    return total;
}

std::int32_t readSide(DataStream& s, PVSPortalSide& side) {
    std::int32_t total = 0;
    if (!addField(total, readI32(s, side.area))) return total;
    addField(total, readIntArray(s, side.list));
    return total;
}

std::int32_t writePortal(DataStream& s, const PVSPortalRecord& portal) {
    std::int32_t total = 0;
    if (!addField(total, writeName(s, portal.name))) return total;
    if (!addField(total, portal.volume.write(s))) return total;
    if (!addField(total, writeSide(s, portal.sides[0])) || !addField(total, writeSide(s, portal.sides[1])))
        return total;
    if (!addField(total, writeObjectName(s, portal.link))) return total;
    for (std::uint32_t value : portal.values)
        if (!addField(total, writeU32(s, value))) return total;
    if (!addField(total, writeIntArray(s, portal.excludedAreas))) return total;
    addField(total, writeIntArray(s, portal.excludedPortals));
    return total;
}

std::int32_t readPortal(DataStream& s, PVSPortalRecord& portal) {
    std::int32_t total = 0;
    if (!addField(total, readName(s, portal.name))) return total;
    if (!addField(total, readVolume(s, portal.volume, "portal", portal.name))) return total;
    if (!addField(total, readSide(s, portal.sides[0])) || !addField(total, readSide(s, portal.sides[1])))
        return total;
    if (!addField(total, readObjectName(s, portal.link))) return total;
    for (std::uint32_t& value : portal.values)
        if (!addField(total, readU32(s, value))) return total;
    if (!addField(total, readIntArray(s, portal.excludedAreas))) return total;
    addField(total, readIntArray(s, portal.excludedPortals));
    return total;
}

std::int32_t writeSlot(DataStream& s, const PVSObjectRecord* record) {
    std::int32_t total = 0;
    if (!record) return writeU32(s, 0);
    if (!addField(total, writeU32(s, record->handle.value))) return total;
    if (!addField(total, writeU32(s, static_cast<std::uint32_t>(record->elements.size())))) return total;
    for (const PVSElement& element : record->elements) {
        if (!addField(total, writeIntArray(s, element.areas))) return total;
        if (!addField(total, writeU8(s, element.visible))) return total;
    }
    if (!addField(total, writeIntArray(s, record->hideAreas))) return total;
    addField(total, writeIntArray(s, record->showAreas));
    return total;
}

std::int32_t readSlot(DataStream& s, std::unique_ptr<PVSObjectRecord>& record) {
    std::int32_t total = 0;
    std::uint32_t handle = 0;
    record.reset();
    if (!addField(total, readU32(s, handle))) return total;
    if (handle == 0) return total;
    record = std::make_unique<PVSObjectRecord>();
    record->handle = GameObjectLink{handle};
    std::uint32_t count = 0;
    if (!addField(total, readU32(s, count))) return total;
    if (!countFits(s, count, 5)) return -1;
    record->elements.resize(count);
    for (PVSElement& element : record->elements) {
        if (!addField(total, readIntArray(s, element.areas))) return total;
        if (!addField(total, readU8(s, element.visible))) return total;
    }
    if (!addField(total, readIntArray(s, record->hideAreas))) return total;
    addField(total, readIntArray(s, record->showAreas));
    return total;
}

// --- Geometry ---------------------------------------------------------------

struct Plane {
    float normal[3];
    float point[3];
};

void sub(const float* a, const float* b, float* out) {
    for (int k = 0; k < 3; ++k) out[k] = a[k] - b[k];
}

// True when every corner of the box lies behind the plane.
bool behind(const BoxVolume& box, const Plane& plane) {
    for (const auto& corner : box.corners) {
        float d[3];
        sub(corner, plane.point, d);
        if (vector3Dot(d, plane.normal) > 0.0f) return false;
    }
    return true;
}

// The portal's own plane and the four planes through the camera and the
// edges of its opening, all facing into the space seen through it.
void portalPlanes(const BoxVolume& box, const float* camera, std::vector<Plane>& planes) {
    const float* axis[3] = {box.matrix.m, box.matrix.m + 3, box.matrix.m + 6};
    const float* e = box.extents;
    const float xz = e[0] * e[2], yz = e[1] * e[2], xy = e[0] * e[1];
    int u = 0, v = 1, n = 2;
    if (xz > yz && xz > xy) u = 0, v = 2, n = 1;
    else if (yz > xz && yz > xy) u = 1, v = 2, n = 0;
    float U[3], V[3], N[3], O[3];
    for (int k = 0; k < 3; ++k) {
        U[k] = axis[u][k] * e[u];
        V[k] = axis[v][k] * e[v];
        N[k] = axis[n][k];
        O[k] = box.matrix.m[9 + k];
    }
    float toCentre[3];
    sub(O, camera, toCentre);
    vector3Normalize(toCentre);
    if (vector3Dot(N, toCentre) < 0.0f)
        for (float& c : N) c = -c;
    Plane own{};
    std::memcpy(own.normal, N, sizeof(N));
    std::memcpy(own.point, O, sizeof(O));
    planes.push_back(own);
    // Each edge: its outward half-extent and the half-extent along it.
    const float* edges[4][2] = {{U, V}, {U, V}, {V, U}, {V, U}};
    const float signs[4] = {1.0f, -1.0f, 1.0f, -1.0f};
    for (int i = 0; i < 4; ++i) {
        float out[3], mid[3], end1[3], end2[3];
        for (int k = 0; k < 3; ++k) {
            out[k] = signs[i] * edges[i][0][k];
            mid[k] = O[k] + out[k];
            end1[k] = mid[k] + edges[i][1][k];
            end2[k] = mid[k] - edges[i][1][k];
        }
        float a[3], b[3];
        sub(end1, camera, a);
        sub(end2, camera, b);
        vector3Normalize(a);
        vector3Normalize(b);
        Plane side{};
        vector3Cross(a, b, side.normal);
        vector3Normalize(side.normal);
        float inward[3] = {-out[0], -out[1], -out[2]};
        vector3Normalize(inward);
        if (vector3Dot(side.normal, inward) < 0.0f)
            for (float& c : side.normal) c = -c;
        std::memcpy(side.point, mid, sizeof(mid));
        planes.push_back(side);
    }
}

GameObject* resolve(GameObjectLink link) {
    return gameCore.objects && link.index() ? gameCore.objects->getObject(link) : nullptr;
}

Model* modelOf(GameObject* object) {
    return object && object->getType() == ObjectModel ? static_cast<Model*>(object) : nullptr;
}

Particle* particleOf(GameObject* object) {
    return object && object->getType() == ObjectParticle ? static_cast<Particle*>(object) : nullptr;
}

// The record index field of a model or particle; null for other objects.
std::int32_t* recordIndexOf(GameObject* object) {
    if (Model* model = modelOf(object)) return &model->pvsAreaIndex;
    if (Particle* particle = particleOf(object)) return &particle->areaIndex;
    return nullptr;
}

// The elements of a registered object: a model's elements, a particle's
// layers.
std::size_t elementCountOf(GameObject* object) {
    if (Model* model = modelOf(object)) return model->elements.size();
    if (Particle* particle = particleOf(object)) return particle->layers.size();
    return 0;
}

const Intersection& elementBoundsOf(GameObject* object, std::size_t element) {
    if (Model* model = modelOf(object)) return model->elements[element].bounds();
    return particleOf(object)->layers[element]->bounds;
}

bool inRange(std::int32_t index, std::size_t count) { return index >= 0 && static_cast<std::size_t>(index) < count; }

bool allInRange(const std::vector<std::int32_t>& list, std::size_t count) {
    return std::all_of(list.begin(), list.end(), [count](std::int32_t i) { return inRange(i, count); });
}

// The work one camera update may spend on the walk, counted in plane tests
// and list entries looked at. Every ordinary scene is walked in full well
// within it; in a scene whose portals overlap, the paths through them
// multiply with every portal, and the walk stops at the bound and takes
// everything as visible. The bound grows with the square of the portals.
std::size_t walkBudget(std::size_t portals) { return 4096 + 32 * portals * portals; }

// The traversal of one camera update.
class Traversal {
public:
    Traversal(ScenePVS& scene, PVSData& data, const CameraCore& camera)
        : scene_(scene), data_(data), camera_(camera), budget_(walkBudget(scene.portals.size())) {}

    // The walk ran out of its bound; what it found is incomplete.
    bool exhausted() const { return exhausted_; }

    void run(std::int32_t p, std::int32_t b, const std::vector<Plane>& planes, const std::vector<std::int32_t>& areas,
             const std::vector<std::int32_t>& portals, const std::vector<std::int32_t>& path) {
        if (!spend(1 + path.size() + areas.size() + portals.size() + planes.size())) return;
        if (!inRange(b, scene_.areas.size()) || !inRange(p, scene_.portals.size())) return;
        if (contains(path, p) || contains(areas, b) || !passable(*scene_.portals[static_cast<std::size_t>(p)])) return;
        std::vector<std::int32_t> pathNext = path;
        pathNext.push_back(p);
        data_.portals[static_cast<std::size_t>(p)].visible = 1;
        data_.areas[static_cast<std::size_t>(b)].visible = 1;
        std::vector<Plane> planesNext = planes;
        portalPlanes(scene_.portals[static_cast<std::size_t>(p)]->volume.box, camera_.position(), planesNext);
        for (std::int32_t q : scene_.areas[static_cast<std::size_t>(b)]->portals) {
            if (q == p || !inRange(q, scene_.portals.size())) continue;
            const PVSPortalRecord& portal = *scene_.portals[static_cast<std::size_t>(q)];
            const std::int32_t d = portal.otherSide(b);
            if (d == -1) continue;
            std::vector<std::int32_t> portalsNext = portals, areasNext = areas;
            append(portalsNext, portal.excludedPortals);
            append(areasNext, portal.excludedAreas);
            std::vector<std::int32_t>& reached = data_.portals[static_cast<std::size_t>(q)].list;
            if (!spend(1 + portalsNext.size() + areasNext.size() + planesNext.size() + reached.size())) return;
            if (contains(portalsNext, q) || contains(areasNext, d)) continue;
            const bool culled = std::any_of(planesNext.begin(), planesNext.end(),
                                            [&portal](const Plane& plane) { return behind(portal.volume.box, plane); });
            if (culled) continue;
            if (!contains(reached, p)) reached.push_back(p);
            run(q, d, planesNext, areasNext, portalsNext, pathNext);
        }
    }

private:
    // In view, and open: a portal opened by a model only while it animates.
    bool passable(const PVSPortalRecord& portal) const {
        if (!camera_.frustum.intersects(portal.volume)) return false;
        if (!inRange(portal.link.index, scene_.objects.size())) return true;
        const PVSObjectRecord* record = scene_.objects[static_cast<std::size_t>(portal.link.index)].get();
        const Model* door = record ? modelOf(resolve(record->handle)) : nullptr;
        return !door || door->isAnimationPlaying();
    }

    // Takes cost from the bound; false (for good) once it is used up.
    bool spend(std::size_t cost) {
        if (exhausted_ || cost > budget_) {
            exhausted_ = true;
            return false;
        }
        budget_ -= cost;
        return true;
    }

    ScenePVS& scene_;
    PVSData& data_;
    const CameraCore& camera_;
    std::size_t budget_;
    bool exhausted_ = false;
};

}  // namespace

// --- PVSArea and PVSData ----------------------------------------------------

std::int32_t PVSArea::write(DataStream& s) const {
    std::int32_t total = 0;
    if (!addField(total, writeU8(s, visible))) return total;
    addField(total, writeIntArray(s, list));
    return total;
}

std::int32_t PVSArea::read(DataStream& s) {
    std::int32_t total = 0;
    list.clear();
    if (!addField(total, readU8(s, visible))) return total;
    addField(total, readIntArray(s, list));
    return total;
}

void PVSData::reset(const ScenePVS& scene) {
    allVisible = 1;
    areas.assign(scene.areas.size(), PVSArea{1, {}});
    portals.assign(scene.portals.size(), PVSPortal{});
    cameraAreas.clear();
}

bool PVSData::areaVisible(std::int32_t area) const {
    return inRange(area, areas.size()) && areas[static_cast<std::size_t>(area)].visible;
}

bool PVSData::inCameraArea(const std::vector<std::int32_t>& list) const {
    return std::any_of(list.begin(), list.end(), [this](std::int32_t area) { return contains(cameraAreas, area); });
}

void PVSData::update(ScenePVS& scene, const CameraCore& camera) {
    if (areas.size() != scene.areas.size() || portals.size() != scene.portals.size()) reset(scene);
    for (PVSPortal& portal : portals) {
        portal.visible = 0;
        portal.list.clear();
    }
    cameraAreas.clear();
    for (std::size_t i = 0; i < scene.areas.size(); ++i)
        for (const auto& volume : scene.areas[i]->volumes)
            if (volume->intersects(camera.sphere)) {
                cameraAreas.push_back(static_cast<std::int32_t>(i));
                break;
            }
    allVisible = scene.areas.empty() || cameraAreas.empty();
    for (PVSArea& area : areas) {
        area.visible = allVisible;
        area.list.clear();
    }
    if (!allVisible) {
        for (std::int32_t a : cameraAreas) areas[static_cast<std::size_t>(a)].visible = 1;
        Plane start{};
        for (int k = 0; k < 3; ++k) {
            start.normal[k] = -camera.pose.m[6 + k];
            start.point[k] = camera.position()[k];
        }
        vector3Normalize(start.normal);
        Traversal traversal(scene, *this, camera);
        for (std::int32_t a : cameraAreas)
            for (std::int32_t p : scene.areas[static_cast<std::size_t>(a)]->portals) {
                if (!inRange(p, scene.portals.size())) continue;
                const PVSPortalRecord& portal = *scene.portals[static_cast<std::size_t>(p)];
                const std::int32_t b = portal.otherSide(a);
                if (b == -1) continue;
                traversal.run(p, b, {start}, portal.excludedAreas, portal.excludedPortals, {});
            }
        if (traversal.exhausted()) {
            // A walk cut short would hide what it did not reach: show all.
            allVisible = 1;
            for (PVSArea& area : areas) area.visible = 1;
            for (PVSPortal& portal : portals) portal.visible = 1;
        }
    }
    for (auto& record : scene.objects)
        if (record) scene.computeVisibility(*record, *this);
}

std::int32_t PVSData::write(DataStream& s) const {
    std::int32_t total = 0;
    if (!addField(total, writeU8(s, allVisible)) || !addField(total, writeU8(s, secondFlag))) return total;
    if (!addField(total, writeU32(s, static_cast<std::uint32_t>(areas.size())))) return total;
    for (const PVSArea& area : areas)
        if (!addField(total, area.write(s))) return total;
    if (!addField(total, writeU32(s, static_cast<std::uint32_t>(portals.size())))) return total;
    for (const PVSPortal& portal : portals)
        if (!addField(total, portal.write(s))) return total;
    addField(total, writeIntArray(s, cameraAreas));
    return total;
}

std::int32_t PVSData::read(DataStream& s) {
    std::int32_t total = 0;
    std::uint32_t count = 0;
    areas.clear();
    portals.clear();
    if (!addField(total, readU8(s, allVisible)) || !addField(total, readU8(s, secondFlag))) return total;
    if (!addField(total, readU32(s, count))) return total;
    if (!countFits(s, count, 5)) return -1;
    areas.resize(count);
    for (PVSArea& area : areas)
        if (!addField(total, area.read(s))) return total;
    if (!addField(total, readU32(s, count))) return total;
    if (!countFits(s, count, 5)) return -1;
    portals.resize(count);
    for (PVSPortal& portal : portals)
        if (!addField(total, portal.read(s))) return total;
    addField(total, readIntArray(s, cameraAreas));
    return total;
}

bool PVSData::fits(const ScenePVS& scene) {
    // A camera that never sized its data to the scene's areas saves an
    // empty block: it takes the scene's size, all visible, as a new camera.
    if (areas.empty() && portals.empty() && cameraAreas.empty()) {
        reset(scene);
        return true;
    }
    bool fits = areas.size() == scene.areas.size() && portals.size() == scene.portals.size() &&
                allInRange(cameraAreas, areas.size());
    for (const PVSPortal& portal : portals) fits = fits && allInRange(portal.list, portals.size());
    if (fits) return true;
    engineLog().error("Can't read camera visibility data: %zu areas and %zu portals saved, scene has %zu and %zu",
                      areas.size(), portals.size(), scene.areas.size(), scene.portals.size());
    reset(scene);
    return false;
}

// --- ScenePVS ---------------------------------------------------------------

bool ScenePVS::registerObject(GameObject* object) {
    std::int32_t* recordIndex = recordIndexOf(object);
    if (!recordIndex) {
        return engineLog().error("Invalid object type for PVS: [%s(%s)]", object ? object->getName() : "",
                                 object ? gameObjectTypeName(object->getType()) : "");
    }
    const char* objectName = object->getName();
    if (*recordIndex >= 0) return engineLog().error("Can't register object [%s] in PVS: already exist", objectName);
    const std::int32_t index = static_cast<std::int32_t>(objects.size());
    auto record = std::make_unique<PVSObjectRecord>();
    record->handle = GameObjectLink::fromObject(object);
    record->elements.resize(elementCountOf(object));
    for (std::size_t a = 0; a < areas.size(); ++a)
        for (const PVSObjectName& hidden : areas[a]->hiddenObjects)
            if (std::strcmp(hidden.name, objectName) == 0) {
                record->hideAreas.push_back(static_cast<std::int32_t>(a));
                break;
            }
    objects.push_back(std::move(record));
    *recordIndex = index;
    auto bind = [&](std::vector<PVSObjectName>& list) {
        for (PVSObjectName& entry : list)
            if (std::strcmp(entry.name, objectName) == 0) {
                entry.index = index;
                break;
            }
    };
    for (auto& area : areas) {
        bind(area->excludedObjects);
        bind(area->hiddenObjects);
    }
    for (auto& portal : portals)
        if (std::strcmp(portal->link.name, objectName) == 0) portal->link.index = index;
    updateAreas(index);
    return true;
}

bool ScenePVS::unregisterObject(GameObject* object) {
    std::int32_t* recordIndex = recordIndexOf(object);
    if (!recordIndex) {
        return engineLog().error("Invalid object type for PVS: [%s(%s)]", object ? object->getName() : "",
                                 object ? gameObjectTypeName(object->getType()) : "");
    }
    const std::int32_t index = *recordIndex;
    *recordIndex = -1;
    if (!inRange(index, objects.size())) return true;
    auto unbind = [index](std::vector<PVSObjectName>& list) {
        for (PVSObjectName& entry : list)
            if (entry.index == index) entry.index = -1;
    };
    for (auto& area : areas) {
        unbind(area->excludedObjects);
        unbind(area->hiddenObjects);
    }
    for (auto& portal : portals)
        if (portal->link.index == index) portal->link.index = -1;
    objects[static_cast<std::size_t>(index)].reset();
    return true;
}

void ScenePVS::updateAreas(std::int32_t index) {
    PVSObjectRecord* record = inRange(index, objects.size()) ? objects[static_cast<std::size_t>(index)].get() : nullptr;
    if (!record) return;
    GameObject* object = resolve(record->handle);
    if (!recordIndexOf(object)) {
        engineLog().error("Can't update PVS areas for object [%s(%s)]", object ? object->getName() : "",
                          object ? gameObjectTypeName(object->getType()) : "");
        return;
    }
    record->elements.resize(elementCountOf(object));
    for (std::size_t a = 0; a < areas.size(); ++a) {
        const PVSAreaRecord& area = *areas[a];
        if (std::any_of(area.excludedObjects.begin(), area.excludedObjects.end(),
                        [index](const PVSObjectName& entry) { return entry.index == index; }))
            continue;
        const std::int32_t areaIndex = static_cast<std::int32_t>(a);
        for (std::size_t e = 0; e < record->elements.size(); ++e) {
            std::vector<std::int32_t>& in = record->elements[e].areas;
            const Intersection& bounds = elementBoundsOf(object, e);
            const bool hit = std::any_of(area.volumes.begin(), area.volumes.end(),
                                         [&](const auto& volume) { return volume->intersects(bounds); });
            const auto at = std::find(in.begin(), in.end(), areaIndex);
            if (hit && at == in.end()) in.push_back(areaIndex);
            if (!hit && at != in.end()) in.erase(at);
        }
    }
}

void ScenePVS::updateObject(std::int32_t index, bool recompute) {
    if (!inRange(index, objects.size()) || !objects[static_cast<std::size_t>(index)]) return;
    updateAreas(index);
    if (!recompute || (gameCore.game && gameCore.game->loading)) return;
    Scene* scene = gameCore.currentScene();
    CameraCore* camera = scene ? scene->camera() : nullptr;
    if (camera) computeVisibility(*objects[static_cast<std::size_t>(index)], camera->pvs);
}

void ScenePVS::computeVisibility(PVSObjectRecord& record, const PVSData& data) {
    if (data.inCameraArea(record.hideAreas)) {
        for (PVSElement& element : record.elements) element.visible = 0;
    } else if (data.inCameraArea(record.showAreas)) {
        for (PVSElement& element : record.elements) element.visible = 1;
    } else {
        for (PVSElement& element : record.elements) {
            const bool seen = std::any_of(element.areas.begin(), element.areas.end(),
                                          [&data](std::int32_t area) { return data.areaVisible(area); });
            element.visible = (element.areas.empty() && data.allVisible) || seen;
        }
    }
}

void ScenePVS::copyFrom(const ScenePVS& source) {
    clear();
    for (const auto& from : source.areas) {
        auto area = std::make_unique<PVSAreaRecord>();
        area->index = from->index;
        std::memcpy(area->name, from->name, sizeof(area->name));
        for (const auto& volume : from->volumes) area->volumes.push_back(std::make_unique<IntersectionOBBox>(*volume));
        area->excludedObjects = from->excludedObjects;
        area->hiddenObjects = from->hiddenObjects;
        area->portals = from->portals;
        areas.push_back(std::move(area));
    }
    for (const auto& from : source.portals) {
        auto portal = std::make_unique<PVSPortalRecord>();
        portal->index = from->index;
        std::memcpy(portal->name, from->name, sizeof(portal->name));
        portal->volume = from->volume;
        portal->link = from->link;
        portal->sides[0] = from->sides[0];
        portal->sides[1] = from->sides[1];
        std::memcpy(portal->values, from->values, sizeof(portal->values));
        portal->excludedPortals = from->excludedPortals;
        portal->excludedAreas = from->excludedAreas;
        portals.push_back(std::move(portal));
    }
}

void ScenePVS::clear() {
    areas.clear();
    portals.clear();
    objects.clear();
}

std::int32_t ScenePVS::write(DataStream& s, bool withObjects) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(s, static_cast<std::uint32_t>(areas.size())))) return total;
    for (const auto& area : areas)
        if (!addField(total, writeArea(s, *area))) return total;
    if (!addField(total, writeU32(s, static_cast<std::uint32_t>(portals.size())))) return total;
    for (const auto& portal : portals)
        if (!addField(total, writePortal(s, *portal))) return total;
    if (!withObjects) return total;
    if (!addField(total, writeU32(s, static_cast<std::uint32_t>(objects.size())))) return total;
    for (const auto& record : objects)
        if (!addField(total, writeSlot(s, record.get()))) return total;
    return total;
}

std::int32_t ScenePVS::read(DataStream& s, bool withObjects) {
    clear();
    std::int32_t total = 0;
    auto fail = [this](std::int32_t result) {
        engineLog().error("Can't read visibility areas and portals: %s", result == -1 ? "broken block" : "read error");
        clear();
        return result < 0 ? result : -1;
    };
    std::uint32_t count = 0;
    if (!addField(total, readU32(s, count)) || !countFits(s, count, 9)) return fail(total < 0 ? total : -1);
    for (std::uint32_t i = 0; i < count; ++i) {
        auto area = std::make_unique<PVSAreaRecord>();
        area->index = static_cast<std::int32_t>(i);
        if (!addField(total, readArea(s, *area))) return fail(total);
        areas.push_back(std::move(area));
    }
    if (!addField(total, readU32(s, count)) || !countFits(s, count, 9)) return fail(total < 0 ? total : -1);
    for (std::uint32_t i = 0; i < count; ++i) {
        auto portal = std::make_unique<PVSPortalRecord>();
        portal->index = static_cast<std::int32_t>(i);
        if (!addField(total, readPortal(s, *portal))) return fail(total);
        portals.push_back(std::move(portal));
    }
    if (withObjects) {
        if (!addField(total, readU32(s, count)) || !countFits(s, count, 4)) return fail(total < 0 ? total : -1);
        objects.resize(count);
        for (auto& record : objects)
            if (!addField(total, readSlot(s, record))) return fail(total);
    }
    if (!validate(withObjects)) return fail(-1);
    // Models and particles that live on find their records again; a load
    // reads this block before its objects, which read their own index.
    for (std::size_t i = 0; i < objects.size(); ++i) {
        if (!objects[i] || !gameCore.objects) continue;
        const std::uint32_t handle = objects[i]->handle.index();
        if (handle == 0 || !gameCore.objects->isLive(handle - 1)) continue;
        if (std::int32_t* recordIndex = recordIndexOf(resolve(objects[i]->handle)))
            *recordIndex = static_cast<std::int32_t>(i);
    }
    return total;
}

bool ScenePVS::validate(bool withObjects) {
    const std::size_t areaCount = areas.size(), portalCount = portals.size(), objectCount = objects.size();
    // An object index names a record of the save; the scene data's names
    // are bound when objects register.
    auto objectIndexOk = [&](PVSObjectName& entry) {
        if (!withObjects) entry.index = -1;
        return entry.index == -1 || inRange(entry.index, objectCount);
    };
    for (auto& area : areas) {
        if (!allInRange(area->portals, portalCount)) return false;
        for (PVSObjectName& entry : area->excludedObjects)
            if (!objectIndexOk(entry)) return false;
        for (PVSObjectName& entry : area->hiddenObjects)
            if (!objectIndexOk(entry)) return false;
    }
    for (auto& portal : portals) {
        for (const PVSPortalSide& side : portal->sides)
            if (side.area != -1 && !inRange(side.area, areaCount)) return false;
        if (!objectIndexOk(portal->link)) return false;
        if (!allInRange(portal->excludedAreas, areaCount) || !allInRange(portal->excludedPortals, portalCount))
            return false;
    }
    for (const auto& record : objects) {
        if (!record) continue;
        if (!allInRange(record->hideAreas, areaCount) || !allInRange(record->showAreas, areaCount)) return false;
        for (const PVSElement& element : record->elements)
            if (!allInRange(element.areas, areaCount)) return false;
    }
    return true;
}

std::int32_t readNamedPlacement(DataStream& s, NamedPlacement& placement) {
    std::int32_t total = 0;
    if (!addField(total, readName(s, placement.name)) || !addField(total, readName(s, placement.second))) return total;
    for (float& value : placement.pose.m)
        if (!addField(total, readF32(s, value))) return total;
    return total;
}

std::int32_t writeNamedPlacement(DataStream& s, const NamedPlacement& placement) {
    std::int32_t total = 0;
    if (!addField(total, writeName(s, placement.name)) || !addField(total, writeName(s, placement.second)))
        return total;
    for (float value : placement.pose.m)
        if (!addField(total, writeF32(s, value))) return total;
    return total;
}
