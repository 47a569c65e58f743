// "Quest" and its global "quest": the quest engine of the game core, found
// again at every call. Quest functions read their arguments and object from
// it, ask for runs, save and restore groups of functions, fire events, run
// actions and keep the state of every quest's objects.
#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>
#include <luabind/operator.hpp>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "game/QuestLogic.h"
#include "game/lua/GameScripts.h"
#include "script/ScriptBinding.h"

namespace {

struct QuestHandle {};

QuestLogic& logic() { return requireScriptObject(gameCore.questLogic, "Quest"); }
QuestLogicStack& stack() { return logic().stack; }

const char* questClassof(const QuestHandle&) { return "Quest"; }

// ---- Properties

std::string currentObject(const QuestHandle&) { return stack().current.object; }
std::string currentArg1(const QuestHandle&) { return stack().current.arg1.c_str(); }
std::string currentArg2(const QuestHandle&) { return stack().current.arg2.c_str(); }
std::string currentArg3(const QuestHandle&) { return stack().current.arg3.c_str(); }
std::string questName(const QuestHandle&) { return logic().quest.name; }
void setQuestName(QuestHandle&, const std::string&) {
    engineLog().scriptError("Can't set quest name directly: use setQuest function instead");
}

template <std::uint32_t Bit>
bool getFlag(const QuestHandle&) {
    return (logic().flags & Bit) != 0;
}
template <std::uint32_t Bit>
void setFlag(QuestHandle&, bool on) {
    QuestLogic& q = logic();
    q.flags = on ? (q.flags | Bit) : (q.flags & ~Bit);
}

// ---- Running

bool stackEmpty(const QuestHandle&) { return stack().stack.empty(); }
bool questRun(const QuestHandle&) { return logic().run(); }

bool questBegin(const QuestHandle&, const std::string& name) {
    QuestLogic& q = logic();
    const bool found = q.selectQuest(name.c_str());
    if (!found && (q.flags & kQuestLogicDebug))
        engineLog().scriptError("Can't select quest [%s]: Quest NOT found", name.c_str());
    if (const RecordArray* objects = q.state.objectsOf(q.quest.name)) {
        const ObjectState* states = objects->as<ObjectState>();
        for (std::int32_t i = 0; i < objects->count; ++i) QuestLogic::applyObjectState(states[i], 2);
    }
    q.stack.backups.clear();
    return found;
}

bool questEvent(const QuestHandle&, const std::string& name) { return logic().fireEvent(name.c_str()); }

bool questAction(const QuestHandle&, const std::string& object, const std::string& action) {
    QuestLogic& q = logic();
    if (q.tracing()) engineLog().questInfo("Recall action [%s] for object [%s]", action.c_str(), object.c_str());
    return q.actionOnObjects(action.c_str(), object.c_str(), true);
}

bool questInit(const QuestHandle&, const std::string& action) {
    QuestLogic& q = logic();
    if (q.tracing()) engineLog().questInfo("Recall action [%s] for all objects", action.c_str());
    return q.actionOnObjects(action.c_str(), nullptr, true);
}

bool questRecall(const QuestHandle&, const std::string& action) {
    QuestLogic& q = logic();
    if (q.tracing()) engineLog().questInfo("Do action [%s] for all possible objects", action.c_str());
    return q.actionOnObjects(action.c_str(), nullptr, false);
}

// ---- Object states of any quest

ObjectState* stateOf(const std::string& quest, const std::string& object) {
    return logic().state.getObject(quest.c_str(), object.c_str());
}

void setState(const QuestHandle&, const std::string& quest, const std::string& object, std::int32_t value) {
    if (ObjectState* s = stateOf(quest, object)) s->state = value;
}
void setTag(const QuestHandle&, const std::string& quest, const std::string& object, std::int32_t value) {
    if (ObjectState* s = stateOf(quest, object)) s->tag = value;
}
void setAction(const QuestHandle&, const std::string& quest, const std::string& object, std::int32_t value) {
    ObjectState* s = stateOf(quest, object);
    if (!s) return;
    s->action = value;
    QuestLogic::applyObjectState(*s, 2);
}
void setMode(const QuestHandle&, const std::string& quest, const std::string& object, const std::string& mode) {
    ObjectState* s = stateOf(quest, object);
    if (!s) return;
    copyString64(mode.c_str(), s->mode);
}
std::int32_t getState(const QuestHandle&, const std::string& quest, const std::string& object) {
    const ObjectState* s = stateOf(quest, object);
    return s ? s->state : 0;
}
std::int32_t getTag(const QuestHandle&, const std::string& quest, const std::string& object) {
    const ObjectState* s = stateOf(quest, object);
    return s ? s->tag : 0;
}
std::int32_t getAction(const QuestHandle&, const std::string& quest, const std::string& object) {
    const ObjectState* s = stateOf(quest, object);
    return s ? s->action : -1;
}
std::string getMode(const QuestHandle&, const std::string& quest, const std::string& object) {
    const ObjectState* s = stateOf(quest, object);
    return s ? s->mode : "";
}
bool isDefined(const QuestHandle&, const std::string& quest, const std::string& object) {
    return logic().state.findObject(quest.c_str(), object.c_str()) != nullptr;
}

// ---- Stack groups and targets

void pushFunction(const QuestHandle&, const std::string& name, const std::string& arg1, const std::string& arg2) {
    // Saves keep an argument's length in 16 bits.
    if (arg1.size() > 0xFFFF || arg2.size() > 0xFFFF) {
        engineLog().scriptError("Can't push quest function [%s]: argument longer than 65535 bytes", name.c_str());
        return;
    }
    stack().pushFunction(name.c_str(), arg1.c_str(), arg2.c_str());
}
bool pushGroup(const QuestHandle&, const std::string& name) { return stack().push(name.c_str()); }
bool popGroup(const QuestHandle&, const std::string& name) { return stack().pop(name.c_str()); }
bool hasGroup(const QuestHandle&, const std::string& name) { return stack().findBackup(name.c_str()) != nullptr; }
bool addTarget(const QuestHandle&, const std::string& name) { return stack().addTarget(name.c_str()); }
void clearTargets(const QuestHandle&) { stack().clearTargets(); }

}  // namespace

void registerQuestClass(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)[(class_<QuestHandle>("Quest")
                       .def("classof", &questClassof)
                       .property("object", &currentObject)
                       .property("arg1", &currentArg1)
                       .property("arg2", &currentArg2)
                       .property("arg3", &currentArg3)
                       .property("name", &questName, &setQuestName)
                       .property("debug", &getFlag<kQuestLogicDebug>, &setFlag<kQuestLogicDebug>)
                       .property("global", &getFlag<kQuestLogicGlobal>, &setFlag<kQuestLogicGlobal>)
                       .property("debug_trace_run", &getFlag<kQuestLogicDebugTraceRun>,
                                 &setFlag<kQuestLogicDebugTraceRun>)
                       .def("test", &stackEmpty)
                       .def("run", &questRun)
                       .def("begin", &questBegin)
                       .def("event", &questEvent)
                       .def("action", &questAction)
                       .def("init", &questInit)
                       .def("recall", &questRecall)
                       .def("setState", &setState)
                       .def("setTag", &setTag)
                       .def("setAction", &setAction)
                       .def("setMode", &setMode)
                       .def("getState", &getState)
                       .def("getTag", &getTag)
                       .def("getAction", &getAction)
                       .def("getMode", &getMode)
                       .def("defined", &isDefined)
                       .def("push", &pushFunction)
                       .def("push", &pushGroup)
                       .def("pop", &popGroup)
                       .def("test", &hasGroup)
                       .def("add_target", &addTarget)
                       .def("clear_target", &clearTargets))];
    globals(state)["quest"] = QuestHandle{};
}
