// "Animations": the ".ani4" resources of the "shared" or the "levels"
// package, grouped by the part of their names up to the first ".". The
// state (selected group, group and animation name lists, shared flag)
// belongs to the script engine, which outlives its Lua state, so the global
// "animations" refers to it by pointer.
#include "animation/lua/AnimationScripts.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "foundation/Log.h"
#include "resources/FilePackageDBData.h"
#include "resources/PackageDatabase.h"
#include "script/ScriptBinding.h"
#include "script/ScriptEngine.h"

namespace {

using NameList = std::vector<std::array<char, 128>>;

struct AnimationsHandle {
    AnimationsScriptState* state = nullptr;
};

constexpr const char* kAnimationMask = ".ani4";

AnimationsScriptState& stateOf(const AnimationsHandle& handle) {
    return requireScriptObject(handle.state, "Animations");
}

const char* packageOf(const AnimationsScriptState& state) { return state.shared ? "shared" : "levels"; }

int compareName(const std::array<char, 128>& a, const char* b) { return std::strncmp(a.data(), b, 127); }

// Inserts a name in byte order unless it is there already.
void insertName(NameList& list, const char* name) {
    const auto at = std::lower_bound(list.begin(), list.end(), name,
                                     [](const std::array<char, 128>& a, const char* b) { return compareName(a, b) < 0; });
    if (at != list.end() && compareName(*at, name) == 0) return;
    std::array<char, 128> field{};
    std::strncpy(field.data(), name, 127);
    list.insert(at, field);
}

// Calls visit with the name of every animation of the state's package.
template <class Visit>
void forEachAnimation(const AnimationsScriptState& state, Visit visit) {
    FilePackageDBData* packages = packageData();
    if (!packages) return;
    const char* package = packageOf(state);
    const std::int32_t count = packages->countFiles(kAnimationMask, package);
    for (std::int32_t i = 0; i < count; ++i)
        if (const char* name = packages->fileName(packages->fileIdAt(kAnimationMask, i, package))) visit(name);
}

void buildGroups(AnimationsScriptState& state) {
    state.groupNames.clear();
    forEachAnimation(state, [&](const char* name) {
        std::string group(name, strnlen(name, 127));
        const std::size_t dot = group.find('.');
        if (dot != std::string::npos) group.resize(dot + 1);
        insertName(state.groupNames, group.c_str());
    });
}

void buildAnimations(AnimationsScriptState& state) {
    state.animationNames.clear();
    const bool selected =
        state.selectedGroup >= 0 && static_cast<std::size_t>(state.selectedGroup) < state.groupNames.size();
    const char* prefix = selected ? state.groupNames[static_cast<std::size_t>(state.selectedGroup)].data() : "";
    const std::size_t prefixLength = std::strlen(prefix);
    forEachAnimation(state, [&](const char* name) {
        if (std::strncmp(name, prefix, prefixLength) == 0) insertName(state.animationNames, name);
    });
}

AnimationsScriptState& groupsReady(const AnimationsHandle& handle) {
    AnimationsScriptState& state = stateOf(handle);
    if (!state.groupsBuilt) {
        buildGroups(state);
        state.groupsBuilt = true;
    }
    return state;
}

AnimationsScriptState& animationsReady(const AnimationsHandle& handle) {
    AnimationsScriptState& state = stateOf(handle);
    if (!state.animationsBuilt) {
        buildAnimations(state);
        state.animationsBuilt = true;
    }
    return state;
}

const char* animationsClassof(const AnimationsHandle&) { return "Animations"; }

std::int32_t animationCount(const AnimationsHandle& handle) {
    return static_cast<std::int32_t>(animationsReady(handle).animationNames.size());
}

std::string animationName(const AnimationsHandle& handle, std::int32_t index) {
    const AnimationsScriptState& state = animationsReady(handle);
    if (index < 0 || static_cast<std::size_t>(index) >= state.animationNames.size()) return "Invalid INDEX";
    return state.animationNames[static_cast<std::size_t>(index)].data();
}

std::string selectedGroup(const AnimationsHandle& handle) {
    const AnimationsScriptState& state = stateOf(handle);
    if (state.selectedGroup < 0 || static_cast<std::size_t>(state.selectedGroup) >= state.groupNames.size())
        return "";
    return state.groupNames[static_cast<std::size_t>(state.selectedGroup)].data();
}

void selectGroup(const AnimationsHandle& handle, const std::string& name) {
    if (name.empty()) return;
    AnimationsScriptState& state = groupsReady(handle);
    const auto at = std::find_if(state.groupNames.begin(), state.groupNames.end(),
                                 [&](const std::array<char, 128>& group) { return compareName(group, name.c_str()) == 0; });
    if (at == state.groupNames.end())
        engineLog().scriptError("Can't select animation group %s: NOT found", name.c_str());
    else
        state.selectedGroup = static_cast<std::int32_t>(at - state.groupNames.begin());
    buildAnimations(state);
    state.animationsBuilt = true;
}

bool sharedFlag(const AnimationsHandle& handle) { return stateOf(handle).shared != 0; }

void setShared(const AnimationsHandle& handle, bool shared) {
    AnimationsScriptState& state = stateOf(handle);
    if ((state.shared != 0) == shared) return;
    state.shared = shared ? 1 : 0;
    buildGroups(state);
    state.selectedGroup = -1;
    buildAnimations(state);
    state.groupsBuilt = true;
    state.animationsBuilt = true;
}

std::int32_t groupCount(const AnimationsHandle& handle) {
    return static_cast<std::int32_t>(groupsReady(handle).groupNames.size());
}

std::string groupName(const AnimationsHandle& handle, std::int32_t index) {
    const AnimationsScriptState& state = stateOf(handle);
    if (index < 0 || static_cast<std::size_t>(index) >= state.groupNames.size()) {
        engineLog().scriptError("Invalid animation group index [%i]", index);
        return "INVALID INDEX";
    }
    return state.groupNames[static_cast<std::size_t>(index)].data();
}

// The group of an animation name: the name with "." appended, lower-case,
// then the same without its first character, and so on.
std::string findGroup(const AnimationsHandle& handle, const std::string& name) {
    const AnimationsScriptState& state = groupsReady(handle);
    std::string text = name + ".";
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    for (std::size_t from = 0; from < text.size(); ++from) {
        const char* candidate = text.c_str() + from;
        for (const std::array<char, 128>& group : state.groupNames)
            if (compareName(group, candidate) == 0) return candidate;
    }
    return "";
}

}  // namespace

void registerAnimationsClass(lua_State* state, ScriptEngine& engine) {
    using namespace luabind;
    module(state)[(class_<AnimationsHandle>("Animations")
                       .def("classof", &animationsClassof)
                       .def("count", &animationCount)
                       .def("name", &animationName)
                       .property("group", &selectedGroup, &selectGroup)
                       .property("shared", &sharedFlag, &setShared)
                       .def("group_count", &groupCount)
                       .def("group_name", &groupName)
                       .def("find_group", &findGroup))];
    globals(state)["animations"] = AnimationsHandle{engine.animations()};
}

namespace {

// "Morph": the lip-sync tracks of every package.
struct MorphHandle {
    MorphScriptState* state = nullptr;
};

constexpr const char* kMorphMask = ".lip";

const char* morphClassof(const MorphHandle&) { return "Morph"; }

std::int32_t morphCount(const MorphHandle& handle) {
    requireScriptObject(handle.state, "Morph");
    FilePackageDBData* packages = packageData();
    return packages ? packages->countFiles(kMorphMask, "") : 0;
}

std::string morphName(const MorphHandle& handle, std::int32_t index) {
    if (index < 1 || index > morphCount(handle)) return "Invalid INDEX";
    FilePackageDBData* packages = packageData();
    const char* name = packages ? packages->fileName(packages->fileIdAt(kMorphMask, index - 1, "")) : nullptr;
    return name ? name : "Invalid index";
}

}  // namespace

void registerMorphClass(lua_State* state, ScriptEngine& engine) {
    using namespace luabind;
    module(state)[(class_<MorphHandle>("Morph")
                       .def("classof", &morphClassof)
                       .def("count", &morphCount)
                       .def("name", &morphName))];
    globals(state)["morphs"] = MorphHandle{engine.morphs()};
}
