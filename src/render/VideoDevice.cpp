#include "render/VideoDevice.h"

#include <cmath>

void VideoDevice::setupFromCaps() {}

void VideoDevice::buildGammaRamp(float gamma) {
    float exponent = 1.0f - 2.0f * gamma;
    if (!(exponent > 0.1f)) exponent = 0.1f;
    for (int i = 0; i < 256; ++i) {
        const double level = std::pow(i / 255.0, static_cast<double>(exponent)) * 65535.0;
        const std::uint16_t entry = static_cast<std::uint16_t>(level);
        gammaRamp[0][i] = gammaRamp[1][i] = gammaRamp[2][i] = entry;
    }
}
