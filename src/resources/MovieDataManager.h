// Movie resources and the movie instances that play them on a texture.
//
// A movie record's object is only a copy of its name; the movie bytes are
// the decoder's business. No decoder is part of this program: an instance
// without one has no frames and ends at once. An instance may carry the
// sound that follows its picture; stopping the instance fades that sound out
// and leaves it to the sound code to release once faded.
#pragma once

#include <cstdint>

#include "foundation/PointerArray.h"
#include "resources/Y3ResourceManager.h"

class Sound;

// A movie resource.
class MovieBinkData : public ResourceRecord {
public:
    explicit MovieBinkData(const char* name);
    ~MovieBinkData() override;

    // Copies the name into the object; the stream is not read.
    std::int32_t readHeader(DataStream& stream) override;
    bool hasObject() const override { return object_ != nullptr; }
    void deleteObject() override;

    const char* object() const { return object_; }

private:
    char* object_ = nullptr;
};

class MovieDataManager : public Y3ResourceManager<MovieBinkData, kProgressNoReportStage, kProgressNoReportStage> {};

// The decoder an instance owns; the program links none.
class MovieDecoder {
public:
    virtual ~MovieDecoder() = default;
    virtual std::int32_t frameCount() const = 0;
};

// Bits of MovieInstance::flags.
constexpr std::uint32_t kMoviePushed = 0x1;
constexpr std::uint32_t kMovieGlobalSound = 0x4;
constexpr std::uint32_t kMoviePlaying = 0x8;

class MovieInstance : public ResourceUser {
public:
    explicit MovieInstance(const char* name);
    virtual ~MovieInstance();

    const char* resourceUserName() const override { return name; }
    bool resourcePushed() const override { return (flags & kMoviePushed) != 0; }
    void setResourcePushed(bool pushed) override;

    // Frames of the movie: none without a decoder.
    std::int32_t frameCount() const { return decoder ? decoder->frameCount() : 0; }
    // True once the last frame was shown: at once without frames.
    bool finished() const { return frameCount() <= 0; }

    char name[kResourceNameLength + 1] = {};
    Sound* sound = nullptr;
    std::uint32_t flags = 0;
    MovieBinkData* movie = nullptr;
    MovieDecoder* decoder = nullptr;  // owned
};

// Settings of section "movie".
struct MovieSettings {
    float soundFadeInTime = 1.0f;  // seconds over which a stopped movie's sound fades
    float soundSyncTimeEpsilon = 5.0f;
};
MovieSettings& movieSettings();
// Reads section "movie" of the game core's settings store; missing keys
// take their defaults. Without a store the settings stay as they are.
void readMovieSettings();
// Reads section "movie" of the game's settings; missing keys keep their defaults.
void readMovieSettings();

// Fades a movie's sound over the given seconds and flags it for release by
// the sound code once faded. Installed by the sound subsystem.
using MovieSoundFade = void (*)(Sound* sound, float seconds);
void setMovieSoundFade(MovieSoundFade fade);

// Fades out and detaches the sound, clears the playing flag. True.
bool stopMovieInstance(MovieInstance* instance);
// Destroys the decoder; an instance still pushed is popped from its movie
// (and that is reported).
void destroyMovieInstance(MovieInstance* instance);
// Removes an instance from its owner's list, pops it from its movie, stops,
// destroys and frees it. Never stops half-way: true (false only for a null
// instance).
bool removeMovieInstance(PointerArray<MovieInstance>& instances, MovieInstance* instance);
