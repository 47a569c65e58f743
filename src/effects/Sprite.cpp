#include "effects/Sprite.h"

#include "effects/RenderObject.h"
#include "render/QuadBatch.h"
#include "render/RenderCore.h"
#include "render/RenderList.h"
#include "ui/StillFrameItem.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "app/GameCore.h"

#include "foundation/TimeCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/Matrix.h"
#include "resources/FilePackageDBData.h"
#include "resources/PackageDatabase.h"
#include "resources/ResourceTypes.h"
#include "model/Y3Model.h"
#include "scene/CameraCore.h"
#include "scene/Scene.h"

namespace {

constexpr std::uint32_t kElementShown = 0x1;
constexpr std::uint32_t kElementRegistered = 0x2;
constexpr std::uint32_t kElementFrame = 0x04;

void lowerCopy(char (&out)[128], const char* text) {
    copyName128(out, text ? text : "");
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

}  // namespace

Y3SpriteData::Y3SpriteData(const char* recordName)
    : ResourceRecord(recordName, resourceDescriptor(ResourceKind::Sprite)) {}

Y3SpriteData::~Y3SpriteData() { dispose(); }

std::int32_t Y3SpriteData::readHeader(DataStream& stream) { return Y3Model::readFromStream(stream, model, name); }

void Y3SpriteData::deleteObject() {
    if (model) model->release();
    model.reset();
}

Y3SpriteData* SpriteDataManager::requestHeader(const char* name) {
    if (!name || !name[0]) return nullptr;
    Y3SpriteData* record = getOrCreate(name, true);
    if (!record->has(kResourceHeaderLoaded) && !loadHeader(record, nullptr)) return nullptr;
    return record;
}

bool cameraShowsSprites(std::int32_t cameraType) { return cameraType == 7 || cameraType == 12; }

bool SpriteContext::cull() {
    Scene* scene = gameCore.currentScene();
    CameraCore* camera = scene ? scene->camera() : nullptr;
    if (!camera || !cameraShowsSprites(static_cast<std::int32_t>(camera->effectiveMode()))) return false;
    for (Sprite* sprite : sprites)
        if (sprite && sprite->visible()) return true;
    return false;
}

void SpriteContext::update(const Matrix34&) {
    RenderList* list = gameCore.render ? &gameCore.render->renderList : nullptr;
    if (!list || !renderObject || !renderObject->visible) return;
    for (std::size_t s = 0; s < sprites.size(); ++s) {
        const Sprite* sprite = sprites[s];
        if (!sprite || !sprite->visible()) continue;
        const Y3ModelSprite* model = sprite->spriteModel();
        if (!model) continue;
        for (std::size_t e = 0; e < sprite->elements.size(); ++e) {
            const SpriteElement& element = *sprite->elements[e];
            if ((element.flags & 0x3u) != 0x3u || element.index >= model->elements.size()) continue;
            // Queue 1 draws ascending depths first: the deepest element first.
            const float depth = -model->elements[element.index].depth;
            list->queues[1].insert(kSpriteKey,
                                   DrawItem{renderObject, std::int32_t(s), std::int32_t(e), -1, 0, depth, depth});
        }
    }
}

std::int32_t SpriteContext::render(const DrawItem* items, std::int32_t count, std::int32_t index, std::int32_t step) {
    std::vector<StillFrameQuad> quads;
    std::int32_t i = index;
    for (; i >= 0 && i < count && items[i].renderObject == renderObject; i += step) {
        const DrawItem& item = items[i];
        if (item.instance < 0 || std::size_t(item.instance) >= sprites.size()) continue;
        Sprite* sprite = sprites[std::size_t(item.instance)];
        const Y3ModelSprite* model = sprite ? sprite->spriteModel() : nullptr;
        if (!model || item.element < 0 || std::size_t(item.element) >= sprite->elements.size()) continue;
        SpriteElement& element = *sprite->elements[std::size_t(item.element)];
        if (element.index >= model->elements.size()) continue;
        const SpriteElementData& data = model->elements[element.index];
        StillFrameQuad quad;
        quad.position[0] = sprite->screenX + float(data.x);
        quad.position[1] = sprite->screenY + float(data.y);
        quad.widthFactor = float(data.dx);
        quad.heightFactor = float(data.dy);
        quad.state.textures[0] = &element.texture;
        quads.push_back(quad);
    }
    if (!quads.empty() && gameCore.render) gameCore.render->quadBatch.drawList(quads);
    return i;
}

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
    const Y3ModelSprite* model = spriteModel();
    if (!model || !elementName) return -1;
    char wanted[128];
    lowerCopy(wanted, elementName);
    for (std::size_t i = 0; i < model->elements.size(); ++i)
        if (std::strcmp(model->elements[i].name, wanted) == 0) return static_cast<std::int32_t>(i);
    return -1;
}

Y3ModelSprite* Sprite::spriteModel() const {
    if (!resource) return nullptr;
    if (!resource->has(kResourceHeaderLoaded)) {
        SpriteDataManager* manager = gameCore.spriteData;
        if (resource->has(kResourceUnavailable) || !manager || !manager->loadHeader(resource, nullptr)) return nullptr;
    }
    return resource->model && resource->model->kind() == kModelKindSprite
               ? static_cast<Y3ModelSprite*>(resource->model.get())
               : nullptr;
}

const char* Sprite::elementName(std::size_t element) const {
    const Y3ModelSprite* model = spriteModel();
    return model && element < model->elements.size() ? model->elements[element].name : nullptr;
}

void Sprite::buildElements() {
    const Y3ModelSprite* model = spriteModel();
    if (!model) return;
    const std::size_t count = model->elements.size();
    while (elements.size() > count) {
        elements.back()->texture.release(false);
        elements.pop_back();
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (i >= elements.size()) elements.push_back(std::make_unique<SpriteElement>());
        SpriteElement& element = *elements[i];
        element.index = static_cast<std::uint32_t>(i);
        copyName128(element.name, model->elements[i].name);
        const char* elementName = model->elements[i].name;
        if (std::strcmp(elementName, "background") == 0 || std::strncmp(elementName, "bg-", 3) == 0)
            element.flags |= kElementShown;
        else
            element.flags &= ~kElementShown;
    }
}

void Sprite::setElementShown(std::size_t index, bool shown) {
    if (index >= elements.size()) return;
    SpriteElement& element = *elements[index];
    if (((element.flags & kElementShown) != 0) == shown) return;
    if (const char* elementName = this->elementName(index); elementName)
        engineLog().info("%s sprite element [%s.%s] (%s)", shown ? "Show" : "Hide", spriteName, elementName, name);
    else
        engineLog().info("%s sprite element [%s.%i] (%s)", shown ? "Show" : "Hide", spriteName, static_cast<int>(index),
                         name);
    if (shown) element.flags |= kElementShown;
    else element.flags &= ~kElementShown;
    if (visible() && pushed()) {
        if (shown) registerElement(element);
        else unregisterElement(element);
    }
    if (shown) element.flags |= kElementFrame;
    else element.flags &= ~kElementFrame;
}

bool Sprite::registerElement(SpriteElement& element) {
    Log& log = engineLog();
    const char* texture = nullptr;
    if (const Y3ModelSprite* model = spriteModel(); model && element.index < model->elements.size())
        texture = model->elements[element.index].texture;
    if (!texture) return log.error("Sprite push: Can't get sprite source data");
    const char* elementName = this->elementName(element.index);
    if (element.flags & kElementRegistered)
        return log.error("Can't twice register sprite [%s] element [%s]", spriteName, elementName ? elementName : "");
    element.texture.release(false);
    element.texture.enabled = false;
    // An element without a texture name has nothing to show.
    if (texture[0]) element.texture.init(texture);
    if (!texture[0] || !element.texture.allocateDefault(768, true))
        return log.error("Fail push sprite [%s.%s]", spriteName, elementName ? elementName : "");
    element.flags |= kElementRegistered;
    return true;
}

bool Sprite::unregisterElement(SpriteElement& element) {
    bool result = true;
    if (!(element.flags & kElementRegistered))
        result = engineLog().error("Can't pop sprite [%s] element [%i]: register first", spriteName,
                                   static_cast<int>(element.index));
    element.texture.release(false);
    element.flags &= ~kElementRegistered;
    return result;
}

bool Sprite::enterResource() {
    Log& log = engineLog();
    const char* label = resource ? resource->typeLabel : "sprite";
    if (renderListLocked())
        return log.error("Can't push sprite [%s] (%s): render context locked", spriteName, name);
    if (pushed()) return log.error("Can't push %s [%s] twice", label, spriteName);
    if (!resource || (!resource->has(kResourceAllocated) && resource->has(kResourceUnavailable))) {
        log.resourceError("Can't push %s: resourse [%s] is invalid", label, name);
        return log.error("Can't push %s instance to %s resource repository", spriteName, name);
    }
    if (!resource->context) {
        auto* context = new SpriteContext();
        context->renderObject = &resource->renderObject;
        resource->renderObject.name = resource->name;
        // A refused render object deletes the context.
        if (!createRenderObject(resource->renderObject, context)) return false;
        resource->context = context;
    }
    auto* context = resource->context;
    if (std::find(context->sprites.begin(), context->sprites.end(), this) != context->sprites.end()) {
        log.resourceError("Can't push %s [%s] to %s [%s]: Already registered", label, spriteName, label, name);
        return log.error("Can't push %s instance to %s resource repository", spriteName, name);
    }
    context->sprites.push_back(this);
    flags |= kSpritePushed;
    return true;
}

bool Sprite::leaveResource() {
    Log& log = engineLog();
    const char* label = resource ? resource->typeLabel : "sprite";
    if (renderListLocked()) return log.error("Can't pop sprite [%s] (%s): render context locked", spriteName, name);
    if (!pushed()) return log.error("Can't pop %s [%s]: push first", label, spriteName);
    auto* context = resource ? resource->context : nullptr;
    auto at = context ? std::find(context->sprites.begin(), context->sprites.end(), this) : decltype(context->sprites.begin()){};
    if (!context || at == context->sprites.end()) {
        log.resourceError("Can't delete %s [%s] from %s references list [%s]", label, spriteName, label, name);
        return log.error("Can't pop %s instance from %s resources repository", spriteName, name);
    }
    flags &= ~kSpritePushed;
    *at = context->sprites.back();
    context->sprites.pop_back();
    if (context->sprites.empty()) {
        // The render object deletes the context it owns.
        if (releaseRenderObject(resource->renderObject)) resource->context = nullptr;
    }
    return true;
}

std::int32_t Sprite::read(DataStream& stream) {
    const std::int32_t result = SpriteRecord::read(stream);
    if (result < 0) return result;
    const Y3ModelSprite* model = spriteModel();
    const std::size_t count = model ? model->elements.size() : 0;
    for (const std::unique_ptr<SpriteElement>& element : elements)
        if (element->index >= count) {
            engineLog().error("Can't load sprite [%s]: element index %u outside its %zu elements", spriteName,
                              static_cast<unsigned>(element->index), count);
            for (const std::unique_ptr<SpriteElement>& each : elements) each->texture.release(false);
            elements.clear();
            return -1;
        }
    for (const std::unique_ptr<SpriteElement>& element : elements) {
        if (const char* elementName = this->elementName(element->index))
            copyName128(element->name, elementName);
    }
    return result;
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
    // The header is read at creation: a resource the packages do not hold
    // (or cannot read) makes no sprite.
    SpriteDataManager* manager = gameCore.spriteData;
    Y3SpriteData* record = manager && resource && resource[0] ? manager->requestHeader(resource) : nullptr;
    if (!record || record->has(kResourceUnavailable)) {
        engineLog().resourceError("Can't find sprite resource [%s]", resource ? resource : "");
        return nullptr;
    }
    return new Sprite(scene.id, resource, forLoading ? "" : name);
}

Sprite::Sprite(std::uint32_t scene, const char* resourceName, const char* ownName)
    : GameObject(resourceName ? resourceName : ""), sceneLink(scene) {
    copyName(spriteName, sizeof(spriteName), ownName ? ownName : "");
    if (SpriteDataManager* manager = gameCore.spriteData; manager && resourceName && resourceName[0])
        resource = manager->getOrCreate(resourceName, true);
}

Sprite::~Sprite() {
    if (pushed()) {
        engineLog().error("Sprite Destructor: Object [%s] is registered: Unregister before release", spriteName);
        // Out of its render list whatever the list says: a pointer left
        // there would be drawn after the sprite is gone.
        if (!leaveResource() && resource && resource->context) {
            auto& held = resource->context->sprites;
            held.erase(std::remove(held.begin(), held.end(), this), held.end());
            if (held.empty() && releaseRenderObject(resource->renderObject)) resource->context = nullptr;
        }
    }
    for (const std::unique_ptr<SpriteElement>& element : elements) element->texture.release(false);
}

bool Sprite::initialize(const Matrix34& placement) {
    pose = placement;
    for (int axis = 0; axis < 3; ++axis) vector3Normalize(pose.m + 3 * axis);
    matrix34Inverse(pose, inversePose);
    if (!spriteName[0]) return true;
    if (spriteModel()) buildElements();
    else engineLog().error("Can't create sprite [%s]: resource not found", spriteName);
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
    if (!enterResource()) return false;
    bool result = true;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        SpriteElement& element = *elements[i];
        if (!(element.flags & kElementShown)) continue;
        if (!registerElement(element))
            result = log.error(" Can't push  %i element from sprite [%s]", static_cast<int>(i), spriteName);
    }
    return result;
}

bool Sprite::pop(std::uint32_t) {
    Log& log = engineLog();
    if (!pushed()) return log.error("Can't pop sprite [%s]: push first", spriteName);
    flags &= ~kSpritePopCleared;
    bool result = leaveResource();
    for (std::size_t i = 0; i < elements.size(); ++i) {
        SpriteElement& element = *elements[i];
        if ((element.flags & kElementShown) && (element.flags & kElementRegistered) && !unregisterElement(element))
            result = log.error(" Can't pop %i element from sprite [%s]", static_cast<int>(i), spriteName);
    }
    return result;
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
