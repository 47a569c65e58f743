#include "foundation/IniFile.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "foundation/AppPaths.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

using testing_support::ScopedGameCore;
using testing_support::TempDir;

void parseText(IniFile& ini, const std::string& text, bool force = false) {
    MemoryStream stream;
    stream.write(text.data(), static_cast<std::int32_t>(text.size()));
    stream.setPosition(0);
    EXPECT_EQ(parseIni(ini, stream, force), 1);
}

std::string valueOf(IniFile& ini, const char* section, const char* name) {
    IniCategory* category = ini.findCategory(section);
    IniVariable* variable = category ? category->findVariable(name) : nullptr;
    return variable ? variable->value() : std::string("<missing>");
}

TEST(IniFile, GrammarOfAssignmentsAndSections) {
    ScopedGameCore core;
    IniFile ini;
    parseText(ini,
              "   [video]\r\n"
              "name = two words\r\n"
              "quoted = \"two words\"\r\n"
              "tabbed\t=\tvalue\tignored\r\n"
              "trail   =   5\r\n"
              "empty =\r\n"
              "\t[sound]\n"
              "volume=0,5\n");
    const std::pair<const char*, const char*> expected[] = {
        {"name", "two"}, {"quoted", "two words"}, {"tabbed", "value"}, {"trail", "5"}, {"empty", ""},
    };
    for (const auto& [name, value] : expected) EXPECT_EQ(valueOf(ini, "video", name), value) << name;
    EXPECT_EQ(valueOf(ini, "sound", "volume"), "0,5");
    ASSERT_EQ(ini.categories().size(), 2u);
    EXPECT_EQ(ini.categories()[0]->name(), "sound");
    EXPECT_EQ(core.log().recordCount(), 0u);
}

TEST(IniFile, BadLinesAreLoggedAndSkipped) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"a = 1\r\n[s]\r\nb = 2", "INI file error: expected category before line 0:\"a = 1\""},
        {"[s]\r\n\r\n  [broken\r\nb = 2", "INI file error: invalid category line 1:\"[broken\""},
        {"[s]\r\njust words\r\nb = 2", "INI file error: expected variable value operator '='  at line 1:\"just words\""},
        {"[s]\r\nq = \"open\r\nb = 2", "INI file error: expected variable value end braced [\"] at line 1:\"q = \"open\""},
    };
    for (const Case& c : cases) {
        ScopedGameCore core;
        IniFile ini;
        parseText(ini, c.text);
        EXPECT_TRUE(core.log().contains(c.message)) << c.message;
        EXPECT_EQ(valueOf(ini, "s", "b"), "2") << "the parse goes on after the bad line";
    }
}

TEST(IniFile, TypedGetters) {
    ScopedGameCore core;
    IniFile ini;
    IniCategory& section = ini.getCategory("game");
    struct BoolCase {
        const char* value;
        bool expected;
    };
    const BoolCase bools[] = {{"On", true}, {"1", false}, {"YES", true}, {"enable", true},
                              {"use", true}, {"ok", true}, {"no", false}, {"", true}};
    for (const BoolCase& c : bools) {
        IniVariable& v = section.getVariable("flag");
        v.setString(c.value);
        bool out = !c.expected;
        EXPECT_TRUE(v.getBool(out, true)) << c.value;
        EXPECT_EQ(out, c.expected) << c.value;
        EXPECT_FALSE(v.getBool(out, true)) << "unchanged the second time";
    }

    IniVariable& number = section.getVariable("speed");
    float f = 0.0f;
    EXPECT_TRUE(number.getFloat(f, 2.5f));
    EXPECT_EQ(f, 2.5f);
    number.setString("abc");
    EXPECT_TRUE(number.getFloat(f, 2.5f));
    EXPECT_EQ(f, -12345.0f);
    number.setFormatted("%.2f", 0.75);
    EXPECT_TRUE(number.getFloat(f, 2.5f));
    EXPECT_EQ(f, 0.75f);

    static const char* const kModes[] = {"Low", "Medium", "High"};
    IniVariable& mode = section.getVariable("mode");
    std::int32_t index = -1;
    EXPECT_TRUE(mode.getEnum(index, kModes, 3, 1));
    EXPECT_EQ(index, 1);
    mode.setString("HIGH");
    EXPECT_TRUE(mode.getEnum(index, kModes, 3, 1));
    EXPECT_EQ(index, 2);
    mode.setString("ultra");
    EXPECT_FALSE(mode.getEnum(index, kModes, 3, 0));
    EXPECT_EQ(index, 0);
    EXPECT_TRUE(core.log().contains("Invalid enum value in INI variable [mode]: ultra"));

    std::string text;
    EXPECT_TRUE(section.getVariable("title").getString(text, "none"));
    EXPECT_EQ(text, "none");
}

TEST(IniFile, SetFormattedMeasuresLongText) {
    IniFile ini;
    IniVariable& v = ini.getCategory("s").getVariable("long");
    const std::string big(10000, 'x');
    ASSERT_TRUE(v.setFormatted("%s-%s", big.c_str(), "end"));
    EXPECT_EQ(v.value(), big + "-end");
}

TEST(IniFile, FixedVariablesResistSettersAndSetupFile) {
    ScopedGameCore core;
    IniFile ini;
    parseText(ini, "[video]\r\nwidth = 800\r\n", true);
    parseText(ini, "[video]\r\nwidth = 1024\r\nheight = 600\r\n", false);
    IniVariable& width = ini.getCategory("video").getVariable("width");
    EXPECT_EQ(width.value(), "800");
    EXPECT_TRUE(width.fixed());
    EXPECT_FALSE(width.setString("640"));
    EXPECT_FALSE(width.setFormatted("%d", 640));
    EXPECT_FALSE(width.setBool(true));
    EXPECT_EQ(width.value(), "800");
    EXPECT_EQ(valueOf(ini, "video", "height"), "600");
    EXPECT_FALSE(ini.getCategory("video").getVariable("height").fixed());

    // A second forcing read overrides (user.ini over game.ini).
    parseText(ini, "[video]\r\nwidth = 1280\r\n", true);
    EXPECT_EQ(width.value(), "1280");
    EXPECT_TRUE(width.fixed());
}

TEST(IniFile, CommentsAreKeptAboveTheirLines) {
    ScopedGameCore core;
    IniFile ini;
    parseText(ini,
              "; the section\r\n"
              "[s]\r\n"
              "; first\r\n"
              ";second\r\n"
              "a = 1\r\n"
              "b = 2\r\n");
    EXPECT_EQ(ini.getCategory("s").comment(), "; the section\r\n");
    EXPECT_EQ(ini.getCategory("s").getVariable("a").comment(), "; first\r\n;second\r\n");
    EXPECT_EQ(ini.getCategory("s").getVariable("b").comment(), "");

    // A later read without comment lines keeps the comment.
    parseText(ini, "[s]\r\na = 3\r\n");
    EXPECT_EQ(ini.getCategory("s").getVariable("a").comment(), "; first\r\n;second\r\n");

    IniVariable& b = ini.getCategory("s").getVariable("b");
    b.setComment("one\r\ntwo");
    EXPECT_EQ(b.comment(), ";one\r\n;two\r\n");
    b.prependComment("zero");
    EXPECT_EQ(b.comment(), ";zero\r\n;one\r\n;two\r\n");
    b.appendComment("three");
    EXPECT_EQ(b.comment(), ";zero\r\n;one\r\n;two\r\n;three\r\n");
}

TEST(IniFile, WriteMatchesGoldenTextAndReadsBack) {
    ScopedGameCore core;
    TempDir dir;
    IniFile ini;
    parseText(ini, "[fixed]\r\nlocked = 1\r\n", true);
    IniCategory& video = ini.getCategory("video");
    video.setComment("Display");
    video.getVariable("width").setString("1024");
    video.getVariable("fullscreen").setBool(false);
    video.getVariable("title").setString("My Game");
    video.getVariable("tabbed").setString("a\tb");
    video.getVariable("unset");  // created by a getter, never given a value
    video.getVariable("width").setComment("pixels");
    IniCategory& sound = ini.getCategory("sound");
    sound.getVariable("volume").setFormatted("%d", 80);
    ini.getCategory("empty").getVariable("nothing");

    const std::string golden =
        "[sound]\r\n"
        "volume = 80\r\n"
        "\r\n"
        "\r\n"
        ";Display\r\n"
        "[video]\r\n"
        "fullscreen = NO\r\n"
        "tabbed     = \"a\tb\"\r\n"
        "title      = \"My Game\"\r\n"
        "\r\n"
        ";pixels\r\n"
        "width      = 1024\r\n"
        "\r\n";
    const std::string path = dir.file("out/setup.ini");
    ASSERT_TRUE(writeIniFile(ini, 0, path));
    EXPECT_EQ(testing_support::readFile(path), golden);
    EXPECT_FALSE(testing_support::exists(path + ".tmp"));
    EXPECT_TRUE(core.log().contains("Write INI file to ["));

    ASSERT_TRUE(writeIniFile(ini, 1, dir.file("fixed.ini")));
    EXPECT_EQ(testing_support::readFile(dir.file("fixed.ini")), "[fixed]\r\nlocked = 1\r\n\r\n");

    // Read back: values, quotes, tabs and comments survive the cycle.
    IniFile again;
    ASSERT_EQ(readIniFile(again, path, false), 1);
    EXPECT_EQ(valueOf(again, "video", "title"), "My Game");
    EXPECT_EQ(valueOf(again, "video", "tabbed"), "a\tb");
    EXPECT_EQ(again.getCategory("video").getVariable("width").comment(), ";pixels\r\n");
    ASSERT_TRUE(writeIniFile(again, 0, dir.file("again.ini")));
    EXPECT_EQ(testing_support::readFile(dir.file("again.ini")), golden);
}

// Writes the store's player kind and reads the text into a new store.
void roundTrip(const IniFile& ini, IniFile& again) { parseText(again, formatIniText(ini, 0)); }

TEST(IniFile, ValuesSurviveWriteAndRead) {
    ScopedGameCore core;
    const char* const values[] = {
        "say \"hi\" now", "\"quoted\"", "\"", "\"\"", "x\"y", "a;b", "; lead", "  two blanks first",
        "trail  ",         "\tx\t",       "[s]", "k = v", "plain",
    };
    IniFile ini;
    IniCategory& section = ini.getCategory("s");
    for (std::size_t i = 0; i < std::size(values); ++i)
        section.getVariable("v" + std::to_string(i)).setString(values[i]);
    section.getVariable("a_long_name_without_value");  // not written, pads nothing
    IniFile again;
    roundTrip(ini, again);
    for (std::size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(valueOf(again, "s", ("v" + std::to_string(i)).c_str()), values[i]);
    EXPECT_EQ(again.getCategory("s").variables().size(), std::size(values));
    // What reads back writes the same text again.
    EXPECT_EQ(formatIniText(again, 0), formatIniText(ini, 0));
    EXPECT_EQ(core.log().recordCount(), 0u);

    // Files written before read as they did: the quoted value ends at its
    // double quote, an unquoted one at a blank.
    IniFile old;
    parseText(old, "[s]\r\nq = \"two words\" rest\r\nz = \"\"\r\nw = a\"b c\r\n");
    EXPECT_EQ(valueOf(old, "s", "q"), "two words");
    EXPECT_EQ(valueOf(old, "s", "z"), "");
    EXPECT_EQ(valueOf(old, "s", "w"), "a\"b");
}

TEST(IniFile, EveryWrittenNameReadsBackAsItself) {
    ScopedGameCore core;
    IniFile ini;
    // A name cut to 127 characters would end in a blank: it is stored
    // without it, and both names keep their own values through the file.
    const std::string stem(126, 'n');
    parseText(ini, "[s]\r\n" + stem + "  tail = long\r\n" + stem + "x = other\r\n");
    IniCategory& section = ini.getCategory("s");
    section.getVariable(stem + "\t=").setString("same");
    IniFile again;
    roundTrip(ini, again);
    ASSERT_EQ(ini.getCategory("s").variables().size(), 2u);
    EXPECT_EQ(valueOf(again, "s", stem.c_str()), "same");
    EXPECT_EQ(valueOf(again, "s", (stem + "x").c_str()), "other");
    EXPECT_EQ(again.getCategory("s").variables().size(), 2u);

    // What no line can carry is left out with a message, never written so
    // that it reads back as another variable or section.
    const std::pair<const char*, const char*> refused[] = {
        {"inject", "1\r\n[video]\r\nres_width = 1"}, {"a=b", "1"}, {";note", "1"}, {"[x", "1"}, {" lead", "1"},
    };
    IniFile bad;
    for (const auto& [name, value] : refused) bad.getCategory("t").getVariable(name).setString(value);
    bad.getCategory("u]").getVariable("k").setString("1");
    bad.getCategory("t").getVariable("kept").setString("1");
    EXPECT_EQ(formatIniText(bad, 0), "[t]\r\nkept   = 1\r\n\r\n");
    for (const auto& [name, value] : refused)
        EXPECT_TRUE(core.log().contains(std::string("Can't write INI variable [") + name + "] of section [t]"))
            << name;
}

TEST(IniFile, NulByteSpoilsOnlyItsLine) {
    ScopedGameCore core;
    IniFile ini;
    static const char kText[] = "[video]\r\nres_width = 800\r\nres_\0height = 600\r\nbits = 32\r\n";
    parseText(ini, std::string(kText, sizeof(kText) - 1));
    EXPECT_EQ(valueOf(ini, "video", "res_width"), "800");
    EXPECT_EQ(valueOf(ini, "video", "bits"), "32");
    EXPECT_EQ(ini.getCategory("video").variables().size(), 2u);
    EXPECT_TRUE(core.log().contains("INI file error: NUL byte in line 2, the line is skipped"));
}

TEST(IniFile, MissingFilesAndFailedWrites) {
    ScopedGameCore core;
    TempDir dir;
    IniFile ini;
    const std::string missing = dir.file("missing.ini");
    EXPECT_EQ(readIniFile(ini, missing, true), -1);
    EXPECT_TRUE(core.log().contains("Can't read configuration file from  [" + missing + "]"));

    // A folder in the way of the temporary file: the write fails, logged.
    ini.getCategory("s").getVariable("a").setString("1");
    ASSERT_TRUE(testing_support::makeFolders(dir.file("x.ini.tmp")));
    EXPECT_FALSE(writeIniFile(ini, 0, dir.file("x.ini")));
    EXPECT_TRUE(core.log().contains("Can't write configuration file to [" + dir.file("x.ini") + "]"));
}

TEST(IniFile, InterruptedSetupWriteKeepsTheOldFile) {
    ScopedGameCore core;
    TempDir dir;
    const std::string path = dir.file("setup.ini");
    ASSERT_TRUE(testing_support::writeFile(path, "[video]\r\nwidth = 800\r\n"));
    IniFile ini;
    ini.getCategory("video").getVariable("width").setString("1024");

    IniFile::beforeReplaceForTesting = [] { return false; };
    EXPECT_FALSE(writeIniFile(ini, 0, path));
    IniFile::beforeReplaceForTesting = nullptr;
    EXPECT_EQ(testing_support::readFile(path), "[video]\r\nwidth = 800\r\n");
    EXPECT_EQ(testing_support::readFile(path + ".tmp"), "[video]\r\nwidth = 1024\r\n\r\n");

    // The next write completes and replaces both, the new file and its
    // folder flushed to the disk.
    const std::uint64_t synced = platform::syncedPathCount();
    EXPECT_TRUE(writeIniFile(ini, 0, path));
    EXPECT_EQ(platform::syncedPathCount(), synced + 2);
    EXPECT_EQ(testing_support::readFile(path), "[video]\r\nwidth = 1024\r\n\r\n");
    EXPECT_FALSE(testing_support::exists(path + ".tmp"));
}

TEST(IniFile, ConfigFilesLayerAndSetupSync) {
    ScopedGameCore core(true);
    TempDir data;
    TempDir user;
    core.paths().setPath(PathDataFolderInput, data.path());
    core.paths().setPath(PathAppData, user.path());
    ASSERT_TRUE(testing_support::writeFile(data.file("game.ini"),
                                           "[video]\r\nwidth = 800\r\nheight = 600\r\n[game]\r\nlevel = 1\r\n"));
    ASSERT_TRUE(testing_support::writeFile(data.file("user.ini"), "[video]\r\nwidth = 1280\r\n"));

    IniFile ini;
    ASSERT_TRUE(ini.readConfigFiles());
    EXPECT_EQ(valueOf(ini, "video", "width"), "1280");
    EXPECT_EQ(valueOf(ini, "video", "height"), "600");

    // The program's own settings go to setup.ini; fixed ones do not.
    ini.getCategory("video").getVariable("width").setString("640");
    ini.getCategory("video").getVariable("gamma").setString("1.2");
    ini.getCategory("sound").getVariable("volume").setString("70");
    ASSERT_TRUE(ini.savePending);
    ini.sync();
    EXPECT_FALSE(ini.savePending);
    const std::string setup = core.paths().get(PathSetupIni);
    EXPECT_EQ(testing_support::readFile(platform::hostPath(setup)),
              "[sound]\r\nvolume = 70\r\n\r\n[video]\r\ngamma  = 1.2\r\n\r\n");

    // Reloading: setup.ini cannot change the fixed width.
    ASSERT_TRUE(testing_support::writeFile(platform::hostPath(setup),
                                           "[video]\r\nwidth = 320\r\ngamma = 2.0\r\n"));
    ini.reloadPending = true;
    ini.sync();
    EXPECT_FALSE(ini.reloadPending);
    EXPECT_EQ(valueOf(ini, "video", "width"), "1280");
    EXPECT_EQ(valueOf(ini, "video", "gamma"), "2.0");

    // Without user.ini only game.ini counts.
    IniFile plain;
    std::remove(data.file("user.ini").c_str());
    ASSERT_TRUE(plain.readConfigFiles());
    EXPECT_EQ(valueOf(plain, "video", "width"), "800");
}

}  // namespace
