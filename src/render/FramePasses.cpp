// The frame's passes beside the scene pass: the mirror pass, which draws
// the water's reflection into the mirror target before the frame begins,
// and the object pass that the camera's frame and the mirror share.
#include <cstring>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "foundation/Math.h"
#include "foundation/Matrix.h"
#include "render/ProcRenderTarget.h"
#include "render/RenderCore.h"
#include "render/RenderSettings.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "scene/CameraCore.h"

namespace {

// The object pass that draws no object context.
constexpr std::int32_t kObjectPassNone = 7;

// The reflection about the plane through point with normal, as a 4-by-4
// matrix of row vectors: p' = p R.
void reflectionMatrix(const float* point, const float* normal, float* r) {
    float n[3] = {normal[0], normal[1], normal[2]};
    vector3Normalize(n);
    const float d = -vector3Dot(n, point);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) r[i * 4 + j] = (i == j ? 1.0f : 0.0f) - 2.0f * n[i] * n[j];
        r[i * 4 + 3] = 0.0f;
        r[12 + i] = -2.0f * d * n[i];
    }
    r[15] = 1.0f;
}

// The camera's matrices that the mirror pass reflects, kept to be put back.
struct CameraMatrices {
    explicit CameraMatrices(const CameraCore& camera) : pose(camera.pose) {
        std::memcpy(view, camera.viewMatrix, sizeof view);
        std::memcpy(world, camera.worldMatrix, sizeof world);
        std::memcpy(viewProjection, camera.viewProjection, sizeof viewProjection);
    }
    void restore(CameraCore& camera) const {
        camera.pose = pose;
        std::memcpy(camera.viewMatrix, view, sizeof view);
        std::memcpy(camera.worldMatrix, world, sizeof world);
        std::memcpy(camera.viewProjection, viewProjection, sizeof viewProjection);
    }
    Matrix34 pose;
    float view[16];
    float world[16];
    float viewProjection[16];
};

// The camera seen in the mirror: the world is reflected before the view,
// and the camera's own pose and world matrix are reflected with it.
void reflectCamera(CameraCore& camera, const float* r) {
    float out[16];
    matrix44Multiply(r, camera.viewMatrix, out);
    std::memcpy(camera.viewMatrix, out, sizeof out);
    matrix44Multiply(r, camera.viewProjection, out);
    std::memcpy(camera.viewProjection, out, sizeof out);
    matrix44Multiply(camera.worldMatrix, r, out);
    std::memcpy(camera.worldMatrix, out, sizeof out);
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 3; ++col) camera.pose.m[row * 3 + col] = out[row * 4 + col];
}

// The camera above the middle of area looking straight down, north (-z)
// at the top of the picture, and its orthographic projection: depth 0 at
// the area's top, 1 at its bottom.
void topDownView(const TopDownArea& area, float* view, float* world, float* projection) {
    const float cx = 0.5f * (area.minX + area.maxX), cz = 0.5f * (area.minZ + area.maxZ);
    const float width = area.maxX - area.minX, depth = area.maxZ - area.minZ, height = area.top - area.bottom;
    const float pose[16] = {1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, cx, area.top, cz, 1};
    const float inverse[16] = {1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, -cx, cz, -area.top, 1};
    std::memcpy(world, pose, sizeof pose);
    std::memcpy(view, inverse, sizeof inverse);
    const float ortho[16] = {width != 0.0f ? 2.0f / width : 0.0f, 0, 0, 0, 0, depth != 0.0f ? 2.0f / depth : 0.0f, 0, 0,
                             0, 0, height != 0.0f ? -1.0f / height : 0.0f, 0, 0, 0, 0, 1};
    std::memcpy(projection, ortho, sizeof ortho);
}

}  // namespace

void RenderCore::renderObjectPass(std::uint32_t cameraMode, std::int32_t index) {
    if (objectPassMode(std::int32_t(cameraMode), index) == kObjectPassNone) resetShadersIfFixed();
    else renderObjectContexts();
}

ProcMirror* RenderCore::mirrorTarget() {
    TextureLink* link = builtinTextures.find("ProcMirror");
    return link ? dynamic_cast<ProcMirror*>(link->handler()) : nullptr;
}

bool RenderCore::mirrorDrawn() {
    TextureLink* link = builtinTextures.find("ProcMirror");
    const ProcMirror* mirror = mirrorTarget();
    return link && link->enabled && mirror && mirror->texture && mirror->rendered;
}

bool RenderCore::userClipPlanes() {
    IDirect3DDevice9* device = textureEnvironment().device();
    D3DCAPS9 caps{};
    return device && SUCCEEDED(device->GetDeviceCaps(&caps)) && caps.MaxUserClipPlanes > 0;
}

void RenderCore::setUserClipPlane(const float* plane) {
    IDirect3DDevice9* device = textureEnvironment().device();
    if (plane && device) device->SetClipPlane(0, plane);
    stateCache().setRender(DXStateCache::RsClipPlaneEnable, plane && device ? 1u : 0u);
}

bool ProcMirror::renderReflection(CameraCore* camera) {
    rendered = false;
    if (!texture) return false;
    // No surface asked for its mirror this frame: nothing to draw.
    if (!renderRequested) return true;
    renderRequested = false;
    RenderCore* render = gameCore.render;
    if (!render || !beginScene(true)) return false;
    if (camera) {
        // The passes read the render core's camera: this one, reflected.
        CameraCore* const frameCamera = render->camera;
        render->camera = camera;
        const CameraMatrices saved(*camera);
        float r[16];
        reflectionMatrix(mirrorPoint, mirrorNormal, r);
        reflectCamera(*camera, r);
        // What lies behind the mirror would show in front of it: clipped.
        camera->setClipPlane(mirrorPoint, mirrorNormal);
        render->setUserClipPlane(camera->clipPlaneSet ? camera->clipPlane : nullptr);
        render->takeCamera();
        render->shaders().resetPass();
        render->renderList.flags |= RenderList::FlagLocked;
        render->updateContexts();
        const bool secondary = render->secondaryPass;
        render->secondaryPass = true;
        render->drawingMirror = true;
        camera->renderFrame(kCameraModeFollow);
        render->drawingMirror = false;
        render->secondaryPass = secondary;
        render->quadBatch.flush();
        render->renderList.flags &= ~RenderList::FlagLocked;
        camera->clearClipPlane();
        render->setUserClipPlane(nullptr);
        render->stateCache().apply();
        saved.restore(*camera);
        render->takeCamera();
        render->camera = frameCamera;
    }
    endScene();
    rendered = true;
    return true;
}

bool ProcRenderTarget::renderCharacterShadow(const std::function<void()>& drawProjections) {
    RenderCore* render = gameCore.render;
    if (!texture || !textureEnvironment().device() || !render || !beginScene(true)) return false;
    // The scene's drawing leaves alpha to the depth of field; a shadow map
    // keeps its coverage there.
    DXStateCache& cache = render->stateCache();
    const std::uint32_t colorWrite = cache.renderDesired[DXStateCache::RsColorWriteEnable];
    cache.setRender(DXStateCache::RsColorWriteEnable, 15);
    render->shaders().resetPass();
    if (drawProjections) drawProjections();
    render->quadBatch.flush();
    cache.setRender(DXStateCache::RsColorWriteEnable, colorWrite);
    cache.apply();
    return endScene();
}

bool RenderCore::blurSoftShadows(float offset) {
    RenderTargetLinks links = targetLinks();
    auto* map = dynamic_cast<ProcRenderTarget*>(links.shadow1.handler());
    auto* soft = dynamic_cast<ProcRenderTarget*>(links.shadow2.handler());
    if (!map || !soft || !map->texture || !soft->texture) return false;
    Log& log = engineLog();
    if (!postPasses.create(textureEnvironment().device())) {
        log.error("Can't create the post-processing programs");
        links.shadow1.release(false);
        return false;
    }
    const float sigma = renderSettings.hdrShadowBlurGaussianCoeff;
    bool blurred = soft->generateBlur(postPasses, links.shadow1, offset, 0.0f, sigma, 5, 0);
    if (!blurred) log.error("Can't render blur X in Soft shadow: %s", soft->name().c_str());
    else if (!(blurred = map->generateBlur(postPasses, links.shadow2, 0.0f, offset, sigma, 5, 0)))
        log.error("Can't render blur Y in Soft shadow: %s", map->name().c_str());
    stateCache().invalidate();
    if (!blurred) links.shadow1.release(false);
    return blurred;
}

bool ProcRenderTarget::renderScenePass(const TopDownArea& area) {
    RenderCore* render = gameCore.render;
    if (!textureEnvironment().device() || !render) return false;
    if (!texture) {
        // Drawn into, so a render target (a dynamic texture cannot be).
        usage = D3DUSAGE_RENDERTARGET;
        pool = D3DPOOL_DEFAULT;
        dynamic = false;
        format = D3DFMT_A8R8G8B8;
        levels = 1;
        if (!createTexture()) return false;
    }
    if (!beginScene(true)) return true;
    float view[16], world[16], projection[16], viewProjection[16];
    topDownView(area, view, world, projection);
    matrix44Multiply(view, projection, viewProjection);
    ShaderCore& shaders = render->shaders();
    shaders.setCameraFrame(view, world, projection, viewProjection);
    shaders.resetPass();
    render->renderList.flags |= RenderList::FlagLocked;
    render->updateContexts();
    render->broadcastToContexts(area.values[0], area.values[1], area.values[2]);
    render->renderList.flags &= ~RenderList::FlagLocked;
    endScene();
    // The frame goes on with its own camera.
    render->takeCamera();
    return true;
}
