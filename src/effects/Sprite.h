// The sprite game object (type 11): one sprite resource (".sprite") placed
// in a scene as a set of screen-facing elements, shown or hidden as a whole.
//
// The resource is a sprite model (a model file of the sprite kind) of the
// model data manager; the sprite's elements follow its elements, each shown
// or hidden by name, and a shown element of a pushed sprite holds its
// texture. Pushed sprites of one resource share a SpriteContext in the
// render context's list.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "effects/Light.h"
#include "model/ObjectContext.h"
#include "resources/Y3ResourceManager.h"
#include "render/TextureLink.h"
#include "scene/GameObject.h"

class Scene;
class Sprite;
class SpriteContext;
class Y3Model;
class Y3ModelSprite;

// A sprite resource (".sprite"): a model file of the sprite kind, read at
// its header stage.
class Y3SpriteData : public ResourceRecord {
public:
    explicit Y3SpriteData(const char* name);
    ~Y3SpriteData() override;

    std::int32_t readHeader(DataStream& stream) override;
    bool hasObject() const override { return model != nullptr; }
    void deleteObject() override;

    std::unique_ptr<Y3Model> model;
    // The render context of the sprites pushed on this resource; null
    // while none is pushed. The render object owns it and links it into
    // the render list.
    SpriteContext* context = nullptr;
    RenderObject renderObject;
};

// The sprite resources of the game core.
class SpriteDataManager : public Y3ResourceManager<Y3SpriteData, 17, 17> {
public:
    // The record of the name with its header loaded; null (logged by the
    // load) when it cannot be had.
    Y3SpriteData* requestHeader(const char* name);
};

// Bits of Sprite::flags.
constexpr std::uint32_t kSpriteVisible = 0x2;
constexpr std::uint32_t kSpritePushed = 0x2000;
constexpr std::uint32_t kSpritePopCleared = 0x100000;

// One element of a sprite: flags (0x1 shown, 0x2 registered), its index
// into the resource's elements, its name there and its texture.
struct SpriteElement {
    std::uint32_t flags = 0;
    char name[128] = {};
    std::uint32_t index = 0;
    TextureLink texture;
};

// The fields a sprite saves, in the order of its record: name (u16 length
// and bytes), the hide object and hide particle lists (u32 count and
// handles each), pose, inverse pose, flags, then the element count and each
// element (flags, index, texture link).
struct SpriteRecord {
    SpriteRecord() = default;
    SpriteRecord(const SpriteRecord&) = delete;
    SpriteRecord& operator=(const SpriteRecord&) = delete;

    std::int32_t write(DataStream& stream) const;
    // A name too long for its field or more elements than the bytes left
    // could hold is refused; the pushed bit and each element's registered
    // bit are cleared.
    std::int32_t read(DataStream& stream);

    char spriteName[128] = {};
    std::vector<std::uint32_t> hideObjects;
    std::vector<std::uint32_t> hideParticles;
    Matrix34 pose = matrix34Identity();
    Matrix34 inversePose = matrix34Identity();
    std::uint32_t flags = 0;
    std::vector<std::unique_ptr<SpriteElement>> elements;
};

// The render list entry of the pushed sprites of one sprite resource.
class SpriteContext : public ObjectContext {
public:
    static constexpr std::uint32_t kType = 5;
    std::int32_t type() const override { return kType; }
    // Something to draw: no scene is being loaded, the current camera shows
    // sprites (types 7 and 12; type 10 by the game camera mode) and one of
    // the sprites is visible.
    bool cull() override;
    // While the context is visible (its cull answer): one draw item in
    // queue 1 under kSpriteKey for every shown, registered element of every
    // visible sprite, the deepest element first.
    void update(const Matrix34& camera) override;
    // Draws the run of this context's items as textured quads on the
    // still-frame screen through the quad batch: an element covers
    // (x, y) to (x + dx, y + dy) from the sprite's screen position.
    std::int32_t render(const DrawItem* items, std::int32_t count, std::int32_t index, std::int32_t step) override;

    // Below the model buckets: sprites draw before the models of the frame.
    static constexpr std::int32_t kSpriteKey = -100;

    std::vector<Sprite*> sprites;
    // The render object of the resource that owns this context.
    RenderObject* renderObject = nullptr;
};

// Whether a camera of the type draws sprites (type 10 is first mapped
// through the game camera mode).
bool cameraShowsSprites(std::int32_t cameraType);

class Sprite : public GameObject, public SpriteRecord {
public:
    // A sprite of the scene showing the resource; null (not made, logged)
    // when the resource record carries the failed flag. With forLoading the
    // name is not used: it comes from the save record.
    static Sprite* create(Scene& scene, const char* resource, const char* name, bool forLoading);
    Sprite(std::uint32_t sceneLink, const char* resource, const char* name);
    ~Sprite() override;

    // Stores the pose with its axes normalised, and its inverse; a named
    // sprite then builds its elements from its resource. True.
    bool initialize(const Matrix34& pose);
    // The loaded sprite model of the resource (its header loaded on the
    // spot when needed), or null.
    Y3ModelSprite* spriteModel() const;
    // One element per resource element; "background" and "bg-*" shown.
    void buildElements();
    // Shows or hides an element; a pushed visible sprite registers or
    // unregisters it.
    void setElementShown(std::size_t element, bool shown);
    // The resource element's name, or null outside the elements.
    const char* elementName(std::size_t element) const;
    // Shows (and pushes) or hides (and pops) the sprite; logged.
    void setVisible(bool show);
    bool visible() const { return (flags & kSpriteVisible) != 0; }
    bool pushed() const { return (flags & kSpritePushed) != 0; }

    std::uint32_t getType() const override { return ObjectSprite; }
    const char* getName() const override { return spriteName; }
    const char* recordName() const override { return name; }
    std::uint32_t getSceneLink() const override { return sceneLink; }
    bool push() override;
    bool pop(std::uint32_t argument) override;
    std::int32_t write(DataStream& stream) override { return SpriteRecord::write(stream); }
    // Refuses a record whose element indices lie outside the resource's
    // elements.
    std::int32_t read(DataStream& stream) override;
    bool validate() override { return true; }
    bool isHidden() const override { return !visible(); }
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase1(const CurrentTime&, std::int32_t) override;
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    void release() override;

    // The element of that name (compared lower-cased), or -1.
    std::int32_t findElement(const char* elementName) const;
    bool elementVisible(std::int32_t element) const;
    // Over the elements whose names begin with the prefix: 1 when one is
    // shown, 0 when none is, -1 when there is no such element.
    std::int32_t findObject(const char* prefix) const;

    std::uint32_t sceneLink = 0;
    Y3SpriteData* resource = nullptr;
    // Where the sprite stands on the virtual screen (pixels).
    float screenX = 0.0f;
    float screenY = 0.0f;

private:
    bool registerElement(SpriteElement& element);
    bool unregisterElement(SpriteElement& element);
    bool enterResource();
    bool leaveResource();
};

// Whether the packages hold a resource of that extension and name.
bool effectResourceAvailable(const char* extension, const char* name);
