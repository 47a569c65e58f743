# End-to-end run of the built demo (run with cmake -P):
#   DEMO  the demo data folder the build made
#   RUN   a scratch folder for this run
# The demo is copied into RUN and started headless with its user folder
# under RUN. It must play its tour and end by itself with exit code 0, with
# a log that holds the expected lines in order and no crash or critical
# report.
cmake_minimum_required(VERSION 3.25)

foreach(var DEMO RUN)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "DemoTourTest.cmake: ${var} is not set")
  endif()
endforeach()
if(NOT EXISTS "${DEMO}/bin/game" OR NOT EXISTS "${DEMO}/data.txt")
  message(FATAL_ERROR "no demo data folder at [${DEMO}]: build the target demo_data")
endif()

file(REMOVE_RECURSE "${RUN}")
file(MAKE_DIRECTORY "${RUN}/appdata" "${RUN}/runtime" "${RUN}/cwd")
file(COPY "${DEMO}/" DESTINATION "${RUN}/demo")

execute_process(
  COMMAND ${CMAKE_COMMAND} -E env
          SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
          XDG_DATA_HOME=${RUN}/appdata XDG_RUNTIME_DIR=${RUN}/runtime
          ${RUN}/demo/bin/game
  WORKING_DIRECTORY "${RUN}/cwd"
  TIMEOUT 180
  RESULT_VARIABLE exit_code
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)

set(failures "")
if(NOT exit_code STREQUAL "0")
  string(APPEND failures "exit code [${exit_code}]\nstderr:\n${err}\n")
endif()

# The user folder is named after the game's title; there is exactly one.
file(GLOB logs "${RUN}/appdata/Games/*/log/game.log")
list(LENGTH logs log_count)
if(NOT log_count EQUAL 1)
  message(FATAL_ERROR "${failures}expected one log under [${RUN}/appdata/Games], found [${logs}]")
endif()
get_filename_component(user_folder "${logs}" DIRECTORY)
get_filename_component(user_folder "${user_folder}" DIRECTORY)
file(READ "${logs}" log)

# Lines the run must write, in this order (each is searched after the one
# before it; paths may be lower-cased in the log, so case is ignored).
set(expected_count 0)
macro(expect line)
  math(EXPR expected_count "${expected_count} + 1")
  string(TOLOWER "${line}" expected_${expected_count})
endmacro()
expect("Executable launched from [${RUN}/demo/bin/game]")
expect("Build from: [")
expect("Release resources...")
expect("Exit from game.")

string(TOLOWER "${log}" rest)
foreach(i RANGE 1 ${expected_count})
  string(FIND "${rest}" "${expected_${i}}" at)
  if(at EQUAL -1)
    string(APPEND failures "missing, or out of order: ${expected_${i}}\n")
  else()
    string(LENGTH "${expected_${i}}" length)
    math(EXPR at "${at} + ${length}")
    string(SUBSTRING "${rest}" ${at} -1 rest)
  endif()
endforeach()

foreach(bad "CRITICAL" "Fatal exception" "Exception at" "AddressSanitizer" "runtime error:")
  string(FIND "${log}${err}" "${bad}" at)
  if(NOT at EQUAL -1)
    string(APPEND failures "the run reported [${bad}]\n")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${failures}--- log [${logs}]:\n${log}")
endif()
message(STATUS "demo tour passed; log at [${logs}]")
