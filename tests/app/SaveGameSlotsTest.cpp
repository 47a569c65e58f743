// Save slots and the rest of the script class "Game": the slot list from
// both save folders, its order and what it skips, the getters by index, the
// thumbnails, deleting, and the settings and tools variables.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "app/SaveFileFixture.h"
#include "foundation/IniFile.h"

using testing_support::SaveFileFixture;
using testing_support::writeFile;

namespace {

namespace fs = std::filesystem;

// Sets a file's modification time some seconds into the past.
void age(const std::string& path, int seconds) {
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(seconds));
}

}  // namespace

TEST(SaveGameSlots, TheListHoldsValidFilesOfBothFoldersOldestFirst) {
    SaveFileFixture s;
    ASSERT_TRUE(s.runPosted("game:load('intro')"));
    ASSERT_TRUE(s.runPosted("game:save('alpha')\ngame:save('beta')"));
    age(s.userSave("alpha"), 100);
    age(s.userSave("beta"), 200);
    // A broken file, a folder named like a save, and the same slot (in
    // capitals) in the data folder's save folder.
    ASSERT_TRUE(writeFile(s.userSaveFolder() + "/broken.jpg", std::string(500, 'x')));
    fs::create_directories(s.userSaveFolder() + "/folder.jpg");
    fs::create_directories(s.dataSaveFolder());
    fs::copy_file(s.userSave("alpha"), s.dataSaveFolder() + "/ALPHA.JPG");
    fs::copy_file(s.userSave("alpha"), s.dataSaveFolder() + "/Gamma.jpg");
    age(s.dataSaveFolder() + "/Gamma.jpg", 50);

    ASSERT_TRUE(s.runPosted("built = game:dir_build()\n"
                            "count = game:dir_count()\n"
                            "names = ''\n"
                            "for i = 0, count - 1 do names = names .. game:dir_name(i) .. ' ' end\n"
                            "low = game:dir_name(-1)\n"
                            "high = game:dir_name(count)"));
    EXPECT_EQ(s.text("built"), "true");
    EXPECT_EQ(s.text("count"), "3");
    EXPECT_EQ(s.text("names"), "beta alpha gamma ");
    EXPECT_EQ(s.text("low"), "INVALID INDEX");
    EXPECT_EQ(s.text("high"), "INVALID INDEX");
    EXPECT_TRUE(s.f.logged("Ignore broken save file ["));
    EXPECT_TRUE(s.f.logged("broken.jpg]"));
    EXPECT_TRUE(s.f.logged("Can't get save directory name: Invalid index in directory [0..3]"));
    // The duplicate comes from the user's folder.
    ASSERT_EQ(s.f.game->slots.size(), 3u);
    EXPECT_NE(s.f.game->slots[1].path.find(s.paths.get(PathUserSaveFolder)), std::string::npos);
    EXPECT_NE(s.f.game->slots[2].path.find(s.paths.get(PathDataSaveFolder)), std::string::npos);
}

TEST(SaveGameSlots, GettersSetVariablesAndCheckTheirArguments) {
    SaveFileFixture s;
    ASSERT_TRUE(s.runPosted("game:load('intro')"));
    ASSERT_TRUE(s.runPosted("globals:get('system.title').value = 'Harbour at dawn'\n"
                            "game:save('named', globals:get('system.title'))\n"
                            "game:save('plain')\n"
                            "game:dir_build()\n"
                            "local v = globals:get('system.title')\n"
                            "ids = ''\n"
                            "for i = 0, game:dir_count() - 1 do game:dir_id(i, v) ids = ids .. v.value .. '|' end\n"
                            "dated = game:dir_date(0, v)\n"
                            "date = v.value\n"
                            "timed = game:dir_time(0, v)\n"
                            "time = v.value\n"
                            "bad_id = game:dir_id(5, v)\n"
                            "no_var = game:dir_date(0, 'text')\n"
                            "bad_time = game:dir_time(-1, v)\n"
                            "game:dir_time(0, globals:get('system.volume'))"));
    const std::string ids = s.text("ids");
    EXPECT_NE(ids.find("Harbour at dawn|"), std::string::npos) << ids;
    EXPECT_NE(ids.find("plain|"), std::string::npos) << ids;
    EXPECT_EQ(s.text("dated"), "true");
    EXPECT_EQ(s.text("timed"), "true");
    EXPECT_NE(s.text("date").find(" 20"), std::string::npos);  // "<day> <d> <month> <year>"
    EXPECT_EQ(s.text("time").size(), 5u);                      // "hh:mm"
    EXPECT_EQ(s.global("system.title")->type(), ScriptVariable::TypeWString);
    EXPECT_EQ(s.text("bad_id"), "false");
    EXPECT_EQ(s.text("no_var"), "false");
    EXPECT_EQ(s.text("bad_time"), "false");
    EXPECT_TRUE(s.f.logged("Can't set save directory ID: Invalid index in directory [0..2]"));
    EXPECT_TRUE(s.f.logged("Can't get directory data: Variable NULL ptr"));
    EXPECT_TRUE(s.f.logged("Can't set save directory time: Invalid index in directory [0..2]"));
    // A value set for the script is saved with the game like its own changes.
    EXPECT_TRUE(s.global("system.volume")->changed());
}

TEST(SaveGameSlots, ASmallSaveIsListedAndRestored) {
    SaveFileFixture s;
    IniCategory& section = s.f.settings.getCategory("game");
    section.getVariable("screenshot_width").setString("4");
    section.getVariable("screenshot_height").setString("4");
    s.f.game->readSettings();
    ASSERT_TRUE(s.runPosted("game:load('intro')"));
    ASSERT_TRUE(s.runPosted("saved = game:save('tiny')\ngame:dir_build()\nlisted = game:dir_count()"));
    EXPECT_EQ(s.text("saved"), "true");
    ASSERT_LT(std::filesystem::file_size(s.userSave("tiny")), 1024u);
    EXPECT_EQ(s.text("listed"), "1");
    ASSERT_TRUE(s.runPosted("game:restore('tiny')\nrestored = game:state()"));
    EXPECT_EQ(s.text("restored"), "true");
}

TEST(SaveGameSlots, ThumbnailsLoadIntoTheFourTextures) {
    SaveFileFixture s;
    ASSERT_TRUE(s.runPosted("game:load('intro')"));
    ASSERT_TRUE(s.runPosted("game:save('slot1')\n"
                            "game:dir_build()\n"
                            "mapped = game:dir_map(0, 3)\n"
                            "bad_slot = game:dir_map(0, 4)\n"
                            "bad_index = game:dir_map(1, 0)"));
    EXPECT_EQ(s.text("mapped"), "true");
    ASSERT_NE(s.render.textures.findOrCreate("procsavescreenshot3", 6, true), nullptr);
    EXPECT_EQ(s.render.textures.findOrCreate("procsavescreenshot3", 6, true)->image().width, 320u);
    EXPECT_EQ(s.f.game->slots[0].header.image.pixels(), nullptr);  // freed after the upload
    EXPECT_EQ(s.text("bad_slot"), "false");
    EXPECT_TRUE(s.f.logged("Can't map save directory texture: Invalid slot index [0..3]"));
    EXPECT_EQ(s.text("bad_index"), "false");
    EXPECT_TRUE(s.f.logged("Can't map save directory texture: Invalid index in directory [0..1]"));

    // A file cut after the list was built cannot be shown.
    fs::resize_file(s.userSave("slot1"), 800);
    ASSERT_TRUE(s.runPosted("cut = game:dir_map(0, 0)"));
    EXPECT_EQ(s.text("cut"), "false");
    EXPECT_TRUE(s.f.logged("Can't read save file header ["));
}

TEST(SaveGameSlots, DeleteRemovesTheFileAndRebuildsTheList) {
    SaveFileFixture s;
    ASSERT_TRUE(s.runPosted("game:load('intro')"));
    ASSERT_TRUE(s.runPosted("game:save('slot1')\ngame:save('slot2')\n"
                            "missing = game:delete('nosuch')\n"
                            "deleted = game:delete('slot1')\n"
                            "count = game:dir_count()\n"
                            "first = game:dir_name(0)"));
    EXPECT_EQ(s.text("missing"), "false");
    EXPECT_TRUE(s.f.logged("Can't find save file ["));
    EXPECT_TRUE(s.f.logged("nosuch.jpg]"));
    EXPECT_EQ(s.text("deleted"), "true");
    EXPECT_FALSE(fs::exists(s.userSave("slot1")));
    EXPECT_EQ(s.text("count"), "1");
    EXPECT_EQ(s.text("first"), "slot2");
}

TEST(GameScript, SettingsAndToolsVariables) {
    SaveFileFixture s;
    ASSERT_TRUE(s.f.lua.load("kind = game:classof()\n"
                             "static_kind = Game.classof()\n"
                             "name = game.name\n"
                             "quest = tostring(game:first_quest())\n"
                             "ini = game:get_ini_var('difficulty', 'normal')\n"
                             "missing = game:read_tools_var('export', 'folder', 'none')\n"
                             "written = game:write_tools_var('export', 'folder', 'out')\n"
                             "back = game:read_tools_var('export', 'folder', 'none')\n"
                             "other = game:read_tools_var('export', 'other', 'fallback')\n"
                             "refreshed = game:refresh(1)"));
    EXPECT_EQ(s.text("kind"), "Game");
    EXPECT_EQ(s.text("static_kind"), "Game");
    EXPECT_EQ(s.text("name"), "y3");
    EXPECT_EQ(s.text("quest"), "nil");
    EXPECT_EQ(s.text("ini"), "normal");
    EXPECT_NE(s.f.settings.findCategory("script")->findVariable("difficulty"), nullptr);
    EXPECT_EQ(s.text("missing"), "none");
    EXPECT_TRUE(s.f.logged("Can't read tools variable: [tools.ini] NOT exist"));
    EXPECT_EQ(s.text("written"), "true");
    EXPECT_EQ(s.text("back"), "out");
    EXPECT_EQ(s.text("other"), "fallback");
    EXPECT_EQ(s.text("refreshed"), "true");

    IniCategory& section = s.f.settings.getCategory("game");
    section.getVariable("start_quest").setString("q_first");
    section.getVariable("screenshot_width").setString("64px");
    section.getVariable("screenshot_height").setString("wide");
    s.f.game->readSettings();
    ASSERT_TRUE(s.f.lua.load("quest = game:first_quest()\nshot = game:buildScreenShot()"));
    EXPECT_EQ(s.text("quest"), "q_first");
    EXPECT_EQ(s.f.game->screenshotWidth, 64);
    EXPECT_EQ(s.f.game->screenshotHeight, 0);
    // A screenshot of no height cannot be made.
    EXPECT_EQ(s.text("shot"), "false");
}
