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

#include "effects/SkyDataManager.h"
#include "render/TextureLink.h"
#include "resources/Y3ResourceManager.h"

class DataStream;
struct CurrentTime;

// Bits of Y3Sky::state.
constexpr std::uint32_t kSkyRegistered = 0x2;  // in the description's user list
constexpr std::uint32_t kSkyAllocated = 0x4;   // pushed with its scene

// The sky's values of the frame, published by the sky update from its
// current record and read by the renderer (fog, bloom, depth) and the camera
// (the fog end as its view distance).
struct SkyEnvironment {
    float range[3];   // record fields 0-2
    float depth4;     // "depth" argument 5
    float depth[4];   // "depth" arguments 1-4
    float bloom[3];
    float fogStart;
    float fogEnd;
    float horizon[3];
};
static_assert(sizeof(SkyEnvironment) == 16 * sizeof(float));

// The one record of the running game; keeps its last values while no sky
// can publish.
SkyEnvironment& skyEnvironment();

// The layers, by index.
enum SkyLayer : std::int32_t { SkyLayerMain, SkyLayerClouds, SkyLayerRain, SkyLayerFog, kSkyLayerCount };

// Weather values.
enum SkyWeather : std::int32_t { SkyClear, SkyClouds, SkyRain, SkyFog };

// The colour layers of a record the shader path draws the dome with.
enum SkyColourLayer : std::int32_t { SkyColourSky, SkyColourStars, SkyColourClouds };

// The layers of one shader-path draw of the dome and its programs.
struct SkyShaderPass {
    std::int32_t layerCount = 0;
    SkyColourLayer layers[3] = {};
    std::int32_t vertexProgram = 0;
    std::int32_t pixelProgram = 0;
};

// The layers and programs for the weather and a record: a colour layer is
// on when any of its components is at least 0.0001. Rain draws the clouds
// colour alone.
SkyShaderPass skyShaderPass(std::int32_t weather, const float (&record)[kSkyRecordFields]);

// The frame's clear colour and alpha from a record: the horizon colour, and
// the alpha (min((depth value 4 + 1) / 2, 1)) that the sky's own pixels
// carry too. Values that are not finite count as 0.
std::uint32_t skyBackgroundColour(const float (&record)[kSkyRecordFields]);

class Y3Sky : public ResourceUser {
public:
    // A sky of the description (not owned; may be null only where no sky
    // is ever pushed): clear weather, daytime, no scroll.
    explicit Y3Sky(Y3SkyDataInstance* description);
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

    // The per-frame step, run by the scene's frame: scrolls the clouds by
    // the record's cloud speed over the frame's step and publishes the
    // record into the sky environment. False, nothing changed, when the
    // description has no records.
    bool update(const CurrentTime& time);

    // Draws the dome around the frame's eye with the current record's
    // layers: renderShader through the sky programs, renderFixed through
    // texture stages; render takes the path of the current video mode.
    // False, nothing drawn, without records, without the dome's buffers or
    // when a layer's texture cannot be had.
    bool render();
    // The sky of a scene while its rain is shown: the rain weather's form
    // of the current time of day; the weather itself is kept.
    bool renderRainy();
    bool renderShader();
    bool renderFixed();

    // Weather and time of day, each clamped into 0..3 (a value outside is
    // logged); the record index is weather + 4 x time of day.
    void setWeather(std::int32_t value);
    void setTimeOfDay(std::int32_t value);

    // Cloud offset u, cloud offset v, state, weather, time of day: 4 bytes
    // each. The byte count, or the first negative count.
    std::int32_t write(DataStream& stream) const;
    // Reads the same words; the sky comes back with state 0, its weather
    // and time of day clamped. Nothing changes when the five words cannot be
    // read.
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
    Y3SkyDataInstance* description;
    float cloudOffsetU = 0.0f;
    float cloudOffsetV = 0.0f;
    std::uint32_t state = 0;
    // 0 "clear", 1 "clouds", 2 "rain", 3 "fog".
    std::int32_t weather = SkyClear;
    // The light mode: 0 "morning", 1 "day", 2 "evening", 3 "nighttime".
    std::int32_t timeOfDay = 1;

private:
    // Allocates a layer's texture on its first use; a missing one is
    // logged the first time only (bit per layer in layersTried).
    bool layerReady(std::int32_t index);
    std::uint32_t layersTried = 0;
};
