#include "render/VideoCore.h"

#include <algorithm>
#include <thread>

#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "platform/Display.h"
#include "platform/d3d9/AdapterProfile.h"

namespace {

using platform::d3d9::AdapterProfile;
using platform::d3d9::BackendKind;

// The backend the game draws with (the null one draws nothing).
constexpr BackendKind kGameBackend = BackendKind::GL;
// The shader model the game's adapter reports: 2, the profiles of the
// compiled-shader package (vs_2_0, ps_2_0, ps_2_a), whose programs the GL
// backend compiles.
constexpr DWORD kGameShaderModel = 2;


void logProcessors() {
    const int count = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
#if defined(__x86_64__) || defined(_M_X64)
    engineLog().message("Detected %i AMD64 CPU(s)", count);
#elif defined(__i386__) || defined(_M_IX86)
    engineLog().message("Detected %i Intel CPU(s)", count);
#elif defined(__ia64__)
    engineLog().message("Detected %i IA64 CPU(s)", count);
#elif defined(__alpha__)
    engineLog().message("Detected %i Alpha CPU(s)", count);
#else
    engineLog().message("%i Processor(s) architecture unknown", count);
#endif
}

}  // namespace

void VideoCore::installGamePlatform() {
    platform::d3d9::Environment environment;
    environment.backend = kGameBackend;
    // The backend's adapter with the modes of the platform display, named
    // after the host's GL stack (a limited card on a software rasteriser).
    auto profile = std::make_shared<AdapterProfile>(AdapterProfile::forBackend(kGameBackend));
    for (auto& adapter : profile->adapters) {
        adapter.caps.VertexShaderVersion = D3DVS_VERSION(kGameShaderModel, 0);
        adapter.caps.PixelShaderVersion = D3DPS_VERSION(kGameShaderModel, 0);
    }
    environment.profile = std::move(profile);
    environment.sink = [](const char* line) { engineLog().systemError("Direct3D: %s", line); };
    platform::d3d9::setEnvironment(std::move(environment));
}

VideoCore::VideoCore() {
    // The safe set: a small mode, plain filtering, default synchronisation.
    setups[0].res_width = 640;
    setups[0].res_height = 480;
    setups[0].texture = 0;
    setups[0].vSync = VideoSyncDefault;
    videoDevice.buildGammaRamp(0.0f);
}

VideoCore::~VideoCore() { release(); }

void VideoCore::detectSystem() {
    if (detected_) return;
    detected_ = true;
    logProcessors();

    std::int32_t width = 0, height = 0;
    if (platform::desktopResolution(width, height)) {
        if (desktopWidth <= 0 || desktopHeight <= 0) {
            desktopWidth = width;
            desktopHeight = height;
        }
        if (refreshRate <= 0) refreshRate = platform::displayRefreshRate();
        engineLog().info("Detected desktop frequency %iHz", refreshRate);
        screenWidth = static_cast<float>(width);
        screenHeight = static_cast<float>(height);
        engineLog().message("Detected desktop physics size %ix%i", width, height);
    } else {
        engineLog().systemError("Can't get current desktop settings");
    }

    direct3d_ = Direct3DCreate9(D3D_SDK_VERSION);
    if (!direct3d_) {
        engineLog().error("DirectX9 not present on this PC");
        videoDevice.setState(DeviceStateFailed);
    }
}

bool VideoCore::initialize() {
    detectSystem();
    if (!videoDevice.chooseAdapter()) return false;
    if (!videoDevice.buildResolutionList())
        return engineLog().error("Can't find valid resolutions for this render device");
    return true;
}

void VideoCore::release() {
    // A device still alive goes before its Direct3D object.
    videoDevice.releaseDevice();
    if (direct3d_) {
        direct3d_->Release();
        direct3d_ = nullptr;
    }
    videoDevice.release();
}

std::int32_t VideoCore::findResolution(std::int32_t width, std::int32_t height) const {
    for (std::size_t i = 0; i < resolutions.size(); ++i)
        if (resolutions[i].width == width && resolutions[i].height == height) return static_cast<std::int32_t>(i);
    return -1;
}

void VideoCore::desktopSize(std::int32_t& width, std::int32_t& height) {
    if (desktopWidth <= 0 || desktopHeight <= 0) platform::desktopResolution(desktopWidth, desktopHeight);
    width = desktopWidth;
    height = desktopHeight;
}

std::int32_t VideoCore::displayRefreshRate() {
    if (refreshRate <= 0) refreshRate = platform::displayRefreshRate();
    return refreshRate > 0 ? refreshRate : 60;
}

void VideoCore::updatePostprocessing() {
    const VideoSetup& record = activeVideoSetup();
    bool disabled = false;
    if (gameCore.settings)
        gameCore.settings->getCategory("debug").getVariable("debug_disable_postprocessing").getBool(disabled, false);
    postprocessing = record.details > VideoDetailsMinimum && (record.pp_bloom != 0 || record.pp_depth != 0) && !disabled;
}
