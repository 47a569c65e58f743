// The null backend: resources live only in their memory images. Clears and
// copies are carried out on those images, so tests can read them back;
// draws (already validated and counted by the core) are not rasterised.
#include "platform/d3d9/DeviceLocal.h"
#include "platform/d3d9/PixelFormat.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform::d3d9 {

namespace {

RECT intersect(const RECT& a, const RECT& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

void fillRect(SurfaceImpl& surface, const RECT& r, const std::uint8_t* texel, const std::uint8_t* keepMask) {
    const UINT bytes = formatInfo(surface.desc.Format).bytes;
    std::uint8_t* const pixels = surface.image().data();
    for (INT y = r.top; y < r.bottom; ++y)
        for (INT x = r.left; x < r.right; ++x) {
            std::uint8_t* p = pixels + std::size_t(y) * surface.pitch + std::size_t(x) * bytes;
            for (UINT i = 0; i < bytes; ++i) p[i] = keepMask ? std::uint8_t((p[i] & keepMask[i]) | (texel[i] & ~keepMask[i])) : texel[i];
        }
}

class NullBackend final : public Backend {
public:
    const char* name() const override { return "null"; }
    HRESULT createResource(Tracked&) override { return S_OK; }
    void destroyResource(Tracked&) override {}
    void uploaded(Tracked&, const SurfaceImpl*) override {}
    void readBack(SurfaceImpl&) override {}

    HRESULT clear(DeviceCore& device, DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z,
                  DWORD stencil) override {
        const DeviceState& state = device.state();
        const D3DVIEWPORT9& v = state.viewport;
        const RECT viewport{INT(v.X), INT(v.Y), INT(v.X + v.Width), INT(v.Y + v.Height)};
        std::vector<RECT> areas;
        if (count == 0)
            areas.push_back(viewport);
        else
            for (DWORD i = 0; i < count; ++i) areas.push_back(intersect(rects[i], viewport));
        auto clip = [](RECT r, const D3DSURFACE_DESC& desc) {
            return intersect(r, RECT{0, 0, INT(desc.Width), INT(desc.Height)});
        };
        if ((flags & D3DCLEAR_TARGET) && state.renderTarget) {
            SurfaceImpl& target = *state.renderTarget;
            std::uint8_t texel[8]{};
            encodeColor(target.desc.Format, color, texel);
            for (const RECT& area : areas) fillRect(target, clip(area, target.desc), texel, nullptr);
        }
        if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && state.depthStencil) {
            SurfaceImpl& depth = *state.depthStencil;
            std::uint8_t texel[4]{}, keep[4]{};
            encodeDepth(depth.desc.Format, z, stencil, texel);
            // Keep the half that is not cleared: the stencil bits sit in the
            // low byte of the 32-bit formats and in bit 0 of D15S1.
            const bool twoBytes = formatInfo(depth.desc.Format).bytes == 2;
            if (!(flags & D3DCLEAR_STENCIL)) {
                keep[0] = twoBytes ? 0x01 : 0xFF;
            } else if (!(flags & D3DCLEAR_ZBUFFER)) {
                std::memset(keep, 0xFF, sizeof keep);
                keep[0] = twoBytes ? 0xFE : 0x00;
            }
            for (const RECT& area : areas) fillRect(depth, clip(area, depth.desc), texel, keep);
        }
        return S_OK;
    }

    HRESULT stretchRect(SurfaceImpl& source, const RECT& sr, SurfaceImpl& dest, const RECT& dr,
                        D3DTEXTUREFILTERTYPE filter) override {
        std::vector<std::uint8_t> image;
        if (!decodeLevel(source.desc.Format, source.image().data(), source.pitch, source.desc.Width, source.desc.Height,
                         image))
            return D3DERR_INVALIDCALL;
        const UINT dw = UINT(dr.right - dr.left), dh = UINT(dr.bottom - dr.top);
        const auto out = resample(image.data(), source.desc.Width, UINT(sr.left), UINT(sr.top), UINT(sr.right - sr.left),
                                  UINT(sr.bottom - sr.top), dw, dh,
                                  filter == D3DTEXF_LINEAR ? Resample::Linear : Resample::Point);
        const UINT bytes = formatInfo(dest.desc.Format).bytes;
        std::uint8_t* target = dest.image().data() + std::size_t(dr.top) * dest.pitch + std::size_t(dr.left) * bytes;
        return encodeLevel(dest.desc.Format, out.data(), dw, dh, target, dest.pitch) ? S_OK : D3DERR_INVALIDCALL;
    }

    HRESULT draw(DeviceCore&, const DrawCall&) override { return S_OK; }
    HRESULT present(DeviceCore&) override { return S_OK; }
};

}  // namespace

std::unique_ptr<Backend> createNullBackend() { return std::make_unique<NullBackend>(); }

std::unique_ptr<Backend> createBackend(BackendKind kind, HWND window) {
    switch (kind) {
        case BackendKind::GL: return createGLBackend(window);
        case BackendKind::Null: break;
    }
    return createNullBackend();
}

std::string adapterDescription(BackendKind kind, const GLStack& gl) {
    if (kind == BackendKind::Null) return "Null Direct3D 9 device";
    // The card class is read from the description's first four-digit number
    // (none: a full card). A software rasteriser draws every pixel on the
    // CPU: it leads with 1000, which puts it among the limited cards, whose
    // defaults leave post-processing off.
    if (gl.software) return "Software rasteriser 1000, OpenGL Direct3D 9 device on " + gl.renderer;
    return "OpenGL Direct3D 9 device";
}

}  // namespace platform::d3d9
