// The device part of the video core: sampler set-up from the device's
// capabilities and the gamma ramp.
//
// No render device is made yet: the set-up has no capabilities to read, and
// the gamma ramp waits for a full-screen frame.
#pragma once

#include <cstdint>

class VideoCore;

class VideoDevice {
public:
    explicit VideoDevice(VideoCore& core) : core_(core) {}
    VideoDevice(const VideoDevice&) = delete;
    VideoDevice& operator=(const VideoDevice&) = delete;

    // Sets the sampler filters and texture addressing from the device's
    // capabilities; nothing without a device.
    void setupFromCaps();
    // Rebuilds the gamma ramp from a gamma (-0.5..0.5 from the setup):
    // exponent 1 - 2 x gamma, at least 0.1; the same ramp for red, green
    // and blue.
    void buildGammaRamp(float gamma);

    std::uint16_t gammaRamp[3][256] = {};

private:
    VideoCore& core_;
};
