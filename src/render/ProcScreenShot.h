// The save-game screenshot targets: "procsavescreenshot" renders the current
// view into an image for the save file; "procsavescreenshot0" to
// "procsavescreenshot3" show the save slots' screenshots on the load screen.
#pragma once

#include <cstdint>

#include "render/ProcTexMap.h"

class ProcScreenShotExport : public ProcTexMap {
public:
    using ProcTexMap::ProcTexMap;

    // The image is made on request (renderSaveScreenShot): nothing to load.
    bool load() override { return true; }
    // Renders the current frame into image, scaled to width x height (the
    // screenshot settings). Until the frame passes draw, the image is plain
    // grey at that size. False for a size of 0.
    bool renderSaveScreenShot(TgaImage& image, std::uint32_t width, std::uint32_t height);
};

class ProcScreenShotImport : public ProcTexMap {
public:
    using ProcTexMap::ProcTexMap;
    using DXTextureHandler::reload;

    // The image comes with reload(image): nothing to load.
    bool load() override { return true; }
    // Takes the image as 24-bit RGB (alpha dropped); false for an image
    // without pixels (the texture is kept).
    bool reload(const TgaImage& image) override;
};
