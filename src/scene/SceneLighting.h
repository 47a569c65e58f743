// The light sets of a scene: four default sets, one per light mode (the
// sky's time of day), and light areas tied to a camera name or a trigger
// volume, each with four sets of its own. Mode 5 stands for the sky's
// current mode; any other value outside 0..3 is refused.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/Intersection.h"

class Scene;
class Y3Pose;
struct LightSet;

// The run mode of the program: the game runs in mode 10; below 6 scenes
// take the "default" light set, and in modes 0 to 3 a missing one is not a
// failure.
extern std::int32_t sceneRunMode;

// The mode value that means the sky's current light mode.
constexpr std::int32_t kCurrentLightMode = 5;

struct LightSetEntry {
    char name[128] = {};
    LightSet* set = nullptr;
};

class SceneLighting;

struct LightArea {
    explicit LightArea(SceneLighting* owner) : owner(owner) {}
    SceneLighting* owner;
    IntersectionOBBox volume;
    LightSetEntry entries[4];
    char name[128] = {};

    // Whether the point lies inside the area's box.
    bool contains(const float* point) const;
};

class SceneLighting {
public:
    explicit SceneLighting(Scene* owner) : owner(owner) {}

    // Sets "<scene>_default" as the default of every mode; false, with the
    // CRITICAL banner, when one of them is missing.
    bool initDefault();
    bool setDefault(std::int32_t mode, const char* name);
    LightSet* getDefault(std::int32_t mode);
    bool setCameraLightSet(const char* camera, std::int32_t mode, const char* set);
    bool setTriggerLightSet(const Y3Pose& trigger, const float* size, std::int32_t mode, const char* set);
    LightSet* getAreaLightSet(LightArea& area, std::int32_t mode);
    LightArea* findArea(const char* name) const;
    LightArea* findAreaContaining(const float* point) const;
    std::int32_t indexOfArea(const char* name) const;
    // Resolves every entry again; true only when every one was found.
    bool resolveAll();
    // Deletes the areas and forgets the resolved default sets.
    void release();

    Scene* owner;
    LightSetEntry defaults[4];
    std::vector<std::unique_ptr<LightArea>> areas;

private:
    // Mode 5 becomes the sky's current mode; -1 when out of bounds.
    std::int32_t resolveMode(std::int32_t mode) const;
    bool assign(LightSetEntry& entry, const char* name);
    LightArea& areaNamed(const char* name);
    void markDirty();
};

// The light set of that name in the game's library, or null.
LightSet* requestLightSet(const char* name);
