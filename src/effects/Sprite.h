// The sprite game object (type 11): one sprite resource (".sprite") placed
// in a scene as a set of screen-facing elements, shown or hidden as a whole.
//
// This form holds what a scene and a saved game keep of a sprite: its name,
// pose and inverse, visibility and pushed state, the hide lists and the
// element records of its save record. The resource's elements (and so
// drawing) come with the sprite resources; until then a sprite has none.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "render/TextureLink.h"
#include "scene/GameObject.h"

class Scene;

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

class Sprite : public GameObject, public SpriteRecord {
public:
    // A sprite of the scene showing the resource; null (not made, logged)
    // when the packages hold no such resource. With forLoading the name is
    // not used: it comes from the save record.
    static Sprite* create(Scene& scene, const char* resource, const char* name, bool forLoading);
    Sprite(std::uint32_t sceneLink, const char* resource, const char* name);
    ~Sprite() override;

    // Stores the pose with its axes normalised, and its inverse. True.
    bool initialize(const Matrix34& pose);
    // Shows (and pushes) or hides (and pops) the sprite; logged.
    void setVisible(bool show);
    bool visible() const { return (flags & kSpriteVisible) != 0; }
    bool pushed() const { return (flags & kSpritePushed) != 0; }

    std::uint32_t getType() const override { return ObjectSprite; }
    const char* getName() const override { return spriteName; }
    std::uint32_t getSceneLink() const override { return sceneLink; }
    bool push() override;
    bool pop(std::uint32_t argument) override;
    std::int32_t write(DataStream& stream) override { return SpriteRecord::write(stream); }
    std::int32_t read(DataStream& stream) override { return SpriteRecord::read(stream); }
    bool validate() override { return true; }
    bool isHidden() const override { return !visible(); }
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase1(const CurrentTime&, std::int32_t) override;
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    void release() override;

    // The element of that name, or -1.
    std::int32_t findElement(const char* elementName) const;
    bool elementVisible(std::int32_t element) const;
    // Over the elements whose names begin with the prefix: 1 when one is
    // shown, 0 when none is, -1 when there is no such element.
    std::int32_t findObject(const char* prefix) const;

    std::uint32_t sceneLink = 0;
    // Where the sprite stands on the virtual screen (pixels).
    float screenX = 0.0f;
    float screenY = 0.0f;
};

// Whether the packages hold a resource of that extension and name.
bool effectResourceAvailable(const char* extension, const char* name);
