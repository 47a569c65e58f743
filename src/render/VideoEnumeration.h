// The enumeration of what Direct3D offers the game: every adapter, its
// display modes, and for each device type (hardware, reference, software)
// the usable combinations of display mode, back-buffer format and windowing
// with their depth formats, multisample entries, vertex-processing types
// and presentation intervals.
//
// Filters: only X8R8G8B8 display modes of at least 640 x 480; back buffers
// A8R8G8B8 and X8R8G8B8; a combination without a depth format, a
// multisample entry or a vertex-processing type is dropped.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d9/D3D9.h"

// Vertex-processing types (fixed: the device choice's preference lists
// name them by number).
enum VideoVertexProcessing : std::int32_t {
    VertexProcessingSoftware = 0,
    VertexProcessingMixed = 1,
    VertexProcessingHardware = 2,
    VertexProcessingHardwareFixed = 3,
    VertexProcessingPure = 4,
    VertexProcessingPureFixed = 5,
};

struct VideoMultiSample {
    D3DMULTISAMPLE_TYPE type = D3DMULTISAMPLE_NONE;
    DWORD qualityLevels = 0;
};

struct VideoDepthMultiSample {
    D3DFORMAT depthFormat = D3DFMT_UNKNOWN;
    D3DMULTISAMPLE_TYPE multiSample = D3DMULTISAMPLE_NONE;
};

// One usable combination of adapter, device type, display mode, back-buffer
// format and windowing.
struct VideoAdapterInfo {
    UINT adapterOrdinal = 0;
    D3DDISPLAYMODE displayMode{};
    D3DDEVTYPE deviceType = D3DDEVTYPE_HAL;
    D3DFORMAT adapterFormat = D3DFMT_UNKNOWN;
    D3DFORMAT backBufferFormat = D3DFMT_UNKNOWN;
    bool windowed = false;
    std::vector<D3DFORMAT> depthFormats;
    std::vector<VideoMultiSample> multiSamples;
    std::vector<VideoDepthMultiSample> depthMultiSamples;
    std::vector<std::int32_t> vertexProcessing;
    std::vector<UINT> presentIntervals;

    void clear();
};

struct VideoDeviceRecord {
    std::int32_t adapterOrdinal = -1;  // -1: the device type is unusable
    D3DDEVTYPE deviceType = D3DDEVTYPE_HAL;
    D3DCAPS9 caps{};
    std::vector<VideoAdapterInfo> combinations;
};

struct VideoAdapterRecord {
    UINT adapterOrdinal = 0;
    D3DADAPTER_IDENTIFIER9 identifier{};
    VideoDeviceRecord devices[3];  // device types 1, 2, 3 in that order
    std::vector<D3DDISPLAYMODE> displayModes;
};

class VideoEnumeration {
public:
    // Fills the adapter list from the Direct3D interface; false (logged)
    // without an interface or without one usable combination.
    bool enumerate();

    // Bits of a format (0 for formats the enumeration does not know).
    static std::int32_t colorChannelBits(D3DFORMAT format);
    static std::int32_t alphaChannelBits(D3DFORMAT format);
    static std::int32_t depthBits(D3DFORMAT format);
    static std::int32_t stencilBits(D3DFORMAT format);

    IDirect3D9* direct3d = nullptr;
    std::vector<D3DFORMAT> allowedAdapterFormats;
    std::vector<VideoAdapterRecord> adapters;
    std::int32_t minimumWidth = 640;
    std::int32_t minimumHeight = 480;
    std::int32_t minimumColorBits = 5;
    std::int32_t minimumAlphaBits = 0;
    std::int32_t minimumDepthBits = 15;
    std::int32_t minimumStencilBits = 0;
    bool usesDepthBuffer = false;
    bool requiresWindowed = false;
    bool requiresFullScreen = false;

private:
    void enumerateDevices(VideoAdapterRecord& adapter);
    void enumerateCombinations(VideoAdapterRecord& adapter, VideoDeviceRecord& device, bool withCaps);
    bool fillCombination(VideoAdapterInfo& info, const D3DCAPS9& caps);
};
