// What our Direct3D 9 reports about the machine: its adapters, each with a
// description, the display modes, the desktop mode, the capabilities and the
// formats it accepts. The default profile is built from the platform display
// and the backend; tests load one from a small text file.
//
// Text form, one entry a line, '#' starts a comment:
//   adapter <description to the end of the line>   starts a new adapter
//   driver <name>   vendor <id>   device <id>
//   desktop <width> <height> <hz>
//   mode <width> <height> <hz> [format number]     (format 22 when left out)
//   vs <major>.<minor>   ps <major>.<minor>
//   maxtexture <width> <height>   maxanisotropy <n>
//   devcaps|texturecaps|filtercaps|addresscaps|alphacmpcaps|intervals <number>
//   devicetypes <1|2|3 ...>        the device types that exist (1 = HAL)
//   textureformats|rendertargetformats|depthformats <format numbers ...>
//   multisample <type> <quality levels>
// Numbers may be decimal or 0x hexadecimal.
#pragma once

#include "platform/d3d9/D3D9.h"
#include "platform/d3d9/D3D9Types.h"

#include <string>
#include <string_view>
#include <vector>

namespace platform::d3d9 {

struct AdapterDescription {
    D3DADAPTER_IDENTIFIER9 identifier{};
    D3DDISPLAYMODE desktop{};
    std::vector<D3DDISPLAYMODE> modes;
    D3DCAPS9 caps{};
    std::vector<D3DDEVTYPE> deviceTypes;
    std::vector<D3DFORMAT> textureFormats;
    std::vector<D3DFORMAT> renderTargetFormats;
    std::vector<D3DFORMAT> depthFormats;
    struct MultiSample {
        D3DMULTISAMPLE_TYPE type;
        DWORD qualityLevels;
    };
    std::vector<MultiSample> multiSamples;

    bool hasDeviceType(D3DDEVTYPE type) const;
};

struct AdapterProfile {
    std::vector<AdapterDescription> adapters;

    // An adapter with everything the renderer may ask for: shader model 2
    // (the profiles of the compiled-shader package: vs_2_0, ps_2_0, ps_2_a),
    // 4096 textures, all filters, the common formats.
    static AdapterDescription standardAdapter(const char* description, UINT desktopWidth, UINT desktopHeight);
    // The default: one standard adapter whose desktop is the platform
    // display's and whose modes are the usual ones up to it.
    static AdapterProfile fromDisplay(const char* description);
    // The default of a backend: fromDisplay with the backend's description;
    // on GL the adapter reports the host's GL stack (hostGLStack): the
    // description as adapterDescription gives it and, in the driver field,
    // the renderer and the GL version.
    static AdapterProfile forBackend(BackendKind kind);
    // Parses the text form; false with error set ("line 3: unknown key [x]").
    bool parse(std::string_view text, std::string& error);
    bool load(const std::string& path, std::string& error);
};

}  // namespace platform::d3d9
