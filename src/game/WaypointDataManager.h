// The waypoint sets of the scenes, one record per scene: the record's header
// stage holds the set's poses (read from the compiled ".wp" resource), and
// the set is allocated while the poses' scene objects exist. Each scene has
// a holder of its record: it allocates the set when the scene initialises,
// pushes and pops it with the scene, finds waypoints by name or nearness and
// periodically re-creates the models of model waypoints whose model resource
// name begins with "$".
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "resources/DataManager.h"
#include "resources/LoadingProgress.h"
#include "resources/Y3ResourceManager.h"

class DataStream;
class Scene;
class Y3Pose;
struct DataManagerInfo;

// The poses of one waypoint resource, sorted by id (byte order), ids
// unique. Destroying the set releases every pose's scene object first.
class WaypointData {
public:
    WaypointData() = default;
    ~WaypointData();
    WaypointData(const WaypointData&) = delete;
    WaypointData& operator=(const WaypointData&) = delete;

    // Makes every pose's scene object; a pose that fails is logged and the
    // others go on. The set counts as allocated only when all succeeded;
    // false (logged) when it already is.
    bool allocate();
    // Clears the allocated flag, then releases every pose's scene object;
    // false (logged) when the set is not allocated.
    bool deallocate();

    // Replaces the poses with the compiled form: bytes read, or -1 (logged
    // with the resource name, no poses left).
    std::int32_t read(DataStream& stream, const char* resourceName);
    // The compiled form: bytes, or negative.
    std::int32_t write(DataStream& stream) const;
    // Every pose as its text record, in id order: bytes, or negative.
    std::int32_t exportText(DataStream& stream) const;

    // Inserts a pose at its sorted place; false (the pose is destroyed)
    // when its id is taken.
    bool add(std::unique_ptr<Y3Pose> pose);
    // The pose of that id, or null (null or empty names find nothing).
    Y3Pose* find(const char* id) const;

    std::vector<std::unique_ptr<Y3Pose>> poses;
    bool allocated = false;

private:
    void releaseInstances();
};

// One ".wp" resource; its object is the waypoint set.
class WaypointDataInstance : public ResourceRecord {
public:
    explicit WaypointDataInstance(const char* name);
    ~WaypointDataInstance() override;

    std::int32_t readHeader(DataStream& stream) override;
    bool hasObject() const override { return data_ != nullptr; }
    // Deallocates the set when it is allocated, then destroys it.
    void deleteObject() override;

    WaypointData* data() const { return data_.get(); }

private:
    std::unique_ptr<WaypointData> data_;
};

// A scene's use of its waypoint record.
class Waypoints : public ResourceUser {
public:
    Waypoints(Scene* owner, WaypointDataInstance* record) : owner(owner), record(record) {}
    Waypoints(const Waypoints&) = delete;
    Waypoints& operator=(const Waypoints&) = delete;

    const char* resourceUserName() const override;
    bool resourcePushed() const override { return pushed_; }
    void setResourcePushed(bool pushed) override { pushed_ = pushed; }

    // The record's set, its header loaded when needed; null when it cannot
    // be had.
    WaypointData* data() const;

    // Loads the set and makes its scene objects; false (logged) when the
    // set cannot be had or a pose failed.
    bool initialize();
    // Adds the holder to, or removes it from, the record's users; push has
    // every pose find its object again (after a pop), pop has them let go.
    // False (logged) when the set is missing or a pose failed.
    bool push();
    bool pop();
    // The scene's release: the poses' objects are released and the set is
    // no longer allocated, so that a later scene of that name makes them
    // again.
    void releaseInstances();

    // The pose of that id, whatever its kind; with report, a miss is logged
    // with the name of the kind asked for.
    Y3Pose* find(std::int32_t kind, const char* name, bool report) const;
    // The point or model pose whose id begins with the prefix (null: any)
    // nearest the position; ties go to the earlier id.
    Y3Pose* searchNearest(const char* prefix, const float* position) const;
    // Re-creates the models of model poses whose model resource begins
    // with "$", one at a time under the engine lock; each new model takes
    // the old one's handle and the five ranges of its first action item.
    // The frame step passes both switches false; a load and a light-mode
    // change pass them true.
    void refreshLinkedModels(bool first, bool second);

    Scene* owner;
    WaypointDataInstance* record;

private:
    bool pushed_ = false;
};

// The name of a pose kind in messages ("((ANY))" for any other code).
const char* waypointKindName(std::int32_t kind);

class WaypointDataManager
    : public DataManager,
      public Y3ResourceManager<WaypointDataInstance, kProgressNoReportStage, kProgressNoReportStage> {
public:
    WaypointDataManager();
    ~WaypointDataManager() override;

    const char* sourceExtension() const override;
    const char* compiledExtension() const override;
    std::int32_t typeNumber() const override;
    const char* title() const override;
    const char* secondText() const override;
    // Records are made on request: -1.
    std::int32_t readResource(DataStream& stream, const char* name, std::int32_t flag) override;
    // Writes the named resource's poses as text records: bytes, or -1
    // (logged).
    std::int32_t exportResource(const char* name, DataStream& stream) override;
    // Reads the source poses (a file named like "name#01.txt" is passed
    // over: true) and serialises them; the game stores nothing, so the
    // store is refused before the destination is touched (logged, false).
    bool compileFromSource(const char* sourcePath) override;
    bool initialize() override { return true; }
    void release() override { releaseAll(); }

    // A scene's holder of the record (logged when the record is missing
    // from the packages; made all the same).
    static Waypoints* create(Scene* owner, WaypointDataInstance* record);

    // The record's set, its header loaded when needed; null when it cannot
    // be had.
    WaypointData* dataOf(WaypointDataInstance* record);

private:
    const DataManagerInfo* info_;
};
