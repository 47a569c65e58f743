// Animation sequences: the texts the compiler takes and refuses, with its
// reports and their caret lines, and the save record.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "animation/AnimationSequence.h"
#include "animation/AnimationTestSupport.h"
#include "foundation/DataStream.h"

using namespace animation_tests;

namespace {

// walk: 26 frames, looping (1 s); run: 11 frames (0.4 s); one: 1 frame.
const char* kSequenceAnimations = "anim walk 26 loop\nanim run 11\nanim one 1\n";

struct CompileCase {
    const char* text;
    bool ok;
    std::uint32_t sequenceFlags;
    std::size_t elements;
    // The first element (when there is one).
    std::uint32_t flags;
    double blend, start, length, speed;
    // A message logged, and where its caret stands (-1: an empty pointer
    // line; -2: no pointer line checked).
    const char* message;
    std::int32_t caret;
    const char* shownText;  // the text line of the report
};

TEST(AnimationSequence, EveryFormOfTheTextCompilesOrIsReported) {
    const CompileCase cases[] = {
        {"", false, 0, 0, 0, 0, 0, 0, 0, "Expected animation sequence, but found empty string", -2, ""},
        {"[walk]", true, 0, 1, 2 | 8, 1.0, 0.0, 1.0, 1.0, "", -2, ""},
        {"0.25[x0.5 run x2 ,1.5]", true, 0, 1, 1 | 2, 0.25, 0.5, 2.0, 1.5, "", -2, ""},
        {"^[-walk]", true, 2, 1, 1 | 2 | 4 | 8, 1.0, 1.0, 1.0, 1.0, "", -2, ""},
        {"[-run x0.5]", true, 0, 1, 1 | 2 | 4, 1.0, 1.0, 0.5, 1.0, "", -2, ""},
        {"[x0.25 -run]", true, 0, 1, 1 | 2 | 4, 1.0, 0.25, 1.0, 1.0, "", -2, ""},
        {"&[walk][run]", true, 1, 2, 2 | 8, 1.0, 0.0, 1.0, 1.0, "", -2, ""},
        {"[x* walk 4]", true, 0, 1, 1 | 8 | 16, 1.0, 0.0, 4.0, 1.0, "", -2, ""},
        {"*[walk][run]", true, 0, 2, 2 | 8 | 16, 1.0, 0.0, 1.0, 1.0, "", -2, ""},
        {"  ^  *[run]", true, 2, 1, 2 | 16, 1.0, 0.0, 1.0, 1.0, "", -2, ""},
        {"[walk][run] \r\n ", true, 0, 2, 2 | 8, 1.0, 0.0, 1.0, 1.0, "", -2, ""},
        {"\n2 [ 3 walk ] ", true, 0, 1, 2 | 8, 2.0, 3.0, 1.0, 1.0, "", -2, ""},
        {"[walk][", true, 0, 1, 2 | 8, 1.0, 0.0, 1.0, 1.0, "", -2, ""},
        {"[walk]&", true, 0, 1, 2 | 8, 1.0, 0.0, 1.0, 1.0, "IDLE NOT VALID FOR SINGLE ANIMATION: {[walk]&}", -2, ""},
        {"&[walk]", true, 0, 1, 2 | 8, 1.0, 0.0, 1.0, 1.0, "IDLE NOT VALID FOR SINGLE ANIMATION: {&[walk]}", -2, ""},
        {"[walk", false, 0, 0, 0, 0, 0, 0, 0, "Unexpected EOL : Await for text end", -1, "[walk"},
        {"walk", false, 0, 0, 0, 0, 0, 0, 0, "Expected symbol '['", 0, "walk"},
        {"[walk]run", false, 0, 1, 2 | 8, 1.0, 0.0, 1.0, 1.0, "Expected symbol '['", 6, "[walk]run"},
        {"[walk x]", false, 0, 0, 0, 0, 0, 0, 0, "Expected symbol ']'", 6, "[walk x]"},
        {"[walk ", false, 0, 0, 0, 0, 0, 0, 0, "Unexpected EOL", -1, "[walk "},
        {"[ ", true, 0, 0, 0, 0, 0, 0, 0, "", -2, ""},
        {"[walk 2", false, 0, 0, 0, 0, 0, 0, 0, "Unexpected EOL: Await for float end", -1, "[walk 2"},
        {"[walk 2 ", false, 0, 0, 0, 0, 0, 0, 0, "Unexpected EOL", -1, "[walk 2 "},
        {"[walk ,", false, 0, 0, 0, 0, 0, 0, 0, "Unexpected EOL: Await for float", -1, "[walk ,"},
        {"x0.3[walk]", false, 0, 0, 0, 0, 0, 0, 0, "[x] prefix not supported for blending period", 0, "x0.3[walk]"},
        {"[walk ,x2]", false, 0, 0, 0, 0, 0, 0, 0, "[x] prefix not supported for animation speed", 7, "[walk ,x2]"},
        {"^ [walk ,0]", false, 2, 0, 0, 0, 0, 0, 0, "speed value must be more than 0", 7, "[walk ,0]"},
        {"[walk 1.2.3]", false, 0, 0, 0, 0, 0, 0, 0, "Invalid number [1.2.3]", 6, "[walk 1.2.3]"},
        {"[walk, 2]", false, 0, 0, 0, 0, 0, 0, 0, "Animation stack compiler: Can't load animation [walk,] data", -2,
         ""},
        {"[ghost]", false, 0, 0, 0, 0, 0, 0, 0, "Animation stack compiler: Can't load animation [ghost] data", -2, ""},
        {"[one]", false, 0, 0, 0, 0, 0, 0, 0, "", -2, ""},
    };
    AnimationFixture f(animationFiles(kSequenceAnimations));
    ASSERT_TRUE(f.packages.built());
    for (const CompileCase& c : cases) {
        SCOPED_TRACE(c.text);
        const std::size_t mark = f.log().recordCount();
        AnimationSequence sequence;
        EXPECT_EQ(AnimationStackCompiler::compileSequence(c.text, sequence), c.ok);
        EXPECT_EQ(sequence.flags, c.sequenceFlags);
        ASSERT_EQ(sequence.elements.size(), c.elements);
        if (c.elements > 0) {
            const SequenceElement& e = sequence.elements[0];
            EXPECT_EQ(e.flags, c.flags);
            EXPECT_DOUBLE_EQ(e.blend, c.blend);
            EXPECT_DOUBLE_EQ(e.start, c.start);
            EXPECT_DOUBLE_EQ(e.length, c.length);
            EXPECT_DOUBLE_EQ(e.speed, c.speed);
            EXPECT_GT(e.duration, 0.0);
        }
        const auto texts = resource_tests::logSince(f.log(), mark);
        if (c.message[0] == 0) {
            if (c.ok) EXPECT_TRUE(texts.empty()) << texts.front();
            continue;
        }
        std::size_t at = 0;
        while (at < texts.size() && texts[at] != c.message) ++at;
        ASSERT_LT(at, texts.size()) << "not logged: " << c.message;
        if (c.caret == -2) continue;
        ASSERT_LT(at + 2, texts.size());
        EXPECT_EQ(texts[at + 1], c.shownText);
        if (c.caret < 0)
            EXPECT_EQ(texts[at + 2], "");
        else
            EXPECT_EQ(texts[at + 2], std::string(static_cast<std::size_t>(c.caret), ' ') + "^");
    }
    // The second element of "*[walk][run]" keeps a fixed start.
    AnimationSequence sequence;
    ASSERT_TRUE(AnimationStackCompiler::compileSequence("*[walk][run]", sequence));
    EXPECT_EQ(sequence.elements[1].flags, 2u);
    EXPECT_STREQ(sequence.elements[1].animation, "run");
    EXPECT_DOUBLE_EQ(sequence.elements[1].duration, 0.4);
}

TEST(AnimationSequence, ThePointerLineOfALongTextFitsTheLog) {
    AnimationFixture f(animationFiles(kSequenceAnimations));
    std::string text(20000, ' ');
    text += "x1[walk]";
    AnimationSequence sequence;
    EXPECT_FALSE(AnimationStackCompiler::compileSequence(("[walk]" + text).c_str(), sequence));
    const auto records = f.log().records();
    ASSERT_GE(records.size(), 1u);
    EXPECT_LT(records.back().text.size(), Log::kBufferSize);
    EXPECT_EQ(records.back().text.back(), '^');
}

TEST(AnimationSequence, TheSaveRecordRoundTripsAndRefusesWhatTheCompilerRefuses) {
    AnimationFixture f(animationFiles(kSequenceAnimations));
    AnimationSequence written;
    ASSERT_TRUE(AnimationStackCompiler::compileSequence("^0.5[x0.25 walk 3 ,2][-run]", written));
    MemoryStream stream;
    ASSERT_EQ(written.write(stream), static_cast<std::int32_t>(8 + 2 * 176));
    stream.setPosition(0);
    AnimationSequence read;
    ASSERT_EQ(read.read(stream), 8 + 2 * 176);
    EXPECT_EQ(read.flags, written.flags);
    ASSERT_EQ(read.elements.size(), 2u);
    EXPECT_EQ(std::memcmp(read.elements.data(), written.elements.data(), 2 * sizeof(SequenceElement)), 0);

    struct Case {
        const char* what;
        void (*damage)(SequenceElement&);
    };
    const Case cases[] = {
        {"speed 0", [](SequenceElement& e) { e.speed = 0.0; }},
        {"negative speed", [](SequenceElement& e) { e.speed = -1.0; }},
        {"duration 0", [](SequenceElement& e) { e.duration = 0.0; }},
        {"infinite length", [](SequenceElement& e) { e.length = std::numeric_limits<double>::infinity(); }},
        {"play time overflows", [](SequenceElement& e) { e.length = 1e300, e.speed = 1e-300; }},
        {"not a number", [](SequenceElement& e) { e.blend = std::nan(""); }},
        {"negative start", [](SequenceElement& e) { e.start = -0.5; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AnimationSequence bad;
        bad.assign(written);
        c.damage(bad.elements[1]);
        MemoryStream damaged;
        bad.write(damaged);
        damaged.setPosition(0);
        AnimationSequence target;
        EXPECT_LT(target.read(damaged), 0);
        EXPECT_TRUE(target.elements.empty());
        EXPECT_TRUE(f.logged("Invalid animation sequence record: element [run]"));
    }
    // A count the record cannot hold, and a name filling its field.
    MemoryStream counted;
    writeU32(counted, 0);
    writeU32(counted, 1000);
    counted.setPosition(0);
    AnimationSequence target;
    EXPECT_LT(target.read(counted), 0);
    EXPECT_TRUE(f.logged("1000 elements do not fit in the record"));
    AnimationSequence named;
    named.assign(written);
    std::memset(named.elements[0].animation, 'a', sizeof(named.elements[0].animation));
    MemoryStream full;
    named.write(full);
    full.setPosition(0);
    ASSERT_GT(target.read(full), 0);
    EXPECT_EQ(std::strlen(target.elements[0].animation), 127u);
}

}  // namespace
