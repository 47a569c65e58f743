# Helpers of the end-to-end runs of the built demo (included by the
# DemoTourTest.cmake and DemoCloseTest.cmake scripts, run with cmake -P):
#   DEMO  the demo data folder the build made
#   RUN   the name of the scratch folders of this test's runs
# Each run makes a folder of its own, RUN.<random> (RUN below names it):
# two runs of one test, or two ctest runs in one build tree, never share
# one. A passed run removes it, a failed one keeps it to be looked at. The
# run copies the demo into RUN/demo and starts it with its user folder
# (XDG_DATA_HOME) and its instance lock (XDG_RUNTIME_DIR) under RUN. A
# game that has not ended after demo_limit seconds (below ctest's per-test
# timeout) is stopped with SIGSEGV: its fault handler writes the call stack
# of the moment into the log, which the failed test prints.
cmake_minimum_required(VERSION 3.25)

# Ends the run when one of the named variables is not set.
function(demo_require)
  foreach(var ${ARGN})
    if(NOT DEFINED ${var})
      message(FATAL_ERROR "${CMAKE_CURRENT_LIST_FILE}: ${var} is not set")
    endif()
  endforeach()
endfunction()

demo_require(DEMO RUN)
if(NOT EXISTS "${DEMO}/bin/game" OR NOT EXISTS "${DEMO}/data.txt")
  message(FATAL_ERROR "no demo data folder at [${DEMO}]: build the target demo_data")
endif()

set(failures "")
set(expected_count 0)

execute_process(COMMAND mktemp -d "${RUN}.XXXXXX" RESULT_VARIABLE made OUTPUT_VARIABLE RUN
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_VARIABLE made_err)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "no scratch folder for the run: ${made_err}")
endif()

# The game's command runs behind ${demo_guard} ${RUN}/demo/bin/game.
set(demo_limit 360)
set(demo_guard timeout -s SEGV -k 30 ${demo_limit})

# A fresh copy of the demo and empty user and runtime folders.
macro(demo_prepare)
  file(MAKE_DIRECTORY "${RUN}/appdata" "${RUN}/runtime" "${RUN}/cwd")
  file(COPY "${DEMO}/" DESTINATION "${RUN}/demo")
  set(demo_environment XDG_DATA_HOME=${RUN}/appdata XDG_RUNTIME_DIR=${RUN}/runtime SDL_AUDIODRIVER=dummy)
endmacro()

# The damaged-data runs: a fresh demo and the folder ${copy} for a copy of
# the stage's files (STAGE) with their manifests' folder.
macro(demo_prepare_stage_copy)
  demo_require(STAGE PACKTOOL)
  demo_prepare()
  set(copy "${RUN}/stage")
  file(MAKE_DIRECTORY "${copy}/packages/000")
endmacro()

# The damaged-data runs: a package written again by the package writer
# (PACKTOOL) from the manifest <name>.manifest of the stage's copy
# (${copy}/packages/000) over the demo's own package.
macro(demo_repack package)
  execute_process(COMMAND "${PACKTOOL}" "${copy}/packages/000/${package}.manifest" "${RUN}/demo/000/${package}.pak"
                  RESULT_VARIABLE pack_result OUTPUT_VARIABLE pack_out ERROR_VARIABLE pack_err)
  if(NOT pack_result EQUAL 0)
    message(FATAL_ERROR "the package writer refused the changed ${package}: ${pack_out}${pack_err}")
  endif()
endmacro()

# The stage's manifest <name>.manifest written into the copy without its
# lines matching the pattern, which must be exactly count lines.
function(demo_manifest_without package pattern count)
  file(STRINGS "${STAGE}/packages/000/${package}.manifest" lines)
  set(manifest "")
  set(dropped 0)
  foreach(line IN LISTS lines)
    if(line MATCHES "${pattern}")
      math(EXPR dropped "${dropped} + 1")
    else()
      string(APPEND manifest "${line}\n")
    endif()
  endforeach()
  if(NOT dropped EQUAL count)
    message(FATAL_ERROR "the ${package} manifest has ${dropped} lines matching [${pattern}], not ${count}")
  endif()
  file(WRITE "${copy}/packages/000/${package}.manifest" "${manifest}")
endfunction()

# The copied demo played headless, its tour run to its end: exit_code, out
# and err.
macro(demo_run_headless)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env ${demo_environment} SDL_VIDEODRIVER=offscreen ${demo_guard} ${RUN}/demo/bin/game
    WORKING_DIRECTORY "${RUN}/cwd"
    RESULT_VARIABLE exit_code
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err)
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
    if(exit_code STREQUAL "124" OR exit_code STREQUAL "137")
      string(APPEND failures "the game did not end within ${demo_limit} s: the log ends with its call stack\n")
    endif()
    string(APPEND failures "exit code [${exit_code}]\nstderr:\n${err}\n")
  endif()
  set(user_root "${RUN}/appdata/Games")
  # One user folder, named after the title, holds the log beside the saves
  # and setup.ini; the folder the log opened in before the title was known
  # is gone.
  file(GLOB_RECURSE logs "${user_root}/*.log")
  set(log_file "${user_root}/lighthouse/log/game.log")
  if(NOT logs STREQUAL log_file)
    message(FATAL_ERROR "${failures}expected the one log [${log_file}], found [${logs}]")
  endif()
  file(GLOB user_folders RELATIVE "${user_root}" "${user_root}/*")
  if(NOT user_folders STREQUAL "lighthouse")
    string(APPEND failures "expected the one user folder [lighthouse], found [${user_folders}]\n")
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

# The log's text from the line FROM up to the line TO, into OUT; when
# either is missing, or TO comes first, OUT is empty and MISSING is added to
# the failures.
function(demo_log_between from to out missing)
  string(FIND "${log}" "${from}" at_from)
  string(FIND "${log}" "${to}" at_to)
  set(text "")
  if(at_from EQUAL -1 OR at_to LESS at_from)
    set(failures "${failures}${missing}\n" PARENT_SCOPE)
  else()
    math(EXPR length "${at_to} - ${at_from}")
    string(SUBSTRING "${log}" ${at_from} ${length} text)
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

macro(demo_finish)
  if(failures)
    message(FATAL_ERROR "${failures}--- log [${log_file}]:\n${log}")
  endif()
  file(REMOVE_RECURSE "${RUN}")
  message(STATUS "passed")
endmacro()
