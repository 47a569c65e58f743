// Helpers for the binding files (src/<owner>/lua/*.cpp) and the rule they
// follow for how script objects refer to engine objects.
//
// Lua never holds a raw pointer to an engine object that the engine may
// destroy while the Lua state lives. A script object is a small value that
// Lua owns (bound by value), naming its engine object in one of three ways,
// resolved again on every use:
//  - objects that outlive the Lua state (the script engine's own members,
//    the game-core record) may be bound by pointer;
//  - cores, managers and services of the game core: no key at all; the
//    handle resolves through `gameCore` at each call and finds null once the
//    core is released;
//  - game objects: their GameObjectLink (repository handle); the repository
//    turns a dead or out-of-range handle into null;
//  - every other object the engine can destroy (timers, variables, still-
//    frame items, sounds, ...) hands out a weak life token: it owns a
//    `std::shared_ptr<T*>` to itself (ScriptLife) and the script handle keeps
//    the matching `std::weak_ptr<T*>` (ScriptRef), which expires with it.
// A handle that no longer resolves makes a property read give nil and a
// method raise a Lua error through ScriptObjectGone (luabind turns the C++
// exception into a Lua error at the call's edge); it never touches freed
// memory. This header includes no Lua.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

struct lua_State;

// Thrown inside a bound method whose engine object is gone; the binding
// layer turns it into a Lua error with this text.
class ScriptObjectGone : public std::runtime_error {
public:
    explicit ScriptObjectGone(const char* className)
        : std::runtime_error(std::string("[") + (className ? className : "?") + "] object no longer exists") {}
};

// The life token an engine object holds as a member: a shared pointer to
// the object itself. Copying the owner makes a fresh token for the copy.
template <class T>
class ScriptLife {
public:
    explicit ScriptLife(T* owner) : life_(std::make_shared<T*>(owner)) {}
    ScriptLife(const ScriptLife&) = delete;
    ScriptLife& operator=(const ScriptLife&) = delete;
    std::weak_ptr<T*> token() const { return life_; }

private:
    std::shared_ptr<T*> life_;
};

// A script object's weak reference to an engine object.
template <class T>
class ScriptRef {
public:
    ScriptRef() = default;
    explicit ScriptRef(std::weak_ptr<T*> token) : token_(std::move(token)) {}

    // Null once the object is gone.
    T* get() const {
        const std::shared_ptr<T*> life = token_.lock();
        return life ? *life : nullptr;
    }
    // The object, or a Lua error naming the script class.
    T& require(const char* className) const {
        T* object = get();
        if (!object) throw ScriptObjectGone(className);
        return *object;
    }

private:
    std::weak_ptr<T*> token_;
};

// Resolves a pointer found through the game core or the repository, or
// raises the Lua error of a gone object.
template <class T>
T& requireScriptObject(T* object, const char* className) {
    if (!object) throw ScriptObjectGone(className);
    return *object;
}

// The least registration of a scripted class whose engine side does not
// exist yet: the Lua class with its "classof" method and, when a global
// name is given, a global instance of it. Each class name gets its own
// type within a state.
void registerScriptPlaceholder(lua_State* state, const char* className, const char* globalName);
