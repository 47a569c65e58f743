// The Lua host: the one script engine of the game core.
//
// ScriptEngine owns the ScriptContext (the Lua state, the list of script
// sources and the queue of script events) and the five pieces of script
// state that registration functions bind to Lua. openScriptEngine creates the
// state, registers the engine's global functions and every scripted class,
// loads every ".lua" resource of the packages in ascending name order and
// runs "system_script_precompilation" and "system_reset". Main thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/DataStream.h"
#include "script/ScriptEventArgs.h"

struct lua_State;
class ScriptEngine;
class ScriptWorld;

// One ".lua" resource: its name and, while it loads, its text.
struct LuaSource {
    bool delivered = false;  // the chunk reader handed out the text
    MemoryStream text;
    char name[128] = {};
};

// The sources, sorted by name (unsigned byte order), names unique.
struct LuaSourceList {
    lua_State* connected = nullptr;  // the state the sources were loaded into
    std::vector<std::unique_ptr<LuaSource>> items;

    // Inserts at the sorted place; false (the source is dropped) when an item
    // of that name exists.
    bool insert(std::unique_ptr<LuaSource> source);
};

// The place of a script call, printed by ScriptEngine::logCallPosition.
struct ScriptCallPosition {
    char source[1024] = {};
    char function[1024] = {};
    char message[1024] = {};
    std::int32_t line = 0;
};

class ScriptContext {
public:
    explicit ScriptContext(ScriptEngine* owner = nullptr);
    ~ScriptContext();
    ScriptContext(const ScriptContext&) = delete;
    ScriptContext& operator=(const ScriptContext&) = delete;

    lua_State* state = nullptr;  // null until openScriptEngine creates it
    std::unique_ptr<LuaSourceList> sources;
    ScriptEventQueue queue;
    std::unique_ptr<ScriptCallPosition> position;
    ScriptEngine* owner = nullptr;

    // Runs at most kEventsPerCall queued events, oldest first.
    void processEvents();
    void clearEventQueue();
    void clearSources();
    // Drops the sources, the position record and the queue (not the state).
    void close();

    static constexpr int kEventsPerCall = 50;
};

// The script state that trigger scripts store: saved with the game.
struct TriggerHandlerNames {
    // The longest text the save record can give back: the reader takes
    // each through a buffer of 2048 bytes.
    static constexpr std::size_t kMaxText = 2047;

    std::string onEnter;
    std::string onLeave;
};

// State of the "Animations" script object; its registration gives it meaning.
struct AnimationsScriptState {
    std::int32_t selectedGroup = -1;
    std::vector<std::array<char, 128>> groupNames;
    std::vector<std::array<char, 128>> animationNames;
    std::uint8_t shared = 0;
    // The lists are made at their first use.
    bool groupsBuilt = false;
    bool animationsBuilt = false;
};

// State of the "Morph" script object.
struct MorphScriptState {
    std::uint8_t flag = 0;
};

// The buffer of the "ScreenActions" script object.
struct ScreenActionsScriptState {
    std::uint8_t bytes[128] = {};
};

// A registration function binds one group of scripted classes to Lua. The
// application builds the ordered table of them; the engine walks it.
using ScriptClassRegistrar = void (*)(lua_State*, ScriptEngine&);
struct ScriptClassRegistration {
    const char* classes;  // the Lua classes it registers, for messages
    ScriptClassRegistrar registrar;
};

class ScriptEngine {
public:
    ScriptEngine();
    ~ScriptEngine();
    ScriptEngine(const ScriptEngine&) = delete;
    ScriptEngine& operator=(const ScriptEngine&) = delete;

    // While non-zero, events are refused and run/test calls do nothing.
    std::uint8_t eventsBlocked = 0;
    std::unique_ptr<ScriptContext> context;

    ScriptWorld* world() { return world_.get(); }
    ScreenActionsScriptState* screenActions() { return screenActions_.get(); }
    TriggerHandlerNames* triggerHandlers() { return triggerHandlers_.get(); }
    AnimationsScriptState* animations() { return animations_.get(); }
    MorphScriptState* morphs() { return morphs_.get(); }

    // The ordered table of registration functions; the caller keeps it alive.
    void setClassRegistrations(const ScriptClassRegistration* table, std::size_t count);
    const ScriptClassRegistration* classRegistrations() const { return registrations_; }
    std::size_t classRegistrationCount() const { return registrationCount_; }

    // The flag word whose "delayed call" bit (0x2) is set while a queued
    // event runs (the save game's; null when there is none).
    std::uint32_t* delayedCallFlags = nullptr;

    // The release phase of the game: empties the queue and the source list
    // and closes the Lua state.
    void release();

    void logCallPosition();

    // The engine's block of the saved game; byte count or the first negative.
    std::int32_t write(DataStream& stream);
    // apply false only checks the block, changing nothing.
    std::int32_t read(DataStream& stream, bool apply = true);

private:
    std::unique_ptr<ScriptWorld> world_;
    std::unique_ptr<ScreenActionsScriptState> screenActions_;
    std::unique_ptr<TriggerHandlerNames> triggerHandlers_;
    std::unique_ptr<AnimationsScriptState> animations_;
    std::unique_ptr<MorphScriptState> morphs_;
    const ScriptClassRegistration* registrations_ = nullptr;
    std::size_t registrationCount_ = 0;
};

// Opens the state, registers everything, loads the sources and runs the
// start scripts. True when all sources loaded and "system_reset" ran.
bool openScriptEngine(ScriptContext& context);
// A check that running scripts make every few thousand instructions: when
// it answers true the script stops with a Lua error, so that a script that
// never returns cannot hold a game that must end. Null: no check.
void setScriptInterruptCheck(bool (*check)());
// The registration driver: luabind, its callbacks and every registration
// function of the owner's table, in order.
void registerScriptClasses(lua_State* state, ScriptEngine& engine);
// Fills the list with every ".lua" resource of the packages. Always true.
bool collectLuaSources(LuaSourceList& list);
// Loads one source from the packages and runs it.
bool loadLuaSource(LuaSource& source, lua_State* state);
// Compiles the source's text under "@<chunkPath>" and runs it; the text is
// freed afterwards. The Lua error text goes into the log.
bool loadLuaChunk(LuaSource& source, lua_State* state, const char* chunkPath);
// The chunk reader given to lua_load: the whole text at the first call.
const char* readLuaSourceChunk(lua_State* state, void* source, std::size_t* size);

// Registration-time error callbacks (luabind errors are caught at the edge).
void onLuaRuntimeError(lua_State* state);
void onLuaCastFailed(lua_State* state);
int onLuaPCallFailed(lua_State* state);
