// Computed textures: texture handlers created on the device and filled texel
// by texel when the library allocates them, under fixed lower-case names
// ("procnormalizercubemap", "proclightattenuation", "proc2dlightmask",
// "procspecularmap", "procghostmap", "procwhitemap"). The shared creation
// cascade (ProcTexMap::createTexture) also serves the compressed and movie
// textures.
#pragma once

#include <cstdint>
#include <string>

#include "platform/d3d9/D3DX9.h"
#include "render/DXTextureHandler.h"

class ProcTexMap : public DXTextureHandler {
public:
    // Format A8R8G8B8; the managed pool at details "minimum", else default.
    explicit ProcTexMap(const char* name);

    std::int32_t kind() const override { return 4; }
    // Writes "*** Procedural texture ***" into text.
    virtual void describe(std::string& text) const;
    virtual D3DFORMAT texelFormat() const { return format; }

    // The smallest power of two not below requested, halved at details
    // "minimum"; at least 1.
    static std::uint32_t adjustSize(std::uint32_t requested);
    // Creates a texture through the fallback cascade (evict, managed pool,
    // smaller sizes, system memory); pool, width and height may change. Null
    // without a device or when every attempt failed (logged).
    static IDirect3DTexture9* createTexture(const char* name, UINT levels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL& pool, UINT& width, UINT& height);

    DWORD usage = 0;
    UINT levels = 0;  // 0: full mip chain
    D3DFORMAT format = D3DFMT_A8R8G8B8;
    D3DPOOL pool = D3DPOOL_DEFAULT;
};

// A 2D texture filled by a per-texel generator.
class Proc2DTexMap : public ProcTexMap {
public:
    Proc2DTexMap(const char* name, std::uint32_t width, std::uint32_t height, D3DFORMAT format);
    bool load() override;
    std::uint32_t imageWidth() const override { return width; }
    std::uint32_t imageHeight() const override { return height; }
    // The texel at the texel-centre coordinate (0..1), as red, green, blue,
    // alpha.
    virtual D3DXVECTOR4 texel(const D3DXVECTOR2& coord, const D3DXVECTOR2& texelSize) const = 0;

    std::uint32_t width = 0;  // as created
    std::uint32_t height = 0;
    std::uint32_t requestedWidth = 0;
    std::uint32_t requestedHeight = 0;
};

// A cube texture filled by a per-texel generator of directions.
class ProcCubeTexMap : public ProcTexMap {
public:
    ProcCubeTexMap(const char* name, std::uint32_t edge);
    bool load() override;
    std::uint32_t imageWidth() const override { return edge; }
    std::uint32_t imageHeight() const override { return edge; }
    virtual D3DXVECTOR4 texel(const D3DXVECTOR3& direction, const D3DXVECTOR3& texelSize) const = 0;

    std::uint32_t edge = 0;  // as created
    std::uint32_t requestedEdge = 0;
};

// A mid-grey opaque texel (0.5, 0.5, 0.5, 1).
class ProcWhiteMap : public Proc2DTexMap {
public:
    explicit ProcWhiteMap(const char* name) : Proc2DTexMap(name, 1, 1, D3DFMT_A8R8G8B8) {}
    D3DXVECTOR4 texel(const D3DXVECTOR2& coord, const D3DXVECTOR2& texelSize) const override;
};

// The smaller of 0.1 + a² and 1 - a³ with a = 1 - u.
class ProcGhostMap : public Proc2DTexMap {
public:
    explicit ProcGhostMap(const char* name) : Proc2DTexMap(name, 256, 1, D3DFMT_L8) {}
    D3DXVECTOR4 texel(const D3DXVECTOR2& coord, const D3DXVECTOR2& texelSize) const override;
};

// Specular power table: N·H along u, the exponent selector along v.
class ProcSpecularNHxKMap : public Proc2DTexMap {
public:
    explicit ProcSpecularNHxKMap(const char* name) : Proc2DTexMap(name, 256, 256, D3DFMT_L8) {}
    D3DXVECTOR4 texel(const D3DXVECTOR2& coord, const D3DXVECTOR2& texelSize) const override;
};

// Spot mask: 1 in the centre, 0 from the inscribed circle outwards.
class ProcSpotIntensityMap : public Proc2DTexMap {
public:
    explicit ProcSpotIntensityMap(const char* name) : Proc2DTexMap(name, 256, 256, D3DFMT_L8) {}
    D3DXVECTOR4 texel(const D3DXVECTOR2& coord, const D3DXVECTOR2& texelSize) const override;
};

// Light attenuation ramp 1 - u².
class ProcFalloffMap : public Proc2DTexMap {
public:
    explicit ProcFalloffMap(const char* name) : Proc2DTexMap(name, 512, 1, D3DFMT_L8) {}
    D3DXVECTOR4 texel(const D3DXVECTOR2& coord, const D3DXVECTOR2& texelSize) const override;
};

// Normalisation cube: each direction normalised and packed into 0..1.
class ProcNormalizerTexMap : public ProcCubeTexMap {
public:
    explicit ProcNormalizerTexMap(const char* name) : ProcCubeTexMap(name, 256) {}
    D3DXVECTOR4 texel(const D3DXVECTOR3& direction, const D3DXVECTOR3& texelSize) const override;
};
