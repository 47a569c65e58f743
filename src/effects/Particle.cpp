#include "effects/Particle.h"

#include <cstring>

#include "effects/Sprite.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "scene/Scene.h"

Particle* Particle::create(Scene& scene, const char* effect, const char* name, const Matrix34& pose) {
    if (!effectResourceAvailable(".effect", effect)) {
        engineLog().resourceError("Can't find particle effect [%s]", effect ? effect : "");
        return nullptr;
    }
    return new Particle(scene.id, effect, name, pose);
}

Particle::Particle(std::uint32_t scene, const char* effect, const char* ownName, const Matrix34& placement)
    : GameObject(effect ? effect : ""), pose(placement), sceneLink(scene) {
    copyName(particleName, sizeof(particleName), ownName ? ownName : "");
}

bool Particle::push() {
    if (isOnStack()) return engineLog().error("Can't push object [%s] twice", particleName);
    state |= kParticleOnStack;
    return true;
}

bool Particle::pop(std::uint32_t) {
    if (!isOnStack()) return engineLog().error("Can't pop particle [%s]: push first", particleName);
    state &= ~kParticleOnStack;
    return true;
}

namespace {

std::int32_t readFields(DataStream& stream, char* name, Matrix34& pose, std::uint32_t& state) {
    std::int32_t total = 0;
    const std::int32_t read = readString16(stream, name, GameObject::kNameSize);
    if (read < 0) {
        if (bytesLeft(stream) > 0) engineLog().error("Can't read particle: its name is longer than 127 characters");
        return read;
    }
    total += read;
    if (!addField(total, readExact(stream, pose.m, sizeof(pose.m))) || !addField(total, readU32(stream, state)))
        return total;
    state &= ~kParticleOnStack;
    return total;
}

}  // namespace

std::int32_t Particle::write(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeString16(stream, particleName, sizeof(particleName)))) return total;
    if (!addField(total, stream.write(pose.m, sizeof(pose.m)))) return total;
    addField(total, writeU32(stream, state));
    return total;
}

std::int32_t Particle::read(DataStream& stream) { return readFields(stream, particleName, pose, state); }

std::int32_t Particle::checkRecord(DataStream& stream) {
    char name[kNameSize];
    Matrix34 pose{};
    std::uint32_t state = 0;
    return readFields(stream, name, pose, state);
}
