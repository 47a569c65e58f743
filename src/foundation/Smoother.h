// Smoothed values: cascades of first-order exponential stages over an
// orientation (QuadSmooth), a 3-float vector (VectorSmoother) and one float
// (FloatSmooth).
//
// Stage 0 holds the target, written by the owner; every later stage follows
// the one before it with its own time constant, value and time alike, so the
// filter is driven by time stamps rather than frame counts. The output is
// the last stage's value. A QuadSmooth is not started while its time is
// negative; a vector stage with time 0 is not started. Main thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/Math.h"
#include "foundation/Quaternion.h"

class DataStream;

struct QuadSmoothStage {
    float timeConstant = 0.0f;
    Quaternion rotation{0.0f, 0.0f, 0.0f, 0.0f};
    double time = 0.0;
};

struct VectorSmoothStage {
    float timeConstant = 0.0f;
    float value[3] = {0.0f, 0.0f, 0.0f};
    double time = 0.0;
};

struct FloatSmoothStage {
    float timeConstant = 0.0f;
    float value = 0.0f;
    double time = 0.0;
};

// The weight with which a stage follows the one before it:
// 1 - exp(-dt / timeConstant), kept within 0 to 1 (0 when not a number).
float smoothWeight(double dt, float timeConstant);

class QuadSmooth {
public:
    QuadSmooth();
    // n zero-filled stages; stage i takes constants[i] when constants is given.
    void QuadSmoothStages(std::uint32_t n, const float* constants);
    // n stages (new ones zero-filled), stage i with constant first + i x step.
    void setStages(std::uint32_t n, float first, float step);
    // Stage 0 takes the target; the output (quaternion and matrix) at once.
    void setTarget(const Quaternion& q, const double& t);
    // Jumps to q: output and every stage, all stage times t.
    void reset(const Quaternion& q, const double& t);
    // Advances the stages to t; starts the timing when not started. The
    // output matrix is left as setTarget or reset made it.
    void update(const double& t);
    // Every stage takes the output quaternion; the timing is not started.
    void resetStages();

    // Time, output matrix and quaternion, the stage count and 32-byte stage
    // records: bytes or the first negative field result. Reading restarts
    // the timing (stored stage times are not used).
    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);

    double time = -1.0;
    Matrix33 matrix;
    Quaternion output;
    std::vector<QuadSmoothStage> stages;
};

class VectorSmoother {
public:
    VectorSmoother() = default;
    VectorSmoother(const VectorSmoother&) = default;
    VectorSmoother& operator=(const VectorSmoother&) = default;
    // Frees the stages; logs when the owner did not release them first.
    ~VectorSmoother();
    // Frees the stages.
    void release() { std::vector<VectorSmoothStage>().swap(stages); }

    void setStages(std::uint32_t n, float first, float step);
    void reset(const float* v, const double& t);
    void update(const double& t);
    // Every stage time becomes 0 (not started).
    void clearTimes();

    // Time, output vector, the stage count and 24-byte stage records. Reading
    // clears every stage time.
    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);

    double time = 0.0;
    std::vector<VectorSmoothStage> stages;
    float output[3] = {0.0f, 0.0f, 0.0f};
};

// Its owner releases the stages before the smoother goes; one destroyed
// while it still holds stages says so ("Release float smooth before
// destructor") and frees them all the same.
class FloatSmooth {
public:
    FloatSmooth() = default;
    FloatSmooth(const FloatSmooth&) = default;
    FloatSmooth& operator=(const FloatSmooth&) = default;
    ~FloatSmooth();
    // Frees the stages; the smoother keeps none afterwards.
    void release();
    void setStages(std::uint32_t n, float first, float step);
    void reset(float x, const double& t);
    void update();

    double time = 0.0;
    std::vector<FloatSmoothStage> stages;
    float output = 0.0f;
};

// Stage 0 of the smoother takes the target at t and the cascade advances;
// without stages the output is the target itself.
void smoothVectorTo(VectorSmoother& smoother, const float* target, const double& t);
