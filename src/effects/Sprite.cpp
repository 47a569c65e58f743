#include "effects/Sprite.h"

#include <cstring>

#include "foundation/TimeCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/Matrix.h"
#include "resources/FilePackageDBData.h"
#include "resources/PackageDatabase.h"
#include "scene/Scene.h"


std::int32_t SpriteRecord::read(DataStream& stream) {
    SpriteRecord& sprite = *this;
    std::int32_t total = 0;
    const std::int32_t name = readString16(stream, sprite.spriteName, sizeof(sprite.spriteName));
    if (name < 0) {
        if (bytesLeft(stream) > 0) engineLog().error("Can't read sprite: its name is longer than 127 characters");
        return name;
    }
    total += name;
    if (!addField(total, readUIntArray(stream, sprite.hideObjects)) ||
        !addField(total, readUIntArray(stream, sprite.hideParticles)) ||
        !addField(total, readExact(stream, sprite.pose.m, sizeof(sprite.pose.m))) ||
        !addField(total, readExact(stream, sprite.inversePose.m, sizeof(sprite.inversePose.m))) ||
        !addField(total, readU32(stream, sprite.flags)))
        return total;
    sprite.flags &= ~kSpritePushed;
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, count))) return total;
    // Each element holds at least nine bytes.
    if (count > static_cast<std::uint32_t>(bytesLeft(stream)) / 9u) {
        engineLog().error("Can't read sprite [%s]: %u elements do not fit in the record", sprite.spriteName, count);
        return -1;
    }
    sprite.elements.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        auto element = std::make_unique<SpriteElement>();
        if (!addField(total, readU32(stream, element->flags)) || !addField(total, readU32(stream, element->index)) ||
            !addField(total, element->texture.read(stream)))
            return total;
        element->flags &= ~0x2u;
        sprite.elements.push_back(std::move(element));
    }
    return total;
}

std::int32_t Sprite::findElement(const char* elementName) const {
    if (!elementName) return -1;
    for (std::size_t i = 0; i < elements.size(); ++i)
        if (std::strcmp(elements[i]->name, elementName) == 0) return static_cast<std::int32_t>(i);
    return -1;
}

bool Sprite::elementVisible(std::int32_t element) const {
    return element >= 0 && static_cast<std::size_t>(element) < elements.size() &&
           (elements[static_cast<std::size_t>(element)]->flags & 0x1u) != 0;
}

std::int32_t Sprite::findObject(const char* prefix) const {
    const std::size_t length = prefix ? std::strlen(prefix) : 0;
    std::int32_t result = -1;
    for (const std::unique_ptr<SpriteElement>& element : elements) {
        if (std::strncmp(element->name, prefix ? prefix : "", length) != 0) continue;
        if (element->flags & 0x1u) return 1;
        result = 0;
    }
    return result;
}

bool effectResourceAvailable(const char* extension, const char* name) {
    FilePackageDBData* packages = packageData();
    return name && name[0] && packages && packages->find(extension, name, "") != 0;
}

Sprite* Sprite::create(Scene& scene, const char* resource, const char* name, bool forLoading) {
    if (!effectResourceAvailable(".sprite", resource)) {
        engineLog().resourceError("Can't find sprite resource [%s]", resource ? resource : "");
        return nullptr;
    }
    return new Sprite(scene.id, resource, forLoading ? "" : name);
}

Sprite::Sprite(std::uint32_t scene, const char* resource, const char* ownName)
    : GameObject(resource ? resource : ""), sceneLink(scene) {
    copyName(spriteName, sizeof(spriteName), ownName ? ownName : "");
}

Sprite::~Sprite() {
    if (pushed()) engineLog().error("Sprite Destructor: Object [%s] is registered: Unregister before release", spriteName);
    for (const std::unique_ptr<SpriteElement>& element : elements) element->texture.release(false);
}

bool Sprite::initialize(const Matrix34& placement) {
    pose = placement;
    for (int axis = 0; axis < 3; ++axis) vector3Normalize(pose.m + 3 * axis);
    matrix34Inverse(pose, inversePose);
    return true;
}

void Sprite::setVisible(bool show) {
    if (show == visible()) return;
    engineLog().info("%s sprite %s", show ? "Show" : "Hide", spriteName);
    if (show) {
        flags |= kSpriteVisible;
        push();
        const CurrentTime still{};
        updatePhase0(still, 0);
        updatePhase1(still, 0);
    } else {
        flags &= ~kSpriteVisible;
        if (pushed()) pop(0);
    }
}

bool Sprite::push() {
    Log& log = engineLog();
    if (pushed()) return log.error("Can't push object [%s] twice", spriteName);
    if (!visible()) return log.error("Can't push invisible sprite: push only at visible phase");
    flags |= kSpritePushed;
    return true;
}

bool Sprite::pop(std::uint32_t) {
    if (!pushed()) return engineLog().error("Can't pop sprite [%s]: push first", spriteName);
    flags &= ~(kSpritePopCleared | kSpritePushed);
    return true;
}

bool Sprite::updatePhase1(const CurrentTime&, std::int32_t) {
    if (!visible())
        for (const std::unique_ptr<SpriteElement>& element : elements) element->flags &= ~0x04u;
    return true;
}

void Sprite::release() {
    for (const std::unique_ptr<SpriteElement>& element : elements) element->texture.release(false);
    elements.clear();
}

std::int32_t SpriteRecord::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeString16(stream, spriteName, sizeof(spriteName)))) return total;
    if (!addField(total, writeUIntArray(stream, hideObjects)) || !addField(total, writeUIntArray(stream, hideParticles)) ||
        !addField(total, stream.write(pose.m, sizeof(pose.m))) ||
        !addField(total, stream.write(inversePose.m, sizeof(inversePose.m))) ||
        !addField(total, writeU32(stream, flags)) ||
        !addField(total, writeU32(stream, static_cast<std::uint32_t>(elements.size()))))
        return total;
    for (const std::unique_ptr<SpriteElement>& element : elements)
        if (!addField(total, writeU32(stream, element->flags)) || !addField(total, writeU32(stream, element->index)) ||
            !addField(total, element->texture.write(stream)))
            return total;
    return total;
}
