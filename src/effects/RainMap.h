// The rain of a scene: its rain-map records and the rain object a scene
// shows.
//
// The rain map of a scene is the stored rain resource named after it. The
// rain object keeps a flag word: bit 1 its rain map is loaded, bit 3 the
// rain is shown. Drawing the rain and generating a rain map from its setup
// data belong to the rain effect, which this build does not carry: a rain
// object has no setup data, so generation is refused by its caller.
#pragma once

#include <cstdint>
#include <memory>

#include "resources/StoredDataManager.h"

class RainMapDataManager : public StoredDataManager {
public:
    RainMapDataManager();
};

// The manager installed by the render core (null without one).
RainMapDataManager* rainMapDataManager();
void setRainMapDataManager(RainMapDataManager* manager);

constexpr std::uint32_t kRainMapLoaded = 0x2;
constexpr std::uint32_t kRainShown = 0x8;

class RainMap {
public:
    // The rain of the record, its rain map loaded; null when the record's
    // rain map cannot be read.
    static std::unique_ptr<RainMap> create(StoredResourceRecord* record);

    // Drops the loaded rain map. True.
    bool release();
    // Loads the setup data the generator needs; false when there is none.
    bool loadSetup() { return false; }
    // Generates the rain map from the setup data; false without it.
    bool generate() { return loadSetup(); }

    std::uint32_t flags = 0;
    StoredResourceRecord* record = nullptr;
};
