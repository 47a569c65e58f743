#include "resources/MovieDataManager.h"

#include <cstring>

#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/SettingsReader.h"

namespace {

MovieSoundFade installedFade = nullptr;

}  // namespace

MovieBinkData::MovieBinkData(const char* name) : ResourceRecord(name, resourceDescriptor(ResourceKind::Movie)) {}

MovieBinkData::~MovieBinkData() { delete[] object_; }

std::int32_t MovieBinkData::readHeader(DataStream&) {
    delete[] object_;
    object_ = new char[kResourceNameLength + 1];
    std::memcpy(object_, name, sizeof(name));
    return 0;
}

void MovieBinkData::deleteObject() {
    delete[] object_;
    object_ = nullptr;
}

MovieInstance::MovieInstance(const char* instanceName) {
    if (instanceName) std::strncpy(name, instanceName, kResourceNameLength);
}

MovieInstance::~MovieInstance() { delete decoder; }

void MovieInstance::setResourcePushed(bool pushed) {
    if (pushed)
        flags |= kMoviePushed;
    else
        flags &= ~kMoviePushed;
}

MovieSettings& movieSettings() {
    static MovieSettings settings;
    return settings;
}

void readMovieSettings() {
    if (!gameCore.settings) return;
    IniCategory& section = gameCore.settings->getCategory("movie");
    MovieSettings& settings = movieSettings();
    readSetting(section, "sound_fadein_time", settings.soundFadeInTime, 1.0f);
    readSetting(section, "sound_sync_time_epsilon", settings.soundSyncTimeEpsilon, 5.0f);
}

void setMovieSoundFade(MovieSoundFade fade) { installedFade = fade; }

bool stopMovieInstance(MovieInstance* instance) {
    if (!instance) return true;
    if (instance->sound) {
        if (installedFade) installedFade(instance->sound, movieSettings().soundFadeInTime);
        instance->sound = nullptr;
    }
    instance->flags &= ~kMoviePlaying;
    return true;
}

void destroyMovieInstance(MovieInstance* instance) {
    if (!instance) return;
    delete instance->decoder;
    instance->decoder = nullptr;
    if (instance->resourcePushed()) {
        engineLog().error("Pop movie object [%s] before destructor call", instance->name);
        ResourceManagerBase::pop(instance->movie, instance);
    }
}

bool removeMovieInstance(PointerArray<MovieInstance>& instances, MovieInstance* instance) {
    if (!instance) return false;
    Log& log = engineLog();
    const std::int32_t index = instances.indexOf(instance);
    if (index >= 0)
        instances.removeAt(static_cast<std::uint32_t>(index));
    else
        log.error("Can't find movie instance [%s]", instance->name);
    if (!ResourceManagerBase::pop(instance->movie, instance))
        log.error("Can't pop movie [%s] object in resource manager", instance->name);
    stopMovieInstance(instance);
    destroyMovieInstance(instance);
    delete instance;
    return true;
}
