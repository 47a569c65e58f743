// A scene: the game object (type 3) that holds one level and the handles of
// every object placed in it.
//
// A scene is created from its scene resource (SceneContext::createScene),
// initialised from its scene data (light sets, default camera, lights,
// models, sprites, waypoints), then pushed to become the scene that updates
// and draws, and popped when another one takes its place. Push and pop run
// their steps in a fixed order and go on after a failing step, so that as
// much as possible is pushed or freed; every failure is logged and reported
// in the result. release() deletes the objects it holds before the scene is
// destroyed. A scene whose resource is missing is a debug scene: it
// initialises, pushes and pops with no objects.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "effects/SceneShadows.h"
#include "effects/Y3Sky.h"
#include "foundation/BlenderHeader.h"
#include "foundation/Math.h"
#include "foundation/TimerCore.h"
#include "resources/StoredDataManager.h"
#include "scene/GameObject.h"
#include "scene/SceneLighting.h"
#include "scene/SceneNameIndex.h"
#include "scene/ScenePVS.h"
#include "scene/UpdateSchedule.h"

class CameraCore;
class Intersection;
class IntersectionOBBox;
class Light;
class PathGridRecord;
class RainMap;
class SceneScreenActions;
class Waypoints;
class SceneTriggers;
class Y3Pose;
class Y3SceneDataInstance;
struct CurrentTime;
struct ModelProperty;

// Bits of Scene::flags.
constexpr std::uint32_t kSceneLightingDirty = 0x00700000;
constexpr std::uint32_t kSceneOnStack = 0x00800000;
constexpr std::uint32_t kSceneRefreshGrid = 0x01000000;
constexpr std::uint32_t kSceneInitialised = 0x20000000;
// Set with the initialisation: the particles pre-simulate at the next update.
constexpr std::uint32_t kSceneParticleRefresh = kSceneInitialised;
constexpr std::uint32_t kSceneUpdateAll = 0x40000000;

// The five sound lists.
constexpr std::uint32_t kSceneSoundLists = 5;
// The waypoint kind that matches every kind in searches.
constexpr std::int32_t kPoseAnyKind = 7;

class Scene;

// How the scene makes the objects of other subsystems; an entry that is
// not set makes nothing (the creation is refused and logged).
struct SceneFactories {
    GameObject* (*sprite)(Scene& scene, const char* name, const char* source, const Matrix34& pose) = nullptr;
    GameObject* (*particle)(Scene& scene, const char* name, const char* data, const Matrix34& pose) = nullptr;
    GameObject* (*grid)(Scene& scene, const char* name) = nullptr;
    // A sound of the list (its channel) for the alias, named, with flags.
    GameObject* (*sound)(Scene& scene, std::uint32_t list, const char* alias, const char* name,
                         std::uint32_t flags) = nullptr;
    // Sound state the scene's walks need: whether it is playing; stopping
    // it; whether its own event handler is running.
    bool (*soundPlaying)(GameObject& sound) = nullptr;
    // Starts a sound made by the factory above; false when it cannot play.
    bool (*soundPlay)(GameObject& sound) = nullptr;
    void (*soundStop)(GameObject& sound) = nullptr;
    // The sound's length in seconds; 0 when it cannot be had.
    double (*soundDuration)(GameObject& sound) = nullptr;
    bool (*soundInHandler)(GameObject& sound) = nullptr;
    // Plays a sound again after a saved game was loaded.
    void (*soundRestore)(GameObject& sound, const CurrentTime& time) = nullptr;
    // The per-frame refresh of a sound; false when it failed.
    bool (*soundRefresh)(GameObject& sound) = nullptr;
    // Starts a sound's envelope (a fade-in of blend seconds after fadeIn
    // seconds), and fades one out over the seconds given.
    void (*soundStartBlend)(GameObject& sound, float fadeIn, float blend) = nullptr;
    void (*soundFade)(GameObject& sound, float seconds) = nullptr;
    // The path grid's answer whether a free seven-by-seven block of cells
    // lies around a position of the scene (three free neighbours back and
    // forward along the row, and three rows before and after each of those
    // seven cells); not set: the scene has no grid.
    bool (*gridBlockFree)(const Scene& scene, const float* position) = nullptr;
};
SceneFactories& sceneFactories();

// Reads a scene's waypoint resource (".wp": a u32 count, then the binary
// pose records): bytes read, or -1 (logged, out emptied) for a damaged
// record, a pose that is not finite or bytes left after the last pose.
std::int32_t readWaypointResource(DataStream& stream, std::vector<std::unique_ptr<Y3Pose>>& out,
                                  const char* sceneName);

// A point of the main character's trail where a companion may be placed.
// Stored raw (64 bytes) in the scene's save record.
struct TeleportPoint {
    double time;             // game time the point was recorded
    float orientation[9];    // three rows of three floats
    float position[3];
    float distance;          // to the character at the last update; < 0: drop
    std::uint8_t usable;     // 1: within the teleport distance band
    std::uint8_t padding[3];
};
static_assert(sizeof(TeleportPoint) == 64, "teleport points are stored as 64-byte records");

// Rows: the direction, the up vector (0, 1, 0) and their normalised cross
// product.
void makeVerticalFrame(const float* direction, float* frame);
// The upright pose standing at a point and facing along the horizontal
// part of a direction ((1, 0, 0) when it has none): the rows of
// makeVerticalFrame, then the point.
Matrix34 makeVerticalRay(const float* point, const float* direction);

// A blend list: carried by the scene's save record only; a finished one
// (flag bit 0) is dropped at the next frame.
struct BlendListItem {
    std::uint32_t word = 0;
    BlenderHeader header;
    char name[128] = {};

    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);
};

struct BlendList {
    std::uint32_t flags = 0;
    std::uint32_t second = 0;
    std::vector<BlendListItem> items;

    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);
    void free() { std::vector<BlendListItem>().swap(items); }
};

// Bits of Scene::flags kept by the save record.
constexpr std::uint32_t kSceneRainShown = 0x02000000;
constexpr std::uint32_t kSceneHasBlendLists = 0x04000000;

class Scene : public GameObject {
public:
    // Called by SceneContext::createScene only, with the scene's sky; takes
    // a repository slot.
    Scene(Y3SceneDataInstance* resource, std::unique_ptr<Y3Sky> sky);
    // Reports what release() left, frees the handle lists and the sky.
    ~Scene() override;

    std::uint32_t getType() const override { return ObjectScene; }
    const char* getName() const override { return name; }
    std::uint32_t getSceneLink() const override { return 0; }
    bool push() override;
    bool pop(std::uint32_t argument) override;
    // The scene's own save record is written by its save code; nothing yet.
    // The scene's save record, its fields in a fixed order; a record that
    // cannot be read whole leaves the scene as it was (negative).
    std::int32_t write(DataStream& stream) override;
    std::int32_t read(DataStream& stream) override;
    // Reads a save record without a scene: the check before a restore.
    static std::int32_t checkRecord(DataStream& stream);
    // Removes the blend lists whose flag bit 0 is set.
    void dropFinishedBlendLists();
    bool validate() override { return true; }
    // Slots 15 to 19: the per-frame work and the staggered object updates.
    bool updatePhase0(const CurrentTime& time, std::int32_t flag) override;
    bool updatePhase1(const CurrentTime& time, std::int32_t flag) override;
    bool updatePhase3(const CurrentTime& time, std::int32_t flag) override;
    bool updatePhase2(const CurrentTime& time, std::int32_t flag) override;
    // At most once every grid_update_period seconds of game time (the first
    // call only records the time), while the scene's path grid is loaded:
    // blocks the cells under the physics scene's "lock-pathfind" actors and
    // frees those that no obstacle covers any more.
    void refreshGridObstacles(const CurrentTime& time);
    void invalidateLighting() override;
    // Pops the scene when on stack, then deletes every object it holds.
    void release() override;

    // Takes the start pose, sets up light sets and the default camera, then
    // the scene data's lights, models, sprites and waypoints (a debug scene
    // has none); false when a part of the scene could not be made.
    virtual bool initialize(const Matrix34& startPose);

    // Objects by name. Creation refuses a name in use (null, logged).
    // A model of a resource placed at a pose and registered in the
    // visibility areas; null when the name is taken.
    GameObject* createModel(const char* resourceName, const char* objectName, const Matrix34& placement,
                            std::uint32_t flags);
    GameObject* createSprite(const char* objectName, const char* source, const Matrix34& pose);
    GameObject* createParticle(const char* objectName, const char* data, const Matrix34& pose);
    GameObject* createGrid(const char* objectName);
    // The scene's path-finding grid record, "grid_" + the scene's name,
    // found or created in the game core's grid manager (null without one).
    // With the grid-changed flag set, the flag is cleared and a loaded
    // record released, so the grid is read again on its next use.
    PathGridRecord* findGridData();
    bool deleteModel(const char* objectName);
    bool deleteSprite(const char* objectName);
    bool deleteParticle(const char* objectName);
    bool deleteGrid(const char* objectName);
    // Remove an object of the list (popped when pushed), release and delete
    // it; false when the object is not in the list.
    bool deleteModel(GameObject* object);
    bool deleteParticle(GameObject* object);
    // The first object of a list with exactly that name from the start
    // position; with an index, the search starts there and the index takes
    // the position found, or -1.
    GameObject* lookupModel(const char* objectName, std::uint32_t start = 0) const;
    GameObject* lookupModel(const char* objectName, std::int32_t* index) const;
    GameObject* lookupParticle(const char* objectName, std::int32_t* index = nullptr) const;
    GameObject* lookupSprite(const char* objectName, std::int32_t* index = nullptr) const;
    GameObject* lookupGrid(const char* objectName, std::int32_t* index = nullptr) const;

    // Lights.
    Light* addLight(const char* lightName, const char* dataName, bool doNotPush);
    GameObject* lookupLight(const char* objectName) const;
    // Around the rename of one of the scene's objects: before, the name
    // indexes are brought up to date (the epoch to hand back is returned);
    // after, they follow the object to its new name.
    std::uint64_t namesBeforeRename() const;
    void namesAfterRename(const GameObject& object, const std::string& oldName, std::uint64_t before) const;
    bool deleteLight(GameObject* light);
    bool deleteAllLights();
    bool pushLights();
    bool popLights();
    bool initLights();
    // Collects the lights of the group that reach the volume; true as soon
    // as more than twice lodLightsLimits[0] do.
    bool collectLightsInVolume(const Intersection& volume, std::uint32_t group, std::vector<Light*>& out) const;

    // Light sets by name, for the sky's current mode; false (logged, nothing
    // changed) when the library has no such set.
    bool setDefaultLightSet(const char* set);
    bool setAreaLightSet(const char* area, const char* set);
    bool setCameraLightSet(const char* camera, const char* set);
    // The light set a model takes: in game state 9 the area of the selected
    // screen, else the first area that holds its position, else the default.
    LightSet* lightSetForModel(GameObject& model);

    // Dialogs: one of them may be the main dialog.
    GameObjectLink findDialog(const char* dialogName) const;
    GameObject* createDialog(const char* dialogName, bool main);
    bool delDialog(const char* dialogName);

    // Sounds of the five lists (0 "effect", 1 "voice", 2 "ambient",
    // 3 "ambient_loop", 4 "music"); another list index is refused.
    std::int32_t findSound(std::uint32_t list, const char* soundName) const;
    GameObject* addSound(std::uint32_t list, const char* soundName, const char* alias, std::uint32_t flags);
    bool deleteSound(std::uint32_t list, const char* soundName);
    bool deleteSoundAt(std::uint32_t list, std::int32_t index);
    bool pushSounds();
    bool popSounds();
    // Plays again the sounds that were playing before the scene left.
    bool restoreSounds(const CurrentTime& time);
    bool refreshSounds(bool skip);
    // The automatic ambient sound of the scene's ambient set ("default"
    // when none is set, the set of the "sound:" volume beneath the camera
    // when there is one): started with its envelope, and started again
    // once it has ended; the ambient sounds of other sets fade out and are
    // deleted.
    void updateAmbientSounds();
    // The ambient set becomes the id after "sound:" of the "sound:" ground
    // volume nearest beneath the current camera; without one (or without a
    // camera) the set stays as it is.
    void chooseAmbientSetByVolume();

    // The point to look at (translation of out): the main dialog's target
    // for the looking object, else the nearest head in front of the camera.
    bool findLookTarget(Matrix34& out, GameObject* looking);

    bool setMainCharacter(GameObjectLink link);
    // The current camera, or null.
    CameraCore* camera() const;
    // The camera of that name, or null (logged); the current camera stays.
    CameraCore* findCamera(const char* cameraName) const;
    // Updates every camera while scene time runs.
    bool updateCameras(const CurrentTime& time);
    // The object of the main character link, or null.
    GameObject* mainCharacterObject() const;
    // The waypoint of that exact name (and kind, unless -1), the dynamic
    // ones first, or null.
    Y3Pose* findWaypoint(const char* poseName, std::int32_t kind = -1) const;
    // Adds a static waypoint to the scene's waypoint set, kept sorted by
    // name; false when the set cannot be had or holds the name.
    bool addWaypoint(std::unique_ptr<Y3Pose> waypoint);
    // A point pose made at run time, kept by name beside the static
    // waypoints; refused (logged) when a static point or model waypoint has
    // the name. setAimPoint is the one named "aimPoint".
    bool setDynamicWaypoint(const char* poseName, const Matrix34& pose);
    bool setAimPoint(const Matrix34& pose);
    // A waypoint by name and kind (kPoseAnyKind: any): a point or any-kind
    // search looks at the run-time points first, other kinds at the static
    // waypoints only.
    Y3Pose* searchWaypoints(const char* poseName, std::int32_t kind) const;
    // The point or model waypoint (static or run-time) whose name begins
    // with the prefix (null: any) nearest the position; ties go to the
    // first found.
    Y3Pose* searchNearestWaypoints(const char* prefix, const float* position) const;
    // Each light area takes the box of the trigger waypoint of its name,
    // when there is one (after the sky's light mode changed).
    void placeLightAreasOnWaypoints();
    // The first model whose link parent is the object (what it carries).
    GameObject* findLinkedChild(const GameObject* parent) const;
    // The nearest model with a head, other than exclude, whose squared
    // distance from the position is below limit; null when none.
    GameObject* findNearestModel(const float* position, const GameObject* exclude, float limit) const;
    // Every model refreshes its drawing data at its next update.
    void markModelsDirty();

    // The companions' teleport trail. Recording refuses a position off a
    // free grid block or within 1.0 of a stored point; the update measures,
    // rates, drops and sorts the points (true when the main character
    // qualified); the choice is the nearest usable point the current camera
    // does not see.
    bool recordTeleportPoint(const float* position, double time);
    bool updateTeleportPoints(const CurrentTime& time);
    bool findTeleportPoint(Matrix34& out) const;
    // The scene's box query: true when the current scene's current camera
    // sees the box. Without a current scene it is logged and answers true
    // (nothing is placed there); while a save loads nothing is seen.
    static bool intersectOBB(const IntersectionOBBox& box);
    bool gridCellsAround(const float* position) const;
    // The count, the 64-byte points, then the two band settings.
    std::int32_t writeTeleportPoints(DataStream& stream) const;
    std::int32_t readTeleportPoints(DataStream& stream);
    // The block into a list and the two band settings, the scene untouched.
    static std::int32_t readTeleportBlock(DataStream& stream, std::vector<TeleportPoint>& points, float* bands);

    // Rain: made from the rain map named after the scene, shown, hidden
    // (which drops it) and generated from its setup data.
    bool createRain();
    bool showRain(bool on);
    bool dropRain();
    bool generateRainMap();
    // The box around every model of the scene; false when there is none.
    bool computeModelBounds(float* min, float* max) const;

    bool onStack() const { return (flags & kSceneOnStack) != 0; }
    bool isDebugScene() const;
    // True when the scene's data is loaded, reading it on first use; the
    // records of its lights are then loaded too.
    bool loadSceneData();
    // Loads the records of the data's lights that are missing or empty and
    // remembers their names for the release.
    void holdLightRecords();

    // The walks of push and pop over one kind of object.
    bool pushModels();
    bool pushSprites();
    bool pushParticles();
    bool pushDialogs();
    bool popModels(std::uint32_t word);
    bool popSprites();
    bool popParticles(std::uint32_t word);
    bool popDialogs();

    // One pass of the staggered update over a list: each live object of the
    // group gets the phase's slot with its pass mask; false when one failed.
    bool updateList(std::vector<GameObjectLink>& list, const UpdateSchedule& schedule, const CurrentTime& time,
                    std::uint32_t group, int phase);
    // The phase over every list (objects only in states that update them,
    // the sound lists always), for group 0 then group 1.
    bool updatePhase(const CurrentTime& time, int phase);

    std::uint32_t flags = 0;
    Y3SceneDataInstance* resource;
    SceneLighting lighting{this};
    Matrix34 startPose{};
    std::vector<GameObjectLink> models;
    std::vector<GameObjectLink> sprites;
    std::vector<GameObjectLink> lights;
    std::vector<GameObjectLink> particles;
    std::vector<GameObjectLink> grids;
    // Where the objects of the five lists above are by name, for the
    // lookups and the unique-name checks (checked against the list before
    // it is trusted, see SceneNameIndex.h).
    mutable SceneNameIndex modelNames;
    mutable SceneNameIndex spriteNames;
    mutable SceneNameIndex lightNames;
    mutable SceneNameIndex particleNames;
    mutable SceneNameIndex gridNames;
    // The light database's records of the data's lights, dropped when the
    // scene is released.
    std::vector<std::string> lightRecords;
    std::vector<GameObjectLink> dialogs;
    std::vector<GameObjectLink> sounds[kSceneSoundLists];
    GameObjectLink mainDialog;
    GameObjectLink mainCharacter;
    // Read from section "render" at every push.
    std::int32_t lodLightsLimits[3] = {3, 3, 3};
    UpdateSchedule schedules[ScheduleCount];
    // The scene's cameras; the first is the default one made by initialize.
    std::vector<std::unique_ptr<CameraCore>> cameras;
    std::int32_t currentCamera = -1;
    // The waypoints made at run time, by name (byte order); the static ones
    // are the holder's (waypointData).
    std::vector<std::unique_ptr<Y3Pose>> dynamicWaypoints;
    // The static waypoints of the holder, by name.
    const std::vector<std::unique_ptr<Y3Pose>>& staticWaypoints() const;
    GameObjectLink physicsScene;
    // The scene's triggers.
    std::unique_ptr<SceneTriggers> triggers;
    std::vector<TeleportPoint> teleportPoints;
    // The word stored after the physics scene in the save record.
    std::uint32_t sceneWord = 0;
    // The ambient sound set (empty: none).
    char ambientSet[128] = {};
    // The ambient set whose sounds were last put in place ("" none yet),
    // and the name of the sound put in place for it ("" none: its variable
    // is missing or the sound could not be made, which is not tried again
    // until the set changes).
    std::string ambientApplied;
    std::string ambientSound;
    std::vector<BlendList> blendLists;
    // Visibility areas, portals and the registered objects.
    ScenePVS pvs;
    // The shadow casters and receivers of the scene.
    SceneShadows shadows;
    // The scene's own timers (the scripts' "timersAPI" of the scene).
    TimerCore timers;
    // Runs the scene's timers once a frame; in game state 6 their game time
    // stands still (the game-time step is zeroed), real time goes on.
    void updateTimers(const CurrentTime& sample);
    // The scene's sky: pushed last by push, popped by pop, kept by the save
    // record. Null only for a scene made without one.
    std::unique_ptr<Y3Sky> sky;
    // The sky's light mode (time of day, which picks the light sets) and
    // weather; 1 and 0 without a sky, whose setters then do nothing.
    std::int32_t skyLightMode() const;
    std::int32_t skyWeather() const;
    void setSkyLightMode(std::int32_t mode);
    void setSkyWeather(std::int32_t weather);
    // The rain object (null: none).
    std::unique_ptr<RainMap> rainMap;
    // Game time of the last update and of the last waypoint refresh.
    double lastUpdateTime = -1.0;
    double lastWaypointRefresh = -1.0;
    double lastGridRefresh = -1.0;
    // The grid-obstacle refresh: the cells its obstacles block now ([0];
    // cells blocked in the grid's own data are never listed, so freeing the
    // list frees only what obstacles blocked) and the cells found by the
    // refresh running ([1]); the grid data they belong to.
    std::vector<std::uint32_t> gridObstacles[2];
    const void* gridObstacleData = nullptr;
    // The holder of the scene's static waypoints (made by the constructor,
    // read at initialisation, pushed and popped with the scene).
    std::unique_ptr<Waypoints> waypointData;
    // The holder of the scene's screen actions (made by the constructor,
    // pushed and popped with the scene, saved in its record).
    std::unique_ptr<SceneScreenActions> screenActions;
};

// The alias of an automatic ambient sound of that name from its ambient
// set's variable; "" for other names or a set without one.
std::string ambientSoundAlias(const char* soundName);

// The names of the five sound lists, by index ("" for others).
const char* sceneSoundListName(std::uint32_t list);
