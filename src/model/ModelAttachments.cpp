// The lights and particles a model resource declares: made as scene objects
// linked to the model (or one of its bones) when the model is created,
// lights switched with the model's push and pop, both deleted when the model
// is released; and the shadow-casting lights of the model's elements.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/GameCore.h"
#include "effects/Light.h"
#include "effects/Particle.h"
#include "effects/Y3Light.h"
#include "foundation/Log.h"
#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "model/Y3Model.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"

namespace {

GameObject* resolveLink(GameObjectLink link) {
    return link.value && gameCore.objects ? gameCore.objects->getObject(link) : nullptr;
}

// "<first>.<second>", cut at 127 characters.
void joinName(char (&out)[128], const char* first, const char* second) {
    std::snprintf(out, sizeof(out), "%s.%s", first ? first : "", second ? second : "");
}

// The bone a record names: none when it names the model resource itself.
const char* boneOf(const char* parentName, const char* resourceName) {
    return std::strncmp(parentName, resourceName, 128) == 0 ? nullptr : parentName;
}

Matrix34 matrixOf(const float* values) {
    Matrix34 out;
    std::copy(values, values + 12, out.m);
    return out;
}

bool headerLoaded(const Model& model) {
    return model.resource && model.resource->model && model.resource->has(kResourceHeaderLoaded);
}

}  // namespace

bool Model::createLights(const Matrix34& pose) {
    if (!headerLoaded(*this)) return engineLog().error("Can't create model [%s] lights: Allocate model data first", name);
    Y3ModelDefault* model = meshModel();
    if (!model) return false;
    lights.assign(model->lights.size(), GameObjectLink{});
    Scene* owner = scene();
    if (!owner) return true;
    for (std::size_t i = 0; i < model->lights.size(); ++i) {
        const Y3Light* record = model->lights[i].get();
        if (!record) continue;
        char objectName[128], dataName[128];
        joinName(objectName, name, record->name);
        joinName(dataName, resourceName, record->name);
        Light* light = owner->addLight(objectName, dataName, false);
        if (!light) continue;
        light->setup(pose);
        light->link.set(boneOf(record->bone, resourceName), this, record->pose);
        lights[i] = GameObjectLink::fromObject(light);
    }
    return true;
}

bool Model::addParticle(const ModelParticleAttachment& record, const Matrix34& pose, GameObjectLink& out) {
    char objectName[128];
    joinName(objectName, name, record.names[0]);
    Scene* owner = scene();
    GameObject* made = owner ? owner->lookupParticle(objectName) : nullptr;
    if (!made) {
        out = GameObjectLink{};
        if (!owner) return false;
        made = owner->createParticle(objectName, record.names[1], pose);
        if (!made) return false;
        if (auto* particle = dynamic_cast<Particle*>(made)) {
            const float size[3] = {record.size[0] * scale[0], record.size[1] * scale[1], record.size[2] * scale[2]};
            particle->updateBounds(size);
        }
        made->link.set(boneOf(record.names[2], resourceName), this, matrixOf(record.matrix));
        // Background effects run at once; the others wait for their event.
        const bool background = std::strncmp(record.names[0], "bg_", 3) == 0;
        auto* flags = dynamic_cast<SceneObjectFlags*>(made);
        if (!background && flags && !(flags->stateFlags() & kParticlePaused)) {
            engineLog().message("%s particle [%s] (%s)", "Pause", made->getName(), record.names[1]);
            flags->stateFlags() |= kParticlePaused;
        }
    }
    out = GameObjectLink::fromObject(made);
    if (std::none_of(particles.begin(), particles.end(), [&](GameObjectLink l) { return l.value == out.value; }))
        particles.push_back(out);
    return true;
}

bool Model::createParticles(const Matrix34& pose) {
    if (!headerLoaded(*this))
        return engineLog().error("Can't create model [%s] particles: Allocate model data first", name);
    Y3ModelDefault* model = meshModel();
    if (!model) return false;
    particles.clear();
    for (const ModelParticleAttachment& record : model->particles) {
        GameObjectLink made;
        addParticle(record, pose, made);
    }
    return true;
}

bool Model::removeParticle(const char* particleName) {
    char objectName[128];
    joinName(objectName, name, particleName);
    Scene* owner = scene();
    GameObject* found = owner ? owner->lookupParticle(objectName) : nullptr;
    if (!found) return true;
    const GameObjectLink link = GameObjectLink::fromObject(found);
    for (std::size_t i = 0; i < particles.size(); ++i)
        if (particles[i].value == link.value) {
            particles[i] = particles.back();
            particles.pop_back();
            break;
        }
    owner->deleteParticle(found);
    return true;
}

void Model::enableAttachedLights(bool on) {
    for (GameObjectLink link : lights)
        if (auto* light = dynamic_cast<Light*>(resolveLink(link))) {
            if (on) light->flags |= kLightEnabledBit;
            else light->flags &= ~kLightEnabledBit;
        }
}

bool Model::deleteLights() {
    Scene* owner = scene();
    for (GameObjectLink link : lights)
        if (GameObject* light = resolveLink(link); light && owner) owner->deleteLight(light);
    std::vector<GameObjectLink>().swap(lights);
    return true;
}

bool Model::deleteParticles() {
    Scene* owner = scene();
    for (GameObjectLink link : particles)
        if (GameObject* particle = resolveLink(link); particle && owner) owner->deleteParticle(particle);
    std::vector<GameObjectLink>().swap(particles);
    return true;
}

bool Model::collectShadowLights(std::vector<GameObjectLink>& out) const {
    if (!isShown() || !(stateWords[0] & kModelActive)) return false;
    constexpr std::uint32_t wanted = kLightShadowCaster | kLightEnabledBit | kLightVisible;
    for (const ModelElement& element : elements) {
        if (!(element.flags & kElementEnabled)) continue;
        for (GameObjectLink link : element.lights) {
            auto* light = dynamic_cast<Light*>(resolveLink(link));
            if (!light || (light->flags & wanted) != wanted) continue;
            if (std::none_of(out.begin(), out.end(), [&](GameObjectLink l) { return l.value == link.value; }))
                out.push_back(link);
        }
    }
    return !out.empty();
}
