#include "scene/CameraSettings.h"

#include "foundation/IniFile.h"
#include "foundation/SettingsReader.h"

CameraSettings cameraSettings;
CameraAutoSettings cameraAutoSettings;

void readCameraSettings(IniFile& settings) {
    CameraSettings& s = cameraSettings;
    IniCategory& camera = settings.getCategory("camera");
    readSetting(camera, "clip_near", s.clipNear, 0.15f);
    readSetting(camera, "clip_far", s.clipFar, 800.0f);
    readSetting(camera, "fov", s.fov, 73.0f);
    // No default: the mode-5 field of view applies only when the key has a value.
    const IniVariable& cameraFov = camera.getVariable("camera_fov");
    s.hasCameraFov = !cameraFov.value().empty();
    if (s.hasCameraFov) cameraFov.getFloat(s.cameraFov, 0.0f);
    readSetting(camera, "dof_smooth_count", s.dofSmoothCount, 2, 0);
    readSetting(camera, "dof_smooth_start", s.dofSmoothStart, 0.5f);
    readSetting(camera, "dof_smooth_step", s.dofSmoothStep, 0.2f);
    readSetting(camera, "dof_minimal_focus_distance", s.dofMinimalFocusDistance, 1.0f);
    readSetting(camera, "dof_maximum_focus_distance", s.dofMaximumFocusDistance, 20.0f);
    readSetting(camera, "dof_maximum_focus_aim_distance", s.dofMaximumFocusAimDistance, 20.0f);
    readSetting(camera, "dof_maximum_focus_angle", s.dofMaximumFocusAngle, 0.75f);
    readSetting(settings.getCategory("render"), "fixed_aspect_ratio", s.fixedAspectRatio, true);
}

void readCameraAutoSettings(IniFile& settings) {
    CameraAutoSettings& s = cameraAutoSettings;
    IniCategory& camera = settings.getCategory("camera");
    readSetting(camera, "smooth_count", s.smoothCount, 3, 0);
    readSetting(camera, "smooth_delay", s.smoothDelay, 0.9f);
    readSetting(camera, "smooth_step", s.smoothStep, 0.1f);
    readSetting(camera, "dead_zone_pixels_left", s.deadZone[0], 150.0f);
    readSetting(camera, "dead_zone_pixels_right", s.deadZone[1], 150.0f);
    readSetting(camera, "dead_zone_pixels_top", s.deadZone[2], 150.0f);
    readSetting(camera, "dead_zone_pixels_bottom", s.deadZone[3], 150.0f);
    readSetting(camera, "eye_offset_coeff", s.eyeOffsetCoeff, 0.0f);
    readSetting(camera, "eye_offset_min_range", s.eyeOffsetMinRange, 1.0f);
    readSetting(camera, "eye_offset_max_range", s.eyeOffsetMaxRange, 25.0f);
    readSetting(camera, "rope_spring_coeff", s.ropeSpringCoeff, 0.01f);
    readSetting(camera, "rope_length", s.ropeLength, 1.0f);
    readSetting(camera, "flyer_angle", s.flyerAngle, 0.0f);
    readSetting(camera, "flyer_offset", s.flyerOffset, 1.0f);
    readSetting(camera, "flyer_max_distance", s.flyerMaxDistance, 1.5f);
    readSetting(camera, "flyer_min_distance", s.flyerMinDistance, 0.8f);
    readSetting(camera, "flyer_align_speed", s.flyerAlignSpeed, 0.02f);
    readSetting(camera, "flyer_offset_coeff", s.flyerOffsetCoeff, 1.4f);
    readSetting(camera, "flyer_physics_test", s.flyerPhysicsTest, true);
    readSetting(camera, "flyer_physics_offset", s.flyerPhysicsOffset, 0.5f);
}
