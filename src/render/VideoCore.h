// The video core: the machine's processors and desktop mode, the Direct3D 9
// interface, the three video setups (safe, user, spare) with the active
// one that every rendering decision reads, and the device part.
//
// Construction only fills the records; the host is asked (processors,
// desktop, Direct3D) by detectSystem, which initialize runs first, so the
// Direct3D environment the program installs at its entry is the one used.
#pragma once

#include <cstdint>
#include <vector>

#include "render/VideoDevice.h"
#include "render/VideoSetup.h"

class VideoCore {
public:
    VideoCore();
    ~VideoCore();
    VideoCore(const VideoCore&) = delete;
    VideoCore& operator=(const VideoCore&) = delete;

    // Installs the Direct3D environment the game runs on (its backend, the
    // adapter profile, refusals into the log). Run by the program's entry
    // before the video core is initialised; tests install their own.
    static void installGamePlatform();

    // Logs the processors and the desktop mode and loads Direct3D 9 ("DirectX9
    // not present on this PC" and the state Failed when it answers none).
    // Runs once; initialize runs it when it has not run.
    void detectSystem();
    // Enumerates, chooses the adapter and builds the resolution list; false
    // (logged) when no adapter or no resolution is usable.
    bool initialize();
    // Releases the Direct3D interface, then the device part.
    void release();

    // The render device; null until the render core creates one.
    IDirect3DDevice9* device() const { return videoDevice.device(); }
    bool hasDevice() const { return videoDevice.device() != nullptr; }
    IDirect3D9* direct3d() const { return direct3d_; }

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
    // The display's refresh rate in Hz (0 while unknown), asked of the
    // platform on first use; displayRefreshRate answers 60 when the display
    // does not tell. Setting it first skips the question.
    std::int32_t refreshRate = 0;
    std::int32_t displayRefreshRate();

    // The post-processing switch: on when the active record has details
    // above minimum and bloom or depth of field on, unless section "debug"
    // key "debug_disable_postprocessing" (default false) turns it off.
    void updatePostprocessing();
    bool postprocessing = false;
    // Set by the device set-up when the device has no back buffer with alpha
    // for the chosen mode: the depth of field (which keeps depth there) is
    // then neither allocated nor drawn, whatever pp_depth says.
    bool depthOfFieldVeto = false;

    // The primary screen's pixel size.
    float screenWidth = 1280.0f;
    float screenHeight = 1024.0f;

    // The device part.
    VideoDevice videoDevice{*this};

private:
    IDirect3D9* direct3d_ = nullptr;
    bool detected_ = false;
};
