#include "scene/CameraCore.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/Matrix.h"
#include "foundation/MersenneTwister.h"
#include "foundation/Quaternion.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "render/ProcRenderTarget.h"
#include "render/RenderCore.h"
#include "render/shaders/ShaderCore.h"
#include "scene/CameraAuto.h"
#include "scene/CameraSettings.h"
#include "scene/Scene.h"
#include "scene/Y3Pose.h"
#include "script/ScriptEngine.h"
#include "script/ScriptWorld.h"
#include "ui/StillFrameData.h"

CameraServices cameraServices;

namespace {

constexpr double kPi = 3.14159265358979323846;
// Camera mode of each game camera mode (the last: a stack plays).
constexpr std::uint32_t kModeTable[12] = {2, 4, 4, 4, 6, 0, 1, 1, 2, 7, 8, 5};
// How far a point behind the camera lands off the screen.
constexpr float kOffScreen = 20000.0f;
// A new position this far from the old one drops the focus samples.
constexpr float kFocusJump = 0.25f;
// A look target further off the view axis than this cosine keeps the focus.
constexpr float kFocusCone = 0.2f;
const char* const kEffectNames[] = {"none", "crazy"};

float* axis(Matrix34& m, int i) { return m.m + 3 * i; }

// The 4-by-4 form of a 3-by-4 matrix (fourth column 0, 0, 0, 1).
void toMatrix44(const Matrix34& m, float* out) {
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 3; ++col) out[row * 4 + col] = m.m[row * 3 + col];
        out[row * 4 + 3] = row == 3 ? 1.0f : 0.0f;
    }
}

void normalizeAxes(Matrix34& m) {
    for (int i = 0; i < 3; ++i) vector3Normalize(axis(m, i));
}

// Turns the axes by angle about a unit direction; the position turns about
// the centre.
void rotatePose(Matrix34& pose, const float* direction, float angle, const float* centre) {
    Matrix33 r;
    matrix33FromAxisAngle(r, angle, direction[0], direction[1], direction[2]);
    matrix33Multiply(pose, r);
    Matrix34 turn = matrix34Identity();
    for (int i = 0; i < 9; ++i) turn.m[i] = r.m[i];
    float offset[3];
    for (int k = 0; k < 3; ++k) offset[k] = pose.m[9 + k] - centre[k];
    vector3Rotate(offset, turn);
    for (int k = 0; k < 3; ++k) pose.m[9 + k] = centre[k] + offset[k];
}

// The world matrix of a scene object (or one of its bones) or of a
// waypoint. boneMissing is set when the object lacks the named bone.
bool entityPose(Scene* scene, const char* object, const char* bone, Matrix34& out, bool& boneMissing) {
    boneMissing = false;
    if (!scene) return false;
    if (GameObject* found = scene->lookupModel(object)) {
        if (!bone || !*bone) return found->getWorldMatrix(out);
        const std::int32_t index = found->findBone(bone);
        if (index < 0) {
            boneMissing = true;
            return false;
        }
        return found->getBoneWorldMatrix(index, out);
    }
    if (const Y3Pose* waypoint = scene->findWaypoint(object)) {
        out = waypoint->pose;
        return true;
    }
    return false;
}

void raiseWorldEvent(std::int32_t event) {
    ScriptEngine* engine = gameCore.script;
    if (ScriptWorld* world = engine ? engine->world() : nullptr) world->callEvent(event, world);
}

bool reselectCameraMode() { return cameraServices.selectCameraMode ? cameraServices.selectCameraMode() : true; }

}  // namespace

void setCameraAxes(Matrix34& pose, const float* back, const float* up) {
    float third[3] = {back[0], back[1], back[2]};
    vector3Normalize(third);
    float first[3];
    vector3Cross(up, third, first);
    if (vector3Length(first) < 1e-6f) return;
    vector3Normalize(first);
    float second[3];
    vector3Cross(third, first, second);
    for (int k = 0; k < 3; ++k) {
        pose.m[k] = first[k];
        pose.m[3 + k] = second[k];
        pose.m[6 + k] = third[k];
    }
}

void cameraLookAt(Matrix34& pose, const float* target, const float* up) {
    const float back[3] = {pose.m[9] - target[0], pose.m[10] - target[1], pose.m[11] - target[2]};
    if (vector3Length(back) >= 1e-6f) setCameraAxes(pose, back, up);
}

std::uint32_t mappedCameraMode(std::int32_t gameModeIndex) {
    return gameModeIndex >= 0 && gameModeIndex < 12 ? kModeTable[gameModeIndex] : kModeTable[0];
}

std::int32_t inputModeOf(std::int32_t gameModeIndex) {
    constexpr std::int32_t kInputModes[12] = {0, 0, 1, 2, 1, 5, 2, 3, 4, 2, 2, 3};
    return gameModeIndex >= 0 && gameModeIndex < 12 ? kInputModes[gameModeIndex] : kInputModes[0];
}

void fixedAspectViewport(std::int32_t width, std::int32_t height, std::int32_t* viewport) {
    const double aspect = cameraSettings.fixedAspectRatio ? 1.25 : cameraServices.displayAspect;
    viewport[0] = 0;
    viewport[1] = 0;
    viewport[2] = width;
    viewport[3] = height;
    if (width <= 0 || height <= 0) return;
    if (static_cast<double>(width) / height > aspect) {
        viewport[2] = static_cast<std::int32_t>(height * aspect + 0.5);
        viewport[0] = (width - viewport[2]) / 2;
    } else {
        viewport[3] = static_cast<std::int32_t>(width / aspect + 0.5);
        viewport[1] = (height - viewport[3]) / 2;
    }
}

// ---- CameraCore

CameraCore::CameraCore(Scene* owner, const char* cameraName)
    : autoCamera(std::make_unique<CameraAuto>(*this)), blender(*this), owner_(owner) {
    if (cameraName) std::strncpy(name, cameraName, sizeof(name) - 1);
    pose = matrix34Identity();
    viewTransform = matrix34Identity();
}

CameraCore::~CameraCore() { focusSmoother.release(); }

bool CameraCore::initialize(float fov) {
    screenAction = -1;
    hover = previousHover = 0;
    time = 0.0;
    currentFov = -1.0f;
    setProjection(fov);
    boxHeight = 1.8f;
    boxWidth = 0.6f;
    sphereRadius = 0.2f;
    applyPose();
    sphere.setFromSize(pose, sphereRadius);
    if (owner_) pvs.reset(owner_->pvs);
    updateVisibility();
    return true;
}

float CameraCore::defaultFov() const {
    if (effectiveMode() == 5 && cameraSettings.hasCameraFov) return cameraSettings.cameraFov;
    return cameraSettings.fov;
}

void CameraCore::setProjection(float fov) {
    if (fov < 0.0f) fov = defaultFov();
    if (fov == currentFov) return;
    currentFov = fov;
    horizontalFactor = static_cast<float>(1.0 / std::tan(fov * kPi / 360.0));
    const float aspect = cameraSettings.fixedAspectRatio ? 1.25f : cameraServices.displayAspect;
    verticalFactor = aspect * horizontalFactor;
    const float verticalAngle = static_cast<float>(2.0 * std::atan(1.0 / verticalFactor) * 180.0 / kPi);
    frustum.setPerspective(fov, verticalAngle, cameraSettings.clipNear, cameraSettings.clipFar);
    std::memcpy(projectionMatrix, frustum.projection, sizeof(projectionMatrix));
}

std::uint32_t CameraCore::effectiveMode() const {
    return mode == kCameraModeFollow ? mappedCameraMode(gameCore.cameraModeIndex()) : mode;
}

void CameraCore::pinMode() {
    const std::uint32_t mapped = mappedCameraMode(gameCore.cameraModeIndex());
    if (mapped == lastMappedMode) return;
    // Entering a fixed view keeps the kind of pose the camera had, unless
    // a stack was playing.
    mode = mapped == 1 && lastMappedMode != 5 ? lastMappedMode : kCameraModeFollow;
    lastMappedMode = mapped;
}

void CameraCore::raiseEvents() {
    const std::int32_t index = gameCore.cameraModeIndex();
    if ((index == 3 || (index >= 7 && index <= 10)) && cameraServices.actionAtCursor) {
        const std::int32_t action = cameraServices.actionAtCursor();
        // The leave event still sees the action left, the enter event the
        // action entered.
        if (action != screenAction) {
            if (screenAction >= 0) raiseWorldEvent(10);
            screenAction = -1;
            if (action >= 0) {
                screenAction = action;
                raiseWorldEvent(9);
            }
        }
    }
    if (hover != previousHover) {
        if (previousHover) {
            raiseWorldEvent(8);
            previousHover = 0;
        }
        if (hover) {
            previousHover = hover;
            raiseWorldEvent(7);
        }
    }
    hover = 0;
}

bool CameraCore::update(const CurrentTime& sample) {
    time = sample.game.time;
    pinMode();
    raiseEvents();
    fovFactor = 0.0f;
    float before[3];
    std::memcpy(before, position(), sizeof(before));
    takePose(sample);
    float moved[3];
    for (int k = 0; k < 3; ++k) moved[k] = position()[k] - before[k];
    if (vector3Length(moved) > kFocusJump) focusSmoother.stages.clear();
    applyPose();
    updateFocus(sample);
    // The collision box stands behind the camera; the sphere sits on it.
    Matrix34 boxPose = pose;
    normalizeAxes(boxPose);
    const float back = boxHeight / 2.0f + boxWidth + 0.2f;
    for (int k = 0; k < 3; ++k) boxPose.m[9 + k] += axis(boxPose, 2)[k] * back;
    const float halfExtents[3] = {boxWidth / 2.0f, boxHeight / 2.0f, boxWidth / 2.0f};
    box.setFromExtents(boxPose, halfExtents);
    sphere.setFromSize(pose, sphereRadius);
    updateVisibility();
    return true;
}

void CameraCore::updateVisibility() {
    if (owner_) pvs.update(owner_->pvs, *this);
}

void CameraCore::takePose(const CurrentTime& sample) {
    switch (effectiveMode()) {
    case 5:
        if (!blender.empty()) {
            Matrix34 blended;
            float factor = 0.0f;
            if (blender.update(sample, blended, factor)) {
                // A pose that is not finite is never taken.
                if (std::all_of(std::begin(blended.m), std::end(blended.m), [](float v) { return std::isfinite(v); }) &&
                    std::isfinite(factor)) {
                    pose = blended;
                    fovFactor = factor;
                }
            } else if (blender.empty()) {
                finishStack();
            }
        }
        break;
    case 7: {
        Matrix34 screen;
        if (cameraServices.screenPose && cameraServices.screenPose(screen)) pose = screen;
        break;
    }
    case 8:
        if (autoCamera) autoCamera->step(pose, sample);
        break;
    case 2:
    case 4:
    case 6: {
        // The game views of the input core.
        bool (*view)(double, Matrix34&) = effectiveMode() == 2   ? cameraServices.freeView
                                          : effectiveMode() == 4 ? cameraServices.smoothedView
                                                                 : cameraServices.fixedView;
        Matrix34 taken;
        if (view && view(sample.real.time, taken)) pose = taken;
        break;
    }
    default:
        // Modes 0, 1 and 3 keep the pose the game core placed.
        break;
    }
}

void CameraCore::applyPose() {
    float fov = defaultFov();
    if (fovFactor > 0.0f)
        fov = static_cast<float>(2.0 * std::atan(std::tan(fov * kPi / 360.0) / fovFactor) * 180.0 / kPi);
    setProjection(fov);
    matrix34Inverse(pose, viewTransform);
    toMatrix44(viewTransform, viewMatrix);
    toMatrix44(pose, worldMatrix);
    frustum.setTransform(viewTransform, pose);
    if (effect == CameraEffectCrazy) {
        const double t = time;
        const float h = horizontalFactor, v = verticalFactor;
        const float n = cameraSettings.clipNear, f = cameraSettings.clipFar;
        const float q = f / (n - f);
        const float a = static_cast<float>(2.0 / ((1.0 - 0.05) * h + 0.05 * h * std::sin(1.5 * t + 0.6)));
        const float b = static_cast<float>(2.0 / ((1.0 - 0.05) * v + 0.05 * v * std::sin(1.0 * t + 0.2)));
        const float rows[16] = {a, static_cast<float>(0.1 * std::cos(1.0 * t + 3.0)), 0, 0,
                                static_cast<float>(0.1 * std::cos(0.5 * t + 0.5)), b, 0, 0,
                                0, 0, q, -1,
                                0, 0, q * n, 0};
        std::memcpy(projectionMatrix, rows, sizeof(rows));
    } else {
        std::memcpy(projectionMatrix, frustum.projection, sizeof(projectionMatrix));
    }
    matrix44Multiply(viewMatrix, projectionMatrix, viewProjection);
}

void CameraCore::updateFocus(const CurrentTime& sample) {
    const CameraSettings& s = cameraSettings;
    if (effectiveMode() == 4) {
        focus[0] = 20.0f;
        focus[1] = -100.0f;
        return;
    }
    float distance = focusSmoother.stages.empty() ? s.dofMaximumFocusDistance : lastFocus;
    GameObject* character = owner_ ? owner_->mainCharacterObject() : nullptr;
    Matrix34 target;
    float offset[3];
    if (owner_ && owner_->findLookTarget(target, nullptr)) {
        // The scene's look target, unless it lies too far off the view
        // axis: then the last focus stays.
        for (int k = 0; k < 3; ++k) offset[k] = target.m[9 + k] - pose.m[9 + k];
        const float length = vector3Length(offset);
        float view[3] = {-pose.m[6], -pose.m[7], -pose.m[8]};
        vector3Normalize(view);
        if (length > 0.0f && vector3Dot(offset, view) / length >= kFocusCone) distance = length;
        else distance = lastFocus;
    } else if (character && character->getWorldMatrix(target)) {
        for (int k = 0; k < 3; ++k) offset[k] = target.m[9 + k] - pose.m[9 + k];
        distance = vector3Length(offset);
    }
    distance = std::clamp(distance, s.dofMinimalFocusDistance, s.dofMaximumFocusDistance);
    const float value[3] = {distance, 0.0f, 0.0f};
    if (focusSmoother.stages.empty()) {
        focusSmoother.setStages(static_cast<std::uint32_t>(std::max(s.dofSmoothCount, 1)), s.dofSmoothStart,
                                s.dofSmoothStep);
        focusSmoother.reset(value, sample.game.time);
    } else {
        smoothVectorTo(focusSmoother, value, sample.game.time);
    }
    lastFocus = distance;
    focus[0] = focusSmoother.output[0];
    focus[1] = 0.0f;
}

bool CameraCore::setEffect(const char* effectName) {
    std::string lowered = effectName ? effectName : "";
    for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (std::uint32_t i = 0; i < 2; ++i)
        if (lowered == kEffectNames[i]) {
            effect = i;
            return true;
        }
    Log& log = engineLog();
    log.error("------------------%s----------------------------------------", name);
    return log.error("Can't set effect: invalid name: possible names is [%s]", "none, crazy");
}

void CameraCore::restart(bool, const CurrentTime&) {
    if (autoCamera) autoCamera->restart();
    currentFov = -1.0f;
    setProjection(-1.0f);
    pinMode();
}

bool CameraCore::playStack(const CameraStack& stack, bool) {
    if (stack.items.empty()) return engineLog().error("Camera [%s]: camera stack is empty", name);
    if (!blender.play(stack, pose)) {
        // Nothing plays: a blender left empty must not hold the stack mode.
        if (blender.empty() && (gameCore.flags & kGameFlagCameraOverride)) finishStack();
        return false;
    }
    gameCore.flags |= kGameFlagCameraOverride;
    reselectCameraMode();
    return true;
}

void CameraCore::finishStack() {
    blender.clear();
    gameCore.flags &= ~kGameFlagCameraOverride;
    reselectCameraMode();
}

void CameraCore::stopStack() { finishStack(); }

void CameraCore::onScenePopped() {
    time = 0.0;
    finishStack();
    if (owner_) pvs.reset(owner_->pvs);
}

void CameraCore::projectToScreen(const float* point, float* screen) const {
    const float p[4] = {point[0], point[1], point[2], 1.0f};
    float q[4];
    for (int col = 0; col < 4; ++col) {
        double sum = 0.0;
        for (int k = 0; k < 4; ++k) sum += static_cast<double>(p[k]) * viewProjection[k * 4 + col];
        q[col] = static_cast<float>(sum);
    }
    const float w = std::fabs(q[3]) > 1e-6f ? std::fabs(q[3]) : 1e-6f;
    // Screen y grows downwards, as screenRay reads it.
    screen[0] = (q[0] / w + 1.0f) * 512.0f;
    screen[1] = (1.0f - q[1] / w) * 384.0f;
    if (q[3] <= 0.0f) {
        screen[0] += screen[0] < 512.0f ? -kOffScreen : kOffScreen;
        screen[1] += screen[1] < 384.0f ? -kOffScreen : kOffScreen;
    }
}

void CameraCore::screenRay(float x, float y, float* direction) const {
    const float local[3] = {(x / 512.0f - 1.0f) / horizontalFactor, (1.0f - y / 384.0f) / verticalFactor, -1.0f};
    for (int k = 0; k < 3; ++k)
        direction[k] = local[0] * pose.m[k] + local[1] * pose.m[3 + k] + local[2] * pose.m[6 + k];
    vector3Normalize(direction);
}

bool CameraCore::isObjectVisible(GameObject* object) const {
    if (!object) return false;
    if (object->getType() == ObjectModel) {
        const auto& elements = static_cast<const Model*>(object)->elements;
        return std::any_of(elements.begin(), elements.end(), [this](const ModelElement& element) {
            return frustum.intersects(element.bounds());
        });
    }
    Matrix34 world;
    if (!object->getWorldMatrix(world)) return false;
    IntersectionSphere point;
    point.setFromSize(world, 0.0f);
    return frustum.intersects(point);
}

bool CameraCore::isObjectVisible(std::int32_t itemIndex, Model* model) {
    if (!model || itemIndex < 0 || itemIndex > 0xFF || static_cast<std::size_t>(itemIndex) >= model->actionItems.size())
        return false;
    const float* spot = model->actionItems[static_cast<std::size_t>(itemIndex)].spot;
    IntersectionSphere point;
    Matrix34 at = matrix34Identity();
    for (int k = 0; k < 3; ++k) at.m[9 + k] = spot[k];
    point.setFromSize(at, 0.05f);
    if (!frustum.intersects(point)) return false;
    float offset[3];
    for (int k = 0; k < 3; ++k) offset[k] = spot[k] - pose.m[9 + k];
    const float distance = vector3Dot(offset, offset);
    if (!hover || distance < hoverDistance) {
        hover = (model->id & 0xFFFFFFu) | (static_cast<std::uint32_t>(itemIndex) << 24);
        hoverDistance = distance;
    }
    return true;
}

bool CameraCore::isWithinDistance(GameObject* object) const {
    if (!object || (object->getType() != ObjectModel && object->getType() != ObjectParticle)) return false;
    Matrix34 world;
    if (!object->getWorldMatrix(world)) return false;
    // The radius reaches the farthest corner of the model's element boxes.
    float radius = 0.0f;
    if (object->getType() == ObjectModel)
        for (const ModelElement& element : static_cast<const Model*>(object)->elements) {
            const IntersectionOBBox& box = element.bounds();
            float offset[3];
            for (int k = 0; k < 3; ++k) offset[k] = box.box.matrix.m[9 + k] - world.m[9 + k];
            radius = std::max(radius, vector3Length(offset) + box.radius());
        }
    float offset[3];
    for (int k = 0; k < 3; ++k) offset[k] = world.m[9 + k] - pose.m[9 + k];
    return vector3Length(offset) - radius < gameCore.renderParameters[12];
}

void CameraCore::setClipPlane(const float* point, const float* normal) {
    const float plane[4] = {normal[0], normal[1], normal[2], -vector3Dot(normal, point)};
    float inverse[16];
    if (!matrix44Inverse(viewProjection, inverse)) {
        clipPlaneSet = false;
        return;
    }
    // Planes go through the inverse transpose: row j of the inverse.
    for (int j = 0; j < 4; ++j) {
        double sum = 0.0;
        for (int k = 0; k < 4; ++k) sum += static_cast<double>(plane[k]) * inverse[j * 4 + k];
        clipPlane[j] = static_cast<float>(sum);
    }
    clipPlaneSet = true;
}

void CameraCore::setMirrorPlane(const float* point, const float* normal) {
    ProcMirror* mirror = gameCore.render ? gameCore.render->mirrorTarget() : nullptr;
    if (!mirror) return;
    std::memcpy(mirror->mirrorPoint, point, sizeof(mirror->mirrorPoint));
    std::memcpy(mirror->mirrorNormal, normal, sizeof(mirror->mirrorNormal));
    mirror->renderRequested = true;
}

bool CameraCore::renderMirror() {
    RenderCore* render = gameCore.render;
    ProcMirror* mirror = render ? render->mirrorTarget() : nullptr;
    if (!mirror) return false;
    // Without a user clip plane what lies behind the mirror would show in
    // it: such a device draws no reflection (the water takes the sky).
    if (!render->userClipPlanes()) {
        mirror->renderRequested = false;
        mirror->rendered = false;
        return false;
    }
    return mirror->renderReflection(this);
}

void CameraCore::renderFrame(std::uint32_t renderMode) {
    RenderCore* render = gameCore.render;
    if (!render) return;
    const std::int32_t index = RenderCore::stateIndex();
    if (renderMode == kCameraModeFollow && !RenderCore::drawsScene(index)) return;
    render->renderObjectPass(renderMode == kCameraModeFollow ? mode : renderMode, index);
}

void CameraCore::resetFrameState() {
    RenderCore* render = gameCore.render;
    if (!render) return;
    render->shaders().resetPass();
    const bool saved = render->secondaryPass;
    render->secondaryPass = true;
    render->renderContextsShaderPass();
    render->secondaryPass = saved;
}

void CameraCore::updateFrustum() { updateFrustumRange(cameraSettings.clipNear, cameraSettings.clipFar); }

void CameraCore::updateFrustumRange(float nearDistance, float farDistance) {
    const float verticalAngle = static_cast<float>(2.0 * std::atan(1.0 / verticalFactor) * 180.0 / kPi);
    frustum.setPerspective(currentFov, verticalAngle, nearDistance, farDistance);
    frustum.setTransform(viewTransform, pose);
}

std::int32_t CameraCore::write(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, s.write(name, sizeof(name)))) return total;
    if (writeFloats(s, viewTransform.m, 12, total) < 0 || writeFloats(s, pose.m, 12, total) < 0 ||
        writeFloats(s, viewMatrix, 16, total) < 0 || writeFloats(s, worldMatrix, 16, total) < 0 ||
        writeFloats(s, projectionMatrix, 16, total) < 0 || writeFloats(s, viewProjection, 16, total) < 0)
        return total;
    if (!addField(total, writeU32(s, effect))) return total;
    if (!addField(total, box.write(s)) || !addField(total, sphere.write(s)) || !addField(total, frustum.write(s)))
        return total;
    if (!addField(total, writeU32(s, hover)) || !addField(total, writeU32(s, previousHover))) return total;
    if (!addField(total, writeF32(s, sphereRadius)) || !addField(total, writeF32(s, boxHeight)) ||
        !addField(total, writeF32(s, boxWidth)))
        return total;
    if (!addField(total, blender.write(s))) return total;
    if (!addField(total, autoCamera->write(s))) return total;
    if (!addField(total, pvs.write(s))) return total;
    if (!addField(total, writeU32(s, mode))) return total;
    addField(total, writeU32(s, lastMappedMode));
    return total;
}

std::int32_t CameraCore::read(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, readExact(s, name, sizeof(name)))) return total;
    name[sizeof(name) - 1] = 0;
    float scratch[16];
    if (readFloats(s, viewTransform.m, 12, total) < 0 || readFloats(s, pose.m, 12, total) < 0 ||
        readFloats(s, viewMatrix, 16, total) < 0 || readFloats(s, worldMatrix, 16, total) < 0 ||
        readFloats(s, scratch, 16, total) < 0 || readFloats(s, viewProjection, 16, total) < 0)
        return total;
    if (!addField(total, readU32(s, effect))) return total;
    if (effect > CameraEffectCrazy) effect = CameraEffectNone;
    if (!addField(total, box.read(s)) || !addField(total, sphere.read(s)) || !addField(total, frustum.read(s)))
        return total;
    if (!addField(total, readU32(s, hover)) || !addField(total, readU32(s, previousHover))) return total;
    if (!addField(total, readF32(s, sphereRadius)) || !addField(total, readF32(s, boxHeight)) ||
        !addField(total, readF32(s, boxWidth)))
        return total;
    if (!addField(total, blender.read(s))) return total;
    if (!addField(total, autoCamera->read(s))) return total;
    // Checked against the scene's areas by the scene's read, which reads
    // those after its cameras.
    if (!addField(total, pvs.read(s))) return total;
    if (!addField(total, readU32(s, mode))) return total;
    if (!addField(total, readU32(s, lastMappedMode))) return total;
    // The projection is rebuilt from the settings, not taken from the save.
    currentFov = -1.0f;
    setProjection(-1.0f);
    if (effect == CameraEffectCrazy) std::memcpy(projectionMatrix, scratch, sizeof(projectionMatrix));
    return total;
}

// ---- CameraBlender

namespace {

// The still-frame item laid over the view by a cross-fade, and the texture
// it shows: the last frame before the cut.
const char* const kCrossFadeItem = "camera_blend";
const char* const kScreenShotTexture = "procScreenShot";

StillFrameData* stillFrameData() { return gameCore.render ? &gameCore.render->stillFrames().data : nullptr; }

void removeCrossFadeOverlay() {
    if (StillFrameData* frames = stillFrameData())
        if (StillFrameScriptDataItem* overlay = frames->find(kCrossFadeItem)) frames->deleteObject(overlay);
}

// The fade time of an item's start (0 for a cross-fade, which cuts).
float fadeIn(const CameraStackItem& item) { return item.crossFade ? 0.0f : item.blendTime; }
float curveOf(const CameraStackItem& item) { return item.curve == 0.0f ? 1.0f : item.curve; }

}  // namespace

bool CameraBlender::play(const CameraStack& stack, const Matrix34& startPose) {
    // Every item's envelope is tried first: a stack with an item whose
    // timing cannot be set (a negative or non-finite time, a curve outside
    // its range) is not played at all, so that no stack runs without end.
    for (std::size_t i = 0; i < stack.items.size(); ++i) {
        CameraBlendEntry trial;
        if (!setEnvelope(trial, 0.0, stack.items[i], i + 1 < stack.items.size() ? &stack.items[i + 1] : nullptr))
            return engineLog().error("Camera [%s]: can't set the envelope of stack item %u [%s]", owner_.name,
                                     static_cast<unsigned>(i), stack.items[i].name);
    }
    base = entries.empty() ? startPose : owner_.pose;
    current = base;
    const CameraStackItem& first = stack.items.front();
    if (!entries.empty()) {
        // A blending start fades out of the newest live entry; otherwise
        // the new stack cuts in.
        auto newest = std::find_if(entries.rbegin(), entries.rend(), [](const CameraBlendEntry& e) { return e.alive; });
        if (fadeIn(first) > 0.0f && newest != entries.rend()) {
            CameraBlendEntry kept = *newest;
            kept.envelope.setEnd(0.0, fadeIn(first));
            clear();
            entries.push_back(kept);
        } else {
            clear();
        }
    }
    for (std::size_t i = 0; i < stack.items.size(); ++i)
        append(stack.items[i], i + 1 < stack.items.size() ? &stack.items[i + 1] : nullptr);
    return !entries.empty();
}

bool CameraBlender::setEnvelope(CameraBlendEntry& entry, double start, const CameraStackItem& item,
                                const CameraStackItem* next) {
    BlenderHeader& envelope = entry.envelope;
    envelope.setLow(0.0f);
    envelope.setHigh(1.0f);
    envelope.coefficient = curveOf(item);
    if (!(item.hold >= 0.0f) || !std::isfinite(item.hold) || !envelope.setStart(start, fadeIn(item))) return false;
    if (next) envelope.coefficient = curveOf(*next);
    const double end = start + fadeIn(item) + item.hold;
    return std::isfinite(end) && envelope.setEnd(end, next ? fadeIn(*next) : 0.0f);
}

void CameraBlender::append(const CameraStackItem& item, const CameraStackItem* next) {
    CameraBlendEntry entry;
    entry.item = item;
    double start = 0.0;
    if (!entries.empty()) {
        const BlenderHeader& newest = entries.back().envelope;
        if (newest.endTime >= 0.0) start = std::max(0.0, newest.endTime - newest.elapsed);
    }
    if (!setEnvelope(entry, start, item, next)) {
        engineLog().error("Camera [%s]: can't set the envelope of stack item [%s]", owner_.name, item.name);
        return;
    }
    entry.envelope.run();
    if (item.crossFade) {
        // The overlay shows fully at the cut and fades out over the blend.
        BlenderHeader& fade = entry.crossFade.envelope;
        fade.setLow(0.0f);
        fade.setHigh(1.0f);
        fade.coefficient = 1.0f;
        if (fade.setStart(start, 0.0) && fade.setEnd(start, item.blendTime) && fade.run())
            std::strncpy(entry.crossFade.item, kCrossFadeItem, sizeof(entry.crossFade.item) - 1);
    }
    entry.curve[2] = curveOf(item);
    entry.pose = owner_.pose;
    entries.push_back(entry);
}

void CameraBlender::clear() {
    if (std::any_of(entries.begin(), entries.end(), [](const CameraBlendEntry& e) { return e.crossFade.item[0]; }))
        removeCrossFadeOverlay();
    std::vector<CameraBlendEntry>().swap(entries);
}

void CameraBlender::updateCrossFade(CameraBlendEntry& entry, const CurrentTime& time) {
    BlenderHeader& fade = entry.crossFade.envelope;
    fade.update(time);
    StillFrameData* frames = stillFrameData();
    StillFrameScriptDataItem* overlay = frames ? frames->find(kCrossFadeItem) : nullptr;
    if (!fade.enabled || !entry.alive) {
        if (!fade.enabled) {
            if (overlay) frames->deleteObject(overlay);
            entry.crossFade.item[0] = 0;
        }
        return;
    }
    if (!overlay && frames) overlay = frames->create(kCrossFadeItem, kScreenShotTexture, 0.0f, 0.0f, 1024.0f, 768.0f);
    if (!overlay) return;
    const float level = fade.level;
    for (int i = 0; i < 3; ++i) overlay->color[i] = 0.5f * level;
    overlay->color[3] = level;
}

void CameraBlender::stopEntry(CameraBlendEntry& entry) {
    if (entry.ended) {
        engineLog().error("Camera item [%s] already stopped. Can't stop twice", entry.item.name);
        return;
    }
    entry.alive = false;
    entry.ended = true;
}

bool CameraBlender::update(const CurrentTime& time, Matrix34& out, float& fovFactor) {
    if (entries.empty()) return engineLog().error("INVALID CAMERA BLENDER STATE: STACK IS EMPTY AT UPDATE START");
    for (CameraBlendEntry& entry : entries) {
        // A live entry's envelope is switched off only by its own end.
        if (entry.alive && !entry.envelope.enabled) {
            engineLog().error("Camera [%s] must be stopped when stack blender disabled", owner_.name);
            stopEntry(entry);
            continue;
        }
        if (!entry.envelope.update(time)) engineLog().error("Camera [%s] blender not updated correctly", owner_.name);
        if (entry.alive && !entry.envelope.enabled) {
            stopEntry(entry);
            continue;
        }
        if (!entry.alive && entry.envelope.level != 0.0f) entry.alive = true;
        if (entry.crossFade.item[0]) updateCrossFade(entry, time);
        if (entry.alive && (!entry.started || (entry.item.flags & CameraItemFollow))) computePose(entry);
    }
    // Entries that have run their course leave the front.
    while (!entries.empty() && (entries.front().ended || !entries.front().envelope.enabled)) {
        if (entries.front().crossFade.item[0]) removeCrossFadeOverlay();
        entries.erase(entries.begin());
    }
    if (entries.empty()) return false;

    const CameraBlendEntry& first = entries[0];
    if (entries.size() == 1 || !entries[1].alive) {
        const float level = first.alive ? first.envelope.level : 0.0f;
        blendTransforms(base, first.pose, out, level);
        fovFactor = 1.0f + level * (first.result[0] - 1.0f);
    } else {
        const CameraBlendEntry& second = entries[1];
        const float level = second.envelope.level;
        blendTransforms(first.pose, second.pose, out, level);
        fovFactor = level * second.result[0] + (1.0f - level) * first.result[0];
    }
    current = out;
    return true;
}

namespace {

// A target point; false (logged) when its object or bone is missing. A
// missing bone is dropped, so later frames use the object.
bool resolveTarget(Scene* scene, CameraTarget& target, const Matrix34& pose, float* out) {
    if (!target.object[0]) {
        for (int k = 0; k < 3; ++k) out[k] = pose.m[9 + k] - pose.m[6 + k] * target.value;
        return true;
    }
    Matrix34 found;
    bool boneMissing = false;
    if (!entityPose(scene, target.object, target.bone, found, boneMissing)) {
        if (boneMissing) {
            engineLog().error("Camera target: Can't find bone [%s] in model [%s]", target.bone, target.object);
            engineLog().error("Remove bone link from this camera target");
            std::memset(target.bone, 0, sizeof(target.bone));
            return false;
        }
        return engineLog().error("Expected object name for camera target");
    }
    for (int k = 0; k < 3; ++k) out[k] = found.m[9 + k];
    out[1] += target.value;
    return true;
}

}  // namespace

bool CameraBlender::computePose(CameraBlendEntry& entry) {
    CameraStackItem& item = entry.item;
    Scene* scene = owner_.owner();
    Matrix34 p = owner_.pose;
    const bool firstFrame = !entry.started;
    if (std::strcmp(item.name, "current") == 0) {
        p = owner_.pose;
    } else if (std::strcmp(item.name, "head") == 0) {
        GameObject* character = scene ? scene->mainCharacterObject() : nullptr;
        if (!character) return false;
        // The smoothed eye view; the character's own pose without an input
        // core.
        if (!(cameraServices.smoothedView && cameraServices.smoothedView(CurrentTime(-1.0).real.time, p)) &&
            !character->getWorldMatrix(p))
            return false;
    } else if (std::strcmp(item.name, "link") == 0 || std::strcmp(item.name, "trace") == 0) {
        if (item.flags & CameraItemTarget) {
            bool boneMissing = false;
            if (!entityPose(scene, item.target.object, item.target.bone, p, boneMissing))
                return engineLog().error("Expected object name for camera target");
        }
        if (item.name[0] == 't' && firstFrame && (item.flags & CameraItemCenter)) {
            float centre[3];
            if (!resolveTarget(scene, item.center, p, centre)) return false;
            const float up[3] = {0.0f, 1.0f, 0.0f};
            cameraLookAt(p, centre, up);
        }
    } else {
        const Y3Pose* waypoint = scene ? scene->findWaypoint(item.name, PoseCamera) : nullptr;
        if (!waypoint) return engineLog().error("Can't find camera with name [%s]", item.name);
        p = cameraPoseOfWaypoint(waypoint->pose);
    }
    entry.previousBasePose = entry.basePose;
    entry.basePose = p;
    normalizeAxes(p);

    if (item.flags & CameraItemRotation) {
        float centre[3] = {p.m[9], p.m[10], p.m[11]};
        if ((item.flags & CameraItemCenter) && !resolveTarget(scene, item.center, p, centre)) return false;
        const float second[3] = {p.m[3], p.m[4], p.m[5]};
        rotatePose(p, second, item.rotation[0], centre);
        const float first[3] = {p.m[0], p.m[1], p.m[2]};
        rotatePose(p, first, -item.rotation[1], centre);
    }
    if (item.flags & CameraItemTwist) {
        const float third[3] = {p.m[6], p.m[7], p.m[8]};
        rotatePose(p, third, item.twist, &p.m[9]);
    }
    if (item.flags & CameraItemPan)
        for (int k = 0; k < 3; ++k) p.m[9 + k] += p.m[k] * item.pan[0] + p.m[3 + k] * item.pan[1];
    if (item.flags & CameraItemZoom)
        for (int k = 0; k < 3; ++k) p.m[9 + k] -= p.m[6 + k] * item.zoom;
    entry.result[0] = (item.flags & CameraItemFov) ? 1.0f + item.fov : 1.0f;
    entry.result[1] = item.twist;
    entry.result[2] = item.zoom;
    entry.lookTarget = (item.flags & CameraItemTarget) != 0;
    if (entry.lookTarget) {
        float target[3];
        if (!resolveTarget(scene, item.target, p, target)) return false;
        const float up[3] = {p.m[3], p.m[4], p.m[5]};
        cameraLookAt(p, target, up);
        entry.targetPose = p;
    }
    for (int k = 0; k < 3; ++k) {
        if (!(item.shakeAxes & (1u << k))) continue;
        const float angle = static_cast<float>(2.0 * MersenneTwister::nextDouble() - 1.0) * item.shake[k][0];
        const float direction[3] = {p.m[3 * k], p.m[3 * k + 1], p.m[3 * k + 2]};
        const float centre[3] = {p.m[9], p.m[10], p.m[11]};
        rotatePose(p, direction, angle, centre);
    }
    entry.pose = p;
    entry.started = true;
    if (firstFrame && (item.flags & CameraItemSnap) && cameraServices.startViewsAt)
        cameraServices.startViewsAt(p, CurrentTime(-1.0).real.time);
    return true;
}

namespace {

// The raw size of a cross-fade block in the entry record.
constexpr std::int32_t kCrossFadeEnvelopeSize = 96;

std::int32_t writeEnvelopeBlock(DataStream& s, const BlenderHeader& envelope) {
    std::int32_t total = 0;
    if (!addField(total, envelope.write(s))) return total;
    const std::uint8_t pad[kCrossFadeEnvelopeSize - BlenderHeader::kRecordSize] = {};
    addField(total, s.write(pad, sizeof(pad)));
    return total;
}

std::int32_t readEnvelopeBlock(DataStream& s, BlenderHeader& envelope) {
    std::int32_t total = 0;
    if (!addField(total, envelope.read(s))) return total;
    std::uint8_t pad[kCrossFadeEnvelopeSize - BlenderHeader::kRecordSize];
    addField(total, readExact(s, pad, sizeof(pad)));
    return total;
}

// alive, cross-fade (96 + 128), u32, item, envelope, 16, 12, 1, 4 poses.
constexpr std::int32_t kEntryRecordSize = 1 + 224 + 4 + 724 + BlenderHeader::kRecordSize + 16 + 12 + 1 + 4 * 48;

}  // namespace

std::int32_t CameraBlender::write(DataStream& s) const {
    std::int32_t total = 0;
    if (writeFloats(s, current.m, 12, total) < 0 || writeFloats(s, base.m, 12, total) < 0) return total;
    if (!addField(total, writeU32(s, static_cast<std::uint32_t>(entries.size())))) return total;
    for (const CameraBlendEntry& e : entries) {
        if (!addField(total, writeU8(s, e.alive ? 1 : 0))) return total;
        if (!addField(total, writeEnvelopeBlock(s, e.crossFade.envelope))) return total;
        if (!addField(total, s.write(e.crossFade.item, sizeof(e.crossFade.item)))) return total;
        // The entry's state: bit 0 started, bit 1 ended.
        if (!addField(total, writeU32(s, (e.started ? 1u : 0u) | (e.ended ? 2u : 0u)))) return total;
        if (!addField(total, s.write(&e.item, sizeof(e.item)))) return total;
        if (!addField(total, e.envelope.write(s))) return total;
        if (writeFloats(s, e.curve, 4, total) < 0 || writeFloats(s, e.result, 3, total) < 0) return total;
        if (!addField(total, writeU8(s, e.lookTarget ? 1 : 0))) return total;
        for (const Matrix34* m : {&e.targetPose, &e.basePose, &e.previousBasePose, &e.pose})
            if (writeFloats(s, m->m, 12, total) < 0) return total;
    }
    return total;
}

std::int32_t CameraBlender::read(DataStream& s) {
    std::int32_t total = 0;
    if (readFloats(s, current.m, 12, total) < 0 || readFloats(s, base.m, 12, total) < 0) return total;
    std::uint32_t count = 0;
    if (!addField(total, readU32(s, count))) return total;
    if (count > static_cast<std::uint32_t>(bytesLeft(s) / kEntryRecordSize)) {
        engineLog().error("Camera [%s]: blender record holds %u entries, but only %i bytes follow", owner_.name,
                          count, bytesLeft(s));
        return -1;
    }
    std::vector<CameraBlendEntry> loaded(count);
    for (CameraBlendEntry& e : loaded) {
        std::uint8_t flag = 0;
        std::uint32_t state = 0;
        if (!addField(total, readU8(s, flag))) return total;
        e.alive = flag != 0;
        if (!addField(total, readEnvelopeBlock(s, e.crossFade.envelope))) return total;
        if (!addField(total, readExact(s, e.crossFade.item, sizeof(e.crossFade.item)))) return total;
        e.crossFade.item[127] = 0;
        if (!addField(total, readU32(s, state))) return total;
        e.started = (state & 1u) != 0;
        e.ended = (state & 2u) != 0;
        if (!addField(total, readExact(s, &e.item, sizeof(e.item)))) return total;
        e.item.name[127] = 0;
        e.item.target.object[127] = e.item.target.bone[127] = 0;
        e.item.center.object[127] = e.item.center.bone[127] = 0;
        if (!addField(total, e.envelope.read(s))) return total;
        if (readFloats(s, e.curve, 4, total) < 0 || readFloats(s, e.result, 3, total) < 0) return total;
        if (!addField(total, readU8(s, flag))) return total;
        e.lookTarget = flag != 0;
        for (Matrix34* m : {&e.targetPose, &e.basePose, &e.previousBasePose, &e.pose})
            if (readFloats(s, m->m, 12, total) < 0) return total;
    }
    entries.swap(loaded);
    return total;
}
