#include "foundation/Smoother.h"

#include <cmath>

#include "foundation/DataStream.h"
#include "foundation/Log.h"

namespace {

template <typename Stage>
void resizeStages(std::vector<Stage>& stages, std::uint32_t n, float first, float step) {
    stages.resize(n);
    float constant = first;
    for (Stage& stage : stages) {
        stage.timeConstant = constant;
        constant += step;
    }
}

// Reads a u32 count and that many records of recordSize bytes. The old
// records are dropped first; a count larger than the stream can hold or a
// short read fails (-1) and leaves no records.
template <typename Stage, typename Parse>
std::int32_t readStageArray(DataStream& s, std::vector<Stage>& stages, std::int32_t recordSize, Parse parse) {
    stages.clear();
    stages.shrink_to_fit();
    std::uint32_t count = 0;
    std::int32_t total = readU32(s, count);
    if (total < 0) return total;
    if (count > static_cast<std::uint32_t>(bytesLeft(s) / recordSize)) return -1;
    std::vector<Stage> read(count);
    for (Stage& stage : read) {
        if (!addField(total, parse(s, stage))) return total;
    }
    stages = std::move(read);
    return total;
}

}  // namespace

float smoothWeight(double dt, float timeConstant) {
    const double w = 1.0 - std::exp(-dt / timeConstant);
    if (!(w >= 0.0)) return 0.0f;
    if (w > 1.0) return 1.0f;
    return static_cast<float>(w);
}

// ---- QuadSmooth

QuadSmooth::QuadSmooth() : output(quaternionIdentity()) { quaternionToMatrix33(output, matrix); }

void QuadSmooth::QuadSmoothStages(std::uint32_t n, const float* constants) {
    output = quaternionIdentity();
    quaternionToMatrix33(output, matrix);
    stages.assign(n, QuadSmoothStage{});
    if (constants)
        for (std::uint32_t i = 0; i < n; ++i) stages[i].timeConstant = constants[i];
}

void QuadSmooth::setStages(std::uint32_t n, float first, float step) { resizeStages(stages, n, first, step); }

void QuadSmooth::setTarget(const Quaternion& q, const double& t) {
    if (!stages.empty()) {
        stages[0].rotation = q;
        stages[0].time = t;
    }
    output = q;
    quaternionToMatrix33(q, matrix);
}

void QuadSmooth::reset(const Quaternion& q, const double& t) {
    output = q;
    quaternionToMatrix33(q, matrix);
    for (QuadSmoothStage& stage : stages) stage.rotation = q;
    resetStages();
    update(t);
}

void QuadSmooth::update(const double& t) {
    if (time < 0.0) {
        time = t;
        for (QuadSmoothStage& stage : stages) stage.time = t;
    }
    if (stages.empty()) return;
    for (std::size_t i = 1; i < stages.size(); ++i) {
        const QuadSmoothStage& previous = stages[i - 1];
        QuadSmoothStage& stage = stages[i];
        const float w = smoothWeight(previous.time - stage.time, stage.timeConstant);
        stage.time = (1.0 - w) * stage.time + w * previous.time;
        Quaternion blended;
        quaternionSlerp(stage.rotation, previous.rotation, blended, w);
        quaternionNormalize(blended);
        stage.rotation = blended;
    }
    output = stages.back().rotation;
}

void QuadSmooth::resetStages() {
    for (QuadSmoothStage& stage : stages) {
        stage.rotation = output;
        stage.time = -1.0;
    }
    time = -1.0;
}

std::int32_t QuadSmooth::write(DataStream& s) const {
    std::int32_t total = 0;
    if (!addField(total, writeF64(s, time))) return total;
    for (float v : matrix.m)
        if (!addField(total, writeF32(s, v))) return total;
    for (float v : {output.x, output.y, output.z, output.w})
        if (!addField(total, writeF32(s, v))) return total;
    if (!addField(total, writeU32(s, static_cast<std::uint32_t>(stages.size())))) return total;
    for (const QuadSmoothStage& stage : stages) {
        if (!addField(total, writeF32(s, stage.timeConstant))) return total;
        for (float v : {stage.rotation.x, stage.rotation.y, stage.rotation.z, stage.rotation.w})
            if (!addField(total, writeF32(s, v))) return total;
        if (!addField(total, writeU32(s, 0))) return total;  // reserved
        if (!addField(total, writeF64(s, stage.time))) return total;
    }
    return total;
}

std::int32_t QuadSmooth::read(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, readF64(s, time))) return total;
    for (float& v : matrix.m)
        if (!addField(total, readF32(s, v))) return total;
    for (float* v : {&output.x, &output.y, &output.z, &output.w})
        if (!addField(total, readF32(s, *v))) return total;
    const std::int32_t array = readStageArray(s, stages, 32, [](DataStream& in, QuadSmoothStage& stage) {
        std::int32_t bytes = 0;
        std::uint32_t reserved = 0;
        if (!addField(bytes, readF32(in, stage.timeConstant))) return bytes;
        for (float* v : {&stage.rotation.x, &stage.rotation.y, &stage.rotation.z, &stage.rotation.w})
            if (!addField(bytes, readF32(in, *v))) return bytes;
        if (!addField(bytes, readU32(in, reserved))) return bytes;
        addField(bytes, readF64(in, stage.time));
        return bytes;
    });
    if (!addField(total, array)) return total;
    resetStages();
    return total;
}

// ---- VectorSmoother

VectorSmoother::~VectorSmoother() {
    if (!stages.empty()) engineLog().error("Release vector smoother before destructor call");
}

void VectorSmoother::setStages(std::uint32_t n, float first, float step) { resizeStages(stages, n, first, step); }

void VectorSmoother::reset(const float* v, const double& t) {
    for (int i = 0; i < 3; ++i) output[i] = v[i];
    for (VectorSmoothStage& stage : stages) {
        for (int i = 0; i < 3; ++i) stage.value[i] = v[i];
        stage.time = t;
    }
    update(t);
}

void VectorSmoother::update(const double& t) {
    if (stages.empty()) return;
    for (std::size_t i = 1; i < stages.size(); ++i) {
        const VectorSmoothStage& previous = stages[i - 1];
        VectorSmoothStage& stage = stages[i];
        // A time of 0 means not started: it counts as the update's time.
        if (stage.time == 0.0) stage.time = t;
        const double previousTime = previous.time == 0.0 ? t : previous.time;
        const float w = smoothWeight(previousTime - stage.time, stage.timeConstant);
        stage.time = (1.0 - w) * stage.time + w * previousTime;
        for (int k = 0; k < 3; ++k) stage.value[k] = w * previous.value[k] + (1.0f - w) * stage.value[k];
    }
    for (int k = 0; k < 3; ++k) output[k] = stages.back().value[k];
}

void VectorSmoother::clearTimes() {
    for (VectorSmoothStage& stage : stages) stage.time = 0.0;
}

std::int32_t VectorSmoother::write(DataStream& s) const {
    std::int32_t total = 0;
    if (!addField(total, writeF64(s, time))) return total;
    for (float v : output)
        if (!addField(total, writeF32(s, v))) return total;
    if (!addField(total, writeU32(s, static_cast<std::uint32_t>(stages.size())))) return total;
    for (const VectorSmoothStage& stage : stages) {
        if (!addField(total, writeF32(s, stage.timeConstant))) return total;
        for (float v : stage.value)
            if (!addField(total, writeF32(s, v))) return total;
        if (!addField(total, writeF64(s, stage.time))) return total;
    }
    return total;
}

std::int32_t VectorSmoother::read(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, readF64(s, time))) return total;
    for (float& v : output)
        if (!addField(total, readF32(s, v))) return total;
    const std::int32_t array = readStageArray(s, stages, 24, [](DataStream& in, VectorSmoothStage& stage) {
        std::int32_t bytes = 0;
        if (!addField(bytes, readF32(in, stage.timeConstant))) return bytes;
        for (float& v : stage.value)
            if (!addField(bytes, readF32(in, v))) return bytes;
        addField(bytes, readF64(in, stage.time));
        return bytes;
    });
    if (!addField(total, array)) return total;
    clearTimes();
    return total;
}

// ---- FloatSmooth

FloatSmooth::~FloatSmooth() {
    if (!stages.empty()) engineLog().error("Release float smooth before destructor");
}

void FloatSmooth::release() { std::vector<FloatSmoothStage>().swap(stages); }

void FloatSmooth::setStages(std::uint32_t n, float first, float step) { resizeStages(stages, n, first, step); }

void FloatSmooth::reset(float x, const double& t) {
    output = x;
    for (FloatSmoothStage& stage : stages) {
        stage.value = x;
        stage.time = t;
    }
    update();
}

void FloatSmooth::update() {
    if (stages.empty()) return;
    for (std::size_t i = 1; i < stages.size(); ++i) {
        const FloatSmoothStage& previous = stages[i - 1];
        FloatSmoothStage& stage = stages[i];
        const float w = smoothWeight(previous.time - stage.time, stage.timeConstant);
        stage.time = (1.0 - w) * stage.time + w * previous.time;
        stage.value = w * previous.value + (1.0f - w) * stage.value;
    }
    output = stages.back().value;
}

void smoothVectorTo(VectorSmoother& smoother, const float* target, const double& t) {
    if (smoother.stages.empty()) {
        for (int i = 0; i < 3; ++i) smoother.output[i] = target[i];
        return;
    }
    for (int i = 0; i < 3; ++i) smoother.stages[0].value[i] = target[i];
    smoother.stages[0].time = t;
    smoother.update(t);
}
