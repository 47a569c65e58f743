// The camera of a scene: each frame it takes its pose by the camera mode
// (its own fixed pose, the scripted camera stack, the automatic camera),
// derives view, projection and frustum, follows the depth-of-field focus and
// raises the hover and screen-action world events. It owns the blender that
// plays camera stacks and the automatic camera, and is saved with its scene.
//
// Poses are 3-by-4 matrices of three axis rows and the position; the third
// axis points from what the camera looks at toward the camera. The virtual
// screen is 1024 x 768.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/BlenderHeader.h"
#include "foundation/Intersection.h"
#include "scene/ScenePVS.h"
#include "foundation/Math.h"
#include "foundation/Smoother.h"
#include "scene/CameraStack.h"

class CameraAuto;
class CameraCore;
class DataStream;
class GameObject;
class Model;
class Scene;
struct CurrentTime;

// Services of the game core that the cameras call; the application sets
// them at start. Unset ones do nothing.
struct CameraServices {
    // Re-applies the game's camera mode (after a stack starts or ends).
    bool (*selectCameraMode)() = nullptr;
    // The index of the screen action under the cursor, -1 for none.
    std::int32_t (*actionAtCursor)() = nullptr;
    // The pose of the scene's screen-actions sprite (camera mode 7);
    // false when there is none.
    bool (*screenPose)(Matrix34& out) = nullptr;
    // The free distance along a line (from, unit direction, distance),
    // for the flyer's scene test; unset: the distance itself.
    float (*physicsDistance)(const float* from, const float* direction, float distance) = nullptr;
    // The input core's views for a time: the free-flying view (camera mode
    // 2), the smoothed eye view (mode 4 and the stack's "head" pose) and the
    // smoothed fixed-camera view (mode 6). False when there is no input core.
    bool (*freeView)(double time, Matrix34& out) = nullptr;
    bool (*smoothedView)(double time, Matrix34& out) = nullptr;
    bool (*fixedView)(double time, Matrix34& out) = nullptr;
    // A stack item's "!": the game views start over at the pose.
    void (*startViewsAt)(const Matrix34& pose, double time) = nullptr;
    // Width / height of the display mode, used when "fixed_aspect_ratio" is off.
    float displayAspect = 4.0f / 3.0f;
};
extern CameraServices cameraServices;

// Camera effects (CameraCore::effect).
enum CameraEffect : std::uint32_t { CameraEffectNone = 0, CameraEffectCrazy = 1 };

// The camera mode that follows the game's camera mode through the table.
constexpr std::uint32_t kCameraModeFollow = 10;
// The camera mode of each game camera mode (index 11: a stack plays).
std::uint32_t mappedCameraMode(std::int32_t gameModeIndex);
// The input mode of each game camera mode (index 11: a stack plays); only
// input mode 0 lets the player steer the main character.
std::int32_t inputModeOf(std::int32_t gameModeIndex);

// The axes of a pose from its backward (third) axis and an up direction:
// first = up x third, second = third x first. Nothing changes when up is
// parallel to the third axis.
void setCameraAxes(Matrix34& pose, const float* back, const float* up);
// The pose turns to look at target; a target at its position changes nothing.
void cameraLookAt(Matrix34& pose, const float* target, const float* up);

// The fade envelope and overlay item of a screenshot cross-fade.
struct CameraCrossFade {
    BlenderHeader envelope;
    char item[128] = {};
};

struct CameraBlendEntry {
    bool alive = false;
    // Set once the entry's envelope ran and ended.
    bool ended = false;
    // The first frame of the entry has been computed.
    bool started = false;
    CameraCrossFade crossFade;
    CameraStackItem item{};
    BlenderHeader envelope;
    // 0, 1.0, the item's curve value (1.0 for 0), 1.0.
    float curve[4] = {0.0f, 1.0f, 1.0f, 1.0f};
    // Field-of-view factor (1 = unchanged), twist and zoom of the pose.
    float result[3] = {1.0f, 0.0f, 0.0f};
    bool lookTarget = false;
    Matrix34 targetPose{};
    Matrix34 basePose{};
    Matrix34 previousBasePose{};
    Matrix34 pose{};
};

// Plays camera stacks: one entry per item, each fading in and out by its
// envelope, the output blended from the first two entries.
class CameraBlender {
public:
    explicit CameraBlender(CameraCore& owner) : owner_(owner) {}

    bool empty() const { return entries.empty(); }
    // Starts a stack from the given pose (the camera's pose when it plays).
    // A stack with an item whose envelope cannot be set is refused whole
    // (logged, false) and the blender keeps what it played.
    bool play(const CameraStack& stack, const Matrix34& startPose);
    // Advances every entry; false when the blender is empty (logged) or
    // it emptied in this step. out takes the blended pose and fovFactor the
    // blended field-of-view factor.
    bool update(const CurrentTime& time, Matrix34& out, float& fovFactor);
    // Drops every entry and a cross-fade overlay still shown.
    void clear();

    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);

    Matrix34 current{};
    Matrix34 base{};
    std::vector<CameraBlendEntry> entries;

private:
    void append(const CameraStackItem& item, const CameraStackItem* next);
    // A cross-fade entry's overlay ("camera_blend" over the still frames,
    // showing the screenshot) fades out with its envelope and is removed
    // when the envelope ends.
    void updateCrossFade(CameraBlendEntry& entry, const CurrentTime& time);
    // The entry's item stops; an item stopped before is logged and left.
    static void stopEntry(CameraBlendEntry& entry);
    // The entry's envelope from the item's timing and its successor's;
    // false when a time or the curve cannot be set.
    static bool setEnvelope(CameraBlendEntry& entry, double start, const CameraStackItem& item,
                            const CameraStackItem* next);
    // The entry's pose for this frame; false when its camera or target is
    // missing (the entry keeps its last pose).
    bool computePose(CameraBlendEntry& entry);

    CameraCore& owner_;
};

class CameraCore {
public:
    CameraCore(Scene* owner, const char* name);
    ~CameraCore();
    CameraCore(const CameraCore&) = delete;
    CameraCore& operator=(const CameraCore&) = delete;

    // Resets the per-frame state, sets the projection (fov < 0: the
    // default) and the collision volumes.
    bool initialize(float fov);
    // A negative field of view takes the default.
    void setProjection(float fov);
    // The default field of view: "camera_fov" in camera mode 5 when set,
    // else "fov".
    float defaultFov() const;
    // The per-frame update.
    bool update(const CurrentTime& time);
    // "none" or "crazy", compared lower-cased; another name is logged and
    // keeps the effect.
    bool setEffect(const char* name);
    // A new game camera mode: the automatic camera starts over, the
    // projection returns to the default and the mode pinning runs.
    void restart(bool smooth, const CurrentTime& time);
    // Starts a stack (camera mode 5 through the game core's flag 0x10).
    bool playStack(const CameraStack& stack, bool flag);
    // Ends a playing stack at once.
    void stopStack();
    // The scene leaves: the blender empties, the stack mode ends.
    void onScenePopped();
    // The blender is emptied, flag 0x10 of the game core cleared and the
    // game's camera mode applied again.
    void finishStack();

    // World point to the 1024 x 768 screen (x, y); a point behind the
    // camera lies 20000 units off the screen.
    void projectToScreen(const float* point, float* screen) const;
    // The unit direction from the camera through a screen point.
    void screenRay(float x, float y, float* direction) const;
    // The object's bounding volume against the frustum: a model's element
    // boxes (any of them), another object's position.
    bool isObjectVisible(GameObject* object) const;
    // A model's action item offered as a pick candidate: taken when a
    // sphere of radius 0.05 around its spot point lies in the frustum. Of
    // the candidates of a frame the camera holds the one nearest to it as
    // its hover value (the model's handle, the item index in the top byte;
    // items past 255 are not taken).
    bool isObjectVisible(std::int32_t itemIndex, Model* model);
    // A model or particle whose distance from the camera, less its radius,
    // is below the visibility distance (the game core's thirteenth render
    // parameter); false for other objects.
    bool isWithinDistance(GameObject* object) const;
    // The clip plane (a, b, c, d) in clip space of a world plane through a
    // point with a normal; cleared by clearClipPlane.
    void setClipPlane(const float* point, const float* normal);
    void clearClipPlane() { clipPlaneSet = false; }
    // The mirror of this frame: a reflecting surface (a point on it and its
    // normal, pointing to the side it reflects) asks the render core's
    // mirror target to be drawn.
    void setMirrorPlane(const float* point, const float* normal);
    // Draws the requested mirror from this camera when the device can clip
    // (a user clip plane); false when nothing could be drawn.
    bool renderMirror();
    // Renders the current scene's object contexts through this camera:
    // mode 10 takes the camera's mode mapped by the game state, which
    // draws nothing in game state 6; another mode is drawn as given.
    void renderFrame(std::uint32_t renderMode);
    // The depth pass of the depth of field: a fresh shader pass, then every
    // active object context draws its shader-only pass, which writes the
    // blur amount into the frame's alpha.
    void resetFrameState();

    void updateFrustum();
    void updateFrustumRange(float nearDistance, float farDistance);
    // The camera mode in force: 10 mapped through the table.
    std::uint32_t effectiveMode() const;

    std::int32_t write(DataStream& stream);
    std::int32_t read(DataStream& stream);

    Scene* owner() const { return owner_; }
    const char* getName() const { return name; }
    const float* position() const { return &pose.m[9]; }

    char name[128] = {};
    float horizontalFactor = 1.0f;
    float verticalFactor = 1.0f;
    Matrix34 viewTransform{};
    Matrix34 pose{};
    float viewMatrix[16] = {};
    float worldMatrix[16] = {};
    float projectionMatrix[16] = {};
    float viewProjection[16] = {};
    std::uint32_t effect = CameraEffectNone;
    float currentFov = -1.0f;
    float fovFactor = 0.0f;
    IntersectionOBBox box;
    IntersectionSphere sphere;
    std::uint32_t hover = 0;
    std::uint32_t previousHover = 0;
    // The squared distance of this frame's hover candidate.
    float hoverDistance = 0.0f;
    std::int32_t screenAction = -1;
    VectorSmoother focusSmoother;
    float lastFocus = 20.0f;
    // Focus distance and the second focus value, read by the renderer.
    float focus[2] = {20.0f, 0.0f};
    float sphereRadius = 0.2f;
    float boxHeight = 1.8f;
    float boxWidth = 0.6f;
    std::uint32_t mode = kCameraModeFollow;
    std::uint32_t lastMappedMode = kCameraModeFollow;
    IntersectionFrustum frustum;
    float clipPlane[4] = {};
    bool clipPlaneSet = false;
    double time = 0.0;

    std::unique_ptr<CameraAuto> autoCamera;
    CameraBlender blender;
    // The areas and portals seen from the camera.
    PVSData pvs;
    // Recomputes pvs from the camera's sphere, frustum and pose.
    void updateVisibility();

private:
    void pinMode();
    void takePose(const CurrentTime& time);
    void applyPose();
    void updateFocus(const CurrentTime& time);
    void raiseEvents();

    Scene* owner_;
};

// The centred viewport (x, y, width, height) of aspect 1.25 inside a target
// (the display's own aspect when "fixed_aspect_ratio" is off).
void fixedAspectViewport(std::int32_t width, std::int32_t height, std::int32_t* viewport);
