// The validating device: state, the object registry with its leak report,
// scene nesting, draw preconditions and resource creation rules. Accepted
// calls go on to the backend.
#include "platform/d3d9/DeviceLocal.h"
#include "platform/d3d9/PixelFormat.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace platform::d3d9 {

namespace {

constexpr std::uint64_t kMaxResourceBytes = 1ull << 30;

D3DMATRIX identity() {
    D3DMATRIX m{};
    for (int i = 0; i < 4; ++i) m.m[i][i] = 1.0f;
    return m;
}

int transformSlot(D3DTRANSFORMSTATETYPE state) {
    if (state == D3DTS_VIEW) return 0;
    if (state == D3DTS_PROJECTION) return 1;
    if (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7) return 2 + int(state - D3DTS_TEXTURE0);
    if (state == D3DTS_WORLD) return 10;
    return -1;
}

UINT declTypeSize(BYTE type) {
    switch (type) {
        case D3DDECLTYPE_FLOAT1: return 4;
        case D3DDECLTYPE_FLOAT2: return 8;
        case D3DDECLTYPE_FLOAT3: return 12;
        case D3DDECLTYPE_FLOAT4: return 16;
        case D3DDECLTYPE_D3DCOLOR:
        case D3DDECLTYPE_UBYTE4:
        case D3DDECLTYPE_SHORT2:
        case D3DDECLTYPE_UBYTE4N:
        case D3DDECLTYPE_SHORT2N:
        case D3DDECLTYPE_USHORT2N:
        case D3DDECLTYPE_UDEC3:
        case D3DDECLTYPE_DEC3N:
        case D3DDECLTYPE_FLOAT16_2: return 4;
        case D3DDECLTYPE_SHORT4:
        case D3DDECLTYPE_SHORT4N:
        case D3DDECLTYPE_USHORT4N:
        case D3DDECLTYPE_FLOAT16_4: return 8;
        default: return 0;
    }
}

// Vertices a draw of count primitives uses; 0 for an unknown type.
std::uint64_t verticesOf(D3DPRIMITIVETYPE type, UINT count) {
    switch (type) {
        case D3DPT_POINTLIST: return count;
        case D3DPT_LINELIST: return 2ull * count;
        case D3DPT_LINESTRIP: return count + 1ull;
        case D3DPT_TRIANGLELIST: return 3ull * count;
        case D3DPT_TRIANGLESTRIP:
        case D3DPT_TRIANGLEFAN: return count + 2ull;
        default: return 0;
    }
}

bool isPow2(UINT v) { return v && !(v & (v - 1)); }

}  // namespace

DeviceCore::DeviceCore(std::shared_ptr<Context> context, Direct3D9Impl* direct3d, UINT adapter, D3DDEVTYPE type,
                       HWND focusWindow, DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& parameters)
    : context_(std::move(context)),
      direct3d_(direct3d),
      adapterIndex_(adapter),
      adapter_(direct3d->adapter(adapter)),
      type_(type),
      behavior_(behaviorFlags),
      parameters_(parameters),
      backend_(createBackend(context_->environment.backend,
                             parameters.hDeviceWindow ? parameters.hDeviceWindow : focusWindow)) {
    direct3d_->AddRef();
}

DeviceCore::~DeviceCore() { direct3d_->Release(); }

HRESULT DeviceCore::initialize() {
    // The documented defaults of a new device.
    auto& rs = state_.renderStates;
    rs.fill(0);
    rs[D3DRS_ZENABLE] = parameters_.EnableAutoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
    rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_ZWRITEENABLE] = TRUE;
    rs[D3DRS_LASTPIXEL] = TRUE;
    rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_FOGSTART] = 0;
    rs[D3DRS_FOGEND] = 0x3F800000u;  // 1.0f
    rs[D3DRS_FOGDENSITY] = 0x3F800000u;
    rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_STENCILMASK] = rs[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFFu;
    rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFFu;
    rs[D3DRS_CLIPPING] = TRUE;
    rs[D3DRS_LIGHTING] = TRUE;
    rs[D3DRS_COLORVERTEX] = TRUE;
    rs[D3DRS_LOCALVIEWER] = TRUE;
    rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    rs[D3DRS_POINTSIZE] = 0x3F800000u;
    rs[D3DRS_POINTSIZE_MIN] = 0x3F800000u;
    rs[D3DRS_POINTSCALE_A] = 0x3F800000u;
    rs[D3DRS_POINTSIZE_MAX] = 0x42800000u;  // 64.0f
    rs[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    rs[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFFu;
    rs[D3DRS_COLORWRITEENABLE] = 0xF;
    rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    rs[D3DRS_BLENDFACTOR] = 0xFFFFFFFFu;
    rs[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
    rs[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;
    for (auto& sampler : state_.samplerStates) {
        sampler.fill(0);
        sampler[D3DSAMP_ADDRESSU] = sampler[D3DSAMP_ADDRESSV] = sampler[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        sampler[D3DSAMP_MAGFILTER] = sampler[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        sampler[D3DSAMP_MAXANISOTROPY] = 1;
        sampler[D3DSAMP_DMAPOFFSET] = 256;
    }
    for (UINT stage = 0; stage < kMaxFixedStages; ++stage) {
        auto& s = state_.stageStates[stage];
        s.fill(0);
        s[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        s[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        s[D3DTSS_COLORARG1] = s[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        s[D3DTSS_COLORARG2] = s[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        s[D3DTSS_TEXCOORDINDEX] = stage;
        s[D3DTSS_RESULTARG] = D3DTA_CURRENT;
    }
    state_.transforms.fill(identity());
    state_.material.Diffuse = {1, 1, 1, 0};
    state_.material.Ambient = {1, 1, 1, 0};
    for (UINT i = 0; i < 256; ++i) {
        const auto v = static_cast<WORD>(i * 257);
        state_.gamma.red[i] = state_.gamma.green[i] = state_.gamma.blue[i] = v;
    }
    char label[32];
    std::snprintf(label, sizeof label, "device %u", adapterIndex_);
    name_ = label;
    if (const HRESULT hr = backend_->start(*this); FAILED(hr)) return hr;
    return buildSwapChain();
}

HRESULT DeviceCore::buildSwapChain() {
    const UINT width = parameters_.BackBufferWidth, height = parameters_.BackBufferHeight;
    for (UINT i = 0; i < parameters_.BackBufferCount; ++i) {
        auto* s = new SurfaceImpl;
        s->desc = {parameters_.BackBufferFormat, D3DRTYPE_SURFACE, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT,
                   parameters_.MultiSampleType, parameters_.MultiSampleQuality, width, height};
        s->pitch = rowPitch(s->desc.Format, width);
        track(*s, "back buffer");
        backBuffers_.push_back(s);
        if (const HRESULT hr = backend_->createResource(*s); FAILED(hr)) return hr;
    }
    if (parameters_.EnableAutoDepthStencil) {
        auto* s = new SurfaceImpl;
        s->desc = {parameters_.AutoDepthStencilFormat, D3DRTYPE_SURFACE, D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT,
                   parameters_.MultiSampleType, parameters_.MultiSampleQuality, width, height};
        s->pitch = rowPitch(s->desc.Format, width);
        track(*s, "depth buffer");
        autoDepth_ = s;
        if (const HRESULT hr = backend_->createResource(*s); FAILED(hr)) return hr;
    }
    state_.renderTarget = backBuffers_.empty() ? nullptr : backBuffers_[0];
    state_.depthStencil = autoDepth_;
    state_.viewport = {0, 0, width, height, 0.0f, 1.0f};
    state_.scissor = {0, 0, INT(width), INT(height)};
    return S_OK;
}

void DeviceCore::releaseSwapChain() {
    std::vector<SurfaceImpl*> buffers;
    buffers.swap(backBuffers_);
    SurfaceImpl* depth = autoDepth_;
    autoDepth_ = nullptr;
    for (SurfaceImpl* s : buffers)
        if (state_.renderTarget == s) state_.renderTarget = nullptr;
    if (state_.depthStencil == depth) state_.depthStencil = nullptr;
    for (SurfaceImpl* s : buffers) s->Release();
    if (depth) depth->Release();
}

ULONG DeviceCore::Release() {
    if (refs_ == 0) return 0;
    if (--refs_ > 0) return refs_;
    // The device's own references go first; whatever is left is a leak.
    releaseSwapChain();
    for (Tracked* object : std::vector<Tracked*>(objects_)) {
        context_->message("Leaked %s [%s] (%u references) when [%s] was released", object->kindName(),
                          object->name.c_str(), object->refs, name_.c_str());
        forget(*object);
    }
    delete this;
    return 0;
}

HRESULT DeviceCore::refuse(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string line = formatLine(format, args);
    va_end(args);
    ++stats_.refused;
    context_->message("%s", line.c_str());
    return D3DERR_INVALIDCALL;
}

void DeviceCore::track(Tracked& object, const char* defaultKind) {
    object.device = this;
    object.context = context_;
    if (object.name.empty()) object.name = std::string(defaultKind) + " #" + std::to_string(++serial_);
    objects_.push_back(&object);
}

void DeviceCore::forget(Tracked& object) {
    objects_.erase(std::remove(objects_.begin(), objects_.end(), &object), objects_.end());
    // Unbound everywhere, so no slot points at a dead object.
    for (auto& t : state_.textures)
        if (t && &t->tracked() == &object) t = nullptr;
    if (state_.declaration == &object) state_.declaration = nullptr;
    if (state_.stream == &object) state_.stream = nullptr;
    if (state_.indices == &object) state_.indices = nullptr;
    if (state_.vertexShader == &object) state_.vertexShader = nullptr;
    if (state_.pixelShader == &object) state_.pixelShader = nullptr;
    auto targetOf = [&](SurfaceImpl* s) { return s && (s == &object || s->containerObject == &object); };
    if (targetOf(state_.renderTarget)) state_.renderTarget = backBuffers_.empty() ? nullptr : backBuffers_[0];
    if (targetOf(state_.depthStencil)) state_.depthStencil = nullptr;
    backend_->destroyResource(object);
    object.backend.reset();
    object.device = nullptr;
}

// Frame.

HRESULT DeviceCore::TestCooperativeLevel() {
    context_->call("TestCooperativeLevel()");
    if (!lost_) return S_OK;
    if (lostChecks_ > 0) {
        --lostChecks_;
        return D3DERR_DEVICELOST;
    }
    return D3DERR_DEVICENOTRESET;
}

HRESULT DeviceCore::Reset(D3DPRESENT_PARAMETERS* parameters) {
    context_->call("Reset()");
    if (!parameters) return refuse("Reset refused: no presentation parameters");
    if (lost_ && lostChecks_ > 0) return D3DERR_DEVICELOST;
    for (Tracked* object : objects_) {
        const auto* surface = dynamic_cast<SurfaceImpl*>(object);
        if (surface && (surface == autoDepth_ ||
                        std::find(backBuffers_.begin(), backBuffers_.end(), surface) != backBuffers_.end())) {
            if (surface->refs > 1)
                return refuse("Reset refused: [%s] is still referenced", surface->name.c_str());
            continue;
        }
        const auto* texture = dynamic_cast<TextureCore*>(object);
        const auto* buffer = dynamic_cast<BufferCore*>(object);
        const bool defaultPool = (texture && texture->pool == D3DPOOL_DEFAULT) ||
                                 (buffer && buffer->pool == D3DPOOL_DEFAULT) ||
                                 (surface && surface->desc.Pool == D3DPOOL_DEFAULT);
        if (defaultPool)
            return refuse("Reset refused: %s [%s] in D3DPOOL_DEFAULT is still alive", object->kindName(),
                          object->name.c_str());
    }
    if (parameters->BackBufferWidth == 0 || parameters->BackBufferHeight == 0) {
        parameters->BackBufferWidth = adapter_->desktop.Width;
        parameters->BackBufferHeight = adapter_->desktop.Height;
    }
    releaseSwapChain();
    parameters_ = *parameters;
    if (parameters_.BackBufferCount == 0) parameters_.BackBufferCount = 1;
    inScene_ = false;
    lost_ = false;
    return buildSwapChain();
}

HRESULT DeviceCore::BeginScene() {
    context_->call("BeginScene()");
    if (inScene_) return refuse("BeginScene refused: a scene is already open");
    inScene_ = true;
    return S_OK;
}

HRESULT DeviceCore::EndScene() {
    context_->call("EndScene()");
    if (!inScene_) return refuse("EndScene refused: no scene is open");
    inScene_ = false;
    return S_OK;
}

HRESULT DeviceCore::Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
    context_->call("Clear(%u, 0x%X, 0x%08X, %g, %u)", count, flags, color, double(z), stencil);
    if (flags == 0 || (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)))
        return refuse("Clear refused: flags 0x%X", flags);
    if (count > 0 && !rects) return refuse("Clear refused: %u rectangles but no array", count);
    if ((flags & D3DCLEAR_TARGET) && !state_.renderTarget) return refuse("Clear refused: no render target");
    if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !state_.depthStencil)
        return refuse("Clear refused: no depth-stencil surface");
    if ((flags & D3DCLEAR_STENCIL) && state_.depthStencil->desc.Format != D3DFMT_D24S8 &&
        state_.depthStencil->desc.Format != D3DFMT_D15S1 && state_.depthStencil->desc.Format != D3DFMT_D24X4S4)
        return refuse("Clear refused: the depth buffer has no stencil");
    if (z < 0.0f || z > 1.0f) return refuse("Clear refused: depth %g outside 0 to 1", double(z));
    ++stats_.clears;
    return backend_->clear(*this, count, rects, flags, color, z, stencil);
}

HRESULT DeviceCore::Present(const RECT* sourceRect, const RECT* destRect, HWND destWindow, const void* dirtyRegion) {
    context_->call("Present()");
    (void)destWindow;
    if (dirtyRegion) return refuse("Present refused: dirty regions are not supported");
    if (inScene_) return refuse("Present refused: the scene is still open");
    if ((sourceRect || destRect) && parameters_.SwapEffect != D3DSWAPEFFECT_COPY)
        return refuse("Present refused: rectangles need the copy swap effect");
    if (lost_) return D3DERR_DEVICELOST;
    ++stats_.presents;
    return backend_->present(*this);
}

HRESULT DeviceCore::SetViewport(const D3DVIEWPORT9* viewport) {
    if (!viewport) return refuse("SetViewport refused: no viewport");
    context_->call("SetViewport(%u, %u, %u, %u, %g, %g)", viewport->X, viewport->Y, viewport->Width, viewport->Height,
                   double(viewport->MinZ), double(viewport->MaxZ));
    const SurfaceImpl* target = state_.renderTarget;
    const UINT width = target ? target->desc.Width : 0, height = target ? target->desc.Height : 0;
    if (viewport->Width == 0 || viewport->Height == 0 || std::uint64_t(viewport->X) + viewport->Width > width ||
        std::uint64_t(viewport->Y) + viewport->Height > height)
        return refuse("SetViewport refused: %ux%u at (%u, %u) outside the %ux%u render target", viewport->Width,
                      viewport->Height, viewport->X, viewport->Y, width, height);
    if (!(viewport->MinZ >= 0.0f && viewport->MaxZ <= 1.0f && viewport->MinZ <= viewport->MaxZ))
        return refuse("SetViewport refused: depth range %g to %g", double(viewport->MinZ), double(viewport->MaxZ));
    state_.viewport = *viewport;
    return S_OK;
}

HRESULT DeviceCore::GetViewport(D3DVIEWPORT9* viewport) {
    if (!viewport) return refuse("GetViewport refused: no viewport record");
    *viewport = state_.viewport;
    return S_OK;
}

HRESULT DeviceCore::SetScissorRect(const RECT* rect) {
    if (!rect) return refuse("SetScissorRect refused: no rectangle");
    context_->call("SetScissorRect(%d, %d, %d, %d)", rect->left, rect->top, rect->right, rect->bottom);
    // Parts beyond the render target are cut when drawing; an inverted or
    // negative rectangle is a caller's mistake.
    if (rect->left < 0 || rect->top < 0 || rect->right < rect->left || rect->bottom < rect->top)
        return refuse("SetScissorRect refused: (%d, %d) to (%d, %d)", rect->left, rect->top, rect->right,
                      rect->bottom);
    state_.scissor = *rect;
    return S_OK;
}

HRESULT DeviceCore::GetScissorRect(RECT* rect) {
    if (!rect) return refuse("GetScissorRect refused: no rectangle record");
    *rect = state_.scissor;
    return S_OK;
}

void DeviceCore::SetGammaRamp(UINT swapChain, DWORD flags, const D3DGAMMARAMP* ramp) {
    context_->call("SetGammaRamp(%u, %u)", swapChain, flags);
    if (swapChain != 0 || !ramp) {
        refuse("SetGammaRamp refused: swap chain %u%s", swapChain, ramp ? "" : " without a ramp");
        return;
    }
    state_.gamma = *ramp;
}

void DeviceCore::GetGammaRamp(UINT swapChain, D3DGAMMARAMP* ramp) {
    if (swapChain == 0 && ramp) *ramp = state_.gamma;
}

HRESULT DeviceCore::SetClipPlane(DWORD index, const float* plane) {
    if (!plane) return refuse("SetClipPlane refused: no plane");
    context_->call("SetClipPlane(%u, %g, %g, %g, %g)", index, double(plane[0]), double(plane[1]), double(plane[2]),
                   double(plane[3]));
    if (index >= std::min<UINT>(kMaxClipPlanes, adapter_->caps.MaxUserClipPlanes))
        return refuse("SetClipPlane refused: plane %u of %u", index, adapter_->caps.MaxUserClipPlanes);
    std::copy(plane, plane + 4, state_.clipPlanes[index].begin());
    return S_OK;
}

BOOL DeviceCore::ShowCursor(BOOL show) {
    context_->call("ShowCursor(%d)", show);
    const BOOL was = cursorShown_;
    cursorShown_ = show != FALSE;
    return was;
}

HRESULT DeviceCore::GetDirect3D(IDirect3D9** direct3d) {
    if (!direct3d) return refuse("GetDirect3D refused: no place for the interface");
    direct3d_->AddRef();
    *direct3d = direct3d_;
    return S_OK;
}

HRESULT DeviceCore::GetDeviceCaps(D3DCAPS9* caps) { return direct3d_->GetDeviceCaps(adapterIndex_, type_, caps); }

HRESULT DeviceCore::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) {
    if (swapChain != 0 || !mode) return refuse("GetDisplayMode refused: swap chain %u", swapChain);
    if (parameters_.Windowed)
        *mode = adapter_->desktop;
    else
        *mode = {parameters_.BackBufferWidth, parameters_.BackBufferHeight, parameters_.FullScreen_RefreshRateInHz,
                 D3DFMT_X8R8G8B8};
    return S_OK;
}

// State.

HRESULT DeviceCore::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    context_->call("SetRenderState(%u, %u)", state, value);
    if (state >= kD3DRenderStateCount) return refuse("SetRenderState refused: state %u", state);
    state_.renderStates[state] = value;
    return S_OK;
}

HRESULT DeviceCore::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (state >= kD3DRenderStateCount || !value) return refuse("GetRenderState refused: state %u", state);
    *value = state_.renderStates[state];
    return S_OK;
}

HRESULT DeviceCore::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    context_->call("SetSamplerState(%u, %u, %u)", sampler, type, value);
    if (sampler >= kMaxTextureStages || type < D3DSAMP_ADDRESSU || type >= kD3DSamplerStateCount)
        return refuse("SetSamplerState refused: sampler %u state %u", sampler, type);
    state_.samplerStates[sampler][type] = value;
    return S_OK;
}

HRESULT DeviceCore::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    if (sampler >= kMaxTextureStages || type >= kD3DSamplerStateCount || !value)
        return refuse("GetSamplerState refused: sampler %u state %u", sampler, type);
    *value = state_.samplerStates[sampler][type];
    return S_OK;
}

HRESULT DeviceCore::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    context_->call("SetTextureStageState(%u, %u, %u)", stage, type, value);
    if (stage >= kMaxFixedStages || type < D3DTSS_COLOROP || type >= kD3DTextureStageStateCount)
        return refuse("SetTextureStageState refused: stage %u state %u", stage, type);
    state_.stageStates[stage][type] = value;
    return S_OK;
}

HRESULT DeviceCore::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
    if (stage >= kMaxFixedStages || type >= kD3DTextureStageStateCount || !value)
        return refuse("GetTextureStageState refused: stage %u state %u", stage, type);
    *value = state_.stageStates[stage][type];
    return S_OK;
}

HRESULT DeviceCore::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    context_->call("SetTransform(%u)", state);
    const int slot = transformSlot(state);
    if (slot < 0 || !matrix) return refuse("SetTransform refused: transform %u", state);
    state_.transforms[slot] = *matrix;
    return S_OK;
}

HRESULT DeviceCore::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    const int slot = transformSlot(state);
    if (slot < 0 || !matrix) return refuse("GetTransform refused: transform %u", state);
    *matrix = state_.transforms[slot];
    return S_OK;
}

HRESULT DeviceCore::SetLight(DWORD index, const D3DLIGHT9* light) {
    context_->call("SetLight(%u)", index);
    if (index >= kMaxLights) return refuse("SetLight refused: light %u of %u", index, kMaxLights);
    if (!light) return refuse("SetLight refused: no light record");
    if (light->Type < D3DLIGHT_POINT || light->Type > D3DLIGHT_DIRECTIONAL)
        return refuse("SetLight refused: light type %u", light->Type);
    if (light->Range < 0.0f) return refuse("SetLight refused: negative range");
    state_.lights[index] = *light;
    return S_OK;
}

HRESULT DeviceCore::LightEnable(DWORD index, BOOL enable) {
    context_->call("LightEnable(%u, %d)", index, enable);
    if (index >= kMaxLights) return refuse("LightEnable refused: light %u of %u", index, kMaxLights);
    state_.lightEnabled[index] = enable != FALSE;
    return S_OK;
}

HRESULT DeviceCore::SetMaterial(const D3DMATERIAL9* material) {
    context_->call("SetMaterial()");
    if (!material) return refuse("SetMaterial refused: no material record");
    state_.material = *material;
    return S_OK;
}

HRESULT DeviceCore::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    context_->call("SetTexture(%u, %s)", stage, texture ? texture->GetDebugName() : "null");
    if (stage >= kMaxTextureStages) return refuse("SetTexture refused: stage %u of %u", stage, kMaxTextureStages);
    TextureCore* core = nullptr;
    if (texture) {
        core = textureOf(texture);
        if (!core || !owns(&core->tracked()))
            return refuse("SetTexture refused: texture [%s] was not created by [%s]", texture->GetDebugName(),
                          name_.c_str());
        if (core->pool == D3DPOOL_SYSTEMMEM || core->pool == D3DPOOL_SCRATCH)
            return refuse("SetTexture refused: texture [%s] lies in system memory", texture->GetDebugName());
    }
    state_.textures[stage] = core;
    return S_OK;
}

HRESULT DeviceCore::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
    if (stage >= kMaxTextureStages || !texture) return refuse("GetTexture refused: stage %u", stage);
    TextureCore* core = state_.textures[stage];
    *texture = core ? core->base() : nullptr;
    if (*texture) (*texture)->AddRef();
    return S_OK;
}

// Geometry.

HRESULT DeviceCore::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                            IDirect3DVertexDeclaration9** declaration) {
    context_->call("CreateVertexDeclaration()");
    if (!elements || !declaration) return refuse("CreateVertexDeclaration refused: no elements or no place");
    *declaration = nullptr;
    std::vector<D3DVERTEXELEMENT9> list;
    UINT vertexSize = 0;
    for (UINT i = 0;; ++i) {
        if (i >= 64) return refuse("CreateVertexDeclaration refused: no end mark within 64 elements");
        const D3DVERTEXELEMENT9& e = elements[i];
        if (e.Stream == 0xFF) break;
        const UINT size = declTypeSize(e.Type);
        if (size == 0) return refuse("CreateVertexDeclaration refused: element %u has type %u", i, e.Type);
        if (e.Stream >= 16) return refuse("CreateVertexDeclaration refused: element %u on stream %u", i, e.Stream);
        if (e.Offset % 4) return refuse("CreateVertexDeclaration refused: element %u at odd offset %u", i, e.Offset);
        if (e.Usage > D3DDECLUSAGE_SAMPLE || e.Method != D3DDECLMETHOD_DEFAULT)
            return refuse("CreateVertexDeclaration refused: element %u has usage %u method %u", i, e.Usage, e.Method);
        for (const auto& other : list)
            if (other.Usage == e.Usage && other.UsageIndex == e.UsageIndex)
                return refuse("CreateVertexDeclaration refused: usage %u index %u appears twice", e.Usage,
                              e.UsageIndex);
        if (e.Stream == 0) vertexSize = std::max<UINT>(vertexSize, e.Offset + size);
        list.push_back(e);
    }
    if (const HRESULT injected = context_->nextCreation(); FAILED(injected)) return injected;
    auto* d = new DeclarationImpl;
    d->elements = std::move(list);
    d->vertexSize = vertexSize;
    track(*d, "vertex declaration");
    if (const HRESULT hr = backend_->createResource(*d); FAILED(hr)) {
        d->Release();
        return hr;
    }
    *declaration = d;
    return S_OK;
}

HRESULT DeviceCore::SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) {
    context_->call("SetVertexDeclaration(%s)", declaration ? declaration->GetDebugName() : "null");
    auto* d = dynamic_cast<DeclarationImpl*>(declaration);
    if (declaration && (!d || !owns(d)))
        return refuse("SetVertexDeclaration refused: [%s] was not created by [%s]", declaration->GetDebugName(),
                      name_.c_str());
    state_.declaration = d;
    return S_OK;
}

HRESULT DeviceCore::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) {
    context_->call("SetStreamSource(%u, %s, %u, %u)", stream, buffer ? buffer->GetDebugName() : "null", offset, stride);
    if (stream != 0) return refuse("SetStreamSource refused: stream %u (only stream 0 is kept)", stream);
    auto* b = dynamic_cast<VertexBufferImpl*>(buffer);
    if (buffer && (!b || !owns(b)))
        return refuse("SetStreamSource refused: [%s] was not created by [%s]", buffer->GetDebugName(), name_.c_str());
    if (b && (offset % 4)) return refuse("SetStreamSource refused: offset %u is not a multiple of 4", offset);
    if (b && stride > adapter_->caps.MaxStreamStride)
        return refuse("SetStreamSource refused: stride %u above %u", stride, adapter_->caps.MaxStreamStride);
    state_.stream = b;
    state_.streamOffset = b ? offset : 0;
    state_.streamStride = b ? stride : 0;
    return S_OK;
}

HRESULT DeviceCore::SetIndices(IDirect3DIndexBuffer9* buffer) {
    context_->call("SetIndices(%s)", buffer ? buffer->GetDebugName() : "null");
    auto* b = dynamic_cast<IndexBufferImpl*>(buffer);
    if (buffer && (!b || !owns(b)))
        return refuse("SetIndices refused: [%s] was not created by [%s]", buffer->GetDebugName(), name_.c_str());
    state_.indices = b;
    return S_OK;
}

HRESULT DeviceCore::validateDraw(const char* call, const DrawCall& draw) {
    if (!inScene_) return refuse("%s refused: draw outside BeginScene/EndScene", call);
    const std::uint64_t vertices = verticesOf(draw.type, draw.primitives);
    if (vertices == 0) return refuse("%s refused: primitive type %u with %u primitives", call, draw.type, draw.primitives);
    if (draw.primitives > adapter_->caps.MaxPrimitiveCount)
        return refuse("%s refused: %u primitives above %u", call, draw.primitives, adapter_->caps.MaxPrimitiveCount);
    const DeclarationImpl* declaration = state_.declaration;
    if (!declaration) return refuse("%s refused: no vertex declaration set", call);
    for (const auto& e : declaration->elements)
        if (e.Stream != 0) return refuse("%s refused: the declaration reads stream %u, which is not set", call, e.Stream);
    const VertexBufferImpl* stream = state_.stream;
    if (!stream) return refuse("%s refused: no vertex buffer on stream 0", call);
    if (stream->locked) return refuse("%s refused: vertex buffer [%s] is locked", call, stream->name.c_str());
    if (state_.streamStride < declaration->vertexSize || state_.streamStride == 0)
        return refuse("%s refused: stride %u does not hold the declaration's %u-byte vertex", call,
                      state_.streamStride, declaration->vertexSize);
    const std::uint64_t stride = state_.streamStride, available = stream->bytes.size();
    auto vertexRangeFits = [&](std::int64_t first, std::uint64_t count) {
        if (first < 0) return false;
        const std::uint64_t end = state_.streamOffset + (std::uint64_t(first) + count - 1) * stride +
                                  declaration->vertexSize;
        return end <= available;
    };
    if (!draw.indexed) {
        if (!vertexRangeFits(draw.start, vertices))
            return refuse("%s refused: vertices %u to %llu lie past the end of vertex buffer [%s] (%llu bytes, "
                          "stride %u)",
                          call, draw.start, static_cast<unsigned long long>(draw.start + vertices - 1),
                          stream->name.c_str(), static_cast<unsigned long long>(available), state_.streamStride);
        return S_OK;
    }
    const IndexBufferImpl* indices = state_.indices;
    if (!indices) return refuse("%s refused: no index buffer set", call);
    if (indices->locked) return refuse("%s refused: index buffer [%s] is locked", call, indices->name.c_str());
    const UINT indexSize = indices->indexSize();
    if ((std::uint64_t(draw.start) + vertices) * indexSize > indices->bytes.size())
        return refuse("%s refused: indices %u to %llu lie past the end of index buffer [%s] (%zu bytes)", call,
                      draw.start, static_cast<unsigned long long>(draw.start + vertices - 1), indices->name.c_str(),
                      indices->bytes.size());
    if (draw.numVertices == 0) return refuse("%s refused: an empty vertex range", call);
    if (!vertexRangeFits(std::int64_t(draw.baseVertex) + draw.minVertex, draw.numVertices))
        return refuse("%s refused: vertex range %lld+%u lies past the end of vertex buffer [%s]", call,
                      static_cast<long long>(std::int64_t(draw.baseVertex) + draw.minVertex), draw.numVertices,
                      stream->name.c_str());
    for (std::uint64_t i = 0; i < vertices; ++i) {
        const std::uint8_t* p = indices->bytes.data() + (draw.start + i) * indexSize;
        const std::uint32_t index = indexSize == 4 ? std::uint32_t(p[0] | (p[1] << 8) | (p[2] << 16) | (p[3] << 24))
                                                   : std::uint32_t(p[0] | (p[1] << 8));
        if (index < draw.minVertex || index - draw.minVertex >= draw.numVertices)
            return refuse("%s refused: index %u at %llu outside the vertex range %u+%u", call, index,
                          static_cast<unsigned long long>(draw.start + i), draw.minVertex, draw.numVertices);
    }
    return S_OK;
}

HRESULT DeviceCore::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    context_->call("DrawPrimitive(%u, %u, %u)", type, startVertex, primitiveCount);
    DrawCall draw;
    draw.type = type;
    draw.start = startVertex;
    draw.primitives = primitiveCount;
    draw.numVertices = static_cast<UINT>(verticesOf(type, primitiveCount));
    if (const HRESULT hr = validateDraw("DrawPrimitive", draw); FAILED(hr)) return hr;
    ++stats_.draws;
    if (state_.renderStates[D3DRS_SCISSORTESTENABLE]) ++stats_.scissoredDraws;
    stats_.primitives += primitiveCount;
    return backend_->draw(*this, draw);
}

HRESULT DeviceCore::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                         UINT numVertices, UINT startIndex, UINT primitiveCount) {
    context_->call("DrawIndexedPrimitive(%u, %d, %u, %u, %u, %u)", type, baseVertexIndex, minVertexIndex, numVertices,
                   startIndex, primitiveCount);
    DrawCall draw;
    draw.type = type;
    draw.indexed = true;
    draw.baseVertex = baseVertexIndex;
    draw.minVertex = minVertexIndex;
    draw.numVertices = numVertices;
    draw.start = startIndex;
    draw.primitives = primitiveCount;
    if (const HRESULT hr = validateDraw("DrawIndexedPrimitive", draw); FAILED(hr)) return hr;
    ++stats_.draws;
    if (state_.renderStates[D3DRS_SCISSORTESTENABLE]) ++stats_.scissoredDraws;
    stats_.primitives += primitiveCount;
    return backend_->draw(*this, draw);
}

// Shaders.

namespace {

template <class Impl>
HRESULT createShader(DeviceCore& device, const char* call, std::uint8_t kind, const DWORD* function, Impl** out) {
    device.context()->call("%s()", call);
    if (!out) return device.refuse("%s refused: no place for the shader", call);
    *out = nullptr;
    if (!function) return device.refuse("%s refused: no body", call);
    const std::uint32_t size = shaderBodySize(function);
    if (size == 0) return device.refuse("%s refused: not a shader body of ours", call);
    ShaderBody body;
    std::string why;
    if (!readShaderBody(function, size, body, why)) return device.refuse("%s refused: %s", call, why.c_str());
    if (body.kind != kind) return device.refuse("%s refused: a %s body", call, body.kind == 0 ? "vertex" : "pixel");
    const DWORD version = kind == 0 ? device.adapter().caps.VertexShaderVersion : device.adapter().caps.PixelShaderVersion;
    const int profileMajor = body.profile.size() > 3 ? body.profile[3] - '0' : 0;
    if (profileMajor < 1 || DWORD(profileMajor) > D3DSHADER_VERSION_MAJOR(version))
        return device.refuse("%s refused: profile [%s] above the adapter's shader model %u.%u", call,
                             body.profile.c_str(), D3DSHADER_VERSION_MAJOR(version), D3DSHADER_VERSION_MINOR(version));
    const UINT floats = kind == 0 ? kVertexFloatConstants : kPixelFloatConstants;
    for (const auto& c : body.constants) {
        const UINT limit = c.registerSet == 3 ? kMaxTextureStages : c.registerSet == 2 ? floats : kIntConstants;
        if (std::uint32_t(c.registerIndex) + c.registerCount > limit)
            return device.refuse("%s refused: constant [%s] uses registers %u to %u of %u", call, c.name.c_str(),
                                 c.registerIndex, c.registerIndex + c.registerCount - 1, limit);
    }
    if (const HRESULT injected = device.context()->nextCreation(); FAILED(injected)) return injected;
    auto* shader = new Impl;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(function);
    shader->code.assign(bytes, bytes + size);
    shader->body = std::move(body);
    device.track(*shader, kind == 0 ? "vertex shader" : "pixel shader");
    if (const HRESULT hr = device.backend().createResource(*shader); FAILED(hr)) {
        shader->Release();
        return hr;
    }
    *out = shader;
    return S_OK;
}

}  // namespace

HRESULT DeviceCore::CreateVertexShader(const DWORD* function, IDirect3DVertexShader9** shader) {
    VertexShaderImpl* created = nullptr;
    const HRESULT hr = createShader(*this, "CreateVertexShader", 0, function, shader ? &created : nullptr);
    if (shader) *shader = created;
    return hr;
}

HRESULT DeviceCore::CreatePixelShader(const DWORD* function, IDirect3DPixelShader9** shader) {
    PixelShaderImpl* created = nullptr;
    const HRESULT hr = createShader(*this, "CreatePixelShader", 1, function, shader ? &created : nullptr);
    if (shader) *shader = created;
    return hr;
}

HRESULT DeviceCore::SetVertexShader(IDirect3DVertexShader9* shader) {
    context_->call("SetVertexShader(%s)", shader ? shader->GetDebugName() : "null");
    auto* s = dynamic_cast<VertexShaderImpl*>(shader);
    if (shader && (!s || !owns(s)))
        return refuse("SetVertexShader refused: [%s] was not created by [%s]", shader->GetDebugName(), name_.c_str());
    state_.vertexShader = s;
    return S_OK;
}

HRESULT DeviceCore::SetPixelShader(IDirect3DPixelShader9* shader) {
    context_->call("SetPixelShader(%s)", shader ? shader->GetDebugName() : "null");
    auto* s = dynamic_cast<PixelShaderImpl*>(shader);
    if (shader && (!s || !owns(s)))
        return refuse("SetPixelShader refused: [%s] was not created by [%s]", shader->GetDebugName(), name_.c_str());
    state_.pixelShader = s;
    return S_OK;
}

HRESULT DeviceCore::setConstants(const char* call, UINT limit, UINT start, UINT count, const void* data, void* target,
                                 std::size_t registerBytes) {
    context_->call("%s(%u, %u)", call, start, count);
    if (!data && count) return refuse("%s refused: no data", call);
    if (std::uint64_t(start) + count > limit)
        return refuse("%s refused: registers %u to %llu past the %u registers", call, start,
                      static_cast<unsigned long long>(std::uint64_t(start) + count - 1), limit);
    if (count) std::memcpy(static_cast<std::uint8_t*>(target) + start * registerBytes, data, count * registerBytes);
    return S_OK;
}

HRESULT DeviceCore::SetVertexShaderConstantF(UINT start, const float* data, UINT count) {
    return setConstants("SetVertexShaderConstantF", kVertexFloatConstants, start, count, data,
                        state_.vertexFloats.data(), 16);
}
HRESULT DeviceCore::SetVertexShaderConstantI(UINT start, const INT* data, UINT count) {
    return setConstants("SetVertexShaderConstantI", kIntConstants, start, count, data, state_.vertexInts.data(), 16);
}
HRESULT DeviceCore::SetVertexShaderConstantB(UINT start, const BOOL* data, UINT count) {
    return setConstants("SetVertexShaderConstantB", kBoolConstants, start, count, data, state_.vertexBools.data(), 4);
}
HRESULT DeviceCore::SetPixelShaderConstantF(UINT start, const float* data, UINT count) {
    return setConstants("SetPixelShaderConstantF", kPixelFloatConstants, start, count, data,
                        state_.pixelFloats.data(), 16);
}
HRESULT DeviceCore::SetPixelShaderConstantI(UINT start, const INT* data, UINT count) {
    return setConstants("SetPixelShaderConstantI", kIntConstants, start, count, data, state_.pixelInts.data(), 16);
}
HRESULT DeviceCore::SetPixelShaderConstantB(UINT start, const BOOL* data, UINT count) {
    return setConstants("SetPixelShaderConstantB", kBoolConstants, start, count, data, state_.pixelBools.data(), 4);
}

HRESULT DeviceCore::GetVertexShaderConstantF(UINT start, float* data, UINT count) {
    if (!data || std::uint64_t(start) + count > kVertexFloatConstants)
        return refuse("GetVertexShaderConstantF refused: registers %u+%u", start, count);
    std::memcpy(data, state_.vertexFloats[start].data(), count * 16u);
    return S_OK;
}

HRESULT DeviceCore::GetPixelShaderConstantF(UINT start, float* data, UINT count) {
    if (!data || std::uint64_t(start) + count > kPixelFloatConstants)
        return refuse("GetPixelShaderConstantF refused: registers %u+%u", start, count);
    std::memcpy(data, state_.pixelFloats[start].data(), count * 16u);
    return S_OK;
}

// Resources.

HRESULT DeviceCore::checkTextureFormat(const char* call, D3DFORMAT format, DWORD usage, D3DPOOL pool) {
    const FormatInfo info = formatInfo(format);
    if (!info.known || info.depth) return refuse("%s refused: format %s is no texture format", call, formatName(format));
    if (pool > D3DPOOL_SCRATCH) return refuse("%s refused: pool %u", call, pool);
    if (usage & ~(D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC | D3DUSAGE_AUTOGENMIPMAP))
        return refuse("%s refused: usage 0x%X", call, usage);
    if ((usage & D3DUSAGE_RENDERTARGET) && pool != D3DPOOL_DEFAULT)
        return refuse("%s refused: a render target must lie in D3DPOOL_DEFAULT", call);
    if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED)
        return refuse("%s refused: dynamic usage in D3DPOOL_MANAGED", call);
    if (pool != D3DPOOL_SCRATCH &&
        FAILED(direct3d_->CheckDeviceFormat(adapterIndex_, type_, D3DFMT_X8R8G8B8, usage & D3DUSAGE_RENDERTARGET,
                                            D3DRTYPE_TEXTURE, format)))
        return refuse("%s refused: format %s%s is not supported by the adapter", call, formatName(format),
                      (usage & D3DUSAGE_RENDERTARGET) ? " as a render target" : "");
    return S_OK;
}

HRESULT DeviceCore::createTextureCore(const char* call, TextureCore& texture, Tracked& object, UINT width, UINT height,
                                      UINT levels, UINT faces, DWORD usage, D3DFORMAT format, D3DPOOL pool) {
    const D3DCAPS9& caps = adapter_->caps;
    if (width == 0 || height == 0) return refuse("%s refused: size %ux%u", call, width, height);
    if (width > caps.MaxTextureWidth || height > caps.MaxTextureHeight)
        return refuse("%s refused: size %ux%u above the adapter's %ux%u", call, width, height, caps.MaxTextureWidth,
                      caps.MaxTextureHeight);
    if ((caps.TextureCaps & D3DPTEXTURECAPS_POW2) && !(caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) &&
        (!isPow2(width) || !isPow2(height)))
        return refuse("%s refused: size %ux%u is not a power of two", call, width, height);
    if (const HRESULT hr = checkTextureFormat(call, format, usage, pool); FAILED(hr)) return hr;
    const UINT chain = fullChain(width, height);
    if (levels == 0) levels = (usage & D3DUSAGE_AUTOGENMIPMAP) ? 1 : chain;
    if (levels > chain) return refuse("%s refused: %u levels for %ux%u (at most %u)", call, levels, width, height, chain);
    std::uint64_t total = 0;
    for (UINT level = 0; level < levels; ++level)
        total += levelBytes(format, mipSize(width, level), mipSize(height, level)) * faces;
    if (total > kMaxResourceBytes) return E_OUTOFMEMORY;
    if (const HRESULT injected = context_->nextCreation(); FAILED(injected)) return injected;

    texture.width = width;
    texture.height = height;
    texture.levels = levels;
    texture.faces = faces;
    texture.usage = usage;
    texture.format = format;
    texture.pool = pool;
    for (UINT face = 0; face < faces; ++face)
        for (UINT level = 0; level < levels; ++level) {
            auto s = std::make_unique<SurfaceImpl>();
            const UINT w = mipSize(width, level), h = mipSize(height, level);
            s->desc = {format, D3DRTYPE_SURFACE, usage, pool, D3DMULTISAMPLE_NONE, 0, w, h};
            s->pitch = rowPitch(format, w);
            s->bytes = ZeroedBytes(levelBytes(format, w, h));
            s->container = &texture;
            s->containerObject = &object;
            s->context = context_;
            s->level = level;
            s->face = face;
            texture.surfaces.push_back(std::move(s));
        }
    return S_OK;
}

HRESULT DeviceCore::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DTexture9** texture, HANDLE* shared) {
    context_->call("CreateTexture(%u, %u, %u, 0x%X, %u, %u)", width, height, levels, usage, format, pool);
    if (!texture) return refuse("CreateTexture refused: no place for the texture");
    *texture = nullptr;
    if (shared) return refuse("CreateTexture refused: shared handles are not supported");
    auto created = std::make_unique<TextureImpl>();
    created->type = D3DRTYPE_TEXTURE;
    if (const HRESULT hr =
            createTextureCore("CreateTexture", *created, *created, width, height, levels, 1, usage, format, pool);
        FAILED(hr))
        return hr;
    TextureImpl* t = created.release();
    track(*t, "texture");
    if (const HRESULT hr = backend_->createResource(*t); FAILED(hr)) {
        t->Release();
        return hr;
    }
    *texture = t;
    return S_OK;
}

HRESULT DeviceCore::CreateCubeTexture(UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DCubeTexture9** texture, HANDLE* shared) {
    context_->call("CreateCubeTexture(%u, %u, 0x%X, %u, %u)", edge, levels, usage, format, pool);
    if (!texture) return refuse("CreateCubeTexture refused: no place for the texture");
    *texture = nullptr;
    if (shared) return refuse("CreateCubeTexture refused: shared handles are not supported");
    if (!(adapter_->caps.TextureCaps & D3DPTEXTURECAPS_CUBEMAP))
        return refuse("CreateCubeTexture refused: the adapter has no cube maps");
    auto created = std::make_unique<CubeTextureImpl>();
    created->type = D3DRTYPE_CUBETEXTURE;
    if (const HRESULT hr =
            createTextureCore("CreateCubeTexture", *created, *created, edge, edge, levels, 6, usage, format, pool);
        FAILED(hr))
        return hr;
    CubeTextureImpl* t = created.release();
    track(*t, "cube texture");
    if (const HRESULT hr = backend_->createResource(*t); FAILED(hr)) {
        t->Release();
        return hr;
    }
    *texture = t;
    return S_OK;
}

namespace {

HRESULT checkBuffer(DeviceCore& device, const char* call, UINT length, DWORD usage, D3DPOOL pool, HANDLE* shared) {
    if (shared) return device.refuse("%s refused: shared handles are not supported", call);
    if (length == 0) return device.refuse("%s refused: an empty buffer", call);
    if (length > kMaxResourceBytes) return E_OUTOFMEMORY;
    if (pool > D3DPOOL_SYSTEMMEM) return device.refuse("%s refused: pool %u", call, pool);
    const DWORD known = D3DUSAGE_WRITEONLY | D3DUSAGE_SOFTWAREPROCESSING | D3DUSAGE_DONOTCLIP | D3DUSAGE_POINTS |
                        D3DUSAGE_DYNAMIC | 0x80 | 0x100;
    if (usage & ~known) return device.refuse("%s refused: usage 0x%X", call, usage);
    if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED)
        return device.refuse("%s refused: dynamic usage in D3DPOOL_MANAGED", call);
    return S_OK;
}

}  // namespace

HRESULT DeviceCore::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                       IDirect3DVertexBuffer9** buffer, HANDLE* shared) {
    context_->call("CreateVertexBuffer(%u, 0x%X, 0x%X, %u)", length, usage, fvf, pool);
    if (!buffer) return refuse("CreateVertexBuffer refused: no place for the buffer");
    *buffer = nullptr;
    if (fvf != 0) return refuse("CreateVertexBuffer refused: FVF 0x%X (declarations only)", fvf);
    if (const HRESULT hr = checkBuffer(*this, "CreateVertexBuffer", length, usage, pool, shared); FAILED(hr)) return hr;
    if (const HRESULT injected = context_->nextCreation(); FAILED(injected)) return injected;
    auto* b = new VertexBufferImpl;
    b->usage = usage;
    b->pool = pool;
    b->bytes = ZeroedBytes(length);
    track(*b, "vertex buffer");
    if (const HRESULT hr = backend_->createResource(*b); FAILED(hr)) {
        b->Release();
        return hr;
    }
    *buffer = b;
    return S_OK;
}

HRESULT DeviceCore::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DIndexBuffer9** buffer, HANDLE* shared) {
    context_->call("CreateIndexBuffer(%u, 0x%X, %u, %u)", length, usage, format, pool);
    if (!buffer) return refuse("CreateIndexBuffer refused: no place for the buffer");
    *buffer = nullptr;
    if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32)
        return refuse("CreateIndexBuffer refused: format %s", formatName(format));
    if (const HRESULT hr = checkBuffer(*this, "CreateIndexBuffer", length, usage, pool, shared); FAILED(hr)) return hr;
    if (const HRESULT injected = context_->nextCreation(); FAILED(injected)) return injected;
    auto* b = new IndexBufferImpl;
    b->usage = usage;
    b->pool = pool;
    b->format = format;
    b->bytes = ZeroedBytes(length);
    track(*b, "index buffer");
    if (const HRESULT hr = backend_->createResource(*b); FAILED(hr)) {
        b->Release();
        return hr;
    }
    *buffer = b;
    return S_OK;
}

HRESULT DeviceCore::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                              D3DMULTISAMPLE_TYPE multiSample, DWORD quality, BOOL discard,
                                              IDirect3DSurface9** surface, HANDLE* shared) {
    context_->call("CreateDepthStencilSurface(%u, %u, %u, %u)", width, height, format, multiSample);
    (void)discard;
    if (!surface) return refuse("CreateDepthStencilSurface refused: no place for the surface");
    *surface = nullptr;
    if (shared) return refuse("CreateDepthStencilSurface refused: shared handles are not supported");
    if (width == 0 || height == 0) return refuse("CreateDepthStencilSurface refused: size %ux%u", width, height);
    if (FAILED(direct3d_->CheckDeviceFormat(adapterIndex_, type_, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL,
                                            D3DRTYPE_SURFACE, format)))
        return refuse("CreateDepthStencilSurface refused: format %s", formatName(format));
    if (levelBytes(format, width, height) > kMaxResourceBytes) return E_OUTOFMEMORY;
    if (const HRESULT injected = context_->nextCreation(); FAILED(injected)) return injected;
    auto* s = new SurfaceImpl;
    s->desc = {format, D3DRTYPE_SURFACE, D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT, multiSample, quality, width, height};
    s->pitch = rowPitch(format, width);
    s->bytes = ZeroedBytes(levelBytes(format, width, height));
    track(*s, "depth surface");
    if (const HRESULT hr = backend_->createResource(*s); FAILED(hr)) {
        s->Release();
        return hr;
    }
    *surface = s;
    return S_OK;
}

// Targets and copies.

SurfaceImpl* DeviceCore::surfaceOf(IDirect3DSurface9* surface, const char* call) {
    SurfaceImpl* s = platform::d3d9::surfaceOf(surface);
    const Tracked* owner = s ? (s->containerObject ? s->containerObject : s) : nullptr;
    if (!s || !owns(owner)) {
        refuse("%s refused: surface [%s] was not created by [%s]", call, surface ? surface->GetDebugName() : "null",
               name_.c_str());
        return nullptr;
    }
    return s;
}

HRESULT DeviceCore::GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** surface) {
    context_->call("GetBackBuffer(%u, %u)", swapChain, index);
    if (!surface || swapChain != 0 || index >= backBuffers_.size() || type != D3DBACKBUFFER_TYPE_MONO)
        return refuse("GetBackBuffer refused: swap chain %u buffer %u", swapChain, index);
    backBuffers_[index]->AddRef();
    *surface = backBuffers_[index];
    return S_OK;
}

HRESULT DeviceCore::SetRenderTarget(DWORD index, IDirect3DSurface9* surface) {
    context_->call("SetRenderTarget(%u, %s)", index, surface ? surface->GetDebugName() : "null");
    if (index != 0) return refuse("SetRenderTarget refused: target %u (one render target)", index);
    if (!surface) return refuse("SetRenderTarget refused: target 0 cannot be null");
    SurfaceImpl* s = surfaceOf(surface, "SetRenderTarget");
    if (!s) return D3DERR_INVALIDCALL;
    if (!(s->desc.Usage & D3DUSAGE_RENDERTARGET))
        return refuse("SetRenderTarget refused: [%s] is no render target", s->label().c_str());
    state_.renderTarget = s;
    state_.viewport = {0, 0, s->desc.Width, s->desc.Height, 0.0f, 1.0f};
    state_.scissor = {0, 0, INT(s->desc.Width), INT(s->desc.Height)};
    return S_OK;
}

HRESULT DeviceCore::GetRenderTarget(DWORD index, IDirect3DSurface9** surface) {
    if (index != 0 || !surface || !state_.renderTarget) return refuse("GetRenderTarget refused: target %u", index);
    state_.renderTarget->AddRef();
    *surface = state_.renderTarget;
    return S_OK;
}

HRESULT DeviceCore::SetDepthStencilSurface(IDirect3DSurface9* surface) {
    context_->call("SetDepthStencilSurface(%s)", surface ? surface->GetDebugName() : "null");
    if (!surface) {
        state_.depthStencil = nullptr;
        return S_OK;
    }
    SurfaceImpl* s = surfaceOf(surface, "SetDepthStencilSurface");
    if (!s) return D3DERR_INVALIDCALL;
    if (!(s->desc.Usage & D3DUSAGE_DEPTHSTENCIL))
        return refuse("SetDepthStencilSurface refused: [%s] is no depth-stencil surface", s->label().c_str());
    state_.depthStencil = s;
    return S_OK;
}

HRESULT DeviceCore::GetDepthStencilSurface(IDirect3DSurface9** surface) {
    if (!surface) return refuse("GetDepthStencilSurface refused: no place for the surface");
    *surface = state_.depthStencil;
    if (!*surface) return D3DERR_NOTFOUND;
    state_.depthStencil->AddRef();
    return S_OK;
}

HRESULT DeviceCore::StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                                const RECT* destRect, D3DTEXTUREFILTERTYPE filter) {
    context_->call("StretchRect(%s, %s, %u)", source ? source->GetDebugName() : "null",
                   dest ? dest->GetDebugName() : "null", filter);
    if (inScene_) return refuse("StretchRect refused: inside BeginScene/EndScene");
    SurfaceImpl* s = surfaceOf(source, "StretchRect");
    SurfaceImpl* d = s ? surfaceOf(dest, "StretchRect") : nullptr;
    if (!s || !d) return D3DERR_INVALIDCALL;
    if (s == d) return refuse("StretchRect refused: source and destination are the same surface");
    if (s->desc.Pool != D3DPOOL_DEFAULT || d->desc.Pool != D3DPOOL_DEFAULT)
        return refuse("StretchRect refused: both surfaces must lie in D3DPOOL_DEFAULT");
    if (!(d->desc.Usage & D3DUSAGE_RENDERTARGET))
        return refuse("StretchRect refused: destination [%s] is no render target", d->label().c_str());
    if ((s->desc.Usage | d->desc.Usage) & D3DUSAGE_DEPTHSTENCIL)
        return refuse("StretchRect refused: depth-stencil surfaces are not copied");
    if (filter > D3DTEXF_LINEAR) return refuse("StretchRect refused: filter %u", filter);
    const RECT fullSource{0, 0, INT(s->desc.Width), INT(s->desc.Height)};
    const RECT fullDest{0, 0, INT(d->desc.Width), INT(d->desc.Height)};
    const RECT sr = sourceRect ? *sourceRect : fullSource, dr = destRect ? *destRect : fullDest;
    auto inside = [](const RECT& r, const D3DSURFACE_DESC& desc) {
        return r.left >= 0 && r.top >= 0 && r.right > r.left && r.bottom > r.top && UINT(r.right) <= desc.Width &&
               UINT(r.bottom) <= desc.Height;
    };
    if (!inside(sr, s->desc) || !inside(dr, d->desc))
        return refuse("StretchRect refused: a rectangle lies outside its surface");
    const FormatInfo si = formatInfo(s->desc.Format), di = formatInfo(d->desc.Format);
    if (si.compressed || di.compressed) return refuse("StretchRect refused: compressed surfaces are not stretched");
    return backend_->stretchRect(*s, sr, *d, dr, filter);
}

}  // namespace platform::d3d9
