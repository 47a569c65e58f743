// The D3DX texture functions: loading DDS and TGA images into textures
// (resize, format conversion, mip generation), requirements, fills, PNG
// export and render-to-surface. They write level memory directly through the
// core (as D3DX does through staging copies), so default-pool textures are
// filled as well, and tell the backend afterwards.
#include "platform/d3d9/D3DX9.h"
#include "platform/d3d9/DeviceLocal.h"
#include "platform/d3d9/ImageFile.h"
#include "platform/d3d9/PixelFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace platform::d3d9 {

namespace {

void report(DeviceCore* device, const char* format, ...) __attribute__((format(printf, 2, 3)));
void report(DeviceCore* device, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string line = formatLine(format, args);
    va_end(args);
    if (device)
        device->context()->message("%s", line.c_str());
    else if (environment().sink)
        environment().sink(line.c_str());
}

bool isDefaultSize(UINT v) { return v == 0 || v == D3DX_DEFAULT || v == D3DX_DEFAULT_NONPOW2 || v == D3DX_FROM_FILE; }

UINT nextPow2(UINT v) {
    UINT p = 1;
    while (p < v && p < 0x80000000u) p <<= 1;
    return p;
}

// An image the same size stays as it is; filters map onto the resampler.
std::vector<std::uint8_t> resample(const std::vector<std::uint8_t>& source, UINT sw, UINT sh, UINT dw, UINT dh,
                                   DWORD filter) {
    if (sw == dw && sh == dh) return source;
    const DWORD kind = filter & 0xFF;
    const Resample mode = kind == D3DX_FILTER_NONE    ? Resample::Copy
                          : kind == D3DX_FILTER_POINT ? Resample::Point
                                                      : Resample::Linear;
    return platform::d3d9::resample(source.data(), sw, 0, 0, sw, sh, dw, dh, mode);
}

// Fills one face of a texture from an image face. A texture level takes the
// image level of its size when there is one (byte for byte in the same
// format, converted otherwise); the top level is otherwise resized from the
// image's top level with filter, and the other levels are built from the
// level above with mipFilter.
HRESULT loadFace(DeviceCore& device, TextureCore& texture, UINT face, const ImageFile& image, UINT imageFace,
                 DWORD filter, DWORD mipFilter) {
    std::vector<std::uint8_t> previous;  // the level above as RGBA8, decoded when needed
    const SurfaceImpl* above = nullptr;
    for (UINT level = 0; level < texture.levels; ++level) {
        SurfaceImpl* s = texture.surface(face, level);
        const UINT w = s->desc.Width, h = s->desc.Height;
        UINT match = 0;
        while (match < image.levels && (mipSize(image.width, match) != w || mipSize(image.height, match) != h)) ++match;
        const bool fromFile = match < image.levels;
        if (fromFile && image.format == texture.format) {
            const auto& bytes = image.level(imageFace, match);
            std::copy(bytes.begin(), bytes.begin() + std::ptrdiff_t(std::min(bytes.size(), s->bytes.size())),
                      s->bytes.begin());
            previous.clear();
            above = s;
            continue;
        }
        std::vector<std::uint8_t> rgba;
        if (fromFile || level == 0) {
            const UINT source = fromFile ? match : 0;
            const UINT sw = mipSize(image.width, source), sh = mipSize(image.height, source);
            std::vector<std::uint8_t> decoded;
            if (!decodeLevel(image.format, image.level(imageFace, source).data(), rowPitch(image.format, sw), sw, sh,
                             decoded))
                return D3DXERR_INVALIDDATA;
            rgba = resample(decoded, sw, sh, w, h, filter);
        } else {
            if (previous.empty() &&
                !decodeLevel(texture.format, above->bytes.data(), above->pitch, above->desc.Width, above->desc.Height,
                             previous))
                return D3DXERR_INVALIDDATA;
            rgba = resample(previous, above->desc.Width, above->desc.Height, w, h,
                            (mipFilter & 0xFF) == D3DX_FILTER_NONE ? D3DX_FILTER_POINT : D3DX_FILTER_BOX);
        }
        if (!encodeLevel(texture.format, rgba.data(), w, h, s->bytes.data(), s->pitch)) {
            report(&device, "D3DX refused: can't write format %s", formatName(texture.format));
            return D3DERR_INVALIDCALL;
        }
        previous = std::move(rgba);
        above = s;
    }
    return S_OK;
}

// Rebuilds levels 1.. of a face from level 0 with a box filter.
void rebuildMips(TextureCore& texture, UINT face) {
    std::vector<std::uint8_t> previous;
    SurfaceImpl* top = texture.surface(face, 0);
    if (!decodeLevel(texture.format, top->bytes.data(), top->pitch, top->desc.Width, top->desc.Height, previous)) return;
    UINT pw = top->desc.Width, ph = top->desc.Height;
    for (UINT level = 1; level < texture.levels; ++level) {
        SurfaceImpl* s = texture.surface(face, level);
        auto rgba = resample(previous, pw, ph, s->desc.Width, s->desc.Height, D3DX_FILTER_BOX);
        encodeLevel(texture.format, rgba.data(), s->desc.Width, s->desc.Height, s->bytes.data(), s->pitch);
        previous = std::move(rgba);
        pw = s->desc.Width;
        ph = s->desc.Height;
    }
}

D3DFORMAT pickFormat(IDirect3DDevice9* device, D3DFORMAT wanted, DWORD usage, D3DRESOURCETYPE type) {
    DeviceCore* core = deviceOf(device);
    IDirect3D9* direct3d = nullptr;
    core->GetDirect3D(&direct3d);
    D3DCAPS9 caps{};
    core->GetDeviceCaps(&caps);
    auto supported = [&](D3DFORMAT f) {
        return SUCCEEDED(direct3d->CheckDeviceFormat(caps.AdapterOrdinal, caps.DeviceType, D3DFMT_X8R8G8B8,
                                                     usage & D3DUSAGE_RENDERTARGET, type, f));
    };
    std::vector<D3DFORMAT> candidates{wanted};
    switch (wanted) {
        case D3DFMT_R8G8B8: candidates = {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}; break;
        case D3DFMT_X8R8G8B8: candidates.push_back(D3DFMT_A8R8G8B8); break;
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5: candidates.insert(candidates.end(), {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}); break;
        case D3DFMT_L8: candidates.insert(candidates.end(), {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}); break;
        case D3DFMT_DXT1: candidates.insert(candidates.end(), {D3DFMT_A8R8G8B8, D3DFMT_A1R5G5B5}); break;
        case D3DFMT_DXT2: candidates.insert(candidates.end(), {D3DFMT_DXT3, D3DFMT_A8R8G8B8}); break;
        case D3DFMT_DXT4: candidates.insert(candidates.end(), {D3DFMT_DXT5, D3DFMT_A8R8G8B8}); break;
        default: candidates.insert(candidates.end(), {D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4}); break;
    }
    D3DFORMAT chosen = D3DFMT_UNKNOWN;
    for (D3DFORMAT f : candidates)
        if (supported(f)) {
            chosen = f;
            break;
        }
    direct3d->Release();
    return chosen;
}

HRESULT checkRequirements(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* levels, DWORD usage,
                          D3DFORMAT* format, D3DPOOL pool, D3DRESOURCETYPE type) {
    DeviceCore* core = deviceOf(device);
    if (!core) return D3DERR_INVALIDCALL;
    (void)pool;
    const D3DCAPS9& caps = core->adapter().caps;
    UINT w = width && !isDefaultSize(*width) ? *width : 256;
    UINT h = height && !isDefaultSize(*height) ? *height : (width && !isDefaultSize(*width) ? w : 256);
    const bool pow2 = type == D3DRTYPE_CUBETEXTURE ? (caps.TextureCaps & D3DPTEXTURECAPS_CUBEMAP_POW2) != 0
                                                   : (caps.TextureCaps & D3DPTEXTURECAPS_POW2) != 0;
    if (pow2) {
        w = nextPow2(w);
        h = nextPow2(h);
    }
    if (type == D3DRTYPE_CUBETEXTURE) h = w = std::max(w, h);
    w = std::min<UINT>(w, caps.MaxTextureWidth);
    h = std::min<UINT>(h, caps.MaxTextureHeight);
    if (type == D3DRTYPE_CUBETEXTURE) h = w = std::min(w, h);
    D3DFORMAT f = format && *format != D3DFMT_UNKNOWN && *format != D3DFMT_FROM_FILE ? *format : D3DFMT_A8R8G8B8;
    f = pickFormat(device, f, usage, type);
    if (f == D3DFMT_UNKNOWN) return D3DERR_NOTAVAILABLE;
    const UINT chain = fullChain(w, h);
    UINT l = levels && *levels != 0 && *levels != D3DX_DEFAULT && *levels != D3DX_FROM_FILE ? *levels : chain;
    l = std::min(l, chain);
    if (!(caps.TextureCaps & D3DPTEXTURECAPS_MIPMAP) || (usage & D3DUSAGE_AUTOGENMIPMAP)) l = 1;
    if (width) *width = w;
    if (height) *height = h;
    if (levels) *levels = l;
    if (format) *format = f;
    return S_OK;
}

}  // namespace

}  // namespace platform::d3d9

using namespace platform::d3d9;

HRESULT D3DXGetImageInfoFromFileInMemory(const void* data, UINT size, D3DXIMAGE_INFO* info) {
    if (!data || !info) return D3DERR_INVALIDCALL;
    ImageFile image;
    std::string why;
    if (!readImageFile(data, size, image, true, why)) {
        report(nullptr, "D3DXGetImageInfoFromFileInMemory refused: %s", why.c_str());
        return D3DXERR_INVALIDDATA;
    }
    *info = {image.width, image.height, 1, image.levels, image.format,
             image.cube ? D3DRTYPE_CUBETEXTURE : D3DRTYPE_TEXTURE, image.fileFormat};
    return S_OK;
}

HRESULT D3DXCheckTextureRequirements(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* levels, DWORD usage,
                                     D3DFORMAT* format, D3DPOOL pool) {
    return checkRequirements(device, width, height, levels, usage, format, pool, D3DRTYPE_TEXTURE);
}

HRESULT D3DXCheckCubeTextureRequirements(IDirect3DDevice9* device, UINT* size, UINT* levels, DWORD usage,
                                         D3DFORMAT* format, D3DPOOL pool) {
    UINT height = size ? *size : 0;
    return checkRequirements(device, size, &height, levels, usage, format, pool, D3DRTYPE_CUBETEXTURE);
}

HRESULT D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice9* device, const void* data, UINT size, UINT width,
                                            UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                            DWORD filter, DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* info,
                                            PALETTEENTRY* palette, IDirect3DTexture9** texture) {
    DeviceCore* core = deviceOf(device);
    if (!core || !data || !texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (palette || colorKey) {
        report(core, "D3DXCreateTextureFromFileInMemoryEx refused: palettes and colour keys are not supported");
        return D3DERR_INVALIDCALL;
    }
    ImageFile image;
    std::string why;
    if (!readImageFile(data, size, image, false, why)) {
        report(core, "D3DXCreateTextureFromFileInMemoryEx refused: %s", why.c_str());
        return D3DXERR_INVALIDDATA;
    }
    UINT w = isDefaultSize(width) ? image.width : width;
    UINT h = isDefaultSize(height) ? image.height : height;
    UINT levels = mipLevels == D3DX_FROM_FILE ? image.levels : mipLevels;
    D3DFORMAT f = format == D3DFMT_FROM_FILE || format == D3DFMT_UNKNOWN ? image.format : format;
    if (const HRESULT hr = D3DXCheckTextureRequirements(device, &w, &h, &levels, usage, &f, pool); FAILED(hr)) {
        report(core, "D3DXCreateTextureFromFileInMemoryEx refused: no format of the device fits %s",
               formatName(f));
        return hr;
    }
    IDirect3DTexture9* created = nullptr;
    if (const HRESULT hr = device->CreateTexture(w, h, levels, usage, f, pool, &created, nullptr); FAILED(hr)) return hr;
    TextureCore* t = textureOf(created);
    if (filter == D3DX_DEFAULT) filter = D3DX_FILTER_TRIANGLE;
    if (mipFilter == D3DX_DEFAULT) mipFilter = D3DX_FILTER_BOX;
    if (const HRESULT hr = loadFace(*core, *t, 0, image, 0, filter, mipFilter); FAILED(hr)) {
        created->Release();
        return hr;
    }
    core->backend().uploaded(t->tracked(), nullptr);
    if (info)
        *info = {image.width, image.height, 1, image.levels, image.format,
                 image.cube ? D3DRTYPE_CUBETEXTURE : D3DRTYPE_TEXTURE, image.fileFormat};
    *texture = created;
    return S_OK;
}

HRESULT D3DXCreateCubeTextureFromFileInMemory(IDirect3DDevice9* device, const void* data, UINT size,
                                              IDirect3DCubeTexture9** texture) {
    DeviceCore* core = deviceOf(device);
    if (!core || !data || !texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    ImageFile image;
    std::string why;
    if (!readImageFile(data, size, image, false, why)) {
        report(core, "D3DXCreateCubeTextureFromFileInMemory refused: %s", why.c_str());
        return D3DXERR_INVALIDDATA;
    }
    if (!image.cube) {
        report(core, "D3DXCreateCubeTextureFromFileInMemory refused: the image is no cube map");
        return D3DXERR_INVALIDDATA;
    }
    UINT edge = image.width, levels = 0;
    D3DFORMAT f = image.format;
    if (const HRESULT hr = D3DXCheckCubeTextureRequirements(device, &edge, &levels, 0, &f, D3DPOOL_MANAGED); FAILED(hr))
        return hr;
    IDirect3DCubeTexture9* created = nullptr;
    if (const HRESULT hr = device->CreateCubeTexture(edge, levels, 0, f, D3DPOOL_MANAGED, &created, nullptr); FAILED(hr))
        return hr;
    TextureCore* t = textureOf(created);
    for (UINT face = 0; face < 6; ++face)
        if (const HRESULT hr = loadFace(*core, *t, face, image, face, D3DX_FILTER_TRIANGLE, D3DX_FILTER_BOX);
            FAILED(hr)) {
            created->Release();
            return hr;
        }
    core->backend().uploaded(t->tracked(), nullptr);
    *texture = created;
    return S_OK;
}

namespace {

// Runs fill over every texel of every level of every face.
HRESULT fillTexture(TextureCore* texture, const char* call,
                    void (*texel)(TextureCore&, UINT face, UINT x, UINT y, UINT w, UINT h, D3DXVECTOR4& out,
                                  void* context),
                    void* context) {
    if (!texture) return D3DERR_INVALIDCALL;
    Tracked& owner = texture->tracked();
    for (const auto& s : texture->surfaces)
        if (s->locked) {
            if (owner.context) owner.context->message("%s refused: [%s] is locked", call, s->label().c_str());
            return D3DERR_INVALIDCALL;
        }
    for (UINT face = 0; face < texture->faces; ++face)
        for (UINT level = 0; level < texture->levels; ++level) {
            SurfaceImpl* s = texture->surface(face, level);
            const UINT w = s->desc.Width, h = s->desc.Height;
            std::vector<std::uint8_t> rgba(std::size_t(w) * h * 4);
            for (UINT y = 0; y < h; ++y)
                for (UINT x = 0; x < w; ++x) {
                    D3DXVECTOR4 v{0, 0, 0, 0};
                    texel(*texture, face, x, y, w, h, v, context);
                    const float channels[4] = {v.x, v.y, v.z, v.w};
                    for (int c = 0; c < 4; ++c)
                        rgba[(std::size_t(y) * w + x) * 4 + c] =
                            static_cast<std::uint8_t>(std::clamp(channels[c], 0.0f, 1.0f) * 255.0f + 0.5f);
                }
            if (!encodeLevel(texture->format, rgba.data(), w, h, s->bytes.data(), s->pitch)) {
                if (owner.context)
                    owner.context->message("%s refused: can't write format %s", call, formatName(texture->format));
                return D3DERR_INVALIDCALL;
            }
        }
    if (owner.device) owner.device->backend().uploaded(owner, nullptr);
    return S_OK;
}

struct Fill2D {
    LPD3DXFILL2D fill;
    void* data;
};

struct Fill3D {
    LPD3DXFILL3D fill;
    void* data;
};

}  // namespace

HRESULT D3DXFillTexture(IDirect3DTexture9* texture, LPD3DXFILL2D fill, void* data) {
    if (!fill) return D3DERR_INVALIDCALL;
    Fill2D context{fill, data};
    return fillTexture(
        textureOf(texture), "D3DXFillTexture",
        [](TextureCore&, UINT, UINT x, UINT y, UINT w, UINT h, D3DXVECTOR4& out, void* c) {
            const auto* f = static_cast<Fill2D*>(c);
            const D3DXVECTOR2 coordinate{(x + 0.5f) / w, (y + 0.5f) / h};
            const D3DXVECTOR2 size{1.0f / w, 1.0f / h};
            f->fill(&out, &coordinate, &size, f->data);
        },
        &context);
}

HRESULT D3DXFillCubeTexture(IDirect3DCubeTexture9* texture, LPD3DXFILL3D fill, void* data) {
    if (!fill) return D3DERR_INVALIDCALL;
    Fill3D context{fill, data};
    return fillTexture(
        textureOf(texture), "D3DXFillCubeTexture",
        [](TextureCore&, UINT face, UINT x, UINT y, UINT w, UINT h, D3DXVECTOR4& out, void* c) {
            const auto* f = static_cast<Fill3D*>(c);
            // Face coordinates -1..1 through the texel centre, as cube maps
            // are addressed.
            const float s = 2.0f * (x + 0.5f) / w - 1.0f, t = 2.0f * (y + 0.5f) / h - 1.0f;
            D3DXVECTOR3 direction{};
            switch (face) {
                case D3DCUBEMAP_FACE_POSITIVE_X: direction = {1.0f, -t, -s}; break;
                case D3DCUBEMAP_FACE_NEGATIVE_X: direction = {-1.0f, -t, s}; break;
                case D3DCUBEMAP_FACE_POSITIVE_Y: direction = {s, 1.0f, t}; break;
                case D3DCUBEMAP_FACE_NEGATIVE_Y: direction = {s, -1.0f, -t}; break;
                case D3DCUBEMAP_FACE_POSITIVE_Z: direction = {s, -t, 1.0f}; break;
                default: direction = {-s, -t, -1.0f}; break;
            }
            const D3DXVECTOR3 size{2.0f / w, 2.0f / h, 0.0f};
            f->fill(&out, &direction, &size, f->data);
        },
        &context);
}

namespace {

// A surface's image (what the backend drew, for targets) as a PNG.
HRESULT savePng(const char* call, ID3DXBuffer** buffer, D3DXIMAGE_FILEFORMAT format, SurfaceImpl& s) {
    *buffer = nullptr;
    Tracked& owner = s.containerObject ? *s.containerObject : static_cast<Tracked&>(s);
    if (format != D3DXIFF_PNG) {
        if (owner.context) owner.context->message("%s refused: only PNG is written", call);
        return D3DERR_INVALIDCALL;
    }
    if (owner.device) owner.device->backend().readBack(s);
    std::vector<std::uint8_t> rgba;
    if (!decodeLevel(s.desc.Format, s.image().data(), s.pitch, s.desc.Width, s.desc.Height, rgba))
        return D3DERR_INVALIDCALL;
    std::vector<std::uint8_t> png;
    if (!writePng(rgba.data(), s.desc.Width, s.desc.Height, formatInfo(s.desc.Format).alpha, png)) return E_FAIL;
    ID3DXBuffer* out = nullptr;
    if (const HRESULT hr = D3DXCreateBuffer(static_cast<DWORD>(png.size()), &out); FAILED(hr)) return hr;
    std::memcpy(out->GetBufferPointer(), png.data(), png.size());
    *buffer = out;
    return S_OK;
}

}  // namespace

HRESULT D3DXSaveTextureToFileInMemory(ID3DXBuffer** buffer, D3DXIMAGE_FILEFORMAT format,
                                      IDirect3DBaseTexture9* texture, const PALETTEENTRY* palette) {
    TextureCore* t = textureOf(texture);
    if (!buffer || !t || palette) return D3DERR_INVALIDCALL;
    return savePng("D3DXSaveTextureToFileInMemory", buffer, format, *t->surface(0, 0));
}

HRESULT D3DXSaveSurfaceToFileInMemory(ID3DXBuffer** buffer, D3DXIMAGE_FILEFORMAT format, IDirect3DSurface9* surface,
                                      const PALETTEENTRY* palette, const RECT* rect) {
    SurfaceImpl* s = surfaceOf(surface);
    if (!buffer || !s || palette || rect) return D3DERR_INVALIDCALL;
    return savePng("D3DXSaveSurfaceToFileInMemory", buffer, format, *s);
}

namespace {

class RenderToSurface final : public Counted<ID3DXRenderToSurface> {
public:
    RenderToSurface(IDirect3DDevice9* device, const D3DXRTS_DESC& desc) : device_(device), desc_(desc) {
        name_ = "render to surface";
        device_->AddRef();
    }
    ~RenderToSurface() override {
        restore();
        if (depth_) depth_->Release();
        device_->Release();
    }

    HRESULT GetDevice(IDirect3DDevice9** device) override {
        if (!device) return D3DERR_INVALIDCALL;
        device_->AddRef();
        *device = device_;
        return S_OK;
    }
    HRESULT GetDesc(D3DXRTS_DESC* desc) override {
        if (!desc) return D3DERR_INVALIDCALL;
        *desc = desc_;
        return S_OK;
    }

    HRESULT BeginScene(IDirect3DSurface9* surface, const D3DVIEWPORT9* viewport) override {
        DeviceCore* core = deviceOf(device_);
        if (target_) return core->refuse("ID3DXRenderToSurface::BeginScene refused: a scene is already open");
        if (!surface) return core->refuse("ID3DXRenderToSurface::BeginScene refused: no surface");
        if (const HRESULT injected = core->context()->nextTargetBegin(); FAILED(injected)) return injected;
        D3DSURFACE_DESC d{};
        surface->GetDesc(&d);
        if (d.Width != desc_.Width || d.Height != desc_.Height || d.Format != desc_.Format)
            return core->refuse("ID3DXRenderToSurface::BeginScene refused: surface %ux%u %s, the object is for "
                                "%ux%u %s",
                                d.Width, d.Height, formatName(d.Format), desc_.Width, desc_.Height,
                                formatName(desc_.Format));
        if (desc_.DepthStencil && !depth_) {
            if (const HRESULT hr = device_->CreateDepthStencilSurface(desc_.Width, desc_.Height,
                                                                      desc_.DepthStencilFormat, D3DMULTISAMPLE_NONE, 0,
                                                                      FALSE, &depth_, nullptr);
                FAILED(hr))
                return hr;
            depth_->SetDebugName("render-to-surface depth");
        }
        device_->GetRenderTarget(0, &savedTarget_);
        if (device_->GetDepthStencilSurface(&savedDepth_) != S_OK) savedDepth_ = nullptr;
        device_->GetViewport(&savedViewport_);
        if (const HRESULT hr = device_->SetRenderTarget(0, surface); FAILED(hr)) {
            restore();
            return hr;
        }
        target_ = surface;
        target_->AddRef();
        device_->SetDepthStencilSurface(desc_.DepthStencil ? depth_ : nullptr);
        if (viewport)
            if (const HRESULT hr = device_->SetViewport(viewport); FAILED(hr)) {
                restore();
                return hr;
            }
        if (const HRESULT hr = device_->BeginScene(); FAILED(hr)) {
            restore();
            return hr;
        }
        return S_OK;
    }

    HRESULT EndScene(DWORD mipFilter) override {
        if (!target_) return deviceOf(device_)->refuse("ID3DXRenderToSurface::EndScene refused: no scene is open");
        const HRESULT hr = device_->EndScene();
        SurfaceImpl* s = surfaceOf(target_);
        if (SUCCEEDED(hr) && s && s->container && s->container->levels > 1 && mipFilter != 0 &&
            (mipFilter & 0xFF) != D3DX_FILTER_NONE) {
            if (s->containerObject && s->containerObject->device) s->containerObject->device->backend().readBack(*s);
            rebuildMips(*s->container, s->face);
            if (s->containerObject && s->containerObject->device)
                s->containerObject->device->backend().uploaded(*s->containerObject, nullptr);
        }
        restore();
        return hr;
    }

    HRESULT OnLostDevice() override {
        if (depth_) depth_->Release();
        depth_ = nullptr;
        return S_OK;
    }
    HRESULT OnResetDevice() override { return S_OK; }

private:
    void restore() {
        if (savedTarget_) {
            device_->SetRenderTarget(0, savedTarget_);
            savedTarget_->Release();
            savedTarget_ = nullptr;
            device_->SetViewport(&savedViewport_);
        }
        if (target_) {
            device_->SetDepthStencilSurface(savedDepth_);
            target_->Release();
            target_ = nullptr;
        }
        if (savedDepth_) savedDepth_->Release();
        savedDepth_ = nullptr;
    }

    IDirect3DDevice9* device_;
    D3DXRTS_DESC desc_;
    IDirect3DSurface9* depth_ = nullptr;
    IDirect3DSurface9* target_ = nullptr;
    IDirect3DSurface9* savedTarget_ = nullptr;
    IDirect3DSurface9* savedDepth_ = nullptr;
    D3DVIEWPORT9 savedViewport_{};
};

}  // namespace

HRESULT D3DXCreateRenderToSurface(IDirect3DDevice9* device, UINT width, UINT height, D3DFORMAT format,
                                  BOOL depthStencil, D3DFORMAT depthStencilFormat, ID3DXRenderToSurface** object) {
    DeviceCore* core = deviceOf(device);
    if (!core || !object) return D3DERR_INVALIDCALL;
    *object = nullptr;
    if (width == 0 || height == 0)
        return core->refuse("D3DXCreateRenderToSurface refused: size %ux%u", width, height);
    *object = new RenderToSurface(device, {width, height, format, depthStencil, depthStencilFormat});
    return S_OK;
}
