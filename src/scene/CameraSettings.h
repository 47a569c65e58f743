// The camera settings read once at start from the INI store into
// process-wide records: the camera core's clipping, field of view and focus
// values, and the automatic camera's smoothing, dead zones, look-ahead and
// flyer values. Missing keys are added without a value and keep their
// defaults.
#pragma once

#include <cstdint>

class IniFile;

struct CameraSettings {
    float clipNear = 0.15f;
    float clipFar = 800.0f;
    // Degrees, horizontal.
    float fov = 73.0f;
    // Field of view while the mapped camera mode is 5, when set.
    bool hasCameraFov = false;
    float cameraFov = 0.0f;
    std::int32_t dofSmoothCount = 2;
    float dofSmoothStart = 0.5f;
    float dofSmoothStep = 0.2f;
    float dofMinimalFocusDistance = 1.0f;
    float dofMaximumFocusDistance = 20.0f;
    float dofMaximumFocusAimDistance = 20.0f;
    float dofMaximumFocusAngle = 0.75f;
    // Section "render": aspect 1.25 instead of the display mode's.
    bool fixedAspectRatio = true;
};

struct CameraAutoSettings {
    std::int32_t smoothCount = 3;
    float smoothDelay = 0.9f;
    float smoothStep = 0.1f;
    // Screen margins in pixels of 1024 x 768: left, right, top, bottom.
    float deadZone[4] = {150.0f, 150.0f, 150.0f, 150.0f};
    float eyeOffsetCoeff = 0.0f;
    float eyeOffsetMinRange = 1.0f;
    float eyeOffsetMaxRange = 25.0f;
    float ropeSpringCoeff = 0.01f;
    float ropeLength = 1.0f;
    float flyerAngle = 0.0f;
    float flyerOffset = 1.0f;
    float flyerMaxDistance = 1.5f;
    float flyerMinDistance = 0.8f;
    float flyerAlignSpeed = 0.02f;
    float flyerOffsetCoeff = 1.4f;
    bool flyerPhysicsTest = true;
    float flyerPhysicsOffset = 0.5f;
};

extern CameraSettings cameraSettings;
extern CameraAutoSettings cameraAutoSettings;

// Section "camera" and "fixed_aspect_ratio" of section "render".
void readCameraSettings(IniFile& settings);
// The automatic camera's keys of section "camera".
void readCameraAutoSettings(IniFile& settings);
