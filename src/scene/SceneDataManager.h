// The scene resources: one record per scene name, kept by the scene-data
// manager, with the scene data read from the record's ".ms4" file, the list
// of scenes pushed from it and the scene context that draws them.
//
// A record whose file is missing (kResourceUnavailable) becomes a debug
// scene when a scene is created from it (kResourcePlaceholder): such a scene
// has no data and pushes with nothing in it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "effects/Y3Light.h"
#include "foundation/Math.h"
#include "model/ModelProperty.h"
#include "model/ObjectContext.h"
#include "resources/Y3ResourceManager.h"
#include "scene/ScenePVS.h"
#include "scene/Y3Pose.h"

class Scene;
class SceneContext;

// The first word of every scene data record.
constexpr std::uint32_t kSceneDataMagic = 0x9A70DE16;

// A model placed by the scene data.
struct SceneModelPlacement {
    char name[128] = {};
    char model[128] = {};
    Matrix34 pose = matrix34Identity();
    ModelProperty properties;
};

// A sprite placed by the scene data.
struct SceneSpritePlacement {
    char name[128] = {};
    char sprite[128] = {};
    Matrix34 pose = matrix34Identity();
};

// The loaded contents of a scene resource.
struct SceneData {
    char name[128] = {};
    std::vector<SceneModelPlacement> models;
    std::vector<SceneSpritePlacement> sprites;
    std::vector<std::unique_ptr<Y3Light>> lights;
    std::vector<std::unique_ptr<Y3Pose>> poses;
    ScenePVS pvs;

    // Reads the scene data record: bytes read or negative. A wrong magic, a
    // name too long for its field, a count larger than the bytes left could
    // hold, or a short stream is refused with -1 and a message.
    std::int32_t read(DataStream& stream);
    // Writes the record the reader reads; negative when a part cannot be
    // stored.
    std::int32_t write(DataStream& stream) const;
    // Drops every placement, light, pose and the visibility block.
    void release();
};

class Y3SceneDataInstance : public ResourceRecord {
public:
    explicit Y3SceneDataInstance(const char* name);
    ~Y3SceneDataInstance() override;

    // Reads the scene data record, then allocates its lights: bytes read,
    // or negative (logged) with the record left without data.
    std::int32_t readHeader(DataStream& stream) override;
    bool hasObject() const override { return data != nullptr; }
    void deleteObject() override { releaseData(); }
    // Makes the light data record "<scene>.<light>" of every light of the
    // data, loaded from it and allocated under the loading lock; false when
    // one failed (logged), the others still go on.
    bool allocateLights(const char* sceneName);
    // Drops the scene data.
    void releaseData();

    std::unique_ptr<SceneData> data;
    // The scenes of this resource that are on stack.
    std::vector<Scene*> instances;
    // The render context, present while an instance is on stack; the
    // render object below owns it and links it into the render list.
    SceneContext* context = nullptr;
    RenderObject renderObject;
};

class SceneDataManager : public Y3ResourceManager<Y3SceneDataInstance, kProgressNoReportStage,
                                                  kProgressNoReportStage> {
public:
    // The record of a scene name, created and inserted at its sorted place
    // when absent; a missing file is flagged (and logged when report is set).
    Y3SceneDataInstance* get(const char* name, bool report) { return getOrCreate(name, report); }
};

// The manager the scenes read their data through (the game's save-game
// record installs its own); null when none is installed.
SceneDataManager* sceneDataManager();
void setSceneDataManager(SceneDataManager* manager);
