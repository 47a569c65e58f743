#include "render/ProcScreenShot.h"

bool ProcScreenShotExport::renderSaveScreenShot(TgaImage& image, std::uint32_t width, std::uint32_t height) {
    if (width == 0 || height == 0 || !image.create(false, width, height)) return false;
    image.fillRgb(128, 128, 128);
    image.copyTo(image_);
    return true;
}

bool ProcScreenShotImport::reload(const TgaImage& image) {
    TgaImage rgb;
    if (!image.toRgb24(rgb, false)) return false;
    return DXTextureHandler::reload(rgb);
}
