// Lip-sync tracks and model morphs: the ".trk" importer, the ".lip" form,
// frame blending, and a model in a scene playing a voice with its track,
// the voice being a stand-in scene sound with a duration and a playing
// flag.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "animation/AnimationCore.h"
#include "animation/AnimationDataManager.h"
#include "animation/AnimationTestSupport.h"
#include "animation/ModelMorph.h"
#include "animation/MorphTrack.h"
#include "foundation/DataStream.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "render/RenderCore.h"
#include "scene/CameraFixture.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneObjectFlags.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "sound/Sound.h"
#include "sound/SoundBank.h"
#include "sound/SoundCore.h"
#include "sound/SoundFixture.h"
#include "support/TestSupport.h"

namespace {

using testing_support::CameraScene;
using testing_support::ScopedGameCore;

bool parse(const std::string& text, MorphTrack& track) {
    std::string bytes = text;
    MemoryStream stream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    return MorphDataManager::parseTrack(track, stream);
}

std::string lipBytes(const MorphTrack& track) {
    MemoryStream stream(true);
    EXPECT_GT(track.write(stream), 0);
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

// A track of the given length in seconds whose frames are all the frame given.
MorphTrack evenTrack(double seconds, std::size_t frames, const MorphFrame& frame) {
    MorphTrack track;
    track.frames.assign(frames, frame);
    track.step = 1.0 / double(frames);
    track.rate = 1.0 / seconds;
    return track;
}

TEST(MorphTrack, TrkTextsImportByTheirSections) {
    struct Case {
        std::string text;
        bool ok;
        const char* message;
    };
    const Case cases[] = {
        {"hello\n[data]\n0.5\n", false, "Unexpected line [0] value [hello] Expected paragraph"},
        {"\n\n[channels]\nE\nA\ne\n[data]\n1\t2\t3\n", false, "Channel [e] defined twice at line 3"},
        {"[Channels]\nA\n[data]\n", false, "Morph track has no frames"},
        {"[common]\nSamplesPerSecDenominator 0\n[channels]\nA\n[data]\n1\n", false, "Invalid morph sample rate"},
        {"[channels]\nA\n[data]\n" + std::string(5000, '1') + "\n", false, "is too long"},
        {"[channels]\nA\n[data]\nnan\n", false, "Invalid morph value [nan]"},
    };
    for (const Case& c : cases) {
        ScopedGameCore core;
        MorphTrack track;
        EXPECT_EQ(parse(c.text, track), c.ok) << c.text;
        EXPECT_TRUE(core.log().contains(c.message)) << c.message;
    }

    // Channels A, x, MBP read columns 0 and 2; names are case-blind.
    ScopedGameCore core;
    MorphTrack track;
    ASSERT_TRUE(parse("[channels]\nA\nx\nmbp\n[data]\n0.5\t0.1\t0.9\n\n0.25\t7\n", track));
    ASSERT_EQ(track.frames.size(), 2u);
    const MorphFrame first = {0.5f, 0, 0, 0, 0, 0.9f, 0, 0};
    const MorphFrame second = {0.25f, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(track.frames[0], first);
    EXPECT_EQ(track.frames[1], second);
    // Without "[common]": 22050 / 256 frames a second.
    EXPECT_DOUBLE_EQ(track.rate, 86.1328125 / 2.0);
    EXPECT_DOUBLE_EQ(track.step, 0.5);
    ASSERT_TRUE(parse("[common]\nsamplespersecnumerator   100\nsamplesPerSecDenominator x4\n"
                      "[common]\nsamplespersecdenominator 4\n[channels]\nA\n[data]\n1\n1\n1\n1\n1\n",
                      track));
    EXPECT_DOUBLE_EQ(track.rate, 25.0 / 5.0);
}

TEST(MorphTrack, LipFormRoundTripsAndDamagedTracksAreRefused) {
    ScopedGameCore core;
    MorphTrack track = evenTrack(2.0, 3, {1, 2, 3, 4, 5, 6, 7, 8});
    const std::string bytes = lipBytes(track);
    ASSERT_EQ(bytes.size(), 20u + 3u * 32u);
    std::string copy = bytes;
    MemoryStream in(copy.data(), static_cast<std::int32_t>(copy.size()));
    MorphTrack read;
    EXPECT_EQ(read.read(in, "talk"), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(read.frames, track.frames);
    EXPECT_DOUBLE_EQ(read.rate, 0.5);

    struct Damage {
        MorphTrack track;
        std::size_t cut;  // bytes dropped from the end
        const char* message;
    };
    MorphTrack empty;
    empty.rate = 1.0;
    MorphTrack still = evenTrack(1.0, 2, {});
    still.rate = 0.0;
    // A length too long for its float, steps that would blend frames with
    // not-a-number or unbounded weights, a weight that is not a number.
    MorphTrack endless = evenTrack(1.0, 2, {});
    endless.rate = 1e-39;
    MorphTrack noStep = evenTrack(1.0, 2, {});
    noStep.step = std::nan("");
    MorphTrack infiniteStep = evenTrack(1.0, 2, {});
    infiniteStep.step = INFINITY;
    MorphTrack nanWeight = evenTrack(1.0, 2, {0, 0, std::nanf(""), 0, 0, 0, 0, 0});
    const Damage damages[] = {
        {empty, 0, "Lip track [talk] has no frames"},
        {still, 0, "Lip track [talk] has invalid rate 0"},
        {endless, 0, "Lip track [talk] has invalid rate 1e-39"},
        {noStep, 0, "Lip track [talk] has invalid step nan"},
        {infiniteStep, 0, "Lip track [talk] has invalid step inf"},
        {nanWeight, 0, "Lip track [talk] has an invalid weight nan"},
        {track, 1, "Lip track [talk] frame count 3 exceeds its data"},
    };
    for (const Damage& d : damages) {
        std::string damaged = lipBytes(d.track);
        damaged.resize(damaged.size() - d.cut);
        MemoryStream stream(damaged.data(), static_cast<std::int32_t>(damaged.size()));
        MorphTrack out;
        EXPECT_LT(out.read(stream, "talk"), 0) << d.message;
        EXPECT_TRUE(out.frames.empty());
        EXPECT_TRUE(core.log().contains(d.message)) << d.message;
    }
}

TEST(MorphTrack, CompilingImportsTheTextAndNeverTouchesTheCompiledFile) {
    ScopedGameCore core;
    testing_support::TempDir folder;
    const std::string source = folder.path() + "/talk.trk";
    const std::string target = folder.path() + "/talk.lip";
    {
        std::ofstream(source) << "[channels]\nA\n[data]\n0.5\n";
        std::ofstream(target) << "kept";
    }
    MorphDataManager manager;
    EXPECT_FALSE(manager.compileFromSource(source.c_str()));
    EXPECT_TRUE(core.log().contains("Stream save not possible in release exe"));
    EXPECT_TRUE(core.log().contains("Fail to save imported morph data to file [" + target + "]"));
    std::string kept;
    std::ifstream(target) >> kept;
    EXPECT_EQ(kept, "kept");
    {
        std::ofstream(source) << "junk\n";
    }
    EXPECT_FALSE(manager.compileFromSource(source.c_str()));
    EXPECT_TRUE(core.log().contains("Fail to import morph data from file [" + source + "]"));
}

TEST(MorphTrack, BlendingTakesAQuarterOfTheNextFrame) {
    const MorphFrame next = {1, 0, 4, 0, 0, 0, 0, 8};
    const MorphFrame current = {0, 1, 0, 0, 0, 0, 2, 0};
    const MorphFrame expected = {0.25f, 0.75f, 1, 0, 0, 0, 1.5f, 2};
    EXPECT_EQ(blendMorphFrames(next, current, 0.25), expected);
}

// The stand-in voice: its length and whether it still sounds are set by
// the test.
class Voice : public GameObject, public SceneObjectFlags {
public:
    explicit Voice(const char* name) : GameObject(name) {}
    std::uint32_t getType() const override { return ObjectSound; }
    const char* getName() const override { return name; }
    std::uint32_t getSceneLink() const override { return 0; }
    bool push() override { return true; }
    bool pop(std::uint32_t) override { return true; }
    std::int32_t write(DataStream&) override { return 0; }
    std::int32_t read(DataStream&) override { return 0; }
    bool validate() override { return true; }
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase1(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    void release() override {}
    std::uint32_t& stateFlags() override { return state; }
    bool isOnStack() override { return false; }

    std::uint32_t state = 0;
    bool playing = false;
    double duration = 0.0;
    std::string resource;
};

// Seconds of the next voice made.
double nextVoiceLength = 3.0;

const std::string kHead =
    "model head\nelement face\n"
    "lod\n"
    "bone root 0 rest 0 0 0 1 0 0 0\n"
    // The jaw drops and comes forward for "A".
    "bone jaw 1 parent root rest 0 0 0 1 0 1 0 channel 1 pose 1 0 0 0 1 0 0.5 0.3\n"
    "box 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\n";

std::vector<testing_support::FixtureFile> morphFiles() {
    std::vector<testing_support::FixtureFile> files =
        animation_tests::animationFiles("anim head.idle 2 loop\ntrack root 0 1\nchannel rw 0 1 1\n"
                                        "anim head.nod 2 loop\ntrack root 0 1\nchannel rw 0 1 1\nmap default\n"
                                        // Three seconds of three frames: A open, then E, then shut.
                                        "lip talk 3\nlipframe 1 0 0 0 0 0 0 0\nlipframe 0 0 0 0 1 0 0 0\n"
                                        "lipframe 0 0 0 0 0 0 0 0\n"
                                        "lip hum 1\nlipframe 0.5 0 0 0 0 0 0 0.5\n"
                                        // Stored damaged: no frames.
                                        "lip broken 1\n");
    return files;
}

// The model's frame passes at game time t.
void modelFrameAt(Model& model, double t) {
    CurrentTime time;
    time.game.time = t;
    model.prepareFrame(time, 0);
    model.updateFrame(time, 0);
}

class ModelMorphTest : public ::testing::Test {
protected:
    ModelMorphTest() {
        saved = sceneFactories();
        SceneFactories& hooks = sceneFactories();
        hooks.sound = [](Scene&, std::uint32_t, const char* alias, const char* name, std::uint32_t) -> GameObject* {
            auto* voice = new Voice(name);
            voice->duration = nextVoiceLength;
            voice->resource = alias ? alias : "";
            return voice;
        };
        hooks.soundPlay = [](GameObject& o) { return static_cast<Voice&>(o).playing = true; };
        hooks.soundPlaying = [](GameObject& o) { return static_cast<Voice&>(o).playing; };
        hooks.soundStop = [](GameObject& o) { static_cast<Voice&>(o).playing = false; };
        hooks.soundDuration = [](GameObject& o) { return static_cast<Voice&>(o).duration; };
        nextVoiceLength = 3.0;
    }
    ~ModelMorphTest() override { sceneFactories() = saved; }

    Model* pushed(const char* name) {
        auto* model = static_cast<Model*>(world.scene->createModel("head", name, matrix34Identity(), 0));
        EXPECT_NE(model, nullptr);
        if (!model) return nullptr;
        EXPECT_TRUE(model->push());
        model->stateWords[0] |= kModelDrawnThisFrame;
        return model;
    }
    Voice* voiceOf(Model& model) {
        const std::string name = std::string(model.getName()) + ".morph";
        const std::int32_t index = world.scene->findSound(1, name.c_str());
        return index < 0 ? nullptr
                         : dynamic_cast<Voice*>(world.objects.getObject(world.scene->sounds[1][std::size_t(index)]));
    }
    static void frameAt(Model& model, double t) { modelFrameAt(model, t); }
    std::size_t count(const std::string& text) {
        std::size_t n = 0;
        for (const LogRecord& record : core.log().records())
            if (record.text.find(text) != std::string::npos) ++n;
        return n;
    }

    SceneFactories saved;
    ScopedGameCore core;
    RenderCore render;
    testing_support::ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
    AnimationCore animations;
    testing_support::ScopedCoreMember<AnimationCore> useAnimations{gameCore.animation, &animations};
    CameraScene world{{kHead}, morphFiles()};
};

TEST_F(ModelMorphTest, AVoiceDrivesThePoseChannelsUntilItsVoiceEnds) {
    Model* head = pushed("bob");
    ASSERT_NE(head, nullptr);
    nextVoiceLength = 3.05;
    EXPECT_FLOAT_EQ(head->voice("talk"), 3.0f);
    EXPECT_FALSE(core.log().contains("DIFFERENT durations"));
    Voice* voice = voiceOf(*head);
    ASSERT_NE(voice, nullptr);
    EXPECT_TRUE(voice->playing);
    EXPECT_EQ(voice->resource, "talk");
    EXPECT_TRUE(head->isVoicePlaying());

    const float* weights = head->animation.skeleton.channelWeights;
    const SkeletonBone& jaw = head->animation.skeleton.bones.at(std::size_t(head->findBone("jaw")));
    frameAt(*head, 10.0);  // the first update starts the track
    EXPECT_FLOAT_EQ(weights[0], 1.0f);
    EXPECT_NEAR(jaw.local.translation[1], 0.5f, 1e-5f);
    EXPECT_NEAR(jaw.local.translation[2], 0.3f, 1e-5f);
    frameAt(*head, 10.5);  // half-way from A to E
    EXPECT_FLOAT_EQ(weights[0], 0.5f);
    EXPECT_FLOAT_EQ(weights[4], 0.5f);
    // At the end the weights fall to 0 while the voice still sounds.
    frameAt(*head, 13.0);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(weights[k], 0.0f) << k;
    EXPECT_NEAR(jaw.local.translation[1], 1.0f, 1e-5f);
    EXPECT_NEAR(jaw.local.translation[2], 0.0f, 1e-5f);
    EXPECT_TRUE(head->isVoicePlaying());
    frameAt(*head, 13.02);
    EXPECT_TRUE(head->isVoicePlaying());
    voice->playing = false;
    frameAt(*head, 13.05);
    EXPECT_FALSE(head->isVoicePlaying());
    EXPECT_EQ(voiceOf(*head), nullptr);
    EXPECT_TRUE(core.log().contains("Morph [talk] of object [bob] ends"));

    // A voice 0.2 s longer than its track is reported, and plays.
    nextVoiceLength = 3.2;
    EXPECT_FLOAT_EQ(head->voice("talk"), 3.0f);
    EXPECT_TRUE(core.log().contains(
        "The [talk] Lip file (3.0 sec) and Voice file (3.2 sec) has DIFFERENT durations"));
    // A second voice replaces the first, and its voice sound.
    Voice* first = voiceOf(*head);
    ASSERT_NE(first, nullptr);
    nextVoiceLength = 1.0;
    EXPECT_FLOAT_EQ(head->voice("hum"), 1.0f);
    ASSERT_NE(voiceOf(*head), nullptr);
    EXPECT_EQ(voiceOf(*head)->resource, "hum");
    // A one-frame track gives its frame until its end.
    frameAt(*head, 20.0);
    EXPECT_FLOAT_EQ(weights[7], 0.5f);
    frameAt(*head, 20.99);
    EXPECT_FLOAT_EQ(weights[0], 0.5f);
    EXPECT_FLOAT_EQ(weights[7], 0.5f);
    head->stopVoice();
    EXPECT_EQ(head->morph, nullptr);
    EXPECT_EQ(voiceOf(*head), nullptr);
    EXPECT_EQ(weights[0], 0.0f);
}

TEST_F(ModelMorphTest, FailedVoicesLeaveNoMorphAndNoVoiceBehind) {
    Model* head = pushed("ann");
    ASSERT_NE(head, nullptr);
    // A track the packages lack: flagged missing, reported once.
    EXPECT_EQ(head->voice("silence"), 0.0f);
    EXPECT_EQ(count("Resource file [silence.lip] not found"), 1u);
    EXPECT_TRUE(core.log().contains("Fail to create morph [silence] for object [ann]"));
    EXPECT_EQ(head->voice("silence"), 0.0f);
    EXPECT_EQ(count("Resource file [silence.lip] not found"), 1u);
    EXPECT_EQ(head->morph, nullptr);

    // A track that fails after its voice started: the voice goes too, and
    // the next voice takes its name.
    EXPECT_EQ(head->voice("broken"), 0.0f);
    EXPECT_TRUE(core.log().contains("Can't play morph [broken] for model [ann]"));
    EXPECT_EQ(voiceOf(*head), nullptr);
    EXPECT_EQ(head->morph, nullptr);
    EXPECT_FLOAT_EQ(head->voice("talk"), 3.0f);
    EXPECT_FALSE(core.log().contains("already exist in scene"));
    ASSERT_NE(voiceOf(*head), nullptr);

    // A hidden model says nothing and makes no morph.
    Model* hidden = pushed("shy");
    ASSERT_NE(hidden, nullptr);
    hidden->stateWords[0] &= ~kModelShown;
    EXPECT_EQ(hidden->voice("talk"), 0.0f);
    EXPECT_TRUE(core.log().contains("Can't play voice [talk] invisible object [shy]"));
    EXPECT_EQ(hidden->morph, nullptr);
}

TEST_F(ModelMorphTest, PlayNeedsAPushAndTheSaveRecordKeepsItsOffset) {
    Model* head = pushed("cid");
    ASSERT_NE(head, nullptr);
    Y3MorphAnimationDataInstance* talk = animations.morphs().getOrCreate("talk", true);
    std::unique_ptr<ModelMorph> morph = ModelMorph::create(talk, head);
    ASSERT_NE(morph, nullptr);
    EXPECT_FALSE(morph->play());
    EXPECT_TRUE(core.log().contains("Can't play morph [cid]: push first"));
    EXPECT_EQ(voiceOf(*head), nullptr);
    ASSERT_TRUE(morph->push());
    EXPECT_FALSE(morph->push());
    EXPECT_TRUE(core.log().contains("Can't push morph [cid] twice"));
    ASSERT_TRUE(morph->play());
    EXPECT_FALSE(morph->play());
    float weights[8];
    ASSERT_TRUE(morph->update(100.0, weights));

    struct Saved {
        double now;
        double offset;
    };
    for (const Saved& s : {Saved{102.5, -2.5}, Saved{100.0, -0.0001}}) {
        MemoryStream stream(true);
        ASSERT_EQ(ModelMorph::write(morph.get(), stream, s.now), 4 + 1 + 4 + 4 + 8);
        stream.setPosition(0);
        std::unique_ptr<ModelMorph> restored;
        ASSERT_EQ(ModelMorph::read(stream, head, restored), 21);
        ASSERT_NE(restored, nullptr);
        EXPECT_EQ(restored->track, talk);
        EXPECT_EQ(restored->flags, ModelMorph::kPlaying);
        EXPECT_DOUBLE_EQ(restored->startTime, s.offset);
    }
    ASSERT_TRUE(morph->stop());
    EXPECT_FALSE(morph->stop());
    EXPECT_TRUE(core.log().contains("Can't stop morph [cid]: not played"));
    EXPECT_TRUE(morph->pop());

    // Damaged records: an unknown code, a name longer than a record name.
    MemoryStream none(true);
    ASSERT_EQ(ModelMorph::write(nullptr, none, 0.0), 4);
    none.setPosition(0);
    std::unique_ptr<ModelMorph> out;
    EXPECT_EQ(ModelMorph::read(none, head, out), 4);
    EXPECT_EQ(out, nullptr);
    std::string bad(4, '\0');
    bad[0] = 7;
    MemoryStream badCode(bad.data(), 4);
    EXPECT_EQ(ModelMorph::read(badCode, head, out), -1);
    EXPECT_TRUE(core.log().contains("Morph save is invalid"));
    std::string longName = std::string("\x00\x01\x00\x00", 4) + "\xC8" + std::string(200, 'n') + std::string(12, '\0');
    MemoryStream longStream(longName.data(), static_cast<std::int32_t>(longName.size()));
    EXPECT_EQ(ModelMorph::read(longStream, head, out), -1);
    EXPECT_EQ(out, nullptr);
}

TEST_F(ModelMorphTest, GroupAndIdleSequencesAnswerWhatTheyPlayed) {
    Model* head = pushed("eve");
    ASSERT_NE(head, nullptr);
    EXPECT_FALSE(head->playSequence("$crowd"));
    EXPECT_TRUE(core.log().contains("Can't map object [eve] model [head] to group [$crowd]: Animation play failed"));
    EXPECT_TRUE(head->animation.body().instances().empty());
    EXPECT_TRUE(head->animation.face().instances().empty());
    {
        // Entries of the group: one whose sequence names a group again is
        // refused; one whose face sequence fails answers false.
        VariablesCore variables;
        testing_support::ScopedCoreMember<VariablesCore> use(gameCore.variables, &variables);
        ScriptVariable* table = variables.globals()
                                    .ensureRoot()
                                    ->appendChild("npcrandomization")
                                    ->appendChild("")  // no current scene: its name is empty
                                    ->appendChild("loop")
                                    ->appendChild("day", ScriptVariable::TypeArray2D);
        for (const char* row : {"anim", "texture", "face-anim", "frequency"})
            table->appendChild(row, ScriptVariable::TypeArray);
        table->child(0)->appendChild("head", ScriptVariable::TypeString)->setString("$loop");
        EXPECT_FALSE(head->playSequence("$loop"));
        EXPECT_TRUE(core.log().contains("Can't map object [eve] model [head] to group [$loop]"));
        EXPECT_TRUE(head->animation.body().instances().empty());
        table->child(0)->child(0)->setString("[head.nod]");
        table->child(2)->appendChild("head", ScriptVariable::TypeString)->setString("[head.nod");
        EXPECT_FALSE(head->playSequence("$loop"));
        EXPECT_EQ(head->animation.body().instances().size(), 1u);
        table->child(2)->child(0)->setString("[head.idle]");
        EXPECT_TRUE(head->playSequence("$loop"));
        EXPECT_EQ(head->animation.face().instances().size(), 1u);
        head->animation.body().clear();
        head->animation.face().clear();
    }

    // One animation as idle: reported and played as an ordinary sequence.
    EXPECT_TRUE(head->playSequenceIdle("[head.idle]"));
    EXPECT_TRUE(core.log().contains("Animation idle must be at least 2 different animations or more"));
    EXPECT_TRUE(head->animation.body().idleSequence.elements.empty());
    EXPECT_EQ(head->animation.body().instances().size(), 1u);
    EXPECT_TRUE(head->playSequenceIdle("[head.idle][head.nod]"));
    EXPECT_EQ(head->animation.body().idleSequence.elements.size(), 2u);
    EXPECT_TRUE(head->playFaceSequenceIdle("[head.nod]"));
    EXPECT_TRUE(core.log().contains("Face idle must be at least 2 different animations or more"));
    EXPECT_FALSE(head->playFaceSequenceIdle("[head.idle"));
    EXPECT_TRUE(core.log().contains("Fail to play face animation sequence IDLE for object [eve]"));
}

}  // namespace

// A model saved while it speaks carries its morph in its record: a model
// that reads the record plays the same track, at the saved offset.
TEST_F(ModelMorphTest, AModelsSaveRecordCarriesItsMorph) {
    Model* head = pushed("ann");
    ASSERT_NE(head, nullptr);
    ASSERT_FLOAT_EQ(head->voice("talk"), 3.0f);
    ASSERT_NE(head->morph, nullptr);
    MemoryStream record(true);
    ASSERT_GT(head->save(record), 0);
    EXPECT_TRUE(head->releaseMorph());

    auto* copy = static_cast<Model*>(world.scene->createModel("head", "bea", matrix34Identity(), 0));
    ASSERT_NE(copy, nullptr);
    record.setPosition(0);
    EXPECT_EQ(copy->load(record), record.size());
    ASSERT_NE(copy->morph, nullptr);
    EXPECT_EQ(copy->morph->track, animations.morphs().getOrCreate("talk", true));
    EXPECT_TRUE(copy->morph->playing());
    EXPECT_LT(copy->morph->startTime, 0.0);

    // Saved without a morph, the record's morph field says so and a load
    // drops the morph the model had.
    MemoryStream silent(true);
    ASSERT_GT(head->save(silent), 0);
    silent.setPosition(0);
    EXPECT_EQ(copy->load(silent), silent.size());
    EXPECT_EQ(copy->morph, nullptr);
}

namespace {

// The morph voice through the real sound core on the null output: the
// voice's length is its OGG's, and a voice longer than its track is reported
// and keeps the morph until it stops sounding.
class ModelMorphSoundTest : public ::testing::Test {
protected:
    ModelMorphSoundTest() {
        platform::dsound::Environment environment;
        environment.output = platform::dsound::OutputKind::Null;
        platform::dsound::setEnvironment(environment);
        EXPECT_TRUE(sound.initialize());
    }
    ~ModelMorphSoundTest() override {
        world.scene->release();
        sound.releaseAll();
        platform::dsound::setEnvironment(platform::dsound::Environment());
        sceneFactories() = saved;
    }
    static std::vector<testing_support::FixtureFile> files() {
        std::vector<testing_support::FixtureFile> all = morphFiles();
        // The voice of "talk" lasts 3.2 s where its track lasts 3.0 s.
        all.push_back(sound_fixture::oggFile("talk", "voice",
                                             sound_fixture::oggBytes("channels 1\nlength 3.2\ntone 300 0.2\n")));
        // Two variants of the default footstep of the left foot.
        for (const char* step : {"fs_default(male)l_01", "fs_default(male)l_02"})
            all.push_back(sound_fixture::oggFile(step, "effect",
                                                 sound_fixture::oggBytes("channels 1\nlength 0.2\ntone 200 0.2\n")));
        return all;
    }

    // The output plays on in steps of the sound thread's period, the bank
    // refilling the streamed voice after each as the thread's tick does.
    void playFor(std::uint32_t milliseconds) {
        for (std::uint32_t played = 0; played < milliseconds; played += 50) {
            ASSERT_TRUE(platform::dsound::advance(sound.device(), 50));
            updateSoundBank(*sound.bank, 0.0);
        }
    }

    SceneFactories saved = sceneFactories();
    ScopedGameCore core;
    RenderCore render;
    testing_support::ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
    AnimationCore animations;
    testing_support::ScopedCoreMember<AnimationCore> useAnimations{gameCore.animation, &animations};
    CameraScene world{{kHead}, files()};
    SoundCore sound;
    testing_support::ScopedCoreMember<SoundCore> useSound{gameCore.sound, &sound};
};

TEST_F(ModelMorphSoundTest, AVoiceLongerThanItsTrackWarnsAndTheMorphWaitsForIt) {
    auto* head = static_cast<Model*>(world.scene->createModel("head", "dan", matrix34Identity(), 0));
    ASSERT_NE(head, nullptr);
    ASSERT_TRUE(head->push());
    head->stateWords[0] |= kModelDrawnThisFrame;

    EXPECT_FLOAT_EQ(head->voice("talk"), 3.0f);
    EXPECT_TRUE(core.log().contains(
        "The [talk] Lip file (3.0 sec) and Voice file (3.2 sec) has DIFFERENT durations"));
    EXPECT_TRUE(head->isVoicePlaying());
    modelFrameAt(*head, 10.0);

    // The track has ended, the voice has not: the morph waits, at rest.
    playFor(3100);
    modelFrameAt(*head, 13.1);
    EXPECT_NE(head->morph, nullptr);
    EXPECT_TRUE(head->isVoicePlaying());
    for (int k = 0; k < 8; ++k) EXPECT_EQ(head->animation.skeleton.channelWeights[k], 0.0f) << k;

    // Once the voice has played out and the scene's frame has seen it
    // stop, the morph ends.
    playFor(400);
    CurrentTime time;
    time.game.time = 13.5;
    world.scene->updatePhase0(time, 0);
    modelFrameAt(*head, 13.5);
    EXPECT_FALSE(head->isVoicePlaying());
    ASSERT_NE(head->morph, nullptr);
    EXPECT_FALSE(head->morph->playing());
    EXPECT_TRUE(core.log().contains("Morph [talk] of object [dan] ends"));
}

// A footstep event of a model's animation plays one of the footstep's
// numbered variants.
TEST_F(ModelMorphSoundTest, AFootstepEventPlaysANumberedVariant) {
    auto* walker = static_cast<Model*>(world.scene->createModel("head", "fay", matrix34Identity(), 0));
    ASSERT_NE(walker, nullptr);
    ASSERT_TRUE(walker->push());
    walker->stateWords[0] |= kModelDrawnThisFrame;  // footsteps sound only for models in view
    EXPECT_TRUE(Model::onAnimationEvent(nullptr, walker, "footstep=left", CurrentTime(0.0), 0, true));
    sound.updateListener(CurrentTime(0.0), 0);  // the frame's sound update starts it
    std::vector<std::string> playing;
    for (std::int32_t channel = 0; channel < kSoundChannelCount; ++channel)
        for (const BankSound* bankSound : sound.bank->channel(channel))
            for (const Sound* played : bankSound->sounds)
                if (played->playing()) playing.push_back(bankSound->name());
    ASSERT_EQ(playing.size(), 1u);
    EXPECT_TRUE(playing[0] == "fs_default(male)l_01" || playing[0] == "fs_default(male)l_02") << playing[0];
}

}  // namespace
