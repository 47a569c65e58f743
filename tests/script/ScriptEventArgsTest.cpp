// The argument block of script events: builders, text limits, call text.
#include <gtest/gtest.h>

#include <string>

#include "script/ScriptEventArgs.h"

namespace {

TEST(ScriptEventArgs, BuildersCutTextsAndSpellTheCall) {
    const std::string longText(200, 'q');
    struct Case {
        ScriptEventArgs args;
        int count;
        std::string call;
    } cases[] = {
        {ScriptEventArgs(), 0, "NULL"},
        {ScriptEventArgs::fromString("go"), 1, "go();"},
        {ScriptEventArgs::fromTwoStrings("go", "a"), 2, "go('a');"},
        {ScriptEventArgs::fromFourStrings("go", "a", "", nullptr), 4, "go('a', '', '');"},
        {ScriptEventArgs::fromTwoStrings("go", longText.c_str()), 2, "go('" + std::string(127, 'q') + "');"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        EXPECT_EQ(c.args.count(), c.count);
        EXPECT_EQ(c.args.callText(), c.call);
        EXPECT_STREQ(c.args.name, "");
    }

    ScriptEventArgs labelled("handler");
    labelled.setName(longText.c_str());
    EXPECT_EQ(std::string(labelled.name), std::string(127, 'q'));
    labelled.setName("Dialog.onFinished");
    EXPECT_STREQ(labelled.name, "Dialog.onFinished");
    // The rest of the field is zeroed, so copies compare field by field.
    EXPECT_EQ(labelled.name[sizeof(labelled.name) - 1], 0);
    EXPECT_EQ(labelled.slot(0)[100], 0);

    ScriptEventArgs copy = labelled;
    labelled.release();
    EXPECT_EQ(labelled.count(), 0);
    EXPECT_EQ(labelled.function(), nullptr);
    EXPECT_STREQ(copy.function(), "handler");
}

}  // namespace
