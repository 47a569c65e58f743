// The render core: the frame's passes, the splash screen and the
// device-dependent render data.
//
// Without a render device (the headless default) every operation succeeds
// and draws nothing.
#pragma once

#include <cstdint>
#include <memory>

struct StillFrameRenderer;

class RenderCore {
public:
    RenderCore();
    ~RenderCore();
    RenderCore(const RenderCore&) = delete;
    RenderCore& operator=(const RenderCore&) = delete;

    // Reads section "render" of the settings.
    void readConfig();
    // Initialises the video device and the render device.
    bool initialize();
    // Allocates the render device data.
    bool allocate_device();
    // Draws and presents the splash screen once.
    void renderSplash();
    // Draws the current scene's frame.
    void mainLoop();
    // The per-frame resource step (texture and mesh caches).
    void updateResources();
    // Releases every device-dependent resource.
    void releaseDeviceData();
    // Releases the data managers and render targets.
    void release();

    // The still frames and their input box, owned here.
    StillFrameRenderer& stillFrames() { return *stillFrames_; }

    // Set by the frame step before mainLoop: 1 when the video core's first
    // state flag is set, else 0.
    std::int32_t frameMode = 0;

private:
    std::unique_ptr<StillFrameRenderer> stillFrames_;
};
