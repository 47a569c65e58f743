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

#include "resources/Y3ResourceManager.h"

class Scene;
class SceneContext;

// The first word of every scene data record.
constexpr std::uint32_t kSceneDataMagic = 0x9A70DE16;

// The loaded contents of a scene resource. Objects of the scene (models,
// sprites, lights, poses, visibility) are read by their own readers; a
// record that lists any is refused until those readers exist.
struct SceneData {
    char name[128] = {};
};

class Y3SceneDataInstance : public ResourceRecord {
public:
    explicit Y3SceneDataInstance(const char* name);
    ~Y3SceneDataInstance() override;

    // Reads the scene data record: bytes read, or -1 (wrong magic, a name
    // that does not fit, objects this reader cannot place, a short stream).
    std::int32_t readHeader(DataStream& stream) override;
    bool hasObject() const override { return data != nullptr; }
    void deleteObject() override { data.reset(); }

    std::unique_ptr<SceneData> data;
    // The scenes of this resource that are on stack.
    std::vector<Scene*> instances;
    // The render context, present while an instance is on stack.
    std::unique_ptr<SceneContext> context;
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
