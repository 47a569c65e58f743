// One point of a particle layer: a plain 272-byte record, kept in one
// array per layer and saved as raw bytes, so its layout is a format.
#pragma once

#include <cstddef>
#include <cstdint>

struct ParticlePoint {
    std::uint8_t inView = 0;  // 1: alive and drawn
    std::uint8_t padding0[3] = {};
    float texRect[4] = {};  // U origin, V origin, U extent, V extent (a negative extent mirrors)
    float color[4] = {};    // red, green, blue, alpha
    float worldPositionScratch[3] = {};
    float width = 0.0f;
    float axis[3] = {};  // the quad's up direction, unit length
    float height = 0.0f;
    std::uint8_t padding1[4] = {};
    double reserved = 0.0;
    float ageRate = 0.0f;  // 1 / lifetime
    float age = 0.0f;      // 0 at birth; the point dies above 1
    float position[3] = {};  // in the emitter's frame
    float downDirection[3] = {};
    float velocity[3] = {};
    std::uint8_t padding2[4] = {};
    float currentFrame = 0.0f;
    float startFrame = 0.0f;
    float frameDirection = 0.0f;  // +1 or -1
    float frameSpeed = 0.0f;
    std::uint8_t verticalMirror = 0;
    std::uint8_t padding3[3] = {};
    float startAngle = 0.0f;
    float rotationDirection = 0.0f;  // +1 or -1
    std::uint8_t padding4[4] = {};
    std::int32_t ageKeys[2] = {};
    double ageKeyFraction = 0.0;
    float birthPose[12] = {};  // 3 x 4: the emitter's scaled pose at birth, rows x, y, z, translation
    float worldPosition[3] = {};
    float worldVelocity[3] = {};
    double timeAlive = 0.0;  // seconds
    float scale = 0.0f;
    float sizeScale = 0.0f;
    float rotationScale = 0.0f;
    std::uint8_t padding5[4] = {};
};
static_assert(sizeof(ParticlePoint) == 272, "a particle point is a 272-byte record");
static_assert(offsetof(ParticlePoint, width) == 48 && offsetof(ParticlePoint, axis) == 52 &&
                  offsetof(ParticlePoint, birthPose) == 176 && offsetof(ParticlePoint, worldPosition) == 224 &&
                  offsetof(ParticlePoint, timeAlive) == 248,
              "the particle point's fields are at their stored offsets");
