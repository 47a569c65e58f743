// Dialogs in a scene: playback through the scene's frame update, the
// commands, the look target, the save record, and the script classes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/ObjectFactories.h"
#include "animation/AnimationCore.h"
#include "app/SaveFileFixture.h"
#include "app/SceneLoadFixture.h"
#include "dialog/DialogWriter.h"
#include "foundation/DataStream.h"
#include "foundation/TimeCore.h"
#include "game/Dialog.h"
#include "game/DialogDataManager.h"
#include "game/lua/GameScripts.h"
#include "model/Model.h"
#include "resources/ResourceTestSupport.h"
#include "scene/CameraFixture.h"
#include "scene/CameraCore.h"
#include "scene/Scene.h"
#include "sound/Sound.h"
#include "sound/SoundBank.h"
#include "sound/SoundBuffer.h"
#include "sound/SoundFixture.h"

namespace {

using resource_tests::storedFile;
using sound_fixture::oggBytes;
using sound_fixture::oggFile;

// A scene sound as the sound code makes it: it plays from its start until
// the test ends it.
class TestSound : public testing_support::PoseObject {
public:
    TestSound(const char* soundName, const char* soundAlias) : PoseObject(soundName), alias(soundAlias) {}
    std::uint32_t getType() const override { return ObjectSound; }

    std::string alias;
    bool playing = false;
};

// A model with a head bone.
class TestModel : public testing_support::PoseObject {
public:
    TestModel(const char* modelName, float x) : PoseObject(modelName) {
        head = matrix34Identity();
        head.m[9] = x;
        head.m[10] = 1.5f;
    }
    std::int32_t findBone(const char* bone) override { return std::strcmp(bone, "bip01 head") == 0 ? 0 : -1; }
    bool getBoneWorldMatrix(std::int32_t, Matrix34& out) override {
        out = head;
        return true;
    }
    Matrix34 head{};
};

std::string compiled(const std::string& text) {
    std::string error;
    std::string bytes = dlgwrite::write(text, error);
    EXPECT_FALSE(bytes.empty()) << error;
    return bytes;
}

const char* const kKeeper = R"(
label two
phrase keeper\a 0
  0 voice -
phrase keeper\b 0
  0 voice -
label five
phrase p1 0
phrase p2 0
phrase p3 0
phrase p4 0
phrase p5 0
label pause
phrase p 2.0
label long
phrase p 0
  1.0 voice - keeper\three
label off
phrase p 0
  1.0 voice - keeper\half
label mute
phrase p 0
  1.0 voice hero keeper\half
  0 voice guard keeper\missing
label ending
phrase a 0
  0 script - first
  5 script - later
  0 voice - keeper\three
phrase b 0
phrase #end 0
  0 script - bye
label skipping
phrase a 5
  0 voice - keeper\three
skip
  0 script - skipped
phrase b 0
label cmds
phrase keeper\intro 0
  0 script - fn a b
  0 script - fn
  0 script hero go
  0 voice -
  0 sound - bell
  0 sound - bell
  0 look hero none
  0 look hero AUTO
  0 14 hero x
  0 look guard guard
  0 anim sailor [wave]
  0 face sailor [smile]
label talk
phrase p 0
  0 look hero guard
  0 look guard hero
phrase q 0
  0 script - q
label Mixed
phrase p 0
label camera
phrase p 0
  0 camera - 50[1 current z100]
label saved
phrase a 5.0
  0 script - begun
phrase b 0
  0 script - resumed
)";

struct DialogWorld {
    explicit DialogWorld(std::vector<testing_support::FixtureFile> extra = {})
        : packages(files(std::move(extra))) {
        EXPECT_TRUE(packages.built());
        gameCore.dialogs = &dialogs;
        gameCore.sound = &f.sound;
        registerDialogDataManagerClass(f.lua.state, f.lua.engine);
        registerDialogClass(f.lua.state, f.lua.engine);
        saved = sceneFactories();
        sceneFactories().sound = [](Scene&, std::uint32_t, const char* alias, const char* soundName, std::uint32_t) {
            return static_cast<GameObject*>(new TestSound(soundName, alias));
        };
        sceneFactories().soundPlay = [](GameObject& sound) { return static_cast<TestSound&>(sound).playing = true; };
        sceneFactories().soundPlaying = [](GameObject& sound) { return static_cast<TestSound&>(sound).playing; };
        f.game->flags |= kSaveGameLoadAllowed;
        f.game->loadScene("intro");
        scene = f.game->currentScene();
        EXPECT_NE(scene, nullptr);
        if (scene) {
            scene->models.push_back(GameObjectLink::fromObject(hero));
            scene->models.push_back(GameObjectLink::fromObject(guard));
            scene->models.push_back(GameObjectLink::fromObject(sailor));
        }
    }
    ~DialogWorld() {
        f.game->releaseScenes();
        sceneFactories() = saved;
        gameCore.dialogs = nullptr;
    }

    static std::vector<testing_support::FixtureFile> files(std::vector<testing_support::FixtureFile> extra) {
        extra.push_back(storedFile(".dlg", "keeper", compiled(kKeeper)));
        extra.push_back(oggFile("keeper\\three", "voice", oggBytes("channels 1\nlength 3.0\ntone 440 0.5\n")));
        extra.push_back(oggFile("keeper\\half", "voice", oggBytes("channels 1\nlength 2.5\ntone 440 0.5\n")));
        extra.push_back(oggFile("keeper\\intro", "voice", oggBytes("channels 1\nlength 1.0\ntone 440 0.5\n")));
        extra.push_back(oggFile("keeper\\a", "voice", oggBytes("channels 1\nlength 1.0\ntone 440 0.5\n")));
        extra.push_back(oggFile("keeper\\b", "voice", oggBytes("channels 1\nlength 1.0\ntone 440 0.5\n")));
        return extra;
    }

    // The scene's main dialog of that label, its six handlers set from the
    // script.
    Dialog* dialog(const char* label) {
        const std::string name = std::string("keeper.") + label;
        EXPECT_TRUE(f.lua.load("dlg:createMain('" + name + "')\n"
                               "local d = dlg:get('" + name + "')\n"
                               "d.onStarted = 'started'\n"
                               "d.onFinished = 'finished'\n"
                               "d.onPhraseStarted = 'ps'\n"
                               "d.onPhraseFinished = 'pf'\n"
                               "d.onSubtitleStarted = 'ss'\n"
                               "d.onSubtitleFinished = 'sf'\n"));
        return scene ? dynamic_cast<Dialog*>(gameCore.objects->getObject(scene->mainDialog)) : nullptr;
    }

    // One frame at game time t; the events it posted.
    std::vector<std::string> step(double t) {
        CurrentTime time;
        time.game.time = t;
        scene->updatePhase1(time, 0);
        return events();
    }

    // The dialog events and script calls posted since the last look, as
    // "tag call".
    std::vector<std::string> events() {
        std::vector<std::string> out;
        const auto records = engineLog().records();
        for (std::size_t i = seen; i < records.size(); ++i) {
            const std::string& text = records[i].text;
            const std::size_t at = text.find(": Add script event ");
            if (at != std::string::npos) out.push_back(text.substr(0, at) + " " + text.substr(at + 19));
        }
        seen = records.size();
        return out;
    }

    std::size_t count(const std::string& text) {
        std::size_t n = 0;
        for (const auto& record : engineLog().records())
            if (record.text.find(text) != std::string::npos) ++n;
        return n;
    }

    testing_support::SceneLoadFixture f;
    resource_tests::ScopedPackages packages;
    DialogDataManager dialogs;
    // The models' sequences make their animation records here.
    AnimationCore animations;
    testing_support::ScopedCoreMember<AnimationCore> useAnimations{gameCore.animation, &animations};
    SceneFactories saved;
    Scene* scene = nullptr;
    // The scene owns its models: they go with it.
    TestModel* hero = new TestModel("hero", 2.0f);
    TestModel* guard = new TestModel("guard", -3.0f);
    Model* sailor = new Model("sailor", "rowboat", 0);
    std::size_t seen = 0;
};

TEST(DialogPlayback, PhrasesFollowEachOtherInTheFrameThatEndsTheLast) {
    DialogWorld w;
    Dialog* d = w.dialog("two");
    ASSERT_NE(d, nullptr);
    w.events();
    ASSERT_TRUE(w.f.lua.load("dlg:get('keeper.two'):play(1)"));
    EXPECT_EQ(w.events(), std::vector<std::string>{"Dialog.onStarted started('keeper.two');"});
    EXPECT_EQ(w.step(10.0), std::vector<std::string>{"Dialog.onPhraseStarted ps('keeper.two');"});
    EXPECT_EQ(w.step(10.5), std::vector<std::string>{"Dialog.onSubtitleStarted ss('keeper.two', 'keeper', 'a');"});
    EXPECT_TRUE(w.step(10.9).empty());  // the 1 s voice still plays
    EXPECT_EQ(w.step(11.6), (std::vector<std::string>{"Dialog.onSubtitleFinished sf('keeper.two', 'keeper', 'a');",
                                                      "Dialog.onPhraseFinished pf('keeper.two');",
                                                      "Dialog.onPhraseStarted ps('keeper.two');"}));
    EXPECT_EQ(w.step(11.7), std::vector<std::string>{"Dialog.onSubtitleStarted ss('keeper.two', 'keeper', 'b');"});
    EXPECT_TRUE(d->isPlay());
    EXPECT_EQ(w.step(12.8), (std::vector<std::string>{"Dialog.onSubtitleFinished sf('keeper.two', 'keeper', 'b');",
                                                      "Dialog.onPhraseFinished pf('keeper.two');",
                                                      "Dialog.onFinished finished('keeper.two');"}));
    EXPECT_EQ(d->phraseIndex, kDialogFinished);
    EXPECT_FALSE(gameCore.scene_isDialogActive());
}

TEST(DialogPlayback, PlayStartsAtItsPhraseAndRefusesNumbersBelowOne) {
    DialogWorld w;
    Dialog* d = w.dialog("five");
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(d->play(3));
    w.step(1.0);
    EXPECT_TRUE(engineLog().contains("--------- phrase 3 -------"));
    EXPECT_FALSE(engineLog().contains("--------- phrase 1 -------"));
    EXPECT_FALSE(d->play(1));
    EXPECT_TRUE(engineLog().contains("Dialog[keeper.five]: Can't play: Stop first"));
    for (double t = 2.0; d->isPlay() && t < 20.0; t += 1.0) w.step(t);

    w.events();
    ASSERT_TRUE(d->play(6));
    EXPECT_EQ(w.events(), std::vector<std::string>{"Dialog.onStarted started('keeper.five');"});
    EXPECT_EQ(w.step(3.0), std::vector<std::string>{"Dialog.onFinished finished('keeper.five');"});

    for (int first : {0, -99}) {
        EXPECT_FALSE(d->play(first));
        EXPECT_TRUE(w.events().empty());
        EXPECT_FALSE(d->isPlay());
        w.step(4.0);
        EXPECT_EQ(d->phraseIndex, kDialogFinished);
    }
    EXPECT_TRUE(engineLog().contains("Dialog[keeper.five]: Can't play from phrase 0"));
}

// With sound off a voice lasts its sound's length from its delay; the
// phrase's pause counts from the first update with no command open.
TEST(DialogPlayback, PhrasesLastTheirCommandsThenTheirPause) {
    const struct {
        const char* label;
        double ends;  // the first update (every 0.3 s from 0) that ends it
    } cases[] = {{"pause", 2.4}, {"long", 4.2}, {"off", 3.6}, {"mute", 3.6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        DialogWorld w;
        Dialog* d = w.dialog(c.label);
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(d->play(1));
        double ended = -1.0;
        for (int i = 0; i <= 30 && ended < 0; ++i) {
            const double t = i * 0.3;
            for (const std::string& e : w.step(t))
                if (e.rfind("Dialog.onPhraseFinished", 0) == 0) ended = t;
        }
        EXPECT_NEAR(ended, c.ends, 1e-9);
        if (std::string(c.label) == "off") {
            EXPECT_EQ(w.count("Dialog.onSubtitleStarted: Add script event ss('keeper.off', 'keeper', 'half');"), 1u);
            EXPECT_EQ(w.count("Dialog.onSubtitleFinished: Add script event sf('keeper.off', 'keeper', 'half');"), 1u);
        }
        // Models the game core cannot voice while nothing is heard: each
        // voice is timed by its bank sound (none for the missing line) and
        // its subtitle still starts and finishes once.
        if (std::string(c.label) == "mute") {
            for (const char* line : {"half", "missing"}) {
                SCOPED_TRACE(line);
                const std::string args = std::string("('keeper.mute', 'keeper', '") + line + "');";
                EXPECT_EQ(w.count("Dialog.onSubtitleStarted: Add script event ss" + args), 1u);
                EXPECT_EQ(w.count("Dialog.onSubtitleFinished: Add script event sf" + args), 1u);
            }
            EXPECT_FALSE(w.count("Can't play voice"));
        }
    }
}

TEST(DialogPlayback, StopRunsTheRestOfThePhraseThenTheEndPhrase) {
    DialogWorld w;
    Dialog* d = w.dialog("ending");
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(d->play(1));
    w.step(0.0);
    EXPECT_EQ(w.step(0.1), (std::vector<std::string>{"dialog call dlg_first('keeper.ending', 'keeper', 'nul');",
                                                     "Dialog.onSubtitleStarted ss('keeper.ending', 'keeper', 'three');"}));
    ASSERT_TRUE(d->stop());
    EXPECT_EQ(w.events(), (std::vector<std::string>{"dialog call dlg_later('keeper.ending', 'keeper', 'nul');",
                                                    "Dialog.onSubtitleFinished sf('keeper.ending', 'keeper', 'three');",
                                                    "Dialog.onPhraseFinished pf('keeper.ending');"}));
    EXPECT_EQ(w.step(0.2), std::vector<std::string>{"Dialog.onPhraseStarted ps('keeper.ending');"});
    EXPECT_TRUE(engineLog().contains("--------- phrase 3 -------"));
    EXPECT_FALSE(d->stop());
    EXPECT_FALSE(d->skip());
    EXPECT_EQ(w.step(0.3), (std::vector<std::string>{"dialog call dlg_bye('keeper.ending', 'keeper', 'nul');",
                                                     "Dialog.onPhraseFinished pf('keeper.ending');",
                                                     "Dialog.onFinished finished('keeper.ending');"}));
    EXPECT_FALSE(d->stop());
    EXPECT_TRUE(engineLog().contains("Can't stop dialog: play first"));
}

TEST(DialogPlayback, SkipPlaysTheSkipProgramWithoutPause) {
    DialogWorld w;
    Dialog* d = w.dialog("skipping");
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(d->play(1));
    w.step(0.0);
    w.step(0.1);
    ASSERT_TRUE(d->skip());
    EXPECT_FALSE(d->skip());
    EXPECT_EQ(w.events(), (std::vector<std::string>{"Dialog.onSubtitleFinished sf('keeper.skipping', 'keeper', 'three');",
                                                    "Dialog.onPhraseFinished pf('keeper.skipping');"}));
    w.step(0.2);
    // The skip program ends with its command: the next phrase follows at once.
    EXPECT_EQ(w.step(0.3), (std::vector<std::string>{"dialog call dlg_skipped('keeper.skipping', 'keeper', 'nul');",
                                                     "Dialog.onPhraseFinished pf('keeper.skipping');",
                                                     "Dialog.onPhraseStarted ps('keeper.skipping');"}));
    EXPECT_TRUE(d->skip());  // phrase b has no skip program
    EXPECT_TRUE(engineLog().contains(
        "Warning: Can't play skip phrase 2 in dialog [keeper.skipping]: Skip program NOT defined"));
}

// A camera command's move is stopped when the dialog finishes, unless the
// script asked to keep it.
TEST(DialogCommands, TheCameraIsGivenBackAtTheEnd) {
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep);
        DialogWorld w;
        Dialog* d = w.dialog("camera");
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(w.f.lua.load(std::string("dlg:get('keeper.camera').dont_restore_camera = ") +
                                 (keep ? "true" : "false")));
        CameraCore* camera = gameCore.scene_getCamera();
        ASSERT_NE(camera, nullptr);
        ASSERT_TRUE(d->play(1));
        w.step(0.0);
        w.step(0.1);
        EXPECT_TRUE(engineLog().contains("camera(50[1 current z100])"));
        EXPECT_EQ(d->phraseIndex, kDialogFinished);
        EXPECT_EQ(camera->blender.empty(), !keep);
    }
}

TEST(DialogCommands, EachKindReachesItsService) {
    DialogWorld w;
    Dialog* d = w.dialog("cmds");
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(d->play(1));
    w.step(0.0);
    const std::vector<std::string> posted = w.step(0.1);
    for (const char* call : {"dialog call dlg_fn('keeper.cmds', 'keeper', 'a b');",
                             "dialog call dlg_fn('keeper.cmds', 'keeper', 'nul');",
                             "dialog call dlg_go('keeper.cmds', 'keeper', 'nul', 'hero');",
                             "Dialog.onSubtitleStarted ss('keeper.cmds', 'keeper', 'intro');"})
        EXPECT_NE(std::find(posted.begin(), posted.end(), call), posted.end()) << call;
    // An empty voice argument plays the phrase's name; two sounds of one
    // resource get their own names.
    std::vector<std::string> sounds;
    for (GameObjectLink link : w.scene->sounds[0]) {
        auto* sound = static_cast<TestSound*>(gameCore.objects->getObject(link));
        sounds.push_back(std::string(sound->name) + "=" + sound->alias);
    }
    EXPECT_EQ(sounds, (std::vector<std::string>{"keeper.cmds.intro=keeper\\intro", "keeper.cmds.bell.4=bell",
                                                "keeper.cmds.bell.5=bell"}));
    // "AUTO" is compared lower-cased.
    ASSERT_NE(d->aliases.size(), 0u);
    EXPECT_STREQ(d->aliases[1].aliasName, "hero");
    EXPECT_EQ(d->aliases[1].lookMode, DialogLookAuto);
    EXPECT_EQ(d->aliases[0].lookMode, DialogLookTarget);
    EXPECT_STREQ(d->aliases[0].lookTarget, "guard");
    EXPECT_TRUE(engineLog().contains("#FAILED>>>    keeper.cmds:cmds[[DLG_CMD]](1)>  #hero>> (x)"));
    w.step(0.2);
    w.step(0.6);
    EXPECT_EQ(w.count("FAILED>>>"), 1u);  // a failed command is not retried
    // The sequences reached the sailor's stacks, which asked for their
    // animations (none of them is in these packages, so they play nothing).
    EXPECT_NE(w.animations.animations().findRecord("wave"), nullptr);
    EXPECT_NE(w.animations.animations().findRecord("smile"), nullptr);
}

TEST(DialogLook, AModelToldToLookTurnsItsHeadToTheOthersHead) {
    DialogWorld w;
    Dialog* d = w.dialog("talk");
    ASSERT_NE(d, nullptr);
    Matrix34 out = matrix34Identity();
    const GameObjectLink hero = GameObjectLink::fromObject(w.hero);
    EXPECT_FALSE(gameCore.scene_dialogLook(out, hero));  // no look command yet
    ASSERT_TRUE(d->play(1));
    w.step(0.0);
    w.step(0.1);
    ASSERT_TRUE(gameCore.scene_dialogLook(out, hero));
    EXPECT_FLOAT_EQ(out.m[9], -3.0f);
    ASSERT_TRUE(gameCore.scene_dialogLook(out, GameObjectLink::fromObject(w.guard)));
    EXPECT_FLOAT_EQ(out.m[9], 2.0f);
    // The script's aim turns it away.
    ASSERT_TRUE(w.f.lua.load("dlg:get('keeper.talk'):aim('hero', 'none')"));
    EXPECT_FALSE(gameCore.scene_dialogLook(out, hero));
}

TEST(DialogSave, ADialogResumesAtTheNextPhraseAndItsRecordIsChecked) {
    DialogWorld w;
    Dialog* d = w.dialog("ending");
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(d->play(1));
    w.step(0.0);
    w.step(0.1);  // in the middle of phrase 1
    MemoryStream saved;
    ASSERT_GT(d->write(saved), 0);
    const std::string bytes(reinterpret_cast<const char*>(saved.data()), static_cast<std::size_t>(saved.size()));

    Y3DialogData* record = w.dialogs.getOrCreate("keeper", true);
    std::unique_ptr<Dialog> loaded(record->createDialog("ending", w.scene->id));
    saved.setPosition(0);
    ASSERT_EQ(loaded->read(saved), static_cast<std::int32_t>(bytes.size()));
    // The scene pushes what it loads.
    ASSERT_TRUE(loaded->push());
    MemoryStream again;
    ASSERT_EQ(loaded->write(again), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(again.data()), bytes.size()), bytes);
    CurrentTime time;
    time.game.time = 5.0;
    loaded->update(time);
    EXPECT_EQ(loaded->phraseIndex, 2);

    ObjectRepository::SavedRecord saveRecord;
    saveRecord.type = ObjectDialog;
    saveRecord.name = "keeper.ending";
    saved.setPosition(0);
    EXPECT_EQ(checkObjectForLoading(saveRecord, saved), static_cast<std::int32_t>(bytes.size()));
    // Offsets: phrase index 0, flags 4, alias count 8, then the handlers at
    // the end (no aliases here: 12 speaker, 16 previous, 20 "started").
    auto damaged = [&](std::size_t at, const std::string& patch) {
        std::string copy = bytes;
        copy.replace(at, patch.size(), patch);
        return copy;
    };
    using namespace std::string_literals;
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {{"negative alias count", damaged(8, "\xff\xff\xff\xff")},
                 {"alias count beyond the bytes", damaged(8, "\x00\x00\x10\x00"s)},
                 {"negative handler length", damaged(20, "\xf0\xff\xff\xff")},
                 {"handler longer than its buffer", damaged(20, "\x00\x08\x00\x00"s)},
                 {"cut short", bytes.substr(0, bytes.size() - 2)},
                 {"alias name longer than its field",
                  "\x01\0\0\0\x01\0\0\0\x01\0\0\0"s + "\xc8\0"s + std::string(200, 'a')}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryStream in;
        in.write(c.bytes.data(), static_cast<std::int32_t>(c.bytes.size()));
        in.setPosition(0);
        EXPECT_LT(checkObjectForLoading(saveRecord, in), 0);
        in.setPosition(0);
        EXPECT_LT(loaded->read(in), 0);
    }
}

// A game that saves and restores, with the dialog "keeper" in its packages
// and the dialog classes in its scripts.
struct SavedDialogs {
    SavedDialogs() {
        gameCore.paths = &s.paths;
        registerDialogDataManagerClass(s.f.lua.state, s.f.lua.engine);
        registerDialogClass(s.f.lua.state, s.f.lua.engine);
    }
    testing_support::SaveFileFixture s;
    resource_tests::ScopedPackages packages{
        std::vector<testing_support::FixtureFile>{storedFile(".dlg", "keeper", compiled(kKeeper))}};
    DialogDataManager dialogs;
    testing_support::ScopedCoreMember<DialogDataManager> useDialogs{gameCore.dialogs, &dialogs};
};

// A whole game saved in the middle of a phrase and restored: the dialog
// comes back from the save and goes on with the next phrase.
TEST(DialogSave, ARestoredGameGoesOnWithTheNextPhrase) {
    SavedDialogs w;
    ASSERT_TRUE(w.packages.built());
    testing_support::SaveFileFixture& s = w.s;
    auto step = [&](double t) {
        CurrentTime time;
        time.game.time = t;
        s.f.game->currentScene()->updatePhase1(time, 0);
    };
    ASSERT_TRUE(s.runPosted("game:load('intro')\n"
                            "dlg:createMain('keeper.saved')\n"
                            "dlg:get('keeper.saved').onPhraseStarted = 'started'\n"
                            "dlg:get('keeper.saved'):play(1)"));
    ASSERT_NE(s.f.game->currentScene(), nullptr);
    step(0.0);
    step(0.1);  // phrase a runs its 5 s pause
    ASSERT_TRUE(engineLog().contains("dlg_begun('keeper.saved', 'keeper', 'nul');"));
    ASSERT_TRUE(s.runPosted("saved = game:save('talk')\ngame:restore('talk')\nrestored = game:state()"));
    EXPECT_EQ(s.text("saved"), "true");
    EXPECT_EQ(s.text("restored"), "true");
    ASSERT_NE(s.f.game->currentScene(), nullptr);
    EXPECT_TRUE(gameCore.scene_isDialogActive());
    EXPECT_FALSE(engineLog().contains("dlg_resumed("));
    step(0.2);
    step(0.3);
    EXPECT_TRUE(engineLog().contains("Dialog.onPhraseStarted: Add script event started('keeper.saved');"));
    EXPECT_TRUE(engineLog().contains("dlg_resumed('keeper.saved', 'keeper', 'nul');"));
}

// The texts a save holds in fields of bounded length: each is taken up to
// its bound and comes back whole from a restore, and one longer is refused
// at its setter (a script error, the old text kept), so that no save is
// written that its reader refuses.
TEST(DialogSave, BoundedTextsAreRefusedAtTheirSetterOrComeBackWhole) {
    SavedDialogs w;
    ASSERT_TRUE(w.packages.built());
    testing_support::SaveFileFixture& s = w.s;
    ASSERT_TRUE(s.runPosted("game:load('intro')\ndlg:createMain('keeper.saved')"));
    ASSERT_NE(s.f.game->currentScene(), nullptr);
    const struct {
        const char* field;  // a Lua expression that can be assigned
        const char* refused;
    } fields[] = {
        {"dlg:get('keeper.saved').onStarted", "Can't set dialog [keeper.saved] handler: name of 2048 characters"},
        {"dlg:get('keeper.saved').onSubtitleFinished",
         "Can't set dialog [keeper.saved] handler: name of 2048 characters"},
        {"game.onProgress", "Can't set game event handler: name of 2048 characters"},
        {"game.onFinishProgress", "Can't set game event handler: name of 2048 characters"},
    };
    for (const auto& f : fields) {
        SCOPED_TRACE(f.field);
        const std::string field = f.field;
        ASSERT_TRUE(s.runPosted(field + " = string.rep('h', 2047)\n" + field + " = string.rep('x', 2048)\n" +
                                "saved = game:save('limits')\ngame:restore('limits')\nrestored = game:state()\n"
                                "kept = " + field + " == string.rep('h', 2047)"));
        EXPECT_TRUE(engineLog().contains(f.refused));
        EXPECT_EQ(s.text("saved"), "true");
        EXPECT_EQ(s.text("restored"), "true");
        EXPECT_EQ(s.text("kept"), "true");
        // Cleared again for the progress events of the next restore.
        ASSERT_TRUE(s.runPosted(field + " = ''"));
    }
}

TEST(DialogDataManager, DialogsRegisterWithTheirRecord) {
    resource_tests::ScopedPackages packages({storedFile(".dlg", "keeper", compiled(kKeeper))});
    ASSERT_TRUE(packages.built());
    DialogDataManager dialogs;
    Y3DialogData* keeper = dialogs.getOrCreate("keeper", true);
    Dialog talk(keeper, "two", 0);
    ASSERT_TRUE(talk.push());
    EXPECT_EQ(keeper->users.count(), 1u);
    EXPECT_FALSE(talk.push());
    EXPECT_TRUE(engineLog().contains("Can't push dialog [keeper.two] twice"));
    // A record the packages do not hold makes no dialog.
    EXPECT_EQ(dialogs.getOrCreate("missing", false)->createDialog("x", 0), nullptr);
    EXPECT_TRUE(engineLog().contains("resource is invalid"));
    // Released while used: said, and the dialog no longer holds it.
    dialogs.releaseAll();
    EXPECT_TRUE(engineLog().contains("Release dialog before Destructor call"));
    EXPECT_FALSE(talk.resourcePushed());
    EXPECT_FALSE(talk.pop(0));
    EXPECT_TRUE(engineLog().contains("Can't pop dialog [keeper.two]: push first"));
}

TEST(DialogScripts, TheCatalogueAndTheNullDialog) {
    DialogWorld w({storedFile(".dlg", "broken", "\x01\x00")});
    ASSERT_TRUE(w.f.lua.load(
        "names = dlg:label_name('keeper', 1) .. ',' .. dlg:label_name('keeper', 0)\n"
        "labels = dlg:label_count('keeper')\n"
        "phrases = dlg:phrase_count('Keeper.Five') .. ',' .. dlg:phrase_count('keeper.Mixed')\n"
        "broken = dlg:label_count('broken') .. ',' .. dlg:label_count('broken')\n"
        "dots = tostring(dlg:createMain('keeper'))\n"
        "local missing = dlg:get('nothing')\n"
        "nullplay = tostring(missing:play(1)) .. ',' .. missing:classof()\n"
        "created = tostring(dlg:create('keeper.two')) .. ',' .. dlg:obj_count() .. ',' .. dlg:obj_name(1)\n"
        "tested = tostring(dlg:test('keeper.two')) .. ',' .. tostring(dlg:test('keeper.five'))\n"
        "local d = dlg:get('keeper.two')\n"
        "aliases = tostring(d:alias('', '', 'none')) .. tostring(d:alias('', 'x', 'none')) .. "
        "tostring(d:alias('hero', '', 'none')) .. tostring(d:alias('hero', 'speaker', 'guard'))\n"
        "deleted = tostring(dlg:delete('keeper.two')) .. ',' .. dlg:obj_count()\n"
        "files = dlg:count() .. ',' .. dlg:name(1) .. ',' .. dlg:name(2) .. ',' .. dlg:name(3)\n"));
    EXPECT_EQ(w.f.lua.global("names"), "Mixed,INVALID LABEL INDEX");
    EXPECT_TRUE(engineLog().contains("Invalid dialog [keeper] label [0] index"));
    EXPECT_EQ(w.f.lua.global("labels"), "13");
    EXPECT_EQ(w.f.lua.global("phrases"), "5,0");
    EXPECT_TRUE(engineLog().contains("Can't find dialog label [mixed] in dialog [keeper]"));
    EXPECT_EQ(w.f.lua.global("broken"), "0,0");
    EXPECT_EQ(w.count("Can't read dialog [broken]"), 1u);  // a failed load is not tried again
    EXPECT_EQ(w.count("Can't get label count for dialog [broken]: Dialog data can't be read"), 2u);
    EXPECT_EQ(w.f.lua.global("dots"), "false");
    EXPECT_TRUE(engineLog().contains("Invalid dialog label Name: must be [dialog.label], but [keeper]"));
    EXPECT_EQ(w.f.lua.global("nullplay"), "false,Dialog");
    EXPECT_TRUE(engineLog().contains("Can't find game dialog with name [nothing]"));
    EXPECT_TRUE(engineLog().contains("Try to use null dialog object"));
    EXPECT_EQ(w.f.lua.global("created"), "true,1,keeper.two");
    EXPECT_EQ(w.f.lua.global("tested"), "true,false");
    EXPECT_EQ(w.f.lua.global("aliases"), "falsefalsefalsetrue");
    for (const char* message : {"Alias name and object empty", "Can't create empty alias [x]=[]",
                                "Alias name empty for object [hero"})
        EXPECT_TRUE(engineLog().contains(message)) << message;
    EXPECT_EQ(w.f.lua.global("deleted"), "true,0");
    EXPECT_EQ(w.f.lua.global("files"), "2,broken,keeper,INVALID DIALOG INDEX");
    EXPECT_TRUE(engineLog().contains("Can't get dialog name by invalid index"));
}

}  // namespace

namespace {

// The dialog world with the game's own scene sounds: real `Sound` objects
// on the null output, which plays only as far as the test advances it.
struct DialogSoundWorld : DialogWorld {
    DialogSoundWorld()
        : DialogWorld({oggFile("bell", "effect", oggBytes("length 1.0\ntone 660 1.0\n")),
                       oggFile("keeper\\narrator", "effect", oggBytes("channels 1\nlength 3.0\ntone 440 3.0\n")),
                       storedFile(".dlg", "harbour", compiled(longLabel()))}) {
        platform::dsound::Environment environment;
        environment.output = platform::dsound::OutputKind::Null;
        platform::dsound::setEnvironment(environment);
        EXPECT_TRUE(f.sound.initialize());
    }
    ~DialogSoundWorld() {
        f.game->releaseScenes();
        f.sound.releaseAll();
        platform::dsound::setEnvironment(platform::dsound::Environment());
    }
    // A label whose name fills the dialog's name ("harbour." and 119
    // characters): the names of the sounds its commands make are longer than
    // a scene object keeps.
    static std::string labelName() { return std::string(119, 'w'); }
    static std::string longLabel() {
        return "label " + labelName() + "\nphrase p 0\n  0 sound - bell\n  0 voice - keeper\\narrator\n";
    }
    // A frame: the bank's tick that ends finished buffers (the sound
    // thread's), then the scene's sounds' updates and its dialogs'.
    void frame(double t) {
        updateSoundBank(*f.sound.bank, t);
        CurrentTime time;
        time.game.time = t;
        time.game.step = 0.1;
        scene->updatePhase0(time, 0);
        step(t);
    }
    // The output plays on by that many milliseconds, in the sound thread's
    // steps of 50 ms, each followed by its tick of the bank.
    void play(std::uint32_t milliseconds, double t) {
        for (std::uint32_t done = 0; done < milliseconds; done += 50) {
            ASSERT_TRUE(platform::dsound::advance(f.sound.device(), 50));
            updateSoundBank(*f.sound.bank, t);
        }
    }
    Sound* dialogSound(std::size_t i) {
        return i < scene->sounds[0].size() ? dynamic_cast<Sound*>(gameCore.objects->getObject(scene->sounds[0][i]))
                                           : nullptr;
    }
};

}  // namespace

// A dialog's sound and its object-less voice play real sounds: the phrase
// waits for both to end, and each is deleted from the scene when it ends,
// however long the names the dialog gives them.
TEST(DialogCommands, SoundsAndVoicesPlayUntilTheyEndAndAreDeleted) {
    DialogSoundWorld w;
    const std::string full = "harbour." + DialogSoundWorld::labelName();
    ASSERT_TRUE(w.f.lua.load("dlg:createMain('" + full + "')\n"
                             "dlg:get('" + full + "').onPhraseFinished = 'pf'\n"
                             "dlg:get('" + full + "'):play(1)"));
    const std::string finished = "Dialog.onPhraseFinished: Add script event pf(";
    w.frame(0.0);
    w.frame(0.1);
    ASSERT_EQ(w.scene->sounds[0].size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        Sound* sound = w.dialogSound(i);
        ASSERT_NE(sound, nullptr);
        EXPECT_TRUE(sound->instance() && sound->instance()->buffer->playing()) << sound->getName();
    }
    EXPECT_STREQ(w.dialogSound(0)->bankSound()->name(), "bell");
    EXPECT_STREQ(w.dialogSound(1)->bankSound()->name(), "keeper\\narrator");
    w.frame(0.2);
    EXPECT_EQ(w.count(finished), 0u);
    EXPECT_EQ(w.scene->sounds[0].size(), 2u);

    // The bell (1 s) ends first and goes; the voice (3 s) holds the phrase.
    w.play(1500, 0.2);
    w.frame(1.7);
    w.frame(1.8);
    EXPECT_EQ(w.scene->sounds[0].size(), 1u);
    EXPECT_EQ(w.count(finished), 0u);
    w.play(2000, 1.8);
    for (double t = 3.7; t < 4.5; t += 0.1) w.frame(t);
    EXPECT_EQ(w.count(finished), 1u);
    EXPECT_TRUE(w.scene->sounds[0].empty());
}
