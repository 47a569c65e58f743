// Decoding a stereo 44,100 Hz sound of 60 s through OggSource into a
// streamed buffer of the null output, in the 50 ms fills the sound thread
// makes, against bare ov_read of the same bytes from memory into a flat
// array. The bytes both produce are checked equal before timing.
#include <benchmark/benchmark.h>
#include <vorbis/vorbisfile.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PairedRun.h"
#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/Log.h"
#include "package/PackageWriter.h"
#include "platform/sound/DirectSound.h"
#include "resources/PackageDatabase.h"
#include "sound/BankSound.h"
#include "sound/OggWriter.h"
#include "sound/SoundBuffer.h"
#include "sound/SoundCore.h"

namespace {

struct MemoryFile {
    const std::string* bytes;
    std::size_t position = 0;
};

size_t readMemory(void* ptr, size_t size, size_t count, void* data) {
    auto& file = *static_cast<MemoryFile*>(data);
    const std::size_t n = std::min(size * count, file.bytes->size() - file.position);
    std::memcpy(ptr, file.bytes->data() + file.position, n);
    file.position += n;
    return n;
}
int seekMemory(void* data, ogg_int64_t offset, int whence) {
    auto& file = *static_cast<MemoryFile*>(data);
    const ogg_int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? ogg_int64_t(file.position) : ogg_int64_t(file.bytes->size());
    if (base + offset < 0 || base + offset > ogg_int64_t(file.bytes->size())) return -1;
    file.position = std::size_t(base + offset);
    return 0;
}
long tellMemory(void* data) { return long(static_cast<MemoryFile*>(data)->position); }

class DecodeWorld {
public:
    DecodeWorld() {
        std::string error;
        ogg_ = oggwrite::write("length 60\nchannels 2\nrate 44100\nchord 0.2 0 60 220 277 330\nnoise 0.05\n", error);
        if (ogg_.empty()) std::abort();
        char pattern[] = "/tmp/engine-bench-sound-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        root_ = pattern;
        std::ofstream(root_ + "/data.txt") << "[sounds.pak]\n.* >> data\n";
        package_tool::Manifest manifest;
        package_tool::Section music{".ogg", "music", "Music", "", {}};
        package_tool::StoredFile file;
        file.name = "theme";
        file.bytes = ogg_;
        file.packed = false;
        music.files.push_back(file);
        manifest.sections = {music};
        std::string package;
        if (!package_tool::buildPackage(manifest, package)) std::abort();
        std::ofstream(root_ + "/sounds.pak", std::ios::binary) << package;
        gameCore.log = &log_;
        gameCore.paths = &paths_;
        paths_.setPath(PathLanguage, "en");
        paths_.setPath(PathDataRootInput, root_);
        gameCore.packages = &database_;
        gameCore.sound = &core_;
        platform::dsound::Environment environment;
        environment.output = platform::dsound::OutputKind::Null;
        platform::dsound::setEnvironment(environment);
        if (!database_.build() || !core_.initDevice(DSSCL_EXCLUSIVE) || !core_.SetPrimaryBufferFormat(2, 44100, 16))
            std::abort();
        bank_ = std::make_unique<BankSound>("theme", SoundChannelMusic, "theme");
        if (!bank_->open()) std::abort();
        instance_ = std::make_unique<SoundInstance>(bank_.get(), false);
        if (!instance_->allocate() || !instance_->buffer->streamed()) std::abort();
        flat_.resize(bank_->source.decodedSize());

        if (ov_open_callbacks(&memory_, &bare_, nullptr, 0, {readMemory, seekMemory, nullptr, tellMemory}) < 0)
            std::abort();
    }
    ~DecodeWorld() {
        ov_clear(&bare_);
        instance_.reset();
        bank_->source.release();
        bank_.reset();
        core_.releaseAll();
        gameCore.sound = nullptr;
        gameCore.packages = nullptr;
        gameCore.paths = nullptr;
        gameCore.log = nullptr;
        std::error_code error;
        std::filesystem::remove_all(root_, error);
    }

    // The sound thread's fills: 50 ms of sound each, from the start. With
    // out set, each fill's bytes are appended to it.
    void decodeStreamed(std::string* out = nullptr) {
        SoundBuffer& buffer = *instance_->buffer;
        buffer.startTime = 0.0;
        buffer.decoded = buffer.written = buffer.played = SoundStreamPosition{0, 0, buffer.written.size};
        const std::uint32_t fill = bank_->format().nAvgBytesPerSec / 20;
        const std::int64_t total = bank_->source.decodedSize();
        while (buffer.decoded.total() < total) {
            const std::uint32_t offset = buffer.written.position;
            const std::int64_t before = buffer.decoded.total();
            bank_->source.decode(buffer, offset, fill);
            if (out) {
                void *part1 = nullptr, *part2 = nullptr;
                DWORD bytes1 = 0, bytes2 = 0;
                buffer.device()->Lock(offset, fill, &part1, &bytes1, &part2, &bytes2, 0);
                std::string got(static_cast<const char*>(part1), bytes1);
                if (part2) got.append(static_cast<const char*>(part2), bytes2);
                buffer.device()->Unlock(part1, bytes1, part2, bytes2);
                out->append(got.substr(0, std::size_t(buffer.decoded.total() - before)));
            }
            if (buffer.decoded.total() == before) break;
        }
    }
    // Bare vorbisfile: the whole stream into a flat array.
    std::size_t decodeBare() {
        ov_pcm_seek(&bare_, 0);
        std::size_t done = 0;
        int bitstream = 0;
        for (long n; done < flat_.size() &&
                     (n = ov_read(&bare_, flat_.data() + done, int(std::min<std::size_t>(flat_.size() - done, 1 << 20)), 0, 2, 1,
                                  &bitstream)) > 0;)
            done += std::size_t(n);
        return done;
    }
    const std::vector<char>& flat() const { return flat_; }
    std::uint32_t bytes() const { return bank_->source.decodedSize(); }

private:
    std::string ogg_;
    std::string root_;
    Log log_;
    AppPaths paths_;
    PackageDatabase database_;
    SoundCore core_;
    std::unique_ptr<BankSound> bank_;
    std::unique_ptr<SoundInstance> instance_;
    MemoryFile memory_{&ogg_};
    OggVorbis_File bare_;
    std::vector<char> flat_;
};

void BM_DecodeStreamedMusic(benchmark::State& state) {
    bench_pairs::fixAllocator();
    DecodeWorld world;
    std::string streamed;
    world.decodeStreamed(&streamed);
    const std::size_t bare = world.decodeBare();
    if (bare != world.bytes() || streamed.size() != bare || std::memcmp(streamed.data(), world.flat().data(), bare) != 0) {
        state.SkipWithError("the streamed bytes differ from bare decoding");
        return;
    }
    bench_pairs::runPaired(
        state, [&] { world.decodeStreamed(); }, [&] { benchmark::DoNotOptimize(world.decodeBare()); }, 1.0);
    state.counters["seconds_of_sound"] = double(world.bytes()) / 176400.0;
}
BENCHMARK(BM_DecodeStreamedMusic)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(6);

}  // namespace

BENCHMARK_MAIN();
