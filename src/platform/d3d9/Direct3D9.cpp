// The Direct3D object: adapters, modes, capabilities and format questions
// answered from the adapter profile, and device creation.
#include "platform/d3d9/DeviceLocal.h"
#include "platform/d3d9/PixelFormat.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace platform::d3d9 {

namespace {

std::mutex environmentLock;

Environment& currentEnvironment() {
    static Environment environment;
    return environment;
}

bool contains(const std::vector<D3DFORMAT>& list, D3DFORMAT format) {
    return std::find(list.begin(), list.end(), format) != list.end();
}

bool isBackBufferFormat(D3DFORMAT format) { return format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8; }

}  // namespace

bool FaultPlan::chosenAnswer(FormatCheck kind, D3DFORMAT format, HRESULT& result) const {
    auto found = answers.find({kind, format});
    if (found == answers.end()) found = answers.find({kind, D3DFMT_UNKNOWN});
    if (found == answers.end()) return false;
    result = found->second;
    return true;
}

void setEnvironment(Environment environment) {
    std::lock_guard<std::mutex> guard(environmentLock);
    currentEnvironment() = std::move(environment);
}

const Environment& environment() { return currentEnvironment(); }

std::string formatLine(const char* format, va_list args) {
    char line[1024];
    std::vsnprintf(line, sizeof line, format, args);
    return line;
}

void Context::message(const char* format, ...) {
    if (!environment.sink) return;
    va_list args;
    va_start(args, format);
    const std::string line = formatLine(format, args);
    va_end(args);
    environment.sink(line.c_str());
}

void Context::call(const char* format, ...) {
    if (!environment.callLog) return;
    va_list args;
    va_start(args, format);
    environment.callLog->lines.push_back(formatLine(format, args));
    va_end(args);
}

const char* formatName(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_UNKNOWN: return "D3DFMT_UNKNOWN";
        case D3DFMT_R8G8B8: return "D3DFMT_R8G8B8";
        case D3DFMT_A8R8G8B8: return "D3DFMT_A8R8G8B8";
        case D3DFMT_X8R8G8B8: return "D3DFMT_X8R8G8B8";
        case D3DFMT_R5G6B5: return "D3DFMT_R5G6B5";
        case D3DFMT_X1R5G5B5: return "D3DFMT_X1R5G5B5";
        case D3DFMT_A1R5G5B5: return "D3DFMT_A1R5G5B5";
        case D3DFMT_A4R4G4B4: return "D3DFMT_A4R4G4B4";
        case D3DFMT_R3G3B2: return "D3DFMT_R3G3B2";
        case D3DFMT_A8: return "D3DFMT_A8";
        case D3DFMT_A8R3G3B2: return "D3DFMT_A8R3G3B2";
        case D3DFMT_X4R4G4B4: return "D3DFMT_X4R4G4B4";
        case D3DFMT_A2B10G10R10: return "D3DFMT_A2B10G10R10";
        case D3DFMT_A2R10G10B10: return "D3DFMT_A2R10G10B10";
        case D3DFMT_L8: return "D3DFMT_L8";
        case D3DFMT_D32: return "D3DFMT_D32";
        case D3DFMT_D15S1: return "D3DFMT_D15S1";
        case D3DFMT_D24S8: return "D3DFMT_D24S8";
        case D3DFMT_D24X8: return "D3DFMT_D24X8";
        case D3DFMT_D24X4S4: return "D3DFMT_D24X4S4";
        case D3DFMT_D16: return "D3DFMT_D16";
        case D3DFMT_VERTEXDATA: return "D3DFMT_VERTEXDATA";
        case D3DFMT_INDEX16: return "D3DFMT_INDEX16";
        case D3DFMT_INDEX32: return "D3DFMT_INDEX32";
        case D3DFMT_DXT1: return "D3DFMT_DXT1";
        case D3DFMT_DXT2: return "D3DFMT_DXT2";
        case D3DFMT_DXT3: return "D3DFMT_DXT3";
        case D3DFMT_DXT4: return "D3DFMT_DXT4";
        case D3DFMT_DXT5: return "D3DFMT_DXT5";
        default: return "Unknown Format";
    }
}

void loseDevice(IDirect3DDevice9* device, int lostChecks) {
    if (DeviceCore* core = deviceOf(device)) core->lose(lostChecks);
}

const DeviceStatistics* statistics(IDirect3DDevice9* device) {
    DeviceCore* core = deviceOf(device);
    return core ? &core->stats() : nullptr;
}

bool recordGLFrame(IDirect3DDevice9* device, GLFrameRecord* record) {
    DeviceCore* core = deviceOf(device);
    return core && core->backend().record(record);
}

bool readSurface(IDirect3DSurface9* surface, std::vector<std::uint8_t>& bytes, D3DSURFACE_DESC& desc) {
    SurfaceImpl* s = surfaceOf(surface);
    if (!s) return false;
    // A texture level's device is its texture's.
    const Tracked& owner = s->containerObject ? *s->containerObject : static_cast<const Tracked&>(*s);
    if (owner.device) owner.device->backend().readBack(*s);
    const ZeroedBytes& image = s->image();
    bytes.assign(image.begin(), image.end());
    desc = s->desc;
    return true;
}

DeviceCore* deviceOf(IDirect3DDevice9* device) { return dynamic_cast<DeviceCore*>(device); }
TextureCore* textureOf(IDirect3DBaseTexture9* texture) { return dynamic_cast<TextureCore*>(texture); }
SurfaceImpl* surfaceOf(IDirect3DSurface9* surface) { return dynamic_cast<SurfaceImpl*>(surface); }

HRESULT Direct3D9Impl::refuse(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string line = formatLine(format, args);
    va_end(args);
    context_->message("%s", line.c_str());
    return D3DERR_INVALIDCALL;
}

HRESULT Direct3D9Impl::lookup(const char* call, UINT adapter, D3DDEVTYPE type,
                              const AdapterDescription*& description) {
    description = this->adapter(adapter);
    if (!description) return refuse("%s refused: no adapter %u", call, adapter);
    if (type < D3DDEVTYPE_HAL || type > D3DDEVTYPE_SW) return D3DERR_INVALIDDEVICE;
    if (!description->hasDeviceType(type)) return D3DERR_NOTAVAILABLE;
    return S_OK;
}

UINT Direct3D9Impl::GetAdapterCount() {
    context_->call("GetAdapterCount()");
    return static_cast<UINT>(context_->profile->adapters.size());
}

HRESULT Direct3D9Impl::GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER9* identifier) {
    context_->call("GetAdapterIdentifier(%u, %u)", adapter, flags);
    const AdapterDescription* a = this->adapter(adapter);
    if (!a) return refuse("GetAdapterIdentifier refused: no adapter %u", adapter);
    if (!identifier) return refuse("GetAdapterIdentifier refused: no identifier record");
    *identifier = a->identifier;
    return S_OK;
}

UINT Direct3D9Impl::GetAdapterModeCount(UINT adapter, D3DFORMAT format) {
    context_->call("GetAdapterModeCount(%u, %u)", adapter, format);
    const AdapterDescription* a = this->adapter(adapter);
    if (!a) return 0;
    return static_cast<UINT>(std::count_if(a->modes.begin(), a->modes.end(),
                                           [&](const D3DDISPLAYMODE& m) { return m.Format == format; }));
}

HRESULT Direct3D9Impl::EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* displayMode) {
    context_->call("EnumAdapterModes(%u, %u, %u)", adapter, format, mode);
    const AdapterDescription* a = this->adapter(adapter);
    if (!a) return refuse("EnumAdapterModes refused: no adapter %u", adapter);
    if (!displayMode) return refuse("EnumAdapterModes refused: no mode record");
    UINT index = 0;
    for (const auto& m : a->modes) {
        if (m.Format != format) continue;
        if (index++ == mode) {
            *displayMode = m;
            return S_OK;
        }
    }
    return refuse("EnumAdapterModes refused: mode %u of %s past the %u modes", mode, formatName(format), index);
}

HRESULT Direct3D9Impl::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* displayMode) {
    context_->call("GetAdapterDisplayMode(%u)", adapter);
    const AdapterDescription* a = this->adapter(adapter);
    if (!a) return refuse("GetAdapterDisplayMode refused: no adapter %u", adapter);
    if (!displayMode) return refuse("GetAdapterDisplayMode refused: no mode record");
    *displayMode = a->desktop;
    return S_OK;
}

HRESULT Direct3D9Impl::CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                       D3DFORMAT backBufferFormat, BOOL windowed) {
    context_->call("CheckDeviceType(%u, %u, %u, %u, %d)", adapter, type, adapterFormat, backBufferFormat, windowed);
    HRESULT chosen = S_OK;
    if (context_->chosenAnswer(FormatCheck::DeviceType, backBufferFormat, chosen)) return chosen;
    const AdapterDescription* a = nullptr;
    if (const HRESULT hr = lookup("CheckDeviceType", adapter, type, a); FAILED(hr)) return hr;
    const bool modeFormat = std::any_of(a->modes.begin(), a->modes.end(),
                                        [&](const D3DDISPLAYMODE& m) { return m.Format == adapterFormat; });
    if (!modeFormat && !windowed) return D3DERR_NOTAVAILABLE;
    if (!isBackBufferFormat(backBufferFormat)) return D3DERR_NOTAVAILABLE;
    return S_OK;
}

HRESULT Direct3D9Impl::CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                         D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) {
    context_->call("CheckDeviceFormat(%u, %u, %u, 0x%X, %u, %u)", adapter, type, adapterFormat, usage, resourceType,
                   checkFormat);
    HRESULT chosen = S_OK;
    if (context_->chosenAnswer(FormatCheck::DeviceFormat, checkFormat, chosen)) return chosen;
    const AdapterDescription* a = nullptr;
    if (const HRESULT hr = lookup("CheckDeviceFormat", adapter, type, a); FAILED(hr)) return hr;
    if (usage & D3DUSAGE_DEPTHSTENCIL) return contains(a->depthFormats, checkFormat) ? S_OK : D3DERR_NOTAVAILABLE;
    if (usage & D3DUSAGE_RENDERTARGET)
        return contains(a->renderTargetFormats, checkFormat) ? S_OK : D3DERR_NOTAVAILABLE;
    if (resourceType == D3DRTYPE_CUBETEXTURE && !(a->caps.TextureCaps & D3DPTEXTURECAPS_CUBEMAP))
        return D3DERR_NOTAVAILABLE;
    return contains(a->textureFormats, checkFormat) ? S_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D9Impl::CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT surfaceFormat,
                                                  BOOL windowed, D3DMULTISAMPLE_TYPE multiSample,
                                                  DWORD* qualityLevels) {
    context_->call("CheckDeviceMultiSampleType(%u, %u, %u, %d, %u)", adapter, type, surfaceFormat, windowed,
                   multiSample);
    HRESULT chosen = S_OK;
    if (context_->chosenAnswer(FormatCheck::MultiSample, surfaceFormat, chosen)) {
        if (qualityLevels) *qualityLevels = SUCCEEDED(chosen) ? 1 : 0;
        return chosen;
    }
    const AdapterDescription* a = nullptr;
    if (const HRESULT hr = lookup("CheckDeviceMultiSampleType", adapter, type, a); FAILED(hr)) return hr;
    if (multiSample > D3DMULTISAMPLE_16_SAMPLES)
        return refuse("CheckDeviceMultiSampleType refused: multisample type %u", multiSample);
    const bool surfaceKnown = isBackBufferFormat(surfaceFormat) || contains(a->depthFormats, surfaceFormat) ||
                              contains(a->renderTargetFormats, surfaceFormat);
    for (const auto& entry : a->multiSamples)
        if (entry.type == multiSample && surfaceKnown) {
            if (qualityLevels) *qualityLevels = entry.qualityLevels;
            return S_OK;
        }
    if (qualityLevels) *qualityLevels = 0;
    return D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D9Impl::CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                              D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) {
    context_->call("CheckDepthStencilMatch(%u, %u, %u, %u, %u)", adapter, type, adapterFormat, renderTargetFormat,
                   depthStencilFormat);
    HRESULT chosen = S_OK;
    if (context_->chosenAnswer(FormatCheck::DepthStencilMatch, depthStencilFormat, chosen)) return chosen;
    const AdapterDescription* a = nullptr;
    if (const HRESULT hr = lookup("CheckDepthStencilMatch", adapter, type, a); FAILED(hr)) return hr;
    const bool target = isBackBufferFormat(renderTargetFormat) || contains(a->renderTargetFormats, renderTargetFormat);
    return target && contains(a->depthFormats, depthStencilFormat) ? S_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D9Impl::GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) {
    context_->call("GetDeviceCaps(%u, %u)", adapter, type);
    const AdapterDescription* a = nullptr;
    if (const HRESULT hr = lookup("GetDeviceCaps", adapter, type, a); FAILED(hr)) return hr;
    if (!caps) return refuse("GetDeviceCaps refused: no caps record");
    *caps = a->caps;
    caps->DeviceType = type;
    caps->AdapterOrdinal = adapter;
    return S_OK;
}

HRESULT Direct3D9Impl::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                                    D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device) {
    context_->call("CreateDevice(%u, %u, 0x%X)", adapter, type, behaviorFlags);
    if (!device) return refuse("CreateDevice refused: no place for the device");
    *device = nullptr;
    if (!parameters) return refuse("CreateDevice refused: no presentation parameters");
    const AdapterDescription* a = nullptr;
    if (const HRESULT hr = lookup("CreateDevice", adapter, type, a); FAILED(hr)) return hr;

    const DWORD processing = behaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING |
                                              D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MIXED_VERTEXPROCESSING);
    if (processing != D3DCREATE_SOFTWARE_VERTEXPROCESSING && processing != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
        processing != D3DCREATE_MIXED_VERTEXPROCESSING)
        return refuse("CreateDevice refused: behaviour flags 0x%X name no single vertex processing", behaviorFlags);
    if (processing != D3DCREATE_SOFTWARE_VERTEXPROCESSING && !(a->caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT))
        return refuse("CreateDevice refused: the adapter has no hardware vertex processing");
    if ((behaviorFlags & D3DCREATE_PUREDEVICE) &&
        (processing != D3DCREATE_HARDWARE_VERTEXPROCESSING || !(a->caps.DevCaps & D3DDEVCAPS_PUREDEVICE)))
        return refuse("CreateDevice refused: a pure device needs hardware vertex processing on a pure-device adapter");

    D3DPRESENT_PARAMETERS p = *parameters;
    if (p.Windowed) {
        if (p.BackBufferWidth == 0) p.BackBufferWidth = a->desktop.Width;
        if (p.BackBufferHeight == 0) p.BackBufferHeight = a->desktop.Height;
        if (p.BackBufferFormat == D3DFMT_UNKNOWN) p.BackBufferFormat = a->desktop.Format;
    } else {
        const bool modeFound = std::any_of(a->modes.begin(), a->modes.end(), [&](const D3DDISPLAYMODE& m) {
            return m.Width == p.BackBufferWidth && m.Height == p.BackBufferHeight &&
                   (p.FullScreen_RefreshRateInHz == 0 || m.RefreshRate == p.FullScreen_RefreshRateInHz);
        });
        if (!modeFound)
            return refuse("CreateDevice refused: no display mode %ux%u at %u Hz", p.BackBufferWidth, p.BackBufferHeight,
                          p.FullScreen_RefreshRateInHz);
    }
    if (!isBackBufferFormat(p.BackBufferFormat))
        return refuse("CreateDevice refused: back-buffer format %s", formatName(p.BackBufferFormat));
    if (p.BackBufferCount == 0) p.BackBufferCount = 1;
    if (p.BackBufferCount > 3) return refuse("CreateDevice refused: %u back buffers", p.BackBufferCount);
    if (p.SwapEffect < D3DSWAPEFFECT_DISCARD || p.SwapEffect > D3DSWAPEFFECT_COPY)
        return refuse("CreateDevice refused: swap effect %u", p.SwapEffect);
    if (p.SwapEffect == D3DSWAPEFFECT_COPY && p.BackBufferCount != 1)
        return refuse("CreateDevice refused: the copy swap effect takes one back buffer, not %u", p.BackBufferCount);
    if (p.MultiSampleType != D3DMULTISAMPLE_NONE) {
        DWORD quality = 0;
        if (p.SwapEffect != D3DSWAPEFFECT_DISCARD)
            return refuse("CreateDevice refused: multisampling needs the discard swap effect");
        if (FAILED(CheckDeviceMultiSampleType(adapter, type, p.BackBufferFormat, p.Windowed, p.MultiSampleType,
                                              &quality)) ||
            p.MultiSampleQuality >= quality)
            return refuse("CreateDevice refused: multisample type %u quality %u not supported", p.MultiSampleType,
                          p.MultiSampleQuality);
    }
    const UINT interval = p.PresentationInterval;
    if (interval != D3DPRESENT_INTERVAL_DEFAULT) {
        const bool single = interval == D3DPRESENT_INTERVAL_IMMEDIATE || interval == D3DPRESENT_INTERVAL_ONE ||
                            interval == D3DPRESENT_INTERVAL_TWO || interval == D3DPRESENT_INTERVAL_THREE ||
                            interval == D3DPRESENT_INTERVAL_FOUR;
        const bool windowedOk = interval == D3DPRESENT_INTERVAL_IMMEDIATE || interval == D3DPRESENT_INTERVAL_ONE;
        if (!single || !(a->caps.PresentationIntervals & interval) || (p.Windowed && !windowedOk))
            return refuse("CreateDevice refused: presentation interval 0x%X", interval);
    }
    if (p.EnableAutoDepthStencil && !contains(a->depthFormats, p.AutoDepthStencilFormat))
        return refuse("CreateDevice refused: depth-stencil format %s", formatName(p.AutoDepthStencilFormat));

    if (const HRESULT injected = context_->nextCreation(); FAILED(injected)) {
        context_->message("CreateDevice failed: injected failure 0x%08X", static_cast<unsigned>(injected));
        return injected;
    }
    auto* created = new DeviceCore(context_, this, adapter, type, focusWindow, behaviorFlags, p);
    if (const HRESULT hr = created->initialize(); FAILED(hr)) {
        created->Release();
        return hr;
    }
    *parameters = p;
    *device = created;
    return S_OK;
}

}  // namespace platform::d3d9

IDirect3D9* Direct3DCreate9(UINT sdkVersion) {
    using namespace platform::d3d9;
    Environment environment;
    {
        std::lock_guard<std::mutex> guard(environmentLock);
        environment = currentEnvironment();
    }
    if (!environment.present || sdkVersion != D3D_SDK_VERSION) return nullptr;
    auto context = std::make_shared<Context>();
    context->profile = environment.profile ? environment.profile
                                           : std::make_shared<const AdapterProfile>(
                                                 AdapterProfile::forBackend(environment.backend));
    context->environment = std::move(environment);
    context->call("Direct3DCreate9(%u)", sdkVersion);
    return new Direct3D9Impl(std::move(context));
}
