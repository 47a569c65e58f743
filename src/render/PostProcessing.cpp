#include "render/PostProcessing.h"

#include <cmath>
#include <cstring>
#include <iterator>
#include <vector>

#include "app/GameCore.h"
#include "effects/Y3Sky.h"
#include "foundation/Log.h"
#include "platform/d3d9/ShaderBody.h"
#include "render/ProcRenderTarget.h"
#include "render/RenderCore.h"
#include "render/RenderSettings.h"
#include "render/VideoCore.h"
#include "render/VideoDevice.h"
#include "render/VideoSetup.h"
#include "render/shaders/ShaderCore.h"
#include "render/shaders/ShaderProgramTable.h"
#include "render/states/DXStateCache.h"
#include "scene/CameraCore.h"
#include "ui/StillFrameData.h"

namespace {

// The carried post-processing source (f_20_hdr.fx): one part of the text
// is chosen by a define named after the program. Constants: vertex c0-c3
// the world-view-projection matrix; pixel c0 the colour, c1 the source's
// texel size, c2 onwards the pass's filter. Samplers: 0 the source, 1 the
// second source of the depth-of-field composite.
bool registerPostProcessingSource() {
    if (platform::d3d9::shaderSource(PostProcessing::kSourceId)) return true;
    for (const ShaderSourceText& source : shaderSourceTexts())
        if (source.id == PostProcessing::kSourceId) {
            platform::d3d9::registerShaderSource(source.id, source.text);
            return true;
        }
    return false;
}

const char* const kProgramNames[PostProcessing::ProgramCount] = {
    "PS_HDR_blur", "PS_HDR_blursmall", "PS_HDR_bright", "PS_HDR_PoissonDOF", "PS_HDR_PoissonDOF_Debug"};

// The still frames' unit quad: position, then one texture coordinate.
const D3DVERTEXELEMENT9 kQuadElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};

std::vector<std::uint8_t> programBody(std::uint8_t kind, const char* entry) {
    platform::d3d9::ShaderBody body;
    body.kind = kind;
    body.profile = kind == 0 ? "vs_2_0" : "ps_2_0";
    body.entryPoint = entry;
    body.sourceId = PostProcessing::kSourceId;
    body.defines = {{entry, "1"}, {"GaussianFilterLength", "13"}, {"GaussianFilterSmallLength", "5"}};
    return platform::d3d9::writeShaderBody(body);
}

// Render states a pass sets, restored afterwards.
constexpr D3DRENDERSTATETYPE kPassStates[] = {D3DRS_ZENABLE,        D3DRS_ZWRITEENABLE,    D3DRS_CULLMODE,
                                              D3DRS_ALPHABLENDENABLE, D3DRS_ALPHATESTENABLE, D3DRS_FOGENABLE,
                                              D3DRS_LIGHTING,       D3DRS_COLORWRITEENABLE};
constexpr DWORD kPassValues[] = {FALSE, FALSE, D3DCULL_NONE, FALSE, FALSE, FALSE, FALSE, 15};

}  // namespace

bool PostProcessing::create(IDirect3DDevice9* device) {
    if (!device) return false;
    if (device_ && device_ != device) release();
    device_ = device;
    if (!registerPostProcessingSource()) return false;
    if (!vertexProgram_) {
        const auto code = programBody(0, "VS_HDR_plain");
        if (FAILED(device->CreateVertexShader(reinterpret_cast<const DWORD*>(code.data()), &vertexProgram_))) {
            vertexProgram_ = nullptr;
            return false;
        }
    }
    for (int i = 0; i < ProgramCount; ++i) {
        if (pixelPrograms_[i]) continue;
        const auto code = programBody(1, kProgramNames[i]);
        if (FAILED(device->CreatePixelShader(reinterpret_cast<const DWORD*>(code.data()), &pixelPrograms_[i]))) {
            pixelPrograms_[i] = nullptr;
            return false;
        }
    }
    if (!declaration_ && FAILED(device->CreateVertexDeclaration(kQuadElements, &declaration_))) {
        declaration_ = nullptr;
        return false;
    }
    return true;
}

void PostProcessing::release() {
    auto drop = [](auto*& object) {
        if (object) object->Release();
        object = nullptr;
    };
    drop(vertexProgram_);
    for (auto*& program : pixelPrograms_) drop(program);
    drop(declaration_);
    device_ = nullptr;
}

bool PostProcessing::drawPass(Program program, IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* second,
                              std::int32_t width, std::int32_t height, const float* constants, std::uint32_t count) {
    IDirect3DDevice9* device = device_;
    StillFrameRenderer* frames = gameCore.render ? &gameCore.render->stillFrames() : nullptr;
    if (!device || !frames || !pixelPrograms_[program] || width <= 0 || height <= 0) return false;
    if (!frames->data.vertexBufferReady() && !frames->data.createVertexBuffer(device)) return false;
    // The unit quad (-0.5 to 0.5, v down) stretched over the target, shifted
    // by the texel offsets (in pixels) so that texels land on pixels. The
    // registers hold the matrix's columns.
    const float dx = 2.0f * renderSettings.hdrTexelOffsetX / static_cast<float>(width);
    const float dy = -2.0f * renderSettings.hdrTexelOffsetY / static_cast<float>(height);
    const float toTarget[16] = {2.0f, 0.0f, 0.0f, dx, 0.0f, -2.0f, 0.0f, dy, 0.0f, 0.0f, 0.0f, 0.5f, 0.0f, 0.0f, 0.0f, 1.0f};

    DWORD saved[std::size(kPassStates)];
    for (std::size_t i = 0; i < std::size(kPassStates); ++i) {
        device->GetRenderState(kPassStates[i], &saved[i]);
        device->SetRenderState(kPassStates[i], kPassValues[i]);
    }
    for (DWORD stage = 0; stage < 2; ++stage) {
        device->SetSamplerState(stage, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        device->SetSamplerState(stage, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        device->SetSamplerState(stage, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(stage, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(stage, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    }
    device->SetVertexShaderConstantF(0, toTarget, 4);
    const float texel[4] = {1.0f / static_cast<float>(width), 1.0f / static_cast<float>(height), 0.0f, 0.0f};
    device->SetPixelShaderConstantF(0, color, 1);
    device->SetPixelShaderConstantF(1, texel, 1);
    if (constants && count) device->SetPixelShaderConstantF(2, constants, count);
    device->SetTexture(0, source);
    device->SetTexture(1, second);
    device->SetVertexDeclaration(declaration_);
    device->SetVertexShader(vertexProgram_);
    device->SetPixelShader(pixelPrograms_[program]);
    const bool drawn = frames->drawScreenQuad();
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    device->SetTexture(0, nullptr);
    device->SetTexture(1, nullptr);
    // The writes above went past the pass record and the state cache: they
    // send their wanted textures, samplers, declaration, stream and shaders
    // again.
    if (gameCore.render) {
        gameCore.render->shaders().pass.forgetAppliedTextures();
        for (int stage = 0; stage < 2; ++stage) gameCore.render->stateCache().forgetSampler(stage);
        gameCore.render->stateCache().forgetDrawBindings();
    }
    for (std::size_t i = 0; i < std::size(kPassStates); ++i) device->SetRenderState(kPassStates[i], saved[i]);
    if (!drawn) return engineLog().error("Post-processing pass failed");
    return true;
}

// ---- the post step --------------------------------------------------------

namespace {

enum EffectFrame { DepthOfFieldFrame = 0, BloomFrame = 1 };

// Image item flag bits of the effect frames.
constexpr std::uint32_t kItemFlag4 = 4, kItemFlag8 = 8, kItemFlag1024 = 1024, kItemFlag4096 = 4096;

ProcRenderTarget* currentTarget(const TextureLink& link) {
    return dynamic_cast<ProcRenderTarget*>(link.handler());
}

void setColorWrite(RenderCore& core, std::uint32_t value) {
    core.stateCache().setRender(DXStateCache::RsColorWriteEnable, value);
    core.stateCache().apply();
}

}  // namespace

namespace {

// The blend mode of an effect frame's item: added to the scene with the
// bit of value 1024, else drawn over it.
constexpr std::uint32_t kBlendAdd = 8, kBlendAlpha = 2;

// Shows an effect frame as the still-frame item of its name, or deletes
// that item.
void syncEffectItem(StillFrameData& data, const HdrEffectFrame& frame) {
    StillFrameScriptDataItem* item = data.find(frame.name);
    if (!frame.shown) {
        if (item) data.deleteObject(item);
        return;
    }
    if (!item) item = data.create(frame.name, nullptr, frame.position[0], frame.position[1], frame.size[0],
                                  frame.size[1]);
    if (!item) return;
    // The frame's item flags say the pass (bit 12); its order is the layer.
    item->image.source.flags = (item->image.source.flags & ~std::uint32_t(SourcePostPass)) |
                               (frame.itemFlags & SourcePostPass);
    item->layer = frame.order;
    if (frame.source != item->image.source.link.baseName()) item->image.setSource(*item, frame.source.c_str(), 0);
    item->setVisible(true);
    for (int i = 0; i < 4; ++i) item->color[i] = frame.color[i];
    item->blend = (frame.itemFlags & kItemFlag1024) ? kBlendAdd : kBlendAlpha;
}

}  // namespace

void RenderCore::removeHDREffectFrames() {
    for (HdrEffectFrame& frame : effectFrames) {
        frame.shown = false;
        syncEffectItem(stillFrames().data, frame);
    }
}

bool RenderCore::postProcessFrame(std::int32_t stateIndex) {
    if (!gameCore.video) return true;
    VideoCore& core = *gameCore.video;
    VideoSetup& mode = core.activeVideoSetup();
    if (core.videoDevice.isFixedPipeline() || mode.details <= 0) return true;
    return postProcess(mode, drawsScene(stateIndex));
}

bool RenderCore::renderEffects(const VideoSetup& mode) {
    if (!camera) return true;
    IDirect3DDevice9* device = textureEnvironment().device();
    if (!device) return true;
    Log& log = engineLog();
    setColorWrite(*this, 15);
    RenderTargetLinks l = targetLinks();
    ProcRenderTarget* hdr1 = currentTarget(l.hdr1);
    ProcRenderTarget* hdr2 = currentTarget(l.hdr2);
    ProcRenderTarget* hdr3 = currentTarget(l.hdr3);
    ProcRenderTarget* hdr4 = currentTarget(l.hdr4);
    ProcRenderTarget* hdr5 = currentTarget(l.hdr5);
    ProcRenderTarget* poisson = currentTarget(l.poissonDof);
    const bool bloom = mode.pp_bloom == 1 && mode.details > 0;
    const bool dof = depthOfFieldWanted(mode);
    bool removeFrame[2] = {true, true};
    const RenderSettings& s = renderSettings;
    auto finish = [&](bool result) {
        for (int i = 0; i < 2; ++i) {
            if (removeFrame[i]) effectFrames[i].shown = false;
            syncEffectItem(stillFrames().data, effectFrames[i]);
        }
        setColorWrite(*this, 7);
        stateCache().invalidate();
        return result;
    };
    if (bloom || dof) {
        if (!hdr3 || !hdr3->copyBackBuffer()) return finish(false);
        if (!postPasses.create(device)) {
            log.error("Can't create the post-processing programs");
            return finish(false);
        }
    }
    auto show = [&](EffectFrame which, const ProcRenderTarget& target, std::int32_t order, std::uint32_t setFlags,
                    std::uint32_t clearFlags) {
        HdrEffectFrame& frame = effectFrames[which];
        frame.shown = true;
        frame.color[0] = frame.color[1] = frame.color[2] = 0.5f;
        frame.color[3] = 1.0f;
        frame.position[0] = frame.position[1] = 0.0f;
        frame.size[0] = 1024.0f;
        frame.size[1] = 768.0f;
        frame.source = target.name();
        frame.order = order;
        frame.itemFlags = (frame.itemFlags & ~clearFlags) | setFlags;
        removeFrame[which] = false;
    };
    const bool skipAllBlurs = s.hdrDebugDownscale;
    if (dof && hdr1 && hdr2 && poisson) {
        if (!s.hdrDisableDepthBlur && !skipAllBlurs) {
            if (!hdr2->generateBlur(postPasses, l.hdr3, s.hdrDepthBlurOffsetX, 0.0f, s.hdrDepthBlurGaussianCoeff, 5,
                                    s.hdrDepthDownscalePower)) {
                log.error("Can't render blur X in Bloom scene");
                return finish(false);
            }
            if (!hdr1->generateBlur(postPasses, l.hdr2, 0.0f, s.hdrDepthBlurOffsetY, s.hdrDepthBlurGaussianCoeff, 5,
                                    -s.hdrDepthDownscalePower)) {
                log.error("Can't render blur Y in Bloom scene");
                return finish(false);
            }
        }
        if (!poisson->generatePoissonDOF(postPasses, l.hdr3, l.hdr1)) return finish(false);
        show(DepthOfFieldFrame, *poisson, -2, kItemFlag4096, kItemFlag4 | kItemFlag8 | kItemFlag1024);
    }
    if (bloom && hdr3 && hdr4 && hdr5) {
        const bool blurs = !s.hdrDisableBloomBlur && !skipAllBlurs;
        const float sigma = s.hdrBloomBlurGaussianCoeff;
        auto blur = [&](ProcRenderTarget* into, const TextureLink& from, float x, float y, std::int32_t power) {
            if (into->generateBlur(postPasses, from, x, y, sigma, 5, power)) return true;
            log.error(y == 0.0f ? "Can't render blur X in Bloom scene" : "Can't render blur Y in Bloom scene");
            return false;
        };
        if (blurs && (!blur(hdr5, l.hdr3, s.hdrBloomBlurOffsetX, 0.0f, s.hdrBloomDownsamplePower) ||
                      !blur(hdr4, l.hdr5, 0.0f, s.hdrBloomBlurOffsetY, -s.hdrBloomDownsamplePower)))
            return finish(false);
        // The sky's bloom values: value 0 is the bright pass's threshold,
        // values 1 and 2 (the bright part's scale and the bloom's strength)
        // multiply what passes it.
        const SkyEnvironment* sky = cameraSkyEnvironment();
        const float threshold = sky ? sky->bloom[0] : PostProcessing::kBrightThreshold;
        const float exposure = sky ? sky->bloom[1] * sky->bloom[2] : PostProcessing::kBrightExposure;
        const bool usable = std::isfinite(threshold) && std::isfinite(exposure);
        postPasses.brightThreshold = usable ? threshold : PostProcessing::kBrightThreshold;
        postPasses.brightExposure = usable ? exposure : PostProcessing::kBrightExposure;
        if (!hdr5->generateBright(postPasses, l.hdr4)) {
            log.error("Can't render bright in Bloom scene");
            return finish(false);
        }
        if (blurs && (!blur(hdr4, l.hdr5, s.hdrBloomBlurOffsetX, 0.0f, 0) ||
                      !blur(hdr5, l.hdr4, 0.0f, s.hdrBloomBlurOffsetY, 0)))
            return finish(false);
        show(BloomFrame, *hdr5, -1, kItemFlag4096 | kItemFlag1024, kItemFlag4 | kItemFlag8);
    }
    return finish(true);
}

bool RenderCore::postProcess(VideoSetup& mode, bool scenePassRan) {
    if (!scenePassRan || postProcessing == 0) {
        removeHDREffectFrames();
        return true;
    }
    IDirect3DDevice9* device = textureEnvironment().device();
    if (!device) return false;
    // The video device ends and resumes the scene of its own device.
    VideoDevice* video = gameCore.video ? &gameCore.video->videoDevice : nullptr;
    if (video && video->device() != device) video = nullptr;
    if (depthOfFieldWanted(mode)) {
        // The depth pass writes alpha only, over a cleared depth buffer:
        // the object contexts' shader pass leaves the blur amount of the
        // nearest surface in each pixel's alpha.
        setColorWrite(*this, 8);
        device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        if (camera) camera->resetFrameState();
        setColorWrite(*this, 7);
    }
    if (video ? !video->endScene() : FAILED(device->EndScene())) return false;
    if (renderEffects(mode)) {
        failedEffectFrames = 0;
    } else {
        // The frame goes without its effects. A target short of memory has
        // shrunk itself and the next frame tries again; only a failure that
        // lasts switches the effects off until the options change.
        removeHDREffectFrames();
        if (++failedEffectFrames >= kLastingEffectFailures) {
            failedEffectFrames = 0;
            mode.pp_bloom = 0;
            mode.pp_depth = 0;
            engineLog().systemError("Failed Post-processing effects disabled");
        }
    }
    return video ? video->resumeScene() : SUCCEEDED(device->BeginScene());
}
