// The dialog game object: one label of a compiled dialog played in a scene,
// phrase after phrase, each phrase a list of timed commands (voices,
// sounds, animations, camera moves, script calls) run by the phrase player.
//
// phraseIndex is -1 while idle or waiting for the first phrase, the 1-based
// number of the current phrase while playing, -2 once finished or failed,
// and -100 while a stop request turns into the end phrase. A phrase lasts
// until its last command has run and every voice and sound it started has
// ended, plus the phrase's delay; a phrase that ends is followed by the next
// one in the same frame. Scripts are told of the progress through six
// events, each naming its handler function (an empty name skips it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game/Y3DialogData.h"
#include "resources/Y3ResourceManager.h"
#include "scene/GameObject.h"

class Dialog;
struct CurrentTime;

// playFlags bits.
constexpr std::uint8_t kDialogUnstoppable = 0x04;  // the end phrase or a skip program runs
constexpr std::uint8_t kDialogCameraUsed = 0x80;   // a camera command ran since onStarted
// options bits.
constexpr std::uint8_t kDialogDontRestoreCamera = 0x01;

// phraseIndex values besides the phrase numbers.
constexpr std::int32_t kDialogIdle = -1;
constexpr std::int32_t kDialogFinished = -2;
constexpr std::int32_t kDialogStopRequest = -100;

// The time a phrase that has all its commands open ends: never.
constexpr double kPhraseNever = 10000000.0;

// How an alias's object looks during the dialog.
enum DialogLookMode : std::int32_t { DialogLookNone = 0, DialogLookAuto = 1, DialogLookTarget = 2 };

struct DialogAlias {
    char aliasName[128] = {};
    char objectName[128] = {};
    GameObjectLink object;
    std::int32_t lookMode = DialogLookAuto;
    char lookTarget[128] = {};
};

// The phrase being played: private copies of its commands, which double as
// their run state (kind 15 done, kind 0 failed, a voice or sound that has
// started waits with its delay turned to -(|delay| + 100)).
struct PhrasePlayer {
    char phraseName[128] = {};
    // -1 idle; 0 loaded, not started; else the game time of the start.
    double start = -1.0;
    // The phrase delay waiting to be applied; -1 once applied.
    double pendingPause = -1.0;
    // The elapsed time at which the phrase ends.
    double end = kPhraseNever;
    Dialog* owner = nullptr;
    std::vector<DialogCommand> commands;
    // The scene sound each "sound" or object-less "voice" command made, by
    // command index (grown as commands make them).
    std::vector<GameObjectLink> sounds;

    // Drops the copies.
    void clear() {
        std::vector<DialogCommand>().swap(commands);
        std::vector<GameObjectLink>().swap(sounds);
    }
};

// The six script events, in their save order.
enum DialogEvent : std::int32_t {
    DialogOnStarted = 0,
    DialogOnFinished,
    DialogOnPhraseStarted,
    DialogOnPhraseFinished,
    DialogOnSubtitleStarted,
    DialogOnSubtitleFinished,
    DialogEventCount
};

class Dialog : public GameObject, public ResourceUser {
public:
    // A dialog of the resource playing the label; its name is the
    // resource name, "." and the label.
    Dialog(Y3DialogData* resource, const char* labelName, std::uint32_t sceneLink);
    ~Dialog() override;

    std::uint32_t getType() const override { return ObjectDialog; }
    const char* getName() const override { return name; }
    std::uint32_t getSceneLink() const override { return sceneLink; }
    // Registers the dialog as a user of its resource.
    bool push() override;
    bool pop(std::uint32_t) override;
    // The save record: phrase index, flags, aliases, speakers, handlers.
    // The player is not saved: a loaded dialog goes on with the next phrase.
    std::int32_t write(DataStream& stream) override;
    std::int32_t read(DataStream& stream) override;
    bool validate() override { return true; }
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    // The per-frame update of the playback.
    bool updatePhase1(const CurrentTime& time, std::int32_t) override { return update(time); }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    // Clears the player and frees the aliases.
    void release() override;

    const char* resourceUserName() const override { return name; }
    bool resourcePushed() const override { return (pushedFlags & 1) != 0; }
    void setResourcePushed(bool pushed) override;

    // Playback. play refuses a number below 1 and a dialog that plays;
    // stop turns the rest into the end phrase ("#end") or finishes; skip
    // plays the current phrase's skip program.
    bool play(std::int32_t first);
    bool stop();
    bool skip();
    bool isPlay() const { return phraseIndex >= 0; }
    bool update(const CurrentTime& time);

    // The point the looking object looks at: the "bip01 head" of its
    // alias's named target; false for no alias or a mode other than 2.
    bool lookTarget(GameObject* looking, Matrix34& out);
    // The object of the alias of that name, added when missing.
    GameObjectLink addAlias(const char* aliasName);
    // The script's alias: a new alias of the object under that name (an
    // existing one keeps its object), then its look target as aim sets it.
    bool setAlias(const char* objectName, const char* aliasName, const char* target);
    // The look command on an alias or object name: "none", "auto" or a
    // target name. False when the alias has no model.
    bool aim(const char* aliasName, const char* target);

    // The command executor: runs one command of the player (skip mode:
    // voices and sounds are passed over), and checks whether a started
    // voice or sound has ended (force: stop it now).
    void executeCommand(PhrasePlayer& player, std::int32_t index, DialogCommand& command, const CurrentTime& time,
                        bool skipMode);
    void checkCommandEnd(PhrasePlayer& player, std::int32_t index, DialogCommand& command, const CurrentTime& time,
                         bool force);

    Y3DialogData* resource = nullptr;
    PhrasePlayer player;
    std::int32_t phraseIndex = kDialogIdle;
    std::uint8_t pushedFlags = 0;
    std::uint8_t playFlags = 0;
    std::uint8_t options = 0;
    std::uint8_t spare = 0;
    std::vector<DialogAlias> aliases;
    GameObjectLink speaker;
    GameObjectLink previousSpeaker;
    // A handler name is saved into a buffer of 2,048 bytes: at most this long.
    static constexpr std::size_t kMaxHandlerName = 2047;
    std::string handlers[DialogEventCount];
    char labelName[128] = {};
    std::uint32_t sceneLink = 0;

private:
    bool advancePhrase(bool skipMode);
    // stopPhrase, phraseIndex -2, onFinished.
    void finish();
    void stopPhrase(const CurrentTime& time);
    void loadPhrase(const std::vector<DialogCommand>& commands, const char* phraseName, double pause);
    void advancePlayer(const CurrentTime& time);
    // Posts the event with the dialog name and the extra arguments, or logs
    // its skip line when the handler name is empty.
    void fireEvent(DialogEvent event, const char* first = nullptr, const char* second = nullptr);
    DialogAlias* findAlias(const char* aliasName);
    DialogAlias& ensureAlias(const char* aliasName, const char* objectName);
    // The object a command names, 0 when it has none or the game state
    // resolves no objects.
    GameObjectLink resolveObject(const char* objectName);
    bool lookCommand(const char* aliasName, const char* target);
    void restoreCamera();
    const CurrentTime& lastTime() const;

    CurrentTime* time_ = nullptr;
};

// Checks a saved dialog record without a dialog: bytes read, or negative.
std::int32_t checkDialogRecord(DataStream& stream);
