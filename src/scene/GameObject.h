// The base of every object that lives in a scene, and the handles that refer
// to such objects.
//
// A game object takes a slot of the game core's object repository when it is
// built and gives it back when it is destroyed; its `id` is that slot's
// 1-based index (0 when it holds none). Objects refer to each other through
// `GameObjectLink`s, 24-bit handles that the repository resolves, so a link
// to a deleted object resolves to no object instead of a dangling pointer.
// `ObjectLink` attaches an object to a parent object or to one of its bones.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "foundation/Log.h"
#include "foundation/Math.h"

class DataStream;
class GameObject;
struct CurrentTime;

// Type codes of game objects (stored in save games; the values are fixed).
enum GameObjectType : std::uint32_t {
    ObjectParticle = 0,
    ObjectModel = 1,
    ObjectPhysicsModel = 2,
    ObjectScene = 3,
    ObjectPhysicsScene = 4,
    ObjectTrigger = 5,
    ObjectPhysicsTrigger = 6,
    ObjectSound = 7,
    ObjectMovie = 8,
    ObjectLight = 9,
    ObjectDialog = 10,
    ObjectSprite = 11,
    ObjectGrid = 12,
    ObjectTypeCount = 13,
};

// Clears a fixed text field and copies at most size - 1 characters into it.
void copyName(char* field, std::size_t size, const char* text);

// The type name used in messages; "unknown" outside the 13 codes.
const char* gameObjectTypeName(std::uint32_t type);

// Handles are 24 bits wide.
constexpr std::uint32_t kGameObjectHandleMask = 0x00FFFFFF;

// A 32-bit handle whose low 24 bits are the 1-based repository index of an
// object; 0 is no object. Passed by value.
struct GameObjectLink {
    std::uint32_t value = 0;

    std::uint32_t index() const { return value & kGameObjectHandleMask; }
    // The object's handle; 0 for a null object, silently.
    static GameObjectLink fromObject(const GameObject* object);
    // Sets the link to the object's handle; a null object is reported and
    // leaves the link 0.
    void assign(const GameObject* object);
    // True when the link's handle differs from the object's `id`; a null
    // object is reported and compared as 0.
    bool differsFrom(const GameObject* object) const;
};

// The object's full `id` word, as the object table stores it; a null object
// is reported and gives 0.
std::uint32_t objectHandle(const GameObject* object);

// Attachment of an object (its owner) to a parent object, or to a named
// bone of the parent, with a local pose relative to it.
class ObjectLink {
public:
    static constexpr std::size_t kBoneNameSize = 128;

    explicit ObjectLink(GameObject* owner);

    // Copies the bone name (null or empty: the parent itself; at most 127
    // characters), the parent's handle and the pose. Returns true.
    bool set(const char* boneName, const GameObject* parent, const Matrix34& pose);
    // Drops the parent and the bone name.
    void clear();
    // The owner's world pose: local pose x parent matrix. False, with the
    // identity pose, when there is no parent or its matrix cannot be had; a
    // deleted parent, or a matrix the parent refuses, drops the link.
    bool evaluate(Matrix34& out);

    // The link's part of an object-table record: parent, pose, bone name.
    std::int32_t write(DataStream& stream) const;
    // Reads that part; a bone name that does not fit its field is refused.
    std::int32_t read(DataStream& stream);

    GameObject* owner() const { return owner_; }
    GameObjectLink parent() const { return parent_; }
    const Matrix34& pose() const { return pose_; }
    const char* boneName() const { return boneName_; }

private:
    GameObject* owner_;
    GameObjectLink parent_;
    Matrix34 pose_;
    char boneName_[kBoneNameSize] = {};
};

class GameObject {
public:
    static constexpr std::size_t kNameSize = 128;

    // Takes a repository slot, then copies the name (at most 127 characters).
    explicit GameObject(const char* name);
    // Gives the slot back; links to this object resolve to null from then on.
    virtual ~GameObject();
    GameObject(const GameObject&) = delete;
    GameObject& operator=(const GameObject&) = delete;

    // Counts what can change which names a list of objects holds where:
    // objects made and destroyed, and names rewritten (each writer of a
    // name calls nameChanged()). The scenes' name indexes are trusted only
    // while it stands where it stood when they were brought up to date.
    static std::uint64_t nameEpoch() { return nameEpoch_.load(std::memory_order_relaxed); }
    static void nameChanged() { nameEpoch_.fetch_add(1, std::memory_order_relaxed); }

    virtual std::uint32_t getType() const = 0;
    virtual std::uint32_t getSubtype() const { return 0; }
    virtual const char* getName() const = 0;
    // The name the object table saves and a restore makes the object of
    // (objects with a name of their own besides their resource's give the
    // resource's).
    virtual const char* recordName() const { return getName(); }
    // Handle of the scene the object belongs to.
    virtual std::uint32_t getSceneLink() const = 0;
    virtual bool push() = 0;
    virtual bool pop(std::uint32_t argument) = 0;
    // The object's own save record; byte count or negative.
    virtual std::int32_t write(DataStream& stream) = 0;
    virtual std::int32_t read(DataStream& stream) = 0;
    virtual bool validate() = 0;
    virtual bool isHidden() const { return false; }
    // Whether the object can currently serve as a link parent.
    virtual bool isLinkable() const { return false; }
    virtual bool getWorldMatrix(Matrix34& out);
    virtual bool getBoneWorldMatrix(std::int32_t bone, Matrix34& out);
    // Index of a bone by name, or -1.
    virtual std::int32_t findBone(const char* name);
    // Staggered per-frame updates, one per phase.
    virtual bool updatePhase0(const CurrentTime& time, std::int32_t flag) = 0;
    virtual bool updatePhase1(const CurrentTime& time, std::int32_t flag) = 0;
    virtual bool updatePhase3(const CurrentTime& time, std::int32_t flag) = 0;
    virtual bool updatePhase2(const CurrentTime& time, std::int32_t flag) = 0;
    virtual void invalidateLighting() = 0;
    // Frees what the object holds before it is deleted.
    virtual void release() = 0;

    // Formats a complaint about an object (null: "NULL") and logs it as a
    // system error "Game object error [name]: message"; returns false.
    static bool error(const GameObject* object, const char* format, ...) ENGINE_PRINTF(2, 3);

    // The object's handle (1-based slot index), 0 when it holds no slot.
    std::uint32_t id = 0;
    char name[kNameSize] = {};
    ObjectLink link;

private:
    // Objects are made on the loading thread too.
    static inline std::atomic<std::uint64_t> nameEpoch_{0};
};
