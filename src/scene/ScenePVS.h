// Visibility areas and portals.
//
// A scene is cut into areas (each a set of oriented boxes) joined by
// portals (thin boxes). `ScenePVS` holds a scene's areas and portals and a
// record for every model and particle registered in it, with the areas
// each of its elements (a particle's layers) lies in. Each camera holds a `PVSData`: after the camera moved,
// `PVSData::update` finds the areas holding the camera, walks the portals
// it can see through (each passed portal narrows the view by its planes;
// a portal opened by a door model is passable only while the door
// animates; a portal is never entered twice along one path), and every
// registered element learns whether it is potentially visible. A scene
// without areas, or a camera outside all of them, sees everything.
//
// Stored indices (portals, areas, object records) are checked when read:
// a block that names what it does not hold is refused.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/Intersection.h"
#include "scene/GameObject.h"

class CameraCore;
class DataStream;

// An object named by an area or a portal, with its record index once bound.
struct PVSObjectName {
    std::int32_t index = -1;
    char name[128] = {};
};

struct PVSAreaRecord {
    std::int32_t index = 0;
    char name[128] = {};
    std::vector<std::unique_ptr<IntersectionOBBox>> volumes;
    // Objects that never join this area by the volume test.
    std::vector<PVSObjectName> excludedObjects;
    // Objects hidden while the camera is in this area.
    std::vector<PVSObjectName> hiddenObjects;
    std::vector<std::int32_t> portals;
};

struct PVSPortalSide {
    std::int32_t area = -1;
    std::vector<std::int32_t> list;
};

struct PVSPortalRecord {
    std::int32_t index = 0;
    char name[128] = {};
    IntersectionOBBox volume;
    // The object that opens the portal (a door model), if any.
    PVSObjectName link;
    PVSPortalSide sides[2];
    std::uint32_t values[3] = {};
    std::vector<std::int32_t> excludedPortals;
    std::vector<std::int32_t> excludedAreas;

    // The side area that is not `area`.
    std::int32_t otherSide(std::int32_t area) const { return sides[0].area == area ? sides[1].area : sides[0].area; }
};

struct PVSElement {
    std::vector<std::int32_t> areas;
    std::uint8_t visible = 1;
};

struct PVSObjectRecord {
    GameObjectLink handle;
    std::vector<PVSElement> elements;
    std::vector<std::int32_t> hideAreas;
    std::vector<std::int32_t> showAreas;
};

// A camera's view of one area or portal: whether it is visible and, for a
// portal, the portals through which it was reached.
struct PVSArea {
    std::uint8_t visible = 0;
    std::vector<std::int32_t> list;

    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);
};
struct PVSPortal : PVSArea {};

class ScenePVS;

class PVSData {
public:
    // Sizes the entries to the scene's areas and portals; all visible.
    void reset(const ScenePVS& scene);
    // Recomputes the visible areas and portals from the camera's sphere,
    // frustum and pose, then the visibility of every registered object.
    void update(ScenePVS& scene, const CameraCore& camera);

    std::int32_t write(DataStream& stream) const;
    // Reads the record as it is stored; fits checks it against the scene.
    std::int32_t read(DataStream& stream);
    // True when the counts and indices fit the scene's areas and portals;
    // otherwise logged, and the data is reset to the scene.
    bool fits(const ScenePVS& scene);

    bool areaVisible(std::int32_t area) const;
    bool inCameraArea(const std::vector<std::int32_t>& areas) const;

    std::uint8_t allVisible = 1;
    std::uint8_t secondFlag = 0;
    std::vector<PVSArea> areas;
    std::vector<PVSPortal> portals;
    std::vector<std::int32_t> cameraAreas;
};

class ScenePVS {
public:
    ScenePVS() = default;
    ~ScenePVS() { release(); }
    ScenePVS(const ScenePVS&) = delete;
    ScenePVS& operator=(const ScenePVS&) = delete;

    // Registers a model or a particle: a record with its elements (a
    // model's elements, a particle's layers) and the areas they lie in;
    // names in the areas' and portals' lists bind to it. False (logged)
    // for another type or an object already registered.
    bool registerObject(GameObject* object);
    // Frees the object's record and unbinds it.
    bool unregisterObject(GameObject* object);
    // After the record's object moved: its areas anew, and with recompute
    // its visibility from the current camera.
    void updateObject(std::int32_t index, bool recompute);
    // The visibility of one record's elements from a camera's data,
    // handed on to the object.
    void computeVisibility(PVSObjectRecord& record, const PVSData& data);

    // Copies the areas and portals of the scene data (no object records).
    void copyFrom(const ScenePVS& source);
    void clear();
    void release() { clear(); }

    // The visibility block: areas, portals and, with objects, the object
    // slots (the save record). Reading replaces everything and refuses
    // (-1, logged, the block cleared) indices that name nothing.
    std::int32_t write(DataStream& stream, bool withObjects) const;
    std::int32_t read(DataStream& stream, bool withObjects);

    std::vector<std::unique_ptr<PVSAreaRecord>> areas;
    std::vector<std::unique_ptr<PVSPortalRecord>> portals;
    // Null for a free slot.
    std::vector<std::unique_ptr<PVSObjectRecord>> objects;

private:
    void updateAreas(std::int32_t index);
    bool validate(bool withObjects);
};

// A named placement of the scene data: {name, second name (u8 length +
// bytes each, 127 characters at most), pose (48 bytes)}. Bytes or the first
// negative result; a longer name is refused (-1).
struct NamedPlacement {
    char name[128] = {};
    char second[128] = {};
    Matrix34 pose{};
};
std::int32_t readNamedPlacement(DataStream& stream, NamedPlacement& placement);
std::int32_t writeNamedPlacement(DataStream& stream, const NamedPlacement& placement);
