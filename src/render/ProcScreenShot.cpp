#include "render/ProcScreenShot.h"

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "foundation/Log.h"
#include "render/RenderCore.h"
#include "scene/Scene.h"

namespace {

// The screenshot size of the settings until renderSaveScreenShot gives one.
constexpr std::int32_t kDefaultWidth = 320;
constexpr std::int32_t kDefaultHeight = 240;

}  // namespace

ProcScreenShotExport::ProcScreenShotExport(const char* name) : ProcRenderTarget(name) {
    depth = true;
    format = D3DFMT_X8R8G8B8;
    width = kDefaultWidth;
    height = kDefaultHeight;
}

bool ProcScreenShotExport::allocate() {
    Log& log = engineLog();
    if (texture) return log.systemError("Can't twice allocate %s texture", name().c_str());
    pool = D3DPOOL_DEFAULT;
    dynamic = false;
    usage = D3DUSAGE_RENDERTARGET;
    format = D3DFMT_X8R8G8B8;
    levels = 1;
    if (!createTexture()) return log.systemError("Cant allocate procedure texture [%s]", name().c_str());
    return true;
}

bool ProcScreenShotExport::renderFrame() {
    if (!texture) return engineLog().error("Can't render screenshot: RT texture [%s] not allocated", name().c_str());
    if (gameCore.render) gameCore.render->refreshSceneFrame();
    // The frame as the render core draws it: cleared to its clear colour
    // inside the whole target, then the camera's frame and the still frames.
    if (!beginScene(true)) return false;
    if (gameCore.render) gameCore.render->renderTargetFrame(true);
    return endScene();
}

bool ProcScreenShotExport::renderSaveScreenShot(TgaImage& image, std::uint32_t w, std::uint32_t h) {
    if (w == 0 || h == 0) return false;
    if (!textureEnvironment().device()) {
        // Nothing can be drawn without a device: the save still gets an
        // image of the screenshot's size, plain grey.
        if (!image.create(false, w, h)) return false;
        image.fillRgb(128, 128, 128);
        image.copyTo(image_);
        return true;
    }
    Log& log = engineLog();
    if (static_cast<std::int32_t>(w) != width || static_cast<std::int32_t>(h) != height || !texture) {
        unload();
        width = static_cast<std::int32_t>(w);
        height = static_cast<std::int32_t>(h);
        if (!allocate()) return false;
    }
    const Scene* scene = gameCore.game ? gameCore.game->currentScene() : nullptr;
    if (scene && scene->camera()) {
        log.info("Generate screen shot for save game");
        // The frame of the scene's current camera: the render core's own
        // pointer is set by the main loop's next drawn frame, and a restore
        // since the last one has freed the camera it names.
        if (gameCore.render) gameCore.render->camera = scene->camera();
        if (!renderFrame()) return false;
    }
    ID3DXBuffer* buffer = nullptr;
    if (FAILED(D3DXSaveTextureToFileInMemory(&buffer, D3DXIFF_PNG, texture, nullptr)) || !buffer)
        return log.error("Can't save screen shoot to file in memory");
    const auto* bytes = static_cast<const std::uint8_t*>(buffer->GetBufferPointer());
    pngImage.assign(bytes, bytes + buffer->GetBufferSize());
    buffer->Release();
    TgaImage decoded;
    if (!decodeImage(pngImage.data(), pngImage.size(), decoded)) return false;
    decoded.copyTo(image);
    decoded.copyTo(image_);
    return true;
}

bool ProcScreenShotImport::allocate() {
    if (!image_.pixels()) return true;
    usage = 0;
    pool = D3DPOOL_MANAGED;
    dynamic = false;
    levels = 1;
    image_.updateHeader();
    const std::vector<std::uint8_t>& file = image_.block;
    return createFromFileInMemory(file.data(), static_cast<std::uint32_t>(file.size()), LoadUncompressed | LoadNoMip);
}

bool ProcScreenShotImport::reload(const TgaImage& image) {
    TgaImage rgb;
    if (!image.toRgb24(rgb, false)) return false;
    rgb.copyTo(image_);
    width = static_cast<std::int32_t>(rgb.width);
    height = static_cast<std::int32_t>(rgb.height);
    if (!textureEnvironment().device()) return true;
    releaseDeviceTexture();
    return allocate();
}
