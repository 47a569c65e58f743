// The video options of the player's setup: one record of 19 32-bit words,
// kept by the video core (safe, user and spare sets) and by each option
// record of the game setup, which copy it word for word.
//
// An option field is an index into its list of names; the names are the
// values of section "video" of the setup file, compared without case. The
// record reads the device facts it needs (resolution list, desktop size,
// fixed-pipeline fall back) from the video core of the game core.
#pragma once

#include <cstdint>

// One entry of the device's resolution list.
struct VideoResolution {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t adapter = 0;
    char label[128] = {};
};

// Option indices that code relies on (fixed: they are the positions of the
// names in the option lists and are stored in setup files as those names).
enum VideoDetails : std::int32_t { VideoDetailsMinimum = 0, VideoDetailsNormal = 1, VideoDetailsHigh = 2 };
enum VideoSync : std::int32_t { VideoSyncNone = 0, VideoSyncDefault = 1, VideoSyncOne = 2 };

class VideoSetup {
public:
    VideoSetup() = default;

    // Reads every key of the section (keys are created empty when missing).
    // A missing or unusable value keeps the record's own; after the read a
    // fixed-pipeline device turns details, water, reflection and shadows
    // down. False only without a settings store.
    bool readIni(const char* section);
    // Writes every key with its comments; a fixed variable keeps its value.
    // Leaves the store with a save pending. False without a settings store.
    bool writeIni(const char* section) const;
    // The defaults of the detected device ("Get video INI defaults").
    void setDefaults();
    // Width, height and adapter from a 0-based entry of the resolution list;
    // false (logged) outside the list.
    bool setResolution(std::int32_t index);
    // The 0-based list entry of the record's size; when there is none the
    // desktop rule is applied first and that size looked up; -1 when absent.
    std::int32_t findResolutionIndex();
    // Section "game" key "useDesktopResolution" (default yes): yes takes the
    // desktop size and answers true; no sets 1024 x 768 and answers false.
    bool applyDesktopResolution();

    // Fields in their stored order.
    std::uint8_t windowMode = 0;
    std::int32_t res_width = 1024;
    std::int32_t res_height = 768;
    std::int32_t bits = 1;             // "16", "32"
    std::int32_t aa = 0;               // "none", "2x", "4x", "8x"
    std::int32_t details = 2;          // "minimum", "normal", "high"
    std::int32_t texture = 1;          // "min", "normal", "max" (filtering, anisotropy)
    std::int32_t vSync = 2;            // "None", "Default", "one" .. "four"
    std::int32_t nmap = 1;             // "low", "normal", "high"
    std::int32_t water = 2;            // "low", "normal", "high"
    std::int32_t waterReflection = 1;  // "no", "yes"
    std::int32_t quality = 1;          // "low", "normal", "high" (main textures)
    std::int32_t shadows = 1;          // "no", "yes", "soft"
    float gamma = 0.0f;                // -1 .. 1, 0 neutral
    std::int32_t frequency = 0;        // "AUTO", "50", "60", "65", "70", "75", "85", "100"
    std::int32_t sprite = 0;           // "minimum", "low", "normal"
    std::int32_t adapter = 0;
    std::int32_t pp_depth = 0;  // "no", "yes"
    std::int32_t pp_bloom = 0;  // "no", "yes"
};

static_assert(sizeof(VideoSetup) == 19 * 4, "the video record is 19 words");
