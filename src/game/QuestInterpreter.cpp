// The quest interpreter: calls of the Lua functions behind quest commands,
// quest selection, events, actions with their cases and rules, and the
// object states applied to the scene's models.
#include <cstdio>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "game/QuestDataManager.h"
#include "game/QuestLogic.h"
#include "model/Model.h"
#include "scene/ObjectRepository.h"
#include "script/ScriptCall.h"
#include "script/ScriptEngine.h"

namespace {

// A function of a pushed or tested command.
QuestFunction functionOf(const QuestCommand& command, std::int32_t sequence, const char* object,
                         const char* context) {
    QuestFunction f;
    f.sequence = sequence;
    std::memcpy(f.name, command.name, sizeof(f.name));
    f.arg1 = command.arg1;
    f.arg2 = command.arg2;
    f.arg3 = command.arg3;
    copyName128(f.object, object);
    copyName128(f.context, context);
    return f;
}

}  // namespace

bool QuestLogic::callScript(const QuestFunction& function, bool test, bool global) {
    char name[128];
    std::snprintf(name, sizeof(name), "quest_%s", function.name);
    ScriptContext* context = gameCore.script ? gameCore.script->context.get() : nullptr;
    bool result = false;
    if (context) {
        if (test)
            result = testScriptFunction(*context, name);
        else if (global)
            result = runScriptFunction(name, *context, "quest_cmd");
        else
            result = runScriptFunction(nullptr, *context, name);
    }
    if (tracing())
        engineLog().questInfo("%s> %s(%s,%s,%s)=%s", global ? "QGlobalCall" : "QCall", function.name,
                              function.arg1.c_str(), function.arg2.c_str(), function.arg3.c_str(),
                              result ? "TRUE" : "FALSE");
    return result;
}

bool QuestLogic::selectQuest(const char* name) {
    if (actionDepth > 0)
        return engineLog().questError("Can't select quest [%s]: the actions of quest [%s] are being tested",
                                      name ? name : "", quest.name);
    if (!gameCore.questData) {
        quest.clear();
        return engineLog().questError("Can't create quest context with name [%s]: NOT found", name ? name : "");
    }
    return gameCore.questData->selectQuest(quest, name);
}

void QuestLogic::pushEvent(const QuestEvent& event) {
    if (tracing()) engineLog().questInfo("QEVENT> %s:%s()", quest.name, event.name);
    for (std::size_t i = event.commands.size(); i-- > 0;)
        stack.stack.push_back(functionOf(event.commands[i], static_cast<std::int32_t>(i + 1), "", event.name));
}

void QuestLogic::pushCase(const QuestCase& questCase, const char* object, const char* action) {
    if (tracing()) engineLog().questInfo("RUN CASE [%s]", questCase.name);
    for (std::size_t i = questCase.commands.size(); i-- > 0;)
        stack.stack.push_back(functionOf(questCase.commands[i], static_cast<std::int32_t>(i + 1), object, action));
}

bool QuestLogic::testRules(const std::vector<std::vector<QuestCommand>>& rules, const char* object,
                           const char* action, const QuestCase& questCase, std::int32_t caseIndex) {
    // The conditions show themselves to Lua as the current function while
    // they are tested; the function that called the action gets its own
    // back afterwards, for its reads and for the functions it pushes.
    QuestFunction running = std::move(stack.current);
    bool held = false;
    for (std::size_t r = 0; r < rules.size() && !held; ++r) {
        bool all = true;
        for (const QuestCommand& condition : rules[r]) {
            stack.current = functionOf(condition, 0, object, action);
            if (!callScript(stack.current, true, (flags & kQuestLogicGlobal) != 0)) {
                all = false;
                break;
            }
        }
        if (!all) continue;
        held = true;
        if (tracing())
            engineLog().questInfo("USE RULE [OR] line %i in [%s]%i case", static_cast<int>(r), questCase.name,
                                  caseIndex);
    }
    stack.current = std::move(running);
    return held;
}

bool QuestLogic::runAction(const QuestAction& action, const char* object) {
    for (std::size_t i = 0; i < action.cases.size(); ++i) {
        const QuestCase& c = action.cases[i];
        if (!testRules(c.rules, object, action.name, c, static_cast<std::int32_t>(i))) continue;
        if (tracing()) engineLog().questInfo("ACTION [%s] ->CASE [%s]%i", action.name, c.name, static_cast<int>(i));
        pushCase(c, object, action.name);
        return true;
    }
    return true;
}

bool QuestLogic::doAction(const QuestObject& object, const char* actionName, const char* filter, bool report) {
    Log& log = engineLog();
    const char* action = actionName ? actionName : "";
    std::size_t first = 0;
    std::size_t last = object.names.size();
    if (filter) {
        const std::int32_t at = object.findName(filter);
        if (at < 0) return false;
        first = static_cast<std::size_t>(at);
        last = first + 1;
    }
    bool result = true;
    for (std::size_t n = first; n < last; ++n) {
        const char* name = object.names[n].text;
        const ObjectState* state = this->state.getObject(quest.name, name);
        char key[256];
        std::snprintf(key, sizeof(key), "%s=%s", action, state ? state->mode : "");
        std::int32_t found = object.findAction(key);
        if (found < 0) found = object.findAction(action);
        if (found < 0) {
            if (!report) continue;
            const int count = static_cast<int>(object.names.size());
            if (filter) {
                log.questError("ERROR: Unknown quest action [%s] for object [%s]. Possible actions is:", action, name);
            } else {
                log.questError("ERROR: Unknown quest action [%s] for objects:", action);
                for (int i = 0; i < count; ++i) log.questError("%i/%i)\t\t%30s", i, count, object.names[i].text);
                log.questError("Possible actions is:");
            }
            const int actions = static_cast<int>(object.actions.size());
            for (int i = 0; i < actions; ++i) log.questError("%i/%i)\t\t%30s", i, actions, object.actions[i].name);
            result = false;
            continue;
        }
        const QuestAction& chosen = object.actions[static_cast<std::size_t>(found)];
        if (tracing())
            log.questInfo("----------------------------- OBJECT [%s] ---------Call action [%s]", name, chosen.name);
        runAction(chosen, name);
    }
    return result;
}

bool QuestLogic::actionOnObjects(const char* actionName, const char* filter, bool report) {
    bool result = false;
    ++actionDepth;
    for (std::size_t i = quest.objects.size(); i-- > 0;) {
        if (!doAction(quest.objects[i], actionName, filter, report)) continue;
        result = true;
        if (filter) break;
    }
    --actionDepth;
    if (!result)
        engineLog().questError("Q: Error:  Unknown object [%s] in quest [%s].", filter ? filter : "", quest.name);
    return result;
}

bool QuestLogic::fireEvent(const char* eventName) {
    const char* name = eventName ? eventName : "";
    if (tracing()) engineLog().questInfo("Call quest event [%s]", name);
    const QuestEvent* event = quest.findEvent(name);
    if (!event) return engineLog().questError("Q: Error: Unknown event [%s] in quest [%s].", name, quest.name);
    pushEvent(*event);
    return true;
}

void QuestLogic::applyObjectState(const ObjectState& state, std::int32_t kind) {
    if (kind != 2) return;
    if (std::strncmp(state.name, "action.", 7) == 0) return;
    char model[128];
    copyName128(model, state.name);
    const char* item = nullptr;
    if (char* colon = static_cast<char*>(std::memchr(model, ':', strnlen(model, sizeof(model))));
        colon && colon != model) {
        *colon = 0;
        item = colon + 1;
    }
    // Quest objects need not be models of the scene: no model, nothing to switch.
    const GameObjectLink link{gameCore.objects ? gameCore.scene_findObject(model, false) : 0};
    if (!link.index()) return;
    GameObject* object = gameCore.objects->access(link);
    if (!object || object->getType() != ObjectModel) return;
    Model& target = *static_cast<Model*>(object);
    target.syncActionItems();
    const bool enabled = state.action >= 0;
    auto apply = [enabled](ModelActionItem& i) {
        if (enabled)
            i.flags |= kModelActionEnabled;
        else
            i.flags &= ~kModelActionEnabled;
    };
    const std::int32_t index = item ? target.actionIndex(item) : -1;
    if (index >= 0) {
        apply(target.actionItems[static_cast<std::size_t>(index)]);
        return;
    }
    for (ModelActionItem& i : target.actionItems) apply(i);
}
