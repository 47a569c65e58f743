// The game object that plays a sound (type 7): a bank sound with looping, a
// 3D position, a volume 0..100, a fade envelope and script events. Scenes,
// the global sound lists, animations and scripts play their sounds through
// it. It borrows a play instance of its bank sound only while it is
// audible: it connects on play, disconnects on stop, and mutes (gives the
// instance back) when its effective volume falls to silence.
//
// The volume kept is the script's (0..100, what a save holds); the distance
// factor of a 3D sound and the channel volumes are applied at each apply, so
// refreshing never compounds them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/BlenderHeader.h"
#include "platform/sound/DirectSound.h"
#include "scene/GameObject.h"
#include "scene/SceneObjectFlags.h"
#include "script/ScriptEventTable.h"

class BankSound;
class Sound;
class SoundInstance;

// The script handle of one sound ("Sound"): its owner, its event handlers
// and its fade envelope. Scripts share it with the sound: a handle a script
// keeps after the sound was deleted has no owner, and its methods refuse.
class SoundScript : public std::enable_shared_from_this<SoundScript> {
public:
    explicit SoundScript(Sound* owner);

    // Null once the sound is gone.
    Sound* owner;
    ScriptEventTable events;
    BlenderHeader blend;

    // Runs the handler of an event with this handle as its argument; false
    // when none is set or it did not run.
    bool callEvent(std::int32_t event);
};

class Sound : public GameObject, public SceneObjectFlags {
public:
    static constexpr std::uint32_t kLooped = 1u << 0;
    static constexpr std::uint32_t kPlaying = 1u << 1;
    static constexpr std::uint32_t kConnected = 1u << 2;
    static constexpr std::uint32_t kPushed = 1u << 3;
    static constexpr std::uint32_t kInEvent = 1u << 4;
    static constexpr std::uint32_t kMuted = 1u << 5;
    static constexpr std::uint32_t k3D = 1u << 6;
    static constexpr std::uint32_t kPositioned = 1u << 7;
    static constexpr std::uint32_t kPositionedToo = 1u << 8;
    static constexpr std::uint32_t kMoved = 1u << 9;
    static constexpr std::uint32_t k3dChanged = 1u << 10;
    static constexpr std::uint32_t kRestorePending = 1u << 11;
    static constexpr std::uint32_t kVolumeFromPlay = 1u << 12;
    // Released by the sound code once it has ended (automatic sounds, a
    // stopped movie's sound).
    static constexpr std::uint32_t kAutoRelease = 1u << 13;
    static constexpr std::uint32_t kAutoReleaseArmed = 1u << 14;
    // Ended: its owner's list deletes it.
    static constexpr std::uint32_t kFinished = 1u << 15;
    static constexpr std::uint32_t kSoftAttenuation = 1u << 20;

    // Size of the 3D parameters in a saved record.
    static constexpr std::int32_t k3dRecordSize = 64;

    Sound(BankSound* bankSound, const char* name, bool looped, bool want3D);
    // Releases what is still held.
    ~Sound() override;

    // GameObject: the subtype is the bank sound's channel; the first
    // per-frame update runs the envelope and the restore of a loaded sound,
    // the second follows the linked object.
    std::uint32_t getType() const override { return ObjectSound; }
    std::uint32_t getSubtype() const override;
    const char* getName() const override { return name; }
    // The name a save makes the sound again by: the resource it plays (its
    // own name may be any, and its alias may pick among variants). The
    // record restores the name.
    const char* recordName() const override;
    std::uint32_t getSceneLink() const override { return sceneLink_; }
    // Lists the sound on its bank sound, and unlists it (disconnecting first).
    bool push() override;
    bool pop(std::uint32_t argument = 0) override;
    std::int32_t write(DataStream& stream) override;
    // A damaged record fails (negative) and leaves the sound as it was;
    // a whole one clears the live bits (connected, pushed, in event, muted)
    // and marks the sound for restore at its next update.
    std::int32_t read(DataStream& stream) override;
    bool validate() override { return true; }
    bool updatePhase0(const CurrentTime& time, std::int32_t flag) override;
    bool updatePhase1(const CurrentTime& time, std::int32_t flag) override;
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    // Disconnects (a connected sound is reported) and pops.
    void release() override;
    std::uint32_t& stateFlags() override { return flags; }
    bool isOnStack() override { return (flags & kPushed) != 0; }

    // Reads a saved record as read() would take it, changing nothing.
    static std::int32_t checkRecord(DataStream& stream);

    void setSceneLink(std::uint32_t scene) { sceneLink_ = scene; }

    bool connect(bool allocate, double startTime);
    bool disconnect();
    // Plays from the start; autorelease makes this play the last one (the
    // sound ends finished and its owner deletes it).
    bool play(bool allocate, bool autorelease);
    bool stop(bool withEvent);
    // Plays again from the start a sound that was playing (a loaded one,
    // or one whose scene came back); the play of an automatic sound goes
    // on being its last.
    bool restore();
    // The script's volume 0..100; applied with the distance factor and the
    // channel volumes, muting or unmuting as the result is silent or not.
    bool setVolume(float volume);
    // Re-applies the stored volume of a playing sound.
    bool refreshMute();
    // Stores a new position unless it is within 0.05 of the stored one and
    // no move is pending; true when it changed.
    bool setPosition(const D3DVECTOR& position, bool keep);
    // Gives the 3D parameters to a 3D instance once the sound was placed.
    void apply3d(bool immediate);
    // Places the sound at a waypoint of the current scene.
    bool teleport(const char* waypoint);
    // Takes the world position of the object the sound is linked to.
    bool updateLink();
    // The first per-frame update (envelope, restore, end of play).
    bool updateEnvelope(const CurrentTime& time);
    // Starts the envelope at level 0: a fade-in of blend seconds after
    // fadeIn seconds; a sound that does not loop fades out at its end.
    void startBlend(float fadeIn, float blend);
    // Fades out over the given seconds (0: the envelope is switched off).
    void fade(float seconds);
    // The soft distance factor at distance d (1.0 at or below the minimum).
    static float distanceFactor(float distance);
    // The bank sound's length in seconds; 0.0 when it cannot be opened.
    double getDuration();
    // "AUTO-<channel list name>-<8 hex digits>" from a 32-bit counter.
    std::string makeAutoName() const;

    bool playing() const { return (flags & kPlaying) != 0; }
    bool muted() const { return (flags & kMuted) != 0; }
    SoundInstance* instance() const { return instance_; }
    BankSound* bankSound() const { return bank_; }
    SoundScript& script() { return *script_; }
    const std::shared_ptr<SoundScript>& scriptHandle() const { return script_; }
    BlenderHeader& blend() { return script_->blend; }

    std::uint32_t flags = 0;
    double keptPosition = 0.0;
    float volume = 100.0f;
    DS3DBUFFER parameters{};

private:
    // Applies the script volume v; force skips the unchanged test.
    bool applyVolume(float v, bool force);
    // Runs an event handler with the in-event bit set.
    void raise(std::int32_t event);
    // A load is under way: plays of restores and envelopes wait.
    static bool loadRunning();

    BankSound* bank_ = nullptr;
    SoundInstance* instance_ = nullptr;
    std::shared_ptr<SoundScript> script_;
    std::uint32_t sceneLink_ = 0;
    // The volume last applied, -1 when none.
    float applied_ = -1.0f;
};

// The movie code's fade of a stopped movie's sound: fades it over the
// seconds given and leaves it to the sound code to release.
void fadeMovieSound(Sound* sound, float seconds);
