// The camera core: projection, screen mapping, mode pinning, effects, the
// stack blender's end and the save record.
#include "scene/CameraCore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/DataStream.h"
#include "model/Model.h"
#include "render/RenderCore.h"
#include "ui/StillFrameData.h"
#include "scene/CameraFixture.h"
#include "scene/CameraSettings.h"
#include "support/TestSupport.h"

using testing_support::CameraScene;
using testing_support::frameAt;
using testing_support::poseAt;
using testing_support::ScopedGameCore;

namespace {

// Keeps the process-wide camera settings for the test.
struct SettingsGuard {
    CameraSettings saved = cameraSettings;
    float aspect = cameraServices.displayAspect;
    ~SettingsGuard() {
        cameraSettings = saved;
        cameraServices.displayAspect = aspect;
    }
};

std::vector<std::uint8_t> bytesOf(CameraCore& camera) {
    MemoryStream stream;
    EXPECT_GT(camera.write(stream), 0);
    return std::vector<std::uint8_t>(stream.data(), stream.data() + stream.size());
}

TEST(CameraCore, DefaultFieldOfViewAndFixedAspectGiveTheProjection) {
    ScopedGameCore core;
    SettingsGuard guard;
    cameraSettings = CameraSettings{};
    cameraServices.displayAspect = 16.0f / 9.0f;  // ignored while the aspect is fixed
    CameraCore camera(nullptr, "test");
    ASSERT_TRUE(camera.initialize(-1.0f));
    EXPECT_FLOAT_EQ(camera.currentFov, 73.0f);
    const float h = 1.0f / std::tan(36.5f * 3.14159265f / 180.0f);
    EXPECT_NEAR(camera.horizontalFactor, h, 1e-5f);
    EXPECT_NEAR(camera.verticalFactor, 1.25f * h, 1e-5f);
    const float q = 800.0f / (0.15f - 800.0f);
    const float expected[16] = {h, 0, 0, 0, 0, 1.25f * h, 0, 0, 0, 0, q, -1, 0, 0, q * 0.15f, 0};
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(camera.projectionMatrix[i], expected[i], 1e-5f) << i;

    // Without the fixed aspect the display's own aspect counts.
    cameraSettings.fixedAspectRatio = false;
    camera.setProjection(60.0f);
    EXPECT_NEAR(camera.verticalFactor / camera.horizontalFactor, 16.0f / 9.0f, 1e-5f);
}

TEST(CameraCore, ScreenProjectionRaysAndPointsBehind) {
    ScopedGameCore core;
    SettingsGuard guard;
    cameraSettings = CameraSettings{};
    CameraCore camera(nullptr, "test");
    camera.pose = poseAt(1.0f, 2.0f, 3.0f);
    camera.initialize(-1.0f);

    float screen[2];
    const float ahead[3] = {1.0f, 2.0f, -7.0f};
    camera.projectToScreen(ahead, screen);
    EXPECT_NEAR(screen[0], 512.0f, 1e-3f);
    EXPECT_NEAR(screen[1], 384.0f, 1e-3f);

    // A ray through the screen point of a world point runs through that point.
    const float point[3] = {3.0f, 3.0f, -6.0f};
    camera.projectToScreen(point, screen);
    EXPECT_GT(screen[0], 512.0f);
    EXPECT_LT(screen[1], 384.0f);  // above the centre: y grows downwards
    float ray[3];
    camera.screenRay(screen[0], screen[1], ray);
    float toward[3] = {point[0] - 1.0f, point[1] - 2.0f, point[2] - 3.0f};
    vector3Normalize(toward);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(ray[k], toward[k], 1e-4f);

    const float behind[3] = {1.5f, 2.5f, 10.0f};
    camera.projectToScreen(behind, screen);
    EXPECT_GE(std::fabs(screen[0] - 512.0f), 20000.0f);
    EXPECT_GE(std::fabs(screen[1] - 384.0f), 20000.0f);
}

TEST(CameraCore, ClipPlaneKeepsTheSideOfEveryPoint) {
    ScopedGameCore core;
    CameraCore camera(nullptr, "test");
    camera.pose = poseAt(0.0f, 1.0f, 0.0f);
    camera.initialize(-1.0f);
    const float point[3] = {0.0f, 0.0f, -5.0f};
    const float normal[3] = {0.0f, 0.6f, 0.8f};
    camera.setClipPlane(point, normal);
    ASSERT_TRUE(camera.clipPlaneSet);
    const float samples[3][3] = {{0.0f, 0.0f, -5.0f}, {1.0f, 2.0f, -3.0f}, {-2.0f, -1.0f, -9.0f}};
    for (const auto& p : samples) {
        float clip[4] = {};
        const float world[4] = {p[0], p[1], p[2], 1.0f};
        for (int col = 0; col < 4; ++col)
            for (int k = 0; k < 4; ++k) clip[col] += world[k] * camera.viewProjection[k * 4 + col];
        float inClip = 0.0f;
        for (int k = 0; k < 4; ++k) inClip += camera.clipPlane[k] * clip[k];
        const float inWorld = normal[0] * (p[0] - point[0]) + normal[1] * (p[1] - point[1]) + normal[2] * (p[2] - point[2]);
        EXPECT_NEAR(inClip, inWorld, 1e-3f);
    }
    camera.clearClipPlane();
    EXPECT_FALSE(camera.clipPlaneSet);
}

TEST(CameraCore, ModesFollowTheGameAndPinOnEnteringAFixedView) {
    ScopedGameCore core;
    CameraScene world;
    CameraCore& camera = world.camera();
    struct Step {
        std::int32_t gameMode;
        std::uint32_t expected;
    };
    // Game (4), then Stillframe (1 from 4: pinned to 4), Movie (0), Editor
    // (1 again: pinned to 0), 3d (8).
    const Step steps[] = {{1, 4}, {6, 4}, {5, 0}, {7, 0}, {10, 8}, {4, 6}};
    double t = 0.0;
    for (const Step& step : steps) {
        gameCore.cameraMode = step.gameMode;
        camera.update(frameAt(t += 0.1, 0.1));
        EXPECT_EQ(camera.effectiveMode(), step.expected) << "game mode " << step.gameMode;
    }
    // A stack playing uses row 11: mode 5; leaving it for a fixed view is
    // no pin.
    gameCore.flags |= kGameFlagCameraOverride;
    camera.update(frameAt(t += 0.1, 0.1));
    EXPECT_EQ(camera.effectiveMode(), 5u);
    gameCore.flags &= ~kGameFlagCameraOverride;
    gameCore.cameraMode = 6;
    camera.update(frameAt(t += 0.1, 0.1));
    EXPECT_EQ(camera.effectiveMode(), 1u);
}

TEST(CameraCore, EffectNamesAreComparedLowerCased) {
    ScopedGameCore core;
    CameraCore camera(nullptr, "test");
    EXPECT_TRUE(camera.setEffect("CRAZY"));
    EXPECT_EQ(camera.effect, CameraEffectCrazy);
    EXPECT_FALSE(camera.setEffect("wobble"));
    EXPECT_TRUE(core.log().contains("Can't set effect: invalid name: possible names is [none, crazy]"));
    EXPECT_EQ(camera.effect, CameraEffectCrazy);
    camera.initialize(-1.0f);
    const float q = camera.frustum.projection[10];
    EXPECT_FLOAT_EQ(camera.projectionMatrix[10], q);
    EXPECT_NE(camera.projectionMatrix[1], 0.0f);  // the crazy matrix shears
    EXPECT_TRUE(camera.setEffect("none"));
}

TEST(CameraCore, StackHoldsTheWaypointThenItsEndClearsTheOverrideBit) {
    ScopedGameCore core;
    CameraScene world;
    Matrix34 waypoint = poseAt(4.0f, 1.0f, 2.0f);
    world.addCamera("cam1", waypoint);
    CameraCore& camera = world.camera();
    gameCore.cameraMode = 1;
    camera.update(frameAt(0.0, 0.0));

    CameraStack stack;
    ASSERT_TRUE(stack.parseCommands("[2 cam1]"));
    ASSERT_TRUE(camera.playStack(stack, false));
    stack.clear();
    EXPECT_NE(gameCore.flags & kGameFlagCameraOverride, 0u);
    camera.update(frameAt(0.5, 0.5));
    EXPECT_EQ(camera.effectiveMode(), 5u);
    // The camera stands at the waypoint, looking the waypoint's way (its
    // third axis reversed).
    EXPECT_FLOAT_EQ(camera.pose.m[9], 4.0f);
    EXPECT_FLOAT_EQ(camera.pose.m[11], 2.0f);
    EXPECT_FLOAT_EQ(camera.pose.m[8], -1.0f);
    camera.update(frameAt(1.5, 1.0));
    EXPECT_NE(gameCore.flags & kGameFlagCameraOverride, 0u);
    camera.update(frameAt(2.6, 1.1));
    EXPECT_EQ(gameCore.flags & kGameFlagCameraOverride, 0u);
    EXPECT_TRUE(camera.blender.empty());
    camera.update(frameAt(2.7, 0.1));
    EXPECT_EQ(camera.effectiveMode(), 4u);

    // A missing waypoint fails the entry's frame with its message.
    ASSERT_TRUE(stack.parseCommands("[nowhere]"));
    camera.playStack(stack, false);
    stack.clear();
    camera.update(frameAt(2.8, 0.1));
    EXPECT_TRUE(core.log().contains("Can't find camera with name [nowhere]"));
    camera.stopStack();
    EXPECT_EQ(gameCore.flags & kGameFlagCameraOverride, 0u);
}

TEST(CameraCore, StacksFadeInFromTheCameraAndCrossFadeIntoANewStack) {
    ScopedGameCore core;
    CameraScene world;
    world.addCamera("cam1", poseAt(4.0f, 0.0f, 0.0f));
    world.addCamera("cam2", poseAt(-4.0f, 0.0f, 0.0f));
    CameraCore& camera = world.camera();
    CameraStack stack;
    ASSERT_TRUE(stack.parseCommands("1[5 cam1]"));
    camera.playStack(stack, false);
    stack.clear();
    camera.update(frameAt(0.5, 0.5));
    EXPECT_NEAR(camera.pose.m[9], 2.0f, 1e-4f);  // half-way from where it stood
    camera.update(frameAt(1.5, 1.0));
    EXPECT_NEAR(camera.pose.m[9], 4.0f, 1e-4f);

    // A new stack with a blend fades out of the playing entry.
    ASSERT_TRUE(stack.parseCommands("1[5 cam2]"));
    camera.playStack(stack, false);
    stack.clear();
    camera.update(frameAt(2.0, 0.5));
    EXPECT_NEAR(camera.pose.m[9], 0.0f, 1e-4f);
    camera.update(frameAt(2.5, 0.5));
    EXPECT_NEAR(camera.pose.m[9], -4.0f, 1e-4f);
    EXPECT_EQ(camera.blender.entries.size(), 1u);
    camera.stopStack();
}

// Stacks stored raw (a dialog's saved stack) bypass the command reader:
// an item whose envelope cannot be set is never played, and a pose that is
// not finite is never taken.
TEST(CameraCore, StacksWithBadTimesAreRefusedAndPosesStayFinite) {
    struct Case {
        float blendTime, hold, curve;
    };
    const Case cases[] = {
        {-1.0f, 0.0f, 1.0f},
        {0.0f, -5.0f, 1.0f},
        {0.5f, -5.0f, 1.0f},
        {-12345.0f, 0.0f, 1.0f},
        {std::nanf(""), 0.0f, 1.0f},
        {1.0f, INFINITY, 1.0f},
        {1.0f, 0.0f, 25.0f},
    };
    for (const Case& c : cases) {
        ScopedGameCore core;
        CameraScene world;
        world.addCamera("cam1", poseAt(4.0f, 0.0f, 0.0f));
        CameraCore& camera = world.camera();
        CameraStack stack;
        ASSERT_TRUE(stack.parseCommands("[cam1] [current]"));
        stack.items[1].blendTime = c.blendTime;
        stack.items[1].hold = c.hold;
        stack.items[1].curve = c.curve;
        EXPECT_FALSE(camera.playStack(stack, false)) << c.blendTime << " " << c.hold << " " << c.curve;
        stack.clear();
        EXPECT_EQ(gameCore.flags & kGameFlagCameraOverride, 0u);
        EXPECT_TRUE(camera.blender.empty());
        EXPECT_TRUE(core.log().contains("can't set the envelope of stack item"));
    }

    ScopedGameCore core;
    CameraScene world;
    CameraCore& camera = world.camera();
    camera.update(frameAt(0.0, 0.1));
    CameraStack stack;
    ASSERT_TRUE(stack.parseCommands("[1 current z10]"));
    stack.items[0].zoom = INFINITY;
    ASSERT_TRUE(camera.playStack(stack, false));
    stack.clear();
    for (int frame = 1; frame < 30; ++frame) camera.update(frameAt(0.1 * frame, 0.1));
    EXPECT_EQ(gameCore.flags & kGameFlagCameraOverride, 0u);
    for (float v : camera.pose.m) EXPECT_TRUE(std::isfinite(v));
}

TEST(CameraCore, ObjectsInViewAndWithinTheVisibilityDistance) {
    ScopedGameCore core;
    CameraScene world;
    CameraCore& camera = world.camera();
    camera.update(frameAt(0.0, 0.1));  // at the origin, looking along -z
    Scene& scene = *world.scene;
    GameObject* ahead = scene.createModel("box", "ahead", poseAt(0.0f, 0.0f, -5.0f), 0);
    GameObject* behind = scene.createModel("box", "behind", poseAt(0.0f, 0.0f, 5.0f), 0);
    GameObject* far = scene.createModel("box", "far", poseAt(0.0f, 0.0f, -12.0f), 0);
    ASSERT_TRUE(ahead && behind && far);
    EXPECT_TRUE(camera.isObjectVisible(ahead));
    EXPECT_FALSE(camera.isObjectVisible(behind));
    EXPECT_FALSE(camera.isObjectVisible(nullptr));

    const float saved = gameCore.renderParameters[12];
    EXPECT_EQ(saved, 3000.0f);
    EXPECT_TRUE(camera.isWithinDistance(far));
    gameCore.renderParameters[12] = 10.0f;
    EXPECT_TRUE(camera.isWithinDistance(ahead));
    EXPECT_TRUE(camera.isWithinDistance(behind));  // distance only, not the view
    EXPECT_FALSE(camera.isWithinDistance(far));    // 12 less its radius is not below 10
    gameCore.renderParameters[12] = 12.5f;
    EXPECT_TRUE(camera.isWithinDistance(far));     // the radius brings it in
    gameCore.renderParameters[12] = saved;
}

// The focus follows the scene's look target (a model with a head in front
// of the camera) before the main character.
TEST(CameraCore, FocusIsTakenFromTheLookTargetFirst) {
    ScopedGameCore core;
    SettingsGuard guard;
    CameraScene world;
    CameraCore& camera = world.camera();
    world.character().pose = poseAt(0.0f, 0.0f, -10.0f);
    camera.update(frameAt(0.0, 0.1));
    EXPECT_FLOAT_EQ(camera.focus[0], 10.0f);
    auto* head = static_cast<Model*>(world.scene->createModel("box", "talker", poseAt(0.0f, 0.0f, -5.0f), 0));
    ASSERT_NE(head, nullptr);
    head->stateWords[0] |= 0x2000008 | 0x2;
    camera.focusSmoother.stages.clear();  // a fresh cascade takes the new distance at once
    camera.update(frameAt(0.1, 0.1));
    EXPECT_FLOAT_EQ(camera.focus[0], 5.0f);
}

// "z" moves toward what the camera faces. A "current" item follows the
// camera every frame, so its move adds up frame by frame; ".current" takes
// the pose of its first frame only.
TEST(CameraCore, AZoomedCurrentViewMovesForwardOnceOrEveryFrame) {
    struct Case {
        const char* text;
        float forward;
    };
    for (const Case& c : {Case{"0.5[1 .current z100]", 1.0f}, Case{"0.5[1 current z100]", 22.66f}}) {
        ScopedGameCore core;
        CameraScene world;
        CameraCore& camera = world.camera();
        gameCore.cameraMode = 5;  // a fixed view keeps the pose the stack left
        camera.update(frameAt(0.0, 0.05));
        CameraStack stack;
        ASSERT_TRUE(stack.parseCommands(c.text));
        ASSERT_TRUE(camera.playStack(stack, false));
        stack.clear();
        for (int frame = 1; frame <= 40; ++frame) camera.update(frameAt(0.05 * frame, 0.05));
        EXPECT_EQ(gameCore.flags & kGameFlagCameraOverride, 0u) << c.text;
        EXPECT_NEAR(-camera.pose.m[11], c.forward, 0.01f) << c.text;
    }
}

// "b": the view cuts to the new pose and the still frame "camera_blend",
// showing the screenshot, fades out over the blend time.
TEST(CameraCore, ACrossFadeLaysTheScreenshotOverTheCutAndFadesItOut) {
    ScopedGameCore core;
    RenderCore render;
    testing_support::ScopedCoreMember<RenderCore> use(gameCore.render, &render);
    CameraScene world;
    world.addCamera("cam1", poseAt(4.0f, 0.0f, 0.0f));
    CameraCore& camera = world.camera();
    StillFrameData& frames = render.stillFrames().data;
    CameraStack stack;
    ASSERT_TRUE(stack.parseCommands("b1[2 cam1]"));
    ASSERT_TRUE(camera.playStack(stack, false));
    stack.clear();
    camera.update(frameAt(0.25, 0.25));
    EXPECT_FLOAT_EQ(camera.pose.m[9], 4.0f);  // cut at once
    StillFrameScriptDataItem* overlay = frames.find("camera_blend");
    ASSERT_NE(overlay, nullptr);
    EXPECT_STREQ(overlay->image.source.link.baseName(), "procscreenshot");
    EXPECT_EQ(overlay->width, 1024.0f);
    EXPECT_EQ(overlay->height, 768.0f);
    const float first = overlay->color[3];
    EXPECT_GT(first, 0.0f);
    EXPECT_FLOAT_EQ(overlay->color[0], 0.5f * first);
    camera.update(frameAt(0.5, 0.25));
    ASSERT_EQ(frames.find("camera_blend"), overlay);
    EXPECT_LT(overlay->color[3], first);
    camera.update(frameAt(1.25, 0.75));
    EXPECT_EQ(frames.find("camera_blend"), nullptr);  // faded out
    EXPECT_NE(gameCore.flags & kGameFlagCameraOverride, 0u);

    // A stack stopped while the overlay shows takes it away.
    ASSERT_TRUE(stack.parseCommands("b1[2 cam1]"));
    ASSERT_TRUE(camera.playStack(stack, false));
    stack.clear();
    camera.update(frameAt(1.5, 0.25));
    EXPECT_NE(frames.find("camera_blend"), nullptr);
    camera.stopStack();
    EXPECT_EQ(frames.find("camera_blend"), nullptr);
}

TEST(CameraCore, SaveRecordRoundTripsByteForByte) {
    ScopedGameCore core;
    CameraScene world;
    world.addCamera("cam1", poseAt(4.0f, 1.0f, 2.0f));
    world.addCamera("cam2", poseAt(-4.0f, 1.0f, 2.0f));
    CameraCore& camera = world.camera();
    camera.pose = poseAt(1.0f, 2.0f, 3.0f);
    camera.setEffect("crazy");
    camera.update(frameAt(0.2, 0.2));
    CameraStack stack;
    ASSERT_TRUE(stack.parseCommands("[1 cam1 p10,5 *hero] 0.5[cam2 $y10,2]"));
    world.character();
    camera.playStack(stack, false);
    stack.clear();
    camera.update(frameAt(0.4, 0.2));
    ASSERT_FALSE(camera.blender.empty());

    const std::vector<std::uint8_t> first = bytesOf(camera);
    CameraCore copy(world.scene.get(), "other");
    MemoryStream in(const_cast<std::uint8_t*>(first.data()), static_cast<std::int32_t>(first.size()));
    ASSERT_EQ(copy.read(in), static_cast<std::int32_t>(first.size()));
    EXPECT_EQ(bytesOf(copy), first);
    EXPECT_STREQ(copy.name, "default");
    EXPECT_EQ(copy.blender.entries.size(), camera.blender.entries.size());

    // A record cut short fails.
    MemoryStream cut(const_cast<std::uint8_t*>(first.data()), static_cast<std::int32_t>(first.size()) - 10);
    CameraCore broken(world.scene.get(), "broken");
    EXPECT_LT(broken.read(cut), 0);
    camera.stopStack();
}

TEST(CameraCore, ViewportOfTheFixedAspectIsCentred) {
    SettingsGuard guard;
    cameraSettings.fixedAspectRatio = true;
    std::int32_t viewport[4];
    fixedAspectViewport(1920, 1080, viewport);
    EXPECT_EQ(viewport[0], (1920 - 1350) / 2);
    EXPECT_EQ(viewport[2], 1350);
    EXPECT_EQ(viewport[3], 1080);
    fixedAspectViewport(1000, 1000, viewport);
    EXPECT_EQ(viewport[1], 100);
    EXPECT_EQ(viewport[3], 800);
}

}  // namespace
