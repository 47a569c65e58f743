#include "render/VideoDevice.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "platform/Time.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "scene/CameraCore.h"

namespace {

struct ErrorText {
    HRESULT result;
    const char* text;
};

const ErrorText kErrorTexts[] = {
    {D3DERR_CONFLICTINGRENDERSTATE, "The currently set render states cannot be used together."},
    {D3DERR_UNSUPPORTEDTEXTUREFILTER, "The device does not support the specified texture filter"},
    {D3DERR_CONFLICTINGTEXTUREPALETTE, "The current textures cannot be used simultaneously"},
    {D3DERR_DRIVERINTERNALERROR,
     "Internal driver error. Applications should generally shut down when receiving this error. For more "
     "information, see Driver Internal Errors"},
    {D3DERR_NOTFOUND, "The requested item was not found"},
    {D3DERR_MOREDATA, "There is more data available than the specified buffer size can hold"},
    {D3DERR_DEVICELOST, "The device has been lost but cannot be reset at this time. Therefore, rendering is not possible"},
    {D3DERR_DEVICENOTRESET, "The device has been lost but can be reset at this time"},
    {D3DERR_NOTAVAILABLE, "This device does not support the queried technique"},
    {D3DERR_INVALIDDEVICE, "The requested device type is not valid"},
    {D3DERR_INVALIDCALL, "The method call is invalid. For example, a method's parameter may have an invalid value"},
    {D3DERR_UNSUPPORTEDFACTORVALUE, "The device does not support the specified texture factor value"},
    {E_FAIL, "An undetermined error occurred inside the Direct3D subsystem"},
    {E_OUTOFMEMORY, "Direct3D could not allocate sufficient memory to complete the call."},
    {E_INVALIDARG, "An invalid parameter was passed to the returning function"},
    {D3DERR_OUTOFVIDEOMEMORY, "Microsoft\xAE Direct3D\xAE does not have enough display memory to perform the operation"},
    {D3DERR_WRONGTEXTUREFORMAT, "The pixel format of the texture surface is not valid"},
    {D3DERR_UNSUPPORTEDCOLOROPERATION, "The device does not support a specified texture-blending operation for color values"},
    {D3DERR_UNSUPPORTEDCOLORARG, "The device does not support a specified texture-blending argument for color values"},
    {D3DERR_UNSUPPORTEDALPHAOPERATION,
     "The device does not support a specified texture-blending operation for the alpha channel"},
    {D3DERR_UNSUPPORTEDALPHAARG, "The device does not support a specified texture-blending argument for the alpha channel"},
    {D3DERR_TOOMANYOPERATIONS,
     "The application is requesting more texture-filtering operations than the device supports"},
    {D3DERR_CONFLICTINGTEXTUREFILTER, "The current texture filters cannot be used together"},
    // The image loaders' answer to a file they cannot read.
    {D3DXERR_INVALIDDATA, "The data is invalid"},
};

// Vertex-processing types: log line and creation flags.
struct VertexProcessingEntry {
    const char* line;
    DWORD flags;
};
const VertexProcessingEntry kVertexProcessing[6] = {
    {"[render] Select software VP", D3DCREATE_SOFTWARE_VERTEXPROCESSING},
    {"[render] Select mixed VP", D3DCREATE_MIXED_VERTEXPROCESSING},
    {"[render] Select hardware VP", D3DCREATE_HARDWARE_VERTEXPROCESSING},
    {"[render] Select hardware FFP", D3DCREATE_HARDWARE_VERTEXPROCESSING},
    {"[render] Select pure device hardware VP", D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE},
    {"[render] Select pure device hardware FFP", D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE},
};

// vSync "None" .. "four".
const UINT kSyncIntervals[6] = {D3DPRESENT_INTERVAL_IMMEDIATE, D3DPRESENT_INTERVAL_DEFAULT, D3DPRESENT_INTERVAL_ONE,
                                D3DPRESENT_INTERVAL_TWO,       D3DPRESENT_INTERVAL_THREE,   D3DPRESENT_INTERVAL_FOUR};
// frequency "AUTO", "50" .. "100" (AUTO aims at 60 when the desktop rate
// is not used).
const std::int32_t kFrequencies[8] = {60, 50, 60, 65, 70, 75, 85, 100};

constexpr std::int32_t kHighestDesktopAim = 85;
// The game state of a release after a failure and the run state that ends
// the message loop (fixed values of the game core).
constexpr std::int32_t kGameStateFailureRelease = 13;
constexpr std::int32_t kRunStateRenderGaveUp = 1;
constexpr int kLostCreationSleepMilliseconds = 50;

bool contains(const std::vector<std::int32_t>& list, std::int32_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// Whether word stands in text as a word of its own (no letter or digit
// right before or after it).
bool containsWord(const std::string& text, const char* word) {
    const std::size_t length = std::strlen(word);
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        const bool startsWord = at == 0 || !std::isalnum(static_cast<unsigned char>(text[at - 1]));
        const std::size_t end = at + length;
        const bool endsWord = end >= text.size() || !std::isalnum(static_cast<unsigned char>(text[end]));
        if (startsWord && endsWord) return true;
    }
    return false;
}

// The highest filter from min(level, cap) down to 1 that the mask allows,
// else 0 (none).
std::int32_t cappedFilter(std::int32_t level, std::int32_t cap, unsigned mask) {
    for (std::int32_t f = std::min(level, cap); f >= 1; --f)
        if (mask & (1u << f)) return f;
    return 0;
}

}  // namespace

const char* d3dErrorText(HRESULT result) {
    for (const ErrorText& entry : kErrorTexts)
        if (entry.result == result) return entry.text;
    return "Unknown Error";
}

void endGameOnRenderFailure() {
    gameCore.gameState = kGameStateFailureRelease;
    if (gameCore.runState < 0) gameCore.runState = kRunStateRenderGaveUp;
}

std::uint32_t packColorRGB(float red, float green, float blue) {
    auto component = [](float value) {
        // Below 0 is taken as 0: it would spill into the other components.
        const float clamped = std::clamp(value, 0.0f, 1.0f);
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(clamped * 255.0f)) & 0xFF);
    };
    return (component(red) << 16) | (component(green) << 8) | component(blue);
}

VideoDevice::VideoDevice(VideoCore& core) : core_(core) {}

VideoDevice::~VideoDevice() { releaseDevice(); }

// ---- Adapter choice ----

std::int32_t VideoDevice::classifyAdapter(const char* description) {
    std::string text = description ? description : "";
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // The first run of at least four digits (or the run that reaches the
    // end of the text).
    std::string digits;
    for (const char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)))
            digits += c;
        else if (digits.size() >= 4)
            break;
        else
            digits.clear();
    }
    if (digits.size() != 4) return 2;
    const int number = std::stoi(digits);
    if (number == 0) return 2;
    // The vendor is matched as a word: "ati" inside another word (a
    // company name, "integrated") says nothing about the card.
    if (containsWord(text, "ati")) return number > 9800 ? 2 : number >= 9000 ? 1 : 0;
    if (containsWord(text, "nvidia")) return number > 6200 ? 2 : number >= 5200 ? 1 : 0;
    return 0;
}

bool VideoDevice::chooseAdapter() {
    Log& log = engineLog();
    log.info("Find video adapter...");
    enumeration.direct3d = core_.direct3d();
    enumeration.minimumDepthBits = 16;
    enumeration.usesDepthBuffer = true;
    if (!enumeration.enumerate()) return log.systemError("Can't enumerate video adapter modes");

    core_.fixedPipeline = false;
    VideoSetup& record = core_.activeVideoSetup();
    const VideoAdapterRecord* adapter = nullptr;
    for (const VideoAdapterRecord& a : enumeration.adapters)
        if (static_cast<std::int32_t>(a.adapterOrdinal) == record.adapter) adapter = &a;

    if (adapter && record.details > VideoDetailsMinimum) {
        for (const VideoDeviceRecord& device : adapter->devices) {
            if (device.deviceType == D3DDEVTYPE_REF || device.combinations.empty()) continue;
            const DWORD vs = D3DSHADER_VERSION_MAJOR(device.caps.VertexShaderVersion);
            const DWORD ps = D3DSHADER_VERSION_MAJOR(device.caps.PixelShaderVersion);
            if (vs < 2 || ps < 2) continue;
            log.message("Detected vs%i.0 and ps%i.0", static_cast<int>(vs), static_cast<int>(ps));
            adapterOrdinal = static_cast<std::int32_t>(adapter->adapterOrdinal);
            deviceType = device.deviceType;
            log.message("Found Video accelerator: [%s]", adapter->identifier.Description);
            log.message("DirectX render device connected to [%i:%s]", adapterOrdinal, adapter->identifier.Description);
            limitedCard = classifyAdapter(adapter->identifier.Description) < 2;
            core_.detailsLimit = limitedCard ? 1 : 0;
            return true;
        }
    }

    core_.fixedPipeline = true;
    record.details = VideoDetailsMinimum;
    record.water = 0;
    record.waterReflection = 0;
    record.shadows = 0;
    log.message("Try connect to fixed pipeline");
    if (adapter) {
        const VideoDeviceRecord& hal = adapter->devices[0];
        if (!hal.combinations.empty()) {
            adapterOrdinal = static_cast<std::int32_t>(adapter->adapterOrdinal);
            deviceType = D3DDEVTYPE_HAL;
            log.message("DirectX render device connected to FIXED PIPELINE adapter [%i:%s]", adapterOrdinal,
                        adapter->identifier.Description);
            return true;
        }
    }
    log.error("All devices failed");
    return false;
}

bool VideoDevice::buildResolutionList() {
    std::vector<VideoResolution>& list = core_.resolutions;
    list.clear();
    for (const VideoAdapterRecord& adapter : enumeration.adapters)
        for (const VideoDeviceRecord& device : adapter.devices) {
            if (device.deviceType != deviceType) continue;
            for (const VideoAdapterInfo& info : device.combinations) {
                VideoResolution entry;
                entry.width = static_cast<std::int32_t>(info.displayMode.Width);
                entry.height = static_cast<std::int32_t>(info.displayMode.Height);
                entry.adapter = static_cast<std::int32_t>(adapter.adapterOrdinal);
                if (entry.adapter == 0)
                    std::snprintf(entry.label, sizeof entry.label, "%ix%i", entry.width, entry.height);
                else
                    std::snprintf(entry.label, sizeof entry.label, "%i) %ix%i", entry.adapter + 1, entry.width,
                                  entry.height);
                const bool known = std::any_of(list.begin(), list.end(), [&](const VideoResolution& r) {
                    return r.width == entry.width && r.height == entry.height && r.adapter == entry.adapter &&
                           std::strcmp(r.label, entry.label) == 0;
                });
                if (!known) list.push_back(entry);
            }
        }
    // Neighbours are swapped while the later one is no greater in adapter,
    // width and height.
    for (std::size_t pass = 0; pass < list.size(); ++pass)
        for (std::size_t i = 0; i + 1 < list.size(); ++i) {
            const VideoResolution& a = list[i];
            const VideoResolution& b = list[i + 1];
            if (b.adapter <= a.adapter && b.width <= a.width && b.height <= a.height) std::swap(list[i], list[i + 1]);
        }
    return !list.empty();
}

const VideoDeviceRecord* VideoDevice::chosenRecord() const {
    for (const VideoAdapterRecord& adapter : enumeration.adapters)
        if (static_cast<std::int32_t>(adapter.adapterOrdinal) == adapterOrdinal)
            for (const VideoDeviceRecord& device : adapter.devices)
                if (device.deviceType == deviceType) return &device;
    return nullptr;
}

const D3DCAPS9& VideoDevice::currentCaps() const {
    static const D3DCAPS9 none{};
    const VideoDeviceRecord* record = chosenRecord();
    return record ? record->caps : none;
}

bool VideoDevice::isFixedPipeline() const {
    return core_.fixedPipeline || core_.activeVideoSetup().details == VideoDetailsMinimum;
}

// ---- Presentation parameters and creation ----

bool VideoDevice::buildPresentParameters() {
    const VideoDeviceRecord* record = chosenRecord();
    if (!record) return false;
    const VideoSetup& setup = core_.activeVideoSetup();
    const bool fixed = setup.details == VideoDetailsMinimum;
    const bool windowed = setup.windowMode != 0;

    UINT width = static_cast<UINT>(std::max(setup.res_width, 0));
    UINT height = static_cast<UINT>(std::max(setup.res_height, 0));
    if (windowed) {
        D3DDISPLAYMODE desktop{};
        if (core_.direct3d() && SUCCEEDED(core_.direct3d()->GetAdapterDisplayMode(UINT(adapterOrdinal), &desktop))) {
            width = desktop.Width;
            height = desktop.Height;
        }
    }

    // The depth of field keeps depth in the back buffer's alpha. When the
    // device offers no back buffer with alpha for this size and windowing,
    // the depth of field is vetoed and the plain format is taken.
    auto fitsAs = [&](const VideoAdapterInfo& info, D3DFORMAT format) {
        return info.backBufferFormat == format && info.displayMode.Width == width &&
               info.displayMode.Height == height && info.windowed == windowed;
    };
    auto offers = [&](D3DFORMAT format) {
        return std::any_of(record->combinations.begin(), record->combinations.end(),
                           [&](const VideoAdapterInfo& info) { return fitsAs(info, format); });
    };
    const bool depthOfField = setup.pp_depth == 1 && !fixed;
    core_.depthOfFieldVeto = depthOfField && !offers(D3DFMT_A8R8G8B8);
    if (core_.depthOfFieldVeto) engineLog().info("No back buffer with alpha: depth of field disabled");
    const D3DFORMAT backBuffer = depthOfField && !core_.depthOfFieldVeto ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;

    std::int32_t aim = 0;
    const std::int32_t desktopRate = core_.refreshRate;
    if (desktopRate != 0 && desktopRate <= kHighestDesktopAim && setup.frequency == 0) {
        aim = desktopRate;
    } else {
        aim = kFrequencies[std::clamp(setup.frequency, 0, 7)];
        engineLog().message("Use user frequency aim [%i]", aim);
    }

    auto fits = [&](const VideoAdapterInfo& info) { return fitsAs(info, backBuffer); };
    UINT best = 0;
    for (const VideoAdapterInfo& info : record->combinations)
        if (fits(info) && info.displayMode.RefreshRate <= static_cast<UINT>(aim))
            best = std::max(best, info.displayMode.RefreshRate);

    presentParameters = D3DPRESENT_PARAMETERS{};
    const VideoAdapterInfo* chosen = nullptr;
    for (const VideoAdapterInfo& info : record->combinations)
        if (fits(info) && (info.windowed || info.displayMode.RefreshRate == best)) {
            chosen = &info;
            break;
        }
    if (!chosen) return false;

    static const std::int32_t kFixedOrder[] = {VertexProcessingPureFixed, VertexProcessingHardwareFixed,
                                               VertexProcessingMixed, VertexProcessingSoftware};
    static const std::int32_t kShaderOrder[] = {VertexProcessingPure, VertexProcessingHardware, VertexProcessingMixed,
                                                VertexProcessingSoftware};
    vertexProcessing = VertexProcessingSoftware;
    for (const std::int32_t type : fixed ? kFixedOrder : kShaderOrder)
        if (contains(chosen->vertexProcessing, type)) {
            vertexProcessing = type;
            break;
        }

    D3DPRESENT_PARAMETERS& p = presentParameters;
    p.Windowed = chosen->windowed ? TRUE : FALSE;
    p.SwapEffect = chosen->windowed ? D3DSWAPEFFECT_COPY : D3DSWAPEFFECT_DISCARD;
    p.BackBufferCount = chosen->windowed ? 1 : 2;
    p.hDeviceWindow = nullptr;
    p.FullScreen_RefreshRateInHz = chosen->windowed ? 0 : chosen->displayMode.RefreshRate;

    p.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;
    for (std::int32_t i = std::clamp(setup.vSync, 0, 5); i >= 0; --i) {
        const UINT interval = kSyncIntervals[i];
        if (std::find(chosen->presentIntervals.begin(), chosen->presentIntervals.end(), interval) !=
            chosen->presentIntervals.end()) {
            p.PresentationInterval = interval;
            break;
        }
    }

    p.BackBufferWidth = chosen->displayMode.Width;
    p.BackBufferHeight = chosen->displayMode.Height;
    p.BackBufferFormat = chosen->backBufferFormat;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D16;
    for (const D3DFORMAT depth : {D3DFMT_D32, D3DFMT_D24X8, D3DFMT_D16})
        if (std::find(chosen->depthFormats.begin(), chosen->depthFormats.end(), depth) != chosen->depthFormats.end()) {
            p.AutoDepthStencilFormat = depth;
            break;
        }

    p.MultiSampleType = D3DMULTISAMPLE_NONE;
    p.MultiSampleQuality = 0;
    if (!chosen->windowed && !chosen->multiSamples.empty()) {
        // aa picks the n-th supported entry, not a sample count.
        const std::size_t index =
            std::min(static_cast<std::size_t>(std::clamp(setup.aa, 0, 3)), chosen->multiSamples.size() - 1);
        const VideoMultiSample& entry = chosen->multiSamples[index];
        p.MultiSampleType = entry.type;
        p.MultiSampleQuality = entry.qualityLevels > 0 ? entry.qualityLevels - 1 : 0;
    }

    setupFromCaps();
    buildGammaRamp(setup.gamma);
    backBufferSize[0] = static_cast<float>(p.BackBufferWidth);
    backBufferSize[1] = static_cast<float>(p.BackBufferHeight);
    screenSize[0] = core_.screenWidth;
    screenSize[1] = core_.screenHeight;
    // The host tells no physical size; a horizontal size of 0 becomes 3.0.
    physicalScreenSize[0] = 3.0f;
    physicalScreenSize[1] = 0.0f;

    engineLog().info("Screen [%i][%i](%i)+[%i] (AA [%i][%i]) %ix%i, %i Hz, %sbit%s", static_cast<int>(p.BackBufferFormat),
                     static_cast<int>(p.AutoDepthStencilFormat), static_cast<int>(p.BackBufferCount),
                     static_cast<int>(p.PresentationInterval), static_cast<int>(p.MultiSampleType),
                     static_cast<int>(p.MultiSampleQuality), static_cast<int>(p.BackBufferWidth),
                     static_cast<int>(p.BackBufferHeight), static_cast<int>(p.FullScreen_RefreshRateInHz),
                     p.AutoDepthStencilFormat == D3DFMT_D16 ? "16" : "32", p.Windowed ? ", Window mode" : "");
    return true;
}

bool VideoDevice::createDevice() {
    Log& log = engineLog();
    if (device_) return log.error("Can't create render device: already exist");
    IDirect3D9* direct3d = core_.direct3d();
    if (!direct3d) return log.error("Can't create render device: %s", "no Direct3D");
    if (!buildPresentParameters()) return false;

    const std::int32_t type = std::clamp(vertexProcessing, 0, 5);
    DWORD flags = kVertexProcessing[type].flags;
    log.message("%s", kVertexProcessing[type].line);
    bool disableManagement = false;
    if (gameCore.settings)
        gameCore.settings->getCategory("render").getVariable("disable_driver_management").getBool(disableManagement,
                                                                                                  false);
    if (disableManagement) log.info("[render]: Disable driver management");
    flags |= D3DCREATE_DISABLE_DRIVER_MANAGEMENT;

    const HWND focus = hooks.focusWindow ? hooks.focusWindow() : nullptr;
    HRESULT hr = D3DERR_DEVICELOST;
    // A creation that finds the device lost is tried again, a bounded number
    // of times: the display may come back, or the state machine moves on.
    for (int attempt = 1; attempt <= kLostCreationTries; ++attempt) {
        D3DPRESENT_PARAMETERS parameters = presentParameters;
        hr = direct3d->CreateDevice(UINT(adapterOrdinal), deviceType, focus, flags, &parameters, &device_);
        if (hr != D3DERR_DEVICELOST) break;
        log.warning("Can't create render device: %s (try %i of %i)", d3dErrorText(hr), attempt, kLostCreationTries);
        if (attempt < kLostCreationTries) platform::sleepMilliseconds(kLostCreationSleepMilliseconds);
    }
    if (FAILED(hr) || !device_) {
        device_ = nullptr;
        return log.error("Can't create render device: %s", d3dErrorText(hr));
    }
    device_->ShowCursor(FALSE);
    if (gameCore.render) gameCore.render->deviceCreated();
    return true;
}

void VideoDevice::releaseDevice() {
    if (!device_) return;
    device_->Release();
    device_ = nullptr;
}

void VideoDevice::release() {
    enumeration.adapters.clear();
    enumeration.allowedAdapterFormats.clear();
    core_.resolutions.clear();
}

// ---- Device states ----

bool VideoDevice::initialize() {
    releaseDevice();
    state_ = DeviceStateCreate;
    for (;;) {
        if (updateDeviceState()) break;
        if (state_ == DeviceStateFailed) return false;
    }
    core_.updatePostprocessing();
    return true;
}

bool VideoDevice::restoreRenderData() {
    if (hooks.startReload) hooks.startReload();
    bool restored = false;
    if (RenderCore* render = gameCore.render) {
        if (render->allocate_device()) restored = render->allocateDeviceData(0);
    }
    if (hooks.finishReload) hooks.finishReload();
    return restored;
}

bool VideoDevice::recreate(bool& created) {
    if (gameCore.render) gameCore.render->releaseDeviceData();
    releaseDevice();
    created = createDevice();
    if (!created) return false;
    state_ = DeviceStateReady;
    return restoreRenderData();
}

bool VideoDevice::updateDeviceState() {
    Log& log = engineLog();
    bool created = false;
    switch (state_) {
        case DeviceStateCreate:
            if (createDevice()) return state_ = DeviceStateReady, true;
            state_ = DeviceStateCreateSafe;
            return false;
        case DeviceStateCreateSafe:
            core_.activeSetup = 0;
            if (createDevice()) return state_ = DeviceStateReady, true;
            state_ = DeviceStateFailed;
            return false;
        case DeviceStateRestore: {
            const bool restored = recreate(created);
            if (created) return restored;
            log.error("Can't restore D3D device: Back to safe settings");
            state_ = DeviceStateRestoreSafe;
            return false;
        }
        case DeviceStateRestoreSafe: {
            core_.activeSetup = 0;
            const bool restored = recreate(created);
            if (created) return restored;
            log.error("Can't restore safe D3D device");
            state_ = DeviceStateFailed;
            return false;
        }
        case DeviceStateReady: return true;
        default:
            // Failed: the game cannot go on. It ends through the failure road
            // of the state machine, so its exit code reports the failure.
            log.error("Critical D3D error: Can't create D3D Device");
            log.flush();
            endGameOnRenderFailure();
            return false;
    }
}

// ---- Frame operations ----

bool VideoDevice::checkDevice() {
    if (!device_ || state_ != DeviceStateReady) {
        updateDeviceState();
        return false;
    }
    if (FAILED(device_->TestCooperativeLevel())) {
        state_ = DeviceStateRestore;
        return false;
    }
    return true;
}

bool VideoDevice::setViewportAndClear(bool clear) {
    const D3DPRESENT_PARAMETERS& p = presentParameters;
    const D3DVIEWPORT9 whole{0, 0, p.BackBufferWidth, p.BackBufferHeight, 0.0f, 1.0f};
    if (FAILED(device_->SetViewport(&whole))) return false;
    // The picture's own viewport keeps the camera's aspect inside the back
    // buffer; the border is black.
    std::int32_t area[4];
    fixedAspectViewport(static_cast<std::int32_t>(p.BackBufferWidth), static_cast<std::int32_t>(p.BackBufferHeight),
                        area);
    const D3DVIEWPORT9 picture{DWORD(area[0]), DWORD(area[1]), DWORD(area[2]), DWORD(area[3]), 0.0f, 1.0f};
    if (clear) {
        // The current sky's background colour and its alpha (a constant
        // without a scene) inside the picture; black with that alpha in the
        // border; depth 1 everywhere. The whole back buffer takes the
        // background and the depth first, the border strips black after it
        // (their depth is set already): the same
        // picture as black everywhere and then the picture's area, but a
        // clear of a part of the target costs a software rasteriser a drawn
        // quad, and the border is the smaller part.
        const std::uint32_t background =
            gameCore.render ? gameCore.render->refreshBackground() : StillFrameSlotBlock::kDefaultBackground;
        const D3DCOLOR alpha = background & 0xFF000000u;
        const DWORD flags = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER;
        if (FAILED(device_->Clear(0, nullptr, flags, background, 1.0f, 0))) return false;
        const INT left = INT(picture.X), top = INT(picture.Y);
        const INT right = INT(picture.X + picture.Width), bottom = INT(picture.Y + picture.Height);
        const INT width = INT(whole.Width), height = INT(whole.Height);
        RECT border[4];
        DWORD strips = 0;
        if (top > 0) border[strips++] = {0, 0, width, top};
        if (bottom < height) border[strips++] = {0, bottom, width, height};
        if (left > 0) border[strips++] = {0, top, left, bottom};
        if (right < width) border[strips++] = {right, top, width, bottom};
        if (strips > 0 && FAILED(device_->Clear(strips, border, D3DCLEAR_TARGET, alpha, 1.0f, 0))) return false;
    }
    return SUCCEEDED(device_->SetViewport(&picture));
}

bool VideoDevice::beginFrame() {
    if (!checkDevice()) return false;
    if (FAILED(device_->BeginScene())) return false;
    if (!setViewportAndClear(true)) return false;
    if (!presentParameters.Windowed) {
        D3DGAMMARAMP ramp;
        std::memcpy(ramp.red, gammaRamp[0], sizeof ramp.red);
        std::memcpy(ramp.green, gammaRamp[1], sizeof ramp.green);
        std::memcpy(ramp.blue, gammaRamp[2], sizeof ramp.blue);
        device_->SetGammaRamp(0, D3DSGR_CALIBRATE, &ramp);
    }
    return true;
}

bool VideoDevice::endScene() {
    if (!checkDevice()) return false;
    if (gameCore.render && gameCore.render->quadBatch.pending()) gameCore.render->quadBatch.flush();
    return SUCCEEDED(device_->EndScene());
}

bool VideoDevice::resumeScene() {
    if (!checkDevice()) return false;
    if (!setViewportAndClear(false)) return false;
    return SUCCEEDED(device_->BeginScene());
}

bool VideoDevice::clearDepth() {
    if (!device_) return false;
    return SUCCEEDED(device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0));
}

bool VideoDevice::presentScene() {
    if (!endScene()) return false;
    const D3DPRESENT_PARAMETERS& p = presentParameters;
    const RECT whole{0, 0, static_cast<std::int32_t>(p.BackBufferWidth), static_cast<std::int32_t>(p.BackBufferHeight)};
    const bool copy = p.SwapEffect == D3DSWAPEFFECT_COPY;
    if (SUCCEEDED(device_->Present(copy ? &whole : nullptr, nullptr, nullptr, nullptr))) return true;
    if (SUCCEEDED(device_->TestCooperativeLevel())) return true;
    state_ = DeviceStateRestore;
    return false;
}

bool VideoDevice::setClipPlane(const float* plane) {
    if (!device_) return false;
    // The render core sets the plane and has its state cache record the
    // switch, so that the next draw applies it.
    if (gameCore.render) gameCore.render->setUserClipPlane(plane);
    else if (plane) device_->SetClipPlane(0, plane);
    return true;
}

// ---- Capabilities ----

void VideoDevice::setupFromCaps(bool rebuildGamma) {
    D3DCAPS9 caps = currentCaps();
    if (device_) device_->GetDeviceCaps(&caps);
    const DWORD filters = caps.TextureFilterCaps;
    unsigned minMask = 1, magMask = 1, mipMask = 1;  // none is always allowed
    if (filters & D3DPTFILTERCAPS_MINFPOINT) minMask |= 1u << D3DTEXF_POINT;
    if (filters & D3DPTFILTERCAPS_MINFLINEAR) minMask |= 1u << D3DTEXF_LINEAR;
    if (filters & D3DPTFILTERCAPS_MINFANISOTROPIC) minMask |= 1u << D3DTEXF_ANISOTROPIC;
    if (filters & D3DPTFILTERCAPS_MAGFPOINT) magMask |= 1u << D3DTEXF_POINT;
    if (filters & D3DPTFILTERCAPS_MAGFLINEAR) magMask |= 1u << D3DTEXF_LINEAR;
    if (filters & D3DPTFILTERCAPS_MAGFANISOTROPIC) magMask |= 1u << D3DTEXF_ANISOTROPIC;
    if (filters & D3DPTFILTERCAPS_MIPFPOINT) mipMask |= 1u << D3DTEXF_POINT;
    if (filters & D3DPTFILTERCAPS_MIPFLINEAR) mipMask |= 1u << D3DTEXF_LINEAR;

    const VideoSetup& setup = core_.activeVideoSetup();
    maxAnisotropy = static_cast<std::int32_t>(caps.MaxAnisotropy);
    std::int32_t level = 3;
    switch (setup.texture) {
        case 0:
            level = 2;
            userAnisotropy = 1;
            break;
        case 1: userAnisotropy = static_cast<std::int32_t>(std::lround(maxAnisotropy * 0.5)); break;
        default: userAnisotropy = maxAnisotropy; break;
    }

    const bool screenCoversBackBuffer =
        screenSize[0] >= backBufferSize[0] && screenSize[1] >= backBufferSize[1];
    bool pointSpriteLogged = false;
    for (int textureClass = 0; textureClass < kTextureClassCount; ++textureClass) {
        std::int32_t mipCap = 3, minCap = 3, magCap = 3;
        switch (textureClass) {
            case 6:
            case 9:
            case 10: continue;  // kept as they are
            case 14:
                if (screenCoversBackBuffer) {
                    mipCap = 1;
                } else {
                    mipCap = minCap = magCap = 1;
                    if (!pointSpriteLogged) engineLog().message("Use point sprite filter for best image quality");
                    pointSpriteLogged = true;
                }
                break;
            case 15: mipCap = 0, minCap = 1; break;
            case 16: mipCap = 0; break;
            case 17: mipCap = 0, minCap = 1, magCap = 1; break;
            default: break;
        }
        const std::int32_t levels[2] = {level, 3};
        for (int which = 0; which < 2; ++which) {
            SamplerFilters& f = samplerFilters[textureClass][which];
            f.mip = cappedFilter(levels[which], mipCap, mipMask);
            f.min = cappedFilter(levels[which], minCap, minMask);
            f.mag = cappedFilter(levels[which], magCap, magMask);
        }
    }

    const DWORD address = caps.TextureAddressCaps;
    const DWORD clamp = (address & D3DPTADDRESSCAPS_CLAMP) ? D3DTADDRESS_CLAMP : D3DTADDRESS_WRAP;
    textureAddress[0] = clamp;
    textureAddress[1] = D3DTADDRESS_WRAP;
    textureAddress[2] = (address & D3DPTADDRESSCAPS_MIRROR) ? D3DTADDRESS_MIRROR : D3DTADDRESS_WRAP;
    textureAddress[3] = (address & D3DPTADDRESSCAPS_BORDER) ? D3DTADDRESS_BORDER : clamp;

    if (rebuildGamma) buildGammaRamp(setup.gamma);
}

void VideoDevice::buildGammaRamp(float gamma) {
    float exponent = 1.0f - 2.0f * gamma;
    if (!(exponent > 0.1f)) exponent = 0.1f;
    for (int i = 0; i < 256; ++i) {
        const double level = std::pow(i / 255.0, static_cast<double>(exponent)) * 65535.0;
        const std::uint16_t entry = static_cast<std::uint16_t>(level);
        gammaRamp[0][i] = gammaRamp[1][i] = gammaRamp[2][i] = entry;
    }
}
