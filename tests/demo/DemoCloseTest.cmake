# The built demo as a player with a display runs it: no tour, and a stop
# signal, which takes the road of the window's close box, ends the game
# cleanly with exit code 0 (DEMO, RUN: see DemoRun.cmake). A video driver
# that SDL does not know gives the window layer's headless backend, and the
# scripts play the tour only under the offscreen driver.
include(${CMAKE_CURRENT_LIST_DIR}/DemoRun.cmake)

demo_prepare()
# The signal is sent once the menu is built (or the game has already
# ended); the shell answers the game's own exit code.
string(CONCAT driver [=[
"$1" & game=$!
]=] "${demo_wait_for_menu}" [=[
kill -TERM "$game" 2>/dev/null
wait "$game"
]=])
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env ${demo_environment} SDL_VIDEODRIVER=no-such-driver
          bash -c "${driver}" driver ${RUN}/demo/bin/game
  WORKING_DIRECTORY "${RUN}/cwd"
  RESULT_VARIABLE exit_code
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)

expect("Executable launched from [${RUN}/demo/bin/game]")
expect_closed_player_run()
demo_check_run()
string(FIND "${log}" "demo: tour done" at)
if(NOT at EQUAL -1)
  string(APPEND failures "the tour ran although the driver was not offscreen\n")
endif()
demo_finish()
