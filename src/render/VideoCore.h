// The video core: the display adapters, the chosen display settings and the
// render device once the render core has made it.
//
// This build runs headless by default: no adapter is found, initialisation
// still succeeds, and the device stays null, so nothing is drawn.
#pragma once

#include <cstdint>
#include <vector>

#include "render/VideoDevice.h"
#include "render/VideoSetup.h"

class IDirect3DDevice9;

class VideoCore {
public:
    VideoCore();
    ~VideoCore();
    VideoCore(const VideoCore&) = delete;
    VideoCore& operator=(const VideoCore&) = delete;

    // Enumerates adapters and display modes and chooses the current display
    // settings; true when the system may go on (also without a device).
    bool initialize();
    // Frees the adapter data.
    void release();

    // The render device; null until the render core creates one.
    IDirect3DDevice9* device() const { return device_; }
    bool hasDevice() const { return device_ != nullptr; }

    // The applied and the requested gamma.
    float gamma = 1.0f;
    float requestedGamma = 1.0f;
    // 0: the script's detail limit is 2; else 0. Set for a limited card,
    // whose default details are "normal".
    std::uint8_t detailsLimit = 0;
    // Set when the device was connected through the fixed-pipeline fall back.
    bool fixedPipeline = false;

    // The video options: 0 the safe settings, 1 the user's, 2 a spare set.
    VideoSetup setups[3];
    // The record every rendering decision reads (1; 0 after a fall back).
    std::int32_t activeSetup = 1;
    VideoSetup& activeVideoSetup() { return setups[activeSetup >= 0 && activeSetup < 3 ? activeSetup : 1]; }

    // The device's resolution list and the first entry of a size, or -1.
    std::vector<VideoResolution> resolutions;
    std::int32_t findResolution(std::int32_t width, std::int32_t height) const;

    // The desktop size, asked of the platform on first use (1024 x 768
    // without a display); setting both fields first skips the question.
    std::int32_t desktopWidth = 0;
    std::int32_t desktopHeight = 0;
    void desktopSize(std::int32_t& width, std::int32_t& height);
    // The display's refresh rate in Hz, asked of the platform on first use
    // (60 when the display does not tell); setting it first skips the
    // question.
    std::int32_t refreshRate = 0;
    std::int32_t displayRefreshRate();

    // The post-processing switch: on when the active record has details
    // above minimum and bloom or depth of field on, unless section "debug"
    // key "debug_disable_postprocessing" (default false) turns it off.
    void updatePostprocessing();
    bool postprocessing = false;

    // The device part (sampler set-up, gamma ramp).
    VideoDevice videoDevice{*this};

private:
    IDirect3DDevice9* device_ = nullptr;
};
