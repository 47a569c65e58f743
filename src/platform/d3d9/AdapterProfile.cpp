#include "platform/d3d9/AdapterProfile.h"

#include "platform/Display.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace platform::d3d9 {

namespace {

void copyText(char* target, std::size_t size, std::string_view text) {
    const std::size_t n = std::min(size - 1, text.size());
    std::memcpy(target, text.data(), n);
    target[n] = '\0';
}

bool parseNumber(const std::string& word, std::uint64_t& value) {
    if (word.empty()) return false;
    char* end = nullptr;
    value = std::strtoull(word.c_str(), &end, 0);
    return end && *end == '\0' && word[0] != '-';
}

bool parseVersion(const std::string& word, DWORD& major, DWORD& minor) {
    unsigned a = 0, b = 0;
    char tail = 0;
    if (std::sscanf(word.c_str(), "%u.%u%c", &a, &b, &tail) != 2 || a > 255 || b > 255) return false;
    major = a;
    minor = b;
    return true;
}

}  // namespace

bool AdapterDescription::hasDeviceType(D3DDEVTYPE type) const {
    return std::find(deviceTypes.begin(), deviceTypes.end(), type) != deviceTypes.end();
}

AdapterDescription AdapterProfile::standardAdapter(const char* description, UINT desktopWidth, UINT desktopHeight) {
    AdapterDescription a;
    copyText(a.identifier.Driver, sizeof a.identifier.Driver, "engine-d3d9");
    copyText(a.identifier.Description, sizeof a.identifier.Description, description);
    copyText(a.identifier.DeviceName, sizeof a.identifier.DeviceName, "\\\\.\\DISPLAY1");
    a.desktop = {desktopWidth, desktopHeight, 60, D3DFMT_X8R8G8B8};
    static const UINT sizes[][2] = {{640, 480},   {800, 600},   {1024, 768},  {1152, 864},  {1280, 720},
                                    {1280, 1024}, {1366, 768},  {1600, 900},  {1680, 1050}, {1920, 1080},
                                    {1920, 1200}, {2560, 1440}, {3840, 2160}};
    for (const auto& size : sizes)
        if (size[0] <= desktopWidth && size[1] <= desktopHeight)
            a.modes.push_back({size[0], size[1], 60, D3DFMT_X8R8G8B8});
    const bool listed = std::any_of(a.modes.begin(), a.modes.end(), [&](const D3DDISPLAYMODE& m) {
        return m.Width == desktopWidth && m.Height == desktopHeight;
    });
    if (!listed) a.modes.push_back(a.desktop);

    D3DCAPS9& c = a.caps;
    c.DeviceType = D3DDEVTYPE_HAL;
    c.PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE | D3DPRESENT_INTERVAL_TWO |
                              D3DPRESENT_INTERVAL_THREE | D3DPRESENT_INTERVAL_FOUR;
    c.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_PUREDEVICE;
    c.ZCmpCaps = c.AlphaCmpCaps = 0xFF;
    c.TextureCaps = D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_CUBEMAP | D3DPTEXTURECAPS_MIPMAP |
                    D3DPTEXTURECAPS_MIPCUBEMAP;
    c.TextureFilterCaps = c.CubeTextureFilterCaps =
        D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MINFANISOTROPIC |
        D3DPTFILTERCAPS_MIPFPOINT | D3DPTFILTERCAPS_MIPFLINEAR | D3DPTFILTERCAPS_MAGFPOINT |
        D3DPTFILTERCAPS_MAGFLINEAR | D3DPTFILTERCAPS_MAGFANISOTROPIC;
    c.TextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                           D3DPTADDRESSCAPS_BORDER | D3DPTADDRESSCAPS_INDEPENDENTUV;
    c.MaxTextureWidth = c.MaxTextureHeight = 4096;
    c.MaxTextureAspectRatio = 4096;
    c.MaxAnisotropy = 16;
    c.MaxTextureBlendStages = c.MaxSimultaneousTextures = 8;
    c.MaxActiveLights = 8;
    c.MaxUserClipPlanes = 6;
    c.MaxPrimitiveCount = 0xFFFFF;
    c.MaxVertexIndex = 0xFFFFFF;
    c.MaxStreams = 16;
    c.MaxStreamStride = 255;
    c.VertexShaderVersion = D3DVS_VERSION(2, 0);
    c.MaxVertexShaderConst = 256;
    c.PixelShaderVersion = D3DPS_VERSION(2, 0);

    a.deviceTypes = {D3DDEVTYPE_HAL};
    a.textureFormats = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5,
                        D3DFMT_A4R4G4B4, D3DFMT_A8,       D3DFMT_L8,     D3DFMT_DXT1,     D3DFMT_DXT3,
                        D3DFMT_DXT5};
    a.renderTargetFormats = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_A8};
    a.depthFormats = {D3DFMT_D16, D3DFMT_D24X8, D3DFMT_D24S8, D3DFMT_D32};
    a.multiSamples = {{D3DMULTISAMPLE_NONE, 1}, {D3DMULTISAMPLE_2_SAMPLES, 1}, {D3DMULTISAMPLE_4_SAMPLES, 1}};
    return a;
}

AdapterProfile AdapterProfile::fromDisplay(const char* description) {
    std::int32_t width = 1024, height = 768;
    platform::desktopResolution(width, height);
    AdapterProfile profile;
    profile.adapters.push_back(
        standardAdapter(description, static_cast<UINT>(std::max(width, 640)), static_cast<UINT>(std::max(height, 480))));
    return profile;
}

AdapterProfile AdapterProfile::forBackend(BackendKind kind) {
    static const GLStack none;
    // One after the other: with the driver loading on another thread, the
    // display's video start-up hung waiting on the session bus (which it may
    // launch through a child process).
    const GLStack& gl = kind == BackendKind::GL ? hostGLStack() : none;
    AdapterProfile profile = fromDisplay(adapterDescription(kind, gl).c_str());
    if (gl.available) {
        const std::string driver = "engine-d3d9 on " + gl.vendor + " " + gl.renderer + ", OpenGL " + gl.version;
        for (auto& a : profile.adapters) copyText(a.identifier.Driver, sizeof a.identifier.Driver, driver);
    }
    return profile;
}

bool AdapterProfile::parse(std::string_view text, std::string& error) {
    adapters.clear();
    std::istringstream in{std::string(text)};
    std::string line;
    int lineNumber = 0;
    bool samplesGiven = false;
    auto fail = [&](const char* why, const std::string& what) {
        error = "line " + std::to_string(lineNumber) + ": " + why + " [" + what + "]";
        adapters.clear();
        return false;
    };
    while (std::getline(in, line)) {
        ++lineNumber;
        if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string key;
        if (!(words >> key)) continue;
        if (key == "adapter") {
            std::string rest;
            std::getline(words, rest);
            rest.erase(0, rest.find_first_not_of(" \t"));
            while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t' || rest.back() == '\r')) rest.pop_back();
            adapters.push_back(standardAdapter(rest.c_str(), 1024, 768));
            adapters.back().modes.clear();
            samplesGiven = false;
            continue;
        }
        if (adapters.empty()) return fail("entry before the first adapter", key);
        AdapterDescription& a = adapters.back();
        std::vector<std::uint64_t> numbers;
        std::vector<std::string> raw;
        for (std::string word; words >> word;) raw.push_back(word);
        auto needNumbers = [&](std::size_t least, std::size_t most) {
            if (raw.size() < least || raw.size() > most) return false;
            numbers.clear();
            for (const auto& word : raw) {
                std::uint64_t v = 0;
                if (!parseNumber(word, v) || v > 0xFFFFFFFFull) return false;
                numbers.push_back(v);
            }
            return true;
        };
        auto u = [&](std::size_t i) { return static_cast<UINT>(numbers[i]); };
        if (key == "driver") {
            copyText(a.identifier.Driver, sizeof a.identifier.Driver, raw.empty() ? "" : raw[0]);
        } else if (key == "vendor" || key == "device") {
            if (!needNumbers(1, 1)) return fail("bad value of", key);
            (key == "vendor" ? a.identifier.VendorId : a.identifier.DeviceId) = u(0);
        } else if (key == "desktop" || key == "mode") {
            if (!needNumbers(3, 4) || u(0) == 0 || u(1) == 0) return fail("bad value of", key);
            const D3DDISPLAYMODE mode{u(0), u(1), u(2), numbers.size() == 4 ? D3DFORMAT(u(3)) : D3DFMT_X8R8G8B8};
            if (key == "desktop")
                a.desktop = mode;
            else
                a.modes.push_back(mode);
        } else if (key == "vs" || key == "ps") {
            DWORD major = 0, minor = 0;
            if (raw.size() != 1 || !parseVersion(raw[0], major, minor)) return fail("bad value of", key);
            if (key == "vs")
                a.caps.VertexShaderVersion = D3DVS_VERSION(major, minor);
            else
                a.caps.PixelShaderVersion = D3DPS_VERSION(major, minor);
        } else if (key == "maxtexture") {
            if (!needNumbers(2, 2) || u(0) == 0 || u(1) == 0) return fail("bad value of", key);
            a.caps.MaxTextureWidth = u(0);
            a.caps.MaxTextureHeight = u(1);
        } else if (key == "maxanisotropy" || key == "devcaps" || key == "texturecaps" || key == "filtercaps" ||
                   key == "addresscaps" || key == "alphacmpcaps" || key == "intervals") {
            if (!needNumbers(1, 1)) return fail("bad value of", key);
            DWORD& field = key == "maxanisotropy" ? a.caps.MaxAnisotropy
                           : key == "devcaps"     ? a.caps.DevCaps
                           : key == "texturecaps" ? a.caps.TextureCaps
                           : key == "filtercaps"  ? a.caps.TextureFilterCaps
                           : key == "addresscaps" ? a.caps.TextureAddressCaps
                           : key == "alphacmpcaps" ? a.caps.AlphaCmpCaps
                                                   : a.caps.PresentationIntervals;
            field = u(0);
            if (key == "filtercaps") a.caps.CubeTextureFilterCaps = u(0);
        } else if (key == "devicetypes") {
            if (!needNumbers(1, 3)) return fail("bad value of", key);
            a.deviceTypes.clear();
            for (std::size_t i = 0; i < numbers.size(); ++i) {
                if (u(i) < 1 || u(i) > 3) return fail("bad device type in", key);
                a.deviceTypes.push_back(D3DDEVTYPE(u(i)));
            }
        } else if (key == "textureformats" || key == "rendertargetformats" || key == "depthformats") {
            if (!needNumbers(0, 64)) return fail("bad value of", key);
            auto& list = key == "textureformats"        ? a.textureFormats
                         : key == "rendertargetformats" ? a.renderTargetFormats
                                                        : a.depthFormats;
            list.clear();
            for (std::size_t i = 0; i < numbers.size(); ++i) list.push_back(D3DFORMAT(u(i)));
        } else if (key == "multisample") {
            if (!needNumbers(2, 2) || u(0) > 16 || u(1) == 0) return fail("bad value of", key);
            if (!samplesGiven) a.multiSamples.clear();  // the first entry replaces the standard list
            samplesGiven = true;
            a.multiSamples.push_back({D3DMULTISAMPLE_TYPE(u(0)), u(1)});
        } else {
            return fail("unknown key", key);
        }
    }
    if (adapters.empty()) {
        error = "no adapter";
        return false;
    }
    for (auto& a : adapters)
        if (a.modes.empty()) a.modes.push_back(a.desktop);
    return true;
}

bool AdapterProfile::load(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "can't open [" + path + "]";
        return false;
    }
    std::stringstream text;
    text << file.rdbuf();
    return parse(text.str(), error);
}

}  // namespace platform::d3d9
