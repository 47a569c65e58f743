// The device part of the video core: the adapter choice by shader model
// (with the fixed-pipeline fall back), the graphics-card class, the
// resolution list, the presentation parameters from the active video
// setup, the device's creation and its re-creation after a loss, the
// sampler filter and texture-address tables from the capabilities, the
// gamma ramp and the per-frame operations.
//
// Device states: Create -> Ready, else CreateSafe (the safe record) ->
// Ready, else Failed. A lost device goes to Restore: everything on the
// device is released and the device created anew (never reset in place);
// a failing restore goes to RestoreSafe, then Failed. Failed ends the game
// with a failure exit code.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/d3d9/D3D9.h"
#include "render/VideoEnumeration.h"
#include "render/VideoSetup.h"

class VideoCore;

// Device states (fixed values).
enum VideoDeviceState : std::int32_t {
    DeviceStateCreate = 0,
    DeviceStateCreateSafe = 1,
    DeviceStateRestore = 2,
    DeviceStateRestoreSafe = 3,
    DeviceStateReady = 4,
    DeviceStateFailed = 5,
};

// The description of a Direct3D result; "Unknown Error" for others.
const char* d3dErrorText(HRESULT result);
// Each component clamped to at most 1, times 255, to the nearest whole
// number, packed as 0x00RRGGBB.
std::uint32_t packColorRGB(float red, float green, float blue);

// Ends the game from inside a frame when the renderer cannot go on: the
// game state becomes the release after a failure (13) and the message loop
// ends, so the game is released and exits with the failure code.
void endGameOnRenderFailure();

// One triple of the sampler filter table.
struct SamplerFilters {
    std::int32_t mip = D3DTEXF_LINEAR;
    std::int32_t min = D3DTEXF_LINEAR;
    std::int32_t mag = D3DTEXF_LINEAR;
};

class VideoDevice {
public:
    static constexpr int kTextureClassCount = 18;
    // Tries of a creation that answers "device lost" before it counts as
    // failed (50 ms apart).
    static constexpr int kLostCreationTries = 20;

    explicit VideoDevice(VideoCore& core);
    ~VideoDevice();
    VideoDevice(const VideoDevice&) = delete;
    VideoDevice& operator=(const VideoDevice&) = delete;

    // What the device needs of the application frame (the focus window and
    // the reload events of the scripts), installed by it before the device
    // is made. Unset hooks do nothing; without a focus window the device
    // draws offscreen.
    struct Hooks {
        std::function<HWND()> focusWindow;
        std::function<void()> startReload;
        std::function<void()> finishReload;
    };
    Hooks hooks;

    // Enumerates and chooses the adapter and device type; false (logged)
    // when nothing usable is found.
    bool chooseAdapter();
    // The graphics-card class from an adapter description: 0 old, 1
    // limited, 2 full.
    static std::int32_t classifyAdapter(const char* description);
    // Fills the resolution list of the video core; true when it has entries.
    bool buildResolutionList();
    // Presentation parameters from the active record and the chosen device
    // record; false when no combination fits.
    bool buildPresentParameters();
    // Creates the device; false (logged) on failure.
    bool createDevice();
    // Releases the device (the render data must be released first).
    void releaseDevice();
    // Deletes the enumeration's results and frees the resolution list.
    void release();

    // Releases a device that still exists, then steps the states from
    // Create until Ready or Failed; true when Ready.
    bool initialize();
    // One step of the device state machine (table in the header comment).
    bool updateDeviceState();
    // True on the fixed-function fall back or with details at minimum.
    bool isFixedPipeline() const;

    // Frame operations; each but clearDepth first checks the device.
    bool beginFrame();
    bool endScene();
    bool resumeScene();
    bool presentScene();
    bool clearDepth();
    // User clip plane 0 (four floats) or none; false without a device.
    bool setClipPlane(const float* plane);

    // Sampler filters and texture addressing from the device's
    // capabilities (without a device from the chosen record's), then, when
    // asked, the gamma ramp from the active record's gamma (a gamma preview
    // keeps the ramp it built).
    void setupFromCaps(bool rebuildGamma = true);
    // Rebuilds the gamma ramp from a gamma (-1..1): exponent 1 - 2 x gamma,
    // at least 0.1; the same ramp for red, green and blue.
    void buildGammaRamp(float gamma);

    // The capabilities of the chosen adapter and device type.
    const D3DCAPS9& currentCaps() const;

    IDirect3DDevice9* device() const { return device_; }
    std::int32_t state() const { return state_; }
    void setState(std::int32_t state) { state_ = state; }

    VideoEnumeration enumeration;
    std::int32_t adapterOrdinal = 0;
    D3DDEVTYPE deviceType = D3DDEVTYPE_HAL;
    D3DPRESENT_PARAMETERS presentParameters{};
    // Set when the graphics-card class is below 2.
    bool limitedCard = false;
    std::int32_t vertexProcessing = VertexProcessingSoftware;
    // For each texture class: the user's filters and the best ones.
    SamplerFilters samplerFilters[kTextureClassCount][2];
    std::int32_t userAnisotropy = 1;
    std::int32_t maxAnisotropy = 1;
    // Indexed by a texture link's address mode: clamp, wrap, mirror, border
    // (each falls back as the capabilities require).
    DWORD textureAddress[4] = {D3DTADDRESS_CLAMP, D3DTADDRESS_WRAP, D3DTADDRESS_MIRROR, D3DTADDRESS_BORDER};
    std::uint16_t gammaRamp[3][256] = {};
    // Measured at each device creation.
    float physicalScreenSize[2] = {0.0f, 0.0f};  // millimetres
    float screenSize[2] = {0.0f, 0.0f};
    float backBufferSize[2] = {0.0f, 0.0f};

private:
    bool checkDevice();
    bool setViewportAndClear(bool clear);
    // Releases the render data and the device, creates it anew and restores
    // the render data; false when the creation fails.
    bool recreate(bool& created);
    bool restoreRenderData();
    const VideoDeviceRecord* chosenRecord() const;

    VideoCore& core_;
    IDirect3DDevice9* device_ = nullptr;
    std::int32_t state_ = DeviceStateCreate;
};
