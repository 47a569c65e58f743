// A game core with the members the player's setup works with: paths whose
// user folder is a temporary folder, a settings store, and the video, sound
// and input cores, all restored when the fixture ends.
#pragma once

#include <string>

#include "app/GameCore.h"
#include "app/GameSetup.h"
#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "input/InputCore.h"
#include "platform/FileSystem.h"
#include "render/VideoCore.h"
#include "sound/SoundCore.h"
#include "support/TestSupport.h"

namespace testing_support {

class SetupFixture {
public:
    SetupFixture() {
        core.paths().setPath(PathAppData, user.path());
        video.desktopWidth = 1600;
        video.desktopHeight = 900;
    }
    SetupFixture(const SetupFixture&) = delete;
    SetupFixture& operator=(const SetupFixture&) = delete;

    std::string setupFile() const { return platform::hostPath(gameCore.paths->get(PathSetupIni)); }
    // The value of a key of the written setup file, read back by a fresh store.
    std::string fileValue(const char* section, const char* key) const {
        IniFile file;
        readIniFile(file, gameCore.paths->get(PathSetupIni), false);
        const IniCategory* category = file.findCategory(section);
        const IniVariable* variable = category ? category->findVariable(key) : nullptr;
        return variable ? variable->value() : "<missing>";
    }
    bool logged(const std::string& text) const { return gameCore.log->contains(text); }

    ScopedGameCore core{true};
    TempDir user;
    IniFile settings;
    VideoCore video;
    SoundCore sound;
    InputCore input;
    GameSetup setup;

private:
    // Installed after the members they point at, so they go back first.
    ScopedCoreMember<IniFile> useSettings_{gameCore.settings, &settings};
    ScopedCoreMember<VideoCore> useVideo_{gameCore.video, &video};
    ScopedCoreMember<SoundCore> useSound_{gameCore.sound, &sound};
    ScopedCoreMember<InputCore> useInput_{gameCore.input, &input};
    ScopedCoreMember<GameSetup> useSetup_{gameCore.setup, &setup};
};

}  // namespace testing_support
