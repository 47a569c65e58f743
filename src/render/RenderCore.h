// The render core: the frame's passes, the splash screen and the
// device-dependent render data.
//
// Without a render device (the headless default) every operation succeeds
// and draws nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/Smoother.h"
#include "render/TextureLibrary.h"

struct StillFrameRenderer;
class CameraCore;

// The current camera's matrices (4-by-4, row vectors) as the frame's passes
// read them.
struct CameraFrame {
    float view[16] = {};
    float projection[16] = {};
    float viewProjection[16] = {};
    float world[16] = {};
    float position[3] = {};
    // The depth-of-field focus values.
    float focus[2] = {};
    bool valid = false;
};
class StillFrameItem;

// What a still-frame slot points to; its first field is the still-frame item.
struct StillFrameSlotHolder {
    StillFrameItem* item = nullptr;
};

// The still-frame slot block: 32 slots for still-frame items the renderer
// places, a record of counters and flags, the background colour (refreshed
// by the sky's render each frame; render targets without a clear colour of
// their own are cleared with it) and a two-stage smoother.
struct StillFrameSlotBlock {
    static constexpr int kSlotCount = 32;
    static constexpr std::uint32_t kDefaultBackground = 0xFF406080;

    // Counters and flags; clear() zeroes all but the kept words and frees
    // the buffer.
    struct Counters {
        std::uint32_t words[10] = {};
        std::uint32_t keptWords[4] = {};  // zero at construction only
        std::uint32_t moreWords[5] = {};
        std::uint8_t flags[3] = {};
        std::uint32_t word = 0;
        std::vector<std::uint8_t> buffer;

        void clear();
    };

    std::uint32_t first = 0;
    StillFrameSlotHolder* slots[kSlotCount] = {};
    Counters counters;
    std::uint8_t slotFlags[kSlotCount] = {};
    std::uint32_t further = 0;
    std::uint32_t moreWords[3] = {};
    std::uint32_t background = kDefaultBackground;  // ARGB
    FloatSmooth smoother;
};

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
    // Re-creates the device-dependent render data after a load (texture
    // handlers, render managers' data, rain-map buffers); false on failure.
    bool allocateDeviceData(std::int32_t flag);
    // Draws and presents the splash screen once.
    void renderSplash();
    // Draws the current scene's frame through the current camera.
    void mainLoop();
    // Copies the matrices of camera into cameraFrame (invalid without one).
    void takeCamera();
    // The per-frame resource step (texture and mesh caches).
    void updateResources();
    // Releases every device-dependent resource.
    void releaseDeviceData();
    // Releases the data managers and render targets.
    void release();

    // Every field of the still-frame slot block at its start value; the
    // smoother gets two stages (time constants 1.0 and 1.5). Run by the
    // constructor.
    void initStillFrameSlots();
    // Empties the block when a scene is left and when the device data are
    // released: the smoother loses its stages for good, the first word
    // becomes 0, and the item of every set slot goes back to the still
    // frames (StillFrameData::deleteObject) before the slot is emptied. The
    // holders, slot flags, counters and colour stay.
    void clearStillFrameSlots();

    // The texture handlers by name (the screenshot targets among them).
    TextureLibrary textures;

    // The still frames and their input box, owned here.
    StillFrameRenderer& stillFrames() { return *stillFrames_; }

    // The still-frame slot block; emptied when a scene is left.
    StillFrameSlotBlock stillFrameSlots;

    // Set by the frame step before mainLoop: 1 when the video core's first
    // state flag is set, else 0.
    std::int32_t frameMode = 0;
    // Set by the frame step before mainLoop: the current scene's current
    // camera, or null.
    const CameraCore* camera = nullptr;
    CameraFrame cameraFrame;

private:
    std::unique_ptr<StillFrameRenderer> stillFrames_;
};
