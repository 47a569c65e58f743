// The variable-file writer: the text form and the two file forms.
#include "variables/VariableWriter.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/DataStream.h"
#include "script/ScriptVariable.h"
#include "support/TestSupport.h"

TEST(VariableWriter, TextFormBuildsTypedNodes) {
    testing_support::ScopedGameCore core;
    ScriptVariable root("root", ScriptVariable::TypeArray);
    std::string error;
    ASSERT_TRUE(variable_tools::parseVariableText("# comment\r\n"
                                                  "\n"
                                                  "a.flag boolean true\n"
                                                  "a.off boolean no\n"
                                                  "a.text string two words\n"
                                                  "a.cyr string \xD0\x96\n"
                                                  "a.wide wstring \xD0\x96\xF0\x9F\x98\x80\n"
                                                  "a.n number -2.5\n"
                                                  "grid 2d-array\n"
                                                  "nothing empty\n",
                                                  root, error))
        << error;
    EXPECT_TRUE(root.resolvePath("a.flag")->toBool());
    EXPECT_FALSE(root.resolvePath("a.off")->toBool());
    EXPECT_EQ(root.resolvePath("a.text")->toString(), "two words");
    EXPECT_EQ(root.resolvePath("a.cyr")->toString(), "\xC6");  // Windows-1251
    EXPECT_EQ(root.resolvePath("a.wide")->toWString(), u"\u0416\U0001F600");
    EXPECT_FLOAT_EQ(root.resolvePath("a.n")->toFloat(), -2.5f);
    EXPECT_EQ(root.resolvePath("grid")->type(), ScriptVariable::TypeArray2D);
    EXPECT_EQ(root.resolvePath("a")->type(), ScriptVariable::TypeArray);
    EXPECT_EQ(root.resolvePath("nothing")->type(), ScriptVariable::TypeEmpty);

    const std::string bad[] = {"x.y color red\n", "x..y number 1\n", "x number one\n", "x invalid\n",
                               std::string(64, 'n') + " number 1\n"};
    for (const std::string& text : bad) {
        ScriptVariable other("root");
        error.clear();
        EXPECT_FALSE(variable_tools::parseVariableText(text, other, error)) << text;
        EXPECT_NE(error.find("line 1"), std::string::npos);
    }
}

TEST(VariableWriter, ResourceFormCarriesItsAttachPath) {
    ScriptVariable tree("tree");
    tree.setNumber(1.0f);
    MemoryStream out;
    const int size = variable_tools::writeVariableResource("menu.items", tree, out);
    // u16 path length, path, then the record: name length, name, type, f32, child count.
    EXPECT_EQ(size, 2 + 10 + 1 + 4 + 4 + 4 + 4);
    out.setPosition(0);
    std::uint16_t length = 0;
    readU16(out, length);
    EXPECT_EQ(length, 10);
    MemoryStream refused;
    EXPECT_LT(variable_tools::writeVariableResource(std::string(1024, 'p'), tree, refused), 0);
}
