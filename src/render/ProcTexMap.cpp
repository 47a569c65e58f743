#include "render/ProcTexMap.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/Log.h"
#include "render/TextureLibrary.h"
#include "render/VideoDevice.h"
#include "render/VideoSetup.h"

namespace {

const char* poolName(D3DPOOL pool) {
    switch (pool) {
        case D3DPOOL_DEFAULT: return "D3DPOOL_DEFAULT";
        case D3DPOOL_MANAGED: return "D3DPOOL_MANAGED";
        case D3DPOOL_SYSTEMMEM: return "D3DPOOL_SYSTEMMEM";
        case D3DPOOL_SCRATCH: return "D3DPOOL_SCRATCH";
        default: return "Unknown Pool";
    }
}

// Size flags by details ("minimum", "normal", "high"): 32 halves, 64 doubles.
constexpr std::uint32_t kDetailSizeFlags[3] = {32, 0, 0};

float clamp01(double value) { return static_cast<float>(std::clamp(value, 0.0, 1.0)); }

D3DXVECTOR4 grey(double value) {
    const float v = clamp01(value);
    return {v, v, v, v};
}

}  // namespace

// ---- base -----------------------------------------------------------------

ProcTexMap::ProcTexMap(const char* name) : DXTextureHandler(name) {
    pool = textureEnvironment().videoSetup().details == VideoDetailsMinimum ? D3DPOOL_MANAGED : D3DPOOL_DEFAULT;
}

void ProcTexMap::describe(std::string& text) const { text = "*** Procedural texture ***"; }

std::uint32_t ProcTexMap::adjustSize(std::uint32_t requested) {
    std::uint32_t p = 1;
    while (p < requested && p < 0x80000000u) p <<= 1;
    const std::int32_t details = textureEnvironment().videoSetup().details;
    const std::uint32_t sizeFlags = details >= 0 && details < 3 ? kDetailSizeFlags[details] : 0;
    if (sizeFlags & 32) p >>= 1;
    if (sizeFlags & 64) p <<= 1;
    return p ? p : 1;
}

IDirect3DTexture9* ProcTexMap::createTexture(const char* name, UINT levels, DWORD usage, D3DFORMAT format,
                                             D3DPOOL& pool, UINT& width, UINT& height) {
    IDirect3DDevice9* device = textureEnvironment().device();
    if (!device) return nullptr;
    Log& log = engineLog();
    if (FAILED(D3DXCheckTextureRequirements(device, &width, &height, &levels, usage, &format, pool))) {
        log.error("ProcTexMap: Can't find valid texture [%s] format (W=%i H=%i, %s in %s).", name,
                  static_cast<int>(width), static_cast<int>(height), platform::d3d9::formatName(format),
                  poolName(pool));
        return nullptr;
    }
    const bool renderTarget = (usage & D3DUSAGE_RENDERTARGET) != 0;
    HRESULT result = S_OK;
    for (int k = 0; k < 7;) {
        IDirect3DTexture9* texture = nullptr;
        result = device->CreateTexture(width, height, levels, usage, format, pool, &texture, nullptr);
        if (SUCCEEDED(result)) return texture;
        bool shrink = false;
        if (k == 0) {
            TextureLibrary* library = textureLibrary();
            if (library && library->evictCachedTextures()) {
                log.info("Failed allocate image [%s] %ix%i. Unload all cached textures", name, static_cast<int>(width),
                         static_cast<int>(height));
                k = 1;
                continue;
            }
            k = 1;
        }
        if (k == 1) {
            if (renderTarget || pool == D3DPOOL_MANAGED) {
                k = 2;
                shrink = true;
            } else {
                pool = D3DPOOL_MANAGED;
                log.info("Change image [%s] pool to MANAGED", name);
            }
        } else if (k == 4) {
            if (!renderTarget) {
                pool = D3DPOOL_SYSTEMMEM;
                log.info("Change image [%s] pool to SYSMEM", name);
            }
        } else {
            shrink = true;
        }
        if (shrink) {
            width >>= 1;
            height >>= 1;
            if (width < 8 || height < 8) {
                log.info("Can't reduce image [%s] more than %ix%i", name, static_cast<int>(width),
                         static_cast<int>(height));
                break;
            }
            log.info("Reduce image [%s] size to %ix%i", name, static_cast<int>(width), static_cast<int>(height));
        }
        ++k;
    }
    log.systemError("Cannot allocate texture [%s]. Reason: [%s]", name, d3dErrorText(result));
    return nullptr;
}

// ---- 2D and cube maps -----------------------------------------------------

Proc2DTexMap::Proc2DTexMap(const char* name, std::uint32_t width, std::uint32_t height, D3DFORMAT texelFormat)
    : ProcTexMap(name), requestedWidth(width), requestedHeight(height) {
    format = texelFormat;
}

namespace {

void fill2D(D3DXVECTOR4* out, const D3DXVECTOR2* coord, const D3DXVECTOR2* size, void* data) {
    *out = static_cast<const Proc2DTexMap*>(data)->texel(*coord, *size);
}

void fillCube(D3DXVECTOR4* out, const D3DXVECTOR3* coord, const D3DXVECTOR3* size, void* data) {
    *out = static_cast<const ProcCubeTexMap*>(data)->texel(*coord, *size);
}

void markFromLink(DXTextureHandler& handler) {
    handler.flags = (handler.linkFlags & LinkMarked) ? (handler.flags | HandlerMarked) : (handler.flags & ~HandlerMarked);
}

}  // namespace

bool Proc2DTexMap::load() {
    if (texture) return true;
    UINT w = adjustSize(requestedWidth);
    UINT h = adjustSize(requestedHeight);
    markFromLink(*this);
    IDirect3DTexture9* created = createTexture(name().c_str(), levels, usage, format, pool, w, h);
    if (!created) return false;
    if (FAILED(D3DXFillTexture(created, fill2D, this))) {
        created->Release();
        return false;
    }
    width = w;
    height = h;
    texture = created;
    return true;
}

ProcCubeTexMap::ProcCubeTexMap(const char* name, std::uint32_t edgeLength)
    : ProcTexMap(name), requestedEdge(edgeLength) {
    type = 1;
}

bool ProcCubeTexMap::load() {
    if (texture) return true;
    IDirect3DDevice9* device = textureEnvironment().device();
    if (!device) return false;
    Log& log = engineLog();
    UINT size = adjustSize(requestedEdge);
    UINT levelCount = levels;
    D3DFORMAT texelFormat = format;
    if (FAILED(D3DXCheckCubeTextureRequirements(device, &size, &levelCount, 0, &texelFormat, pool)))
        return log.error("ProcCubeTexMap: Can't find valid cube texture format.\n");
    IDirect3DCubeTexture9* created = nullptr;
    if (FAILED(device->CreateCubeTexture(size, levelCount, 0, texelFormat, pool, &created, nullptr))) {
        log.info("ProcCubeTexMap: Can't create cube texture\n");
        return false;
    }
    if (FAILED(D3DXFillCubeTexture(created, fillCube, this))) {
        created->Release();
        return false;
    }
    edge = size;
    texture = created;
    return true;
}

// ---- generators -----------------------------------------------------------

D3DXVECTOR4 ProcWhiteMap::texel(const D3DXVECTOR2&, const D3DXVECTOR2&) const { return {0.5f, 0.5f, 0.5f, 1.0f}; }

D3DXVECTOR4 ProcGhostMap::texel(const D3DXVECTOR2& coord, const D3DXVECTOR2&) const {
    const float a = 1.0f - coord.x;
    const float rising = 0.1f + a * a;
    const float falling = 1.0f - a * a * a;
    return grey(std::min(rising, falling));
}

D3DXVECTOR4 ProcSpecularNHxKMap::texel(const D3DXVECTOR2& coord, const D3DXVECTOR2& texelSize) const {
    if (coord.x == 0.0f || 1.0f / texelSize.x <= 1.0f) return {0.0f, 0.0f, 0.0f, 0.0f};
    const double w = 1.0 / texelSize.x;
    const double x = (coord.x - 0.5 / w) * w / (w - 1.0);
    const double k = std::pow(coord.y + 1.0, 7.0);
    const double s = (0.9f * coord.y * coord.y + 0.1f) * std::pow(std::max(x, 0.0), k);
    return grey(s);
}

D3DXVECTOR4 ProcSpotIntensityMap::texel(const D3DXVECTOR2& coord, const D3DXVECTOR2&) const {
    const double dx = 2.0 * coord.x - 1.0;
    const double dy = 2.0 * coord.y - 1.0;
    return grey(1.0 - std::sqrt(dx * dx + dy * dy));
}

D3DXVECTOR4 ProcFalloffMap::texel(const D3DXVECTOR2& coord, const D3DXVECTOR2&) const {
    return grey(1.0 - static_cast<double>(coord.x) * coord.x);
}

D3DXVECTOR4 ProcNormalizerTexMap::texel(const D3DXVECTOR3& d, const D3DXVECTOR3&) const {
    const float length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    if (length <= 0.0f) return {0.5f, 0.5f, 0.5f, 1.0f};
    return {0.5f * d.x / length + 0.5f, 0.5f * d.y / length + 0.5f, 0.5f * d.z / length + 0.5f, 1.0f};
}
