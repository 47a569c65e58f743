#include "scene/GameObject.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "scene/ObjectRepository.h"

namespace {

const char* const kTypeNames[ObjectTypeCount] = {
    "particle", "model", "physicsModel", "scene",  "physicsScene", "trigger", "physicsTrigger",
    "sound",    "movie", "light",        "dialog", "sprite",       "grid",
};

void reportBrokenIndexAccess() { GameObject::error(nullptr, "Memory broken in GameObject index access"); }

}  // namespace

void copyName(char* field, std::size_t size, const char* text) {
    std::memset(field, 0, size);
    if (text) std::strncpy(field, text, size - 1);
}

const char* gameObjectTypeName(std::uint32_t type) {
    return type < ObjectTypeCount ? kTypeNames[type] : "unknown";
}

GameObjectLink GameObjectLink::fromObject(const GameObject* object) {
    return GameObjectLink{object ? (object->id & kGameObjectHandleMask) : 0u};
}

void GameObjectLink::assign(const GameObject* object) {
    if (!object) {
        reportBrokenIndexAccess();
        value = 0;
        return;
    }
    value = object->id & kGameObjectHandleMask;
}

bool GameObjectLink::differsFrom(const GameObject* object) const {
    std::uint32_t other = 0;
    if (!object)
        reportBrokenIndexAccess();
    else
        other = object->id;
    return index() != other;
}

std::uint32_t objectHandle(const GameObject* object) {
    if (!object) {
        reportBrokenIndexAccess();
        return 0;
    }
    return object->id;
}

ObjectLink::ObjectLink(GameObject* owner) : owner_(owner), pose_(matrix34Identity()) {}

bool ObjectLink::set(const char* boneName, const GameObject* parent, const Matrix34& pose) {
    copyName(boneName_, sizeof(boneName_), boneName);
    parent_.assign(parent);
    pose_ = pose;
    return true;
}

void ObjectLink::clear() {
    parent_.value = 0;
    std::memset(boneName_, 0, sizeof(boneName_));
}

bool ObjectLink::evaluate(Matrix34& out) {
    out = matrix34Identity();
    if (parent_.value == 0) return false;
    ObjectRepository* repository = gameCore.objects;
    GameObject* parent = repository ? repository->access(parent_) : nullptr;
    const char* ownerName = owner_ ? owner_->getName() : "NULL";
    if (!parent) {
        clear();
        engineLog().error("Can't evaluate linked object [%s] position: Parent object deleted. Release link",
                          ownerName);
        return false;
    }
    if (!parent->isLinkable()) return false;
    Matrix34 parentMatrix = matrix34Identity();
    bool found;
    if (boneName_[0] == 0) {
        found = parent->getWorldMatrix(parentMatrix);
    } else {
        const std::int32_t bone = parent->findBone(boneName_);
        found = bone < 0 ? parent->getWorldMatrix(parentMatrix) : parent->getBoneWorldMatrix(bone, parentMatrix);
    }
    if (!found) {
        parent_.value = 0;
        if (boneName_[0] == 0)
            engineLog().error("Can't link [%s] to [%s] bone. Remove this link", ownerName, parent->getName());
        else
            engineLog().error("Can't link [%s] to <%s>->[%s]. Remove this link", ownerName, parent->getName(),
                              boneName_);
        return false;
    }
    out = pose_;
    matrix34Multiply(out, parentMatrix);
    return true;
}

std::int32_t ObjectLink::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, parent_.value))) return total;
    for (float value : pose_.m)
        if (!addField(total, writeF32(stream, value))) return total;
    const std::size_t length = std::strlen(boneName_);
    if (!addField(total, writeU16(stream, static_cast<std::uint16_t>(length)))) return total;
    if (length > 0 && !addField(total, stream.write(boneName_, static_cast<std::int32_t>(length)))) return total;
    return total;
}

std::int32_t ObjectLink::read(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, readU32(stream, parent_.value))) return total;
    for (float& value : pose_.m)
        if (!addField(total, readF32(stream, value))) return total;
    std::memset(boneName_, 0, sizeof(boneName_));
    std::uint16_t length = 0;
    if (!addField(total, readU16(stream, length))) return total;
    if (length >= sizeof(boneName_)) {
        engineLog().systemError("Can't load object link [%s]: bone name of %u bytes does not fit its field",
                                owner_ ? owner_->getName() : "NULL", static_cast<unsigned>(length));
        return -1;
    }
    if (length > 0 && !addField(total, readExact(stream, boneName_, length))) return total;
    return total;
}

GameObject::GameObject(const char* objectName) : link(this) {
    if (gameCore.objects) id = gameCore.objects->allocate(this);
    copyName(name, sizeof(name), objectName);
    nameChanged();
}

GameObject::~GameObject() {
    nameChanged();
    if (gameCore.objects) gameCore.objects->Obj_FREE(this);
}

bool GameObject::getWorldMatrix(Matrix34&) {
    return error(this, "object [%s] not support world position property", getName());
}

bool GameObject::getBoneWorldMatrix(std::int32_t, Matrix34&) {
    return error(this, "object [%s] not support world BONE position property", getName());
}

std::int32_t GameObject::findBone(const char* boneName) {
    error(this, "object [%s] not support BONE link property. Can't link to bone [%s]", getName(),
          boneName ? boneName : "");
    return -1;
}

bool GameObject::error(const GameObject* object, const char* format, ...) {
    char buffer[2048] = {};
    va_list args;
    va_start(args, format);
    formatStringChecked(buffer, sizeof(buffer), format, args);
    va_end(args);
    return engineLog().systemError("Game object error [%s]: %s", object ? object->getName() : "NULL", buffer);
}
