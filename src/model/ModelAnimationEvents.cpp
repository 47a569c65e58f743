// The model's side of animation events: "code=argument" texts turned into
// particles, sounds, footsteps, sound releases and actions.
#include <cstdio>
#include <cstring>
#include <string>

#include "animation/AnimationInstance.h"
#include "app/GameCore.h"
#include "control/ModelController.h"
#include "effects/Particle.h"
#include "foundation/Log.h"
#include "model/Model.h"
#include "scene/ObjectRepository.h"
#include "script/ScriptCall.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"

namespace {

struct FootstepType {
    const char* type;
    const char* suffix;
    const char* bone;
};
constexpr FootstepType kFootsteps[] = {{"left", "l", "root"}, {"right", "r", "root"}, {"turn", "t", "root"}};

// A global script variable as text (at most 127 characters), or fallback.
std::string scriptText(const std::string& path, const char* fallback) {
    ScriptVariable* root = gameCore.variables ? gameCore.variables->globals().root() : nullptr;
    if (!root) {
        engineLog().error("\n\nCan't find script variable [%s.%s]", "globals", path.c_str());
        return fallback;
    }
    if (!ScriptVariable::test(root, path.c_str())) return fallback;
    ScriptVariable* found = ScriptVariable::resolvePath(root, path.c_str());
    if (!found) return fallback;
    std::string text = found->toString();
    if (text.size() > 127) text.resize(127);
    return text;
}

bool lodAllows(std::int32_t lod, bool lod1, bool lod2) { return !(lod == 1 && !lod1) && !(lod == 2 && !lod2); }

// One line for each effect an event has: the object, the animation that
// raised it (none for a controller's footstep), the kind and what it names.
void traceEvent(const char* object, const AnimationInstance* instance, const char* kind, const char* what) {
    engineLog().info("Object [%s] animation [%s] event %s [%s]", object, instance ? instance->name : "none", kind,
                     what);
}

}  // namespace

bool Model::onAnimationEvent(AnimationInstance* instance, Model* model, const char* text, const CurrentTime& time,
                             std::int32_t phase, bool) {
    Log& log = engineLog();
    if (!model) return false;
    char buffer[128] = {};
    copyName(buffer, sizeof(buffer), text ? text : "");
    const char* code = buffer;
    const char* argument = "";
    // An "=" at the very start splits nothing: the whole text is the code.
    if (char* split = std::strchr(buffer, '='); split && split != buffer) {
        *split = '\0';
        argument = split + 1;
    }
    const ModelSettings& settings = Model::settings();
    const std::int32_t lod = model->elements.empty() ? 0 : model->elements.front().lodIndex;
    const bool particle = std::strcmp(code, "particle") == 0;
    const bool sound = std::strcmp(code, "sound") == 0;
    const bool footstep = std::strcmp(code, "footstep") == 0;
    if (particle && phase == 0 && !lodAllows(lod, settings.enableLod1Particles, settings.enableLod2Particles))
        return false;
    if (sound && !lodAllows(lod, settings.enableLod1Sounds, settings.enableLod2Sounds)) return false;
    if (footstep && (!lodAllows(lod, settings.enableLod1Footsteps, settings.enableLod2Footsteps) ||
                     !(model->stateWords[0] & (kModelMainCharacter | kModelDrawnThisFrame))))
        return false;
    float position[3] = {model->worldMatrix.m[9], model->worldMatrix.m[10], model->worldMatrix.m[11]};
    const char* instanceName = model->getName();

    if (std::strcmp(code, "action") == 0) {
        if (phase == 0 && (!model->controller || !model->controller->onActionDone(argument))) {
            ScriptEventArgs args;
            args.append("callback_animation_enter");
            args.append(instanceName);
            args.append(argument);
            postScriptEventWithArgs(args, "Animation callback");
            args.release();
        }
        return true;
    }
    if (particle) {
        char particleName[128];
        std::snprintf(particleName, sizeof(particleName), "%s.%s", instanceName, argument);
        const std::uint32_t handle = gameCore.scene_findParticle(particleName, false);
        GameObject* object = handle && gameCore.objects ? gameCore.objects->getObject(GameObjectLink{handle}) : nullptr;
        if (!object || object->getType() != ObjectParticle) {
            log.error("Can't play object [%s] animation event: particle [%s] NOT found.", instanceName, particleName);
            return true;
        }
        Particle& found = *static_cast<Particle*>(object);
        traceEvent(instanceName, instance, phase == 0 ? "particle starts" : "particle pauses", particleName);
        if (phase == 0) {
            if (found.state & kParticlePaused) found.state &= ~kParticlePaused;
            found.resetLayers(time);
        } else if (!(found.state & kParticlePaused)) {
            found.state |= kParticlePaused;
        }
        return true;
    }
    if (std::strcmp(code, "release_sounds") == 0) {
        if (phase == 0 && instance) instance->stopEventSounds();
        return true;
    }
    if (sound) {
        if (phase == 0) {
            traceEvent(instanceName, instance, "sound", argument);
            if (instance) instance->playEventSound(argument, position);
            else gameCore.playSoundAt(argument, position, nullptr);
        }
        return true;
    }
    if (footstep) {
        if (phase != 0) return true;
        const FootstepType* type = nullptr;
        for (const FootstepType& candidate : kFootsteps)
            if (std::strcmp(candidate.type, argument) == 0) type = &candidate;
        if (!type) return log.error("Invalid animation footstep type [%s]", argument);
        const std::int32_t bone = model->findBone(type->bone);
        Matrix34 at;
        if (bone >= 0 && model->getBoneWorldMatrix(bone, at))
            for (int c = 0; c < 3; ++c) position[c] = at.m[9 + c];
        const std::string material =
            scriptText("sounds.footstep-repository.physics-material-remap.default", "default");
        const std::string category =
            scriptText(std::string("sounds.footstep-repository.object-category.") + instanceName, "male");
        char soundName[512];
        std::snprintf(soundName, sizeof(soundName), "fs_%s(%s)%s_##", material.c_str(), category.c_str(),
                      type->suffix);
        traceEvent(instanceName, instance, "footstep", soundName);
        gameCore.playSoundAt(soundName, position, nullptr);
        return true;
    }
    return log.error("Invalid animation event code [%s] with arg [%s]", code, argument);
}
