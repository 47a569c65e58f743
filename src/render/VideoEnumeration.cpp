#include "render/VideoEnumeration.h"

#include <algorithm>

#include "foundation/Log.h"
#include "render/VideoDevice.h"

namespace {

const D3DDEVTYPE kDeviceTypes[3] = {D3DDEVTYPE_HAL, D3DDEVTYPE_REF, D3DDEVTYPE_SW};
const char* const kDeviceTypeNames[3] = {"HAL", "REF", "SW"};

const D3DFORMAT kBackBufferFormats[] = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8};
const D3DFORMAT kDepthFormats[] = {D3DFMT_D16, D3DFMT_D15S1, D3DFMT_D24X8, D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D32};
// In the order they are tested.
const UINT kPresentIntervals[] = {D3DPRESENT_INTERVAL_IMMEDIATE, D3DPRESENT_INTERVAL_DEFAULT, D3DPRESENT_INTERVAL_ONE,
                                  D3DPRESENT_INTERVAL_TWO,       D3DPRESENT_INTERVAL_THREE,   D3DPRESENT_INTERVAL_FOUR};

bool sameMode(const D3DDISPLAYMODE& a, const D3DDISPLAYMODE& b) {
    return a.Width == b.Width && a.Height == b.Height && a.RefreshRate == b.RefreshRate && a.Format == b.Format;
}

// A windowed combination never takes two, three or four; default always.
void addPresentIntervals(VideoAdapterInfo& info, DWORD capsIntervals) {
    for (const UINT interval : kPresentIntervals) {
        const bool slow = interval == D3DPRESENT_INTERVAL_TWO || interval == D3DPRESENT_INTERVAL_THREE ||
                          interval == D3DPRESENT_INTERVAL_FOUR;
        if (info.windowed && slow) continue;
        if (interval == D3DPRESENT_INTERVAL_DEFAULT || (capsIntervals & interval))
            info.presentIntervals.push_back(interval);
    }
}

}  // namespace

void VideoAdapterInfo::clear() {
    depthFormats.clear();
    multiSamples.clear();
    depthMultiSamples.clear();
    vertexProcessing.clear();
    presentIntervals.clear();
}

std::int32_t VideoEnumeration::colorChannelBits(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_R8G8B8:
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8: return 8;
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5: return 5;
        case D3DFMT_A4R4G4B4:
        case D3DFMT_X4R4G4B4: return 4;
        case D3DFMT_R3G3B2:
        case D3DFMT_A8R3G3B2: return 2;
        case D3DFMT_A2B10G10R10:
        case D3DFMT_A2R10G10B10: return 10;
        default: return 0;
    }
}

std::int32_t VideoEnumeration::alphaChannelBits(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_A8R3G3B2: return 8;
        case D3DFMT_A1R5G5B5: return 1;
        case D3DFMT_A4R4G4B4: return 4;
        case D3DFMT_A2B10G10R10:
        case D3DFMT_A2R10G10B10: return 2;
        default: return 0;
    }
}

std::int32_t VideoEnumeration::depthBits(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_D32: return 32;
        case D3DFMT_D15S1: return 15;
        case D3DFMT_D24S8:
        case D3DFMT_D24X8:
        case D3DFMT_D24X4S4: return 24;
        case D3DFMT_D16: return 16;
        default: return 0;
    }
}

std::int32_t VideoEnumeration::stencilBits(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_D15S1: return 1;
        case D3DFMT_D24S8: return 8;
        case D3DFMT_D24X4S4: return 4;
        default: return 0;
    }
}

bool VideoEnumeration::enumerate() {
    adapters.clear();
    allowedAdapterFormats.clear();
    if (!direct3d) return engineLog().error("Can't initialize DirectX9");
    allowedAdapterFormats.push_back(D3DFMT_X8R8G8B8);

    const UINT count = direct3d->GetAdapterCount();
    for (UINT ordinal = 0; ordinal < count; ++ordinal) {
        VideoAdapterRecord adapter;
        adapter.adapterOrdinal = ordinal;
        direct3d->GetAdapterIdentifier(ordinal, 0, &adapter.identifier);
        for (const D3DFORMAT format : allowedAdapterFormats) {
            const UINT modes = direct3d->GetAdapterModeCount(ordinal, format);
            for (UINT m = 0; m < modes; ++m) {
                D3DDISPLAYMODE mode{};
                if (FAILED(direct3d->EnumAdapterModes(ordinal, format, m, &mode))) continue;
                if (mode.Width < static_cast<UINT>(minimumWidth) || mode.Height < static_cast<UINT>(minimumHeight) ||
                    colorChannelBits(mode.Format) < minimumColorBits)
                    continue;
                const bool known = std::any_of(adapter.displayModes.begin(), adapter.displayModes.end(),
                                               [&](const D3DDISPLAYMODE& kept) { return sameMode(kept, mode); });
                if (!known) adapter.displayModes.push_back(mode);
            }
        }
        adapters.push_back(std::move(adapter));
    }

    bool found = false;
    for (VideoAdapterRecord& adapter : adapters) {
        enumerateDevices(adapter);
        for (const VideoDeviceRecord& device : adapter.devices)
            if (!device.combinations.empty()) found = true;
    }
    if (!found) return engineLog().error("Can't find valid video adapters for game render");
    return true;
}

void VideoEnumeration::enumerateDevices(VideoAdapterRecord& adapter) {
    for (int t = 0; t < 3; ++t) {
        VideoDeviceRecord& device = adapter.devices[t];
        device.adapterOrdinal = static_cast<std::int32_t>(adapter.adapterOrdinal);
        device.deviceType = kDeviceTypes[t];
        const HRESULT hr = direct3d->GetDeviceCaps(adapter.adapterOrdinal, device.deviceType, &device.caps);
        if (FAILED(hr)) {
            engineLog().warning("Can't get device(%i,%i) [%s] caps: %s", device.adapterOrdinal,
                                static_cast<int>(device.deviceType), kDeviceTypeNames[t], d3dErrorText(hr));
            if (hr == D3DERR_NOTAVAILABLE) {
                enumerateCombinations(adapter, device, false);
                continue;
            }
            if (hr == D3DERR_OUTOFVIDEOMEMORY || hr == D3DERR_INVALIDDEVICE || hr == D3DERR_INVALIDCALL) {
                device.adapterOrdinal = -1;
                continue;
            }
        }
        enumerateCombinations(adapter, device, true);
    }
}

void VideoEnumeration::enumerateCombinations(VideoAdapterRecord& adapter, VideoDeviceRecord& device, bool withCaps) {
    for (const D3DDISPLAYMODE& mode : adapter.displayModes) {
        for (const D3DFORMAT backBuffer : kBackBufferFormats) {
            for (const bool windowed : {false, true}) {
                if (alphaChannelBits(backBuffer) < minimumAlphaBits) continue;
                if (!windowed && requiresWindowed) continue;
                if (windowed && requiresFullScreen) continue;
                if (withCaps && FAILED(direct3d->CheckDeviceType(adapter.adapterOrdinal, device.deviceType,
                                                                 mode.Format, backBuffer, windowed ? TRUE : FALSE)))
                    continue;
                VideoAdapterInfo info;
                info.adapterOrdinal = adapter.adapterOrdinal;
                info.displayMode = mode;
                info.deviceType = device.deviceType;
                info.adapterFormat = mode.Format;
                info.backBufferFormat = backBuffer;
                info.windowed = windowed;
                if (!withCaps) {
                    // Without capabilities: what every device takes.
                    if (usesDepthBuffer) info.depthFormats.push_back(D3DFMT_D16);
                    info.multiSamples.push_back({D3DMULTISAMPLE_NONE, 1});
                    addPresentIntervals(info, device.caps.PresentationIntervals);
                    device.combinations.push_back(std::move(info));
                    continue;
                }
                if (fillCombination(info, device.caps))
                    device.combinations.push_back(std::move(info));
                else
                    info.clear();
            }
        }
    }
}

bool VideoEnumeration::fillCombination(VideoAdapterInfo& info, const D3DCAPS9& caps) {
    const UINT ordinal = info.adapterOrdinal;
    const BOOL windowed = info.windowed ? TRUE : FALSE;
    if (usesDepthBuffer) {
        for (const D3DFORMAT depth : kDepthFormats) {
            if (depthBits(depth) < minimumDepthBits || stencilBits(depth) < minimumStencilBits) continue;
            if (FAILED(direct3d->CheckDeviceFormat(ordinal, info.deviceType, info.adapterFormat, D3DUSAGE_DEPTHSTENCIL,
                                                   D3DRTYPE_SURFACE, depth)))
                continue;
            if (FAILED(direct3d->CheckDepthStencilMatch(ordinal, info.deviceType, info.adapterFormat,
                                                        info.backBufferFormat, depth)))
                continue;
            info.depthFormats.push_back(depth);
        }
        if (info.depthFormats.empty()) return false;
    }
    for (UINT type = 0; type <= 16; ++type) {
        DWORD quality = 0;
        if (SUCCEEDED(direct3d->CheckDeviceMultiSampleType(ordinal, info.deviceType, info.backBufferFormat, windowed,
                                                           D3DMULTISAMPLE_TYPE(type), &quality)))
            info.multiSamples.push_back({D3DMULTISAMPLE_TYPE(type), quality});
    }
    if (info.multiSamples.empty()) return false;
    for (const D3DFORMAT depth : info.depthFormats)
        for (const VideoMultiSample& sample : info.multiSamples)
            if (SUCCEEDED(direct3d->CheckDeviceMultiSampleType(ordinal, info.deviceType, depth, windowed, sample.type,
                                                               nullptr)))
                info.depthMultiSamples.push_back({depth, sample.type});

    info.vertexProcessing.push_back(VertexProcessingSoftware);
    if (caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) {
        info.vertexProcessing.push_back(VertexProcessingMixed);
        info.vertexProcessing.push_back(VertexProcessingHardware);
        info.vertexProcessing.push_back(VertexProcessingHardwareFixed);
        if (caps.DevCaps & D3DDEVCAPS_PUREDEVICE) {
            info.vertexProcessing.push_back(VertexProcessingPure);
            info.vertexProcessing.push_back(VertexProcessingPureFixed);
        }
    }
    addPresentIntervals(info, caps.PresentationIntervals);
    return true;
}
