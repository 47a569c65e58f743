// The animation writer: the byte layout of the files it writes, and the
// lines it leaves to the model writer.
#include "model/AnimationWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using namespace model_tools;

AnimationDescription parse(const std::string& text, std::string* rest = nullptr) {
    AnimationDescription description;
    std::string others;
    std::string error;
    EXPECT_TRUE(parseAnimationLines(text, description, others, error)) << error;
    if (rest) *rest = others;
    return description;
}

TEST(AnimationWriter, FilesHaveTheirHandCountedSizes) {
    const AnimationDescription d = parse(
        "anim a 3 loop\ntrack bone 0 2\nchannel tx 0 1 2 3\nseqelement a 10 0.08 1 0 1 1\nevent 0 2 e\n"
        "sideevent 1 2 x\nmap m\nmapbone zeta 1 0 0 0 1\nmapbone alpha 0 0 0 1 0\n");
    ASSERT_EQ(d.animations.size(), 1u);
    // Header 12, one track 136 + 4 name bytes, pool 4 + 3 x 4, one element
    // 4 + 176, one event 4 + 136, two empty particle lists 8.
    const std::string ani = animationFileBytes(d.animations[0]);
    EXPECT_EQ(ani.size(), 12u + 140u + 16u + 180u + 140u + 8u);
    std::uint32_t words[3];
    std::memcpy(words, ani.data(), 12);
    EXPECT_EQ(words[0], 3u);
    EXPECT_EQ(words[1], 1u);
    EXPECT_EQ(words[2], 1u);
    // The element's name at 4 of its record, the event's at 0 of its.
    EXPECT_STREQ(ani.data() + 12 + 140 + 16 + 4 + 4, "a");
    EXPECT_STREQ(ani.data() + 12 + 140 + 16 + 180 + 4, "e");
    EXPECT_EQ(eventsFileBytes(d.animations[0]), "1..2 x\n");

    const std::string map = trackerMapBytes(d.maps[0]);
    ASSERT_EQ(map.size(), 4u + 2u * 148u);
    EXPECT_STREQ(map.data() + 4, "alpha");
    EXPECT_STREQ(map.data() + 4 + 148, "zeta");
    float weight = 0.0f;
    std::memcpy(&weight, map.data() + 4 + 128 + 12, 4);
    EXPECT_EQ(weight, 1.0f);
}

TEST(AnimationWriter, OtherLinesStayInPlaceForTheModelWriter) {
    std::string rest;
    parse("model boat\nanim rock 5\nelement hull # comment\n", &rest);
    EXPECT_EQ(rest, "model boat\n\nelement hull # comment\n");
    AnimationDescription description;
    std::string error;
    EXPECT_FALSE(parseAnimationLines("track root 0 1\n", description, rest, error));
    EXPECT_EQ(error, "line 1: track before any animation");
    EXPECT_FALSE(parseAnimationLines("anim a 2\ntrack root 0 1\nchannel qq 0 1\n", description, rest, error));
    EXPECT_EQ(error, "line 3: unknown channel [qq]");
}

}  // namespace
