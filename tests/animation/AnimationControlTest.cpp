// The control block of a walking model: its states, what marks them
// changed, switching it on and off, and its save record.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "animation/AnimationControl.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "support/TestSupport.h"

namespace {

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

}  // namespace
