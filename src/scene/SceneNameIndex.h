// Where the objects of one of a scene's handle lists are by name, so that
// a name is found (or known absent) without walking the list.
//
// The lists are public and changed in several places, and object names are
// written directly, so the index never relies on being told: it is trusted
// only while its stamp (the object name epoch, the list's size and storage)
// still matches, and a position it gives is checked against the list before
// it is returned. Anything else rebuilds it from the list. The scene's own
// creations, deletions and the renames of its models and lights keep it up
// to date themselves, so that a bulk load never rebuilds it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "foundation/StringHelper.h"
#include "scene/GameObject.h"

class SceneNameIndex {
public:
    // Position of the first object of the list with that name at or after
    // start, or -1 (first in list order, as a walk of the list finds it).
    std::int32_t find(const std::vector<GameObjectLink>& list, const char* name, std::size_t start = 0);

    // Brings the index up to date with the list before a change the scene
    // makes itself; the epoch to hand to appended() or removed() after it.
    std::uint64_t prepare(const std::vector<GameObjectLink>& list);
    // After the scene appended one object to the list (and made it, and
    // maybe other objects, since prepare): its name is added.
    void appended(const std::vector<GameObjectLink>& list, std::uint64_t prepared);
    // After the scene removed the object of that name at position (the last
    // entry taking its place) and destroyed it.
    void removed(const std::vector<GameObjectLink>& list, std::uint64_t prepared, const std::string& name,
                 std::size_t position);
    // After an object was renamed (the index brought up to date by prepare
    // before): the index follows the object to its new name when the list
    // holds it, and stays trusted when the list does not hold it.
    void renamed(const std::vector<GameObjectLink>& list, std::uint64_t prepared, const GameObject& object,
                 const std::string& oldName);
    // Room for that many more names (a bulk load knows how many come).
    void reserve(std::size_t more) { positions_.reserve(positions_.size() + more); }
    // After the scene made an object that is not in this list: the index
    // stays trusted when it was up to date before.
    void unaffected(std::uint64_t prepared) {
        if (epoch_ == prepared) epoch_ = GameObject::nameEpoch();
    }

private:
    bool fresh(const std::vector<GameObjectLink>& list) const {
        return epoch_ == GameObject::nameEpoch() && size_ == list.size() && data_ == list.data();
    }
    void stamp(const std::vector<GameObjectLink>& list);
    void rebuild(const std::vector<GameObjectLink>& list);
    // Position of the first object of that name by the index, or -1.
    std::int32_t first(const char* name) const;

    // First position of each name.
    std::unordered_map<std::string, std::uint32_t, NameHash, std::equal_to<>> positions_;
    // True when some name is held by more than one object of the list.
    bool duplicates_ = false;
    std::uint64_t epoch_ = ~std::uint64_t{0};
    std::size_t size_ = 0;
    const GameObjectLink* data_ = nullptr;
};
