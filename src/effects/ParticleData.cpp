#include "effects/ParticleData.h"

#include <cmath>
#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Log.h"

namespace {

ParticleDataManager* installedManager = nullptr;

}  // namespace

ParticleDataManager* particleDataManager() { return installedManager; }
void setParticleDataManager(ParticleDataManager* manager) { installedManager = manager; }

std::int32_t ParticleLayerData::read(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, readExact(stream, &emission, sizeof(emission)))) return total;
    if (!addField(total, readExact(stream, &life, sizeof(life)))) return total;
    if (!addField(total, readExact(stream, &atlas, sizeof(atlas)))) return total;
    if (!addField(total, material.read(stream))) return total;
    if (!addField(total, readExact(stream, tint, sizeof(tint)))) return total;
    for (std::uint32_t& parameter : parameters)
        if (!addField(total, readU32(stream, parameter))) return total;
    return total;
}

namespace {

// The values the simulation divides by or loops over: the emission period
// less its jitter must stay above 0 and, with it, finite and at most
// kMaxParticleEmissionPeriod (a particle pre-simulates one period when it
// first comes into view); the atlas must have rows and columns.
bool layerUsable(const ParticleLayerData& layer, const char* effect, std::uint32_t index) {
    const float period = layer.emission.period, jitter = std::fabs(layer.emission.periodJitter);
    const float lowest = period - jitter;
    if (!(lowest > 0.0f))
        return engineLog().resourceError(
            "Particle effect [%s]: layer %u: the emission period %g with jitter %g can reach 0", effect, index,
            static_cast<double>(period), static_cast<double>(layer.emission.periodJitter));
    if (!std::isfinite(period + jitter) || static_cast<double>(period) + jitter > kMaxParticleEmissionPeriod)
        return engineLog().resourceError(
            "Particle effect [%s]: layer %u: the emission period %g with jitter %g exceeds %g seconds", effect, index,
            static_cast<double>(period), static_cast<double>(layer.emission.periodJitter), kMaxParticleEmissionPeriod);
    if (layer.atlas.rows <= 0 || layer.atlas.columns <= 0)
        return engineLog().resourceError("Particle effect [%s]: layer %u: the atlas has %i rows and %i columns",
                                         effect, index, layer.atlas.rows, layer.atlas.columns);
    return true;
}

}  // namespace

std::int32_t ParticleEffect::read(DataStream& stream, const char* resourceName) {
    const char* label = resourceName ? resourceName : "";
    std::int32_t total = 0;
    if (!addField(total, readString16(stream, name, sizeof(name)))) return total;
    if (!addField(total, readString16(stream, secondName, sizeof(secondName)))) return total;
    if (!addField(total, readString16(stream, sound, sizeof(sound)))) return total;
    if (!addField(total, readU32(stream, flags)) || !addField(total, readU32(stream, kind))) return total;
    if (!addField(total, readExact(stream, &limits, sizeof(limits)))) return total;
    if (!addField(total, readExact(stream, &render, sizeof(render)))) return total;
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, count))) return total;
    // Every layer takes at least its fixed blocks: a count the bytes that
    // follow cannot hold is damage, refused before anything is allocated.
    const std::uint32_t room = static_cast<std::uint32_t>(bytesLeft(stream)) / kParticleLayerMinimumBytes;
    if (count > room) {
        engineLog().resourceError("Particle effect [%s]: %u layers do not fit in the %i bytes that follow", label,
                                  count, bytesLeft(stream));
        return -1;
    }
    while (layers.size() > count) layers.pop_back();
    while (layers.size() < count) layers.push_back(std::make_unique<ParticleLayerData>());
    for (std::uint32_t i = 0; i < count; ++i) {
        ParticleLayerData& layer = *layers[i];
        layer.emission = ParticleEmissionBlock{};
        layer.life = ParticleLifeBlock{};
        layer.atlas = ParticleAtlasBlock{};
        if (!addField(total, layer.read(stream))) {
            engineLog().resourceError("Particle effect [%s]: layer %u is damaged", label, i);
            return total;
        }
        if (!layerUsable(layer, label, i)) return -1;
    }
    return total;
}

void ParticleEffect::release() {
    for (auto& layer : layers)
        for (TextureLink& link : layer->material.links) link.release(false);
    layers.clear();
    layers.shrink_to_fit();
}

Y3ParticleData::Y3ParticleData(const char* recordName)
    : ResourceRecord(recordName, resourceDescriptor(ResourceKind::Particle)) {}

Y3ParticleData::~Y3ParticleData() { dispose(); }

std::int32_t Y3ParticleData::readHeader(DataStream& stream) {
    deleteObject();
    return ParticleDataManager::createData(stream, effect, name);
}

void Y3ParticleData::deleteObject() {
    if (!effect) return;
    ParticleDataManager::releaseTextures(*effect);
    effect.reset();
}

ParticleDataManager::ParticleDataManager() : info_(findDataManagerInfo("ParticleDataManager")) {}

bool ParticleDataManager::compileFromSource(const char* sourcePath) {
    return engineLog().error("Particle: Can't import [%s]: particle effects are written by the effect tool",
                             sourcePath ? sourcePath : "");
}

std::int32_t ParticleDataManager::createData(DataStream& stream, std::unique_ptr<ParticleEffect>& out,
                                             const char* name) {
    out = std::make_unique<ParticleEffect>();
    const std::int32_t result = out->read(stream, name);
    if (result < 0) {
        out->release();
        out.reset();
    }
    return result;
}

ParticleEffect* ParticleDataManager::acquire(const char* name) {
    if (!name || !name[0]) return nullptr;
    Y3ParticleData* record = getOrCreate(name, true);
    if (!record->has(kResourceHeaderLoaded) && !loadHeader(record, nullptr)) return nullptr;
    return record->effect.get();
}
