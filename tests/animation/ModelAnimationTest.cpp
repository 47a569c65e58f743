// Models playing animations: a small skinned character in a scene, its
// sequences pushed onto its stacks and its frames run through the model's
// per-frame passes, as the scene runs them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "animation/AnimationCore.h"
#include "animation/AnimationTestSupport.h"
#include "animation/ModelAnimation.h"
#include "app/SaveGame.h"
#include "control/ControllerFixture.h"
#include "foundation/DataStream.h"
#include "foundation/TimeCore.h"
#include "effects/Particle.h"
#include "model/Model.h"
#include "particle/ParticleWriter.h"
#include "render/RenderCore.h"
#include "scene/CameraFixture.h"
#include "support/TestSupport.h"

namespace {

using testing_support::CameraScene;
using testing_support::ScopedGameCore;

// Four bones: root (gives root motion) with spine above it, and arm and
// jaw on the spine.
const std::string kStrider =
    "model strider\nelement body\n"
    "lod\n"
    "bone root 0 rest 0 0 0 1 0 0 0 rootmotion\n"
    "bone spine 1 parent root rest 0 0 0 1 0 1 0\n"
    "bone arm 2 parent spine rest 0 0 0 1 0.5 0 0\n"
    "bone jaw 3 parent spine rest 0 0 0 1 0 0.5 0\n"
    "box 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\n";

// Two bones whose parents name each other.
const std::string kKnot =
    "model knot\nelement body\n"
    "lod\nbone a 0 parent b\nbone b 1 parent a\nbone c 2 parent a\nbox 0.5 0.5 0.5\n"
    "lod\nbox 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\n";

// Keys for every channel of a bone's track: translation, rotation frames
// and scale 2 (which the blend never keeps).
std::string spineTrack(const std::string& rz, const std::string& rw) {
    return "track spine 0 2\nchannel tx 0 0\nchannel ty 0 1\nchannel tz 0 0\n"
           "channel sx 0 2\nchannel sy 0 2\nchannel sz 0 2\n"
           "channel rx 0 0\nchannel ry 0 0\nchannel rz 0 " + rz + "\nchannel rw 0 " + rw + "\n";
}

// 65 events on frame 1: one more than the event bits track.
std::string manyEvents() {
    std::string lines = "anim strider.many 3 loop\n" + spineTrack("0 0 0", "1 1 1");
    for (int i = 0; i < 65; ++i) lines += "event 1 1 probe=" + std::to_string(i) + "\n";
    return lines;
}

const std::string kAnimations =
    // 0, 90 and 180 degrees about z over three frames.
    "anim strider.turn 3 loop\n" + spineTrack("0 0.70710678 1", "1 0.70710678 0") +
    "track jaw 0 2\nchannel tx 0 0\nchannel ty 0 0.5\nchannel tz 0 0\n"
    "channel rx 0 0\nchannel ry 0 0\nchannel rz 0 1\nchannel rw 0 0\n"
    // Two frames, the spine at 90 degrees in the second.
    "anim strider.step 2 loop\n" + spineTrack("0 0.70710678", "1 0.70710678") +
    // The spine held at 90 degrees about z, written on the far hemisphere.
    "anim strider.far 2 loop\n" + spineTrack("-0.70710678 -0.70710678", "-0.70710678 -0.70710678") +
    // The spine held at its rest.
    "anim strider.rest 2 loop\n" + spineTrack("0 0", "1 1") +
    // The root walks one unit a frame.
    "anim strider.move 3 loop\ntrack root 0 2\nchannel tx 0 0 1 2\nchannel ty 0 0\nchannel tz 0 0\n"
    "channel rx 0 0\nchannel ry 0 0\nchannel rz 0 0\nchannel rw 0 1\n"
    // Events on a rest pose: probes log their dispatch as invalid codes.
    "anim strider.events 5 loop\n" + spineTrack("0 0", "1 1") +
    "event 1 1 probe=same\nevent 2 3 probe=span\nevent 1 1 sound=clank\n"
    // One frame: the spine held at 90 degrees.
    "anim strider.pose 1 loop\n" + spineTrack("0.70710678", "0.70710678") +
    manyEvents() +
    // Sparks attached on the spine while it plays, lit from frame 1 to 2.
    "anim strider.sparkle 5 loop\n" + spineTrack("0 0", "1 1") +
    "attach sparks fx_sparks spine at 0 0.5 0\nevent 1 2 particle=sparks\n"
    "map default\nmapbone jaw 1 0 0 1 0\n";

// The animations and the effect their attached sparks are made of.
std::vector<testing_support::FixtureFile> animationAndEffectFiles() {
    std::vector<testing_support::FixtureFile> files = animation_tests::animationFiles(kAnimations);
    std::string error;
    const std::string effect = particle_tools::effectFileBytes("name fx_sparks\nlayer spark\nrate 10\n", error);
    EXPECT_FALSE(effect.empty()) << error;
    files.push_back({".effect", "fx_sparks", effect, ""});
    return files;
}

class ModelAnimationTest : public ::testing::Test {
protected:
    Model* pushed(const char* name, const char* resource = "strider") {
        auto* model =
            static_cast<Model*>(world.scene->createModel(resource, name, matrix34Identity(), 0));
        EXPECT_NE(model, nullptr);
        if (!model) return nullptr;
        EXPECT_TRUE(model->push());
        // What the culling sets for a model on screen.
        model->stateWords[0] |= kModelDrawnThisFrame;
        return model;
    }
    // One fixed step through the model's per-frame passes.
    static void frame(Model& model, double step) {
        const CurrentTime time(step);
        model.prepareFrame(time, 0);
        model.updateFrame(time, 0);
    }
    static SkeletonBone& bone(Model& model, const char* name) {
        const std::int32_t index = model.findBone(name);
        EXPECT_GE(index, 0) << name;
        return model.animation.skeleton.bones.at(static_cast<std::size_t>(std::max(index, 0)));
    }
    static AnimationInstance& newest(Model& model) { return *model.animation.body().instances().back(); }
    std::size_t count(const std::string& text) {
        std::size_t n = 0;
        for (const LogRecord& record : core.log().records())
            if (record.text.find(text) != std::string::npos) ++n;
        return n;
    }

    ScopedGameCore core;
    RenderCore render;
    testing_support::ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
    AnimationCore animations;
    testing_support::ScopedCoreMember<AnimationCore> useAnimations{gameCore.animation, &animations};
    CameraScene world{{kStrider, kKnot}, animationAndEffectFiles()};
};

void expectRows(const Matrix34& m, const float (&rows)[12], const char* what) {
    for (int i = 0; i < 12; ++i) EXPECT_NEAR(m.m[i], rows[i], 1e-4f) << what << " element " << i;
}

TEST_F(ModelAnimationTest, TheSkeletonPlacesParentsFirstAndComposesWorldMatrices) {
    Model* model = pushed("strider1");
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->animation.skeleton.bones.size(), 4u);
    ASSERT_TRUE(model->playSequence("[strider.turn]"));
    frame(*model, 0.04);  // 3 frames: position 0.5 is frame 1 exactly
    const Skeleton& skeleton = model->animation.skeleton;
    std::vector<std::string> order;
    for (std::int32_t index : skeleton.order) order.push_back(skeleton.bones[std::size_t(index)].name);
    EXPECT_EQ(order, (std::vector<std::string>{"root", "spine", "arm", "jaw"}));
    EXPECT_DOUBLE_EQ(newest(*model).position, 0.5);
    // 90 degrees about z at the rest position (0, 1, 0); the keyed scale 2
    // is not kept.
    const float spine[12] = {0, 1, 0, -1, 0, 0, 0, 0, 1, 0, 1, 0};
    expectRows(bone(*model, "spine").world, spine, "spine");
    // The arm is not animated: its rest offset turns with the spine.
    const float arm[12] = {0, 1, 0, -1, 0, 0, 0, 0, 1, 0, 1.5f, 0};
    expectRows(bone(*model, "arm").world, arm, "arm");
    // The jaw has a track, but the map gives it to the face: the body
    // leaves it at its rest.
    const float jawAtRest[12] = {0, 1, 0, -1, 0, 0, 0, 0, 1, -0.5f, 1, 0};
    expectRows(bone(*model, "jaw").world, jawAtRest, "jaw");
    // The skin takes the spine's pose: a point one unit along x from the
    // spine's rest position turns up to (0, 2, 0).
    model->stateWords[0] |= kModelPaletteRefresh;
    model->updateDeferred();
    ModelElementLod& lod = model->elements.at(0).lods[0];
    const std::int32_t slot = model->animation.skeleton.find("spine");
    ASSERT_GE(slot, 0);
    std::size_t meshIndex = 0;
    while (meshIndex < lod.boneIndices.size() && lod.boneIndices[meshIndex] != slot) ++meshIndex;
    ASSERT_LT(meshIndex, lod.palette.size());
    const MeshMatrix& m = lod.palette[meshIndex];
    const float p[3] = {1, 1, 0};
    float out[3];
    for (int c = 0; c < 3; ++c) out[c] = p[0] * m.m[0][c] + p[1] * m.m[1][c] + p[2] * m.m[2][c] + m.m[3][c];
    EXPECT_NEAR(out[0], 0.0f, 1e-4f);
    EXPECT_NEAR(out[1], 2.0f, 1e-4f);
    EXPECT_NEAR(out[2], 0.0f, 1e-4f);
}

TEST_F(ModelAnimationTest, ATwoFramePassLastsOneTwentyFifthAndHoldsItsLastFrame) {
    Model* model = pushed("strider2");
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(model->playSequence("[strider.step]"));
    frame(*model, 0.04);
    AnimationInstance& step = newest(*model);
    // Exactly 1.0 stays: only values above 1 wrap.
    EXPECT_EQ(step.position, 1.0);
    EXPECT_EQ(step.frameA, 1);
    EXPECT_EQ(step.frameB, 2);  // past the track: its last frame is held
    const float spine[12] = {0, 1, 0, -1, 0, 0, 0, 0, 1, 0, 1, 0};
    expectRows(bone(*model, "spine").world, spine, "spine at the last frame");
    frame(*model, 0.02);
    EXPECT_DOUBLE_EQ(step.position, 0.5);
    EXPECT_TRUE(model->isAnimationPlaying());
}

TEST_F(ModelAnimationTest, AOneFrameAnimationHoldsItsFrameAndBadSpeedsAreRefused) {
    Model* model = pushed("strider13");
    ASSERT_NE(model, nullptr);
    // Sequences refuse an animation without duration; the stack's own
    // instances can still play one.
    EXPECT_FALSE(model->playSequence("[strider.pose]"));
    std::unique_ptr<AnimationInstance> slot;
    AnimationStack& body = model->animation.body();
    ASSERT_TRUE(body.createInstance(slot, "strider.pose", 1.0f, 0.0, kInstanceLoop, kBodyPart));
    AnimationInstance& pose = *slot;
    body.instances().push_back(std::move(slot));
    pose.blender.setHigh(1.0f);
    pose.blender.run();
    pose.blender.setStart(0.0, 0.0);
    model->animation.flags |= kAnimationHasInstances;
    EXPECT_FALSE(pose.setSpeed(std::nanf("")));
    EXPECT_FALSE(pose.setSpeed(INFINITY));
    EXPECT_EQ(pose.speed, 1.0f);
    for (int i = 0; i < 3; ++i) frame(*model, 0.04);
    EXPECT_EQ(pose.frameStep, 0.0);
    EXPECT_EQ(pose.position, 0.0);
    EXPECT_EQ(pose.frameA, 0);
    const float spine[12] = {0, 1, 0, -1, 0, 0, 0, 0, 1, 0, 1, 0};
    expectRows(bone(*model, "spine").world, spine, "spine");
}

TEST_F(ModelAnimationTest, AnInstanceDestroyedWhilePushedLeavesItsAnimation) {
    Model* model = pushed("strider14");
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(model->playSequence("[strider.turn]"));
    AnimationInstance& turn = newest(*model);
    ASSERT_TRUE(turn.flags & kInstancePushed);
    Y3AnimData* record = turn.animation;
    ASSERT_EQ(record->users.count(), 1u);
    turn.flags &= ~kInstanceInitialized;  // only the registration is left
    model->animation.body().instances().clear();
    EXPECT_TRUE(core.log().contains("Animation [strider.turn]->[strider14] (strider): Pop before desctructor call"));
    EXPECT_EQ(record->users.count(), 0u);
}

TEST_F(ModelAnimationTest, BlendWeightsAreNormalizedAndFarSamplesTakeTheShortArc) {
    Model* model = pushed("strider3");
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(model->playSequence("[strider.rest]"));
    frame(*model, 0.04);
    AnimationStack& body = model->animation.body();
    // A second instance beside the first, both at level 0.5.
    std::unique_ptr<AnimationInstance> slot;
    ASSERT_TRUE(body.createInstance(slot, "strider.far", 1.0f, 0.0, kInstanceLoop, kBodyPart));
    body.instances().push_back(std::move(slot));
    AnimationInstance& rest = *body.instances()[0];
    AnimationInstance& far = *body.instances()[1];
    ASSERT_TRUE(far.initialize());
    far.blender.run();
    far.frameA = far.frameB = 0;
    far.fraction = 0.0;
    rest.blender.level = far.blender.level = 0.5f;
    SkeletonBone& spine = bone(*model, "spine");
    const std::int32_t index = model->findBone("spine");
    BoneTransform pose = spine.rest;
    BoneTransform motion = BoneTransform::zero();
    ASSERT_TRUE(body.evaluateBone(pose, motion, spine.rest, index, spine.partWeights, 0));
    EXPECT_FLOAT_EQ(rest.weight, 0.5f);
    EXPECT_FLOAT_EQ(far.weight, 0.5f);
    // Half way to 90 degrees along the short arc: 45 degrees about z.
    EXPECT_NEAR(pose.rotation.z, std::sin(0.3926991f), 1e-4f) << pose.rotation.w;
    EXPECT_NEAR(pose.rotation.w, std::cos(0.3926991f), 1e-4f) << pose.rotation.z;
    for (float s : pose.scale) EXPECT_EQ(s, 1.0f);
    // A lone instance at 0.2 carries the whole weight.
    rest.blender.enabled = 0;
    far.blender.level = 0.2f;
    pose = spine.rest;
    ASSERT_TRUE(body.evaluateBone(pose, motion, spine.rest, index, spine.partWeights, 0));
    EXPECT_FLOAT_EQ(far.weight, 1.0f);
    EXPECT_NEAR(std::fabs(pose.rotation.z), 0.70710678f, 1e-4f);
}

TEST_F(ModelAnimationTest, RootMotionMovesTheModelAcrossALoopWithoutAJump) {
    Model* model = pushed("strider4");
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(model->playSequence("[strider.move]"));
    // One frame a step: positions 0.5, 1.0, then 0.5 of the next pass.
    std::vector<float> x;
    for (int i = 0; i < 4; ++i) {
        frame(*model, 0.04);
        x.push_back(model->worldMatrix.m[9]);
    }
    ASSERT_EQ(x.size(), 4u);
    EXPECT_NEAR(x[0], 0.0f, 1e-5f);
    EXPECT_NEAR(x[1], 1.0f, 1e-5f);
    EXPECT_NEAR(x[2], 2.0f, 1e-5f);  // the end of the pass, then its start: one unit
    EXPECT_NEAR(x[3], 3.0f, 1e-5f);
    // The root itself stays at its rest.
    EXPECT_NEAR(bone(*model, "root").world.m[9], 0.0f, 1e-5f);
}

TEST_F(ModelAnimationTest, EventsFireOnTheirFramesAboveLevelPointSeven) {
    Model* model = pushed("strider5");
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(model->playSequence("[strider.events]"));
    AnimationInstance& events = newest(*model);
    // 5 frames: 0.04 s is one frame. Crossing frame 1 fires "same" start and
    // end at once.
    struct Case {
        float level;
        std::size_t fired;
    };
    for (const Case c : {Case{0.7f, 0u}, Case{0.71f, 2u}}) {
        core.log().clear();
        events.rewind();
        events.fired.clearAll();
        events.pendingStart.clearAll();
        events.pendingEnd.clearAll();
        events.previousPosition = 0.0;
        events.position = 0.25;  // frame 1
        events.blender.setHigh(c.level);
        events.blender.setStart(0.0, 0.0);
        events.blender.update(CurrentTime(0.0));
        ASSERT_FLOAT_EQ(events.blender.level, c.level);
        // The pass looks at the interval the last advance made.
        events.update(CurrentTime(0.0), false);
        EXPECT_EQ(count("Invalid animation event code [probe] with arg [same]"), c.fired) << c.level;
    }
    // A start crossed below the threshold fires once the level rises.
    core.log().clear();
    events.fired.clearAll();
    events.blender.setHigh(0.5f);
    events.blender.setStart(0.0, 0.0);
    events.blender.update(CurrentTime(0.0));
    events.previousPosition = 0.25;
    events.position = 0.5;  // frames 1 to 2: "span" starts
    events.update(CurrentTime(0.0), false);
    EXPECT_EQ(count("with arg [span]"), 0u);
    EXPECT_TRUE(events.pendingStart.test(1));
    events.blender.setHigh(1.0f);
    events.blender.setStart(0.0, 0.0);
    events.blender.update(CurrentTime(0.0));
    events.previousPosition = events.position = 0.5;
    events.update(CurrentTime(0.0), false);
    EXPECT_EQ(count("with arg [span]"), 1u);
    EXPECT_TRUE(events.fired.test(1));
    EXPECT_FALSE(events.pendingStart.test(1));
}

// The animation's attached sparks are made on the model when it starts,
// paused, linked to their bone; its "particle" event runs them from its
// start frame to its end frame; a sequence that replaces the animation
// takes them away with its instance.
TEST_F(ModelAnimationTest, AttachedParticlesLiveWithTheirAnimationAndRunOnItsEvent) {
    // The event finds its particle in the game's current scene.
    SaveGame game;
    testing_support::ScopedCoreMember<SaveGame> useGame{gameCore.game, &game};
    game.scenes.push_back(world.scene->id);
    game.currentIndex = 0;
    Model* model = pushed("strider30");
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(model->playSequence("[strider.sparkle]"));
    frame(*model, 0.02);
    auto* sparks = dynamic_cast<Particle*>(world.scene->lookupParticle("strider30.sparks"));
    ASSERT_NE(sparks, nullptr);
    EXPECT_TRUE(core.log().contains("Pause particle [strider30.sparks] (fx_sparks)"));
    EXPECT_TRUE(sparks->state & kParticlePaused);
    EXPECT_EQ(sparks->link.parent().value, GameObjectLink::fromObject(model).value);
    EXPECT_STREQ(sparks->link.boneName(), "spine");
    EXPECT_FLOAT_EQ(sparks->link.pose().m[10], 0.5f);
    ASSERT_EQ(model->particles.size(), 1u);
    EXPECT_EQ(model->particles[0].value, GameObjectLink::fromObject(sparks).value);
    // Frame 1 (0.04 s) starts the event, frame 2 ends it; each update fires
    // what the advance before it crossed.
    frame(*model, 0.03);
    EXPECT_TRUE(sparks->state & kParticlePaused);
    frame(*model, 0.04);
    EXPECT_FALSE(sparks->state & kParticlePaused);
    frame(*model, 0.04);
    EXPECT_TRUE(sparks->state & kParticlePaused);
    EXPECT_TRUE(core.log().contains("Object [strider30] animation [strider.sparkle] event particle starts [strider30.sparks]"));
    EXPECT_TRUE(core.log().contains("event particle pauses [strider30.sparks]"));
    EXPECT_FALSE(core.log().contains("NOT found"));
    // Replaced by itself: the new instance shares the sparks, which stay
    // when the old one stops.
    ASSERT_TRUE(model->playSequence("[strider.sparkle]"));
    for (int i = 0; i < 50 && model->animation.body().instances().size() > 1; ++i) frame(*model, 0.04);
    ASSERT_EQ(model->animation.body().instances().size(), 1u);
    EXPECT_EQ(world.scene->lookupParticle("strider30.sparks"), sparks);
    ASSERT_EQ(model->particles.size(), 1u);
    // Replaced at once: the finished instance is stopped and its sparks go.
    ASSERT_TRUE(model->playSequence("[strider.rest]"));
    for (int i = 0; i < 50 && model->animation.body().instances().size() > 1; ++i) frame(*model, 0.04);
    ASSERT_EQ(model->animation.body().instances().size(), 1u);
    EXPECT_EQ(world.scene->lookupParticle("strider30.sparks"), nullptr);
    EXPECT_TRUE(model->particles.empty());
}

// At 60 updates a second several updates fall on one frame of a 25-frame
// animation: an event that starts and ends on a frame still fires once a
// pass, and one that spans frames starts and ends once.
TEST_F(ModelAnimationTest, AnEventFiresOnceAPassWhateverTheUpdateRate) {
    Model* model = pushed("strider31");
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(model->playSequence("[strider.events x10]"));
    core.log().clear();
    // 0.16 s a pass: frame 1 is entered at 0.04, 0.2 and 0.36 s.
    for (int i = 0; i < 30; ++i) frame(*model, 1.0 / 60.0);
    // Each firing logs its start and its end.
    EXPECT_EQ(count("Invalid animation event code [probe] with arg [same]"), 6u);
    EXPECT_EQ(count("Invalid animation event code [probe] with arg [span]"), 6u);
}

TEST_F(ModelAnimationTest, EventsPastTheSixtyFourthAreReportedOnEveryPass) {
    Model* model = pushed("strider15");
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(model->playSequence("[strider.many]"));
    AnimationInstance& many = newest(*model);
    for (int pass = 1; pass <= 2; ++pass) {
        many.previousPosition = 0.0;
        many.position = 0.5;  // frames 0 to 1
        many.fired.clearAll();
        many.update(CurrentTime(0.0), false);
        EXPECT_EQ(count("Can't set bit 64: out of data range [0..64]"), std::size_t(pass));
        EXPECT_EQ(count("with arg [63]"), std::size_t(pass) * 2);  // start and end of the last tracked one
        EXPECT_EQ(count("with arg [64]"), 0u);
    }
}

TEST_F(ModelAnimationTest, EventSoundsAreReleasedAtTheLastFrameAndRearmedAtTheFirst) {
    Model* model = pushed("strider6");
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(model->playSequence("[strider.events]"));
    AnimationInstance& events = newest(*model);
    // Frame 1 plays the sound in the instance's own group.
    events.previousPosition = 0.25;
    events.position = 0.25;
    events.update(CurrentTime(0.0), false);
    EXPECT_TRUE(events.flags & kInstanceSoundsPlaying);
    EXPECT_EQ(std::strlen(events.soundGroup()), 8u);
    // The last frame releases them.
    events.previousPosition = 0.75;
    events.position = 1.0;
    events.update(CurrentTime(0.0), false);
    EXPECT_FALSE(events.flags & kInstanceSoundsPlaying);
    // Passing frame 0 again re-arms the release: the next pass plays its
    // sound and its last frame releases it once more.
    for (int pass = 2; pass <= 3; ++pass) {
        SCOPED_TRACE(pass);
        events.previousPosition = 0.0;
        events.position = 0.25;
        events.update(CurrentTime(0.0), false);
        EXPECT_TRUE(events.flags & kInstanceSoundsPlaying);
        events.previousPosition = 0.75;
        events.position = 1.0;
        events.update(CurrentTime(0.0), false);
        EXPECT_FALSE(events.flags & kInstanceSoundsPlaying);
    }
    // Another instance has a group of its own.
    std::unique_ptr<AnimationInstance> other;
    ASSERT_TRUE(model->animation.body().createInstance(other, "strider.events", 1.0f, 0.0, 0, kBodyPart));
    EXPECT_STRNE(other->soundGroup(), events.soundGroup());
    // "release_sounds" without an instance does nothing.
    EXPECT_TRUE(Model::onAnimationEvent(nullptr, model, "release_sounds", CurrentTime(0.0), 0, true));
}

TEST_F(ModelAnimationTest, EventTextsAreSplitAndFootstepsNamedFromTheirType) {
    Model* model = pushed("strider7");
    ASSERT_NE(model, nullptr);
    struct Case {
        const char* text;
        bool result;
        const char* logged;
    };
    for (const Case c : {Case{"=x", false, "Invalid animation event code [=x] with arg []"},
                         Case{"footstep=hop", false, "Invalid animation footstep type [hop]"},
                         Case{"footstep=turn", true, "Object [strider7] animation [none] event footstep [fs_default(male)t_##]"},
                         Case{"footstep=left", true, "event footstep [fs_default(male)l_##]"},
                         Case{"sound=clank", true, "Object [strider7] animation [none] event sound [clank]"}}) {
        core.log().clear();
        EXPECT_EQ(Model::onAnimationEvent(nullptr, model, c.text, CurrentTime(0.0), 0, true), c.result) << c.text;
        EXPECT_TRUE(core.log().contains(c.logged)) << c.text;
    }
}

TEST_F(ModelAnimationTest, AParentCycleIsBrokenWithAMessage) {
    Model* model = pushed("knot1", "knot");
    ASSERT_NE(model, nullptr);
    frame(*model, 0.04);
    const Skeleton& skeleton = model->animation.skeleton;
    ASSERT_EQ(skeleton.order.size(), 3u);
    EXPECT_TRUE(core.log().contains("parent cycle of bones"));
    // c comes after its parent a.
    std::vector<std::string> order;
    for (std::int32_t index : skeleton.order) order.push_back(skeleton.bones[std::size_t(index)].name);
    EXPECT_LT(std::find(order.begin(), order.end(), "a"), std::find(order.begin(), order.end(), "c"));
}

TEST_F(ModelAnimationTest, SequencesReplaceAppendAndRestartTheirIdle) {
    Model* model = pushed("strider8");
    ASSERT_NE(model, nullptr);
    AnimationStack& body = model->animation.body();
    ASSERT_TRUE(model->playSequence("[strider.turn]"));
    ASSERT_EQ(body.instances().size(), 1u);
    // The first instance on an empty stack plays at full weight at once.
    EXPECT_EQ(newest(*model).blender.level, 1.0f);
    // A replacing push fades the old instance out; the new one fades in.
    ASSERT_TRUE(model->playSequence("0.2[strider.step]"));
    ASSERT_EQ(body.instances().size(), 2u);
    for (int i = 0; i < 10; ++i) frame(*model, 0.04);
    ASSERT_EQ(body.instances().size(), 1u);
    EXPECT_STREQ(newest(*model).name, "strider.step");
    // An idle sequence is kept and pushed again when it ends.
    AnimationSequence idle;
    ASSERT_TRUE(AnimationStackCompiler::compileSequence("&0[strider.rest 0.1]&0[strider.turn 0.1]", idle));
    ASSERT_TRUE(body.pushSequence(idle, kBodyPart, false, false, false));
    EXPECT_EQ(body.idleSequence.elements.size(), 2u);
    EXPECT_EQ(body.storedPart, kBodyPart);
    bool restarted = false;
    for (int i = 0; i < 30 && !restarted; ++i) {
        const std::size_t before = body.instances().size();
        frame(*model, 0.04);
        restarted = body.instances().size() > before;
    }
    EXPECT_TRUE(restarted);
    // A control push of the animation on top at its speed reuses it.
    AnimationInstance* top = body.instances().back().get();
    ASSERT_EQ(top->speed, 1.0f);
    AnimationSequence control;
    ASSERT_TRUE(AnimationStackCompiler::compileSequence(("[" + std::string(top->name) + "]").c_str(), control));
    const std::size_t size = body.instances().size();
    ASSERT_TRUE(body.pushSequence(control, kBodyPart, false, false, true));
    EXPECT_EQ(body.instances().back().get(), top);
    EXPECT_EQ(body.instances().size(), size);
    // Another animation on top is not taken up: it comes as a new instance.
    AnimationSequence other;
    const char* next = std::strcmp(top->name, "strider.turn") == 0 ? "[strider.rest]" : "[strider.turn]";
    ASSERT_TRUE(AnimationStackCompiler::compileSequence(next, other));
    ASSERT_TRUE(body.pushSequence(other, kBodyPart, false, false, true));
    EXPECT_NE(body.instances().back().get(), top);
}

// A sequence pushed over a playing one: each element rises over its blend
// period and fades as its successor rises.
TEST_F(ModelAnimationTest, EachElementRisesBeforeItsSuccessorTakesOver) {
    Model* model = pushed("strider33");
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(model->playSequence("[strider.rest]"));
    frame(*model, 0.04);
    ASSERT_TRUE(model->playSequence("0.2[strider.turn 0.4]0.2[strider.step]"));
    auto levelOf = [&](const char* name) {
        for (const auto& instance : model->animation.body().instances())
            if (std::strcmp(instance->name, name) == 0 && instance->blender.enabled) return instance->blender.level;
        return 0.0f;
    };
    struct Case {
        double at;  // seconds after the push
        float turn, step;
    };
    double t = 0.0;
    for (const Case c : {Case{0.1, 0.5f, 0.0f}, Case{0.2, 1.0f, 0.0f}, Case{0.4, 1.0f, 0.0f}, Case{0.5, 0.5f, 0.5f},
                         Case{0.6, 0.0f, 1.0f}}) {
        while (t < c.at - 1e-9) frame(*model, 0.02), t += 0.02;
        SCOPED_TRACE(c.at);
        EXPECT_NEAR(levelOf("strider.turn"), c.turn, 1e-3f);
        EXPECT_NEAR(levelOf("strider.step"), c.step, 1e-3f);
    }
}

// Two sequences pushed in one frame: the first, not yet risen, gives way
// to the second instead of rising beside it.
TEST_F(ModelAnimationTest, ASequenceReplacedBeforeItRoseGivesWay) {
    Model* model = pushed("strider32");
    ASSERT_NE(model, nullptr);
    AnimationStack& body = model->animation.body();
    ASSERT_TRUE(model->playSequence("[strider.turn]"));
    frame(*model, 0.04);
    ASSERT_TRUE(model->playSequence("0.2[strider.step x100]"));
    ASSERT_TRUE(model->playSequence("0.2[strider.rest x100]"));
    for (int i = 0; i < 20; ++i) frame(*model, 0.04);
    ASSERT_EQ(body.instances().size(), 1u);
    EXPECT_STREQ(newest(*model).name, "strider.rest");
}

TEST_F(ModelAnimationTest, TheRandomDirectionIsBackwardInSixDrawsOfTen) {
    Model* model = pushed("strider9");
    ASSERT_NE(model, nullptr);
    std::srand(7);
    int backward = 0;
    const int draws = 2000;
    for (int i = 0; i < draws; ++i) {
        std::unique_ptr<AnimationInstance> slot;
        ASSERT_TRUE(model->animation.body().createInstance(slot, "strider.turn", 1.0f, 0.0,
                                                            kInstanceRandomDirection, kBodyPart));
        if (slot->direction < 0.0f) ++backward;
    }
    EXPECT_NEAR(double(backward) / draws, 0.6, 0.04);
}

TEST_F(ModelAnimationTest, TheAnimationStateSavesAndLoadsByteForByte) {
    Model* model = pushed("strider10");
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(model->playSequence("[strider.turn][strider.step]"));
    for (int i = 0; i < 3; ++i) frame(*model, 0.03);
    MemoryStream first;
    ASSERT_GT(model->animation.write(first), 0);
    Model* copy = pushed("strider11");
    ASSERT_NE(copy, nullptr);
    first.setPosition(0);
    ASSERT_EQ(copy->animation.read(first), first.size());
    MemoryStream second;
    ASSERT_EQ(copy->animation.write(second), first.size());
    ASSERT_EQ(second.size(), first.size());
    for (std::int32_t i = 0; i < first.size(); ++i)
        ASSERT_EQ(first.data()[i], second.data()[i]) << "byte " << i << " of " << first.size();
    // The loaded instances are not registered and re-bind at the next
    // frame.
    for (const auto& instance : copy->animation.body().instances())
        EXPECT_FALSE(instance->flags & kInstancePushed);
    EXPECT_TRUE(copy->animation.skeleton.flags & kSkeletonReorder);
}

TEST_F(ModelAnimationTest, ASavedNameNoPackageHoldsMakesAnEmptyRecord) {
    Model* model = pushed("strider12");
    ASSERT_NE(model, nullptr);
    AnimationInstance lost(model, nullptr, "nowhere.anim", 0);
    MemoryStream stream;
    ASSERT_GT(lost.write(stream), 0);
    // A name longer than 127 characters is damaged input.
    MemoryStream damaged;
    writeU16(damaged, 200);
    damaged.write(std::string(200, 'a').data(), 200);
    stream.setPosition(0);
    AnimationInstance* slot = nullptr;
    ASSERT_GT(AnimationInstance::read(stream, slot, model), 0);
    ASSERT_NE(slot, nullptr);
    std::unique_ptr<AnimationInstance> made(slot);
    EXPECT_STREQ(made->name, "nowhere.anim");
    EXPECT_NE(animations.animations().findRecord("nowhere.anim"), nullptr);
    EXPECT_FALSE(made->initialize());  // nothing to load: invalid
    EXPECT_TRUE(made->flags & kInstanceInvalid);
    damaged.setPosition(0);
    AnimationInstance* none = nullptr;
    EXPECT_LT(AnimationInstance::read(damaged, none, model), 0);
    EXPECT_EQ(none, nullptr);
}

// Scripts that push faster than the blends fade: an idle of two short
// elements, one of two zero-length elements (restarting every frame), and
// a sequence every 0.75 s. Each push fades out what plays; the stack keeps
// only what still weighs, however long it runs.
TEST(ModelAnimationScript, PushesFasterThanTheirBlendsLeaveABoundedStack) {
    testing_support::ScopedGameCore core;
    RenderCore render;
    testing_support::ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
    AnimationCore animations;
    testing_support::ScopedCoreMember<AnimationCore> useAnimations{gameCore.animation, &animations};
    std::vector<testing_support::FixtureFile> files = model_test::modelFiles(kStrider);
    for (auto& file : animation_tests::animationFiles(kAnimations)) files.push_back(file);
    testing_support::ControllerWorld w{files};
    struct Case {
        const char* name;
        const char* script;  // run once, then every `every` seconds when set
        double every;
        std::size_t bound;
    };
    const Case cases[] = {
        {"idler", "o:sequence_idle('[strider.rest 0.4][strider.turn 0.4]')", 0.0, 6},
        {"blinker", "o:sequence_idle('[strider.rest 0][strider.turn 0]')", 0.0, 6},
        {"fidget", "o:sequence('[strider.step]')", 0.75, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto* model = static_cast<Model*>(w.scene->createModel("strider", c.name, matrix34Identity(), 0));
        ASSERT_NE(model, nullptr);
        ASSERT_TRUE(model->push());
        ASSERT_TRUE(w.f.lua.load(std::string("o = world:object('") + c.name + "')"));
        ASSERT_TRUE(w.f.lua.load(c.script));
        const double step = 1.0 / 60.0;
        double sincePush = 0.0;
        std::size_t most = 0;
        for (int i = 0; i < 60 * 60; ++i) {
            w.scene->updatePhase0(CurrentTime(step), 0);
            w.scene->updatePhase1(CurrentTime(step), 0);
            sincePush += step;
            if (c.every > 0.0 && sincePush >= c.every) {
                sincePush = 0.0;
                ASSERT_TRUE(w.f.lua.load(c.script));
            }
            ASSERT_TRUE(w.f.lua.load("n = tostring(o:animation_count())"));
            most = std::max<std::size_t>(most, std::stoul(w.f.lua.global("n")));
        }
        EXPECT_LE(most, c.bound);
        // Still playing, and still moving the spine.
        EXPECT_GE(model->animation.body().instances().size(), 1u);
        EXPECT_TRUE(model->animation.body().instances().back()->blender.enabled);
    }
}

}  // namespace

#include "platform/sound/DirectSound.h"
#include "sound/BankSound.h"
#include "sound/Sound.h"
#include "sound/SoundFixture.h"

namespace {

// Two striders in a scene with sound on the null output: each plays the
// events walk, whose "sound=clank" plays in its instance's own group.
class AnimationSoundTest : public ::testing::Test {
protected:
    AnimationSoundTest() {
        platform::dsound::Environment environment;
        environment.output = platform::dsound::OutputKind::Null;
        platform::dsound::setEnvironment(environment);
        EXPECT_TRUE(sound.initialize());
    }
    ~AnimationSoundTest() override {
        sound.releaseAll();
        platform::dsound::setEnvironment(platform::dsound::Environment());
    }
    static std::vector<testing_support::FixtureFile> files() {
        std::vector<testing_support::FixtureFile> all = animation_tests::animationFiles(kAnimations);
        all.push_back(sound_fixture::oggFile("clank", "effect",
                                             sound_fixture::oggBytes("length 2.0\ntone 440 2.0\n")));
        return all;
    }
    Model* pushed(const char* name) {
        auto* model = static_cast<Model*>(world.scene->createModel("strider", name, matrix34Identity(), 0));
        EXPECT_NE(model, nullptr);
        if (!model) return nullptr;
        EXPECT_TRUE(model->push());
        model->stateWords[0] |= kModelDrawnThisFrame;
        return model;
    }

    ScopedGameCore core;
    RenderCore render;
    testing_support::ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
    AnimationCore animations;
    testing_support::ScopedCoreMember<AnimationCore> useAnimations{gameCore.animation, &animations};
    CameraScene world{{kStrider}, files()};
    SoundCore sound;
    testing_support::ScopedCoreMember<SoundCore> useSound{gameCore.sound, &sound};
};

TEST_F(AnimationSoundTest, StoppingAnInstanceStopsOnlyItsOwnSoundGroup) {
    Model* first = pushed("strider20");
    Model* second = pushed("strider21");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(first->playSequence("[strider.events]"));
    ASSERT_TRUE(second->playSequence("[strider.events]"));
    // Each strider steps until its "clank" plays (the event on frame 1 of
    // 5): first one, then the other, so that each one's sounds are known.
    const std::vector<Sound*>& effects = sound.globalSounds(SoundChannelEffect);
    auto stepUntilHeard = [&](Model* model) {
        const std::size_t before = effects.size();
        for (int i = 0; i < 8 && effects.size() == before; ++i) {
            const CurrentTime time(0.04);
            model->prepareFrame(time, 0);
            model->updateFrame(time, 0);
        }
        return std::vector<Sound*>(effects.begin() + std::ptrdiff_t(before), effects.end());
    };
    const std::vector<Sound*> firstSounds = stepUntilHeard(first);
    const std::vector<Sound*> secondSounds = stepUntilHeard(second);
    ASSERT_FALSE(firstSounds.empty());
    ASSERT_FALSE(secondSounds.empty());
    AnimationInstance& mine = *first->animation.body().instances().back();
    AnimationInstance& theirs = *second->animation.body().instances().back();
    EXPECT_STRNE(mine.soundGroup(), theirs.soundGroup());
    mine.stop();
    EXPECT_EQ(effects, secondSounds);
    theirs.stop();
    EXPECT_TRUE(effects.empty());
}

}  // namespace
