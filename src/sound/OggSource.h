// The Ogg Vorbis decoder of one bank sound.
//
// The ".ogg" resource is found by the bank sound's name in its channel's
// package source and mapped read-only through the package database; the
// decoder reads the mapped bytes through a MemoryStream that does not own
// them. One decoder serves every play instance of the sound: each buffer
// keeps the stream time it has reached, and decode seeks there first, so
// instances decoding in turn stay independent.
//
// The output is 16-bit PCM at the stream's own rate and channel count (the
// mixer resamples to the output's rate). Decoding writes only into the
// region a buffer gives and never beyond: a non-looped sound's end closes
// the region with silence; a looped one rewinds, and a stream that yields
// nothing even right after a rewind ends the fill the same way instead of
// rewinding for ever.
#pragma once

#include <vorbis/vorbisfile.h>

#include <cstdint>

#include "foundation/DataStream.h"
#include "platform/sound/DirectSound.h"

class BankSound;
class SoundBuffer;

// The text of a vorbisfile error code for the log.
const char* oggErrorText(int code);

class OggSource {
public:
    explicit OggSource(BankSound* owner);
    // A source still open is reported and released.
    ~OggSource();
    OggSource(const OggSource&) = delete;
    OggSource& operator=(const OggSource&) = delete;

    // Maps the resource and opens the decoder. With monoRequired a stream of
    // more than one channel is refused. The output format and decoded size
    // are read at every open, whatever the device and the volumes.
    bool open(bool monoRequired);
    // Closes the decoder and the map; false when it was not open or the
    // decoder's close failed (the rest is released anyway).
    bool release();
    // Release and open again with the same mono rule.
    bool relink();
    // Under the engine lock: decodes the buffer's write region into it.
    bool decodeInto(SoundBuffer& buffer);
    // Decodes length bytes from the buffer's own stream time and writes
    // them into the buffer at offset.
    bool decode(SoundBuffer& buffer, std::uint32_t offset, std::uint32_t length);

    bool isOpen() const { return map_ != nullptr; }
    const WAVEFORMATEX& format() const { return format_; }
    // Total PCM bytes of the stream at the output format.
    std::uint32_t decodedSize() const { return decodedSize_; }
    double length() const { return length_; }
    std::uint32_t resourceId() const { return resourceId_; }
    // The largest temporary decode buffer so far.
    std::int32_t temporaryCapacity() const { return temporary_.capacity(); }

    // The decoder's callbacks read the mapped bytes through this stream.
    MemoryStream& stream() { return stream_; }
    const char* name() const;

private:
    bool mapResource();
    void unmap();

    std::uint32_t resourceId_ = 0;
    const void* map_ = nullptr;
    MemoryStream stream_;
    MemoryStream temporary_;
    BankSound* owner_;
    OggVorbis_File file_;
    double length_ = 0.0;
    std::uint32_t decodedSize_ = 0;
    std::uint8_t monoRequired_ = 0;
    WAVEFORMATEX format_{};
    std::uint32_t rateDivisor_ = 0;
};
