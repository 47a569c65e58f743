// The video core: the display adapters, the chosen display settings and the
// render device once the render core has made it.
//
// This build runs headless by default: no adapter is found, initialisation
// still succeeds, and the device stays null, so nothing is drawn.
#pragma once

#include <cstdint>

class IDirect3DDevice9;

class VideoCore {
public:
    VideoCore() = default;
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
    // 0: the script's detail limit is 2; else 0.
    std::uint8_t detailsLimit = 0;

private:
    IDirect3DDevice9* device_ = nullptr;
};
