// The table of live game objects, owned by the game core.
//
// Slot i holds the object of handle i + 1, the freed sentinel (a freed
// object's slot) or null (appended, not filled yet). Freed indices go on a
// stack and are reused last freed, first reused. Bad handles resolve to a
// null slot, never to a dangling pointer. The whole table is written to and
// read from save games, each object coming back at its saved handle.
//
// Invariants: a live object's `id` is its slot index + 1; an index is on
// the free stack at most once; handles are 24 bits wide.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scene/GameObject.h"

class DataStream;

class ObjectRepository {
public:
    // Written into the slot of every freed object.
    static constexpr std::uintptr_t kFreedSentinel = 0xDEADFDFD;
    // The largest number of slots a 24-bit handle can address.
    static constexpr std::uint32_t kMaxObjects = kGameObjectHandleMask;

    // Makes an object of a type for a save-game load, at the handle the
    // repository has been asked for (its requested index): type code, name,
    // scene handle, subtype. Null on failure.
    using LoadFactory = GameObject* (*)(std::uint32_t type, const char* name, std::uint32_t scene,
                                        std::uint32_t subtype);

    ObjectRepository();
    // Reports objects still in the table (checkEmpty).
    ~ObjectRepository();
    ObjectRepository(const ObjectRepository&) = delete;
    ObjectRepository& operator=(const ObjectRepository&) = delete;

    // The slot of a handle; bad handles (reported) give the null slot.
    GameObject*& access(GameObjectLink link);
    // The object of a handle; null without a message for link 0.
    GameObject* getObject(GameObjectLink link);

    // A slot for a new object (the requested one when set): its handle, or 0.
    std::uint32_t allocate(GameObject* object);
    // Gives an object's slot back; an object already freed is ignored.
    void Obj_FREE(GameObject* object);

    // The object table of a save game; byte count or negative.
    std::int32_t write(DataStream& stream);
    std::int32_t read(DataStream& stream);

    // A saved object's record up to its own data.
    struct SavedRecord {
        std::uint32_t type = 0, scene = 0, handle = 0, subtype = 0;
        std::string name;
    };
    // Reads (or refuses, negative) one saved object's own data without
    // making the object.
    using RecordCheck = std::function<std::int32_t(const SavedRecord&, DataStream&)>;
    // Checks a saved object table as read() would take it, touching neither
    // this table nor any object: byte count or negative.
    std::int32_t check(DataStream& stream, const RecordCheck& objectData) const;

    // Deletes every object still in the table and empties it (game release).
    void releaseUnreferenced();
    // The exit report; empties the table.
    void checkEmpty();

    // Handle the next allocation must take (set by the loader), 0 for any.
    void setRequestedIndex(std::int32_t index) { requestedIndex_ = index; }
    void setLoadFactory(LoadFactory factory) { loadFactory_ = factory; }

    std::uint32_t count() const { return static_cast<std::uint32_t>(objects_.size()); }
    const std::vector<std::int32_t>& freeIndices() const { return freeIndices_; }
    // True when the slot holds neither null nor the freed sentinel.
    bool isLive(std::uint32_t slot) const;

private:
    static GameObject* freedSentinel() { return reinterpret_cast<GameObject*>(kFreedSentinel); }
    std::int32_t writeRecord(DataStream& stream, GameObject* object);
    std::int32_t readRecord(DataStream& stream);
    void pushFree(std::int32_t index);
    // Takes the slot off the free list when it is there.
    void takeFree(std::int32_t index);
    // The free list read from a save (checked: distinct slots of the table).
    void assignFree(const std::vector<std::uint32_t>& indices);
    void clearFree();

    GameObject* nullSlot_ = nullptr;
    std::vector<GameObject*> objects_;
    std::vector<std::int32_t> freeIndices_;
    // Where each slot stands in freeIndices_, -1 when it is not there, so
    // that freeing and reclaiming a slot never walks the list.
    std::vector<std::int32_t> freePosition_;
    std::int32_t requestedIndex_ = 0;
    LoadFactory loadFactory_ = nullptr;
};
