// A game with sound on the null output over a package of generated sounds,
// shared by the sound tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "platform/sound/DirectSound.h"
#include "sound/OggWriter.h"
#include "sound/SoundCore.h"
#include "support/PackageFixture.h"
#include "support/TestSupport.h"

namespace sound_fixture {

namespace ds = platform::dsound;
using testing_support::FixtureFile;
using testing_support::FixturePackage;
using testing_support::TempDir;

inline std::string oggBytes(const std::string& description) {
    std::string error;
    std::string bytes = oggwrite::write(description, error);
    EXPECT_FALSE(bytes.empty()) << error;
    return bytes;
}

inline FixtureFile oggFile(const std::string& name, const std::string& source, const std::string& bytes) {
    FixtureFile file;
    file.mask = ".ogg";
    file.name = name;
    file.source = source;
    file.bytes = bytes;
    file.packed = false;
    return file;
}

// A game with sound on the null output and a package of sounds.
class SoundWorld {
public:
    explicit SoundWorld(std::vector<FixtureFile> files, ds::OutputKind output = ds::OutputKind::Null)
        : packages_(makeRoot(dir_, std::move(files))) {
        EXPECT_TRUE(packages_.build());
        ds::Environment environment;
        environment.output = output;
        ds::setEnvironment(environment);
        EXPECT_TRUE(core.initialize());
    }
    ~SoundWorld() {
        core.releaseAll();
        ds::setEnvironment(ds::Environment());
    }
    Log& log() { return packages_.log(); }
    void advance(std::uint32_t milliseconds) { ASSERT_TRUE(ds::advance(core.device(), milliseconds)); }

    SoundCore core;

private:
    static const std::string& makeRoot(TempDir& dir, std::vector<FixtureFile> files) {
        FixturePackage package;
        package.files = std::move(files);
        EXPECT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
        return dir.path();
    }
    TempDir dir_;
    testing_support::ScopedPackageDatabase packages_;
    testing_support::ScopedCoreMember<SoundCore> installed_{gameCore.sound, &core};
};

}  // namespace sound_fixture
