// The render core's allocation of its render targets by the video options.
#include "render/RenderTargets.h"

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "render/ProcRenderTarget.h"
#include "render/RenderCore.h"
#include "render/RenderSettings.h"
#include "render/VideoCore.h"
#include "render/VideoSetup.h"
#include "scene/CameraCore.h"
#include "scene/Scene.h"
#include "ui/StillFrameData.h"

namespace {

// The flag word of the targets' links: bulk load, no mip filter,
// uncompressed.
constexpr std::uint32_t kTargetLinkFlags = 0x100300;

ProcRenderTarget* targetOf(const TextureLink& link) { return dynamic_cast<ProcRenderTarget*>(link.handler()); }

// Gives the target of name its size; a target already created at another
// size is created anew.
void sizeTarget(TextureLibrary& library, const char* name, std::int32_t width, std::int32_t height) {
    auto* target = dynamic_cast<ProcRenderTarget*>(library.findOrCreate(name, 6, true));
    if (!target || (target->width == width && target->height == height)) return;
    target->width = width;
    target->height = height;
    if (target->texture) {
        target->unload();
        target->load();
    }
}

// Attaches link unless it holds its handler already; logs message on
// failure.
bool attach(TextureLink& link, const char* message, bool systemError = false) {
    if (link.handler()) return true;
    if (link.allocateDefault(kTargetLinkFlags, false)) return true;
    if (systemError)
        engineLog().systemError("%s", message);
    else
        engineLog().error("%s", message);
    return false;
}

}  // namespace

RenderTargetLinks RenderCore::targetLinks() {
    const auto link = [this](const char* name) -> TextureLink& { return *builtinTextures.find(name); };
    return {link("ProcHDR1"),    link("ProcHDR2"),       link("ProcHDR3"),    link("ProcHDR4"),
            link("ProcHDR5"),    link("ProcPoissonDOF"), link("ProcSHADOW1"), link("ProcSHADOW2"),
            link("ProcMirror"), link("procsavescreenshot")};
}

void RenderTargetLinks::releaseAll() {
    for (TextureLink* link : {&hdr1, &hdr2, &hdr3, &hdr4, &hdr5, &poissonDof, &shadow1, &shadow2, &mirror, &screenshot})
        link->release(false);
}

bool RenderCore::depthOfFieldWanted(const VideoSetup& mode) {
    return mode.pp_depth == 1 && mode.details != 0 && !(gameCore.video && gameCore.video->depthOfFieldVeto);
}

bool RenderCore::allocateHDRTargets() {
    const VideoSetup& mode = textureEnvironment().videoSetup();
    RenderTargetLinks links = targetLinks();
    const bool bloom = mode.pp_bloom == 1 && mode.details != 0;
    const bool dof = depthOfFieldWanted(mode);
    bool result = true;
    std::int32_t width = 0, height = 0;
    if (bloom || dof) {
        if (backBufferSize(width, height)) {
            width = shiftedSize(width, renderSettings.hdrBackBufferDownscalePower);
            height = shiftedSize(height, renderSettings.hdrBackBufferDownscalePower);
            sizeTarget(textures, "prochdr3", width, height);
        }
        if (!attach(links.hdr3, "Fail initialize texture HDR-AA-BB", true)) return false;
        if (ProcRenderTarget* copy = targetOf(links.hdr3)) {
            copy->draws = false;
            width = copy->width;
            height = copy->height;
        }
    }
    if (dof) {
        const std::int32_t power = renderSettings.hdrDepthDownscalePower;
        sizeTarget(textures, "prochdr1", shiftedSize(width, power), shiftedSize(height, power));
        sizeTarget(textures, "prochdr2", shiftedSize(width, power), shiftedSize(height, power));
        sizeTarget(textures, "procpoissondof", width, height);
        const bool attached = attach(links.hdr1, "Fail initialize texture HDRA") &&
                              attach(links.hdr2, "Fail initialize texture HDRB") &&
                              attach(links.poissonDof, "Fail initialize texture HDRDEPTH");
        if (!attached) {
            links.hdr1.release(false);
            links.hdr2.release(false);
            links.poissonDof.release(false);
            result = false;
        }
    } else {
        links.hdr1.release(false);
        links.hdr2.release(false);
        links.poissonDof.release(false);
    }
    if (bloom) {
        const std::int32_t power = renderSettings.hdrBloomDownsamplePower;
        sizeTarget(textures, "prochdr5", shiftedSize(width, power), shiftedSize(height, power));
        sizeTarget(textures, "prochdr4", shiftedSize(width, power), shiftedSize(height, power));
        if (!attach(links.hdr5, "Fail initialize texture HDRE")) result = false;
        if (!attach(links.hdr4, "Fail initialize texture HDRD")) result = false;
    } else {
        links.hdr5.release(false);
        links.hdr4.release(false);
    }
    if (!bloom && !dof) links.hdr3.release(false);
    return result;
}

bool RenderCore::allocateReflectionTarget() {
    const VideoSetup& mode = textureEnvironment().videoSetup();
    if (mode.details <= 0 || mode.waterReflection != 1 || mode.water <= 0) {
        targetLinks().mirror.release(false);
        return true;
    }
    std::int32_t width = 0, height = 0;
    if (backBufferSize(width, height)) {
        const std::int32_t shift = mode.details < 2 ? 1 : 0;
        sizeTarget(textures, "procmirror", width >> shift, height >> shift);
    }
    if (attach(targetLinks().mirror, "Fail initialize reflection")) return true;
    targetLinks().mirror.release(false);
    return false;
}

bool RenderCore::allocateShadowTargets() {
    const VideoSetup& mode = textureEnvironment().videoSetup();
    if (mode.details == 0 || mode.shadows == 0) return false;
    std::int32_t width = 0, height = 0;
    shadowTargetSize(mode, shadowLimits, width, height);
    sizeTarget(textures, "procshadow1", width, height);
    bool attached = attach(targetLinks().shadow1, "Fail initialize shadowA");
    if (attached && mode.shadows == 2 && mode.details == 2) {
        sizeTarget(textures, "procshadow2", width, height);
        attached = attach(targetLinks().shadow2, "Fail initialize shadowB");
    }
    if (attached) return true;
    targetLinks().shadow1.release(false);
    targetLinks().shadow2.release(false);
    return false;
}

bool RenderCore::allocateScreenshotTarget() {
    if (attach(targetLinks().screenshot, "Fail initialize screenshot rendertarget")) return true;
    targetLinks().screenshot.release(false);
    return false;
}

bool RenderCore::allocateRenderTargets() {
    bool result = allocateScreenshotTarget();
    result = allocateHDRTargets() && result;
    result = allocateReflectionTarget() && result;
    result = allocateShadowTargets() && result;
    return result;
}

void RenderCore::refreshSceneFrame() {
    if (!camera || !drawsScene(stateIndex())) return;
    takeCamera();
    renderList.flags |= RenderList::FlagLocked;
    if (Scene* scene = camera->owner()) SoftShadow::render(scene->shadows, CurrentTime(0.0));
    updateContexts();
    renderShadows();
    renderList.flags &= ~RenderList::FlagLocked;
}

void RenderCore::renderTargetFrame(bool withStillFrames) {
    if (camera) scenePass(stateIndex(), false);
    if (withStillFrames && (stillFrames().flags & 0x1)) {
        stillFrames().data.render(1);
        quadBatch.flush();
        stillFrames().data.render(0);
    }
    quadBatch.flush();
}
