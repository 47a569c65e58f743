// The control block of a walking model: its states, what marks them
// changed, switching it on and off, its save record, and the rules that
// choose what a character in a scene plays for its states.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "animation/AnimCtrlRules.h"
#include "animation/AnimationControl.h"
#include "animation/AnimationCore.h"
#include "animation/AnimationTestSupport.h"
#include "animation/ModelAnimation.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/MersenneTwister.h"
#include "model/Model.h"
#include "render/RenderCore.h"
#include "scene/CameraFixture.h"
#include "support/TestSupport.h"

namespace {

using testing_support::CameraScene;

TEST(AnimationControl, StatesMarkChangesAndWalkRunSwitches) {
    testing_support::ScopedGameCore core;
    AnimationControl block(nullptr);
    struct Step {
        const char* what;
        std::int32_t category, value;
        bool accepted;
        std::uint32_t changes;  // the change flags afterwards
    } steps[] = {
        {"a new stance", AC_STANCE, kStanceCrouch, true, kControlChanged},
        {"walking", AC_MOVEMENT, kMovementWalk, true, kControlChanged},
        {"walk to run", AC_MOVEMENT, kMovementRun, true, kControlChanged | kControlWalkToRun},
        {"the same run again", AC_MOVEMENT, kMovementRun, true, kControlChanged | kControlWalkToRun},
        {"a direction clears the switch", AC_DIRECTION, kDirectionLeft, true, kControlChanged},
        {"run to walk", AC_MOVEMENT, kMovementWalk, true, kControlChanged | kControlRunToWalk},
        {"an action past its table", AC_ACTION, 17, false, kControlChanged | kControlRunToWalk},
        {"a look past its table", AC_LOOK, 3, false, kControlChanged | kControlRunToWalk},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        const bool accepted = s.category == AC_MOVEMENT ? block.setMovement(s.value) : block.setState(s.category, s.value);
        EXPECT_EQ(accepted, s.accepted);
        EXPECT_EQ(block.changeFlags, s.changes);
    }
    EXPECT_TRUE(core.log().contains("invalid animation state AC_ACTION value"));
    EXPECT_TRUE(core.log().contains("invalid animation state AC_LOOK value"));
    EXPECT_EQ(block.state(AC_ACTION), 0);

    // Without a bound rules map nothing plays and the change stays noted;
    // switching on and off resets the choices and marks a change.
    block.changeFlags = 0;
    block.choice[AC_STANCE] = 3;
    block.setEnabled(true);
    EXPECT_EQ(block.choice[AC_STANCE], -2);
    EXPECT_EQ(block.changeFlags, 0u);
    EXPECT_FALSE(block.playControlSequence());
    block.setEnabled(false);
    EXPECT_EQ(block.changeFlags, kControlChanged);

    AnimationControl copy(nullptr);
    setAnimationControlState(copy, block);
    EXPECT_TRUE(copy.enabled());
    for (std::int32_t category = 0; category < kAnimationControlCategories; ++category)
        EXPECT_EQ(copy.state(category), block.state(category)) << category;
}

TEST(AnimationControl, ARecordRoundTripsAndARecordOutOfItsTablesIsRefused) {
    testing_support::ScopedGameCore core;
    AnimationControl block(nullptr);
    block.setState(AC_STANCE, kStanceItem);
    block.setMovement(kMovementRun);
    block.playTime[AC_ACTION] = 1.5f;
    std::strcpy(block.rulesName, "walker");
    MemoryStream stream;
    const std::int32_t size = block.write(stream);
    ASSERT_EQ(size, 90 + 6);
    std::vector<char> bytes(static_cast<std::size_t>(size));
    stream.setPosition(0);
    stream.read(bytes.data(), size);

    AnimationControl loaded(nullptr);
    MemoryStream in(bytes.data(), size);
    ASSERT_EQ(loaded.read(in), size);
    EXPECT_EQ(loaded.state(AC_STANCE), kStanceItem);
    EXPECT_EQ(loaded.state(AC_MOVEMENT), kMovementRun);
    EXPECT_FLOAT_EQ(loaded.actionTimer(), 1.5f);
    EXPECT_STREQ(loaded.rulesName, "walker");

    struct Case {
        const char* what;
        std::size_t at;
        std::uint32_t value;
        std::size_t bytes;
    } cases[] = {
        {"a direction past its table", 12, 9, 4},
        {"a negative look", 20, 0xFFFFFFFFu, 4},
        {"a rules name past its field", 88, 200, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<char> bad = bytes;
        std::memcpy(bad.data() + c.at, &c.value, c.bytes);
        AnimationControl target(nullptr);
        target.setState(AC_STANCE, kStanceCrouch);
        MemoryStream damaged(bad.data(), size);
        EXPECT_LT(target.read(damaged), 0);
        EXPECT_EQ(target.state(AC_STANCE), kStanceCrouch);
        EXPECT_STREQ(target.rulesName, "");
    }
    AnimationControl shortRead(nullptr);
    MemoryStream truncated(bytes.data(), 40);
    EXPECT_LT(shortRead.read(truncated), 0);
    EXPECT_EQ(shortRead.state(AC_STANCE), kStanceStand);
}

TEST(AnimationControl, RulesScoreTenForAStateNamedAloneAndOneForAShare) {
    const std::int32_t states[kAnimationControlCategories] = {kStanceStand, kMovementWalk, kDirectionForward, 0, 1};
    const std::uint32_t all = 0xFFFFFFFFu;
    struct Case {
        const char* what;
        std::uint32_t masks[kAnimationControlCategories];
        std::int32_t score;
    } cases[] = {
        {"every state alone", {1u << 1, 1u << 2, 1u << 1, 1u << 0, 1u << 1}, 50},
        {"every mask shared", {all, all, all, all, all}, 5},
        {"walk or run", {1u << 1, (1u << 2) | (1u << 3), 1u << 1, 1u << 0, 1u << 1}, 41},
        {"run alone misses", {1u << 1, 1u << 3, 1u << 1, 1u << 0, 1u << 1}, -1},
        {"an empty look mask misses", {all, all, all, all, 0}, -1},
    };
    for (const Case& c : cases) {
        AnimCtrlRule rule;
        std::copy(c.masks, c.masks + kAnimationControlCategories, rule.masks);
        EXPECT_EQ(rule.score(states), c.score) << c.what;
    }
    // A state outside the mask word never matches.
    AnimCtrlRule rule;
    std::fill(rule.masks, rule.masks + kAnimationControlCategories, all);
    const std::int32_t outside[kAnimationControlCategories] = {1, 32, 0, 0, -1};
    EXPECT_EQ(rule.score(outside), -1);
}

// Rules of the writer's looker: stances and two equal greetings.
const char* kRules =
    "ctrlrules looker\n"
    "ctrlrule stance stand * * * *\n"
    "ctrlelement looker.stand 0 1 0.2 0 1 1\n"
    "ctrlrule stance stand walk * * *\n"
    "ctrlelement looker.walk 2 1 0.3 0 2 0.5\n"
    "ctrlrule stance crouch * * * *\n"
    "ctrlelement looker.crouch 0 1 0.2 0 1 1\n"
    "ctrlrule stance stand_item * * * *\n"
    "ctrlelement looker.hold 0 1 0.2 0 1 1\n"
    "ctrlrule action * * * greeting *\n"
    "ctrlelement looker.wave 0 1 0.2 0 1.5 1\n"
    "ctrlrule action * * * greeting *\n"
    "ctrlelement looker.bow 0 1 0.2 0 1.5 1\n"
    // The rules of the object "special".
    "ctrlrules looker.special\n"
    "ctrlrule stance * * * * *\n"
    "ctrlelement looker.crouch 0 1 0.2 0 1 1\n"
    // No action rules at all.
    "ctrlrules quiet\n"
    "ctrlrule stance * * * * *\n"
    "ctrlelement looker.stand 0 1 0.2 0 1 1\n";

std::string controlAnimations() {
    using namespace animation_tests;
    std::string lines = lookerMap("looker") + kRules;
    for (const char* name : {"looker.stand", "looker.walk", "looker.crouch", "looker.wave", "looker.bow",
                             "looker.holdlamp"})
        lines += stillAnimation(name);
    return lines;
}

// A 176-byte element image: an animation name, a duration and a speed.
std::string elementBytes(const char* animation, double duration, double speed) {
    SequenceElement element;
    std::strcpy(element.animation, animation);
    element.duration = duration;
    element.speed = speed;
    return std::string(reinterpret_cast<const char*>(&element), sizeof(element));
}

std::string word(std::uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

// Rules files the writer cannot make: one stance rule with a damaged
// element, a name of 128 characters, and a rule count past the file.
std::vector<testing_support::FixtureFile> damagedRules() {
    const std::string masks = word(0xFFFFFFFFu) + word(0xFFFFFFFFu) + word(0xFFFFFFFFu) + word(0xFFFFFFFFu) +
                              word(0xFFFFFFFFu);
    const std::string empty = word(0) + word(0) + word(0) + word(0);
    std::string speed = std::string(1, '\x05') + "speed" + word(1) + masks + word(0) + word(1) +
                        elementBytes("looker.stand", 1.0, 0.0) + empty;
    std::string longName = std::string(1, '\x80') + std::string(128, 'n') + word(0) + empty;
    std::string count = std::string(1, '\x05') + "count" + word(1000000) + masks;
    return {resource_tests::storedFile(".adb", "speed", speed), resource_tests::storedFile(".adb", "long", longName),
            resource_tests::storedFile(".adb", "count", count)};
}

std::vector<testing_support::FixtureFile> controlFiles() {
    std::vector<testing_support::FixtureFile> files = animation_tests::animationFiles(controlAnimations());
    for (testing_support::FixtureFile& file : damagedRules()) files.push_back(std::move(file));
    return files;
}

class AnimationRulesTest : public ::testing::Test {
protected:
    AnimationRulesTest() { MersenneTwister::seed(4357); }

    Model* place(const char* name) {
        auto* model = static_cast<Model*>(world.scene->createModel("looker", name, matrix34Identity(), 0));
        EXPECT_NE(model, nullptr);
        if (model) EXPECT_TRUE(model->push());
        return model;
    }
    // The newest instance of a stack, or "".
    static std::string playing(Model& model, int stack) {
        const auto& instances = model.animation.stacks[stack].instances();
        return instances.empty() ? std::string() : std::string(instances.back()->name);
    }
    std::size_t count(const std::string& text) {
        std::size_t n = 0;
        for (const LogRecord& record : core.log().records())
            if (record.text.find(text) != std::string::npos) ++n;
        return n;
    }

    testing_support::ScopedGameCore core;
    RenderCore render;
    testing_support::ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
    AnimationCore animations;
    testing_support::ScopedCoreMember<AnimationCore> useAnimations{gameCore.animation, &animations};
    CameraScene world{{animation_tests::lookerModel("looker", "0.5"), animation_tests::lookerModel("lamp", "0.5")},
                      controlFiles()};
};

TEST_F(AnimationRulesTest, TheBestRuleOfTheStanceAndTheActionPlays) {
    Model* model = place("looker1");
    ASSERT_NE(model, nullptr);
    AnimationControl block(model);
    block.bindRules("looker");
    ASSERT_TRUE(block.controlFlags & kControlRulesBound);
    EXPECT_STREQ(block.rulesName, "looker");
    EXPECT_FALSE(block.playControlSequence());  // not enabled yet
    // The controller makes the block switched off (a change to play), then
    // switches it on.
    block.setEnabled(false);
    block.setEnabled(true);
    ASSERT_TRUE(block.playControlSequence());
    EXPECT_EQ(playing(*model, 0), "looker.stand");
    EXPECT_EQ(block.choice[AC_STANCE], 0);
    EXPECT_EQ(block.choice[AC_ACTION], -1);  // no action rule for none
    EXPECT_FLOAT_EQ(block.currentLength(), 1.0f);
    EXPECT_TRUE(model->animation.flags & kAnimationHasInstances);

    // A second call without a change plays nothing.
    const std::size_t instances = model->animation.body().instances().size();
    EXPECT_TRUE(block.playControlSequence());
    EXPECT_EQ(model->animation.body().instances().size(), instances);

    // The rule naming walk alone beats the one for any movement. Its
    // element's length is a multiple of its duration: 2 x 1 / 0.5.
    block.setMovement(kMovementWalk);
    ASSERT_TRUE(block.playControlSequence());
    EXPECT_EQ(playing(*model, 0), "looker.walk");
    EXPECT_EQ(block.choice[AC_STANCE], 1);
    EXPECT_FLOAT_EQ(block.currentLength(), 4.0f);
    EXPECT_FLOAT_EQ(block.blend[AC_STANCE], 0.3f);
    // Walk to run: the rule for any movement again, blending in over 1 s.
    block.setMovement(kMovementRun);
    EXPECT_TRUE(block.playControlSequence());
    EXPECT_EQ(block.choice[AC_STANCE], 0);
    EXPECT_EQ(playing(*model, 0), "looker.stand");
    EXPECT_FLOAT_EQ(block.blend[AC_STANCE], 1.0f);

    // Crouching while a movement rule was chosen: the stance gives way.
    block.choice[AC_MOVEMENT] = 1;
    block.setState(AC_STANCE, kStanceCrouch);
    EXPECT_TRUE(block.playControlSequence());
    EXPECT_EQ(block.choice[AC_STANCE], -1);
    // What plays keeps playing.
    EXPECT_EQ(playing(*model, 0), "looker.stand");
    block.choice[AC_MOVEMENT] = -2;
    block.setMovement(kMovementIdle);
    EXPECT_TRUE(block.playControlSequence());
    EXPECT_EQ(playing(*model, 0), "looker.crouch");

    // The action plays on the second stack with its category as part.
    block.setState(AC_ACTION, animationControlValueByName(AC_ACTION, "greeting"));
    ASSERT_TRUE(block.playControlSequence());
    const std::string action = playing(*model, 1);
    EXPECT_TRUE(action == "looker.wave" || action == "looker.bow") << action;
    EXPECT_EQ(model->animation.stacks[1].instances().back()->part, AC_ACTION);
    EXPECT_FLOAT_EQ(block.actionTimer(), 1.5f);

    // Switching off and on chooses again although no state changed.
    block.choice[AC_ACTION] = 7;
    block.setEnabled(false);
    block.setEnabled(true);
    EXPECT_EQ(block.choice[AC_ACTION], -2);
    EXPECT_TRUE(block.playControlSequence());
    EXPECT_GE(block.choice[AC_ACTION], 0);
}

TEST_F(AnimationRulesTest, EqualBestRulesAreChosenAboutHalfOfTheTime) {
    Model* model = place("looker1");
    ASSERT_NE(model, nullptr);
    AnimationControl block(model);
    block.bindRules("looker");
    block.setEnabled(true);
    block.setState(AC_ACTION, animationControlValueByName(AC_ACTION, "greeting"));
    int chosen[2] = {0, 0};
    for (int draw = 0; draw < 400; ++draw) {
        block.setEnabled(false);
        block.setEnabled(true);
        ASSERT_TRUE(block.playControlSequence());
        ASSERT_GE(block.choice[AC_ACTION], 0);
        ++chosen[block.choice[AC_ACTION]];
        model->animation.stacks[1].clear();
    }
    EXPECT_GT(chosen[0], 150);
    EXPECT_GT(chosen[1], 150);
}

TEST_F(AnimationRulesTest, StandItemPlaysTheAnimationNamedAfterTheCarriedObject) {
    Model* model = place("looker1");
    ASSERT_NE(model, nullptr);
    AnimationControl block(model);
    block.bindRules("looker");
    block.setEnabled(true);
    block.setState(AC_STANCE, kStanceItem);
    // Nothing carried: logged, false, nothing pushed.
    EXPECT_FALSE(block.playControlSequence());
    EXPECT_TRUE(core.log().contains("Stand Item require attached child object for model [looker1] (looker)"));
    EXPECT_TRUE(model->animation.body().instances().empty());

    auto* lamp = static_cast<Model*>(world.scene->createModel("lamp", "lamp", matrix34Identity(), 0));
    ASSERT_NE(lamp, nullptr);
    ASSERT_TRUE(lamp->link.set(nullptr, model, matrix34Identity()));
    block.setEnabled(false);
    block.setEnabled(true);
    ASSERT_TRUE(block.playControlSequence());
    EXPECT_EQ(playing(*model, 0), "looker.holdlamp");

    // A carried object without its animation.
    ASSERT_TRUE(lamp->checkUniqueName("torch"));
    block.setEnabled(false);
    block.setEnabled(true);
    EXPECT_FALSE(block.playControlSequence());
    EXPECT_TRUE(core.log().contains("Can't find animation [looker.holdtorch] for object [torch] (lamp)"));
}

TEST_F(AnimationRulesTest, AMissingOrDamagedRulesFileBindsOrPlaysNothing) {
    Model* model = place("looker1");
    ASSERT_NE(model, nullptr);
    AnimationControl block(model);
    for (int i = 0; i < 2; ++i) {
        block.bindRules("nosuch");
        EXPECT_FALSE(block.controlFlags & kControlRulesBound);
    }
    EXPECT_EQ(count("Resource file [nosuch.adb] not found"), 1u);
    EXPECT_EQ(count("Resource file [nosuch.looker1.adb] not found"), 0u);
    EXPECT_EQ(count("Object [looker1]: Required animation rules map [nosuch] for model [looker]"), 2u);
    block.setEnabled(true);
    EXPECT_FALSE(block.playControlSequence());

    for (const char* name : {"speed", "long", "count"}) {
        SCOPED_TRACE(name);
        AnimationControl damaged(model);
        damaged.bindRules(name);  // the file exists
        ASSERT_TRUE(damaged.controlFlags & kControlRulesBound);
        damaged.setEnabled(true);
        EXPECT_FALSE(damaged.playControlSequence());
        EXPECT_TRUE(core.log().contains(std::string("Failed read animation rules [") + name + "] data"));
        EXPECT_TRUE(core.log().contains(std::string("Fail read anim rules data [") + name + "] header"));
        EXPECT_FALSE(damaged.playControlSequence());  // unavailable now
    }
    EXPECT_TRUE(model->animation.body().instances().empty());

    // A table without action rules chooses no action.
    AnimationControl quiet(model);
    quiet.bindRules("quiet");
    quiet.setEnabled(true);
    quiet.setState(AC_ACTION, 1);
    ASSERT_TRUE(quiet.playControlSequence());
    EXPECT_EQ(quiet.choice[AC_ACTION], -1);
    EXPECT_EQ(quiet.choice[AC_STANCE], 0);
    EXPECT_TRUE(model->animation.stacks[1].instances().empty());
    AnimCtrlRulesData* record = animations.rules().loadRules("quiet", false);
    ASSERT_NE(record, nullptr);
    EXPECT_STREQ(record->data->name, "quiet");
    EXPECT_EQ(record->data->rules[AC_STANCE].size(), 1u);
    for (std::int32_t category : {AC_MOVEMENT, AC_DIRECTION, AC_ACTION, AC_LOOK})
        EXPECT_TRUE(record->data->rules[category].empty());
}

// A rules map of the object's own name comes first, unreported when absent.
TEST_F(AnimationRulesTest, TheObjectsOwnRulesMapIsBoundFirst) {
    Model* special = place("special");
    Model* plain = place("plain");
    ASSERT_TRUE(special && plain);
    AnimationControl own(special), shared(plain);
    own.bindRules("looker");
    shared.bindRules("looker");
    own.setEnabled(false);
    EXPECT_STREQ(own.rulesName, "looker.special");
    EXPECT_STREQ(shared.rulesName, "looker");
    EXPECT_EQ(count("looker.plain"), 0u);
    own.setEnabled(true);
    ASSERT_TRUE(own.playControlSequence());
    EXPECT_EQ(playing(*special, 0), "looker.crouch");
}

}  // namespace
