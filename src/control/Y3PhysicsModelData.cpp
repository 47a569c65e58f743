#include "control/Y3PhysicsModelData.h"

#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "resources/ResourceTypes.h"

namespace {

// The fewest bytes an entry can take: an actor (magic, kind, flags, two
// empty names, no materials, two poses, group, mass, three values) and a
// joint (magic, kind, an empty name, flags, two ends, two maxima).
constexpr std::uint32_t kMinActorEntry = 4 + 4 + 4 + 1 + 1 + 4 + 48 + 48 + 4 + 4 + 12;
constexpr std::uint32_t kMinJointEntry = 4 + 4 + 1 + 4 + 80 + 8;

bool countFits(DataStream& stream, std::uint32_t count, std::uint32_t entry, const char* what) {
    if (count <= static_cast<std::uint32_t>(bytesLeft(stream)) / entry) return true;
    engineLog().error("Physics model: %u %s exceed the file", static_cast<unsigned>(count), what);
    return false;
}

}  // namespace

Y3PhysicsModelData::~Y3PhysicsModelData() {
    if (inUse) engineLog().error("Deallocate physics model before releasing");
    release(nullptr);
}

std::int32_t Y3PhysicsModelData::readHeader(DataStream& stream) {
    Log& log = engineLog();
    std::int32_t total = 0;
    std::uint32_t count = 0;
    if (readU32(stream, count) < 1) {
        log.error(" Cant read actor count for physic model");
        return -1;
    }
    total += 4;
    if (!countFits(stream, count, kMinActorEntry, "actors")) return -1;
    actors.clear();
    actors.resize(count);
    for (auto& actor : actors) {
        std::uint32_t magic = 0;
        std::uint32_t kind = 0;
        if (!addField(total, readU32(stream, magic))) return total;
        if (magic != kPhysicsActorMagic) return -1;
        if (!addField(total, readU32(stream, kind))) return total;
        actor.reset(Y3PhysicsRigit::create(kind));
        if (!actor) return -1;
        const std::int32_t result = actor->readHeader(stream);
        if (result < 1) return -1;
        total += result;
    }
    if (readU32(stream, count) < 1) {
        log.error(" Cant read joints count for physic model");
        return -1;
    }
    total += 4;
    if (!countFits(stream, count, kMinJointEntry, "joints")) return -1;
    joints.clear();
    joints.resize(count);
    for (auto& joint : joints) {
        std::uint32_t magic = 0;
        std::uint32_t kind = 0;
        if (!addField(total, readU32(stream, magic))) return total;
        if (magic != kPhysicsJointMagic) return -1;
        if (!addField(total, readU32(stream, kind))) return total;
        joint.reset(Y3PhysicsDataJoint::create(kind));
        if (!joint) return -1;
        if (!addField(total, joint->readHeader(stream))) return total;
    }
    return total;
}

std::int32_t Y3PhysicsModelData::readData(DataStream& stream) {
    std::int32_t total = 0;
    for (const auto& actor : actors) {
        if (!actor) {
            engineLog().error(" Cannot load physic actor data: Initialization expected");
            continue;
        }
        if (!addField(total, actor->readData(stream))) return total;
    }
    return total;
}

void Y3PhysicsModelData::unloadData() const {
    for (const auto& actor : actors)
        if (!actor) engineLog().error(" Cannot unload physic actor data: Initialization expected");
}

void Y3PhysicsModelData::release(const char* name) {
    if (name && inUse) engineLog().error("Deallocate physics model [%s] before releasing", name);
    actors.clear();
    joints.clear();
}

const Y3PhysicsRigit* Y3PhysicsModelData::findActor(const char* name) const {
    for (const auto& actor : actors)
        if (std::strncmp(actor ? actor->name : "invalid", name ? name : "", Y3PhysicsRigit::kNameSize) == 0)
            return actor.get();
    return nullptr;
}

PhysicsModelRecord::PhysicsModelRecord(const char* name)
    : ResourceRecord(name, resourceDescriptor(ResourceKind::PhysicsModel)) {}

PhysicsModelRecord::~PhysicsModelRecord() = default;

std::int32_t PhysicsModelRecord::readHeader(DataStream& stream) {
    auto data = std::make_unique<Y3PhysicsModelData>();
    const std::int32_t result = data->readHeader(stream);
    if (result < 0) return result;
    data_ = std::move(data);
    return result;
}

std::int32_t PhysicsModelRecord::readData(DataStream& stream) { return data_ ? data_->readData(stream) : -1; }

void PhysicsModelRecord::unloadData() {
    if (data_) data_->unloadData();
}

void PhysicsModelRecord::deleteObject() {
    if (!data_) return;
    data_->release(name);
    data_.reset();
}
