# Helpers of the end-to-end runs of the built demo (included by the
# DemoTourTest.cmake and DemoCloseTest.cmake scripts, run with cmake -P):
#   DEMO  the demo data folder the build made
#   RUN   a scratch folder for this run
# Each run copies the demo into RUN/demo and starts it with its user folder
# (XDG_DATA_HOME) and its instance lock (XDG_RUNTIME_DIR) under RUN.
cmake_minimum_required(VERSION 3.25)

foreach(var DEMO RUN)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${CMAKE_CURRENT_LIST_FILE}: ${var} is not set")
  endif()
endforeach()
if(NOT EXISTS "${DEMO}/bin/game" OR NOT EXISTS "${DEMO}/data.txt")
  message(FATAL_ERROR "no demo data folder at [${DEMO}]: build the target demo_data")
endif()

set(failures "")
set(expected_count 0)

# A fresh copy of the demo and empty user and runtime folders.
macro(demo_prepare)
  file(REMOVE_RECURSE "${RUN}")
  file(MAKE_DIRECTORY "${RUN}/appdata" "${RUN}/runtime" "${RUN}/cwd")
  file(COPY "${DEMO}/" DESTINATION "${RUN}/demo")
  set(demo_environment XDG_DATA_HOME=${RUN}/appdata XDG_RUNTIME_DIR=${RUN}/runtime SDL_AUDIODRIVER=dummy)
endmacro()

# A line the log must hold after the one expected before it. Paths may be
# lower-cased in the log, so case is ignored.
macro(expect line)
  math(EXPR expected_count "${expected_count} + 1")
  string(TOLOWER "${line}" expected_${expected_count})
endmacro()

# A fragment of the bash drivers: waits (two minutes at most) until the
# game ($game, its pid) has asked for its first scene or has ended.
set(demo_wait_for_first_scene [=[
for i in $(seq 1 1200); do
  kill -0 "$game" 2>/dev/null || break
  grep -qs "demo: scene \[" "$XDG_DATA_HOME"/Games/*/log/game.log && break
  sleep 0.1
done
]=])

# The same wait for the game's menu, which the game opens on.
string(REPLACE "demo: scene \\[" "demo: menu built" demo_wait_for_menu "${demo_wait_for_first_scene}")

# The lines of a player's run, without the tour, that a close request ends
# (the window's close box or a stop signal). The game opens on its menu.
macro(expect_closed_player_run)
  expect("Enter game loop mode")
  expect("msg(): demo: game start, tour false")
  expect("msg(): demo: menu built")
  expect("msg(): demo: window closed")
  expect("Called exit from script")
  expect("Releasing game loop...")
  expect("Release resources...")
  expect("Exit from game.")
endmacro()

# Checks the run's exit code (exit_code, err) and its log: the expected
# lines in order and no crash, sanitizer or critical report. Sets log_file
# and user_root (RUN/appdata/Games).
macro(demo_check_run)
  if(NOT exit_code STREQUAL "0")
    string(APPEND failures "exit code [${exit_code}]\nstderr:\n${err}\n")
  endif()
  set(user_root "${RUN}/appdata/Games")
  file(GLOB log_file "${user_root}/*/log/game.log")
  list(LENGTH log_file log_count)
  if(NOT log_count EQUAL 1)
    message(FATAL_ERROR "${failures}expected one log under [${user_root}], found [${log_file}]")
  endif()
  file(READ "${log_file}" log)
  string(TOLOWER "${log}" rest)
  if(expected_count GREATER 0)
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
  endif()
  foreach(bad "CRITICAL" "Fatal exception" "Exception at" "Sanitizer" "runtime error:")
    string(FIND "${log}${err}" "${bad}" at)
    if(NOT at EQUAL -1)
      string(APPEND failures "the run reported [${bad}]\n")
    endif()
  endforeach()
endmacro()

macro(demo_finish)
  if(failures)
    message(FATAL_ERROR "${failures}--- log [${log_file}]:\n${log}")
  endif()
  message(STATUS "passed; log at [${log_file}]")
endmacro()
