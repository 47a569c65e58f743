// A scene: the game object (type 3) that holds one level and the handles of
// every object placed in it.
//
// A scene is created from its scene resource (SceneContext::createScene),
// initialised, then pushed to become the scene that updates and draws, and
// popped when another one takes its place. release() deletes the objects it
// holds before the scene is destroyed. A scene whose resource is missing is
// a debug scene: it initialises, pushes and pops with no objects.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/Math.h"
#include "foundation/TimerCore.h"
#include "scene/GameObject.h"
#include "scene/ScenePVS.h"

class CameraCore;
class Y3Pose;
class Y3SceneDataInstance;
struct CurrentTime;

// Bits of Scene::flags.
constexpr std::uint32_t kSceneLightingDirty = 0x00700000;
constexpr std::uint32_t kSceneOnStack = 0x00800000;
constexpr std::uint32_t kSceneInitialised = 0x20000000;

class Scene : public GameObject {
public:
    // Called by SceneContext::createScene only; takes a repository slot.
    explicit Scene(Y3SceneDataInstance* resource);
    // Reports what release() left and frees the handle lists.
    ~Scene() override;

    std::uint32_t getType() const override { return ObjectScene; }
    const char* getName() const override { return name; }
    std::uint32_t getSceneLink() const override { return 0; }
    bool push() override;
    bool pop(std::uint32_t argument) override;
    // The scene's own save record is written by its save code; nothing yet.
    std::int32_t write(DataStream&) override { return 0; }
    std::int32_t read(DataStream&) override { return 0; }
    bool validate() override { return true; }
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    // The cameras' per-frame pass.
    bool updatePhase1(const CurrentTime& time, std::int32_t) override { return updateCameras(time); }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    // Deletes the objects of every handle list and empties the lists.
    void release() override;

    // Takes the start pose, sets up the scene from its data (a debug scene
    // has none) and marks the scene initialised; false when a part of the
    // scene could not be made.
    virtual bool initialize(const Matrix34& startPose);
    // Plays again the sounds that were playing before the scene left.
    bool restoreSounds(const CurrentTime& time);
    bool setMainCharacter(GameObjectLink link);

    // The first object of a list with exactly that name (from start), or null.
    GameObject* lookupModel(const char* objectName, std::uint32_t start = 0) const;
    GameObject* lookupParticle(const char* objectName) const;
    GameObject* lookupSprite(const char* objectName) const;
    GameObject* lookupLight(const char* objectName) const;

    // The current camera, or null.
    CameraCore* camera() const;
    // Makes the camera of that name current; null when there is none.
    CameraCore* findCamera(const char* cameraName);
    // Updates every camera while scene time runs.
    bool updateCameras(const CurrentTime& time);
    // The object of the main character link, or null.
    GameObject* mainCharacterObject() const;
    // The waypoint of that exact name (and kind, unless -1), or null.
    Y3Pose* findWaypoint(const char* poseName, std::int32_t kind = -1) const;
    // Adds a waypoint, keeping the list sorted by name.
    void addWaypoint(std::unique_ptr<Y3Pose> waypoint);
    // The waypoints of the scene's waypoint resource (same name as the
    // scene, through the waypoint data manager), read when the scene
    // initialises; false when the resource is there but cannot be read.
    bool loadWaypoints();

    // A model of a resource placed at a pose and registered in the
    // visibility areas; null when the name is taken.
    GameObject* createModel(const char* resourceName, const char* objectName, const Matrix34& placement,
                            std::uint32_t flags);
    // Remove an object of the list, release and delete it; false when the
    // object is not in the list.
    bool deleteModel(GameObject* object);
    bool deleteParticle(GameObject* object);
    bool deleteLight(GameObject* object);

    bool onStack() const { return (flags & kSceneOnStack) != 0; }
    bool isDebugScene() const;
    // True when the scene's data is loaded, reading it on first use.
    bool loadSceneData();

    std::uint32_t flags = 0;
    Y3SceneDataInstance* resource;
    Matrix34 startPose{};
    std::vector<GameObjectLink> models;
    std::vector<GameObjectLink> sprites;
    std::vector<GameObjectLink> lights;
    std::vector<GameObjectLink> particles;
    std::vector<GameObjectLink> dialogs;
    std::vector<GameObjectLink> sounds[5];
    GameObjectLink mainCharacter;
    // The dialog that runs in the scene, if any.
    GameObjectLink activeDialog;
    // The scene's cameras; the first is the default one made by initialize.
    std::vector<std::unique_ptr<CameraCore>> cameras;
    std::int32_t currentCamera = -1;
    // Waypoints by name (byte order).
    std::vector<std::unique_ptr<Y3Pose>> waypoints;
    GameObjectLink physicsScene;
    // Visibility areas, portals and the registered objects.
    ScenePVS pvs;
    // The scene's own timers (the scripts' "timersAPI" of the scene).
    TimerCore timers;
    // Runs the scene's timers once a frame; in game state 6 their game time
    // stands still (the game-time step is zeroed), real time goes on.
    void updateTimers(const CurrentTime& sample);
    // The sky's light mode (time of day) and weather.
    std::int32_t skyLightMode = 1;
    std::int32_t skyWeather = 0;
    bool rainVisible = false;
    // Game time of the last update and of the last waypoint refresh.
    double lastUpdateTime = -1.0;
    double lastWaypointRefresh = -1.0;
};

// The names of the five sound lists, by index.
const char* sceneSoundListName(std::uint32_t list);
