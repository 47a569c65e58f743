// The save-game screenshot target "procsavescreenshot": renders the current
// view into an image for the save file.
#pragma once

#include <cstdint>

#include "render/DXTextureHandler.h"

class ProcScreenShotExport : public DXTextureHandler {
public:
    using DXTextureHandler::DXTextureHandler;

    // Renders the current frame into image, scaled to width x height (the
    // screenshot settings). Until the frame passes draw, the image is plain
    // grey at that size. False for a size of 0.
    bool renderSaveScreenShot(TgaImage& image, std::uint32_t width, std::uint32_t height);
};
