# The built demo without a display: the scripts play their tour and the game
# ends by itself with exit code 0 (DEMO, RUN: see DemoRun.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/DemoRun.cmake)

demo_prepare()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env ${demo_environment} SDL_VIDEODRIVER=offscreen ${RUN}/demo/bin/game
  WORKING_DIRECTORY "${RUN}/cwd"
  TIMEOUT 180
  RESULT_VARIABLE exit_code
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)

expect("Executable launched from [${RUN}/demo/bin/game]")
expect("Build from: [")
expect("Release resources...")
expect("Exit from game.")
demo_check_run()
demo_finish()
