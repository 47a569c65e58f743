// The variables core over packages written at test time with the variable
// writer and the package tool.
#include "script/VariablesCore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/DataStream.h"
#include "foundation/IniFile.h"
#include "package/PackageWriter.h"
#include "resources/FilePackageDBData.h"
#include "resources/PackageDatabase.h"
#include "support/TestSupport.h"
#include "variables/VariableWriter.h"

using testing_support::ScopedCoreMember;
using testing_support::ScopedGameCore;
using testing_support::TempDir;

namespace {

std::string variableFile(const char* text, const char* rootName) {
    ScriptVariable root(rootName, ScriptVariable::TypeArray);
    std::string error;
    EXPECT_TRUE(variable_tools::parseVariableText(text, root, error)) << error;
    MemoryStream stream;
    EXPECT_GT(variable_tools::writeVariableTree(root, stream), 0);
    return std::string(reinterpret_cast<const char*>(stream.data()), stream.size());
}

// One package holding the given sections, installed as the game core's
// package database.
class PackageScope {
public:
    explicit PackageScope(const std::vector<package_tool::Section>& sections) {
        package_tool::Manifest manifest;
        manifest.sections = sections;
        const std::string path = dir_.file("000/data.pak");
        ok_ = testing_support::makeFolders(dir_.file("000")) && package_tool::writePackage(manifest, path) &&
              database_.data().loadPackage(path, 0, 0);
    }
    bool ok() const { return ok_; }

private:
    TempDir dir_;
    PackageDatabase database_;
    ScopedCoreMember<PackageDatabase> installed_{gameCore.packages, &database_};
    bool ok_ = false;
};


package_tool::Section section(const char* source, const char* name, const std::string& bytes) {
    package_tool::Section s;
    s.mask = ".ptxt4";
    s.source = source;
    package_tool::StoredFile file;
    file.name = name;
    file.bytes = bytes;
    s.files.push_back(file);
    return s;
}

const char* const kGlobals =
    "system.SF_ui_title string Demo game\n"
    "system.volume number 0.5\n";
const char* const kLocales = "menu.start wstring Start\n";

}  // namespace

TEST(VariablesCore, InitialisesBothTreesFromTheirStoredFiles) {
    ScopedGameCore core;
    PackageScope packages({section("var", "globals", variableFile(kGlobals, "vars")),
                           section("loc", "locale", variableFile(kLocales, "texts"))});
    ASSERT_TRUE(packages.ok());
    VariablesCore variables;
    ScopedCoreMember installed(gameCore.variables, &variables);
    ASSERT_TRUE(variables.initialize());
    ScriptVariable* title = variables.globals().root()->resolvePath("system.SF_ui_title");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->toString(), "Demo game");
    EXPECT_EQ(variables.locales().root()->resolvePath("menu.start")->toWString(), u"Start");

    // The stored root's name replaces "root" in locations.
    std::string location;
    EXPECT_TRUE(VariablesCore::locate(title, location));
    EXPECT_EQ(location, "globals.vars.system.SF_ui_title");
    EXPECT_TRUE(VariablesCore::locate(variables.locales().root()->resolvePath("menu"), location));
    EXPECT_EQ(location, "locales.texts.menu");
    ScriptVariable stray("stray");
    EXPECT_FALSE(VariablesCore::locate(&stray, location));
    EXPECT_EQ(location, "locales");

    // The whole tree written back reads the same.
    MemoryStream written;
    ASSERT_GT(variables.globals().writeSingleFile(written, "globals"), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(written.data()), written.size()),
              variableFile(kGlobals, "vars"));
}

TEST(VariablesCore, MissingGlobalsFailWhileLocalesStillLoad) {
    ScopedGameCore core;
    PackageScope packages({section("loc", "locale", variableFile(kLocales, "root")),
                           section("var", "other", variableFile(kGlobals, "root"))});
    ASSERT_TRUE(packages.ok());
    VariablesCore variables;
    EXPECT_FALSE(variables.initialize());
    EXPECT_EQ(variables.globals().root(), nullptr);
    ASSERT_NE(variables.locales().root(), nullptr);
    EXPECT_TRUE(variables.locales().root()->test("menu.start"));
    EXPECT_TRUE(core.log().contains("Can't initialize Game global variables data from single file"));

    MemoryStream block;
    EXPECT_LT(variables.write(block), 0);
    MemoryStream out;
    EXPECT_LT(variables.globals().writeSingleFile(out, "globals"), 0);
    EXPECT_TRUE(core.log().contains("Can't write single data package to globals: Create first"));
}

TEST(VariablesCore, DamagedStoredTreeFailsItsManager) {
    ScopedGameCore core;
    std::string bad = variableFile(kGlobals, "root");
    bad.resize(bad.size() / 2);
    PackageScope packages({section("var", "globals", bad), section("loc", "locale", variableFile(kLocales, "root"))});
    ASSERT_TRUE(packages.ok());
    VariablesCore variables;
    EXPECT_FALSE(variables.initialize());
    EXPECT_TRUE(core.log().contains("Can't read single-file variables [globals] data"));
    EXPECT_NE(variables.locales().root(), nullptr);
}

TEST(VariablesCore, ScratchTreeCountComesFromTheSettings) {
    struct Case {
        const char* text;
        std::int32_t count;
    };
    const Case cases[] = {{nullptr, 10}, {"", 10}, {"3", 3}, {"7 trees", 7}, {"none", 0},
                          {"-4", 0},     {"99999999999", kMaxTempVars}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(missing)");
        ScopedGameCore core;
        IniFile settings;
        if (c.text) settings.getCategory("script").getVariable("temp_vars_count").setString(c.text);
        readScriptSettings(settings);
        EXPECT_EQ(scriptTempVarsCount(), c.count);
        const IniVariable* key = settings.getCategory("script").findVariable("temp_vars_count");
        ASSERT_NE(key, nullptr);
        if (!c.text) {
            EXPECT_TRUE(key->fixed());
        }
        VariablesCore variables;
        variables.makeScratchTrees(scriptTempVarsCount());
        EXPECT_EQ(variables.scratchCount(), c.count);
    }
    setScriptTempVarsCount(10);
}
