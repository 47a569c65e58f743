// The save-game screenshot targets: "procsavescreenshot" renders the current
// view into an image for the save file; "procsavescreenshot0" to
// "procsavescreenshot3" show the save slots' screenshots on the load screen.
#pragma once

#include <cstdint>
#include <vector>

#include "render/ProcRenderTarget.h"

class ProcScreenShotExport : public ProcRenderTarget {
public:
    // Draws, with depth, format X8R8G8B8, 320 x 240 until the screenshot
    // settings say otherwise.
    explicit ProcScreenShotExport(const char* name);

    // "Can't twice allocate %s texture" when the texture exists; creates the
    // render target at the screenshot size.
    bool allocate() override;
    // Renders the current frame into the target at width x height (the
    // screenshot settings), keeps it as a PNG file image (pngImage) and
    // decodes that into image. False when the rendering or the PNG fails or
    // the size is 0. Without a device the image is plain grey at that size.
    bool renderSaveScreenShot(TgaImage& image, std::uint32_t width, std::uint32_t height);

    // The last screenshot as PNG file bytes.
    std::vector<std::uint8_t> pngImage;

private:
    bool renderFrame();
};

class ProcScreenShotImport : public ProcScreenShotExport {
public:
    using ProcScreenShotExport::ProcScreenShotExport;
    using DXTextureHandler::reload;

    // Without a held image: true, no texture. With one: the texture made from
    // the image's TGA file bytes, uncompressed and without mip levels.
    bool allocate() override;
    // Takes the image as 24-bit RGB (alpha dropped) and makes the texture
    // from it; false for an image without pixels (the texture is kept).
    bool reload(const TgaImage& image) override;
};
