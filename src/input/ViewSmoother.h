// Smoothed views that follow relative mouse motion: the eye view of the
// main character (ViewSmoother) and the view of the fixed camera
// (FixedViewSmoother). Mouse look turns the target orientation at once; the
// orientation cascade then eases the output toward it.
#pragma once

#include <cstdint>

#include "foundation/Math.h"
#include "foundation/Smoother.h"

class DataStream;

// Re-orthonormalises 3 rotation rows: the forward row (2) normalised, the
// side row (0) level and square to it, the up row (1) completing them.
void orthonormaliseLevel(float* rows);

// Mouse look on a cascade: turns its target matrix by dx x -0.01 rad about
// the world up axis, then by dy x 0.01 rad (dy within +-25) about the
// matrix's side axis unless that tips the forward row's Y to 0.98 or more;
// re-orthonormalises with a horizontal side axis and makes the result the
// first stage's orientation at the time.
void matrix33RotateYawPitch(Matrix33& m, QuadSmoothStage& first, float dx, float dy, double time);

class ViewSmoother {
public:
    ViewSmoother();
    // Height blend, then the orientation cascade, to the time.
    void update(double time);
    // Restarts the cascade at the time; with a current scene the heights
    // become the main character's eye height (0 without a controller).
    void reset(double time);
    // reset, then the orientation jumps to the matrix's rotation.
    void aimAt(const Matrix34& matrix, double time);
    // The smoothed rotation, the position raised by the current height; the
    // main character's controller then gives the eye height to follow and
    // adds its view offset; last the forward offset along the forward row.
    void getViewMatrix(double time, Matrix34& out);
    void mouseLook(double time, float dx, float dy);
    // A new eye height starts a linear blend from the current one.
    void followEyeHeight(float height, double time);
    // Frees the stages.
    void release() { orientation.stages.clear(); }

    // The orientation cascade, the position, the forward offset and the
    // height blend: bytes or the first negative field result.
    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);

    float position[3] = {0.0f, 0.0f, 0.0f};
    float forwardOffset = 0.0f;
    QuadSmooth orientation;
    float heightCurrent = 0.0f, heightStart = 0.0f, heightTarget = 0.0f;
    float heightStartTime = 0.0f;  // 0: no blend running
    float heightDuration = 0.2f;
};

class FixedViewSmoother {
public:
    FixedViewSmoother();
    // The position becomes the matrix's translation and the orientation
    // jumps to its rotation with the third row negated.
    void setTargetMatrix(const Matrix34& matrix, double time);
    // The smoothed rotation; the position moved along the third row by the
    // offset distance.
    void getMatrix(double time, Matrix34& out);
    void mouseLook(double time, float dx, float dy);
    void release() { orientation.stages.clear(); }

    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);

    float offsetDistance = 0.0f;
    float position[3] = {0.0f, 0.0f, 0.0f};
    QuadSmooth orientation;
};
