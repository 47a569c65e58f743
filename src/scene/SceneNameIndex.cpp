#include "scene/SceneNameIndex.h"

#include <cstring>

#include "scene/SceneInternal.h"

using scene_detail::resolve;

namespace {

// The name of the object at a position of the list, or null.
const char* nameAt(const std::vector<GameObjectLink>& list, std::size_t position) {
    if (position >= list.size()) return nullptr;
    const GameObject* object = resolve(list[position]);
    return object ? object->getName() : nullptr;
}

}  // namespace

void SceneNameIndex::stamp(const std::vector<GameObjectLink>& list) {
    epoch_ = GameObject::nameEpoch();
    size_ = list.size();
    data_ = list.data();
}

void SceneNameIndex::rebuild(const std::vector<GameObjectLink>& list) {
    positions_.clear();
    positions_.reserve(list.size());
    duplicates_ = false;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (const char* name = nameAt(list, i))
            if (!positions_.emplace(name, static_cast<std::uint32_t>(i)).second) duplicates_ = true;
    stamp(list);
}

std::int32_t SceneNameIndex::first(const char* name) const {
    const auto found = positions_.find(std::string_view(name));
    return found == positions_.end() ? -1 : static_cast<std::int32_t>(found->second);
}

std::int32_t SceneNameIndex::find(const std::vector<GameObjectLink>& list, const char* name, std::size_t start) {
    if (!name) return -1;
    if (!fresh(list)) rebuild(list);
    std::int32_t position = first(name);
    if (position >= 0) {
        const char* held = nameAt(list, static_cast<std::size_t>(position));
        if (!held || std::strcmp(held, name) != 0) {
            // Changed behind the stamp's back (entries swapped in place).
            rebuild(list);
            position = first(name);
        }
    }
    if (position < 0 || static_cast<std::size_t>(position) >= start) return position;
    // A later object of the same name: only there when names repeat.
    if (!duplicates_) return -1;
    for (std::size_t i = start; i < list.size(); ++i)
        if (const char* held = nameAt(list, i); held && std::strcmp(held, name) == 0) return static_cast<std::int32_t>(i);
    return -1;
}

std::uint64_t SceneNameIndex::prepare(const std::vector<GameObjectLink>& list) {
    if (!fresh(list)) rebuild(list);
    return epoch_;
}

void SceneNameIndex::appended(const std::vector<GameObjectLink>& list, std::uint64_t prepared) {
    if (epoch_ != prepared || list.size() != size_ + 1) return;  // stale: rebuilt when next asked
    if (const char* name = nameAt(list, size_))
        if (!positions_.emplace(name, static_cast<std::uint32_t>(size_)).second) duplicates_ = true;
    stamp(list);
}

void SceneNameIndex::renamed(const std::vector<GameObjectLink>& list, std::uint64_t prepared, const GameObject& object,
                             const std::string& oldName) {
    // With repeated names a name's holders are not all known here.
    if (epoch_ != prepared || duplicates_ || size_ != list.size() || data_ != list.data()) return;
    const auto found = positions_.find(std::string_view(oldName));
    if (found == positions_.end()) {
        // Every named object of the list is in the index: not this one.
        epoch_ = GameObject::nameEpoch();
        return;
    }
    const std::uint32_t position = found->second;
    const char* name = object.getName();
    if (position >= list.size() || resolve(list[position]) != &object || !name ||
        positions_.find(std::string_view(name)) != positions_.end())
        return;  // stale, or the new name repeats one: rebuilt when next asked
    positions_.erase(found);
    positions_.emplace(name, position);
    epoch_ = GameObject::nameEpoch();
}

void SceneNameIndex::removed(const std::vector<GameObjectLink>& list, std::uint64_t prepared, const std::string& name,
                             std::size_t position) {
    // With repeated names the next holder of a name is not known here.
    if (epoch_ != prepared || duplicates_ || list.size() + 1 != size_) return;
    positions_.erase(name);
    // The former last entry now stands at position.
    if (const char* moved = nameAt(list, position); moved && position < list.size())
        positions_[moved] = static_cast<std::uint32_t>(position);
    stamp(list);
}
