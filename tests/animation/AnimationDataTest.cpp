// Animation files and their events: loading through the animation
// manager, the event clamp, the ".events" lines, the channel rule and the
// refusal of damaged files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "animation/AnimationData.h"
#include "animation/AnimationDataManager.h"
#include "animation/AnimationTestSupport.h"
#include "foundation/DataStream.h"

using namespace animation_tests;
using resource_tests::storedFile;

namespace {

std::string walkBytes() { return animationFiles(kWalkDescription)[0].bytes; }

void putWord(std::string& bytes, std::size_t offset, std::uint32_t value) {
    std::memcpy(bytes.data() + offset, &value, 4);
}

TEST(AnimationData, TheWritersLoopingWalkLoadsWithItsEvents) {
    AnimationFixture f(animationFiles(kWalkDescription));
    ASSERT_TRUE(f.packages.built());
    Y3AnimData* record = f.animations().getOrCreate("hero.walk", true);
    ASSERT_TRUE(f.animations().loadHeader(record));
    EXPECT_TRUE(record->has(kResourceHeaderLoaded));
    EXPECT_FALSE(record->has(kResourceUnavailable));
    const AnimationData& data = *record->data;
    EXPECT_EQ(data.frameCount, 26);
    EXPECT_EQ(data.flags, kAnimationLoop);
    EXPECT_DOUBLE_EQ(data.duration(), 1.0);
    ASSERT_EQ(data.tracks.size(), 1u);
    EXPECT_STREQ(data.tracks[0].boneName, "root");
    EXPECT_EQ(data.tracks[0].lastFrame, 25);
    EXPECT_EQ(data.values.size(), 27u);
    float value = 0.0f;
    ASSERT_TRUE(data.channelValue(data.tracks[0], data.tracks[0].translation[0], 25, value));
    EXPECT_FLOAT_EQ(value, 1.0f);
    ASSERT_TRUE(data.channelValue(data.tracks[0], data.tracks[0].rotation[3], 12, value));
    EXPECT_FLOAT_EQ(value, 1.0f);
    EXPECT_FALSE(data.channelValue(data.tracks[0], data.tracks[0].scale[0], 12, value));
    // The file's event first, then the ".events" text's.
    ASSERT_EQ(data.events.size(), 2u);
    EXPECT_STREQ(data.events[0].name, "footstep_left");
    EXPECT_EQ(data.events[0].from, 3);
    EXPECT_EQ(data.events[0].to, 7);
    EXPECT_STREQ(data.events[1].name, "footstep_right");
    EXPECT_EQ(data.events[1].from, 16);
    EXPECT_EQ(data.events[1].to, 20);
}

TEST(AnimationData, FlagsAboveTheLowFourBitsRefuseTheFile) {
    AnimationFixture f(animationFiles("anim bad 10 flags 16\n"));
    Y3AnimData* record = f.animations().getOrCreate("bad", true);
    EXPECT_FALSE(f.animations().loadHeader(record));
    EXPECT_TRUE(f.logged("Animation flags format invalid. Please re-export this animation"));
    EXPECT_TRUE(f.logged("Fail read animation data [bad] header"));
    EXPECT_EQ(record->data, nullptr);
    EXPECT_TRUE(record->has(kResourceUnavailable));
}

TEST(AnimationData, EventsOutsideTheFrameRangeAreMovedIntoIt) {
    AnimationFixture f(animationFiles("anim ten 10\nevent -5 4 early\nevent 2 12 late\n"
                                      "anim empty 0\nevent 0 0 none\n"));
    Y3AnimData* ten = f.animations().getOrCreate("ten", true);
    ASSERT_TRUE(f.animations().loadHeader(ten));
    EXPECT_EQ(ten->data->events[0].from, 0);
    EXPECT_EQ(ten->data->events[1].to, 9);
    EXPECT_TRUE(f.logged("Invalid animation event range [ten][0:early] range: from=-5, but must be in range [0..9]. "
                         "Changed to 0"));
    EXPECT_TRUE(f.logged("Invalid animation event range [ten][1:late] range: to=12, but must be in range [0..9]. "
                         "Changed to 9"));
    // No frame at all: every event ends at -1.
    Y3AnimData* empty = f.animations().getOrCreate("empty", true);
    ASSERT_TRUE(f.animations().loadHeader(empty));
    EXPECT_EQ(empty->data->events[0].from, -1);
    EXPECT_EQ(empty->data->events[0].to, -1);
    EXPECT_TRUE(f.logged("[empty][0:none] range: to=0, but must be in range [0..-1]. Changed to -1"));
}

TEST(AnimationData, EventLinesAreTakenOnlyInTheirExactForm) {
    struct Case {
        const char* text;
        std::vector<std::string> names;  // "name from to"
    };
    const Case cases[] = {
        {"12..30 footstep\n", {"footstep 12 30"}},
        {"5..9 footstep\n5.9 x\n5..9  x\na..9 x\n", {"footstep 5 9"}},
        {"3..4 a\r\n", {"a 3 4"}},
        {"3..4 a\r", {}},
        {"3..4 a", {}},
        {"3..4 two words\tcut\n", {"two words 3 4"}},
        {"1..2 \n1...2 x\n1..2x\n..2 x\n1.. x\n-1..2 x\n", {}},
        {"1..2 \x7F\n1..2 \x80x\n", {"\x7F 1 2"}},
        {"7..8 first\n\n9..10 second\n", {"first 7 8", "second 9 10"}},
        {"99999999999..1 big\n", {"big 2147483647 1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        AnimationData data;
        data.parseEvents(c.text);
        std::vector<std::string> names;
        for (const AnimationEvent& event : data.events)
            names.push_back(std::string(event.name) + " " + std::to_string(event.from) + " " + std::to_string(event.to));
        EXPECT_EQ(names, c.names);
    }
    AnimationData data;
    data.parseEvents("1..2 " + std::string(200, 'n') + "\n");
    ASSERT_EQ(data.events.size(), 1u);
    EXPECT_EQ(std::strlen(data.events[0].name), 127u);
}

TEST(AnimationData, AChannelHoldsItsFirstValueBeforeAndItsLastAfter) {
    AnimationData data;
    data.values.resize(105);
    for (std::size_t i = 0; i < data.values.size(); ++i) data.values[i] = static_cast<float>(i);
    AnimationTrack track;
    track.firstFrame = 0;
    track.lastFrame = 100;
    const AnimationChannel channel{10, 100, 104};
    const std::pair<std::int32_t, float> cases[] = {{-3, 100}, {0, 100},  {10, 100}, {11, 101},
                                                    {12, 102}, {14, 104}, {50, 104}, {200, 104}};
    for (auto [frame, expected] : cases) {
        SCOPED_TRACE(frame);
        float value = -1.0f;
        ASSERT_TRUE(data.channelValue(track, channel, frame, value));
        EXPECT_EQ(value, expected);
    }
    // A track starting later counts frames from its first frame.
    track.firstFrame = 20;
    float value = -1.0f;
    ASSERT_TRUE(data.channelValue(track, channel, 32, value));
    EXPECT_EQ(value, 102.0f);
}

TEST(AnimationData, DamagedFilesAreRefusedWithAMessage) {
    // Offsets in the walk: the tx channel's last index at 20, the bone name
    // length at 144, the value count at 152, the element count at 264, the
    // event count at 268.
    struct Case {
        const char* what;
        std::size_t offset;
        std::uint32_t value;
        const char* message;
    };
    const Case cases[] = {
        {"index past the pool", 20, 27, "reads values 0..27 of a pool of 27"},
        {"last index before first", 20, 0xFFFFFFFEu, "reads values 0..-2 of a pool of 27"},
        {"track count", 8, 0x7FFFFFFF, "tracks do not fit in the file"},
        {"name length", 144, 128, "a bone name is longer than 127 characters"},
        {"value count", 152, 0x40000000, "values do not fit in the file"},
        {"element count", 264, 3, "sequence elements do not fit in the file"},
        {"event count", 268, 0xFFFFFFFFu, "events do not fit in the file"},
        {"frame count", 0, 0x80000000u, "frame count -2147483648"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = walkBytes();
        putWord(bytes, c.offset, c.value);
        AnimationFixture f({storedFile(".ani4", "broken", bytes)});
        Y3AnimData* record = f.animations().getOrCreate("broken", true);
        EXPECT_FALSE(f.animations().loadHeader(record));
        EXPECT_TRUE(f.logged(c.message));
        EXPECT_TRUE(f.logged("Fail read animation data [broken] header"));
        EXPECT_EQ(record->data, nullptr);
    }
    // Every cut of the file fails short of its end, never past it.
    const std::string whole = walkBytes();
    testing_support::ScopedGameCore core;
    for (std::size_t size = 0; size < whole.size(); ++size) {
        SCOPED_TRACE(size);
        MemoryStream stream(const_cast<char*>(whole.data()), static_cast<std::int32_t>(size));
        AnimationData data;
        EXPECT_LT(data.read(stream, "cut"), 0);
    }
}

TEST(AnimationData, RawNamesAlwaysEndInsideTheirFields) {
    std::string bytes = animationFiles("anim named 5\nevent 1 2 e\n")[0].bytes;
    // The event's name field (after the header, no track, an empty pool
    // and no element): fill all 128 bytes.
    const std::size_t eventAt = 12 + 4 + 4 + 4;
    std::memset(bytes.data() + eventAt, 'z', 128);
    AnimationFixture f({storedFile(".ani4", "named", bytes)});
    Y3AnimData* record = f.animations().getOrCreate("named", true);
    ASSERT_TRUE(f.animations().loadHeader(record));
    EXPECT_EQ(std::strlen(record->data->events[0].name), 127u);
}

}  // namespace
