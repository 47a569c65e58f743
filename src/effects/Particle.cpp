#include "effects/Particle.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/GameCore.h"
#include "effects/EffectsSettings.h"
#include "effects/Light.h"
#include "effects/ParticleData.h"
#include "effects/ParticleLayer.h"
#include "effects/RenderObject.h"
#include "effects/Sprite.h"
#include "render/RenderCore.h"
#include "render/RenderList.h"
#include "scene/CameraCore.h"
#include "scene/ObjectRepository.h"
#include "render/DXTextureHandler.h"
#include "render/VideoSetup.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/Matrix.h"
#include "scene/Scene.h"
#include "scene/Y3Pose.h"

Particle* Particle::create(Scene& scene, const char* effect, const char* name, const Matrix34& pose, bool forLoading) {
    if (!effectResourceAvailable(".effect", effect)) {
        engineLog().resourceError("Can't find particle effect [%s]", effect ? effect : "");
        return nullptr;
    }
    Y3ParticleData* record = nullptr;
    if (ParticleDataManager* manager = particleDataManager()) {
        record = manager->getOrCreate(effect, true);
        if (record->has(kResourceUnavailable)) {
            engineLog().resourceError("Can't find particle effect [%s]", effect ? effect : "");
            return nullptr;
        }
    }
    auto* particle = new Particle(scene.id, effect, name, pose);
    particle->effectRecord = record;
    particle->buildLayers();
    // A particle made for a load takes its visibility record from the save.
    if (!forLoading) particle->registerInPVS(pose, false);
    particle->updateBounds(particle->baseSize);
    return particle;
}

Particle* Particle::createForStillFrame(Y3ParticleData* record, const char* name) {
    if (!record || record->has(kResourceUnavailable)) return nullptr;
    auto* particle = new Particle(0, record->name, name, matrix34Identity());
    particle->state |= kParticleStillFrame;
    particle->flush = true;
    particle->effectRecord = record;
    particle->buildLayers();
    return particle;
}

Particle::~Particle() {
    release();
    // A pop refused by a locked render list still may not leave a dangling
    // instance behind.
    if (effectRecord && effectRecord->context) {
        auto& held = effectRecord->context->instances;
        held.erase(std::remove(held.begin(), held.end(), this), held.end());
    }
    if (userRegistered_) ResourceManagerBase::pop(effectRecord, this);
}

const ParticleEffect* Particle::loadEffect() {
    if (!effectRecord) return nullptr;
    if (!effectRecord->has(kResourceHeaderLoaded)) {
        ParticleDataManager* manager = particleDataManager();
        if (!manager || !manager->loadHeader(effectRecord, nullptr)) return effectData = nullptr;
    }
    effectData = effectRecord->effect.get();
    return effectData;
}

void Particle::buildLayers() {
    livePointCount = 0;
    layers.clear();
    const ParticleEffect* effect = loadEffect();
    if (!effect) return;
    updateBounds(baseSize);
    for (std::size_t i = 0; i < effect->layers.size(); ++i)
        layers.push_back(std::make_unique<ParticleLayer>(*this, static_cast<std::int32_t>(i),
                                                         (state & kParticleStillFrame) != 0));
    for (auto& layer : layers) layer->refreshBounds();
}

bool Particle::setPose(const Matrix34& newPose) {
    bool moved = false;
    for (int c = 0; c < 3; ++c) moved = moved || std::fabs(newPose.m[9 + c] - position[c]) > 0.1f;
    if (moved) {
        for (int c = 0; c < 3; ++c) position[c] = newPose.m[9 + c];
        state |= kParticleLightingToRefresh | kParticleAreasToRefresh | kParticleRefreshBounds;
    }
    pose = newPose;
    return true;
}

void Particle::updateBounds(const float* base) {
    for (int c = 0; c < 3; ++c) size[c] = baseSize[c] = base[c];
    if (effectData) {
        for (float& s : size) s *= effectData->render.baseScale;
        if (effectData->kind == kParticleKindFixedQuads)
            for (auto& layer : layers) layer->reset();
    }
    setPose(pose);
}

bool Particle::setVisible(bool show, bool quiet) {
    if (((state & kParticleShown) != 0) == show) return true;
    if (!quiet)
        engineLog().info("%s particle [%s] (%s)", show ? "Show" : "Hide", particleName, name);
    if (show) {
        state |= kParticleShown;
        return push();
    }
    state &= ~kParticleShown;
    return isOnStack() ? pop(1) : true;
}

double Particle::preSimulationStep() { return 1.0 / std::max(static_cast<double>(particleSettings.bgParticleSimulationFps), 1.0); }

void Particle::preSimulate() {
    if (!syncEffect()) return;
    for (auto& layer : layers) layer->preSimulate(preSimulationStep());
}

Particle::Particle(std::uint32_t scene, const char* effect, const char* ownName, const Matrix34& placement)
    : GameObject(effect ? effect : ""), pose(placement), sceneLink(scene) {
    copyName(particleName, sizeof(particleName), ownName ? ownName : "");
    for (int c = 0; c < 3; ++c) position[c] = placement.m[9 + c];
}

bool Particle::push() {
    Log& log = engineLog();
    if (isOnStack()) return log.error("Can't push particle [%s] twice", particleName);
    bool ok = ParticleContext::push(effectRecord, *this);
    if (effectRecord && !effectRecord->has(kResourceUnavailable) && loadEffect()) {
        if (effectData->layers.size() != layers.size()) {
            log.error("Can't push particle [%s]: particle layers is changed from [%i] to [%i]", particleName,
                      static_cast<std::int32_t>(layers.size()), static_cast<std::int32_t>(effectData->layers.size()));
            // A refused push leaves the particle off its effect.
            if (isOnStack()) pop(1);
            return false;
        }
        if (effectData->render.detailLevel > textureEnvironment().videoSetup().details) {
            log.info("Disable particle [%s] (class [%s]): current graphics details too low", particleName, name);
            state &= ~kParticleShown;
            if (isOnStack()) pop(1);
            return true;
        }
        for (std::size_t i = 0; i < layers.size(); ++i)
            if (!layers[i]->prepareForPush() || !layers[i]->allocateDeviceData())
                ok = log.error("Can't push particle [%s] layer [%i]", particleName, static_cast<std::int32_t>(i));
    }
    return ok;
}

bool Particle::pop(std::uint32_t) {
    if (!isOnStack()) return engineLog().error("Can't pop particle [%s]: push first", particleName);
    for (auto& layer : layers) layer->releaseMaterial();
    return ParticleContext::pop(effectRecord, *this);
}

void Particle::setResourcePushed(bool pushed) { userRegistered_ = pushed; }

const ParticleEffect* Particle::syncEffect() {
    // An effect record without users may be unloaded by the collector: the
    // particle takes the record's data as they are now.
    if (effectRecord) effectData = effectRecord->effect.get();
    return effectData;
}

bool Particle::updatePhase2(const CurrentTime& time, std::int32_t flag) {
    syncEffect();
    if (state & kParticleStillFrame) visibilityStep();
    if (link.parent().value == 0) {
        state |= kParticlePlaced;
    } else {
        Matrix34 world{};
        if (link.evaluate(world)) {
            state |= kParticlePlaced;
            setPose(world);
        } else {
            state &= ~kParticlePlaced;
        }
    }
    const std::uint32_t drawn = kParticleShown | kParticleOnStack | kParticlePlaced;
    if ((state & drawn) != drawn) return true;
    if ((state & kParticlePointInView) && (state & kParticlePreSimulate)) {
        state &= ~kParticlePreSimulate;
        if (effectData) preSimulate();
    }
    if ((state & kParticlePointInView) && (flag & 1)) state |= kParticleMovedInView;
    bool ok = true;
    if ((state & kParticleVolumeInView) || link.parent().value != 0) {
        state &= ~kParticleSpawned;
        if (effectData)
            for (auto& layer : layers) ok = layer->update(time, (state & kParticleVolumeInView) != 0) && ok;
    }
    if ((state & kParticleVolumeInView) && (state & kParticleSoundArmed) && (state & kParticleSpawned)) {
        state &= ~kParticleSoundArmed;
        // The effect's start sound, once the first points came out; a still
        // frame's particle has no place in the world and plays it unplaced.
        if (effectData && effectData->sound[0] && (state & kParticlePlaced)) {
            if (state & kParticleStillFrame) gameCore.playAutoSound(effectData->sound, GameObjectLink{});
            else gameCore.playSoundAt(effectData->sound, pose.m + 9, nullptr);
        }
    }
    if ((state & kParticleVolumeInView) && !(state & kParticleAreasToRefresh))
        for (auto& layer : layers) layer->refreshBounds();
    if ((state & kParticleAreasToRefresh) && areaIndex >= 0) {
        if (Scene* scene = owningScene()) {
            if (state & kParticleRefreshBounds)
                for (auto& layer : layers) layer->refreshBounds();
            scene->pvs.updateObject(areaIndex, true);
        }
        state &= ~kParticleAreasToRefresh;
    }
    if ((state & kParticleVolumeInView) && (state & kParticleLightingToRefresh)) invalidateLighting();
    return ok;
}

Scene* Particle::owningScene() const {
    if (sceneLink == 0 || (state & kParticleStillFrame) || !gameCore.objects) return nullptr;
    // A scene already gone is no error here: nothing is left to leave.
    const GameObjectLink link{sceneLink};
    if (!gameCore.objects->isLive(link.index() - 1)) return nullptr;
    GameObject* object = gameCore.objects->getObject(link);
    return object && object->getType() == ObjectScene ? static_cast<Scene*>(object) : nullptr;
}

void Particle::unregisterFromPVS() {
    if (areaIndex < 0) return;
    if (Scene* scene = owningScene())
        scene->pvs.unregisterObject(this);
    else
        areaIndex = -1;
}

void Particle::release() {
    unregisterFromPVS();
    if (isOnStack()) pop(0);
    unregisterFromPVS();
    for (auto& layer : layers) layer->releaseMaterial();
    layers.clear();
    livePointCount = 0;
}

namespace {

// A particle's saved record as read, before it is applied.
struct ParticleRecord {
    std::uint32_t liveCount = 0;
    char name[GameObject::kNameSize] = {};
    float placement[27] = {};  // position, pose, inverse pose
    char text[128] = {};
    float size[3] = {}, baseSize[3] = {};
    std::int32_t areaIndex = -1;
    std::uint32_t state = 0;
    std::vector<ParticleLayerRecord> layers;

    std::int32_t read(DataStream& stream) {
        std::int32_t total = 0;
        if (!addField(total, readU32(stream, liveCount))) return total;
        const std::int32_t named = readString16(stream, name, sizeof(name));
        if (named < 0) {
            if (bytesLeft(stream) > 0) engineLog().error("Can't read particle: its name is longer than 127 characters");
            return named;
        }
        total += named;
        std::uint32_t count = 0;
        if (!addField(total, readExact(stream, placement, sizeof(placement))) ||
            !addField(total, readString16(stream, text, sizeof(text))) ||
            !addField(total, readExact(stream, size, sizeof(size))) ||
            !addField(total, readExact(stream, baseSize, sizeof(baseSize))) ||
            !addField(total, readI32(stream, areaIndex)) || !addField(total, readU32(stream, state)) ||
            !addField(total, readU32(stream, count)))
            return total;
        const auto finite = [](const float* values, std::size_t count) {
            return std::all_of(values, values + count, [](float v) { return std::isfinite(v); });
        };
        if (!finite(placement, std::size(placement)) || !finite(size, 3) || !finite(baseSize, 3)) {
            engineLog().error("Can't read particle [%s]: its placement or size is not finite", name);
            return -1;
        }
        // A layer record takes at least its fixed fields.
        constexpr std::uint32_t kLeast = 4 + 112 + sizeof(ParticleEmission) + 4 + 4 + 16;
        if (count > static_cast<std::uint32_t>(bytesLeft(stream)) / kLeast) {
            engineLog().error("Can't read particle [%s]: %u layers do not fit in the %i bytes that follow", name, count,
                              bytesLeft(stream));
            return -1;
        }
        layers.resize(count);
        for (ParticleLayerRecord& layer : layers)
            if (!addField(total, layer.read(stream))) return total;
        return total;
    }
};

}  // namespace

std::int32_t Particle::write(DataStream& stream) {
    std::int32_t total = 0;
    Matrix34 inverse{};
    matrix34Inverse(pose, inverse);
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(livePointCount))) ||
        !addField(total, writeString16(stream, particleName, sizeof(particleName))) ||
        !addField(total, stream.write(position, sizeof(position))) ||
        !addField(total, stream.write(pose.m, sizeof(pose.m))) ||
        !addField(total, stream.write(inverse.m, sizeof(inverse.m))) ||
        !addField(total, writeString16(stream, textField, sizeof(textField))) ||
        !addField(total, stream.write(size, sizeof(size))) ||
        !addField(total, stream.write(baseSize, sizeof(baseSize))) || !addField(total, writeI32(stream, areaIndex)) ||
        !addField(total, writeU32(stream, state)) ||
        !addField(total, writeU32(stream, static_cast<std::uint32_t>(layers.size()))))
        return total;
    for (const auto& layer : layers)
        if (!addField(total, layer->write(stream))) return total;
    return total;
}

std::int32_t Particle::read(DataStream& stream) {
    ParticleRecord record;
    const std::int32_t result = record.read(stream);
    if (result < 0) return result;
    std::memcpy(particleName, record.name, sizeof(particleName));
    Matrix34 placed{};
    std::memcpy(placed.m, record.placement + 3, sizeof(placed.m));
    setPose(placed);
    std::memcpy(position, record.placement, sizeof(position));
    std::memcpy(textField, record.text, sizeof(textField));
    std::memcpy(size, record.size, sizeof(size));
    std::memcpy(baseSize, record.baseSize, sizeof(baseSize));
    areaIndex = record.areaIndex;
    livePointCount = static_cast<std::int32_t>(record.liveCount);
    if (effectRecord) loadEffect();
    layers.clear();
    for (std::size_t i = 0; i < record.layers.size(); ++i) {
        auto layer = std::make_unique<ParticleLayer>(*this, static_cast<std::int32_t>(i));
        layer->restore(std::move(record.layers[i]));
        layers.push_back(std::move(layer));
    }
    // The layers' construction counted nothing: the saved count stands.
    livePointCount = static_cast<std::int32_t>(record.liveCount);
    state = (record.state | kParticleLightingToRefresh | kParticleAreasToRefresh | kParticleMovedInView |
             kParticlePlaced) &
            ~kParticleOnStack;
    return result;
}

std::int32_t Particle::checkRecord(DataStream& stream) {
    ParticleRecord record;
    return record.read(stream);
}

bool Particle::setPaused(bool pause, bool quiet) {
    if (((state & kParticlePaused) != 0) == pause) return true;
    if (!quiet) engineLog().info("%s particle [%s] (%s)", pause ? "Pause" : "Play", particleName, name);
    if (pause) state |= kParticlePaused;
    else state &= ~kParticlePaused;
    return true;
}

void Particle::restart(const CurrentTime& time) {
    updateBounds(baseSize);
    // The layers' reset takes their points off the count: the count is
    // cleared after it, never left below zero.
    for (auto& layer : layers) layer->reset();
    livePointCount = 0;
    updatePhase2(time, 2);
}

void Particle::resetLayers(const CurrentTime& time) {
    for (auto& layer : layers) layer->restartTimers();
    updatePhase2(time, 2);
    state |= kParticleSoundArmed;
}

bool Particle::checkUniqueName(const char* newName) {
    return renameSceneObject(
        owningScene(), *this, particleName, newName,
        [](const Scene& scene, const char* name) { return scene.lookupParticle(name); },
        "Particle with name [%s] already exist in this scene");
}

bool Particle::registerInPVS(const Matrix34& placement, bool skipLayers) {
    livePointCount = 0;
    // A second registration leaves no record of the first behind.
    unregisterFromPVS();
    areaIndex = -1;
    setPose(placement);
    if (!skipLayers && loadEffect()) {
        const std::size_t count = effectData->layers.size();
        for (std::size_t i = layers.size(); i < count; ++i)
            layers.push_back(std::make_unique<ParticleLayer>(*this, static_cast<std::int32_t>(i),
                                                             (state & kParticleStillFrame) != 0));
        layers.resize(count);
    }
    for (auto& layer : layers) layer->refreshBounds();
    if (Scene* scene = owningScene()) {
        scene->pvs.registerObject(this);
        if (areaIndex < 0) engineLog().error("Particle [%s] is not registered in PVS system", particleName);
    }
    state |= kParticleLightingToRefresh | kParticleAreasToRefresh | kParticleMovedInView | kParticleRefreshBounds;
    restart(CurrentTime(-1.0));
    return true;
}

bool Particle::visibilityStep() {
    state &= ~(kParticleVolumeInView | kParticlePointInView);
    if (!drawable()) return false;
    if (sceneLink != 0 && !(state & kParticleStillFrame)) {
        Scene* scene = gameCore.currentScene();
        const CameraCore* camera = scene ? scene->camera() : nullptr;
        if (!camera) return false;
        sortKey = 0;
        if (gameCore.flags & kGameFlagScreenView) {
            float eye[3];
            const Matrix34& view = camera->pose;
            for (int c = 0; c < 3; ++c) eye[c] = view.m[9 + c] - pose.m[9 + c];
            const double distance = std::sqrt(double(eye[0]) * eye[0] + double(eye[1]) * eye[1] + double(eye[2]) * eye[2]);
            sortKey = static_cast<std::int32_t>(100000000.0 - 10000.0 * distance);
            // Hidden beside the screen-actions sprite: nothing in view.
            if (!gameCore.scene_attachSprite(GameObjectLink::fromObject(this))) return false;
        }
    }
    for (auto& layer : layers) {
        if (layer->visibilityTest()) state |= kParticlePointInView;
        if (layer->flags & kLayerVolumeInView) state |= kParticleVolumeInView;
    }
    if (link.parent().value != 0) {
        GameObject* parent = gameCore.objects ? gameCore.objects->getObject(link.parent()) : nullptr;
        if (parent && parent->isHidden()) state &= ~kParticlePointInView;
    }
    return (state & kParticlePointInView) != 0;
}

bool Particle::render2D() {
    if (!(state & kParticleStillFrame)) return false;
    if (!loadEffect() || !drawable()) return false;
    for (auto& layer : layers) {
        if (!(layer->flags & kLayerEnabled)) continue;
        if (!layer->deviceDataReady() && !layer->allocateDeviceData()) continue;
        layer->draw(true);
    }
    return true;
}

bool ParticleContext::push(Y3ParticleData* record, Particle& particle) {
    Log& log = engineLog();
    const char* effect = record ? record->name : particle.name;
    if (renderListLocked())
        return log.error("Can't push particle [%s] (%s): render context locked", particle.particleName, effect);
    if (!record) return log.error("Can't push particle [%s]: it has no effect", particle.particleName);
    if (!ResourceManagerBase::push(record, &particle)) return false;
    if (!record->context) {
        auto* context = new ParticleContext();
        context->record = record;
        record->renderObject.name = record->name;
        // A refused render object deletes the context.
        if (!createRenderObject(record->renderObject, context)) {
            ResourceManagerBase::pop(record, &particle);
            return false;
        }
        record->context = context;
    }
    record->context->instances.push_back(&particle);
    particle.state |= kParticleOnStack;
    return true;
}

bool ParticleContext::pop(Y3ParticleData* record, Particle& particle) {
    Log& log = engineLog();
    const char* effect = record ? record->name : particle.name;
    if (renderListLocked())
        return log.error("Can't pop particle [%s] (%s): render context locked", particle.particleName, effect);
    if (!(particle.state & kParticleOnStack))
        return log.error("Can't pop %s [%s]: push first", record ? record->typeLabel : "particle", particle.particleName);
    if (!record || !ResourceManagerBase::pop(record, &particle)) return false;
    particle.state &= ~kParticleOnStack;
    if (ParticleContext* context = record->context) {
        auto& held = context->instances;
        auto at = std::find(held.begin(), held.end(), &particle);
        if (at != held.end()) {
            *at = held.back();
            held.pop_back();
        }
        // The render object deletes the context it owns.
        if (held.empty() && releaseRenderObject(record->renderObject)) record->context = nullptr;
    }
    return true;
}

bool ParticleContext::cull() {
    bool any = false;
    for (Particle* particle : instances)
        if (particle && particle->visibilityStep()) any = true;
    return any;
}

void ParticleContext::update(const Matrix34&) {
    RenderList* list = gameCore.render ? &gameCore.render->renderList : nullptr;
    const ParticleEffect* effect = record ? record->effect.get() : nullptr;
    if (!list || !effect || !record->renderObject.visible) return;
    for (std::size_t l = 0; l < effect->layers.size(); ++l)
        for (std::size_t i = 0; i < instances.size(); ++i) {
            const Particle* particle = instances[i];
            if (!particle || (particle->state & kParticleStillFrame) || !(particle->state & kParticlePointInView) ||
                !particle->drawable() || l >= particle->layers.size())
                continue;
            const ParticleLayer& layer = *particle->layers[l];
            if ((layer.flags & (kLayerEnabled | kLayerPointInView)) != (kLayerEnabled | kLayerPointInView)) continue;
            list->queues[0].insert(particle->sortKey + effect->render.renderKey,
                                   DrawItem{&record->renderObject, std::int32_t(i), std::int32_t(l), 0, 0, 0.0f, 0.0f});
        }
}

std::int32_t ParticleContext::render(const DrawItem* items, std::int32_t count, std::int32_t index, std::int32_t step) {
    const bool loaded = record && record->effect;
    std::int32_t i = index;
    for (; i >= 0 && i < count && record && items[i].renderObject == &record->renderObject; i += step) {
        if (!loaded) continue;
        const DrawItem& item = items[i];
        if (item.instance < 0 || std::size_t(item.instance) >= instances.size()) continue;
        Particle* particle = instances[std::size_t(item.instance)];
        if (!particle || item.element < 0 || std::size_t(item.element) >= particle->layers.size()) continue;
        ParticleLayer& layer = *particle->layers[std::size_t(item.element)];
        if (!(layer.flags & kLayerEnabled)) continue;
        if (!layer.deviceDataReady() && !layer.allocateDeviceData()) continue;
        layer.draw(false);
    }
    return i;
}

bool ParticleContext::reportReferences() {
    if (instances.empty()) return true;
    Log& log = engineLog();
    log.error("Not all particle references release for model [%s]", record ? record->name : "");
    for (std::size_t i = 0; i < instances.size(); ++i)
        log.info("%2i) %s", static_cast<int>(i), instances[i] ? instances[i]->particleName : "");
    return false;
}

bool Particle::teleport(const char* waypoint, float offset) {
    if (!waypoint || !waypoint[0])
        return engineLog().scriptError("Fail teleport particle to empty destination: [%s]->NULL", particleName);
    Y3Pose* target = gameCore.scene_findWaypointOfKind(waypoint, 0);
    if (!target)
        return engineLog().error("Required waypoint with name [%s] to execute TELEPORT for particle object [%s]",
                                 waypoint, particleName);
    Matrix34 placed = target->pose;
    for (int c = 0; c < 3; ++c) placed.m[9 + c] += offset * placed.m[c];
    return setPose(placed);
}

bool Particle::linkTo(const char* object, const char* bone) {
    Scene* scene = gameCore.currentScene();
    GameObject* parent = scene && object ? scene->lookupModel(object) : nullptr;
    if (!parent) {
        engineLog().error("Can't find game object with name [%s]", object ? object : "");
        return engineLog().error("Particle [%s] link: Can't find parent object [%s] to link", particleName,
                                 object ? object : "");
    }
    if (!link.set(bone, parent, matrix34Identity()))
        return engineLog().error("Particle [%s] link: Fail link to [%s] bone [%s]", particleName, object,
                                 bone ? bone : "");
    return true;
}

bool Particle::unlink() {
    link.clear();
    return true;
}
