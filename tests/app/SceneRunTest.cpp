// The game as a player starts it: its "game_start" posts the load of the
// first scene, whose progress handlers and load lines reach the log, then
// ends the game and leaves.
#include <gtest/gtest.h>

#include "foundation/DataStream.h"
#include "model/ModelWriter.h"
#include "model/Y3Model.h"
#include "particle/ParticleWriter.h"
#include "scene/SceneDescription.h"
#include "sound/OggWriter.h"
#include "support/GameFixture.h"
#include "textures/DdsWriter.h"

using testing_support::GameData;
using testing_support::GameFixture;

namespace {

// The stored files of the scene "hallway" (scene data, sky, actions,
// waypoints and its light set) with the description's further lines; false
// (with the writer's message) when the description is wrong.
bool hallwayScene(const std::string& lines, std::vector<testing_support::FixtureFile>& files, std::string& error) {
    scene_tools::SceneDescription scene;
    if (!scene_tools::parseSceneDescription("scene hallway\nsky\nactions\nlightset hallway_default\n" + lines, scene,
                                            error))
        return false;
    files = {{".ms4", "hallway", scene_tools::sceneDataBytes(scene.data), ""},
             {".sky", "hallway", "sky", ""},
             {".as", "hallway", "actions", ""},
             {".wp", "hallway", scene_tools::waypointBytes(scene.waypoints), ""},
             {".ls", "hallway_default", scene_tools::lightSetBytes(scene.lightSets.front()), ""}};
    return true;
}

TEST(SceneRun, StartScriptLoadsItsFirstSceneThroughAPostedEvent) {
    GameData data;
    // Every progress report may redraw, so the short load is heard.
    data.gameIni = "[game]\nlang=en\n[debug]\nenable_script_log_msg=yes\n[render]\nprogress_max_fps=1000000\n";
    data.scripts["main"] = R"(
function system_reset() end
function on_start() log("handler start") end
function on_progress() log("handler progress") end
function on_finish() log("handler finish") end
function load_intro()
    game:load("intro")
    game:load("intro")
    game:gameOver()
    world:quitGame()
end
function game_start()
    game.onStartProgress = "on_start"
    game.onProgress = "on_progress"
    game.onFinishProgress = "on_finish"
    game:load("intro")
    sendEvent("load_intro")
end
)";
    GameFixture game(data, GAME_BINARY);
    ASSERT_TRUE(game.ready()) << game.error();
    ASSERT_EQ(game.run(60), 0) << game.log();
    const std::string log = game.log();
    std::string missing;
    EXPECT_TRUE(testing_support::containsInOrder(
        log,
        {"Load NOT enabled from this script execution point", "Start to load scene [intro]",
         "handler start", "Can't find resource for scene [intro]. Create debug scene", "handler progress", "handler finish",
         "Success load scene [intro]", "Can't load scene [intro]: Already loaded",
         "----------------- Finalize current game ----------------------",
         "------------ Current game successfully finalized -------------", "Called exit from script"},
        &missing))
        << missing << "\n" << log;
}

// A scene whose data places the sprite "hall" on the sprite resource
// "panel": in the running game the load makes it, and scripts find it with
// its shown elements.
TEST(SceneRun, TheScenesSpritePlacementMakesASprite) {
    GameData data;
    std::string error;
    ASSERT_TRUE(hallwayScene("sprite hall panel\n", data.dataFiles, error)) << error;
    Y3ModelSprite panel;
    for (const char* name : {"background", "door"}) {
        SpriteElementData element;
        copyName128(element.name, name);
        copyName128(element.texture, name);
        panel.elements.push_back(element);
    }
    data.gameIni = "[game]\nlang=en\n[debug]\nenable_script_log_msg=yes\n";
    data.dataFiles.push_back({".sprite", "panel", model_tools::modelFileBytes(panel, "panel", true), ""});
    data.scripts["main"] = R"(
function system_reset() end
function look()
    local hall = world:sprite("hall")
    if hall then log("sprite " .. hall:element_name(0) .. " " .. tostring(hall:element_visible("door"))) end
    world:quitGame()
end
function load_hallway()
    game:load("hallway")
    sendEvent("look")
end
function game_start() sendEvent("load_hallway") end
)";
    GameFixture game(data, GAME_BINARY);
    ASSERT_TRUE(game.ready()) << game.error();
    ASSERT_EQ(game.run(60), 0) << game.log();
    const std::string log = game.log();
    std::string missing;
    EXPECT_TRUE(testing_support::containsInOrder(log, {"Success load scene [hallway]", "sprite background false"}, &missing))
        << missing << "\n" << log;
}


// The files of the scene "hallway" with the given waypoint lines and the
// effect "chimney" of the given description; false (with the writers'
// message) when one cannot be written.
bool hallwayFiles(const char* waypoints, const char* chimney, std::vector<testing_support::FixtureFile>& files,
                  std::string& error) {
    if (!hallwayScene(waypoints, files, error)) return false;
    const std::string effect = particle_tools::effectFileBytes(chimney, error);
    if (effect.empty()) return false;
    files.push_back({".effect", "chimney", effect, ""});
    return true;
}

// Runs the game on the data with a script that loads "hallway" and then, at
// once or after half a second of game time (settle), runs the Lua lines of
// look and quits; the game's log (a failure is recorded, with what the game
// wrote to its error output, when it does not end cleanly).
std::string lookAtHallway(GameData& data, const std::string& look, bool settle = false) {
    const std::string then =
        settle ? "timersAPI:getGlobal():create(\"settle\", 0.5):setEvent(6, \"look\")" : "sendEvent(\"look\")";
    data.scripts["main"] = "function system_reset() end\nfunction look()\n" + look +
                           "\n    world:quitGame()\nend\n"
                           "function load_hallway()\n    game:load(\"hallway\")\n    " + then + "\nend\n"
                           "function game_start() sendEvent(\"load_hallway\") end\n";
    GameFixture game(data, GAME_BINARY);
    EXPECT_TRUE(game.ready()) << game.error();
    std::string stderrText;
    EXPECT_EQ(game.run(120, &stderrText), 0) << stderrText << "\n" << game.log();
    return game.log();
}

// A scene whose waypoints place the particle "smoke1" on the effect
// "chimney": in the running game the load makes it, and a script finds it,
// pauses, teleports and hides it through the class "Particle".
TEST(SceneRun, TheScenesParticleWaypointMakesAParticleThatScriptsDrive) {
    GameData data;
    std::string error;
    ASSERT_TRUE(hallwayFiles("waypoint particle smoke1 at 0 1 0 effect chimney\nwaypoint point gate at 4 0 0\n",
                             "layer plume\nrate 20\nlifetime 2 2\nvelocity 0 1 0\n", data.dataFiles, error))
        << error;
    data.gameIni = "[game]\nlang=en\n[debug]\nenable_script_log_msg=yes\n";
    const std::string log = lookAtHallway(data, R"(
    local smoke = world:particle("smoke1")
    if smoke then
        log("particle " .. smoke:classof() .. " " .. tostring(smoke.visible))
        smoke.pause = true
        log("paused " .. tostring(smoke.pause))
        log("teleported " .. tostring(smoke:teleport("gate", 2)) .. " " .. tostring(smoke:teleport("", 1)))
        smoke.visible = false
        log("shown " .. tostring(smoke.visible))
    end)");
    std::string missing;
    EXPECT_TRUE(testing_support::containsInOrder(
        log,
        {"Success load scene [hallway]", "particle Particle true", "Pause particle [smoke1] (chimney)", "paused true",
         "Fail teleport particle to empty destination: [smoke1]->NULL", "teleported true false",
         "Hide particle [smoke1] (chimney)", "shown false"},
        &missing))
        << missing << "\n" << log;
}

// A particle whose effect names a start sound plays it once its first
// points have come out where the camera sees them.
TEST(SceneRun, AParticlesStartSoundPlaysOnceItsPointsShow) {
    GameData data;
    std::string error;
    ASSERT_TRUE(hallwayFiles("waypoint particle smoke1 at 0 1 6 effect chimney\n",
                             "name chimney\nsound chime\nlayer plume\nrate 20\nlifetime 2 2\nvelocity 0 1 0\n",
                             data.dataFiles, error))
        << error;
    std::string ogg = oggwrite::write("channels 1\nlength 0.5\ntone 880 0.5\n", error);
    ASSERT_FALSE(ogg.empty()) << error;
    data.gameIni = "[game]\nlang=en\n[debug]\nenable_script_log_msg=yes\nsound_log=yes\n";
    testing_support::FixtureFile chime;
    chime.mask = ".ogg";
    chime.name = "chime";
    chime.source = "effect";
    chime.bytes = ogg;
    chime.packed = false;
    data.dataFiles.push_back(chime);
    data.scripts["main"] = R"(
function system_reset() end
function done()
    timersAPI:get():get("settle"):stop()
    world:quitGame()
end
function load_hallway()
    game:load("hallway")
    -- A second of frames, then quit (event 6 is the timer's action).
    timersAPI:get():create("settle", 1.0):setEvent(6, "done")
end
function game_start() sendEvent("load_hallway") end
)";
    GameFixture game(data, GAME_BINARY);
    ASSERT_TRUE(game.ready()) << game.error();
    ASSERT_EQ(game.run(60), 0) << game.log();
    const std::string log = game.log();
    EXPECT_NE(log.find("in [chime]"), std::string::npos) << log;
}

}  // namespace

namespace {

// Effects whose emission period no pre-simulation can run through: each is
// refused with the reason when the effect is read, and the game goes on
// and ends.
TEST(SceneRun, AnEffectWithAnEndlessEmissionPeriodIsRefused) {
    for (const char* period : {"1e30", "601", "500 200"}) {
        SCOPED_TRACE(period);
        GameData data;
        std::string error;
        ASSERT_TRUE(hallwayFiles("waypoint particle smoke1 at 0 1 6 effect chimney\n",
                                 (std::string("layer plume\nrate 20\nlifetime 2 2\nperiod ") + period + "\n").c_str(),
                                 data.dataFiles, error))
            << error;
        const std::string log = lookAtHallway(data, "    log(\"smoke \" .. tostring(world:particle(\"smoke1\")))", true);
        std::string missing;
        EXPECT_TRUE(testing_support::containsInOrder(
            log,
            {"Particle effect [chimney]: layer 0: the emission period", "exceeds 600 seconds", "smoke nil"},
            &missing))
            << missing << "\n" << log;
    }
}

}  // namespace

namespace {

// A scene light with a projected texture: the game loads the scene, quits
// and ends cleanly, the light's texture released while the renderer still
// stands.
TEST(SceneRun, ALightWithAProjectedTextureEndsWithTheGame) {
    GameData data;
    std::string error;
    ASSERT_TRUE(hallwayScene("light point lamp at 0 3 0 radius 5 texture glow\n", data.dataFiles, error)) << error;
    texture_tools::DdsImage glow;
    glow.width = glow.height = 4;
    glow.blocks.assign(1, std::vector<std::uint8_t>(4 * 4 * 4, 0xC0));
    const std::vector<std::uint8_t> dds = texture_tools::writeDds(glow);
    data.gameIni = "[game]\nlang=en\n[debug]\nenable_script_log_msg=yes\n";
    data.dataFiles.push_back({".dds", "glow", std::string(dds.begin(), dds.end()), ""});
    const std::string log = lookAtHallway(data, "    log(\"lamp shown\")", true);
    std::string missing;
    EXPECT_TRUE(testing_support::containsInOrder(log, {"Success load scene [hallway]", "lamp shown", "Exit from game."},
                                                 &missing))
        << missing << "\n" << log;
}

}  // namespace

namespace {

// A waypoint's particle takes its name from the id before "--" (the rest
// names the model it follows); the second waypoint that would take a name
// already used keeps its own, with the refusal in the log.
TEST(SceneRun, WaypointParticlesTakeTheirNameFromTheId) {
    GameData data;
    std::string error;
    ASSERT_TRUE(hallwayFiles("waypoint particle smoke1--statue.head at 0 1 0 effect chimney\n"
                             "waypoint particle smoke1--porch at 2 1 0 effect chimney\n",
                             "layer plume\nrate 20\nlifetime 2 2\n", data.dataFiles, error))
        << error;
    data.gameIni = "[game]\nlang=en\n[debug]\nenable_script_log_msg=yes\n";
    const std::string log = lookAtHallway(data, R"(
    local kept = world:particle("smoke1--porch") or world:particle("smoke1--statue.head")
    log("named " .. tostring(world:particle("smoke1") ~= nil) .. " " .. tostring(kept ~= nil)))");
    std::string missing;
    EXPECT_TRUE(testing_support::containsInOrder(
        log,
        {"Particle with name [smoke1] already exist in this scene", "Can't rename particle [smoke1--",
         "Success load scene [hallway]", "named true true"},
        &missing))
        << missing << "\n" << log;
}

}  // namespace
