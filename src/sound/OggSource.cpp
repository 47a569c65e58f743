#include "sound/OggSource.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "resources/FilePackageDBData.h"
#include "resources/PackageDatabase.h"
#include "sound/BankSound.h"
#include "sound/SoundBuffer.h"
#include "sound/SoundCore.h"

namespace {

// Relinks tried on a broken link before the stream counts as invalid.
constexpr int kMaxRelinks = 5;
// Streams longer than this are taken as damaged.
constexpr double kMaxSeconds = 6.0 * 3600.0;

bool openedOrReport(OggSource& source) {
    if (source.isOpen()) return true;
    engineLog().error("Can't read OGG sound data [%s]: open first", source.name());
    return false;
}

size_t readCallback(void* ptr, size_t size, size_t count, void* data) {
    auto& source = *static_cast<OggSource*>(data);
    if (!openedOrReport(source)) return 0;
    MemoryStream& stream = source.stream();
    const std::int64_t left = static_cast<std::int64_t>(stream.size()) - stream.tell();
    if (left <= 0 || size == 0) return 0;
    const std::int64_t want = std::min<std::int64_t>(left, static_cast<std::int64_t>(std::min<size_t>(count, 1u << 30)) *
                                                               static_cast<std::int64_t>(size));
    const std::int32_t got = stream.read(ptr, static_cast<std::int32_t>(want));
    return got > 0 ? static_cast<size_t>(got) : 0;
}

int seekCallback(void* data, ogg_int64_t offset, int whence) {
    auto& source = *static_cast<OggSource*>(data);
    if (!openedOrReport(source)) return -1;
    MemoryStream& stream = source.stream();
    std::int64_t base = 0;
    if (whence == SEEK_CUR) base = stream.tell();
    else if (whence == SEEK_END) base = stream.size();
    else if (whence != SEEK_SET) return -1;
    const std::int64_t target = base + offset;
    if (target < 0 || target > stream.size()) return -1;
    stream.setPosition(static_cast<std::int32_t>(target));
    return 0;
}

int closeCallback(void*) { return 1; }

long tellCallback(void* data) {
    auto& source = *static_cast<OggSource*>(data);
    if (!openedOrReport(source)) return 0;
    return source.stream().tell();
}

const ov_callbacks kCallbacks = {readCallback, seekCallback, closeCallback, tellCallback};

// The quality row the output format follows: the game's setup, or the
// setup's default without a sound core.
const SoundQuality& outputQuality() {
    return soundQuality(gameCore.sound ? gameCore.sound->setup.quality : SoundSetup{}.quality);
}

}  // namespace

const char* oggErrorText(int code) {
    switch (code) {
    case OV_EREAD: return "OV_EREAD:A read from media returned an error.";
    case OV_EFAULT: return "OV_EFAULT:Internal logic fault; indicates a bug or heap/stack corruption.";
    case OV_ENOTVORBIS: return "OV_ENOTVORBIS:Bitstream does not contain any Vorbis data.";
    case OV_EBADHEADER: return "OV_EBADHEADER:Invalid Vorbis bitstream header.";
    case OV_EVERSION: return "OV_EVERSION:Vorbis version mismatch";
    default: return "Unknown OGG Error";
    }
}

OggSource::OggSource(BankSound* owner) : owner_(owner) { std::memset(&file_, 0xFD, sizeof file_); }

OggSource::~OggSource() {
    if (isOpen()) {
        engineLog().error("Expected release call for OGG sound data [%s]", name());
        release();
    }
    stream_.release();
    temporary_.release();
}

const char* OggSource::name() const { return owner_ ? owner_->name() : ""; }

void OggSource::unmap() {
    stream_.release();
    if (map_) {
        if (FilePackageDBData* data = packageData()) data->closeMap(resourceId_);
        map_ = nullptr;
    }
    resourceId_ = 0;
}

bool OggSource::mapResource() {
    stream_.release();
    temporary_.release();
    unmap();
    const char* source = soundChannelSource(owner_ ? owner_->channel() : -1);
    FilePackageDBData* data = packageData();
    const std::uint32_t id = data ? data->find(".ogg", name(), source) : 0;
    if (id == 0) return engineLog().error("Missed sound [%s.%s] from channel %s", name(), "ogg", source);
    std::uint32_t size = 0;
    DataFileMap* map = data->openMap(id, &size);
    if (!map || !map->data || map->size > static_cast<std::uint32_t>(INT32_MAX))
        return engineLog().error("Can't open map to OGG sound [%s.%s] from channel %s", name(), "ogg", source);
    resourceId_ = id;
    map_ = map->data;
    stream_.setFixed(const_cast<std::uint8_t*>(map->data), static_cast<std::int32_t>(map->size));
    stream_.setPosition(0);
    return true;
}

bool OggSource::open(bool monoRequired) {
    Log& log = engineLog();
    if (isOpen()) return log.error("OGG Sound data [%s] already initialized", name());
    if (!mapResource()) return log.error("Can't load OGG [%s]", name());
    stream_.setPosition(0);
    std::memset(&file_, 0xFD, sizeof file_);
    // On failure the decoder frees what it set up itself.
    if (const int result = ov_open_callbacks(this, &file_, nullptr, 0, kCallbacks); result < 0) {
        log.error("Can't open VORBIS OGG data [%s]: %s", name(), oggErrorText(result));
        unmap();
        return log.error("Can't open OGG Sound data [%s]", name());
    }
    length_ = ov_time_total(&file_, -1);
    monoRequired_ = monoRequired ? 1 : 0;
    format_ = WAVEFORMATEX{};
    decodedSize_ = 0;
    rateDivisor_ = 0;
    // The format is read at every open, silent or not: a source opened while
    // nothing can play (a duration asked at master volume 0) stays open for
    // the plays that come once the volume is up, and they size their buffers
    // by it.

    const vorbis_info* info = ov_info(&file_, -1);
    const int channels = info ? info->channels : 0;
    const long rate = info ? info->rate : 0;
    if (channels > 1 && monoRequired) {
        release();
        return log.error("Cannot play multichannel with OGG 3D fx data [%s]: ", name());
    }
    const SoundQuality& quality = outputQuality();
    const std::int64_t blockAlign = static_cast<std::int64_t>(channels) * quality.bits / 8;
    const ogg_int64_t frames = ov_pcm_total(&file_, -1);
    const std::int64_t bytes = frames > 0 ? frames * blockAlign : 0;
    // A stream the buffers cannot carry, or one whose header claims an
    // absurd length, fails here: it never gets a buffer.
    if (channels < 1 || channels > 2 || rate < static_cast<long>(kMinBufferRate) ||
        rate > static_cast<long>(kMaxBufferRate) || frames <= 0 || !(length_ > 0.0 && length_ <= kMaxSeconds) ||
        bytes > static_cast<std::int64_t>(UINT32_MAX)) {
        log.error("Can't open VORBIS OGG data [%s]: %s (%i channels, %li Hz, %lld samples)", name(),
                  "unplayable stream", channels, rate, static_cast<long long>(frames));
        release();
        return log.error("Can't open OGG Sound data [%s]", name());
    }
    // The stream keeps its own rate: the mixer resamples it to the output.
    format_.wFormatTag = WAVE_FORMAT_PCM;
    format_.nChannels = static_cast<WORD>(channels);
    format_.nSamplesPerSec = static_cast<DWORD>(rate);
    format_.wBitsPerSample = static_cast<WORD>(quality.bits);
    format_.nBlockAlign = static_cast<WORD>(blockAlign);
    format_.nAvgBytesPerSec = static_cast<DWORD>(blockAlign * rate);
    format_.cbSize = 0;
    if (rate > quality.frequency) rateDivisor_ = static_cast<std::uint32_t>(rate / quality.frequency);
    decodedSize_ = static_cast<std::uint32_t>(bytes);
    return true;
}

bool OggSource::release() {
    if (!isOpen()) return engineLog().error("Can't release not-initialized OGG data [%s]", name());
    bool result = true;
    if (ov_clear(&file_) != 0) result = engineLog().error("Fail to call ov_clear for OGG soud data [%s]", name());
    std::memset(&file_, 0xFD, sizeof file_);
    temporary_.release();
    unmap();
    return result;
}

bool OggSource::relink() {
    const bool mono = monoRequired_ != 0;
    if (!release() || !open(mono)) return engineLog().error("Can't relink sound [%s] source", name());
    return true;
}

bool OggSource::decodeInto(SoundBuffer& buffer) {
    if (!isOpen()) return engineLog().error("Can't decode OGG [%s] data: Sound buffer not allocated", name());
    if (!gameCore.sound) return false;
    EngineLock guard(*gameCore.sound);
    if (!buffer.writeRegion()) return false;
    return decode(buffer, buffer.regionOffset, buffer.regionLength);
}

namespace {

// The decoder's position and a buffer's start time compared in samples:
// times are carried in seconds, and a seek by time that truncated would
// drop a sample at every hand-over between instances.
ogg_int64_t sampleAt(double seconds, long rate) { return static_cast<ogg_int64_t>(std::llround(seconds * rate)); }

}  // namespace

bool OggSource::decode(SoundBuffer& buffer, std::uint32_t offset, std::uint32_t length) {
    Log& log = engineLog();
    if (!isOpen()) return log.error("OGG Sound data [%s] not allocate", name());
    if (length == 0) return true;
    // Never more than the buffer holds, whatever the region says.
    if (buffer.written.size > 0) length = std::min(length, buffer.written.size);
    if (temporary_.capacity() < static_cast<std::int64_t>(length)) {
        temporary_.release();
        if (!temporary_.allocateExact(static_cast<std::int32_t>(length)))
            return log.error("Cannot allocate temporary sound buffer");
    }
    // Held aside while decoding: a relink empties the source's streams.
    MemoryStream work;
    work.swap(temporary_);
    struct GiveBack {
        MemoryStream& work;
        MemoryStream& temporary;
        ~GiveBack() { temporary.swap(work); }
    } giveBack{work, temporary_};
    std::uint8_t* out = work.data();
    const vorbis_info* info = ov_info(&file_, -1);
    const long rate = info && info->rate > 0 ? info->rate : 1;
    auto seekToStart = [&] {
        const ogg_int64_t target = sampleAt(buffer.startTime, rate);
        return ov_pcm_tell(&file_) == target || ov_pcm_seek(&file_, target) == 0;
    };
    seekToStart();

    std::uint32_t done = 0;
    int relinks = 0;
    bool rewound = false;
    while (done < length) {
        int bitstream = 0;
        const long n = ov_read(&file_, reinterpret_cast<char*>(out + done), static_cast<int>(length - done), 0, 2, 1,
                               &bitstream);
        if (n == OV_HOLE) {
            buffer.flags |= SoundBuffer::kLost;
            return log.error("OGG Sound data interrupt for [%s]", name());
        }
        if (n == OV_EBADLINK) {
            if (++relinks > kMaxRelinks || !relink()) {
                buffer.flags |= SoundBuffer::kLost;
                return log.error("OGG Sound has INVALID STREAM for [%s]", name());
            }
            seekToStart();
            continue;
        }
        if (n < 0) {
            buffer.flags |= SoundBuffer::kLost;
            return log.error("OGG Sound data read error for [%s]: %li", name(), n);
        }
        if (n == 0) {
            // A looped sound goes on from its start; a stream that gives
            // nothing right after the rewind has nothing to loop.
            if ((buffer.flags & SoundBuffer::kLooped) && !rewound && ov_pcm_seek(&file_, 0) == 0) {
                rewound = true;
                continue;
            }
            const std::uint32_t rest = length - done;
            std::memset(out + done, format_.wBitsPerSample == 8 ? 0x80 : 0, rest);
            buffer.written.advance(rest);
            done = length;
            break;
        }
        rewound = false;
        const auto got = static_cast<std::uint32_t>(std::min<long>(n, static_cast<long>(length - done)));
        done += got;
        buffer.written.advance(got);
        buffer.decoded.advance(got);
    }
    buffer.startTime = ov_time_tell(&file_);
    return buffer.write(out, length, offset);
}
