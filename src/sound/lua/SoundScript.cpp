#include "sound/lua/SoundScript.h"

#include <memory>
#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>
#include <luabind/std_shared_ptr_converter.hpp>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "sound/Sound.h"
#include "sound/SoundBank.h"
#include "sound/SoundCore.h"

namespace {

// The script class "SoundManager"; one instance is the global
// "soundManager".
struct ScriptSoundManager {};

constexpr int kMasterChannel = 6;

bool validChannel(int channel) {
    if (channel >= 0 && channel < kSoundChannelCount) return true;
    return engineLog().error("Use valid sound channel");
}

// Channels and the master volume.
bool validVolumeChannel(int channel) { return channel == kMasterChannel || validChannel(channel); }

SoundChannelVolume* volumeOf(int channel) {
    SoundCore* core = gameCore.sound;
    if (!core) return nullptr;
    return channel == kMasterChannel ? &core->volumes.master : &core->volumes.channels[channel];
}

using Handle = std::shared_ptr<SoundScript>;

Handle handleOf(GameObject* object) {
    Sound* sound = dynamic_cast<Sound*>(object);
    return sound ? sound->scriptHandle() : nullptr;
}

// The sound of a handle; a handle whose sound was deleted is refused.
Sound* ownerOf(const SoundScript& handle) {
    if (!handle.owner) engineLog().scriptError("Can't use sound: the sound object is deleted");
    return handle.owner;
}

const char* managerClassof(const ScriptSoundManager&) { return "SoundManager"; }

bool test(const ScriptSoundManager&, int channel, const char* name) {
    return validChannel(channel) && gameCore.scene_findSound(channel, name) != nullptr;
}

Handle get(const ScriptSoundManager&, int channel, const char* name) {
    if (!validChannel(channel)) return nullptr;
    Handle handle = handleOf(gameCore.scene_findSound(channel, name));
    if (!handle) engineLog().error("Can't get sound with name [%s]: Not Found", name ? name : "");
    return handle;
}

Handle create(const ScriptSoundManager&, int channel, const char* name, const char* alias) {
    if (!validChannel(channel)) return nullptr;
    if (!name || !name[0]) {
        engineLog().scriptError("Can't create sound on channel [%s]: sound object name is EMPTY!!!",
                                soundChannelListName(channel));
        return nullptr;
    }
    if (!alias || !alias[0]) {
        engineLog().scriptError("Can't create sound [%s] on channel [%s]: ogg resource name is EMPTY!!!", name,
                                soundChannelListName(channel));
        return nullptr;
    }
    return handleOf(gameCore.scene_createSound(channel, name, alias));
}

bool deleteSound(const ScriptSoundManager&, int channel, const char* name) {
    return validChannel(channel) && gameCore.scene_deleteSound(channel, name);
}

bool gTest(const ScriptSoundManager&, int channel, const char* name) {
    return validChannel(channel) && gameCore.sound && gameCore.sound->findGlobalSound(channel, name) >= 0;
}

Handle gGet(const ScriptSoundManager&, int channel, const char* name) {
    if (!validChannel(channel)) return nullptr;
    SoundCore* core = gameCore.sound;
    const std::int32_t index = core ? core->findGlobalSound(channel, name) : -1;
    Sound* sound = index >= 0 ? core->globalSounds(channel)[static_cast<std::size_t>(index)] : nullptr;
    if (!sound) {
        engineLog().error("Can't get sound with name [%s]: Not Found", name ? name : "");
        return nullptr;
    }
    return sound->scriptHandle();
}

Handle gCreate(const ScriptSoundManager&, int channel, const char* name, const char* alias) {
    SoundCore* core = gameCore.sound;
    if (!validChannel(channel) || !core) return nullptr;
    EngineLock hold(*core);
    Sound* sound = core->createGlobalSound(name, channel, alias, 0);
    return sound ? sound->scriptHandle() : nullptr;
}

bool gDelete(const ScriptSoundManager&, int channel, const char* name) {
    SoundCore* core = gameCore.sound;
    if (!validChannel(channel) || !core) return false;
    EngineLock hold(*core);
    return core->deleteGlobalSounds(channel, name, true);
}

// Plays once; the sound deletes itself when it has ended.
Handle gPlay(const ScriptSoundManager&, int channel, const char* name, const char* alias) {
    SoundCore* core = gameCore.sound;
    if (!validChannel(channel) || !core) return nullptr;
    EngineLock hold(*core);
    Sound* sound = core->createGlobalSound(name, channel, alias, 0);
    if (!sound) return nullptr;
    sound->play(true, true);
    return sound->scriptHandle();
}

void setVolume(const ScriptSoundManager&, int channel, float value) {
    if (!validVolumeChannel(channel)) return;
    SoundChannelVolume* volume = volumeOf(channel);
    if (!volume) return;
    if (!(value >= 0.0f && value <= 100.0f)) {
        const float held = value > 100.0f ? 100.0f : 0.0f;
        engineLog().warning("Sound volume %s of channel [%s] is out of range 0..100: set to %s",
                            std::to_string(value).c_str(), soundChannelListName(channel), std::to_string(held).c_str());
        value = held;
    }
    {
        EngineLock hold(*gameCore.sound);
        volume->script = value * 0.01f;
    }
    gameCore.sound->refreshMuteAll(false);
}

float getVolume(const ScriptSoundManager&, int channel) {
    if (!validVolumeChannel(channel)) return 0.0f;
    const SoundChannelVolume* volume = volumeOf(channel);
    return volume ? volume->script * 100.0f : 0.0f;
}

const char* soundClassof(const SoundScript&) { return "Sound"; }

bool setEvent(SoundScript& handle, int event, const char* function) {
    Sound* sound = ownerOf(handle);
    return sound && handle.events.set(event, function, "class SoundScript", sound->getName());
}

std::string getEvent(const SoundScript& handle, int event) {
    Sound* sound = ownerOf(handle);
    if (!sound) return "";
    if (event < 0 || event >= S_EVENT_COUNT) {
        engineLog().scriptError("Can't get event %s::[%s].%i: invalid event", "class SoundScript", sound->getName(),
                                event);
        return "";
    }
    return handle.events.get(event);
}

bool play(SoundScript& handle) {
    Sound* sound = ownerOf(handle);
    GameSoundLock hold;
    return sound && sound->play(false, false);
}

bool stop(SoundScript& handle) {
    Sound* sound = ownerOf(handle);
    GameSoundLock hold;
    return sound && sound->stop(false);
}

bool volume(SoundScript& handle, float value) {
    Sound* sound = ownerOf(handle);
    return sound && sound->setVolume(value);
}
bool freq(SoundScript&, float) { return false; }
double duration(SoundScript& handle) {
    Sound* sound = ownerOf(handle);
    return sound ? sound->getDuration() : 0.0;
}
std::string name(const SoundScript& handle) {
    Sound* sound = ownerOf(handle);
    return sound ? sound->getName() : "";
}

}  // namespace

void registerSoundClasses(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)[(class_<ScriptSoundManager>("SoundManager")
                       .def("classof", &managerClassof)
                       .def("test", &test)
                       .def("get", &get)
                       .def("create", &create)
                       .def("delete", &deleteSound)
                       .def("gTest", &gTest)
                       .def("gGet", &gGet)
                       .def("gCreate", &gCreate)
                       .def("gDelete", &gDelete)
                       .def("gPlay", &gPlay)
                       .def("set_volume", &setVolume)
                       .def("get_volume", &getVolume)
                       .enum_("SOUND_CHANNEL")[(value("Effect", 0), value("Voice", 1), value("Ambient", 2),
                                                value("AmbientLoop", 3), value("Music", 4), value("Master", 6))]),
                  (class_<SoundScript, Handle>("Sound")
                       .def("classof", &soundClassof)
                       .def("setEvent", &setEvent)
                       .def("getEvent", &getEvent)
                       .def("play", &play)
                       .def("stop", &stop)
                       .def("volume", &volume)
                       .def("freq", &freq)
                       .def("duration", &duration)
                       .def("name", &name)
                       .def_readonly("blend", &SoundScript::blend))];
    globals(state)["soundManager"] = ScriptSoundManager{};
}
