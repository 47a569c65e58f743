// A model morph: one lip-sync track played on one model together with the
// voice line it was made for. The voice is the scene sound
// "<model name>.morph" of the voice list; the track gives the eight
// mouth-shape weights of the model's pose channels at each update.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "resources/Y3ResourceManager.h"

class DataStream;
class GameObject;
class Model;
class Y3MorphAnimationDataInstance;
struct MorphTrack;

class ModelMorph : public ResourceUser {
public:
    static constexpr std::uint32_t kPlaying = 0x2;
    static constexpr std::uint32_t kPushed = 0x8;
    // Presence codes of the save record.
    static constexpr std::uint32_t kSaveMorph = 256;
    static constexpr std::uint32_t kSaveNone = 2048;

    // A morph of the track for the owner; null (logged) when the track is
    // unavailable.
    static std::unique_ptr<ModelMorph> create(Y3MorphAnimationDataInstance* track, Model* owner);

    // Registers and unregisters the morph with its track.
    bool push();
    bool pop();
    // Starts the voice and the track; false (logged) when the morph is not
    // pushed, already plays or its track cannot be had. A failed play
    // leaves no voice behind.
    bool play();
    // Stops and deletes the voice; false (logged) unless playing.
    bool stop();
    // The weights at the current time into out; false when the track cannot
    // be had. At the end of the track the weights are 0 and the morph stops
    // once its voice has ended.
    bool update(double currentTime, float* out);
    // The track's length in seconds; 0 when it cannot be had.
    double getDuration();
    // Deletes the voice whatever the morph's state (the release of a morph).
    void dropVoice();
    // The save record (a null morph writes the presence code alone).
    static std::int32_t write(const ModelMorph* morph, DataStream& stream, double currentTime);
    // Reads a record: out is null for "no morph"; -1 (logged) for a damaged
    // record.
    static std::int32_t read(DataStream& stream, Model* owner, std::unique_ptr<ModelMorph>& out);

    const char* resourceUserName() const override;
    bool resourcePushed() const override { return (flags & kPushed) != 0; }
    void setResourcePushed(bool pushed) override {
        flags = pushed ? flags | kPushed : flags & ~kPushed;
    }

    bool playing() const { return (flags & kPlaying) != 0; }
    // The voice's scene sound, or null.
    GameObject* voice() const;
    std::string voiceName() const;

    std::uint32_t flags = 0;
    Y3MorphAnimationDataInstance* track = nullptr;
    Model* owner = nullptr;
    double startTime = 0.0;

private:
    ModelMorph(Y3MorphAnimationDataInstance* track, Model* owner) : track(track), owner(owner) {}
    MorphTrack* loadedTrack();
};
