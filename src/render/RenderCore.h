// The render core: the frame's passes, the splash screen and the
// device-dependent render data.
//
// Without a render device (the headless default) every operation succeeds
// and draws nothing.
#pragma once

#include <cstdint>
#include <array>
#include <memory>

#include "foundation/Image.h"
#include "render/StillFrameSlots.h"

struct StillFrameRenderer;

class RenderCore {
public:
    RenderCore();
    ~RenderCore();
    RenderCore(const RenderCore&) = delete;
    RenderCore& operator=(const RenderCore&) = delete;

    // Reads section "render" of the settings into renderSettings.
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

    // Renders the current frame into image, scaled to width x height (the
    // save screenshot). Until the frame passes draw, the image is plain grey
    // at that size. False for a size of 0.
    bool renderSaveScreenShot(TgaImage& image, std::uint32_t width, std::uint32_t height);
    // The four thumbnail textures of the load screen ("procSaveScreenShot0"
    // to "procSaveScreenShot3"): reload replaces a texture's pixels; false
    // for a slot outside 0..3 or an image without pixels.
    bool reloadSaveScreenShot(std::int32_t slot, const TgaImage& image);
    // The texture's pixels, or null for a slot outside 0..3.
    const TgaImage* saveScreenShotTexture(std::int32_t slot) const;

    // The still frames and their input box, owned here.
    StillFrameRenderer& stillFrames() { return *stillFrames_; }

    // The still-frame slot block; emptied when a scene is left.
    StillFrameSlots stillFrameSlots;

    // Set by the frame step before mainLoop: 1 when the video core's first
    // state flag is set, else 0.
    std::int32_t frameMode = 0;

private:
    std::unique_ptr<StillFrameRenderer> stillFrames_;
    std::array<TgaImage, 4> saveScreenShots_;
};
