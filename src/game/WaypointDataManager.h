// The waypoint sets of the scenes, one record per scene, loaded when first
// asked for (a record exports its data), and each scene's holder of its
// static waypoints: read when the scene initialises, pushed and popped with
// it, found by name or nearness, and the periodic re-creation of the models
// of model waypoints whose model resource name begins with "$".
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "resources/StoredDataManager.h"

class Scene;
class Y3Pose;

// A scene's static waypoints, sorted by id (byte order).
class Waypoints : public ResourceUser {
public:
    Waypoints(Scene* owner, StoredResourceRecord* record);
    ~Waypoints();
    Waypoints(const Waypoints&) = delete;
    Waypoints& operator=(const Waypoints&) = delete;

    const char* resourceUserName() const override;
    bool resourcePushed() const override { return pushed_; }
    void setResourcePushed(bool pushed) override { pushed_ = pushed; }

    // Reads the record's poses (a missing record gives none); false
    // (logged) when the record is there but damaged.
    bool initialize();
    // Add the holder to, or remove it from, the record's users; push makes
    // the triggers of trigger waypoints. False (logged by the record's
    // manager) when the record is missing or the holder already pushed.
    bool push();
    bool pop();

    // The pose of that id, whatever its kind; with report, a miss is logged
    // with the name of the kind asked for.
    Y3Pose* find(std::int32_t kind, const char* name, bool report) const;
    // The point or model pose whose id begins with the prefix (null: any)
    // nearest the position; ties go to the earlier id.
    Y3Pose* searchNearest(const char* prefix, const float* position) const;
    // Re-creates the models of model poses whose model resource begins
    // with "$", one at a time under the engine lock; each new model takes
    // the old one's handle. The frame step passes both switches false;
    // a load and a light-mode change pass them true.
    void refreshLinkedModels(bool first, bool second);
    // Inserts a pose at its sorted place.
    void add(std::unique_ptr<Y3Pose> pose);

    Scene* owner;
    StoredResourceRecord* record;
    std::vector<std::unique_ptr<Y3Pose>> poses;

private:
    bool pushed_ = false;
};

// The name of a pose kind in messages ("((ANY))" for any other code).
const char* waypointKindName(std::int32_t kind);

class WaypointDataManager : public StoredDataManager {
public:
    WaypointDataManager();

    // Reads the source poses (a file named like "name#01.txt" is passed
    // over: true) and serialises them; the game stores nothing, so the
    // store is refused before the destination is touched (logged, false).
    bool compileFromSource(const char* sourcePath) override;

    // A scene's holder of the record (logged when the record is missing
    // from the packages; made all the same).
    static Waypoints* create(Scene* owner, StoredResourceRecord* record);
};
