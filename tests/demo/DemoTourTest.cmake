# The built demo without a display: the scripts play their tour and the game
# ends by itself with exit code 0 (DEMO, RUN: see DemoRun.cmake). AUDIO is
# SDL's audio driver (default dummy); one that cannot open leaves the tour
# silent.
include(${CMAKE_CURRENT_LIST_DIR}/DemoRun.cmake)
if(NOT DEFINED AUDIO)
  set(AUDIO dummy)
endif()

demo_prepare()
# This run also logs the steps of the resource set-up and release.
file(APPEND "${RUN}/demo/bin/user.ini" "\n[debug]\nresource_log = yes\n")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env ${demo_environment} SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=${AUDIO} ${demo_guard} ${RUN}/demo/bin/game
  WORKING_DIRECTORY "${RUN}/cwd"
  RESULT_VARIABLE exit_code
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)

# Start-up with the demo's settings and scripts.
expect("Executable launched from [${RUN}/demo/bin/game]")
expect("Build from: [")
expect("Detected language selection in configuration file [en]")
# The render device on the GL backend, made once the window exists: the
# game's adapter offers shader model 2, the profiles of its shader package.
# On a software rasteriser its description names the GL renderer after
# "Software rasteriser 1000" (a limited card).
expect("Find video adapter...")
expect("Detected vs2.0 and ps2.0")
expect("OpenGL Direct3D 9 device")
expect("DirectX render device connected to [0:")
expect("Screen [")
# The input devices: the system keyboard and mouse of SDL's video.
expect("Search for input devices")
expect("Found input devices:")
expect("0: [Keyboard]")
expect("1: [Mouse]")
expect("Input devices initialized")
expect("msg(): demo: scripts loaded")
expect("msg(): demo: reset")
# Sound: the device over SDL audio, or a silent game when it cannot open.
if(AUDIO STREQUAL "dummy")
  expect("Initialize sound:")
  expect("Sound: Use S/W sound")
  expect("Set sound primary buffer quality to 44100Hz/16Bit/2Ch")
else()
  expect("Can't create DirectSound8 interface: [DSERR_NODRIVER]")
  expect("Sound NOT initialized")
endif()
expect("Engine initialization done")
expect("Play game")
expect("Enter game loop mode")
expect("msg(): demo: game start, tour true")
# The game opens on its menu; the tour presses New game by a click's road.
expect("msg(): demo: menu page [menu] built")
expect("msg(): demo: menu built")
expect("msg(): demo: the tour presses [mm_new]")
expect("msg(): demo: menu [mm_new] clicked")
expect("msg(): demo: new game")
# The first scene, from the global variables, with the progress handlers.
expect("Start to load scene [harbour]")
expect("msg(): demo: loading starts")
# A stored scene: its lights and placements from harbour.ms4.
expect("Scene lights created")
expect("Scene objects created")
expect("msg(): demo: loading done")
# The music starts with the first scene (sound.lua), through the script
# class "SoundManager".
if(AUDIO STREQUAL "dummy")
  expect("msg(): demo: music [theme] plays")
else()
  expect("msg(): demo: music [theme] silent")
endif()
expect("Success load scene [harbour]")
expect("msg(): demo: scene [harbour] is current")
expect("msg(): demo: still frame [stone] shown")
# The hero, placed with his controller capsule, is the main character.
expect("Select main character [hero]")
expect("msg(): demo: [hero] is the main character")
expect("msg(): demo: camera move plays")
# The scene's trigger waypoint made its trigger, which the script switches on.
expect("msg(): demo: trigger [pier_gate] enabled")
# Music and an effect through the script class "SoundManager".
if(AUDIO STREQUAL "dummy")
  expect("msg(): demo: bell rings for 1.2 s")
else()
  expect("msg(): demo: bell silent")
endif()
# The sailor, the harbour's animated character, idles; its idle attaches
# its pipe's smoke, paused until the idle's particle event.
expect("Pause particle [sailor.pipe] (harbour_smoke)")
expect("msg(): demo: [sailor] idles with [sailor.idle]")
# The lantern on the house is dark until the lamp quest lights it; the
# keeper on the pier idles.
expect("msg(): demo: lantern [lantern] dark in [harbour]")
expect("msg(): demo: [keeper] idles with [sailor.idle]")
# The harbour quest from the quests package: its arrival event runs.
expect("msg(): demo: quest [harbour] begun")
expect("msg(): demo: quest says [the boat waits at the pier]")
expect("msg(): demo: quest stage 1")
# A slot saved, listed and restored; the restore brings back the value the
# tour saved, not the one it set afterwards.
# The save comes after frames have run, with the camera's view of the
# harbour's two visibility areas in it.
expect("msg(): demo: frames ran before the save")
# The camera stands over the harbour's "sound:sea" ground volume: the sea's
# loop is the scene's ambient sound.
if(AUDIO STREQUAL "dummy")
  expect("msg(): demo: ambient [sea] plays")
else()
  expect("msg(): demo: no ambient loop")
endif()
# The harbour's screen of actions answers what lies under the cursor.
expect("msg(): demo: under the cursor [pier]")
# The harbour's view is held while the weather turns to rain and the slot
# "dry" is saved; the scene's rain is turned on; the hero walks his
# trajectory along the quay until the wall stops him.
expect("msg(): demo: camera holds [harbour_view]")
expect("msg(): demo: weather [rain]")
expect("msg(): demo: save [dry] written")
expect("msg(): demo: the scene's rain turns on")
expect("msg(): demo: rain on")
expect("msg(): demo: character at -6.00 0.00 5.50 before the walk")
expect("msg(): demo: [hero] walks [hero_walk]")
expect("after the walk")
expect("msg(): demo: visits 1")
# The harbour's crates through "Object": one moved, the other hidden.
expect("msg(): demo: [harbour_crate_a] at [quay] before the save")
expect("msg(): demo: [harbour_crate_b] hidden before the save")
# The sailor sent to its spot walking, its mate's body hidden.
expect("msg(): demo: [sailor] at [sailor_spot] playing [sailor.walk] before the save")
expect("msg(): demo: [sailor_mate] hidden before the save")
expect("Generate screen shot for save game")
expect("msg(): demo: save [tour] written")
# Then the hero walks where clicks send him: the cursor over the screen
# action of the house's door, behind the wall, and the click's handler; then
# over the pier's end. Each walk's route is searched on the harbour's grid.
# The crate shown again after the save is linked to him through its
# "Object" first and goes with him (its distance is checked below).
expect("msg(): demo: [harbour_crate_b] linked to [hero], ")
expect("msg(): demo: action")
expect("Switch current screen to [harbour]")
expect("msg(): demo: [hero] walks to [house_door]")
expect("Route [hero]: ")
expect("msg(): demo: [hero] arrived at [house_door]")
expect("msg(): demo: action")
expect("msg(): demo: [hero] walks to [pier_end]")
expect("Route [hero]: ")
expect("msg(): demo: [hero] arrived at [pier_end]")
expect("from [hero] after the walks")
# The lamp quest: the hero beside the keeper; the pointer over the keeper
# finds his screen action, and its click plays his greeting as the scene's
# main dialog: a camera move, voice lines with their subtitles, and a
# script call that begins the lamp quest, whose event makes the lantern's
# action live. The lantern's click runs its quest action: the light on,
# the quest done, the note shown; the slot "quest" is saved with the note.
expect("msg(): demo: [hero] beside [keeper]")
expect("msg(): demo: cursor hint [keeper]")
expect("Dialog.onStarted: Add script event")
expect("msg(): demo: dialog [keeper.greet] plays")
expect("camera([1 .current z2][1 harbour_view])")
expect("Dialog.onSubtitleStarted: Add script event")
expect("msg(): demo: subtitle [hello] shown")
expect("msg(): demo: keeper.greet of [keeper] says hello")
if(AUDIO STREQUAL "dummy")
  expect("Dialog: Stopped voice [keeper")
endif()
expect("msg(): demo: subtitle [hello] hidden")
expect("msg(): demo: subtitle [lamp] shown")
expect("msg(): demo: quest [lamp] begun")
expect("msg(): demo: quest says [light the lantern on the house]")
expect("msg(): demo: quest [lamp] asks for the lantern")
# The last line's end posts its subtitle's handler, then the dialog's end
# posts its own; the posted handlers run in that order, in the frame the
# dialog ends or a later one (checked below, apart from the postings).
expect("Dialog.onSubtitleFinished: Add script event demo_subtitle_hide('keeper.greet', 'keeper', 'lamp')")
expect("Dialog.onFinished: Add script event")
expect("msg(): demo: dialog [keeper.greet] over")
expect("msg(): demo: quest [lamp] stage 1 after the dialog")
expect("msg(): demo: cursor hint [lantern]")
expect("msg(): demo: [lantern] used")
expect("msg(): demo: lantern [lantern] lit, hum ")
expect("msg(): demo: quest [lamp] done")
expect("msg(): demo: note [demo.quest_complete] shown")
expect("msg(): demo: quest says [the lantern burns]")
expect("msg(): demo: save [quest] written")
# The slot brings back the quest's state and the keeper's dialog.
expect("SUCCESS LOADED GAME [quest]")
expect("msg(): demo: restore [quest] done")
expect("msg(): demo: quest [lamp] stage 2 after restore")
expect("msg(): demo: dialog [keeper.greet] kept after restore")
# Talking to him again: his thanks.
expect("msg(): demo: cursor hint [keeper]")
expect("msg(): demo: dialog [keeper.thanks] plays")
expect("msg(): demo: keeper.thanks of [keeper] says thanks")
expect("msg(): demo: dialog [keeper.thanks] over")
# The menu over the scene: Load lists the slots and restores one, Options
# sets the volumes, which setup.ini keeps.
expect("msg(): demo: menu built")
expect("msg(): demo: menu [mm_load] clicked")
expect("msg(): demo: menu page [menu_load] built")
expect("msg(): demo: menu lists 3 slot(s)")
expect("LOAD GAME [quest]")
expect("SUCCESS LOADED GAME [quest]")
expect("msg(): demo: menu loads [quest] done")
expect("msg(): demo: menu [mm_options] clicked")
expect("msg(): demo: menu page [menu_options] built")
expect("msg(): demo: volumes music 40 effects 80 kept")
expect("msg(): demo: menu [mm_back] clicked")
expect("msg(): demo: menu closed")
expect("Find save files")
expect("msg(): demo: 3 save slot(s)")
expect("msg(): demo: slot [dry]")
expect("msg(): demo: slot [tour]")
expect("msg(): demo: slot [quest]")
# The animations package lists its groups and their animations.
expect("msg(): demo: 6 animation group(s)")
expect("msg(): demo: animation group [flag] holds 1")
expect("msg(): demo: animation [flag]")
expect("msg(): demo: animation group [gull.] holds 1")
expect("msg(): demo: animation [gull.fly]")
expect("msg(): demo: animation group [hero.] holds 2")
expect("msg(): demo: animation [hero.stand]")
expect("msg(): demo: animation [hero.walk]")
expect("msg(): demo: animation group [rowboat.] holds 2")
expect("msg(): demo: animation [rowboat.drift]")
expect("msg(): demo: animation [rowboat.rock]")
expect("msg(): demo: animation group [sailor.] holds 2")
expect("msg(): demo: animation [sailor.idle]")
expect("msg(): demo: animation [sailor.walk]")
expect("msg(): demo: animation group [walker.] holds 2")
expect("msg(): demo: animation [walker.stand]")
expect("msg(): demo: animation [walker.walk]")
expect("msg(): demo: group of [Rowboat] is [rowboat.]")
# The music changes after the save; the restore brings back the music
# that played when the game was saved.
if(AUDIO STREQUAL "dummy")
  expect("msg(): demo: music [theme_quest] plays")
endif()
expect("LOAD GAME [tour]")
if(AUDIO STREQUAL "dummy")
  expect("msg(): demo: music [theme] plays on")
endif()
expect("SUCCESS LOADED GAME [tour]")
expect("msg(): demo: restore [tour] done")
expect("msg(): demo: visits 1 after restore")
expect("msg(): demo: trigger [pier_gate] restored, counted 0")
expect("msg(): demo: quest [harbour] stage 1 after restore")
# The harbour's crates come back as saved: the moved one at the quay, the
# other's box hidden.
expect("msg(): demo: [harbour_crate_a] at [quay] after restore")
expect("msg(): demo: [harbour_crate_b] hidden after restore")
# The sailors come back as saved: the sailor at its spot with its walk, the
# mate's body hidden.
expect("msg(): demo: [sailor] at [sailor_spot] playing [sailor.walk] after restore")
expect("msg(): demo: [sailor_mate] hidden after restore")
# The sailor's turn: it walks two strides on its walk's root motion (its
# footsteps named in the log), hails with its voice and lip track, and
# idles again.
expect("msg(): demo: [sailor] walks with [sailor.walk]")
# Two frames of the walk a second apart, kept as the screenshots of saves.
expect("msg(): demo: frame [walk_first] kept")
expect("msg(): demo: frame [walk_second] kept")
expect("Object [sailor] animation [sailor.walk] event footstep [fs_default(male)")
expect("Object [sailor] animation [sailor.walk] event sound [sailor_hum]")
expect("msg(): demo: [sailor] walked its strides playing [sailor.walk]")
expect("Morph [sailor.ahoy] of object [sailor] starts (1.00 sec)")
expect("msg(): demo: [sailor] hails for 1.0 s")
expect("Morph [sailor.ahoy] of object [sailor] ends")
expect("msg(): demo: [sailor] idles with [sailor.idle]")
# The harbour by night, then by day again, each frame kept as a save's
# screenshot (compared below): the time of day chooses the light set each
# model takes, the night's by night (the placements name it), the scene's
# default by day.
expect("msg(): demo: time of day [night]")
expect("msg(): demo: [harbour_stones] takes [harbour_night] by night")
expect("msg(): demo: frame [night] kept")
expect("msg(): demo: time of day [day]")
expect("msg(): demo: [harbour_stones] takes [harbour_default] by day")
expect("msg(): demo: frame [day] kept")
# The hero, the main character again, walks along the quay while the camera
# looks out over the water, the quay behind it: his footsteps play though
# he is not drawn (counted below).
expect("Select main character [hero]")
expect("msg(): demo: [hero] is the main character")
expect("msg(): demo: camera turns away from [hero] to [sea_view]")
expect("msg(): demo: [hero] walks to [hero_back] out of sight")
expect("Object [hero] animation [hero.walk] event footstep [fs_default(male)")
expect("msg(): demo: [hero] walked to [hero_back] out of sight")
# The pier scene: the boat moored inside the trigger box sets the trigger
# off on the first frame after the script switches it on.
expect("Start to load scene [pier]")
# The rowboat's model resource comes from the models package, both files.
expect("Model [rowboat] loaded")
expect("Success load scene [pier]")
# The script gives the rowboat a boat's controller, which answers its state.
expect("msg(): demo: rowboat controller [Controller] action [none]")
# The rowboat's physics body lies in the gate's volume: switching the gate
# on reports it at once.
expect("Trigger [pier_gate]: object [rowboat] entered")
expect("msg(): demo: trigger [pier_gate] enabled")
expect("msg(): demo: [rowboat] entered trigger [pier_gate]")
expect("msg(): demo: trigger [pier_gate] counted 1")
# The boat at the pier's end advances the quest by its rule.
expect("msg(): demo: quest says [the boat reached the pier's end]")
expect("msg(): demo: quest stage 2")
# The visitor walks along the quay on its physics capsule and arrives.
expect("msg(): demo: [visitor] walks to [quay_end]")
# Its controller sets its control states and the walker's rules choose
# what it plays: the walk, whose root motion carries it, then the stand.
expect("Object [visitor] control states [stand walk fw none high] choose stance rule 2 [walker.walk]")
expect("Object [visitor] control states [stand idle none none high] choose stance rule 0 [walker.stand]")
expect("msg(): demo: [visitor] arrived at [quay_end]")
# The keeper's dialog plays through the scene's frames: its commands are
# traced, its script calls reach the script, and its end ends the tour.
# The keeper says his line with its lip track: its start and, frames
# later, its end.
expect("Morph [keeper.hello] of object [keeper] starts (0.80 sec)")
expect("msg(): demo: keeper speaks for 0.8 s")
expect("msg(): demo: dialog [keeper.pier] plays")
expect("--------- phrase 1 -------")
expect("[[DLG_CMD]]")
expect("msg(): demo: keeper.pier of [keeper] says hello")
# The keeper's voice line plays to its end (a silent game has no voices).
if(AUDIO STREQUAL "dummy")
  expect("Dialog: Stopped voice [keeper")
endif()
expect("msg(): demo: keeper.pier of [keeper] says farewell through rowboat")
expect("msg(): demo: dialog [keeper.pier] finished")
# The script ends the game through the menu's Quit.
expect("msg(): demo: tour done")
expect("msg(): demo: menu [mm_quit] clicked")
expect("msg(): demo: menu quits")
expect("Called exit from script")
expect("Releasing game loop...")
expect("Release resources...")
expect("Release device [Keyboard]")
expect("Release device [Mouse]")
expect("Exit from game.")
demo_check_run()
# The subtitle's handler ran before the dialog's end's (see above).
string(FIND "${log}" "msg(): demo: subtitle [lamp] hidden" hidden_at)
string(FIND "${log}" "msg(): demo: dialog [keeper.greet] over" over_at)
if(hidden_at EQUAL -1 OR NOT hidden_at LESS over_at)
  string(APPEND failures "the subtitle [lamp] was not hidden before the dialog [keeper.greet] was over\n")
endif()
# The volumes the menu's Options set, kept in the player's settings file.
set(setup_file "${user_root}/lighthouse/setup.ini")
if(EXISTS "${setup_file}")
  file(READ "${setup_file}" setup_text)
  foreach(volume "music += 0.40" "effect += 0.80")
    if(NOT setup_text MATCHES "\\[sound\\][^[]*${volume}")
      string(APPEND failures "setup.ini does not keep [${volume}] in its [sound] section\n")
    endif()
  endforeach()
else()
  string(APPEND failures "no setup.ini at [${setup_file}]\n")
endif()
# Sounds keep their buffers through the loads (the menu's Load of "quest",
# then Options setting the volumes): no sound buffer is asked for after it
# was given back.
string(FIND "${log}" ": allocate first" found)
if(NOT found EQUAL -1)
  string(APPEND failures "a sound lost its buffer to a load: allocate first\n")
endif()
string(FIND "${log}" "msg(): demo: save [tour] written" save_at)
foreach(refused "Can't read camera visibility data" "Fail to load game from file")
  string(FIND "${log}" "${refused}" found)
  if(NOT found EQUAL -1)
    string(APPEND failures "the restore was refused: ${refused}\n")
  endif()
endforeach()
# The rowboat's controller answers its state queries.
string(FIND "${log}" "Controller NOT support getCUrrentState()" unanswered)
if(NOT unanswered EQUAL -1)
  string(APPEND failures "the rowboat's controller did not answer its state\n")
endif()
# The harbour smoke's puff texture comes from the textures package.
string(FIND "${log}" "texture [puff]" puff_refused)
if(NOT puff_refused EQUAL -1)
  string(APPEND failures "the smoke's texture was not allocated\n")
endif()
# No object is looked up by a handle that names none.
string(FIND "${log}" "OUT OF OBJECT ACCESS" bad_access)
if(NOT bad_access EQUAL -1)
  string(APPEND failures "an object was looked up by a handle that names none\n")
endif()
# The keeper's lip track ends with its voice, while the dialog plays (its
# place among the dialog's lines follows the frames' timing).
string(FIND "${log}" "Morph [keeper.hello] of object [keeper] ends" morph_end)
string(FIND "${log}" "msg(): demo: tour done" tour_done)
if(morph_end EQUAL -1 OR NOT morph_end LESS tour_done)
  string(APPEND failures "the keeper's lip track did not end before the tour\n")
endif()
# The sailor's idle fires its events from its ".events" file before the
# save: the pipe's smoke lit and paused, the shift of weight as a footstep
# with its composed sound name, and the hum.
foreach(event "particle starts [sailor.pipe]" "particle pauses [sailor.pipe]"
              "footstep [fs_default(male)t_##]" "sound [sailor_hum]")
  string(FIND "${log}" "Object [sailor] animation [sailor.idle] event ${event}" at)
  if(at EQUAL -1 OR NOT at LESS save_at)
    string(APPEND failures "the sailor's idle did not fire [${event}] before the save\n")
  endif()
endforeach()
# Every scene of the tour has its main character: no camera change asks
# for a controller that is not there.
string(FIND "${log}" "Can't get main controller: Set main character first" no_main)
if(NOT no_main EQUAL -1)
  string(APPEND failures "a camera change found no main character\n")
endif()
# The hero walked from z = 5.5 toward the wall (its front face at z = 7.8)
# and was stopped short of it by at least his capsule's radius (0.25): on
# the floor, in his lane, past the middle of the way.
if(NOT log MATCHES "msg\\(\\): demo: character at (-?[0-9.]+) (-?[0-9.]+) (-?[0-9.]+) after the walk")
  string(APPEND failures "the hero's position after the walk is not logged\n")
else()
  set(hero_x ${CMAKE_MATCH_1})
  set(hero_y ${CMAKE_MATCH_2})
  set(hero_z ${CMAKE_MATCH_3})
  if(hero_z GREATER 7.55 OR hero_z LESS 6.5 OR hero_x GREATER -5.8 OR hero_x LESS -6.2
     OR hero_y GREATER 0.2 OR hero_y LESS -0.2)
    string(APPEND failures "the wall did not stop the hero in front of it: at ${hero_x} ${hero_y} ${hero_z}\n")
  endif()
endif()
# The clicked walks: each route has its nodes; his positions, logged four
# times a second, stay over the grid's cells (the quay's and the pier's,
# none over the water) and out of the cells of the wall, the house and the
# crates; the first walk passes east of the wall's end (x = 0) to get
# behind it; each ends within his close distance (0.15) of its waypoint.
# The grid also keeps the cell past the wall's end clear of routes; a walk
# may cut its corner, so the check uses the obstacles' own cells.
demo_log_between("msg(): demo: [hero] walks to [house_door]" "msg(): demo: 3 save slot(s)" walk
                 "the clicked walks are not logged before the slots' list")
if(walk)
  string(REGEX MATCHALL "Route \\[hero\\]: [0-9]+ nodes" routes "${walk}")
  list(LENGTH routes route_count)
  if(NOT route_count EQUAL 2)
    string(APPEND failures "the clicked walks logged ${route_count} routes, not 2: [${routes}]\n")
  endif()
  foreach(route IN LISTS routes)
    string(REGEX MATCH "([0-9]+) nodes" ignored "${route}")
    if(CMAKE_MATCH_1 LESS 10)
      string(APPEND failures "a route round the wall has only ${CMAKE_MATCH_1} nodes\n")
    endif()
  endforeach()
  string(REGEX MATCHALL "on the way at -?[0-9.]+ -?[0-9.]+ -?[0-9.]+" samples "${walk}")
  list(LENGTH samples sample_count)
  if(sample_count LESS 20)
    string(APPEND failures "the clicked walks logged ${sample_count} positions\n")
  endif()
  set(round_the_end FALSE)
  foreach(sample IN LISTS samples)
    string(REGEX MATCH "at (-?[0-9.]+) (-?[0-9.]+) (-?[0-9.]+)" ignored "${sample}")
    set(x ${CMAKE_MATCH_1})
    set(z ${CMAKE_MATCH_3})
    if(NOT ((x GREATER_EQUAL -8 AND x LESS 8 AND z GREATER_EQUAL -8 AND z LESS 14)
            OR (x GREATER_EQUAL 8 AND x LESS 16 AND z GREATER_EQUAL 0 AND z LESS 8)))
      string(APPEND failures "the hero left the grid's cells: at ${x} ${z}\n")
    endif()
    # A corner the route cuts may take his centre up to a capsule's radius
    # (0.25) into an obstacle's cell: only deeper counts as walking over it.
    if((x GREATER -7.75 AND x LESS -0.25 AND z GREATER 8.25 AND z LESS 8.75)
       OR (x GREATER -6.75 AND x LESS -3.25 AND z GREATER 10.25 AND z LESS 12.75)
       OR (x GREATER -4.75 AND x LESS -3.25 AND z GREATER -6.75 AND z LESS -5.25)
       OR (x GREATER 3.25 AND x LESS 4.75 AND z GREATER -6.75 AND z LESS -5.25))
      string(APPEND failures "the hero walked over a blocked cell: at ${x} ${z}\n")
    endif()
    if(x GREATER 0 AND z GREATER 7.8 AND z LESS 9.2)
      set(round_the_end TRUE)
    endif()
  endforeach()
  if(NOT round_the_end)
    string(APPEND failures "the hero did not pass the wall's end\n")
  endif()
  foreach(place house_door pier_end)
    if(NOT walk MATCHES "arrived at \\[${place}\\], ([0-9.]+) away")
      string(APPEND failures "the hero did not arrive at [${place}]\n")
    elseif(CMAKE_MATCH_1 GREATER 0.15)
      string(APPEND failures "the hero stopped ${CMAKE_MATCH_1} from [${place}]\n")
    endif()
  endforeach()
endif()
# The crate linked to the hero took his pose as he walked: it was far from
# him when linked (at its place on the stones), and after his walks to the
# house's door and the pier's end it stands where he stands.
if(NOT log MATCHES "demo: \\[harbour_crate_b\\] linked to \\[hero\\], ([0-9.]+) from him"
   OR NOT CMAKE_MATCH_1 GREATER 5)
  string(APPEND failures "the crate was not linked to the hero from its place on the stones\n")
elseif(NOT log MATCHES "demo: \\[harbour_crate_b\\] ([0-9.]+) from \\[hero\\] after the walks"
       OR CMAKE_MATCH_1 GREATER 0.05)
  string(APPEND failures "the crate linked to the hero did not follow him: ${CMAKE_MATCH_1} from him after the walks\n")
endif()
# The hero's footsteps while the camera looked away from him: the walk's
# events of each foot, named in the log, between his setting off and his
# arrival.
demo_log_between("msg(): demo: [hero] walks to [hero_back] out of sight"
                 "msg(): demo: [hero] walked to [hero_back] out of sight" away
                 "the hero's walk out of sight is not logged")
if(away)
  string(REGEX MATCHALL "Object \\[hero\\] animation \\[hero\\.walk\\] event footstep" away_steps "${away}")
  list(LENGTH away_steps away_step_count)
  if(away_step_count LESS 2)
    string(APPEND failures "the hero's footsteps out of the camera's sight: ${away_step_count} logged, 2 at least wanted\n")
  endif()
endif()
# Every character's rules are found: the visitor's and the hero's control
# states are bound, and the hero's walk chose his rules' walk.
foreach(refused "Fail while create anim rules data" "Required animation rules map")
  string(FIND "${log}" "${refused}" found)
  if(NOT found EQUAL -1)
    string(APPEND failures "a character's animation rules were not found: ${refused}\n")
  endif()
endforeach()
if(NOT log MATCHES "Object \\[hero\\] control states \\[stand walk [^]]*\\] choose stance rule [0-9]+ \\[hero\\.walk\\]")
  string(APPEND failures "the hero's walk did not play his rules' walk\n")
endif()
# The sailors are characters that cast shadows, and in the restored harbour
# the bone tracker turns each one's head toward the other (the log names
# whom each looks at).
if(NOT log MATCHES "Register shadows caster \\[sailor\\] \\(sailor\\)")
  string(APPEND failures "the sailor is not a shadow caster\n")
endif()
string(FIND "${log}" "SUCCESS LOADED GAME [tour]" restored_at)
set(restored_log "")
if(NOT restored_at EQUAL -1)
  string(SUBSTRING "${log}" ${restored_at} -1 restored_log)
endif()
foreach(pair "sailor] looks at [sailor_mate" "sailor_mate] looks at [sailor")
  string(FIND "${restored_log}" "Object [${pair}]" found)
  if(found EQUAL -1)
    string(APPEND failures "after the restore no tracker line [Object [${pair}]]\n")
  endif()
endforeach()
# The first scene is the stored one, never the debug scene.
string(FIND "${log}" "Create debug scene" debug_scene)
if(NOT debug_scene EQUAL -1)
  string(APPEND failures "the first scene was made as a debug scene\n")
endif()

# The slot lies in the player's folder, named after the title in the
# localised variables, and is a JPEG image (its screenshot) first.
set(slot "${user_root}/lighthouse/save/tour.jpg")
if(NOT EXISTS "${slot}")
  file(GLOB_RECURSE saves RELATIVE "${user_root}" "${user_root}/*.jpg")
  string(APPEND failures "no save slot [${slot}]; saves found: [${saves}]\n")
else()
  file(READ "${slot}" magic LIMIT 3 HEX)
  if(NOT magic STREQUAL "ffd8ff")
    string(APPEND failures "the save slot does not begin as a JPEG image: [${magic}]\n")
  endif()
  # The screenshot is the rendered frame at the screenshot size: the
  # harbour's sky dome in the corner, its clear daytime sky colour (0.35,
  # 0.55, 0.8) fogged towards its horizon colour (0.3, 0.5, 0.7), which is
  # also the frame's clear colour: each channel between the two and the blue
  # above the clear colour's, so that the dome, not the clear, shows there;
  # and the first scene's still frame in the top right corner (the fourth
  # region), the stone texture's browns (red over green over blue), where a
  # blank screenshot would be plain grey.
  # The camera stands at the harbour's view: the crate the tour moved to
  # the quay shows its red front right of the view's middle (the first
  # region) and the sun throws its shadow on the stones beside it (the
  # second); where the hidden crate stood, the stone floor's grey shows,
  # neither the crate nor a shadow left from before the save (the third).
  # The sailor stands at its spot in its yellow oilskins (the fifth), on
  # the stones' grey (the sixth). The models take the harbour's light set
  # (ambient 0.25 0.27 0.32) with the mild sun: their colours show at
  # about a third to a half of their textures' full strength.
  if(DEFINED IMAGEPROBE)
    execute_process(COMMAND ${IMAGEPROBE} "${slot}" 234 101 10 8 218 106 8 4 56 150 10 8 272 12 36 36
                            140 107 6 6 156 120 10 8
                    RESULT_VARIABLE probe_code OUTPUT_VARIABLE probe_out ERROR_VARIABLE probe_err)
    if(NOT probe_code EQUAL 0
       OR NOT probe_out MATCHES "^size ([0-9]+) ([0-9]+) centre ([0-9]+) ([0-9]+) ([0-9]+) corner ([0-9]+) ([0-9]+) ([0-9]+)")
      string(APPEND failures "the slot's screenshot does not decode: [${probe_out}${probe_err}]\n")
    else()
      set(seen ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_6} ${CMAKE_MATCH_7} ${CMAKE_MATCH_8})
      # Lowest and highest wanted value: the size, then the corner's channels
      # from the rain record's sky colour to its horizon colour (the tour
      # turned the weather to rain before its saves).
      set(lowest 320 240 92 99 115)
      set(highest 320 240 107 115 128)
      foreach(i RANGE 4)
        list(GET seen ${i} a)
        list(GET lowest ${i} low)
        list(GET highest ${i} high)
        if(a GREATER high OR a LESS low)
          math(EXPR d_low "${low} - 6")
          math(EXPR d_high "${high} + 6")
          if(a GREATER d_high OR a LESS d_low)
            string(APPEND failures "the slot's screenshot is not the rendered frame: [${probe_out}]\n")
            break()
          endif()
        endif()
      endforeach()
      # The clear colour without a scene is 0x406080: the rain's grey sky
      # has far less blue over its red.
      list(GET seen 2 corner_red)
      list(GET seen 4 corner_blue)
      math(EXPR corner_tint "${corner_blue} - ${corner_red}")
      if(corner_tint GREATER 30)
        string(APPEND failures "the slot's screenshot shows the clear colour, not the sky, in its corner: [${probe_out}]\n")
      endif()
      if(NOT probe_out MATCHES "region 272 12 ([0-9]+) ([0-9]+) ([0-9]+)"
         OR NOT CMAKE_MATCH_1 GREATER CMAKE_MATCH_2 OR NOT CMAKE_MATCH_2 GREATER CMAKE_MATCH_3)
        string(APPEND failures "the slot's screenshot does not show the scene's still frame: [${probe_out}]\n")
      endif()
      if(NOT probe_out MATCHES "region 140 107 ([0-9]+) ([0-9]+) ([0-9]+)"
         OR CMAKE_MATCH_1 LESS 40 OR CMAKE_MATCH_2 LESS 35 OR CMAKE_MATCH_3 GREATER 40)
        string(APPEND failures "the slot's screenshot does not show the sailor's yellow: [${probe_out}]\n")
      else()
        math(EXPR red_over_blue "${CMAKE_MATCH_1} - ${CMAKE_MATCH_3}")
        if(red_over_blue LESS 30)
          string(APPEND failures "the slot's screenshot does not show the sailor's yellow: [${probe_out}]\n")
        endif()
      endif()
      if(NOT probe_out MATCHES "region 156 120 ([0-9]+) ([0-9]+) ([0-9]+)"
         OR CMAKE_MATCH_1 LESS 40 OR CMAKE_MATCH_1 GREATER 140 OR CMAKE_MATCH_2 LESS 40 OR CMAKE_MATCH_2 GREATER 140
         OR CMAKE_MATCH_3 LESS 40 OR CMAKE_MATCH_3 GREATER 140)
        string(APPEND failures "the slot's screenshot does not show the stones' grey beside the sailor: [${probe_out}]\n")
      endif()
      if(NOT probe_out MATCHES "region 234 101 ([0-9]+) ([0-9]+) ([0-9]+)"
         OR CMAKE_MATCH_1 LESS 60 OR CMAKE_MATCH_2 GREATER 35 OR CMAKE_MATCH_3 GREATER 35)
        string(APPEND failures "the slot's screenshot does not show the crate moved to the quay: [${probe_out}]\n")
      endif()
      if(NOT probe_out MATCHES "region 218 106 ([0-9]+) ([0-9]+) ([0-9]+)"
         OR CMAKE_MATCH_1 GREATER 60 OR CMAKE_MATCH_2 GREATER 60 OR CMAKE_MATCH_3 GREATER 60)
        string(APPEND failures "the slot's screenshot does not show the moved crate's shadow: [${probe_out}]\n")
      endif()
      if(NOT probe_out MATCHES "region 56 150 ([0-9]+) ([0-9]+) ([0-9]+)"
         OR CMAKE_MATCH_1 GREATER 140 OR CMAKE_MATCH_1 LESS 40
         OR CMAKE_MATCH_2 LESS 40 OR CMAKE_MATCH_3 LESS 40)
        string(APPEND failures "the slot's screenshot does not show the stone floor where the hidden crate "
                               "stands: [${probe_out}]\n")
      endif()
    endif()
  endif()
endif()
# Both slots of the tour, read in named regions of the 320 x 240 screenshot
# from the harbour's view: the top band of the sky; the quay's floor where
# the pier lamp reaches it and far from it; the smoke above the chimney and
# the sky beside it; the hero against the wall and the house just above
# the wall's top, where he would show had he gone through; the house's
# front under the lantern, above the wall.
set(named_regions sky 100 2 120 20  lamp 74 98 10 6  unlit 110 175 20 10  smoke 184 36 10 12
                  beside 215 36 10 12  hero 218 82 4 12  beyond 216 67 8 6  lantern 192 66 24 8)
# The mean colour of each region as <slot>_<name> "R;G;B".
function(read_named_regions slot)
  set(arguments)
  set(names)
  set(list ${named_regions})
  list(LENGTH list count)
  math(EXPR last "${count} - 1")
  foreach(i RANGE 0 ${last} 5)
    list(SUBLIST list ${i} 5 group)
    list(POP_FRONT group name)
    list(APPEND names ${name})
    list(APPEND arguments ${group})
  endforeach()
  execute_process(COMMAND ${IMAGEPROBE} "${user_root}/lighthouse/save/${slot}.jpg" ${arguments}
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    set(failures "${failures}the slot [${slot}] does not decode: [${out}${err}]\n" PARENT_SCOPE)
    return()
  endif()
  string(REGEX MATCHALL "region [0-9]+ [0-9]+ [0-9]+ [0-9]+ [0-9]+" lines "${out}")
  foreach(name line IN ZIP_LISTS names lines)
    string(REGEX MATCH "([0-9]+) ([0-9]+) ([0-9]+)$" rgb "${line}")
    set(${slot}_${name} "${CMAKE_MATCH_1};${CMAKE_MATCH_2};${CMAKE_MATCH_3}" PARENT_SCOPE)
  endforeach()
endfunction()
if(DEFINED IMAGEPROBE AND EXISTS "${user_root}/lighthouse/save/dry.jpg" AND EXISTS "${slot}")
  foreach(saved dry tour)
    read_named_regions(${saved})
    # The top band holds the rain record's sky: in rain the dome draws one
    # layer, the record's clouds colour (0.55 0.55 0.58) through the rain
    # texture, fogged toward its horizon (0.42 0.45 0.5); not the old clear
    # colour 0x406080 (64 96 128). Both slots show the same sky: the weather
    # turned to rain before the save "dry", and the camera's own rain cell
    # is left dry, so no drop falls right before the lens over the band.
    list(GET ${saved}_sky 0 r)
    list(GET ${saved}_sky 1 g)
    list(GET ${saved}_sky 2 b)
    if(r LESS 86 OR r GREATER 113 OR g LESS 93 OR g GREATER 121 OR b LESS 109 OR b GREATER 134)
      string(APPEND failures "slot [${saved}]: the top band is not the rain's sky: [${${saved}_sky}]\n")
    endif()
    # The smoke's grey over the chimney stands out from the sky beside it.
    list(GET ${saved}_smoke 0 smoke_r)
    list(GET ${saved}_beside 0 beside_r)
    list(GET ${saved}_beside 2 beside_b)
    math(EXPR smoke_lift "${smoke_r} - ${beside_r}")
    if(smoke_lift LESS 30 OR beside_r GREATER 113 OR beside_b GREATER 134)
      string(APPEND failures "slot [${saved}]: no smoke above the chimney against the sky: "
                             "[${${saved}_smoke}] beside [${${saved}_beside}]\n")
    endif()
  endforeach()
  # The saved frame after the walk: the quay under the lamp is brighter
  # than the quay out of its reach.
  list(GET tour_lamp 0 lamp_r)
  list(GET tour_unlit 0 unlit_r)
  math(EXPR lamp_lift "${lamp_r} - ${unlit_r}")
  if(lamp_lift LESS 20)
    string(APPEND failures "the quay under the lamp is not brighter: [${tour_lamp}] against [${tour_unlit}]\n")
  endif()
  # Out of the lamp's reach the quay's stones (the texture's full grey is
  # 150) show the harbour's light set: its ambient and the mild sun leave
  # them well below their full colour.
  foreach(channel 0 1 2)
    list(GET tour_unlit ${channel} level)
    if(level GREATER 120)
      string(APPEND failures "the quay out of the lamp's reach is not darker than its stones' full grey: "
                             "[${tour_unlit}]\n")
      break()
    endif()
  endforeach()
  # The hero's blue shows against the wall; above the wall's top, where he
  # would stand had he walked through, the house's plaster shows no blue.
  list(GET tour_hero 0 hero_r)
  list(GET tour_hero 2 hero_b)
  list(GET tour_beyond 0 beyond_r)
  list(GET tour_beyond 2 beyond_b)
  math(EXPR hero_tint "${hero_b} - ${hero_r}")
  math(EXPR beyond_tint "${beyond_b} - ${beyond_r}")
  if(hero_tint LESS 25 OR beyond_tint GREATER 15)
    string(APPEND failures "the hero does not stand in front of the wall: [${tour_hero}], "
                           "above the wall [${tour_beyond}]\n")
  endif()
endif()

# The harbour by night and by day, after the same restore: the quay's
# stones out of the lamp's reach are darker by night in every channel, by
# a third of their day's level at least (the night's set has a third of the
# day's ambient and takes the sun's light down).
if(DEFINED IMAGEPROBE)
  if(NOT EXISTS "${user_root}/lighthouse/save/night.jpg" OR NOT EXISTS "${user_root}/lighthouse/save/day.jpg")
    string(APPEND failures "the frames by night and by day were not kept\n")
  else()
    read_named_regions(night)
    read_named_regions(day)
    set(night_level 0)
    set(day_level 0)
    foreach(channel 0 1 2)
      list(GET night_unlit ${channel} by_night)
      list(GET day_unlit ${channel} by_day)
      if(NOT by_night LESS by_day)
        string(APPEND failures "the quay is not darker by night: [${night_unlit}] by night, [${day_unlit}] by day\n")
        break()
      endif()
      math(EXPR night_level "${night_level} + ${by_night}")
      math(EXPR day_level "${day_level} + ${by_day}")
    endforeach()
    math(EXPR night_most "${day_level} * 2 / 3")
    if(night_level GREATER night_most)
      string(APPEND failures "the quay by night [${night_unlit}] is not a third darker than by day [${day_unlit}]\n")
    endif()
    message(STATUS "quay out of the lamp's reach: [${day_unlit}] by day, [${night_unlit}] by night")
  endif()
endif()

# The lantern the quest lit brightens the house's front in the slot
# "quest" beyond what the sun and the sky give it in the slot "tour".
if(DEFINED IMAGEPROBE AND EXISTS "${user_root}/lighthouse/save/quest.jpg" AND DEFINED tour_lantern)
  read_named_regions(quest)
  set(levels)
  foreach(saved tour quest)
    list(GET ${saved}_lantern 0 r)
    list(GET ${saved}_lantern 1 g)
    list(GET ${saved}_lantern 2 b)
    math(EXPR level "${r} + ${g} + ${b}")
    list(APPEND levels ${level})
  endforeach()
  list(GET levels 0 tour_level)
  list(GET levels 1 quest_level)
  math(EXPR lantern_lift "${quest_level} - ${tour_level}")
  if(lantern_lift LESS 30)
    string(APPEND failures "the lit lantern does not brighten the house's front: [${quest_lantern}] in slot [quest] "
                           "against [${tour_lantern}] in [tour]\n")
  endif()
endif()

# The slot "quest" shows the quest's note: its yellow text in cells of 2 x 2
# pixels where it stands, over the quay's grey left of the house; the slot
# "tour" has no note there.
function(note_cells result slot)
  set(cells)
  foreach(y RANGE 94 102 2)
    foreach(x RANGE 66 134 2)
      list(APPEND cells ${x} ${y} 2 2)
    endforeach()
  endforeach()
  execute_process(COMMAND ${IMAGEPROBE} "${user_root}/lighthouse/save/${slot}.jpg" ${cells}
                  RESULT_VARIABLE code OUTPUT_VARIABLE text)
  if(NOT code EQUAL 0)
    set(${result} "none" PARENT_SCOPE)
    return()
  endif()
  string(REGEX MATCHALL "region [0-9]+ [0-9]+ [0-9]+ [0-9]+ [0-9]+" lines "${text}")
  set(count 0)
  foreach(line IN LISTS lines)
    string(REGEX MATCH "([0-9]+) ([0-9]+) ([0-9]+)$" rgb "${line}")
    if(CMAKE_MATCH_1 GREATER 189 AND CMAKE_MATCH_2 GREATER 139 AND CMAKE_MATCH_3 LESS 111)
      math(EXPR count "${count} + 1")
    endif()
  endforeach()
  set(${result} ${count} PARENT_SCOPE)
endfunction()
if(DEFINED IMAGEPROBE)
  if(NOT EXISTS "${user_root}/lighthouse/save/quest.jpg")
    string(APPEND failures "no save slot [quest]\n")
  else()
    note_cells(quest_note quest)
    note_cells(tour_note tour)
    if(quest_note STREQUAL "none" OR tour_note STREQUAL "none")
      string(APPEND failures "the slots [quest] and [tour] do not decode\n")
    elseif(quest_note LESS 10 OR tour_note GREATER 2)
      string(APPEND failures "the note's yellow shows in ${quest_note} cells of slot [quest] and ${tour_note} of [tour]\n")
    endif()
  endif()
endif()

# The sailor's walk in two frames a second apart, each a save's screenshot:
# in the sailor's region (cells of 3 x 3 pixels around it and its mate)
# they differ, in the sky's top band away from them they stay alike. The
# first frame is drawn right after the camera's cut, before the quay's
# models take their lights' passes again, so the stones' light differs.
# (slot_difference, DemoSlots.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/DemoSlots.cmake)
if(DEFINED IMAGEPROBE)
  set(first "${user_root}/lighthouse/save/walk_first.jpg")
  set(second "${user_root}/lighthouse/save/walk_second.jpg")
  if(NOT EXISTS "${first}" OR NOT EXISTS "${second}")
    string(APPEND failures "the walk's two frames were not kept\n")
  else()
    slot_difference(walking "${first}" "${second}" 126 94 30 40)
    # Away from them: the sky's top band, where no drop falls before the
    # lens.
    slot_difference(sky "${first}" "${second}" 100 2 120 20)
    if(walking STREQUAL "none" OR sky STREQUAL "none")
      string(APPEND failures "the walk's frames do not decode\n")
    elseif(walking LESS 6 OR NOT sky LESS 3)
      string(APPEND failures "the walk's frames a second apart differ by ${walking} in the sailor's region "
                             "and by ${sky} in the sky away from it\n")
    endif()
  endif()
endif()
# The scene's rain between the slots "dry" (rain not yet shown) and "tour"
# (shown): on the quay right of the view's middle (x -3 to -6, z -9 to -6,
# below the crate and the hero's lane, far from the smoke) the drops and
# their ripples change the frame; on the stones left of it (x 3 to 5.5,
# cells the rain map marks -1) nothing falls and the frame stays alike.
if(DEFINED IMAGEPROBE AND EXISTS "${user_root}/lighthouse/save/dry.jpg" AND EXISTS "${slot}")
  slot_difference(raining "${user_root}/lighthouse/save/dry.jpg" "${slot}" 236 185 60 40)
  slot_difference(sheltered "${user_root}/lighthouse/save/dry.jpg" "${slot}" 10 185 60 40)
  if(raining STREQUAL "none" OR sheltered STREQUAL "none")
    string(APPEND failures "the slots [dry] and [tour] do not decode for the rain's regions\n")
  elseif(raining LESS 6 OR NOT sheltered LESS 3)
    string(APPEND failures "the rain changed the quay where it falls by ${raining} (6 at least) and the "
                           "dry stones by ${sheltered} (under 3)\n")
  endif()
  message(STATUS "rain: ${raining} where it falls, ${sheltered} on the dry stones")
endif()
demo_finish()
