// The dialog writer's text form: what it refuses, by line, and the order it
// gives the labels.
#include <gtest/gtest.h>

#include <string>

#include "dialog/DialogWriter.h"
#include "game/Y3DialogData.h"
#include "support/TestSupport.h"

namespace {

TEST(DialogWriter, BadStatementsAreRefusedWithTheirLine) {
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {"phrase p 1\n", "line 1: phrase outside a label"},
        {"label a\n0 voice -\n", "line 2: command outside a phrase"},
        {"label a\nphrase p x\n", "line 2: bad phrase delay"},
        {"label a\nphrase p 1\n0 shout -\n", "line 3: unknown command kind shout"},
        {"label a\nphrase p 1\n0 voice\n", "line 3: command needs a kind and an object"},
        {"label a\nskip\n", "line 2: skip outside a phrase"},
        {"# a comment\nlabel a\nbogus\n", "line 3: unknown statement bogus"},
        {"label " + std::string(128, 'n') + "\n", "line 1: label name too long"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        EXPECT_EQ(dlgwrite::write(c.text, error), "");
        EXPECT_EQ(error, c.error);
    }
}

TEST(DialogWriter, LabelsTakeByteOrderAndCommandsTheirKinds) {
    testing_support::ScopedGameCore core;
    Y3DialogData dialog("d");
    std::string name;
    std::string error;
    ASSERT_TRUE(dlgwrite::parse("dialog keeper\nlabel b\nphrase #end 0\n 0 14 - x y\nlabel B\nlabel a\n", dialog,
                                name, error))
        << error;
    EXPECT_EQ(name, "keeper");
    ASSERT_EQ(dialog.labels.size(), 3u);
    EXPECT_STREQ(dialog.labels[0].name, "B");
    EXPECT_STREQ(dialog.labels[1].name, "a");
    EXPECT_STREQ(dialog.labels[2].name, "b");
    ASSERT_EQ(dialog.labels[2].phrases.size(), 1u);
    EXPECT_STREQ(dialog.labels[2].phrases[0].name, "#end");
    ASSERT_EQ(dialog.labels[2].phrases[0].commands.size(), 1u);
    EXPECT_EQ(dialog.labels[2].phrases[0].commands[0].kind, 14u);
    EXPECT_EQ(dialog.labels[2].phrases[0].commands[0].argument, "x y");
}

}  // namespace
