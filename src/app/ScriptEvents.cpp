// Engine events queued for the script by the game core.
#include <string>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "script/ScriptCall.h"
#include "script/ScriptEngine.h"

bool GameCore::addScriptEvent(ScriptEventArgs& args, const char* tag) {
    const std::string text = args.callText();
    engineLog().message("%s: Add script event %s", tag ? tag : "", text.c_str());
    if (script && script->context) dispatchScriptEvent(*script->context, args);
    return true;
}
