// The camera and automatic-camera settings read from the INI store.
#include <gtest/gtest.h>

#include "scene/CameraSettings.h"
#include "support/SettingsFixture.h"

namespace {

TEST(CameraSettings, ValuesFromTheStoreAndTheOptionalModeFiveFieldOfView) {
    testing_support::SettingsFixture f;
    f.set("camera", "clip_far", "1200")
        .set("camera", "smooth_count", "-2")
        .set("camera", "flyer_physics_test", "no")
        .set("render", "fixed_aspect_ratio", "off");
    readCameraSettings(f.settings);
    readCameraAutoSettings(f.settings);
    EXPECT_FLOAT_EQ(cameraSettings.clipFar, 1200.0f);
    EXPECT_FLOAT_EQ(cameraSettings.fov, 73.0f);
    EXPECT_FALSE(cameraSettings.hasCameraFov);
    EXPECT_FALSE(cameraSettings.fixedAspectRatio);
    // A stage count below zero keeps its default.
    EXPECT_EQ(cameraAutoSettings.smoothCount, 3);
    EXPECT_FALSE(cameraAutoSettings.flyerPhysicsTest);
    EXPECT_FLOAT_EQ(cameraAutoSettings.deadZone[3], 150.0f);
    EXPECT_TRUE(f.has("camera", "camera_fov"));

    f.set("camera", "camera_fov", "55");
    readCameraSettings(f.settings);
    EXPECT_TRUE(cameraSettings.hasCameraFov);
    EXPECT_FLOAT_EQ(cameraSettings.cameraFov, 55.0f);
}

}  // namespace
