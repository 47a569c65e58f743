#include "sound/SoundBuffer.h"

#include <gtest/gtest.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "platform/sound/DirectSound.h"
#include "sound/BankSound.h"
#include "sound/OggSource.h"
#include "sound/OggWriter.h"
#include "sound/Sound.h"
#include "sound/SoundBank.h"
#include "sound/SoundCore.h"
#include "support/PackageFixture.h"
#include "support/TestSupport.h"
#include "sound/SoundFixture.h"

namespace {

using namespace sound_fixture;

namespace ds = platform::dsound;
using testing_support::FixtureFile;
using testing_support::FixturePackage;
using testing_support::TempDir;

// Plain vorbisfile decoding of a whole file from memory (16-bit, little-endian).
struct MemoryReader {
    const std::string* bytes;
    std::size_t position = 0;
};
std::string plainDecode(const std::string& bytes) {
    MemoryReader reader{&bytes};
    ov_callbacks callbacks{};
    callbacks.read_func = [](void* ptr, size_t size, size_t count, void* data) -> size_t {
        auto& r = *static_cast<MemoryReader*>(data);
        const std::size_t n = std::min(size * count, r.bytes->size() - r.position);
        std::memcpy(ptr, r.bytes->data() + r.position, n);
        r.position += n;
        return n;
    };
    callbacks.seek_func = [](void* data, ogg_int64_t offset, int whence) -> int {
        auto& r = *static_cast<MemoryReader*>(data);
        const ogg_int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? ogg_int64_t(r.position) : ogg_int64_t(r.bytes->size());
        r.position = static_cast<std::size_t>(base + offset);
        return 0;
    };
    callbacks.tell_func = [](void* data) -> long { return static_cast<long>(static_cast<MemoryReader*>(data)->position); };
    OggVorbis_File file;
    std::string out;
    if (ov_open_callbacks(&reader, &file, nullptr, 0, callbacks) < 0) return out;
    char chunk[4096];
    int bitstream = 0;
    for (long n; (n = ov_read(&file, chunk, sizeof chunk, 0, 2, 1, &bitstream)) > 0;) out.append(chunk, std::size_t(n));
    ov_clear(&file);
    return out;
}

// The bytes a buffer holds from offset.
std::string bufferBytes(SoundBuffer& buffer, std::uint32_t offset, std::uint32_t bytes) {
    void *part1 = nullptr, *part2 = nullptr;
    DWORD bytes1 = 0, bytes2 = 0;
    std::string out;
    if (FAILED(buffer.device()->Lock(offset, bytes, &part1, &bytes1, &part2, &bytes2, 0))) return out;
    out.append(static_cast<const char*>(part1), bytes1);
    if (part2) out.append(static_cast<const char*>(part2), bytes2);
    buffer.device()->Unlock(part1, bytes1, part2, bytes2);
    return out;
}

// A stream whose last page claims granule samples but yields none: the
// headers of a mono 8,000 Hz stream, its first sound packet (which only
// primes the decoder) and an empty closing packet.
std::string soundlessOgg(ogg_int64_t granule) {
    vorbis_info info;
    vorbis_info_init(&info);
    vorbis_encode_init_vbr(&info, 1, 8000, 0.4f);
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_dsp_state dsp;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block block;
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, 7);
    ogg_packet header, headerComment, headerCode;
    vorbis_analysis_headerout(&dsp, &comment, &header, &headerComment, &headerCode);
    ogg_stream_packetin(&stream, &header);
    ogg_stream_packetin(&stream, &headerComment);
    ogg_stream_packetin(&stream, &headerCode);
    std::string out;
    ogg_page page;
    auto flush = [&] {
        while (ogg_stream_flush(&stream, &page)) {
            out.append(reinterpret_cast<const char*>(page.header), std::size_t(page.header_len));
            out.append(reinterpret_cast<const char*>(page.body), std::size_t(page.body_len));
        }
    };
    flush();
    float** samples = vorbis_analysis_buffer(&dsp, 4096);
    for (int i = 0; i < 4096; ++i) samples[0][i] = 0.0f;
    vorbis_analysis_wrote(&dsp, 4096);
    vorbis_analysis_wrote(&dsp, 0);
    std::vector<unsigned char> first;
    ogg_packet packet;
    while (first.empty() && vorbis_analysis_blockout(&dsp, &block) == 1) {
        vorbis_analysis(&block, &packet);
        first.assign(packet.packet, packet.packet + packet.bytes);
    }
    ogg_packet priming{};
    priming.packet = first.data();
    priming.bytes = long(first.size());
    priming.granulepos = 0;
    priming.packetno = 3;
    ogg_stream_packetin(&stream, &priming);
    flush();
    unsigned char nothing = 0;
    ogg_packet last{};
    last.packet = &nothing;
    last.bytes = 0;
    last.e_o_s = 1;
    last.granulepos = granule;
    last.packetno = 4;
    ogg_stream_packetin(&stream, &last);
    flush();
    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return out;
}

const char* const kMono8k = "rate 8000\nchannels 1\n";

std::string monoTone(double seconds) {
    return oggBytes(std::string(kMono8k) + "length " + std::to_string(seconds) + "\ntone 300 0.4\nnoise 0.1\n");
}

}  // namespace

// A sound's volume reaches its buffer in hundredths of a decibel; a volume
// too low to hear gives the buffer back (the sound mutes).
TEST(SoundBuffer, ASoundsVolumeReachesItsBufferInHundredthsOfADecibel) {
    const struct {
        float volume;
        LONG expected;  // DSBVOLUME_MIN: muted, no buffer
    } cases[] = {{100.0f, 0}, {50.0f, -1000}, {25.0f, -2000}, {0.05f, DSBVOLUME_MIN}, {0.0f, DSBVOLUME_MIN}};
    SoundWorld world({oggFile("click", "effect", oggBytes("length 0.5\ntone 440 0.5\n"))});
    world.core.volumes.master.setup = 1.0f;
    for (SoundChannelVolume& channel : world.core.volumes.channels) channel.setup = 1.0f;
    BankSound* click = world.core.bank->acquire(SoundChannelEffect, "click", "direct");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.volume);
        std::unique_ptr<Sound> sound(world.core.bank->createSound(click, 0, "s", true, false));
        ASSERT_NE(sound, nullptr);
        ASSERT_TRUE(sound->play(false, false));
        ASSERT_TRUE(sound->setVolume(c.volume));
        if (c.expected == DSBVOLUME_MIN) {
            EXPECT_TRUE(sound->muted());
            EXPECT_EQ(sound->instance(), nullptr);
        } else {
            ASSERT_NE(sound->instance(), nullptr);
            LONG volume = 1;
            ASSERT_EQ(sound->instance()->buffer->device()->GetVolume(&volume), DS_OK);
            EXPECT_EQ(volume, c.expected);
            sound->stop(false);
        }
    }
}

TEST(SoundBuffer, ShortEffectIsWholeAndDuplicatesLongMusicStreamsAndDoesNot) {
    SoundWorld world({oggFile("click", "effect", oggBytes("length 0.5\ntone 440 0.5\n")),
                      oggFile("theme", "music", oggBytes("length 180\nquality -0.1\ntone 220 0.2\n"))});
    BankSound effect("click", SoundChannelEffect, "click");
    BankSound music("theme", SoundChannelMusic, "music_theme");
    ASSERT_TRUE(effect.open());
    ASSERT_TRUE(music.open());
    EXPECT_EQ(effect.format().nAvgBytesPerSec, 176400u);

    SoundInstance first(&effect, true);
    ASSERT_TRUE(first.allocate());
    EXPECT_EQ(first.buffer->written.size, 88200u);
    EXPECT_FALSE(first.buffer->streamed());
    EXPECT_EQ(world.core.allocatedBuffers[3], 1);  // whole 3D
    std::unique_ptr<SoundInstance> copy(SoundInstance::duplicate(first));
    ASSERT_NE(copy, nullptr);
    LONG volume = 0;
    copy->buffer->device()->GetVolume(&volume);
    EXPECT_EQ(volume, DSBVOLUME_MIN);
    EXPECT_EQ(world.core.allocatedBuffers[3], 2);

    SoundInstance song(&music, false);
    ASSERT_TRUE(song.allocate());
    EXPECT_EQ(song.buffer->written.size, 176400u);
    EXPECT_TRUE(song.buffer->streamed());
    EXPECT_EQ(world.core.allocatedBuffers[0], 1);  // streamed 2D
    ASSERT_TRUE(song.buffer->play(false));
    DWORD status = 0;
    song.buffer->device()->GetStatus(&status);
    EXPECT_TRUE(status & DSBSTATUS_LOOPING);
    EXPECT_EQ(world.core.playingBuffers[0], 1);
    EXPECT_EQ(SoundInstance::duplicate(song), nullptr);
    EXPECT_TRUE(world.log().contains("The sound buffer [theme] can't be duplicated"));
    EXPECT_TRUE(world.log().contains("Can't duplicate sound buffer [theme]"));
    ASSERT_TRUE(song.buffer->stop());
    EXPECT_EQ(world.core.playingBuffers[0], 0);
    copy.reset();
    EXPECT_EQ(world.core.allocatedBuffers[3], 1);
    effect.source.release();
    music.source.release();
}

TEST(SoundBuffer, PlayingTwiceIsRefusedAndChangesNothing) {
    SoundWorld world({oggFile("hum", "music", monoTone(3.0))});
    BankSound music("hum", SoundChannelMusic, "hum");
    ASSERT_TRUE(music.open());
    SoundInstance instance(&music, false);
    ASSERT_TRUE(instance.allocate());
    ASSERT_TRUE(instance.buffer->play(true));
    const SoundStreamPosition written = instance.buffer->written;
    const double start = instance.buffer->startTime;
    EXPECT_FALSE(instance.buffer->play(false));
    EXPECT_TRUE(world.log().contains("Can't play sound buffer [hum] twice"));
    EXPECT_EQ(instance.buffer->written.total(), written.total());
    EXPECT_EQ(instance.buffer->startTime, start);
    EXPECT_TRUE(instance.buffer->flags & SoundBuffer::kLooped);
    EXPECT_EQ(world.core.playingBuffers[0], 1);
    music.source.release();
}

TEST(SoundBuffer, WriteRegionFollowsTheCursors) {
    // Music, mono 16-bit at 8,000 Hz: a 16,000-byte ring, 16 bytes a millisecond.
    SoundWorld world({oggFile("hum", "music", monoTone(10.0))});
    BankSound music("hum", SoundChannelMusic, "hum");
    ASSERT_TRUE(music.open());
    SoundInstance instance(&music, false);
    ASSERT_TRUE(instance.allocate());
    SoundBuffer& buffer = *instance.buffer;
    const std::int64_t size = buffer.written.size;
    ASSERT_EQ(size, 16000);

    // Not playing: the whole ring from the write position.
    ASSERT_TRUE(buffer.writeRegion());
    EXPECT_EQ(buffer.regionOffset, 0u);
    EXPECT_EQ(buffer.regionLength, 16000u);

    ASSERT_TRUE(buffer.play(true));  // fills the ring: the writer is a whole ring ahead
    EXPECT_EQ(buffer.written.total(), size);

    // Less than 32 bytes free: nothing to write.
    world.advance(1);
    EXPECT_FALSE(buffer.writeRegion());

    // Play cursor before the write position (which wrapped to 0).
    world.advance(249);
    ASSERT_TRUE(buffer.writeRegion());
    EXPECT_EQ(buffer.regionOffset, 0u);
    EXPECT_EQ(buffer.regionLength, buffer.playCursor - 32);
    ASSERT_TRUE(music.source.decodeInto(buffer));
    const std::uint32_t writer = buffer.written.position;
    EXPECT_EQ(writer, buffer.playCursor - 32);

    // Play cursor after the write position.
    world.advance(100);
    ASSERT_TRUE(buffer.writeRegion());
    EXPECT_EQ(buffer.regionOffset, writer);
    EXPECT_EQ(buffer.regionLength, buffer.playCursor - writer - 32);
    ASSERT_TRUE(music.source.decodeInto(buffer));

    // The play cursor wraps: the region wraps with it.
    world.advance(700);
    ASSERT_TRUE(buffer.writeRegion());
    EXPECT_LT(buffer.playCursor, buffer.regionOffset);
    EXPECT_EQ(buffer.played.wraps, 16000u);
    EXPECT_EQ(buffer.regionLength, std::uint32_t(size - buffer.regionOffset + buffer.playCursor - 32));
    ASSERT_TRUE(music.source.decodeInto(buffer));

    // The player overtakes the writer (no refills for longer than a ring):
    // writing restarts at the device's write cursor.
    world.advance(600);
    ASSERT_TRUE(buffer.writeRegion());
    world.advance(600);
    ASSERT_TRUE(buffer.writeRegion());
    EXPECT_EQ(buffer.regionOffset, buffer.writeCursor);
    EXPECT_EQ(buffer.written.position, buffer.writeCursor);
    EXPECT_LE(buffer.regionLength, std::uint32_t(size - 32));
    EXPECT_EQ(std::int64_t(buffer.regionLength),
              size - (buffer.written.total() - buffer.played.total()) - 32);
    music.source.release();
}

TEST(SoundBuffer, LoopedStreamRewindsWithinTheFill) {
    // A 2.0 s Effect through its 1.5 s ring: 32,000 decoded bytes, 24,000 in the ring.
    const std::string bytes = monoTone(2.0);
    const std::string reference = plainDecode(bytes);
    ASSERT_EQ(reference.size(), 32000u);
    SoundWorld world({oggFile("loop", "effect", bytes)});
    BankSound effect("loop", SoundChannelEffect, "loop");
    ASSERT_TRUE(effect.open());
    SoundInstance instance(&effect, true);
    ASSERT_TRUE(instance.allocate());
    SoundBuffer& buffer = *instance.buffer;
    ASSERT_TRUE(buffer.streamed());
    ASSERT_EQ(buffer.written.size, 24000u);
    ASSERT_TRUE(buffer.play(true));
    EXPECT_EQ(bufferBytes(buffer, 0, 24000), reference.substr(0, 24000));

    world.advance(1000);
    instance.tick();
    const std::uint32_t filled = buffer.written.position;
    ASSERT_GT(filled, 8000u);
    const std::string twice = reference + reference;
    EXPECT_EQ(bufferBytes(buffer, 0, filled), twice.substr(24000, filled));
    EXPECT_TRUE(buffer.playing());
    // The decode buffer grew to the largest region, never past the ring.
    EXPECT_EQ(effect.source.temporaryCapacity(), 24000);
    effect.source.release();
}

TEST(SoundBuffer, UnloopedSoundEndsInSilenceAndStopsPastItsEnd) {
    // Music of 1.5 s, mono 8,000 Hz: 24,000 decoded bytes through a 16,000-byte ring.
    const std::string bytes = monoTone(1.5);
    const std::string reference = plainDecode(bytes);
    SoundWorld world({oggFile("once", "music", bytes)});
    BankSound music("once", SoundChannelMusic, "once");
    ASSERT_TRUE(music.open());
    SoundInstance instance(&music, false);
    ASSERT_TRUE(instance.allocate());
    SoundBuffer& buffer = *instance.buffer;
    ASSERT_TRUE(buffer.play(false));
    world.advance(500);
    instance.tick();
    world.advance(500);
    instance.tick();  // meets the end of the sound inside its region
    EXPECT_EQ(buffer.decoded.total(), 24000);
    EXPECT_GT(buffer.written.total(), 24000);
    const std::uint32_t end = 24000 - 16000;
    const std::uint32_t silence = std::uint32_t(buffer.written.total() - 24000);
    EXPECT_EQ(bufferBytes(buffer, 0, end), reference.substr(16000, end));
    EXPECT_EQ(bufferBytes(buffer, end, silence), std::string(silence, '\0'));
    EXPECT_TRUE(buffer.playing());

    for (int i = 0; i < 12 && buffer.playing(); ++i) {
        world.advance(50);
        instance.tick();
        if (buffer.playing()) EXPECT_LE(buffer.played.total(), 24000 + 16 * 50);
    }
    EXPECT_FALSE(buffer.playing());
    EXPECT_EQ(world.core.playingBuffers[0], 0);
    music.source.release();
}

TEST(SoundBuffer, InstancesDecodingInTurnEachContinueFromTheirOwnTime) {
    const std::string bytes = monoTone(4.0);
    const std::string reference = plainDecode(bytes);
    SoundWorld world({oggFile("duet", "music", bytes)});
    BankSound music("duet", SoundChannelMusic, "duet");
    ASSERT_TRUE(music.open());
    SoundInstance a(&music, false), b(&music, false);
    ASSERT_TRUE(a.allocate());
    ASSERT_TRUE(b.allocate());
    ASSERT_TRUE(a.buffer->play(true));
    world.advance(300);  // only a plays ahead of b
    ASSERT_TRUE(b.buffer->play(true));
    EXPECT_EQ(bufferBytes(*b.buffer, 0, 16000), reference.substr(0, 16000));
    world.advance(200);
    for (int turn = 0; turn < 3; ++turn) {
        for (SoundInstance* instance : {&a, &b}) {
            const std::int64_t before = instance->buffer->written.total();
            const std::uint32_t offset = instance->buffer->written.position;
            instance->tick();
            const std::int64_t after = instance->buffer->written.total();
            ASSERT_GT(after, before);
            EXPECT_EQ(bufferBytes(*instance->buffer, offset, std::uint32_t(after - before)),
                      reference.substr(std::size_t(before), std::size_t(after - before)))
                << "turn " << turn;
        }
        world.advance(150);
    }
    music.source.release();
}

TEST(SoundBuffer, StereoVoiceIsRefused) {
    SoundWorld world({oggFile("hello", "voice", oggBytes("channels 2\nlength 0.2\ntone 500 0.3\n"))});
    BankSound voice("hello", SoundChannelVoice, "hello");
    EXPECT_FALSE(voice.open());
    EXPECT_TRUE(world.log().contains("Cannot play multichannel with OGG 3D fx data [hello]: "));
    EXPECT_FALSE(voice.source.isOpen());
}

TEST(SoundBuffer, FastStreamKeepsItsPitch) {
    // A 1 kHz tone at 48 kHz, played at the output's 44,100 Hz.
    SoundWorld world({oggFile("beep", "music", oggBytes("rate 48000\nchannels 1\nlength 0.9\ntone 1000 0.5\n"))});
    BankSound music("beep", SoundChannelMusic, "beep");
    ASSERT_TRUE(music.open());
    EXPECT_EQ(music.format().nSamplesPerSec, 48000u);
    EXPECT_EQ(music.format().nAvgBytesPerSec, 96000u);
    SoundInstance instance(&music, false);
    ASSERT_TRUE(instance.allocate());
    ASSERT_TRUE(instance.buffer->play(false));
    std::vector<std::int16_t> mixed;
    ASSERT_TRUE(ds::advance(world.core.device(), 500, &mixed));
    int crossings = 0;
    const std::size_t channels = 2, start = 441 * channels * 10;  // skip 0.1 s
    for (std::size_t i = start + channels; i < mixed.size(); i += channels)
        if ((mixed[i - channels] < 0) != (mixed[i] < 0)) ++crossings;
    // 0.4 s of 1 kHz crosses zero 800 times; played at the wrong rate, 735.
    EXPECT_NEAR(crossings, 800, 10);
    music.source.release();
}

TEST(SoundBuffer, BrokenStreamMarksTheBufferLostAndUpdateRecreatesIt) {
    std::string bytes = monoTone(4.0);
    // Damage a page in the middle of the sound: its check fails and the
    // decoder meets a hole.
    std::vector<std::size_t> pages;
    for (std::size_t at = bytes.find("OggS"); at != std::string::npos; at = bytes.find("OggS", at + 1))
        pages.push_back(at);
    ASSERT_GE(pages.size(), 5u);
    const std::size_t page = pages[pages.size() / 2];
    bytes[page + 40] = char(bytes[page + 40] ^ 0x5A);
    SoundWorld world({oggFile("crackle", "music", bytes)});
    BankSound music("crackle", SoundChannelMusic, "crackle");
    ASSERT_TRUE(music.open());
    SoundInstance instance(&music, false);
    ASSERT_TRUE(instance.allocate());
    SoundBuffer& buffer = *instance.buffer;
    buffer.play(true);
    for (int i = 0; i < 10 && !(buffer.flags & SoundBuffer::kLost); ++i) {
        world.advance(300);
        instance.tick();
    }
    ASSERT_TRUE(buffer.flags & SoundBuffer::kLost);
    EXPECT_TRUE(world.log().contains("OGG Sound data interrupt for [crackle]"));
    gameCore.debugFlags |= DebugSoundLog;
    ASSERT_TRUE(buffer.update());
    EXPECT_TRUE(world.log().contains("Deallocated sound buffer [crackle]"));
    EXPECT_TRUE(world.log().contains("Allocated sound buffer [crackle] for [16000]"));
    EXPECT_FALSE(buffer.flags & SoundBuffer::kLost);
    EXPECT_TRUE(buffer.allocated());
    EXPECT_EQ(world.core.allocatedBuffers[0], 1);
    music.source.release();
}

TEST(SoundBuffer, LoopedStreamWithoutSoundEndsItsFill) {
    SoundWorld world({oggFile("mute", "music", soundlessOgg(16000))});
    BankSound music("mute", SoundChannelMusic, "mute");
    ASSERT_TRUE(music.open());
    ASSERT_GT(music.source.decodedSize(), 0u);
    SoundInstance instance(&music, false);
    ASSERT_TRUE(instance.allocate());
    SoundBuffer& buffer = *instance.buffer;
    ASSERT_TRUE(buffer.play(true));
    ASSERT_TRUE(buffer.flags & SoundBuffer::kLooped);
    // The refill meets the end, and rewinding finds nothing either: the
    // fill ends in silence at once.
    world.advance(500);
    const std::int64_t before = buffer.written.total();
    instance.tick();
    EXPECT_EQ(buffer.decoded.total(), 0);
    EXPECT_EQ(buffer.written.total() - before, std::int64_t(buffer.regionLength));
    EXPECT_GT(buffer.regionLength, 7000u);
    EXPECT_EQ(bufferBytes(buffer, 0, buffer.written.size), std::string(buffer.written.size, '\0'));
    EXPECT_TRUE(buffer.playing());
    music.source.release();
}

TEST(SoundBuffer, DamagedFilesNeverGetABuffer) {
    const std::string good = monoTone(1.0);
    const struct {
        const char* name;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"cut", good.substr(0, 40), "Can't open VORBIS OGG data [cut]: "},
        {"text", std::string(4000, 'x'), "Can't open VORBIS OGG data [text]: OV_ENOTVORBIS"},
        {"empty", soundlessOgg(0), "Can't open VORBIS OGG data [empty]: "},
    };
    std::vector<FixtureFile> files;
    for (const auto& c : cases) files.push_back(oggFile(c.name, "effect", c.bytes));
    SoundWorld world(files);
    for (const auto& c : cases) {
        BankSound effect(c.name, SoundChannelEffect, c.name);
        EXPECT_FALSE(effect.open()) << c.name;
        EXPECT_TRUE(world.log().contains(c.message)) << c.name;
        EXPECT_TRUE(world.log().contains(std::string("Can't open OGG Sound data [") + c.name + "]")) << c.name;
        EXPECT_FALSE(effect.source.isOpen());
    }
    BankSound missing("absent", SoundChannelEffect, "absent");
    EXPECT_FALSE(missing.open());
    EXPECT_TRUE(world.log().contains("Missed sound [absent.ogg] from channel effect"));
    EXPECT_TRUE(world.log().contains("Can't load OGG [absent]"));
}

TEST(SoundBuffer, WholeSoundPlaysToItsEndOnTheGameOutput) {
    // SDL audio (the dummy driver in tests) consumes the sound in real time;
    // the instance is ticked as the sound thread would until it ends.
    SoundWorld world({oggFile("chime", "effect", oggBytes("length 0.3\nchord 0.2 0 0.3 523 659 784\n"))},
                     ds::OutputKind::Sdl);
    ASSERT_NE(world.core.device(), nullptr);
    BankSound effect("chime", SoundChannelEffect, "chime");
    ASSERT_TRUE(effect.open());
    SoundInstance instance(&effect, true);
    ASSERT_TRUE(instance.allocate());
    ASSERT_FALSE(instance.buffer->streamed());
    ASSERT_TRUE(instance.buffer->play(false));
    const auto start = std::chrono::steady_clock::now();
    while (instance.buffer->playing() && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        instance.tick();
    }
    EXPECT_FALSE(instance.buffer->playing());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_EQ(world.core.playingBuffers[3], 0);
    effect.source.release();
}

TEST(SoundBuffer, AllocationRefusals) {
    SoundWorld world({oggFile("hum", "music", monoTone(2.0)), oggFile("odd", "", monoTone(0.5))});
    BankSound music("hum", SoundChannelMusic, "hum");
    BankSound odd("odd", 7, "odd");
    ASSERT_TRUE(music.open());
    ASSERT_TRUE(odd.open());
    const struct {
        BankSound* bank;
        bool want3D;
        const char* message;
    } cases[] = {
        {&music, true, "Can't create sound buffer [hum]: Stereo source can't played as 3D"},
        {&odd, false, "Can't allocate sound buffer [odd]: Sound channel is out of bounds"},
    };
    for (const auto& c : cases) {
        SoundInstance instance(c.bank, c.want3D);
        EXPECT_FALSE(instance.allocate()) << c.message;
        EXPECT_TRUE(world.log().contains(c.message)) << c.message;
        EXPECT_FALSE(instance.buffer->allocated());
    }
    EXPECT_EQ(world.core.allocatedBuffers[0] + world.core.allocatedBuffers[1] + world.core.allocatedBuffers[2] +
                  world.core.allocatedBuffers[3],
              0);

    // A 2D buffer has no 3D interface; twice allocating is refused.
    SoundInstance flat(&music, false);
    ASSERT_TRUE(flat.allocate());
    DS3DBUFFER parameters{};
    parameters.dwSize = sizeof parameters;
    EXPECT_FALSE(flat.buffer->set3dParameters(&parameters, true));
    EXPECT_TRUE(world.log().contains("Can't set position of sound [hum]: this sound is not 3d"));
    EXPECT_FALSE(flat.allocate());
    EXPECT_TRUE(world.log().contains("Sound buffer [hum] already allocated: Can't allocate"));
    music.source.release();
    odd.source.release();
}

TEST(SoundBuffer, LostBufferIsRestoredAndRefilledOnTheNextVolume) {
    const std::string bytes = monoTone(3.0);
    const std::string reference = plainDecode(bytes);
    SoundWorld world({oggFile("hum", "music", bytes)});
    BankSound music("hum", SoundChannelMusic, "hum");
    ASSERT_TRUE(music.open());
    SoundInstance instance(&music, false);
    ASSERT_TRUE(instance.allocate());
    SoundBuffer& buffer = *instance.buffer;
    ASSERT_TRUE(buffer.play(true));
    world.advance(400);
    instance.tick();
    ds::loseBuffer(buffer.device());
    // The volume call finds the buffer lost: restored, stopped, and
    // decoded again from the start.
    EXPECT_TRUE(buffer.setVolume(-500));
    EXPECT_FALSE(buffer.playing());
    EXPECT_EQ(bufferBytes(buffer, 0, 16000), reference.substr(0, 16000));
    LONG volume = 0;
    buffer.device()->GetVolume(&volume);
    EXPECT_EQ(volume, -500);
    EXPECT_EQ(world.core.playingBuffers[0], 0);
    music.source.release();
}
