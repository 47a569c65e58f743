// The camera command language: the grammar, its error reports with the
// caret line, and the stack's save form.
#include "scene/CameraStack.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "support/TestSupport.h"

using testing_support::ScopedGameCore;

namespace {

constexpr float kDegree = 0.017452778f;

std::uint32_t bitsOf(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

TEST(CameraStack, GrammarCasesGiveTheirItems) {
    ScopedGameCore core;
    {
        CameraStack stack;
        ASSERT_TRUE(stack.parseCommands("[cam1]"));
        ASSERT_EQ(stack.items.size(), 1u);
        const CameraStackItem& item = stack.items[0];
        EXPECT_STREQ(item.name, "cam1");
        EXPECT_EQ(item.hold, 0.0f);
        EXPECT_EQ(item.flags, 0x002u);
        EXPECT_EQ(item.curve, 1.0f);
        stack.clear();
    }
    {
        CameraStack stack;
        ASSERT_TRUE(stack.parseCommands("1.5:2[3 cam1 p10,20 f10]"));
        const CameraStackItem& item = stack.items.at(0);
        EXPECT_FLOAT_EQ(item.blendTime, 1.5f);
        EXPECT_FLOAT_EQ(item.curve, 2.0f);
        EXPECT_FLOAT_EQ(item.hold, 3.0f);
        EXPECT_FLOAT_EQ(item.pan[0], 0.1f);
        EXPECT_FLOAT_EQ(item.pan[1], 0.2f);
        EXPECT_FLOAT_EQ(item.fov, 0.1f);
        EXPECT_EQ(item.flags, 0x002u | 0x080u | 0x100u | 0x200u);
        stack.clear();
    }
    {
        CameraStack stack;
        ASSERT_TRUE(stack.parseCommands("b2[.!cam] b2[!.cam]"));
        ASSERT_EQ(stack.items.size(), 2u);
        EXPECT_STREQ(stack.items[0].name, "!cam");
        EXPECT_EQ(stack.items[0].flags, 0x100u);
        EXPECT_STREQ(stack.items[1].name, "cam");
        EXPECT_EQ(stack.items[1].flags, 0x001u | 0x100u);
        EXPECT_EQ(stack.items[1].crossFade, 1u);
        EXPECT_FLOAT_EQ(stack.items[1].blendTime, 2.0f);
        stack.clear();
    }
    {
        CameraStack stack;
        ASSERT_TRUE(stack.parseCommands("[cam $x $z5,2]"));
        const CameraStackItem& item = stack.items.at(0);
        EXPECT_EQ(item.shakeAxes, 5u);
        EXPECT_NEAR(item.shake[0][0], 0.349f, 1e-3f);
        EXPECT_FLOAT_EQ(item.shake[0][1], 1.0f);
        EXPECT_FLOAT_EQ(item.shake[2][0], 5.0f * kDegree);
        EXPECT_FLOAT_EQ(item.shake[2][1], 2.0f);
        stack.clear();
    }
    {
        CameraStack stack;
        ASSERT_TRUE(stack.parseCommands("[a] [b]  \r\n "));
        ASSERT_EQ(stack.items.size(), 2u);
        EXPECT_STREQ(stack.items[1].name, "b");
        stack.clear();
    }
    {
        CameraStack stack;
        ASSERT_TRUE(stack.parseCommands("[cam *hero] [cam *hero:150] [cam *hero:spine @250 r30,-10 t5 z150]"));
        ASSERT_EQ(stack.items.size(), 3u);
        EXPECT_STREQ(stack.items[0].target.object, "hero");
        EXPECT_STREQ(stack.items[0].target.bone, "bip01 head");
        EXPECT_EQ(stack.items[0].flags, 0x002u | 0x004u);
        EXPECT_STREQ(stack.items[1].target.bone, "");
        EXPECT_FLOAT_EQ(stack.items[1].target.value, 1.5f);
        const CameraStackItem& item = stack.items[2];
        EXPECT_STREQ(item.target.bone, "spine");
        EXPECT_EQ(bitsOf(item.target.value), 0x322BCC77u);
        EXPECT_STREQ(item.center.object, "");
        EXPECT_FLOAT_EQ(item.center.value, 2.5f);
        EXPECT_FLOAT_EQ(item.rotation[0], 30.0f * kDegree);
        EXPECT_FLOAT_EQ(item.rotation[1], -10.0f * kDegree);
        EXPECT_FLOAT_EQ(item.twist, 5.0f * kDegree);
        EXPECT_FLOAT_EQ(item.zoom, 1.5f);
        EXPECT_EQ(item.flags, 0x002u | 0x004u | 0x008u | 0x010u | 0x020u | 0x040u);
        stack.clear();
    }
}

// One failing command text: its first message, the second report (empty
// when there is none) and the caret's column.
struct ErrorCase {
    const char* text;
    const char* first;
    const char* second;
    std::size_t column;
};

const ErrorCase kErrors[] = {
    {"[cam", "Unexpected EOL : Await for text end", "Unexpected EOL", 3},
    {"[cam q]", "Unexpected symbol", "Expected end of camera position word '['", 5},
    {"[cam p", "Unexpected EOL", "Expected end of camera position word '['", 5},
    {"[cam p1 p2]", "Camera pan already defined", "Expected end of camera position word '['", 8},
    {"[cam f1 f2]", "Camera fov already defined", "Expected end of camera position word '['", 8},
    {"[cam z1 z2]", "Camera zoom  already defined", "Expected end of camera position word '['", 8},
    {"[cam t1 t2]", "Camera twist already defined", "Expected end of camera position word '['", 8},
    {"[cam r1 r2]", "Camera rotation already defined", "Expected end of camera position word '['", 8},
    {"[cam @1 @2]", "Camera rotation center already defined", "Expected end of camera position word '['", 8},
    {"[cam *a *b]", "Camera target already defined", "Expected end of camera position word '['", 8},
    {"[cam f", "Unexpected FOV EOL", "Expected end of camera position word '['", 5},
    {"[cam z", "Unexpected EOL", "Expected end of camera position word '['", 5},
    {"[cam $w]", "Unknown effect type", "Expected end of camera position word '['", 6},
    {"[cam $x $x]", "Expected for symbol '$'", "Expected end of camera position word '['", 9},
    {"cam]", "Await for '[' symbol", "", 0},
    {"[cam] x", "Await for '[' symbol", "", 6},
    {"b", "Unexpected EOL: Await for float", "", 0},
    {"2.5", "Unexpected EOL: Await for float end", "", 2},
    {"[", "Unexpected EOL at 1: Await for text", "Unexpected EOL", 0},
    // Times are never negative, and every number must be one a float holds.
    {"-1[current]", "Camera blend time must not be negative", "", 0},
    {"[-5 current]", "Camera hold time must not be negative", "", 1},
    {"0.5[-5 current]", "Camera hold time must not be negative", "", 4},
    {"1:-2[current]", "Camera blend curve must not be negative", "", 2},
    {"1..2.3[current]", "Camera number [1..2.3] is not a valid number", "", 0},
    {"[1..2 current]", "Camera number [1..2] is not a valid number", "", 1},
    {"[cam z1000000000000000000000000000000000000000]",
     "Camera number [1000000000000000000000000000000000000000] is not a valid number",
     "Expected end of camera position word '['", 6},
    {"[cam p1,2.3.4]", "Camera number [2.3.4] is not a valid number", "Expected end of camera position word '['", 8},
};

TEST(CameraStack, EveryErrorIsReportedWithTheTextAndACaretLine) {
    for (const ErrorCase& c : kErrors) {
        ScopedGameCore core;
        CameraStack stack;
        stack.items.push_back(CameraStackItem{});  // dropped with the failure
        EXPECT_FALSE(stack.parseCommands(c.text)) << c.text;
        EXPECT_TRUE(stack.items.empty()) << c.text;

        const std::vector<LogRecord> records = core.log().records();
        std::size_t at = 0;
        while (at < records.size() && records[at].text.find(c.first) == std::string::npos) ++at;
        ASSERT_LT(at + 2, records.size()) << c.text;
        EXPECT_EQ(records[at].level, static_cast<std::uint32_t>(LevelError)) << c.text;
        EXPECT_NE(records[at + 1].text.find(c.text), std::string::npos) << c.text;
        const std::string caret = std::string(c.column, ' ') + "^";
        EXPECT_NE(records[at + 2].text.find(caret), std::string::npos) << c.text;
        EXPECT_EQ(records[at + 2].text.find(" " + caret), std::string::npos) << c.text;
        if (*c.second) {
            ASSERT_LT(at + 3, records.size()) << c.text;
            EXPECT_NE(records[at + 3].text.find(c.second), std::string::npos) << c.text;
        }
    }
}

TEST(CameraStack, EmptyTextFails) {
    ScopedGameCore core;
    CameraStack stack;
    EXPECT_FALSE(stack.parseCommands(""));
    EXPECT_TRUE(core.log().contains("Expected commands for camera. Found empty string"));
}

TEST(CameraStack, SaveFormRoundTripsAndBadRecordsAreRefused) {
    ScopedGameCore core;
    CameraStack stack;
    ASSERT_TRUE(stack.parseCommands("b1:2[3 !cam1 p10,20 $y] [.link *hero:head t15]"));
    MemoryStream out;
    ASSERT_EQ(stack.write(out), 8 + 2 * 724);
    std::vector<std::uint8_t> bytes(out.data(), out.data() + out.size());
    EXPECT_EQ(bytes[0], 0x07);
    EXPECT_EQ(bytes[3], 0xA0);

    CameraStack copy;
    MemoryStream in(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    ASSERT_EQ(copy.read(in), 8 + 2 * 724);
    MemoryStream again;
    copy.write(again);
    EXPECT_EQ(std::vector<std::uint8_t>(again.data(), again.data() + again.size()), bytes);

    // A wrong magic leaves the stack untouched.
    std::vector<std::uint8_t> wrong = bytes;
    wrong[0] ^= 0xFF;
    MemoryStream wrongIn(wrong.data(), static_cast<std::int32_t>(wrong.size()));
    EXPECT_EQ(copy.read(wrongIn), -1);
    EXPECT_EQ(copy.items.size(), 2u);

    // A count beyond what the record holds is refused before any item is
    // allocated.
    std::vector<std::uint8_t> huge = bytes;
    huge[4] = huge[5] = huge[6] = 0xFF;
    huge[7] = 0x0F;
    MemoryStream hugeIn(huge.data(), static_cast<std::int32_t>(huge.size()));
    EXPECT_EQ(copy.read(hugeIn), -1);
    EXPECT_TRUE(core.log().contains("Camera stack record holds"));

    // Names without a terminator are cut to 127 characters.
    std::vector<std::uint8_t> unterminated = bytes;
    std::memset(unterminated.data() + 8 + 4, 'a', 128);
    std::memset(unterminated.data() + 8 + 176, 'b', 256);
    MemoryStream unterminatedIn(unterminated.data(), static_cast<std::int32_t>(unterminated.size()));
    ASSERT_GT(copy.read(unterminatedIn), 0);
    EXPECT_EQ(std::strlen(copy.items[0].name), 127u);
    EXPECT_EQ(std::strlen(copy.items[0].target.object), 127u);
    EXPECT_EQ(std::strlen(copy.items[0].target.bone), 127u);
    copy.clear();
    stack.clear();
}

TEST(CameraStack, SkipBlanksFindsTheNextToken) {
    EXPECT_EQ(skipBlanks(" \r\n x", 0), 4);
    EXPECT_EQ(skipBlanks("x", 0), 0);
    EXPECT_EQ(skipBlanks("x  ", 1), -1);
}

}  // namespace
