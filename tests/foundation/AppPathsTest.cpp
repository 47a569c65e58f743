#include "foundation/AppPaths.h"

#include <gtest/gtest.h>

#include "foundation/FilePath.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

using testing_support::ScopedGameCore;
using testing_support::TempDir;

namespace {

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(FilePath, SplitsJoinsAndRestartsAtADrive) {
    FilePath p;
    p.append("a/b//c");
    ASSERT_EQ(p.count(), 3u);
    EXPECT_EQ(p.toString(), "a\\b\\c");
    EXPECT_EQ(p.toString(0), "a");
    EXPECT_EQ(p.toString(2), "a\\b");
    EXPECT_EQ(p.toString(99), "a\\b\\c");
    p.append("e:\\x");
    EXPECT_EQ(p.toString(), "e:\\x");
    p.append("\"q\"\\r");
    EXPECT_EQ(p.toString(), "e:\\x\\q\\r");
    EXPECT_EQ(FilePath().toString(), "");
    p.append(std::string(2049, 'z'));  // ignored
    EXPECT_EQ(p.count(), 4u);
    p.append(std::string(200, 'y'));
    EXPECT_EQ(p.last().size(), 127u);
    EXPECT_EQ(p.count(), 5u);

    FilePath other("m\\n");
    p.appendPath(other);
    EXPECT_EQ(p.count(), 7u);
}

TEST(FilePath, ExtensionsAndDotNames) {
    ScopedGameCore core;
    FilePath a("dir\\file.tar.gz");
    a.setExtension(".log");
    EXPECT_EQ(a.toString(), "dir\\file.tar.log");
    FilePath b("dir\\noext");
    b.removeExtension();
    EXPECT_EQ(b.toString(), "dir\\noext");
    EXPECT_FALSE(core.log().contains("DELETED TO NULL"));
    FilePath c("dir\\.hidden");
    c.removeExtension();
    EXPECT_EQ(c.last(), "");
    EXPECT_TRUE(core.log().contains("FILEPATH [dir\\.hidden] DELETED TO NULL"));
}

class AppPathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::makeFolders(dir.file("Games/X/bin"));
        testing_support::writeFile(dir.file("Games/X/data.txt"), "");
        testing_support::makeFolders(dir.file("appdata"));
        setenv("XDG_DATA_HOME", dir.file("appdata").c_str(), 1);
        AppPaths::setExecutablePathForTesting(dir.file("Games/X/bin/Run"));
    }
    void TearDown() override {
        AppPaths::setExecutablePathForTesting("");
        unsetenv("XDG_DATA_HOME");
    }
    ScopedGameCore core{true};
    TempDir dir;
};

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

TEST_F(AppPathsTest, FindsTheDataRootAboveTheExecutable) {
    RunModeRecord mode;
    ASSERT_EQ(core.paths().initialize(mode), kRunModePlay);
    EXPECT_EQ(mode.runMode, kRunModePlay);
    AppPaths& p = core.paths();
    const std::string root = lower(FilePath(dir.file("Games/X")).toString());
    EXPECT_EQ(p.get(PathDataRootInput), root);
    EXPECT_EQ(p.get(PathDataRoot), root);
    EXPECT_EQ(p.get(PathRulesFile), root + "\\data.txt");
    EXPECT_EQ(p.get(PathExeName), "run");
    EXPECT_EQ(p.get(PathDataFolderInput), root + "\\bin");
    EXPECT_EQ(p.get(PathGameIni), root + "\\bin\\game.ini");
    EXPECT_EQ(p.get(PathLanguage), "en");
    EXPECT_EQ(p.get(PathSaveName), "quicksave");
    EXPECT_EQ(p.get(PathStartTime).size(), 19u);
    EXPECT_TRUE(endsWith(p.get(PathUserFolder), "appdata\\Games\\game"));
    EXPECT_TRUE(endsWith(p.get(PathLogFile), "\\Games\\game\\log\\run.log"));
    EXPECT_TRUE(core.log().contains("Executable launched from ["));
    EXPECT_TRUE(platform::pathKind(p.get(PathRulesFile)) == platform::PathKind::File);

    p.setPath(PathSaveName, "Slot1");
    EXPECT_TRUE(endsWith(p.get(PathUserSaveFile), "\\save\\slot1.jpg"));
    p.setPath(PathLanguage, "de");
    EXPECT_TRUE(endsWith(p.get(PathLocales), "\\.text\\locales\\de"));
    EXPECT_TRUE(endsWith(p.get(PathTextureLocales), "\\.texture\\locales\\de"));
}

TEST_F(AppPathsTest, NoDataTxtLeavesTheRootEmpty) {
    testing_support::writeFile(dir.file("Games/X/data.txt"), "");
    std::remove(dir.file("Games/X/data.txt").c_str());
    RunModeRecord mode;
    ASSERT_EQ(core.paths().initialize(mode), kRunModePlay);
    EXPECT_EQ(core.paths().get(PathDataRoot), "");
    EXPECT_EQ(core.paths().get(PathRulesFile), "data.txt");
}

TEST(AppPaths, DerivedSlotsFollowTheirInputs) {
    AppPaths p;
    EXPECT_EQ(p.get(PathLanguage2), "ru");
    p.setPath(PathDataFolderInput, "D:\\Game\\Bin");
    p.setPath(6, "grp");
    p.setPath(9, "Scene");
    EXPECT_EQ(p.get(PathDataFolderInput), "d:\\game\\bin");
    EXPECT_EQ(p.get(59), "d:\\game\\bin\\.export\\scenes\\grp\\scene.ms4");
    EXPECT_EQ(p.get(PathScripts), "d:\\game\\bin\\.script");
    EXPECT_EQ(p.get(PathDataSaveFolder), "d:\\game\\bin\\save");
    p.setPath(19, "dump");
    p.setPath(PathAppData, "u");
    p.setPath(PathGameName, "G");
    EXPECT_EQ(p.get(PathVariableDumpFile), "u\\Games\\g\\.log\\var\\dump__value.xml");
    p.setPathFormat(PathShaderCacheName, "shaders.%04d", 7);
    EXPECT_EQ(p.get(PathShaderCacheName), "shaders.0007");
    p.setPath(PathSaveName, std::string(3000, 'a'));
    EXPECT_EQ(p.get(PathSaveName).size(), 1023u);
}

// Inside batches inputs change (lower-cased at once) while the derived slots
// keep their texts; the outermost batch's end rebuilds them.
TEST(AppPaths, ABatchRebuildsTheDerivedSlotsWhenItEnds) {
    AppPaths p;
    p.setPath(PathDataFolderInput, "d:\\old");
    {
        AppPaths::BatchedBuild outer(p);
        {
            AppPaths::BatchedBuild inner(p);
            p.setPath(PathDataFolderInput, "D:\\New");
            p.setPathFormat(9, "Scene%i", 2);
        }
        EXPECT_EQ(p.get(PathDataFolderInput), "d:\\new");
        EXPECT_EQ(p.get(9), "scene2");
        EXPECT_EQ(p.get(PathScripts), "d:\\old\\.script");
    }
    EXPECT_EQ(p.get(PathScripts), "d:\\new\\.script");
    EXPECT_EQ(p.get(59), "d:\\new\\.export\\scenes\\scene2.ms4");
}

}  // namespace
