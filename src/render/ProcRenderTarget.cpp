#include "render/ProcRenderTarget.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "render/PostProcessing.h"
#include "render/RenderCore.h"
#include "render/RenderSettings.h"
#include "render/TextureLibrary.h"
#include "render/VideoCore.h"
#include "render/VideoSetup.h"
#include "render/shaders/ShaderCore.h"
#include "scene/CameraCore.h"

namespace {

constexpr int kMaxCreateAttempts = 7;
constexpr int kTextureStages = 16;

// The back buffer's description; false without one.
bool backBufferDesc(IDirect3DDevice9* device, D3DSURFACE_DESC& desc) {
    IDirect3DSurface9* back = nullptr;
    if (!device || FAILED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back)) || !back) return false;
    const bool got = SUCCEEDED(back->GetDesc(&desc));
    back->Release();
    return got;
}

D3DFORMAT autoDepthFormat() {
    const D3DFORMAT format =
        gameCore.video ? gameCore.video->videoDevice.presentParameters.AutoDepthStencilFormat : D3DFMT_UNKNOWN;
    return format != D3DFMT_UNKNOWN ? format : D3DFMT_D16;
}

std::uint32_t renderCoreClearColor() {
    return gameCore.render ? gameCore.render->stillFrameSlots.background : StillFrameSlotBlock::kDefaultBackground;
}

// Level 0 of texture, asked again while the device is still drawing.
IDirect3DSurface9* levelZero(IDirect3DTexture9* texture) {
    IDirect3DSurface9* surface = nullptr;
    HRESULT hr;
    do {
        hr = texture->GetSurfaceLevel(0, &surface);
    } while (hr == D3DERR_WASSTILLDRAWING);
    return SUCCEEDED(hr) ? surface : nullptr;
}

}  // namespace

ProcRenderTarget::ProcRenderTarget(const char* name) : ProcTexMap(name) {
    levels = 1;
    type = 0;
}

ProcRenderTarget::~ProcRenderTarget() { releaseTargetObjects(); }

void ProcRenderTarget::releaseTargetObjects() {
    if (surface_) surface_->Release();
    surface_ = nullptr;
    if (renderToSurface_) renderToSurface_->Release();
    renderToSurface_ = nullptr;
}

bool ProcRenderTarget::createTexture(IDirect3DTexture9** out) {
    if (renderToSurface_) renderToSurface_->Release();
    renderToSurface_ = nullptr;
    flags = (linkFlags & LinkMarked) ? (flags | HandlerMarked) : (flags & ~HandlerMarked);
    IDirect3DDevice9* device = textureEnvironment().device();
    if (!device) return false;
    Log& log = engineLog();
    const char* label = name().c_str();

    DWORD createUsage = usage;
    if (dynamic) {
        createUsage |= D3DUSAGE_DYNAMIC;
        pool = D3DPOOL_DEFAULT;
    }
    if (createUsage & D3DUSAGE_RENDERTARGET) pool = D3DPOOL_DEFAULT;
    UINT w = width > 0 ? static_cast<UINT>(width) : 0;
    UINT h = height > 0 ? static_cast<UINT>(height) : 0;
    UINT levelCount = levels;
    D3DFORMAT texelFormat = format;
    if (FAILED(D3DXCheckTextureRequirements(device, &w, &h, &levelCount, createUsage, &texelFormat, pool)))
        return log.error("ProcRenderTarget: Can't find valid texture format (W=%i H=%i, F=%08X, Usage=%08X).",
                         static_cast<int>(w), static_cast<int>(h), static_cast<unsigned>(texelFormat),
                         static_cast<unsigned>(usage));

    IDirect3DTexture9* created = nullptr;
    HRESULT result = S_OK;
    for (int k = 0; k < kMaxCreateAttempts; ++k) {
        result = device->CreateTexture(w, h, levelCount, createUsage, texelFormat, pool, &created, nullptr);
        if (SUCCEEDED(result)) break;
        created = nullptr;
        if (k == 0) {
            TextureLibrary* library = textureLibrary();
            if (library && library->evictCachedTextures()) {
                log.info("Failed allocate image [%s] %ix%i. Unload all cached textures", label, static_cast<int>(w),
                         static_cast<int>(h));
                continue;
            }
        }
        const std::int32_t halfW = static_cast<std::int32_t>(w) >> 1;
        const std::int32_t halfH = static_cast<std::int32_t>(h) >> 1;
        if (halfW < 8 || halfH < 8) {
            log.info("Can't reduce image [%s] more", label);
            break;
        }
        w = static_cast<UINT>(halfW);
        h = static_cast<UINT>(halfH);
        log.info("Reduce image [%s] size to %ix%i", label, halfW, halfH);
    }
    if (!created)
        return log.systemError("Cannot allocate texture [%s]. Reason: [%s]", label, d3dErrorText(result));

    D3DSURFACE_DESC desc{};
    created->GetLevelDesc(0, &desc);
    width = static_cast<std::int32_t>(desc.Width);
    height = static_cast<std::int32_t>(desc.Height);
    format = desc.Format;
    if (out) {
        *out = created;
    } else {
        releaseDeviceTexture();
        texture = created;
    }

    if (draws && !renderToSurface_) {
        const D3DFORMAT depthFormat = depth ? autoDepthFormat() : D3DFMT_D16;
        if (FAILED(D3DXCreateRenderToSurface(device, desc.Width, desc.Height, desc.Format, depth ? TRUE : FALSE,
                                             depthFormat, &renderToSurface_))) {
            renderToSurface_ = nullptr;
            if (surface_) surface_->Release();
            surface_ = nullptr;
            return false;
        }
    }
    return true;
}

bool ProcRenderTarget::allocateSized(bool mustBeSized) {
    Log& log = engineLog();
    if (texture) return log.error("Can't twice allocate %s texture", name().c_str());
    usage = D3DUSAGE_RENDERTARGET;
    if (mustBeSized && (width <= 0 || height <= 0))
        return log.error("Setup texture [%s] first. Fail allocate", name().c_str());
    if (format == D3DFMT_UNKNOWN) {
        D3DSURFACE_DESC back{};
        if (backBufferDesc(textureEnvironment().device(), back)) format = back.Format;
    }
    pool = D3DPOOL_DEFAULT;
    dynamic = false;
    levels = 1;
    if (!createTexture()) return log.error("Cant allocate procedure texture [%s]", name().c_str());
    return true;
}

bool ProcRenderTarget::beginScene(bool clear) {
    IDirect3DDevice9* device = textureEnvironment().device();
    if (!draws || !device) return false;
    Log& log = engineLog();
    if (!texture) return log.error("First allocate render target texture, then render");
    if (!renderToSurface_) return false;
    for (int stage = 0; stage < kTextureStages; ++stage) device->SetTexture(stage, nullptr);
    if (gameCore.render) gameCore.render->shaders().pass.forgetAppliedTextures();
    if (surface_) surface_->Release();
    surface_ = levelZero(texture2D());
    if (!surface_) return false;
    const D3DVIEWPORT9 viewport{0, 0, static_cast<DWORD>(width), static_cast<DWORD>(height), 0.0f, 1.0f};
    const HRESULT hr = renderToSurface_->BeginScene(surface_, &viewport);
    if (FAILED(hr)) {
        surface_->Release();
        surface_ = nullptr;
        log.error("Failed begin scene for RT texture [%s]: %s", name().c_str(), d3dErrorText(hr));
        if (hr == D3DERR_OUTOFVIDEOMEMORY || hr == E_OUTOFMEMORY) {
            width >>= 1;
            height >>= 1;
            log.info("Try reduce texture [%s] size to %ix%i", name().c_str(), width, height);
            unload();
            allocate();
        }
        return false;
    }
    if (clear) {
        const DWORD clearFlags = D3DCLEAR_TARGET | (depth ? D3DCLEAR_ZBUFFER : 0);
        device->Clear(0, nullptr, clearFlags, ownClearColor ? clearColor : renderCoreClearColor(), 1.0f, 0);
    }
    if (depth && gameCore.video) {
        const VideoDevice& video = gameCore.video->videoDevice;
        D3DGAMMARAMP ramp;
        std::memcpy(ramp.red, video.gammaRamp[0], sizeof ramp.red);
        std::memcpy(ramp.green, video.gammaRamp[1], sizeof ramp.green);
        std::memcpy(ramp.blue, video.gammaRamp[2], sizeof ramp.blue);
        device->SetGammaRamp(0, D3DSGR_CALIBRATE, &ramp);
    }
    return true;
}

bool ProcRenderTarget::endScene() {
    if (!draws) return false;
    if (!renderToSurface_) {
        if (surface_) surface_->Release();
        surface_ = nullptr;
        return false;
    }
    renderToSurface_->EndScene(0);
    if (surface_) surface_->Release();
    surface_ = nullptr;
    return true;
}

bool ProcRenderTarget::copyBackBuffer() {
    IDirect3DDevice9* device = textureEnvironment().device();
    if (!texture || !device) return false;
    D3DSURFACE_DESC back{};
    if (!backBufferDesc(device, back)) return false;
    std::int32_t area[4];
    fixedAspectViewport(static_cast<std::int32_t>(back.Width), static_cast<std::int32_t>(back.Height), area);
    IDirect3DSurface9* target = levelZero(texture2D());
    if (!target) return false;
    IDirect3DSurface9* backBuffer = nullptr;
    if (FAILED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer)) || !backBuffer) {
        target->Release();
        return false;
    }
    const RECT picture{area[0], area[1], area[0] + area[2], area[1] + area[3]};
    const bool whole = area[2] == width && area[3] == height;
    const HRESULT hr = device->StretchRect(backBuffer, whole ? nullptr : &picture, target, nullptr, D3DTEXF_NONE);
    backBuffer->Release();
    target->Release();
    flags |= HandlerAlpha;
    return SUCCEEDED(hr);
}

// ---- generating passes ----------------------------------------------------

namespace {

IDirect3DBaseTexture9* linkTexture(const TextureLink& link) {
    return link.handler() ? link.handler()->texture : nullptr;
}

}  // namespace

bool ProcRenderTarget::generateBlur(PostProcessing& passes, const TextureLink& source, float offsetX, float offsetY,
                                    float sigma, std::int32_t size, std::int32_t power) {
    if (!texture) return false;
    IDirect3DBaseTexture9* from = linkTexture(source);
    if (!from)
        return engineLog().error("Can't generate [%s] procedure texture: source not allocated", name().c_str());
    if (power < 0) {
        const float factor = 1.0f / static_cast<float>(1 << std::min(-power, 16));
        offsetX *= factor;
        offsetY *= factor;
    }
    if (!beginScene(true)) return false;
    const int count = size == 13 ? 13 : 5;
    FilterTap taps[13];
    gaussianTaps(count, sigma, offsetX, offsetY, width, height, taps);
    float constants[13 * 4] = {};
    for (int i = 0; i < count; ++i) {
        constants[4 * i] = taps[i].x;
        constants[4 * i + 1] = taps[i].y;
        constants[4 * i + 2] = taps[i].weight;
    }
    const bool drawn = passes.drawPass(count == 13 ? PostProcessing::Blur : PostProcessing::BlurSmall, from, nullptr,
                                       width, height, constants, static_cast<std::uint32_t>(count));
    return endScene() && drawn;
}

bool ProcRenderTarget::generateBright(PostProcessing& passes, const TextureLink& source) {
    if (!texture) return false;
    IDirect3DBaseTexture9* from = linkTexture(source);
    if (!from)
        return engineLog().error("Can't generate [%s] procedure texture: source not allocated", name().c_str());
    if (!beginScene(true)) return false;
    const float constants[8] = {passes.brightThreshold, 0.0f, 0.0f, 0.0f, passes.brightExposure, 0.0f, 0.0f, 0.0f};
    const bool drawn = passes.drawPass(PostProcessing::Bright, from, nullptr, width, height, constants, 2);
    return endScene() && drawn;
}

bool ProcRenderTarget::generatePoissonDOF(PostProcessing& passes, const TextureLink& full, const TextureLink& blurred) {
    if (!texture) return false;
    Log& log = engineLog();
    IDirect3DBaseTexture9* blur = linkTexture(blurred);
    if (!blur) return log.error("Can't generate [%s] procedure texture: blur source not allocated", name().c_str());
    IDirect3DBaseTexture9* sharp = linkTexture(full);
    if (!sharp) return log.error("Can't generate [%s] procedure texture: full source not allocated", name().c_str());
    if (!beginScene(true)) return false;
    float constants[7 * 4] = {};
    poissonTaps(renderSettings.hdrPoissonDofTexelOffsetX, renderSettings.hdrPoissonDofTexelOffsetY, width, height,
                constants);
    // The debug switch shows the blur amount (the full image's alpha).
    const auto program = renderSettings.hdrDebugPoisson ? PostProcessing::PoissonDofDebug : PostProcessing::PoissonDof;
    const bool drawn = passes.drawPass(program, sharp, blur, width, height, constants, 7);
    return endScene() && drawn;
}

// ---- subclasses -----------------------------------------------------------

ProcDepth::ProcDepth(const char* name) : ProcRenderTarget(name) {
    depth = true;
    targetKind = 1;
    width = height = 256;
}

bool ProcDepth::allocate() {
    Log& log = engineLog();
    if (texture) return log.error("Can't twice allocate %s texture", name().c_str());
    D3DSURFACE_DESC back{};
    if (backBufferDesc(textureEnvironment().device(), back)) {
        width = static_cast<std::int32_t>(back.Width);
        height = static_cast<std::int32_t>(back.Height);
    }
    pool = D3DPOOL_DEFAULT;
    dynamic = false;
    usage = D3DUSAGE_RENDERTARGET;
    format = D3DFMT_A8R8G8B8;
    levels = 1;
    if (!createTexture()) return log.error("Cant allocate procedure texture [%s]", name().c_str());
    return true;
}

ProcHDR::ProcHDR(const char* name) : ProcRenderTarget(name) { format = D3DFMT_UNKNOWN; }

ProcMirror::ProcMirror(const char* name) : ProcHDR(name) { depth = true; }

// ---- size rules and filters -----------------------------------------------

bool backBufferSize(std::int32_t& w, std::int32_t& h, D3DFORMAT* texelFormat) {
    D3DSURFACE_DESC back{};
    if (!backBufferDesc(textureEnvironment().device(), back)) return false;
    w = static_cast<std::int32_t>(back.Width);
    h = static_cast<std::int32_t>(back.Height);
    if (texelFormat) *texelFormat = back.Format;
    return true;
}

std::int32_t shiftedSize(std::int32_t size, std::int32_t power) { return power > 0 ? size >> power : size; }

void shadowTargetSize(const VideoSetup& mode, const ShadowTargetLimits& limits, std::int32_t& width,
                      std::int32_t& height) {
    std::int32_t shift = mode.details < 2 ? 1 : 0;
    if (mode.quality == 0) shift += 2;
    if (mode.quality == 1) shift += 1;
    width = limits.maxWidth >> shift;
    height = limits.maxHeight >> shift;
    if (mode.shadows == 2 && mode.details == 2) {
        if (width > limits.softMax) width = limits.softMax;
        if (height > limits.softMax) height = limits.softMax;
    }
}

void gaussianTaps(int count, float sigma, float offsetX, float offsetY, std::int32_t width, std::int32_t height,
                  FilterTap* taps) {
    const double dx = width > 0 ? offsetX / width : 0.0;
    const double dy = height > 0 ? offsetY / height : 0.0;
    const double s2 = 2.0 * static_cast<double>(sigma) * sigma;
    const double norm = 1.0 / std::sqrt(3.14159265358979323846 * s2);
    const auto weight = [&](int k) {
        double d2 = 0.0;
        if (offsetX > 0.0f) d2 += static_cast<double>(k) * k;
        if (offsetY > 0.0f) d2 += static_cast<double>(k) * k;
        return std::exp(-d2 / s2) * norm;
    };
    taps[0] = {0.0f, 0.0f, static_cast<float>(weight(0))};
    int i = 1;
    for (int k = 1; k <= count - 2; k += 2) {
        const float w = static_cast<float>(weight(k));
        taps[i++] = {static_cast<float>(k * dx), static_cast<float>(k * dy), w};
        taps[i++] = {static_cast<float>(-k * dx), static_cast<float>(-k * dy), w};
    }
    double sum = 0.0;
    for (int t = 0; t < i; ++t) sum += taps[t].weight;
    for (int t = 0; t < i; ++t) taps[t].weight = static_cast<float>(taps[t].weight / sum);
    for (int t = i; t < count; ++t) taps[t] = {};
}

void poissonTaps(float texelX, float texelY, std::int32_t width, std::int32_t height, float* offsets24) {
    static constexpr float kDisc[12][2] = {
        {-0.326212f, -0.40581f},  {-0.840144f, -0.07358f}, {-0.695914f, 0.457137f}, {-0.203345f, 0.620716f},
        {0.96234f, -0.194983f},   {0.473434f, -0.480026f}, {0.519456f, 0.767022f},  {0.185461f, -0.893124f},
        {0.507431f, 0.064425f},   {0.89642f, 0.412458f},   {-0.32194f, -0.932615f}, {-0.791559f, -0.59771f}};
    const float sx = width > 0 ? texelX / static_cast<float>(width) : 0.0f;
    const float sy = height > 0 ? texelY / static_cast<float>(height) : 0.0f;
    for (int i = 0; i < 12; ++i) {
        offsets24[2 * i] = kDisc[i][0] * sx;
        offsets24[2 * i + 1] = kDisc[i][1] * sy;
    }
}
