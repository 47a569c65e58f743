// Start-up, the game-state machine and release of the built game, run as a
// player would run it; and the start-up steps that shape names and
// languages, run in process.
#include <gtest/gtest.h>

#include <signal.h>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "control/ControlSettings.h"
#include "effects/EffectsSettings.h"
#include "foundation/ExportSettings.h"
#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "model/Model.h"
#include "model/ModelActionItemData.h"
#include "model/Y3Mesh.h"
#include "render/RenderCore.h"
#include "render/RenderSettings.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "render/TextureLibrary.h"
#include "resources/LoadingProgress.h"
#include "scene/SceneDataManager.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "game/QuestTestSupport.h"
#include "support/GameFixture.h"
#include "variables/VariableWriter.h"

using testing_support::containsInOrder;
using testing_support::GameData;
using testing_support::GameFixture;

namespace {

constexpr int kTimeout = 60;

// A game whose "game_start" returns and whose window close quits.
GameData waitingGame() {
    GameData data;
    data.scripts = {{"main",
                     "function system_reset() end\n"
                     "function game_start() end\n"
                     "function game_close_window() world:quitGame() end\n"}};
    return data;
}

TEST(GameStartup, QuitFromTheStartScriptEndsInOrderWithExitZero) {
    GameData data;
    data.scripts = testing_support::quittingScripts();
    GameFixture game(data, GAME_BINARY);
    ASSERT_TRUE(game.ready()) << game.error();
    ASSERT_EQ(game.run(kTimeout), 0) << game.log();
    std::string missing;
    EXPECT_TRUE(containsInOrder(game.log(),
                                {"Build from: [", "Data version base = 00000000, runtime = 0000000B",
                                 "Engine initialization done", "Play game", "Enter game loop mode",
                                 "Called exit from script", "Release resources...", "Exit from game."},
                                &missing))
        << missing << "\n"
        << game.log();
}

TEST(GameStartup, EngineStartAndReleaseRunEveryStepInOrder) {
    GameData data;
    data.scripts = testing_support::quittingScripts();
    // With "resource_log" every data-manager step and release step names itself.
    data.gameIni = "[game]\nlang=en\n[debug]\nresource_log=yes\n";
    GameFixture game(data, GAME_BINARY);
    ASSERT_TRUE(game.ready()) << game.error();
    ASSERT_EQ(game.run(kTimeout), 0) << game.log();
    std::string missing;
    EXPECT_TRUE(containsInOrder(
        game.log(),
        {"Initialize [Lightset DB]", "Initialize [Sky colors DB]", "Search for input devices",
         "Input devices initialized", "Initialize [Game quests data]", "Initialize [Game dialogs data]",
         "Engine initialization done", "Play game", "Release resources...", "Release [scenes]", "Release [sounds]",
         "Release [quest logic]", "Release [Screen actions data]", "Release [Game waypoints data]",
         "Release [animation]", "Release [render]", "Release [Lightset DB]", "Release [Sky colors DB]",
         "Release [physics models]", "Release [input]", "Release [Game quests data]", "Release [Game dialogs data]",
         "Release [script variables]", "Release [script engine]", "Release [render device]", "Release [main window]",
         "Exit from game."},
        &missing))
        << missing << "\n"
        << game.log();
    // Script loading sits between input and the quests.
    EXPECT_LT(game.log().find("Input devices initialized"), game.log().find("Initialize [Game quests data]"));
}

TEST(GameStartup, UnreadableQuestEndsTheEngineStart) {
    GameData data;
    data.scripts = testing_support::quittingScripts();
    // The quest first in the package is damaged after writing; the other one reads.
    data.dataFiles = {{".quest", "broken", std::string(40, 'Q'), ""},
                      {".quest", "intro", quest_tests::compiledQuests("quest intro\nevent start\n"), ""}};
    GameFixture game(data, GAME_BINARY);
    ASSERT_TRUE(game.ready()) << game.error();
    const std::string path = game.root() + "/data.pak";
    std::string bytes = testing_support::readFile(path);
    ASSERT_GT(bytes.size(), 13u);
    for (std::size_t i = 9; i < 13; ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0xFF);
    ASSERT_TRUE(testing_support::writeFile(path, bytes));
    EXPECT_EQ(game.run(kTimeout), 2) << game.log();
    std::string missing;
    EXPECT_TRUE(containsInOrder(game.log(),
                                {"Skip resource [broken]", "Can't initialize quests engine",
                                 "Can't initialize engine resources", "Exit from game."},
                                &missing))
        << missing << "\n"
        << game.log();
    EXPECT_EQ(game.log().find("Can't read resource [intro] data"), std::string::npos) << game.log();
}

// Play begins with "game_start"; the quests then start through their own
// entry point "quest_start", before the first frame. A game whose scripts
// leave it out starts the same, without a word about it.
TEST(GameStartup, TheQuestsStartThroughTheirEntryPointAfterTheGameStart) {
    const std::string start = "function system_reset() end\nfunction game_start() msg('game start') end\n";
    const struct {
        const char* what;
        std::string scripts;
        std::vector<std::string> lines;
    } cases[] = {
        {"with quest_start",
         start + "function quest_start()\n"
                 "  msg('quest start: ', quest:begin('intro') and 'begun' or 'not found')\n"
                 "  world:quitGame()\n"
                 "end\n",
         {"Enter game loop mode", "game start", "quest start: begun", "Exit from game."}},
        {"without", start + "function game_start() world:quitGame() end\n",
         {"Enter game loop mode", "Exit from game."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GameData data;
        data.scripts = {{"main", c.scripts}};
        data.dataFiles = {{".quest", "intro", quest_tests::compiledQuests("quest intro\nevent start\n"), ""}};
        GameFixture game(data, GAME_BINARY);
        ASSERT_TRUE(game.ready()) << game.error();
        ASSERT_EQ(game.run(kTimeout), 0) << game.log();
        std::string missing;
        EXPECT_TRUE(containsInOrder(game.log(), c.lines, &missing)) << missing << "\n" << game.log();
        EXPECT_EQ(game.log().find("[quest_start]"), std::string::npos) << game.log();
    }
}

TEST(GameStartup, FailuresEndWithTheirMessagesAndExitCodes) {
    struct Case {
        const char* name;
        GameData data;
        int exitCode;
        std::vector<std::string> lines;
        bool corruptScriptPackage = false;
    };
    GameData noStart;
    noStart.scripts = {{"main", "function system_reset() end\n"}};
    GameData noVariables;
    noVariables.scripts = testing_support::quittingScripts();
    noVariables.globals.clear();
    GameData noReset;
    noReset.scripts = {{"main", "function game_start() world:quitGame() end\n"}};
    GameData badScript;
    badScript.scripts = {{"main", "function system_reset( end\n"}};
    const Case cases[] = {
        // Both release requests run; the second finds nothing left to free.
        {"no game_start", noStart, 3,
         {"Enter game loop mode", "Scene initialization SCRIPT crashed.", "Releasing game loop...",
          "Release resources...", "Exit from game."}},
        {"no variables", noVariables, 1,
         {"Can't initialize game variables", "Can't initialize system resources", "Exit from game."}},
        {"no system_reset", noReset, 2,
         {"Can't execute script system reset", "Can't initialize script engine",
          "Can't initialize engine resources", "Exit from game."}},
        {"script that does not compile", badScript, 2,
         {"Cannot find script sources", "Can't initialize script engine", "Exit from game."}},
        // The bad package is reported and left out; without it there are no scripts.
        {"corrupt package", testing_support::GameData{}, 2,
         {"Can't read package [", "Can't initialize script engine", "Can't initialize engine resources",
          "Exit from game."},
         true},
    };
    for (const Case& c : cases) {
        GameFixture game(c.data, GAME_BINARY);
        ASSERT_TRUE(game.ready()) << game.error();
        if (c.corruptScriptPackage) {
            ASSERT_TRUE(testing_support::writeFile(game.root() + "/scripts.pak", "not a package"));
        }
        EXPECT_EQ(game.run(kTimeout), c.exitCode) << c.name << "\n" << game.log();
        std::string missing;
        EXPECT_TRUE(containsInOrder(game.log(), c.lines, &missing)) << c.name << ": " << missing << "\n"
                                                                    << game.log();
    }
}

TEST(GameStartup, SecondInstanceIsRefusedAndAStopSignalClosesThroughTheScript) {
    GameFixture game(waitingGame(), GAME_BINARY);
    ASSERT_TRUE(game.ready()) << game.error();
    ASSERT_TRUE(game.start());
    ASSERT_TRUE(game.waitForLog("Enter game loop mode", kTimeout)) << game.log();
    const std::string before = game.log();

    std::string errors;
    EXPECT_EQ(game.run(kTimeout, &errors), 1);
    EXPECT_NE(errors.find("Other application instance already run"), std::string::npos) << errors;
    EXPECT_EQ(game.log(), before);

    ASSERT_TRUE(game.signal(SIGTERM));
    EXPECT_EQ(game.wait(kTimeout), 0) << game.log();
    std::string missing;
    EXPECT_TRUE(containsInOrder(game.log(),
                                {"Windows message close: Add script event game_close_window();",
                                 "Called exit from script", "Release resources...", "Exit from game."},
                                &missing))
        << missing << "\n"
        << game.log();
}

TEST(GameStartup, AStopSignalTheScriptIgnoresEndsTheGameAtTheSecond) {
    GameData data;
    data.scripts = {{"main",
                     "function system_reset() end\n"
                     "function game_start() end\n"
                     "function game_close_window() end\n"}};
    GameFixture game(data, GAME_BINARY);
    ASSERT_TRUE(game.ready()) << game.error();
    ASSERT_TRUE(game.start());
    ASSERT_TRUE(game.waitForLog("Enter game loop mode", kTimeout)) << game.log();
    ASSERT_TRUE(game.signal(SIGTERM));
    ASSERT_TRUE(game.waitForLog("Add script event game_close_window", kTimeout)) << game.log();
    ASSERT_TRUE(game.signal(SIGINT));
    EXPECT_EQ(game.wait(kTimeout), 0) << game.log();
    std::string missing;
    EXPECT_TRUE(containsInOrder(game.log(),
                                {"Stop signal received 2 time(s): the game ends", "Exit from game",
                                 "Release resources...", "Exit from game."},
                                &missing))
        << missing << "\n"
        << game.log();
}

TEST(GameStartup, AStartThatHangsInAScriptEndsAtTheFirstStopSignal) {
    const char* const scripts[] = {
        "function system_reset() while true do end end\nfunction game_start() end\n",
        "function system_reset() end\nfunction game_start() while true do end end\n",
    };
    for (const char* script : scripts) {
        GameData data;
        data.scripts = {{"main", script}};
        GameFixture game(data, GAME_BINARY);
        ASSERT_TRUE(game.ready()) << game.error();
        ASSERT_TRUE(game.start());
        ASSERT_TRUE(game.waitForLog("Input devices initialized", kTimeout)) << game.log();
        ASSERT_TRUE(game.signal(SIGTERM));
        EXPECT_EQ(game.wait(kTimeout), 0) << script << "\n" << game.log();
        std::string missing;
        EXPECT_TRUE(containsInOrder(game.log(),
                                    {"Stop signal received 1 time(s): the game ends", "Release resources...",
                                     "Exit from game."},
                                    &missing))
            << script << ": " << missing << "\n"
            << game.log();
    }
}

// A game core with a log, paths, settings and the variables core.
class NamingCore {
public:
    NamingCore() : saved_(gameCore) {
        gameCore = GameCore{};
        gameCore.log = new Log;
        gameCore.paths = new AppPaths;
        gameCore.settings = new IniFile;
        gameCore.variables = new VariablesCore;
    }
    ~NamingCore() {
        delete gameCore.variables;
        delete gameCore.settings;
        delete gameCore.paths;
        delete gameCore.log;
        gameCore = saved_;
    }
    NamingCore(const NamingCore&) = delete;
    NamingCore& operator=(const NamingCore&) = delete;

private:
    GameCore saved_;
};

TEST(GameStartup, GameNameBlanksWhatAFolderNameCannotHold) {
    const std::pair<const char*, const char*> cases[] = {
        {"Three:Word\tTitle", "three word title"},
        {"a/b\\c*d?e\"f<g>h|i", "a b c d e f g h i"},
        {"Plain", "plain"},
    };
    for (const auto& [title, expected] : cases) {
        NamingCore core;
        ScriptVariable* root = gameCore.variables->locales().ensureRoot();
        std::string error;
        ASSERT_TRUE(variable_tools::parseVariableText(std::string("system.SF_ui_title wstring ") + title, *root,
                                                      error))
            << error;
        gameCore.setGameName();
        EXPECT_EQ(gameCore.paths->get(PathGameName), expected) << title;
    }
    NamingCore core;
    gameCore.paths->setPath(PathGameName, "kept");
    gameCore.setGameName();  // no locales tree: reported, name kept
    EXPECT_EQ(gameCore.paths->get(PathGameName), "kept");
    EXPECT_TRUE(gameCore.log->contains("Can't find script variable [locales.system.SF_ui_title]"));
}

TEST(GameStartup, LanguageFromTheSettingsWinsOverTheRegistry) {
    NamingCore core;
    IniCategory& game = gameCore.settings->getCategory("game");
    game.getVariable("reglang").setString("SOFTWARE\\Game");
    game.getVariable("debug_lang").setString("de");
    game.getVariable("lang").setString("ru");
    gameCore.detectLanguage();
    EXPECT_EQ(gameCore.paths->get(PathLanguage), "ru");
    EXPECT_EQ(gameCore.paths->get(PathLanguage2), "de");
    EXPECT_FALSE(gameCore.log->contains("from registry"));
    EXPECT_TRUE(gameCore.log->contains("Detected language selection in configuration file [ru]"));
    EXPECT_NE(game.findVariable("id"), nullptr);  // created when missing
}

TEST(GameStartup, LoadSettingsRunsEveryComponentReaderAndKeepsTheGameId) {
    NamingCore core;
    LoadingProgress* progress = loadingProgress();
    SceneDataManager* sceneData = sceneDataManager();
    {
        SaveGame game;
        RenderCore render;
        gameCore.game = &game;
        gameCore.render = &render;
        IniFile& ini = *gameCore.settings;
        const struct {
            const char* section;
            const char* key;
            const char* value;
        } values[] = {
            {"render", "progress_max_fps", "30"},
            {"render", "HDR_depth_alpha_clip", "255"},
            {"render", "HDR_bloom_bloor_offsetY", "2.5"},
            {"render_ffp", "max_ffp_model_lights", "2"},
            {"render_ffp", "ffp_animation_lod_update_period[2]", "8"},
            {"debug", "debug_sprite_name", "spark"},
            {"render", "texture_render_cache_time", "5"},
            {"export", "jpg_quality", "40"},
            {"action", "ranges[ModelActionItemData_min_size_2d]", "16"},
            {"controller", "controller_skin_multiplier", "2"},
            {"render", "min_instances_per_group", "3"},
            {"physics", "chr_slope_angle", "60"},
        };
        for (const auto& v : values) ini.getCategory(v.section).getVariable(v.key).setString(v.value);
        gameCore.loadSettings();
        EXPECT_FLOAT_EQ(renderSettings.progressMaxFps, 30.0f);
        EXPECT_FLOAT_EQ(renderSettings.hdrDepthAlphaClip, 1.0f);
        EXPECT_FLOAT_EQ(renderSettings.hdrBloomBlurOffsetY, 2.5f);
        EXPECT_FLOAT_EQ(renderSettings.shadowOffset, 0.007f);
        EXPECT_EQ(Model::settings().maxFfpModelLights, 2);
        EXPECT_EQ(Model::settings().ffpAnimationLodUpdatePeriod[2], 8);
        EXPECT_TRUE(Model::settings().enableLod1Footsteps);
        EXPECT_EQ(spriteSettings.debugSpriteName, "spark");
        EXPECT_FLOAT_EQ(TextureLibrary::settings().textureRenderCacheTime, 5.0f);
        EXPECT_EQ(TextureLibrary::settings().debugTextureName, "ProcMirror");
        EXPECT_EQ(exportSettings.jpgQuality, 40);
        EXPECT_FLOAT_EQ(ModelActionItemData::defaultRanges().minSize2d, 16.0f);
        EXPECT_FLOAT_EQ(physicsSettings.controllerSkinMultiplier, 2.0f);
        EXPECT_EQ(Y3Mesh::settings().minInstancesPerGroup, 3);
        EXPECT_TRUE(Y3Mesh::settings().enableMeshCaching);
        EXPECT_NEAR(physicsSettings.chrSlopeCosine, 0.5f, 1e-6f);
        EXPECT_FLOAT_EQ(physicsSettings.chrStepHeight, 0.4f);
        // Every reader adds the keys it did not find.
        for (const auto& [section, key] : std::vector<std::pair<const char*, const char*>>{
                 {"render", "HDR_PoissonDOF_texelY_offset"},
                 {"render", "enable_lod2_particles"},
                 {"render", "enable_texture_caching"},
                 {"render", "mesh_render_cache_time"},
                 {"render_ffp", "enable_ffp_animation_lod_update"},
                 {"debug", "debug_model_name"},
                 {"debug", "debug_physics_model_name"},
                 {"action", "ranges[ModelActionItemData_max_range_3d]"},
                 {"physics", "chr_teleport_step.z"},
                 {"game", "id"},
             }) {
            const IniCategory* category = ini.findCategory(section);
            EXPECT_TRUE(category && category->findVariable(key)) << section << "/" << key;
        }
        // A missing id gives "undefined"; a set one is kept.
        EXPECT_EQ(game.gameId, "undefined");
        ini.getCategory("game").getVariable("id").setString("harbour");
        gameCore.detectLanguage();
        EXPECT_EQ(game.gameId, "harbour");

        // The settings go back to their defaults for the other tests.
        IniFile empty;
        gameCore.settings = &empty;
        gameCore.loadSettings();
        gameCore.settings = &ini;
        EXPECT_FLOAT_EQ(renderSettings.progressMaxFps, 12.0f);
        gameCore.game = nullptr;
        gameCore.render = nullptr;
    }
    setLoadingProgress(progress);
    setSceneDataManager(sceneData);
}

// The alpha references and the shader debug name come from the game's INI
// file with the other render settings at start-up, and the draw paths'
// alpha test takes them; keys left out are added with their defaults.
TEST(GameStartup, StartUpSettingsGiveTheDrawPathsTheirAlphaReferences) {
    NamingCore core;
    testing_support::TempDir dir;
    ASSERT_TRUE(testing_support::writeFile(
        dir.file("game.ini"), "[render]\r\nalpha_sharp = 100\r\nalpha_mask = 200\r\n[debug]\r\ndebug_shader_name = PS_WATER20\r\n"));
    gameCore.paths->setPath(PathDataFolderInput, dir.path());
    RenderCore render;
    testing_support::ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
    gameCore.loadSettings();
    ShaderCore& shaders = render.shaders();
    EXPECT_EQ(shaders.alphaSharp, 100.0f);
    EXPECT_EQ(shaders.alphaSmooth, 1.0f);
    EXPECT_EQ(shaders.alphaMask, 200.0f);
    EXPECT_EQ(shaders.debugShaderName, "PS_WATER20");
    EXPECT_NE(gameCore.settings->getCategory("render").findVariable("alpha_smooth"), nullptr);

    const struct {
        std::int32_t alphaMode;
        std::uint32_t reference, function;
    } cases[] = {{1, 100, D3DCMP_GREATEREQUAL}, {2, 1, D3DCMP_GREATEREQUAL}, {3, 200, D3DCMP_LESSEQUAL}};
    for (const auto& c : cases) {
        shaders.resetPass();
        shaders.pass.alphaMode = c.alphaMode;
        shaders.applyPassState();
        EXPECT_EQ(render.stateCache().renderDesired[DXStateCache::RsAlphaRef], c.reference) << c.alphaMode;
        EXPECT_EQ(render.stateCache().renderDesired[DXStateCache::RsAlphaFunc], c.function) << c.alphaMode;
    }

    // Back to the defaults for the other tests.
    testing_support::TempDir none;
    gameCore.paths->setPath(PathDataFolderInput, none.path());
    IniFile* read = gameCore.settings;
    IniFile empty;
    gameCore.settings = &empty;
    gameCore.loadSettings();
    gameCore.settings = read;
}

TEST(GameStartup, StateMachineKeepsTheFailureStateAndReleasesSafelyTwice) {
    NamingCore core;
    EXPECT_TRUE(gameCore.gameLoop(7));  // still before the release states
    EXPECT_TRUE(gameCore.log->contains("Game state 7 NOT implemented"));
    EXPECT_EQ(gameCore.gameState, 7);
    EXPECT_FALSE(gameCore.gameLoop(13));
    EXPECT_FALSE(gameCore.gameLoop(12));  // released again; 13 is final
    EXPECT_EQ(gameCore.gameState, 13);
    EXPECT_FALSE(gameCore.gameLoop(7));
    EXPECT_EQ(gameCore.gameState, 13);
}

}  // namespace
