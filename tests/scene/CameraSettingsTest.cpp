// The camera and automatic-camera settings read from the INI store.
#include <gtest/gtest.h>

#include "foundation/IniFile.h"
#include "scene/CameraSettings.h"
#include "support/TestSupport.h"

namespace {

TEST(CameraSettings, ValuesFromTheStoreAndTheOptionalModeFiveFieldOfView) {
    testing_support::ScopedGameCore scoped;
    IniFile settings;
    IniCategory& camera = settings.getCategory("camera");
    camera.getVariable("clip_far").setString("1200");
    camera.getVariable("smooth_count").setString("-2");
    camera.getVariable("flyer_physics_test").setString("no");
    settings.getCategory("render").getVariable("fixed_aspect_ratio").setString("off");
    readCameraSettings(settings);
    readCameraAutoSettings(settings);
    EXPECT_FLOAT_EQ(cameraSettings.clipFar, 1200.0f);
    EXPECT_FLOAT_EQ(cameraSettings.fov, 73.0f);
    EXPECT_FALSE(cameraSettings.hasCameraFov);
    EXPECT_FALSE(cameraSettings.fixedAspectRatio);
    // A stage count below zero keeps its default.
    EXPECT_EQ(cameraAutoSettings.smoothCount, 3);
    EXPECT_FALSE(cameraAutoSettings.flyerPhysicsTest);
    EXPECT_FLOAT_EQ(cameraAutoSettings.deadZone[3], 150.0f);
    EXPECT_NE(settings.findCategory("camera")->findVariable("camera_fov"), nullptr);

    camera.getVariable("camera_fov").setString("55");
    readCameraSettings(settings);
    EXPECT_TRUE(cameraSettings.hasCameraFov);
    EXPECT_FLOAT_EQ(cameraSettings.cameraFov, 55.0f);
}

}  // namespace
