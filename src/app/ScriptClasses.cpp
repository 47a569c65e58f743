#include "app/ScriptClasses.h"

#include <iterator>

#include "animation/lua/AnimationScripts.h"
#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "app/GameSetup.h"
#include "app/lua/WorldScript.h"
#include "control/lua/ControllerScript.h"
#include "effects/lua/EffectsScripts.h"
#include "game/lua/GameScripts.h"
#include "input/lua/InputScripts.h"
#include "model/lua/ObjectScript.h"
#include "scene/lua/TriggerScript.h"
#include "script/ScriptEngine.h"
#include "script/lua/BlenderScript.h"
#include "script/lua/ColorScript.h"
#include "script/lua/TimerScript.h"
#include "script/lua/VariableScript.h"
#include "sound/lua/SoundScript.h"
#include "ui/lua/UiScripts.h"

namespace {

// Every class and global exists before the first script loads; the order is
// fixed (later classes may refer to earlier ones).
const ScriptClassRegistration kScriptClasses[] = {
    {"World, Time", registerWorldAndTime},
    {"ScreenActions", registerScreenActionsClass},
    {"DialogDataManager", registerDialogDataManagerClass},
    {"Dialog", registerDialogClass},
    {"Particle", registerParticleClass},
    {"StillFrame, Image", registerStillFrameClass},
    {"UnicodeEdit", registerUnicodeEditClass},
    {"Frame", registerFrameClass},
    {"TimerCoreAPI, TimerAPI, Timer", registerTimerClasses},
    {"InputCore, InputButtonValue", registerInputCoreClass},
    {"InputSetup", registerInputSetupClass},
    {"InputCursor", registerInputCursorClass},
    {"InputButton", registerInputButtonClass},
    {"Game", &SaveGame::registerLua},
    {"GameSetup", &GameSetup::initialize},
    {"Quest", registerQuestClass},
    {"Variable", registerVariableClass},
    {"Object", registerObjectClass},
    {"Sprite", registerSpriteClass},
    {"Light", registerLightClass},
    {"Controller", registerControllerClass},
    {"Color", registerColorClass},
    {"SoundManager, Sound", registerSoundClasses},
    {"Blender", registerBlenderClass},
    {"Trigger", registerTriggerClass},
    {"Animations", registerAnimationsClass},
    {"Morph", registerMorphClass},
};

}  // namespace

const ScriptClassRegistration* scriptClassTable(std::size_t& count) {
    count = std::size(kScriptClasses);
    return kScriptClasses;
}

void installScriptClasses(ScriptEngine& engine) {
    std::size_t count = 0;
    const ScriptClassRegistration* table = scriptClassTable(count);
    engine.setClassRegistrations(table, count);
    // Queued events run as delayed calls: a scene may be loaded from them.
    engine.delayedCallFlags = gameCore.game ? &gameCore.game->flags : nullptr;
}
