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

TEST(AnimationWriter, ControlRulesHaveTheirHandCountedSizes) {
    const AnimationDescription d = parse(
        "ctrlrules walker\n"
        "ctrlrule action * * * greeting|sign middle\n"
        "ctrlelement walker.wave 0 1 0.2 0 1 1.5\n"
        "ctrlrule stance stand walk|run 0x1ff * * flags 2\n"
        "ctrlelement walker.walk 8 1.2 0.3 0 1 1\n"
        "ctrlelement walker.step 8 1.2 0.3 0 1 1\n"
        "ctrlrules \"bip01 rules\"\n");
    ASSERT_EQ(d.rules.size(), 2u);
    // Name 1 + 6, five counts 20, two rules of 28 bytes with one and two
    // 176-byte elements.
    const std::string bytes = rulesFileBytes(d.rules[0]);
    ASSERT_EQ(bytes.size(), 7u + 20u + 2u * 28u + 3u * 176u);
    EXPECT_EQ(bytes[0], 6);
    EXPECT_EQ(bytes.substr(1, 6), "walker");
    std::uint32_t words[8];
    // The stance list comes first: its count, masks, flags, element count.
    std::memcpy(words, bytes.data() + 7, sizeof(words));
    EXPECT_EQ(words[0], 1u);
    EXPECT_EQ(words[1], 0x2u);        // stand
    EXPECT_EQ(words[2], 0xCu);        // walk and run
    EXPECT_EQ(words[3], 0x1FFu);      // the raw word
    EXPECT_EQ(words[4], 0x1FFFFu);    // every action value
    EXPECT_EQ(words[5], 0x7u);        // every look value
    EXPECT_EQ(words[6], 2u);          // sequence flags
    EXPECT_EQ(words[7], 2u);          // elements
    EXPECT_STREQ(bytes.data() + 7 + 4 + 28 + 4, "walker.walk");
    // Then empty movement and direction lists, one action rule whose
    // action mask names greeting and sign (5 and 6), then no look rule.
    const std::size_t action = 7 + 4 + 28 + 2 * 176 + 8;
    std::memcpy(words, bytes.data() + action, 8);
    EXPECT_EQ(words[0], 1u);
    std::memcpy(words, bytes.data() + action + 4 + 12, 8);
    EXPECT_EQ(words[0], 0x60u);
    EXPECT_EQ(words[1], 0x2u);  // middle
    EXPECT_EQ(rulesFileBytes(d.rules[1]), std::string(1, '\x0b') + "bip01 rules" + std::string(20, '\0'));

    AnimationDescription bad;
    std::string rest, error;
    EXPECT_FALSE(parseAnimationLines("ctrlrules r\nctrlrule stance stand fly * * *\n", bad, rest, error));
    EXPECT_EQ(error, "line 2: bad movement mask [fly]");
    EXPECT_FALSE(parseAnimationLines("ctrlrules r\nctrlrule mood * * * * *\n", bad, rest, error));
    EXPECT_EQ(error, "line 2: unknown rule category [mood]");
}

TEST(AnimationWriter, AnAttachedParticleTakesAQuotedBoneName) {
    const AnimationDescription d = parse("anim idle 2\nattach pipe smoke \"bip01 head\" at 0.1 0.2 0\n");
    ASSERT_EQ(d.animations.size(), 1u);
    ASSERT_EQ(d.animations[0].particles.size(), 1u);
    EXPECT_EQ(d.animations[0].particles[0].bone, "bip01 head");
    EXPECT_FLOAT_EQ(d.animations[0].particles[0].at[1], 0.2f);
    AnimationDescription bad;
    std::string rest, error;
    EXPECT_FALSE(parseAnimationLines("anim idle 2\nattach pipe smoke \"bip01 head\n", bad, rest, error));
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
