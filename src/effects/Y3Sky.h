// The sky of a scene: four texture layers, the sky description whose
// records give its colours by weather and time of day, the scroll of its
// cloud layer, and the scene's current weather and time of day.
//
// The scene makes its sky from the sky description named after it, pushes
// it last when the scene is pushed and pops it when the scene is popped;
// the push registers the sky as a user of its description. The sky's five
// words (cloud scroll, state, weather, time of day) go into the scene's
// save record.
#pragma once

#include <cstdint>

#include "render/TextureLink.h"
#include "resources/Y3ResourceManager.h"

class DataStream;
class StoredResourceRecord;
struct CurrentTime;

// Bits of Y3Sky::state.
constexpr std::uint32_t kSkyRegistered = 0x2;  // in the description's user list
constexpr std::uint32_t kSkyAllocated = 0x4;   // pushed with its scene

// A sky description: 16 records (4 x time of day + weather) of 27 floats.
constexpr std::int32_t kSkyRecordCount = 16;
constexpr std::int32_t kSkyRecordFields = 27;
// Fields of a sky record that others read.
enum SkyRecordField : std::int32_t {
    SkyFieldDepth4 = 3,    // "depth" argument 5
    SkyFieldHorizon = 11,  // "horizontcolor": red, green, blue
};

// The layers, by index.
enum SkyLayer : std::int32_t { SkyLayerMain, SkyLayerClouds, SkyLayerRain, SkyLayerFog, kSkyLayerCount };

// Weather values.
enum SkyWeather : std::int32_t { SkyClear, SkyClouds, SkyRain, SkyFog };

class Y3Sky : public ResourceUser {
public:
    // A sky of the description (not owned; may be null only where no sky
    // is ever pushed): clear weather, daytime, no scroll.
    explicit Y3Sky(StoredResourceRecord* description);
    // Only reports a sky still pushed; releasing it is the scene's duty.
    ~Y3Sky();
    Y3Sky(const Y3Sky&) = delete;
    Y3Sky& operator=(const Y3Sky&) = delete;

    // Registers the sky with its description; false (logged) on failure,
    // the state unchanged.
    bool push();
    // Leaves the description's user list and releases the layers; false
    // (logged) on failure, the state unchanged.
    bool pop();

    // The per-frame step, run by the scene's frame. It scrolls the clouds
    // and publishes the sky's environment values from the description's
    // record of the weather and time of day; those records are not read
    // yet, so there is nothing to advance and the result is false, as for a
    // description without records.
    bool update(const CurrentTime& time);

    // Cloud offset u, cloud offset v, state, weather, time of day: 4 bytes
    // each. The byte count, or the first negative count.
    std::int32_t write(DataStream& stream) const;
    // Reads the same words; the sky comes back neither registered nor
    // pushed. Nothing changes when the five words cannot be read.
    std::int32_t read(DataStream& stream);

    // The current record (weather + 4 x time of day) of the description,
    // its header loaded when it is not yet; false (fields unchanged) without
    // a description, when it is invalid or cannot be loaded, when it holds
    // fewer than 16 records or when weather or time of day is out of range.
    bool currentRecord(float (&fields)[kSkyRecordFields]) const;

    // The layer the sky draws its weather with, which the water passes
    // reflect when no reflection target is in use.
    TextureLink& currentLayer();

    const char* resourceUserName() const override;
    bool resourcePushed() const override { return (state & kSkyRegistered) != 0; }
    void setResourcePushed(bool pushed) override;

    // "sky_main", "sky_clouds", "sky_rain", "sky_fog".
    TextureLink layers[kSkyLayerCount];
    StoredResourceRecord* description;
    float cloudOffsetU = 0.0f;
    float cloudOffsetV = 0.0f;
    std::uint32_t state = 0;
    // 0 "clear", 1 "clouds", 2 "rain", 3 "fog"; callers keep it in range.
    std::int32_t weather = SkyClear;
    // The light mode: 0 "morning", 1 "day", 2 "evening", 3 "nighttime".
    std::int32_t timeOfDay = 1;
};
