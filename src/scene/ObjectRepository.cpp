#include "scene/ObjectRepository.h"

#include <algorithm>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "resources/LoadingProgress.h"
#include "sound/SoundCore.h"

namespace {

// Type codes in the order the object table is written: scenes first, so
// that objects read later find their scene.
const std::uint32_t kWriteOrder[] = {ObjectScene, ObjectPhysicsScene, ObjectParticle,       ObjectModel,
                                     ObjectLight, ObjectSprite,       ObjectGrid,           ObjectTrigger,
                                     ObjectPhysicsModel, ObjectPhysicsTrigger, ObjectSound, ObjectDialog};

// The smallest object record: type, scene, handle, subtype, name length,
// then the link (parent, pose of 12 floats, bone-name length).
constexpr std::uint32_t kMinRecordBytes = 4 * 4 + 1 + 4 + 48 + 2;
// Slots of a saved table that hold neither a free index nor a record (live
// objects of types that are not written, dead slots left by such objects).
constexpr std::uint32_t kUnwrittenSlack = 4096;

// Bit 31 of the game core's flags word silences the exit report.
constexpr std::uint32_t kSilenceExitReport = 0x80000000u;

}  // namespace

ObjectRepository::ObjectRepository() = default;

ObjectRepository::~ObjectRepository() { checkEmpty(); }

bool ObjectRepository::isLive(std::uint32_t slot) const {
    return slot < objects_.size() && objects_[slot] != nullptr && objects_[slot] != freedSentinel();
}

GameObject*& ObjectRepository::access(GameObjectLink link) {
    nullSlot_ = nullptr;
    if (objects_.empty()) return nullSlot_;
    const std::uint32_t handle = link.index();
    if (handle == 0 || handle > objects_.size()) {
        engineLog().error("OUT OF OBJECT ACCESS index [%i]", static_cast<int>(handle));
        return nullSlot_;
    }
    if (objects_[handle - 1] == freedSentinel()) {
        engineLog().message("Try to access to dead object pointer [%i]. Redirect to null ptr", static_cast<int>(handle));
        return nullSlot_;
    }
    return objects_[handle - 1];
}

GameObject* ObjectRepository::getObject(GameObjectLink link) {
    if (link.value == 0) return nullptr;
    return access(link);
}

std::uint32_t ObjectRepository::allocate(GameObject* object) {
    const std::int32_t requested = requestedIndex_;
    requestedIndex_ = 0;
    std::int32_t index = -1;
    if (requested > 0 && static_cast<std::uint32_t>(requested) <= objects_.size()) {
        index = requested - 1;
        // Taking a live object's slot would leave that object unreachable.
        if (isLive(static_cast<std::uint32_t>(index))) {
            engineLog().error("Can't register game object: handle [%i] is in use", static_cast<int>(requested));
            return 0;
        }
        takeFree(index);
    } else if (requested != 0) {
        return 0;
    } else if (!freeIndices_.empty()) {
        index = freeIndices_.back();
        takeFree(index);
    } else {
        // A handle above the 24-bit range would wrap onto other objects.
        if (objects_.size() >= kMaxObjects) {
            engineLog().error("Can't register game object: object repository is full");
            return 0;
        }
        objects_.push_back(nullptr);
        index = static_cast<std::int32_t>(objects_.size()) - 1;
    }
    objects_[index] = object;
    return static_cast<std::uint32_t>(index) + 1;
}

void ObjectRepository::pushFree(std::int32_t index) {
    if (index < 0) return;
    const auto slot = static_cast<std::size_t>(index);
    if (slot >= freePosition_.size()) freePosition_.resize(slot + 1, -1);
    if (freePosition_[slot] >= 0) return;
    freePosition_[slot] = static_cast<std::int32_t>(freeIndices_.size());
    freeIndices_.push_back(index);
}

void ObjectRepository::takeFree(std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= freePosition_.size()) return;
    const std::int32_t position = freePosition_[static_cast<std::size_t>(index)];
    if (position < 0) return;
    // The last entry takes the slot's place.
    const std::int32_t last = freeIndices_.back();
    freeIndices_[static_cast<std::size_t>(position)] = last;
    freePosition_[static_cast<std::size_t>(last)] = position;
    freeIndices_.pop_back();
    freePosition_[static_cast<std::size_t>(index)] = -1;
}

void ObjectRepository::assignFree(const std::vector<std::uint32_t>& indices) {
    clearFree();
    for (std::uint32_t index : indices) pushFree(static_cast<std::int32_t>(index));
}

void ObjectRepository::clearFree() {
    freeIndices_.clear();
    freeIndices_.shrink_to_fit();
    freePosition_.clear();
    freePosition_.shrink_to_fit();
}

void ObjectRepository::Obj_FREE(GameObject* object) {
    if (!object) {
        engineLog().error("Obj_FREE(): Try release NULL object");
        return;
    }
    const std::uint32_t handle = object->id;
    if (handle == 0) return;
    if (handle > objects_.size()) {
        engineLog().error("Obj_FREE(): Invalid object index: out of repository");
        return;
    }
    GameObject* slot = access(GameObjectLink{handle});
    if (slot != object) {
        // The name field, not the virtual name: this runs from the base destructor.
        engineLog().error(
            "Obj_FREE(): Object repository corrupted: deleted object NOT equal to repository record: (%08X!=%08X). "
            "Deleted [%s]",
            static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(slot)),
            static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(object)), object->name);
        return;
    }
    object->id = 0;
    objects_[handle - 1] = freedSentinel();
    pushFree(static_cast<std::int32_t>(handle - 1));
}

std::int32_t ObjectRepository::writeRecord(DataStream& stream, GameObject* object) {
    const std::uint32_t type = object->getType();
    if (type >= ObjectTypeCount) {
        engineLog().systemError("Found broken object reference [%i] (object type is invalid) [%s]",
                                static_cast<int>(object->id), object->getName());
        return 0;
    }
    std::int32_t total = 0;
    const char* objectName = object->recordName();
    const std::size_t length = std::min<std::size_t>(std::strlen(objectName), GameObject::kNameSize - 1);
    if (!addField(total, writeU32(stream, type))) return total;
    if (!addField(total, writeU32(stream, object->getSceneLink()))) return total;
    if (!addField(total, writeU32(stream, objectHandle(object)))) return total;
    if (!addField(total, writeU32(stream, object->getSubtype()))) return total;
    if (!addField(total, writeU8(stream, static_cast<std::uint8_t>(length)))) return total;
    if (length > 0 && !addField(total, stream.write(objectName, static_cast<std::int32_t>(length)))) return total;
    if (!addField(total, object->write(stream))) return total;
    if (!addField(total, object->link.write(stream))) return total;
    return total;
}

std::int32_t ObjectRepository::write(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(freeIndices_.size())))) return total;
    for (std::int32_t index : freeIndices_)
        if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(index)))) return total;
    if (!addField(total, writeU32(stream, count()))) return total;
    for (std::uint32_t type : kWriteOrder)
        for (std::uint32_t slot = 0; slot < objects_.size(); ++slot) {
            if (!isLive(slot) || objects_[slot]->getType() != type) continue;
            if (!addField(total, writeRecord(stream, objects_[slot]))) return total;
        }
    // Objects of a code outside the table are reported, not written.
    for (std::uint32_t slot = 0; slot < objects_.size(); ++slot)
        if (isLive(slot) && objects_[slot]->getType() >= ObjectTypeCount) writeRecord(stream, objects_[slot]);
    return total;
}

namespace {

// The table's head: the free stack, which must name distinct slots, and the
// slot count.
std::int32_t readTableHead(DataStream& stream, std::vector<std::uint32_t>& freeRead, std::uint32_t& slots) {
    std::int32_t total = 0;
    if (!addField(total, readUIntArray(stream, freeRead))) return total;
    if (!addField(total, readU32(stream, slots))) return total;
    if (slots > ObjectRepository::kMaxObjects) {
        engineLog().systemError("Can't load object table: %u slots exceed the handle range",
                                static_cast<unsigned>(slots));
        return -1;
    }
    // Every slot is a free one, a record that follows, or one of the few
    // objects that are not written: a count beyond that is damage, and the
    // table is not allocated for it.
    const std::uint64_t possible =
        freeRead.size() + static_cast<std::uint64_t>(bytesLeft(stream)) / kMinRecordBytes + kUnwrittenSlack;
    if (slots > possible) {
        engineLog().systemError("Can't load object table: %u slots exceed what the save holds",
                                static_cast<unsigned>(slots));
        return -1;
    }
    std::vector<bool> seen(slots, false);
    for (std::uint32_t index : freeRead) {
        if (index >= slots || seen[index]) {
            engineLog().systemError("Can't load object table: invalid free slot index [%u]",
                                    static_cast<unsigned>(index));
            return -1;
        }
        seen[index] = true;
    }
    return total;
}

// A record's head up to the object's own data. free tells whether the slot
// of a handle (1-based) can still take an object: any other handle would
// leave it unreachable or overwrite a live object.
template <typename SlotFree>
std::int32_t readRecordHead(DataStream& stream, ObjectRepository::SavedRecord& record, SlotFree free) {
    std::int32_t total = 0;
    if (!addField(total, readU32(stream, record.type))) return total;
    if (record.type >= ObjectTypeCount) {
        engineLog().systemError("Can't load object: save file data is broken");
        return -1;
    }
    char objectName[2048] = {};
    std::uint8_t length = 0;
    if (!addField(total, readU32(stream, record.scene))) return total;
    if (!addField(total, readU32(stream, record.handle))) return total;
    if (!addField(total, readU32(stream, record.subtype))) return total;
    if (!addField(total, readU8(stream, length))) return total;
    if (length > 0 && !addField(total, readExact(stream, objectName, length))) return total;
    record.name = objectName;
    const std::uint32_t index = record.handle & kGameObjectHandleMask;
    if (index == 0 || !free(index)) {
        engineLog().systemError("Can't load object [%s]: invalid object handle [%u]", objectName,
                                static_cast<unsigned>(record.handle));
        return -1;
    }
    if (record.type == ObjectMovie) {
        engineLog().systemError(" Invalid game object type. Load stream corrupted");
        return -1;
    }
    return total;
}

}  // namespace

std::int32_t ObjectRepository::readRecord(DataStream& stream) {
    SavedRecord record;
    std::int32_t total = 0;
    const auto free = [this](std::uint32_t index) {
        return index <= objects_.size() && objects_[index - 1] == freedSentinel();
    };
    if (!addField(total, readRecordHead(stream, record, free))) return total;
    const std::uint32_t index = record.handle & kGameObjectHandleMask;
    const char* objectName = record.name.c_str();
    requestedIndex_ = static_cast<std::int32_t>(index);
    GameObject* object = loadFactory_ ? loadFactory_(record.type, objectName, record.scene, record.subtype) : nullptr;
    requestedIndex_ = 0;
    if (!object) return -1;  // the factory has said why
    if (object->id != index) {
        engineLog().systemError("Can't load object [%s]: it did not take its saved handle [%u]", objectName,
                                static_cast<unsigned>(index));
        return -1;
    }
    if (!addField(total, object->read(stream)) || !addField(total, object->link.read(stream))) {
        engineLog().error("Can't load %s [%s]: its saved record is refused", gameObjectTypeName(record.type),
                          objectName);
        return total;
    }
    return total;
}

std::int32_t ObjectRepository::read(DataStream& stream) {
    std::int32_t total = 0;
    std::vector<std::uint32_t> freeRead;
    std::uint32_t slots = 0;
    if (!addField(total, readTableHead(stream, freeRead, slots))) return total;
    // Objects still in the table would keep handles that the loaded objects
    // take over: they lose their slots here, so that neither they nor the
    // loaded objects are reached through the wrong handle.
    for (std::uint32_t slot = 0; slot < objects_.size(); ++slot) {
        if (!isLive(slot)) continue;
        engineLog().systemError("Object repository load: game object [%i] [%s] still alive, its handle dropped",
                                static_cast<int>(slot), objects_[slot]->name);
        objects_[slot]->id = 0;
    }
    assignFree(freeRead);
    objects_.assign(slots, freedSentinel());
    for (std::uint32_t record = 0; record < slots; ++record) {
        reportLoadingProgress(kProgressRefreshStage, 0.0f);
        if (!addField(total, readRecord(stream))) return total;
        if (stream.tell() >= stream.size()) break;
    }
    return total;
}

std::int32_t ObjectRepository::check(DataStream& stream, const RecordCheck& objectData) const {
    std::int32_t total = 0;
    std::vector<std::uint32_t> freeRead;
    std::uint32_t slots = 0;
    if (!addField(total, readTableHead(stream, freeRead, slots))) return total;
    std::vector<bool> taken(slots, false);
    const auto free = [&taken](std::uint32_t index) { return index <= taken.size() && !taken[index - 1]; };
    for (std::uint32_t i = 0; i < slots; ++i) {
        SavedRecord record;
        if (!addField(total, readRecordHead(stream, record, free))) return total;
        taken[(record.handle & kGameObjectHandleMask) - 1] = true;
        if (!addField(total, objectData(record, stream))) {
            // Every refusal names its record, whatever the check said before.
            engineLog().error("Can't load %s [%s]: its saved record is refused", gameObjectTypeName(record.type),
                              record.name.c_str());
            return total;
        }
        ObjectLink link(nullptr);
        if (!addField(total, link.read(stream))) return total;
        if (stream.tell() >= stream.size()) break;
    }
    return total;
}

void ObjectRepository::releaseUnreferenced() {
    SoundCore* sound = gameCore.sound;
    if (sound) sound->lock();
    for (std::uint32_t slot = 0; slot < objects_.size(); ++slot) {
        if (!isLive(slot)) continue;
        GameObject* object = objects_[slot];
        engineLog().systemError("Object repository release unreferenced game object [%i] [%s] [%s]",
                                static_cast<int>(slot), gameObjectTypeName(object->getType()), object->getName());
        Obj_FREE(object);
        delete object;
    }
    objects_.clear();
    objects_.shrink_to_fit();
    clearFree();
    if (sound) sound->unlock();
}

void ObjectRepository::checkEmpty() {
    const bool anyLeft = std::any_of(objects_.begin(), objects_.end(), [](GameObject* o) { return o != nullptr; });
    if (anyLeft && (gameCore.flags & kSilenceExitReport) == 0)
        engineLog().systemError(" Not all repository object released before exit. Call developers.");
    objects_.clear();
    objects_.shrink_to_fit();
    clearFree();
}
