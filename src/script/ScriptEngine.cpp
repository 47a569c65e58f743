#include "script/ScriptEngine.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include <lua.hpp>
#include <luabind/error.hpp>
#include <luabind/open.hpp>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "resources/PackageDatabase.h"
#include "script/ScriptCall.h"
#include "script/ScriptWorld.h"

// ---- sources ---------------------------------------------------------------

namespace {
constexpr const char* kLuaMask = ".lua";
}  // namespace

bool LuaSourceList::insert(std::unique_ptr<LuaSource> source) {
    const char* name = source->name;
    auto at = std::lower_bound(items.begin(), items.end(), name, [](const std::unique_ptr<LuaSource>& item, const char* key) {
        return std::strcmp(item->name, key) < 0;
    });
    if (at != items.end() && std::strcmp((*at)->name, name) == 0) return false;
    items.insert(at, std::move(source));
    return true;
}

const char* readLuaSourceChunk(lua_State*, void* data, std::size_t* size) {
    auto* source = static_cast<LuaSource*>(data);
    *size = 0;
    if (!source) {
        engineLog().error("Can't load lua file: source not defined");
        return nullptr;
    }
    if (source->delivered) return nullptr;
    source->delivered = true;
    *size = static_cast<std::size_t>(std::max(source->text.size(), 0));
    return reinterpret_cast<const char*>(source->text.data());
}

bool loadLuaChunk(LuaSource& source, lua_State* state, const char* chunkPath) {
    source.delivered = false;
    lua_pushfstring(state, "@%s", chunkPath);
    const int loaded = lua_load(state, readLuaSourceChunk, &source, lua_tostring(state, -1));
    lua_remove(state, -2);  // the chunk name
    source.text.release();
    if (loaded != 0) {
        const char* text = lua_tostring(state, -1);
        engineLog().error("Fail to load Lua file :[%s]: %s", chunkPath, text ? text : "");
        lua_pop(state, 1);
        return false;
    }
    if (lua_pcall(state, 0, 0, 0) != 0) {
        const char* text = lua_tostring(state, -1);
        engineLog().error("Fail to compile Lua file :[%s]: %s", chunkPath, text ? text : "");
        lua_pop(state, 1);
        return false;
    }
    return true;
}

bool collectLuaSources(LuaSourceList& list) {
    FilePackageDBData* packages = packageData();
    if (!packages) return true;
    const std::int32_t count = packages->countFiles(kLuaMask, "");
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint32_t id = packages->fileIdAt(kLuaMask, i, "");
        const char* name = id ? fileName(id) : nullptr;
        if (!name) continue;
        auto source = std::make_unique<LuaSource>();
        copyScriptText(source->name, sizeof(source->name), name);
        list.insert(std::move(source));
    }
    return true;
}

bool loadLuaSource(LuaSource& source, lua_State* state) {
    FilePackageDBData* packages = packageData();
    const std::uint32_t id = packages ? packages->find(kLuaMask, source.name, "") : 0;
    if (!id) return engineLog().error("PANIC: not found Lua resource [%s]", source.name);
    const std::string path = resourcePath(id);
    source.text.release();
    if (!loadResourceById(id, source.text)) {
        source.text.release();
        return engineLog().error("Can't load Lua resource code [%s]", source.name);
    }
    return loadLuaChunk(source, state, path.c_str());
}

// ---- context ---------------------------------------------------------------

ScriptContext::ScriptContext(ScriptEngine* owner_)
    : sources(std::make_unique<LuaSourceList>()), position(std::make_unique<ScriptCallPosition>()), owner(owner_) {}

ScriptContext::~ScriptContext() = default;

void ScriptContext::clearEventQueue() { queue.clear(); }

void ScriptContext::clearSources() {
    if (!sources) return;
    sources->connected = nullptr;
    std::vector<std::unique_ptr<LuaSource>>().swap(sources->items);
}

void ScriptContext::close() {
    clearSources();
    sources.reset();
    position.reset();
    clearEventQueue();
}

// ---- engine ----------------------------------------------------------------

ScriptEngine::ScriptEngine()
    : context(std::make_unique<ScriptContext>(this)),
      world_(std::make_unique<ScriptWorld>()),
      screenActions_(std::make_unique<ScreenActionsScriptState>()),
      triggerHandlers_(std::make_unique<TriggerHandlerNames>()),
      animations_(std::make_unique<AnimationsScriptState>()),
      morphs_(std::make_unique<MorphScriptState>()) {}

ScriptEngine::~ScriptEngine() {
    if (context) context->close();
    context.reset();
    world_.reset();
    screenActions_.reset();
    triggerHandlers_.reset();
    animations_.reset();
    morphs_.reset();
}

void ScriptEngine::setClassRegistrations(const ScriptClassRegistration* table, std::size_t count) {
    registrations_ = table;
    registrationCount_ = table ? count : 0;
}

void ScriptEngine::release() {
    if (!context) return;
    context->clearEventQueue();
    context->clearSources();
    if (context->state) lua_close(context->state);
    context->state = nullptr;
}

void ScriptEngine::logCallPosition() {
    ScriptCallPosition empty;
    const ScriptCallPosition& p = context && context->position ? *context->position : empty;
    engineLog().scriptInfo(
        "------------------%s---------------------------------------------------------------------------------\n"
        "%s %s() at %i: %s",
        "", p.source, p.function, p.line, p.message);
}

namespace {

// The handler texts of the "Trigger" record: each a u32 length and its
// bytes. A text the reader could not take back is refused, so that no save
// is written that cannot be restored.
std::int32_t writeStringPair(DataStream& stream, const TriggerHandlerNames& names) {
    std::int32_t total = 0;
    for (const std::string* text : {&names.onEnter, &names.onLeave}) {
        if (text->size() > TriggerHandlerNames::kMaxText) {
            engineLog().error("Can't write script engine state: trigger handler text of %zu bytes", text->size());
            return -1;
        }
        if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(text->size())))) return total;
        if (!text->empty() && !addField(total, stream.write(text->data(), static_cast<std::int32_t>(text->size()))))
            return total;
    }
    return total;
}

// Each text goes through a buffer of 2048 bytes: a longer one, or one
// beyond the end of the stream, is refused before anything is allocated.
std::int32_t readStringPair(DataStream& stream, TriggerHandlerNames& names) {
    std::int32_t total = 0;
    for (std::string* text : {&names.onEnter, &names.onLeave}) {
        std::uint32_t length = 0;
        if (!addField(total, readU32(stream, length))) return total;
        if (length > TriggerHandlerNames::kMaxText || length > static_cast<std::uint32_t>(bytesLeft(stream))) {
            engineLog().error("Can't read script engine state: trigger handler text of %u bytes", length);
            return -1;
        }
        text->assign(length, '\0');
        if (length && !addField(total, readExact(stream, text->data(), static_cast<std::int32_t>(length))))
            return total;
    }
    return total;
}

}  // namespace

std::int32_t ScriptEngine::write(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeStringPair(stream, *triggerHandlers_))) return total;
    addField(total, world_->writeEvents(stream));
    return total;
}

std::int32_t ScriptEngine::read(DataStream& stream, bool apply) {
    std::int32_t total = 0;
    TriggerHandlerNames names;
    if (!addField(total, readStringPair(stream, names))) return total;
    if (!addField(total, world_->readEvents(stream, apply))) return total;
    if (apply) *triggerHandlers_ = std::move(names);
    return total;
}

// ---- opening ---------------------------------------------------------------

void onLuaRuntimeError(lua_State*) { engineLog().scriptError("Lua runtime error"); }

void onLuaCastFailed(lua_State*) { engineLog().scriptError("Lua Cast failed"); }

int onLuaPCallFailed(lua_State*) {
    engineLog().scriptError("Lua PCall failed");
    return 1;
}

void registerScriptClasses(lua_State* state, ScriptEngine& engine) {
    luabind::open(state);
    luabind::set_pcall_callback(onLuaPCallFailed);
    for (std::size_t i = 0; i < engine.classRegistrationCount(); ++i) {
        const ScriptClassRegistration& entry = engine.classRegistrations()[i];
        if (!entry.registrar) continue;
        // luabind reports failures by exceptions: they end at this edge.
        try {
            entry.registrar(state, engine);
        } catch (const luabind::cast_failed&) {
            onLuaCastFailed(state);
        } catch (const luabind::error&) {
            onLuaRuntimeError(state);
        } catch (const std::exception& e) {
            engineLog().scriptError("Can't register script classes [%s]: %s", entry.classes, e.what());
        }
    }
}

namespace {

bool (*g_interruptCheck)() = nullptr;
// Instructions between two interrupt checks: rare enough to cost nothing.
constexpr int kInterruptPeriod = 10000;

void interruptHook(lua_State* state, lua_Debug*) {
    if (g_interruptCheck && g_interruptCheck()) luaL_error(state, "Script stopped: the game ends");
}

}  // namespace

void setScriptInterruptCheck(bool (*check)()) { g_interruptCheck = check; }

bool openScriptEngine(ScriptContext& context) {
    // A context whose sources are connected keeps its state: nothing reloads
    // the scripts of a running game.
    if (context.sources && context.sources->connected) {
        engineLog().error("Lua sources already connected. Use refresh to re-load Lua source run-time");
        return engineLog().error("Cannot find script sources");
    }
    lua_State* state = luaL_newstate();
    if (!state) return engineLog().error("Cannot open LUA context. Script engine can't initialized.");
    context.state = state;
    // New coroutines take the hook from the state that makes them.
    lua_sethook(state, interruptHook, LUA_MASKCOUNT, kInterruptPeriod);
    luaL_openlibs(state);
    registerScriptGlobals(state);
    ScriptEngine* engine = context.owner ? context.owner : gameCore.script;
    if (engine) registerScriptClasses(state, *engine);

    if (!context.sources) context.sources = std::make_unique<LuaSourceList>();
    collectLuaSources(*context.sources);
    bool loaded = true;
    context.sources->connected = state;
    for (const std::unique_ptr<LuaSource>& source : context.sources->items) {
        if (!loadLuaSource(*source, state)) {
            engineLog().error("Can't load script resource [%s]", source->name);
            loaded = false;
        }
    }
    if (!loaded) return engineLog().error("Cannot find script sources");

    luabind::set_pcall_callback(traceScriptError);
    if (gameCore.debugFlags & DebugScriptCallLog) engineLog().scriptInfo("Script initialized. Run 'system_reset'");
    runScriptFunction(nullptr, context, "system_script_precompilation");
    if (!runScriptFunction(nullptr, context, "system_reset"))
        return engineLog().error("Can't execute script system reset: system_reset() is invalid");
    return true;
}
