// Fuzz target of the sound decoder: the input is an ".ogg" resource of a
// package; it is opened as an Effect sound, given a buffer of the null
// output and decoded whole (a streamed one through a bounded number of
// refills as the sound thread would make them).
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "fuzz/FuzzTarget.h"
#include "package/PackageWriter.h"
#include "platform/sound/DirectSound.h"
#include "resources/PackageDatabase.h"
#include "sound/BankSound.h"
#include "sound/OggWriter.h"
#include "sound/SoundBuffer.h"
#include "sound/SoundCore.h"

namespace fuzzing {

namespace {

class SoundRoot {
public:
    SoundRoot() {
        root_ = makeTempFolder("engine-fuzz-sound");
        if (root_.empty()) return;
        writeFile(root_ + "/data.txt", "[fuzz.pak]\n.* >> data\n");
        paths_.setPath(PathLanguage, "en");
        paths_.setPath(PathDataRootInput, root_);
    }
    ~SoundRoot() {
        std::error_code error;
        if (!root_.empty()) std::filesystem::remove_all(root_, error);
    }
    SoundRoot(const SoundRoot&) = delete;
    SoundRoot& operator=(const SoundRoot&) = delete;

    void play(const std::string& ogg) {
        if (root_.empty()) return;
        package_tool::Manifest manifest;
        package_tool::Section sounds{".ogg", "effect", "Sounds", "", {}};
        package_tool::StoredFile file;
        file.name = "fuzz";
        file.bytes = ogg;
        file.packed = false;
        sounds.files.push_back(file);
        manifest.sections = {sounds};
        std::string bytes;
        if (!package_tool::buildPackage(manifest, bytes)) return;
        writeFile(root_ + "/fuzz.pak", bytes);

        AppPaths* savedPaths = gameCore.paths;
        PackageDatabase* savedPackages = gameCore.packages;
        SoundCore* savedSound = gameCore.sound;
        PackageDatabase database;
        gameCore.paths = &paths_;
        gameCore.packages = &database;
        platform::dsound::Environment environment;
        environment.output = platform::dsound::OutputKind::Null;
        platform::dsound::setEnvironment(environment);
        {
            SoundCore core;
            gameCore.sound = &core;
            if (database.build() && core.initDevice(DSSCL_EXCLUSIVE) && core.SetPrimaryBufferFormat(2, 44100, 16))
                decode();
            core.releaseAll();
        }
        platform::dsound::setEnvironment(platform::dsound::Environment());
        gameCore.sound = savedSound;
        gameCore.packages = savedPackages;
        gameCore.paths = savedPaths;
    }

private:
    static void decode() {
        BankSound sound("fuzz", SoundChannelEffect, "fuzz");
        if (!sound.open()) return;
        {
            SoundInstance instance(&sound, true);
            if (instance.allocate()) {
                SoundBuffer& buffer = *instance.buffer;
                fuzzCheck(buffer.written.size <= sound.source.decodedSize(), "ogg: a buffer longer than the sound");
                buffer.play(false);
                for (int tick = 0; tick < 400 && buffer.playing(); ++tick) {
                    platform::dsound::advance(gameCore.sound->device(), 50);
                    instance.tick();
                    fuzzCheck(sound.source.temporaryCapacity() <= static_cast<std::int32_t>(buffer.written.size),
                              "ogg: the decode buffer grew past the buffer");
                }
                fuzzCheck(sound.source.temporaryCapacity() <= static_cast<std::int32_t>(buffer.written.size),
                          "ogg: the decode buffer grew past the buffer");
            }
        }
        sound.source.release();
    }

    std::string root_;
    AppPaths paths_;
};

}  // namespace

int fuzzOgg(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > (1u << 20)) return 0;
    static SoundRoot root;
    root.play(std::string(reinterpret_cast<const char*>(data), size));
    forgetLog();
    return 0;
}

void seedOgg(std::vector<std::string>& out) {
    std::string error;
    const char* descriptions[] = {
        "rate 22050\nchannels 1\nlength 0.3\ntone 880 0.5\nenvelope 0.05 0.1\n",
        "rate 44100\nchannels 2\nlength 2.0\nchord 0.2 0 2 262 330 392\nnoise 0.1 1.0 1.2\nsilence 1.5 1.7\n",
        "rate 48000\nchannels 1\nlength 0.5\nnoise 0.3\n",
    };
    for (const char* description : descriptions) {
        const std::string bytes = oggwrite::write(description, error);
        fuzzCheck(!bytes.empty(), "ogg: a seed description");
        out.push_back(bytes);
    }
    // Cut short, and one bit flipped in the middle.
    out.push_back(out[1].substr(0, out[1].size() / 2));
    std::string flipped = out[1];
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x10);
    out.push_back(flipped);
}

}  // namespace fuzzing
