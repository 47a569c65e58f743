#include "effects/ParticleLayer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/GameCore.h"
#include "effects/EffectsSettings.h"
#include "effects/Particle.h"
#include "render/Material.h"
#include "render/RenderCore.h"
#include "scene/CameraCore.h"
#include "scene/Scene.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/MersenneTwister.h"

namespace {

double rnd() { return MersenneTwister::nextDouble(); }

double between(double a, double b) { return a + (b - a) * rnd(); }

using Keys = ParticleKeys;

double at(const ParticleTable& table, const Keys& keys) { return particleTableAt(table, keys); }

// The particle's pose with its axis rows scaled by its size.
Matrix34 scaledPose(const Particle& particle) {
    Matrix34 pose = particle.pose;
    for (int row = 0; row < 3; ++row)
        for (int c = 0; c < 3; ++c) pose.m[row * 3 + c] *= particle.size[row];
    return pose;
}

// v through the inverse of the pose's rotation and scale (rows taken as
// orthogonal axes), translation left out.
void inverseRotate(const Matrix34& pose, const float* v, float* out) {
    for (int row = 0; row < 3; ++row) {
        const float* axis = pose.m + row * 3;
        const float lengthSquared = axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2];
        const float dot = v[0] * axis[0] + v[1] * axis[1] + v[2] * axis[2];
        out[row] = lengthSquared > 0.0f ? dot / lengthSquared : 0.0f;
    }
}

void transformPoint(const float* p, const float* m, float* out) {
    for (int c = 0; c < 3; ++c) out[c] = p[0] * m[c] + p[1] * m[3 + c] + p[2] * m[6 + c] + m[9 + c];
}

void rotateVector(const float* p, const float* m, float* out) {
    for (int c = 0; c < 3; ++c) out[c] = p[0] * m[c] + p[1] * m[3 + c] + p[2] * m[6 + c];
}

bool percentOver50() { return std::rand() % 100 > 50; }

// Whether the sub-step being paid out is the last one of its time.
bool lastSubStep(const CurrentTime& time) {
    return time.game.pending == 0.0 && time.world.pending == 0.0 && time.real.pending == 0.0;
}

}  // namespace

// What the point step places each point with: the scaled pose of the
// particle (or the point's birth pose), the stretch flag and the tint.
struct ParticlePlacement {
    Matrix34 pose;
    bool follows;
    bool stretch;
    const float* tint;

    // Places one point (world position, stretch, size and tint). upright:
    // the update left the axis at (0, 1, 0), which only the stretch
    // rotation would turn.
    void place(ParticlePoint& p, bool upright = false) const {
        const float* m = follows ? pose.m : p.birthPose;
        // Into registers first: reading the scratch back right after its
        // stores would stall on them.
        float world[3];
        transformPoint(p.position, m, world);
        for (int c = 0; c < 3; ++c) p.worldPositionScratch[c] = p.worldPosition[c] = world[c];
        if (stretch) {
            float axis[3];
            rotateVector(p.axis, m, axis);
            std::memcpy(p.axis, axis, sizeof(axis));
            rotateVector(p.velocity, m, p.worldVelocity);
        }
        p.width *= p.scale;
        p.height *= p.scale;
        for (int c = 0; c < 4; ++c) p.color[c] *= tint[c];
        // A unit axis stays as it is: dividing by a length of exactly 1
        // changes nothing.
        if (upright && !stretch) return;
        const float lengthSquared = p.axis[0] * p.axis[0] + p.axis[1] * p.axis[1] + p.axis[2] * p.axis[2];
        if (lengthSquared == 1.0f) return;
        if (lengthSquared <= 1e-6f) {
            p.axis[0] = p.axis[2] = 0.0f;
            p.axis[1] = 1.0f;
        } else {
            const float length = std::sqrt(lengthSquared);
            for (float& c : p.axis) c /= length;
        }
    }
};

namespace {

}  // namespace

ParticleLayer::ParticleLayer(Particle& particle, std::int32_t index, bool stillFrame)
    : flags(stillFrame ? kLayerStillFrame : 0), layerIndex(index), owner(&particle) {
    reset();
}

ParticleLayer::~ParticleLayer() { releaseMaterial(); }

const ParticleEffect* ParticleLayer::effect() const { return owner->effectData; }

const ParticleLayerData* ParticleLayer::data() const {
    const ParticleEffect* effect = owner->effectData;
    if (!effect || layerIndex < 0 || static_cast<std::size_t>(layerIndex) >= effect->layers.size()) return nullptr;
    return effect->layers[static_cast<std::size_t>(layerIndex)].get();
}

const char* ParticleLayer::nameForMessages() const {
    const ParticleLayerData* layer = data();
    return layer ? layer->emission.name : "invalid";
}

void ParticleLayer::restartTimers() {
    flags |= kLayerEnabled;
    flags &= ~kLayerPointInView;
    emission = ParticleEmission{};
    savedValues[0] = savedValues[1] = 0.0;
}

void ParticleLayer::reset() {
    owner->livePointCount -= static_cast<std::int32_t>(points.size());
    points.clear();
    restartTimers();
    const ParticleEffect* effect = owner->effectData;
    if (!effect) return;
    if (effect->limits.worldSpace == 0 && effect->kind == kParticleKindEmitted)
        flags |= kLayerFollowsParticle;
    else
        flags &= ~kLayerFollowsParticle;
    if (effect->kind == kParticleKindFixedQuads) {
        ParticlePoint point;
        point.texRect[2] = point.texRect[3] = 1.0f;
        point.color[0] = point.color[1] = point.color[2] = 0.5f;
        point.color[3] = 1.0f;
        point.axis[1] = 1.0f;
        point.width = owner->baseSize[0];
        point.height = owner->baseSize[1];
        points.push_back(point);
    }
}

void ParticleLayer::drawPeriod() {
    const ParticleLayerData* layer = data();
    emission.blend = static_cast<float>(rnd());
    emission.time = 0.0;
    emission.keys[0] = 0;
    emission.keys[1] = 1;
    emission.fraction = 0.0;
    emission.previous = 0.0;
    const double jitter = layer ? layer->emission.periodJitter : 0.0;
    emission.period = (layer ? layer->emission.period : 1.0) + (2.0 * rnd() - 1.0) * jitter;
    // The loader refuses periods whose lower bound is not above 0.
    emission.rate = emission.period > 0.0 ? 1.0 / emission.period : 0.0;
}

double ParticleLayer::emissionCurve(double t) {
    const ParticleLayerData* layer = data();
    const Keys keys = particleKeys(t);
    emission.keys[0] = keys.first;
    emission.keys[1] = keys.second;
    emission.fraction = keys.fraction;
    if (!layer) return 0.0;
    return emission.blend * at(layer->emission.curveA, keys) + (1.0 - emission.blend) * at(layer->emission.curveB, keys);
}

void ParticleLayer::emissionStep(const CurrentTime& time) {
    const ParticleLayerData* layer = data();
    const ParticleEffect* effect = owner->effectData;
    if (!layer || !effect || time.game.step == 0.0) return;
    if (emission.rate == 0.0) drawPeriod();
    if (!(emission.rate > 0.0)) return;
    CurrentTime sub = time;
    sub.limitStep(std::min(0.01 * emission.period, 0.01), effect->render.timeScale);
    const ParticleEmissionBlock& e = layer->emission;
    do {
        if (!emission.emitting) break;
        if (emission.rate == 0.0) drawPeriod();
        emission.time += sub.game.step * emission.rate;
        if (emission.time < 1.0) {
            const double value = emissionCurve(emission.time);
            emission.accumulator += (value - emission.previous) * emission.period;
            emission.previous = value;
        } else {
            const double value = emissionCurve(1.0);
            emission.accumulator += (value - emission.previous) * emission.period;
            emission.previous = 0.0;
            emission.time = 0.0;
            emission.rate = 0.0;
            if (!e.loop) emission.emitting = 0;
        }
        if (emission.accumulator > 1.0) {
            const double owed = std::floor(emission.accumulator);
            emission.accumulator -= owed;
            if (owed != 0.0) {
                spawn(static_cast<std::int32_t>(std::min(owed, 1.0e6)));
                owner->state |= kParticleSpawned;
            }
        }
    } while (sub.nextSubStep());
}

std::int32_t ParticleLayer::replace(std::int32_t k) {
    const ParticleEffect* effect = owner->effectData;
    const std::int32_t method = effect ? effect->limits.replaceMethod : 0;
    const std::int32_t count = static_cast<std::int32_t>(points.size());
    switch (method) {
        case 0: return k;
        case 1: {
            // The point of smallest age below 0: ages never go below 0, so
            // none is found and the excess stays unmade.
            return k;
        }
        case 2: {
            k = std::min(k, count);
            for (std::int32_t i = 0; i < k; ++i) {
                if (points.empty()) break;
                removePoint(static_cast<std::size_t>(std::rand()) % points.size());
            }
            return 0;
        }
        default:
            engineLog().error("Invalid replace method in particle layer %s", nameForMessages());
            // The excess points stay unmade.
            return k;
    }
}

void ParticleLayer::removePoint(std::size_t i) {
    if (i >= points.size()) return;
    if (i + 1 != points.size()) points[i] = points.back();
    points.pop_back();
    --owner->livePointCount;
}

void ParticleLayer::spawn(std::int32_t n) {
    const ParticleLayerData* layer = data();
    const ParticleEffect* effect = owner->effectData;
    if (!layer || !effect || n <= 0) return;
    // A masked emitter spawns only where its mask let it.
    if (owner->emissionMask && owner->emissionPoints.empty()) return;
    std::int64_t limit = effect->limits.pointLimit;
    std::int64_t wanted = n;
    if (!owner->emissionPoints.empty()) {
        const double factor = static_cast<double>(owner->emissionPoints.size()) * owner->density;
        limit = static_cast<std::int64_t>(static_cast<double>(limit) * factor);
        wanted = static_cast<std::int64_t>(static_cast<double>(wanted) * factor);
    }
    limit = std::min<std::int64_t>(limit, particleSettings.maxParticleLayerPointsCount);
    wanted = std::min(wanted, limit);
    if (wanted <= 0) return;
    std::int32_t count = static_cast<std::int32_t>(wanted);
    const std::int64_t excess = owner->livePointCount - limit + count;
    if (excess > 0) {
        const std::int32_t left = replace(static_cast<std::int32_t>(std::min<std::int64_t>(excess, count)));
        emission.accumulator = std::min(emission.accumulator + left, 1000.0);
        count -= left;
    }
    const ParticleEmissionBlock& e = layer->emission;
    const ParticleLifeBlock& l = layer->life;
    const ParticleAtlasBlock& a = layer->atlas;
    const Keys keys{emission.keys[0], emission.keys[1], emission.fraction};
    const Matrix34 pose = scaledPose(*owner);
    std::size_t nextEmissionPoint = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        float pointOffset[3] = {};
        if (!owner->emissionPoints.empty()) {
            inverseRotate(pose, owner->emissionPoints[nextEmissionPoint].data(), pointOffset);
            nextEmissionPoint = (nextEmissionPoint + 1) % owner->emissionPoints.size();
        }
        const double lifetime = between(at(e.lifetimeMin, keys), at(e.lifetimeMax, keys));
        if (lifetime == 0.0) return;
        ++owner->livePointCount;
        ParticlePoint& p = points.emplace_back();
        std::memcpy(p.birthPose, pose.m, sizeof(p.birthPose));
        if (e.shape == 0) {
            for (int c = 0; c < 3; ++c) p.position[c] = static_cast<float>(between(e.boxMin[c], e.boxMax[c]));
        } else if (e.shape == 1) {
            const double r = percentOver50() ? e.innerRadius * rnd()
                                             : e.innerRadius + (e.outerRadius - e.innerRadius) / (9.0 * rnd() + 1.0);
            const double u = 6.283 * rnd(), v = 6.283 * rnd();
            p.position[0] = static_cast<float>(r * std::sin(u) * std::sin(v));
            p.position[1] = static_cast<float>(r * std::cos(u));
            p.position[2] = static_cast<float>(r * std::sin(u) * std::cos(v));
        }
        for (int c = 0; c < 3; ++c) p.position[c] += e.offset[c] + pointOffset[c];
        const ParticleTable* base[3] = {&e.velocityX, &e.velocityY, &e.velocityZ};
        for (int c = 0; c < 3; ++c)
            p.velocity[c] = static_cast<float>(at(*base[c], keys) + between(-e.spread[c], e.spread[c]));
        const double speed = between(at(e.speedMin, keys), at(e.speedMax, keys));
        if (speed != 0.0) {
            const double u = 6.283 * rnd(), v = 6.283 * rnd();
            p.velocity[0] += static_cast<float>(speed * std::sin(u) * std::sin(v));
            p.velocity[1] += static_cast<float>(speed * std::cos(u));
            p.velocity[2] += static_cast<float>(speed * std::sin(u) * std::cos(v));
        }
        p.sizeScale = static_cast<float>(between(at(e.sizeScaleMin, keys), at(e.sizeScaleMax, keys)));
        p.rotationScale = static_cast<float>(between(at(e.rotationScaleMin, keys), at(e.rotationScaleMax, keys)));
        p.ageRate = static_cast<float>(1.0 / lifetime);
        p.downDirection[1] = -1.0f;
        if (effect->limits.worldSpace) {
            const float down[3] = {0.0f, -1.0f, 0.0f};
            inverseRotate(owner->pose, down, p.downDirection);
        }
        p.frameDirection = 1.0f;
        const std::int32_t column = std::rand() % a.columns;
        if (l.frameMode == 1) {
            if (l.randomStartFrame) p.startFrame = static_cast<float>(std::rand() % a.rows);
            if (l.randomFrameDirection && percentOver50()) p.frameDirection = -1.0f;
        }
        if (l.randomHorizontalMirror && percentOver50()) {
            p.texRect[0] = static_cast<float>(column + 1) * a.cellWidth;
            p.texRect[2] = -a.cellWidth;
        } else {
            p.texRect[0] = static_cast<float>(column) * a.cellWidth;
            p.texRect[2] = a.cellWidth;
        }
        if (l.randomVerticalMirror && percentOver50()) {
            p.verticalMirror = 1;
            p.texRect[3] = -a.cellHeight;
        } else {
            p.texRect[3] = a.cellHeight;
        }
        p.frameSpeed = static_cast<float>(between(l.frameSpeedMin, l.frameSpeedMax));
        p.startAngle = static_cast<float>(between(l.startAngleMin, l.startAngleMax));
        p.rotationDirection = l.randomRotationDirection && percentOver50() ? -1.0f : 1.0f;
        p.currentFrame = p.startFrame;
        p.texRect[1] = std::floor(p.verticalMirror ? p.currentFrame + 1.0f : p.currentFrame) * a.cellHeight;
        p.scale = (owner->size[0] + owner->size[1] + owner->size[2]) * 0.3333f;
    }
}

namespace {

// One sub-step of one point (dt seconds; k = drag coefficient x dt): false
// when its age left [0, 1] and it is to be removed. Full: the colour, frame
// and rotation update of a point in view.
template <bool full, std::int32_t dragMode>
inline bool advancePoint(ParticlePoint& p, double dt, float k, float step, const ParticleLifeBlock& l,
                         const ParticleAtlasBlock& a) {
    p.age += p.ageRate * step;
    if (p.age < 0.0f || p.age > 1.0f) return false;
    // Here the age lies in [0, 1] unless it is not a number, which the
    // clamping lookup takes to 0.
    const Keys keys = p.age >= 0.0f ? particleKeysInRange(p.age) : particleKeys(p.age);
    p.ageKeys[0] = keys.first;
    p.ageKeys[1] = keys.second;
    p.ageKeyFraction = keys.fraction;
    const float s = static_cast<float>(at(l.size, keys)) * p.sizeScale;
    if (!full) {
        p.width = p.height = 0.5f * s;
    } else {
        p.timeAlive += dt;
        const float rows = static_cast<float>(a.rows);
        if (l.frameMode == 0) {
            p.currentFrame = rows * p.age;
        } else if (l.frameMode == 1) {
            float frame = p.startFrame +
                          p.frameSpeed * p.frameDirection * static_cast<float>(p.timeAlive);
            frame = std::fmod(frame, rows);
            if (frame < 0.0f) frame += rows;
            p.currentFrame = frame;
        } else {
            p.currentFrame = 0.0f;
        }
        p.texRect[1] = std::floor(p.verticalMirror ? p.currentFrame + 1.0f : p.currentFrame) * a.cellHeight;
        p.color[0] = static_cast<float>(at(l.red, keys));
        p.color[1] = static_cast<float>(at(l.green, keys));
        p.color[2] = static_cast<float>(at(l.blue, keys));
        p.color[3] = static_cast<float>(at(l.alpha, keys));
        p.width = p.height = s;
    }
    particleDrag3(dragMode, p.velocity, k, s);
    if (l.gravity != 0.0f)
        for (int c = 0; c < 3; ++c) p.velocity[c] += p.downDirection[c] * l.gravity * step;
    for (int c = 0; c < 3; ++c) p.position[c] += p.velocity[c] * step;
    if (!full) {
        p.axis[0] = p.axis[2] = 0.0f;
        p.axis[1] = 1.0f;
    } else {
        const float angle = static_cast<float>(at(l.rotation, keys)) * p.rotationDirection * p.rotationScale +
                            p.startAngle;
        if (l.stretchFlag) {
            const float speed = std::sqrt(p.velocity[0] * p.velocity[0] + p.velocity[1] * p.velocity[1] +
                                          p.velocity[2] * p.velocity[2]);
            p.height *= static_cast<float>(at(l.stretch, keys)) * speed + 1.0f;
        }
        p.axis[0] = std::sin(angle);
        p.axis[1] = a.blendMode == 5 ? 0.0f : std::cos(angle);
        p.axis[2] = a.blendMode == 5 ? std::cos(angle) : 0.0f;
    }
    return true;
}

}  // namespace

namespace {

template <bool full, std::int32_t dragMode>
void updatePointsOf(ParticleLayer& layer, const ParticleLayerData& data, double dt,
                    const ParticlePlacement* placement) {
    const ParticleLifeBlock& l = data.life;
    const ParticleAtlasBlock& a = data.atlas;
    const float k = static_cast<float>(l.drag * dt);
    const float step = static_cast<float>(dt);
    std::vector<ParticlePoint>& points = layer.points;
    for (std::size_t i = 0; i < points.size();) {
        ParticlePoint& p = points[i];
        if (!advancePoint<full, dragMode>(p, dt, k, step, l, a)) {
            layer.removePoint(i);
            continue;
        }
        if (placement) placement->place(p, !full);
        ++i;
    }
}

// The loop made for the layer's drag mode (an unknown mode: no drag).
template <bool full>
void updatePointsOf(ParticleLayer& layer, const ParticleLayerData& data, double dt,
                    const ParticlePlacement* placement) {
    switch (data.life.dragMode) {
        case 0: return updatePointsOf<full, 0>(layer, data, dt, placement);
        case 1: return updatePointsOf<full, 1>(layer, data, dt, placement);
        case 2: return updatePointsOf<full, 2>(layer, data, dt, placement);
        case 3: return updatePointsOf<full, 3>(layer, data, dt, placement);
        case 4: return updatePointsOf<full, 4>(layer, data, dt, placement);
        case 5: return updatePointsOf<full, 5>(layer, data, dt, placement);
        case 6: return updatePointsOf<full, 6>(layer, data, dt, placement);
        case 7: return updatePointsOf<full, 7>(layer, data, dt, placement);
        case 8: return updatePointsOf<full, 8>(layer, data, dt, placement);
        default: return updatePointsOf<full, -1>(layer, data, dt, placement);
    }
}

}  // namespace

void ParticleLayer::updatePoints(double dt, bool full, const ParticlePlacement* placement) {
    const ParticleLayerData* layer = data();
    if (!layer) return;
    if (full)
        updatePointsOf<true>(*this, *layer, dt, placement);
    else
        updatePointsOf<false>(*this, *layer, dt, placement);
}

void ParticleLayer::applyKillBox() {
    const ParticleEffect* effect = owner->effectData;
    if (!effect || effect->limits.killBoxMode != 1) return;
    float low[3], high[3];
    for (int c = 0; c < 3; ++c) {
        low[c] = effect->limits.killBoxMin[c] * owner->size[c];
        high[c] = effect->limits.killBoxMax[c] * owner->size[c];
    }
    for (std::size_t i = 0; i < points.size();) {
        const float* p = points[i].position;
        bool outside = false;
        for (int c = 0; c < 3; ++c) outside = outside || p[c] <= low[c] || p[c] >= high[c];
        if (outside)
            removePoint(i);
        else
            ++i;
    }
}

void ParticleLayer::pointStep(const CurrentTime& time, bool simulate, bool full) {
    const ParticleLayerData* layer = data();
    const ParticleEffect* effect = owner->effectData;
    if (!layer || !effect || points.empty() || time.game.step == 0.0) return;
    const ParticlePlacement placement{scaledPose(*owner), (flags & kLayerFollowsParticle) != 0,
                                      layer->life.stretchFlag != 0, layer->tint};
    if (simulate) {
        CurrentTime sub = time;
        sub.limitStep(1.0 / 85.0, effect->render.timeScale);
        // Without a kill box the last sub-step places each point right
        // after its update: one pass over the points less.
        const bool placeInLastStep = effect->limits.killBoxMode != 1;
        do updatePoints(sub.game.step, full, placeInLastStep && lastSubStep(sub) ? &placement : nullptr);
        while (sub.nextSubStep());
        if (placeInLastStep) return;
        applyKillBox();
    } else if (!(flags & kLayerFollowsParticle)) {
        return;
    }
    for (ParticlePoint& p : points) placement.place(p);
}

bool ParticleLayer::update(const CurrentTime& time, bool simulate) {
    if (!(flags & kLayerEnabled)) return true;
    if (simulate && emission.emitting && !(owner->state & kParticlePaused)) emissionStep(time);
    const bool full = (flags & (kLayerEnabled | kLayerPointInView)) == (kLayerEnabled | kLayerPointInView);
    pointStep(time, simulate, full);
    return true;
}

void ParticleLayer::preSimulate(double step) {
    const ParticleEffect* effect = owner->effectData;
    if (!(flags & kLayerEnabled) || !effect || effect->kind != kParticleKindEmitted) return;
    if (emission.rate == 0.0) drawPeriod();
    // Points live at most the longest lifetime (in effect time): what was
    // emitted before the last such stretch of the period is gone at its
    // end, so only that stretch is simulated.
    const ParticleLayerData* layer = data();
    if (!layer) return;
    double span = emission.period;
    if (!(span <= kMaxParticleEmissionPeriod)) span = kMaxParticleEmissionPeriod;
    double longest = 0.0;
    for (const ParticleTable* table : {&layer->emission.lifetimeMin, &layer->emission.lifetimeMax})
        for (double lifetime : *table) longest = std::isfinite(lifetime) ? std::max(longest, lifetime) : INFINITY;
    const double scale = effect->render.timeScale;
    const double lived = scale > 0.0 && std::isfinite(scale) ? longest / scale : INFINITY;
    if (lived < span && emission.time + (span - lived) * emission.rate < 1.0) {
        emission.time += (span - lived) * emission.rate;
        emission.previous = emissionCurve(emission.time);
        span = lived;
    }
    CurrentTime time(span);
    time.limitStep(step, 1.0);
    do {
        const CurrentTime one = CurrentTime::copyWithStep(time, time.game.step);
        if (emission.emitting && !(owner->state & kParticlePaused)) emissionStep(one);
        pointStep(one, true, true);
    } while (time.nextSubStep());
}

void ParticleLayer::refreshBounds() {
    const float minimum = particleSettings.minParticleAabbSize;
    if (points.empty()) {
        bounds.setFromSize(owner->pose, minimum);
        return;
    }
    float low[3] = {1e30f, 1e30f, 1e30f}, high[3] = {-1e30f, -1e30f, -1e30f};
    for (const ParticlePoint& p : points) {
        float r = p.width + p.height;
        if (r < 0.0f || r > 100.0f) r = minimum;
        for (int c = 0; c < 3; ++c) {
            low[c] = std::min(low[c], p.worldPosition[c] - r);
            high[c] = std::max(high[c], p.worldPosition[c] + r);
        }
    }
    Matrix34 centre = matrix34Identity();
    float half[3];
    bool grown = false;
    for (int c = 0; c < 3; ++c) {
        half[c] = 0.5f * (high[c] - low[c]);
        if (half[c] < 0.2f) half[c] = 0.5f;
        centre.m[9 + c] = 0.5f * (low[c] + high[c]);
        grown = grown || half[c] > grownExtents[c];
    }
    bounds.setFromExtents(centre, half);
    if (grown) {
        for (int c = 0; c < 3; ++c) grownExtents[c] = std::max(grownExtents[c], half[c]);
        owner->state |= kParticleAreasToRefresh;
    }
}

std::int32_t ParticleLayer::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, flags)) || !addField(total, bounds.write(stream)) ||
        !addField(total, stream.write(&emission, sizeof(emission))) ||
        !addField(total, writeU32(stream, static_cast<std::uint32_t>(points.size()))))
        return total;
    if (!points.empty() &&
        !addField(total, stream.write(points.data(), static_cast<std::int32_t>(points.size() * sizeof(ParticlePoint)))))
        return total;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(layerIndex)))) return total;
    for (double value : savedValues)
        if (!addField(total, writeF64(stream, value))) return total;
    return total;
}

namespace {

bool allFinite(const float* values, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (!std::isfinite(values[i])) return false;
    return true;
}

template <std::size_t N>
bool allFinite(const float (&values)[N]) {
    return allFinite(values, N);
}

bool validKey(std::int32_t key) { return key >= 0 && key < 100; }

// Every number of a point the simulation and the quad batch compute with
// (colours end packed into integers) must be finite, and its table keys
// must name table entries.
bool usablePoint(const ParticlePoint& p) {
    const float scalars[] = {p.width,        p.height,           p.ageRate,          p.age,
                             p.currentFrame, p.startFrame,       p.frameDirection,   p.frameSpeed,
                             p.startAngle,   p.rotationDirection, p.scale,            p.sizeScale,
                             p.rotationScale};
    return allFinite(scalars) && allFinite(p.texRect) && allFinite(p.color) && allFinite(p.worldPositionScratch) &&
           allFinite(p.axis) && allFinite(p.position) && allFinite(p.downDirection) && allFinite(p.velocity) &&
           allFinite(p.birthPose) && allFinite(p.worldPosition) && allFinite(p.worldVelocity) &&
           std::isfinite(p.reserved) && std::isfinite(p.ageKeyFraction) && std::isfinite(p.timeAlive) &&
           validKey(p.ageKeys[0]) && validKey(p.ageKeys[1]);
}

// The emission state: finite, keys inside the tables and a period that a
// loaded effect could have drawn (none while the rate is 0).
bool usableEmission(const ParticleEmission& e) {
    const double values[] = {e.time, e.rate, e.accumulator, e.previous, e.period, e.fraction};
    for (double value : values)
        if (!std::isfinite(value)) return false;
    if (!std::isfinite(e.blend) || !validKey(e.keys[0]) || !validKey(e.keys[1])) return false;
    return e.rate == 0.0 || (e.rate > 0.0 && e.period > 0.0 && e.period <= kMaxParticleEmissionPeriod);
}

}  // namespace

std::int32_t ParticleLayerRecord::read(DataStream& stream) {
    std::int32_t total = 0;
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, flags)) || !addField(total, bounds.read(stream)) ||
        !addField(total, readExact(stream, &emission, sizeof(emission))) || !addField(total, readU32(stream, count)))
        return total;
    if (count > static_cast<std::uint32_t>(bytesLeft(stream)) / sizeof(ParticlePoint)) {
        engineLog().error("Can't read particle layer: %u points do not fit in the %i bytes that follow", count,
                          bytesLeft(stream));
        return -1;
    }
    points.resize(count);
    if (count && !addField(total, readExact(stream, points.data(), static_cast<std::int32_t>(count * sizeof(ParticlePoint)))))
        return total;
    std::uint32_t index = 0;
    if (!addField(total, readU32(stream, index))) return total;
    layerIndex = static_cast<std::int32_t>(index);
    for (double& value : savedValues)
        if (!addField(total, readF64(stream, value))) return total;
    if (!usableEmission(emission)) {
        engineLog().error("Can't read particle layer: its emission state holds values out of range");
        return -1;
    }
    for (std::uint32_t i = 0; i < count; ++i)
        if (!usablePoint(points[i])) {
            engineLog().error("Can't read particle layer: point %u holds values out of range", i);
            return -1;
        }
    return total;
}

void ParticleLayer::restore(ParticleLayerRecord&& record) {
    flags = record.flags;
    bounds = record.bounds;
    for (int c = 0; c < 3; ++c) grownExtents[c] = bounds.box.extents[c];
    emission = record.emission;
    points = std::move(record.points);
    layerIndex = record.layerIndex;
    savedValues[0] = record.savedValues[0];
    savedValues[1] = record.savedValues[1];
}

bool ParticleLayer::prepareForPush() {
    const ParticleLayerData* layer = data();
    if (!layer) return false;
    releaseMaterial();
    if (!material) material = std::make_unique<Material>();
    material->setupFromData(layer->material);
    // Blending follows the material head: additive or alpha-blended.
    material->setOpacity(1.0f);
    if (std::strcmp(material->sources[0].baseName(), "$source$") == 0) flags |= kLayerSourceTexture;
    else flags &= ~kLayerSourceTexture;
    std::memcpy(material->layerParameters, layer->parameters, sizeof(material->layerParameters));
    const float grey[4] = {0.5f, 0.5f, 0.5f, 1.0f};
    std::memcpy(material->colours[0], grey, sizeof(grey));
    return true;
}

bool ParticleLayer::allocateDeviceData() {
    if (!material && !prepareForPush()) return false;
    if (flags & kLayerStillFrame) material->flags |= Material::FlagStillFrame;
    if (deviceData) return true;
    if (flags & kLayerSourceTexture) {
        // The source texture comes from the owner (the still frame); none
        // named: nothing to allocate.
        if (!owner->sourceTexture || !owner->sourceTexture[0]) return true;
        TextureLink& source = material->sources[0];
        source.init(owner->sourceTexture, source.type, source.addressU, source.addressV, source.option);
        source.enabled = 1;
    }
    deviceData = material->allocate();
    return deviceData;
}

bool ParticleLayer::deviceDataReady() const { return deviceData; }

void ParticleLayer::releaseMaterial() {
    // The quad batch may still hold the material of its last run.
    if (material && gameCore.render) gameCore.render->quadBatch.forgetMaterial(material.get());
    if (material) material->release();
    deviceData = false;
}

bool ParticleLayer::visibilityTest() {
    Scene* scene = gameCore.currentScene();
    const CameraCore* camera = scene ? scene->camera() : nullptr;
    // Outside screen view the scene's areas decide: the entry of this layer
    // in the particle's record (a particle in no area counts as in view).
    bool volumeInView = true;
    if (gameCore.flags & kGameFlagScreenView) {
        if (camera) volumeInView = camera->frustum.intersects(bounds);
    } else if (owner->areaIndex >= 0) {
        const Scene* home = owner->owningScene();
        const std::size_t index = static_cast<std::size_t>(owner->areaIndex);
        const PVSObjectRecord* record =
            home && index < home->pvs.objects.size() ? home->pvs.objects[index].get() : nullptr;
        if (record && layerIndex >= 0 && static_cast<std::size_t>(layerIndex) < record->elements.size())
            volumeInView = record->elements[static_cast<std::size_t>(layerIndex)].visible != 0;
    }
    if (!volumeInView) {
        flags &= ~(kLayerVolumeInView | kLayerPointInView);
        for (ParticlePoint& p : points) p.inView = 0;
        return false;
    }
    flags |= kLayerVolumeInView;
    bool any = false;
    if (flags & kLayerStillFrame) {
        for (ParticlePoint& p : points) p.inView = 1;
        any = !points.empty();
    } else {
        IntersectionSphere sphere;
        for (ParticlePoint& p : points) {
            p.inView = 0;
            if (!camera) continue;
            boundingSphereAtPoint(sphere.sphere, p.worldPosition, p.width + p.height);
            p.inView = camera->frustum.intersects(sphere) ? 1 : 0;
            any = any || p.inView;
        }
    }
    if (any) flags |= kLayerPointInView;
    else flags &= ~kLayerPointInView;
    return any;
}

void ParticleLayer::draw(bool twoD) {
    const ParticleLayerData* layer = data();
    if (points.empty() || !layer || !gameCore.render) return;
    // Blend modes 0..5 pick the quad orientation one for one.
    static constexpr std::int32_t kOrientation[6] = {0, 1, 2, 3, 4, 5};
    const std::int32_t mode = layer->atlas.blendMode;
    const std::int32_t orientation = mode >= 0 && mode < 6 ? kOrientation[mode] : 0;
    gameCore.render->quadBatch.addSpriteQuads(points.data(), static_cast<std::int32_t>(points.size()), orientation,
                                              material.get(), twoD);
}
