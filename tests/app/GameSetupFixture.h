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
        gameCore.settings = &settings;
        gameCore.video = &video;
        gameCore.sound = &sound;
        gameCore.input = &input;
        gameCore.setup = &setup;
        video.desktopWidth = 1600;
        video.desktopHeight = 900;
    }
    ~SetupFixture() {
        gameCore.settings = saved_.settings;
        gameCore.video = saved_.video;
        gameCore.sound = saved_.sound;
        gameCore.input = saved_.input;
        gameCore.setup = saved_.setup;
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

private:
    struct Saved {
        IniFile* settings;
        VideoCore* video;
        SoundCore* sound;
        InputCore* input;
        GameSetup* setup;
    };
    // Taken before any member below replaces them.
    Saved saved_{gameCore.settings, gameCore.video, gameCore.sound, gameCore.input, gameCore.setup};

public:
    ScopedGameCore core{true};
    TempDir user;
    IniFile settings;
    VideoCore video;
    SoundCore sound;
    InputCore input;
    GameSetup setup;
};

}  // namespace testing_support
