# The built demo's tour once more, heard: SDL's disk audio driver writes
# what the game plays into a file (16-bit stereo at 44,100 Hz, the sound
# core's format), and the audio probe (AUDIOPROBE, AudioProbe.cpp) reads it.
# The music's tone holds from its start to the fade at the quit, the clicks
# stand out as bursts of their own tone, and the fade leaves silence at the
# end. DEMO, RUN: see DemoRun.cmake.
include(${CMAKE_CURRENT_LIST_DIR}/DemoRun.cmake)
if(NOT DEFINED AUDIOPROBE)
  message(FATAL_ERROR "${CMAKE_CURRENT_LIST_FILE}: AUDIOPROBE is not set")
endif()

demo_prepare()
# This run logs each sound buffer it allocates, named after its sound.
file(APPEND "${RUN}/demo/bin/user.ini" "\n[debug]\nsound_log = yes\n")
set(recording "${RUN}/audio.raw")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env ${demo_environment} SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=disk
          SDL_DISKAUDIOFILE=${recording} ${demo_guard} ${RUN}/demo/bin/game
  WORKING_DIRECTORY "${RUN}/cwd"
  RESULT_VARIABLE exit_code
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)

# An SDL built without its disk driver opens no sound device: nothing to
# hear, the test is skipped.
file(GLOB audio_log "${RUN}/appdata/Games/*/log/game.log")
if(audio_log)
  file(READ "${audio_log}" audio_log_text)
  if(audio_log_text MATCHES "Can't create DirectSound8 interface: \\[DSERR_NODRIVER\\]")
    message(STATUS "SKIPPED: SDL's disk audio driver cannot open a device")
    file(REMOVE_RECURSE "${RUN}")
    return()
  endif()
endif()

# The sound device over SDL's disk driver, the click of the menu's New
# game, the music, the click of the menu's Quit, and the fade before the game ends.
expect("Initialize sound:")
expect("Set sound primary buffer quality to 44100Hz/16Bit/2Ch")
expect("Engine initialization done")
expect("msg(): demo: click plays")
expect("msg(): demo: music [theme] plays")
expect("msg(): demo: ambient [sea] plays")
expect("msg(): demo: tour done")
expect("msg(): demo: click plays")
expect("msg(): demo: sounds fade out")
expect("msg(): demo: sounds faded")
expect("Called exit from script")
expect("Exit from game.")
# SDL's disk driver warns on the error stream that it writes a file.
string(REGEX REPLACE "CRITICAL: You are using the SDL disk i/o audio driver![^\n]*\n?" "" err "${err}")
string(REGEX REPLACE "CRITICAL:  Writing to file [^\n]*\n?" "" err "${err}")
demo_check_run()
# The sounds behind the aliases: the footsteps' names pick the quay's
# steps, "click" the menu's click; the harbour's ambient set is the sea;
# the lit lantern's glow starts its hum.
foreach(sound "step_0" "ui_click" "sea" "lantern_hum")
  string(FIND "${log}" "Allocated sound buffer [${sound}" at)
  if(at EQUAL -1)
    string(APPEND failures "no sound buffer of [${sound}] was allocated\n")
  endif()
endforeach()
# The hero's footsteps while the camera looks out over the water, the quay
# behind it: each of his walk's footstep events pushes its step sound on
# the device though he is not drawn (the main character's footsteps play
# wherever the camera looks). Each match ends with its closing bracket: a
# list item holding an open bracket would swallow the items after it.
demo_log_between("msg(): demo: [hero] walks to [hero_back] out of sight"
                 "msg(): demo: [hero] walked to [hero_back] out of sight" away
                 "the hero's walk out of sight is not logged")
if(away)
  string(REGEX MATCHALL "Object \\[hero\\] animation \\[hero\\.walk\\] event footstep [^\n]*\n[^\n]*PUSH sound \\[AUTO\\] in \\[step_[0-9]+\\]"
         heard "${away}")
  list(LENGTH heard heard_count)
  if(heard_count LESS 2)
    string(APPEND failures "the hero's footsteps out of the camera's sight: ${heard_count} step sounds pushed, 2 at least wanted\n")
  endif()
endif()
# A second voice of a sound (the sailors' hum, a footstep) is no error.
foreach(bad "can't be duplicated" "Can't duplicate sound buffer")
  string(FIND "${log}" "${bad}" at)
  if(NOT at EQUAL -1)
    string(APPEND failures "the run logged [${bad}]\n")
  endif()
endforeach()

# The second of the day a log line was written at ("" without a time).
function(log_line_second line out)
  set(second "")
  if(line MATCHES "^[0-9-]+ ([0-9][0-9])-([0-9][0-9])-([0-9][0-9]) ")
    math(EXPR second "${CMAKE_MATCH_1} * 3600 + ${CMAKE_MATCH_2} * 60 + ${CMAKE_MATCH_3}")
  endif()
  set(${out} "${second}" PARENT_SCOPE)
endfunction()
# The seconds from one log line's time to a later one's, counted a second
# longer since each may lie anywhere in its second.
function(log_span from to out)
  math(EXPR span "(${to} - ${from} + 86400) % 86400 + 1")
  set(${out} ${span} PARENT_SCOPE)
endfunction()

# The music's breaks: a load releases the global sounds, so the music's
# buffer goes with it ("Deallocated sound buffer [theme...") and comes back
# once the load is done. How long that takes is the machine's business:
# the longest break and all breaks together.
file(STRINGS "${log_file}" music_buffer_lines REGEX "(Deallocated|Allocated) sound buffer \\[theme")
set(break_longest 0)
set(break_total 0)
set(break_from "")
foreach(line IN LISTS music_buffer_lines)
  log_line_second("${line}" at)
  if(at STREQUAL "")
    continue()
  elseif(line MATCHES "Deallocated sound buffer")
    if(break_from STREQUAL "")
      set(break_from ${at})
    endif()
  elseif(NOT break_from STREQUAL "")
    log_span(${break_from} ${at} length)
    math(EXPR break_total "${break_total} + ${length}")
    if(length GREATER break_longest)
      set(break_longest ${length})
    endif()
    set(break_from "")
  endif()
endforeach()
message(STATUS "music buffer breaks: longest ${break_longest} s, ${break_total} s in all")
# The quit's fade (its steps run on the game's time, which a busy machine
# stretches).
set(fade_seconds 1)
file(STRINGS "${log_file}" fade_lines REGEX "msg\\(\\): demo: sounds fade(d| out)")
list(LENGTH fade_lines fade_line_count)
if(fade_line_count EQUAL 2)
  list(GET fade_lines 0 fade_from)
  list(GET fade_lines 1 fade_to)
  log_line_second("${fade_from}" fade_from)
  log_line_second("${fade_to}" fade_to)
  if(NOT fade_from STREQUAL "" AND NOT fade_to STREQUAL "")
    log_span(${fade_from} ${fade_to} fade_seconds)
  endif()
endif()

# The analysis: the music's tone is 330 Hz (both tunes hold it), at least
# 0.001 of full scale (a tune's loop fades out and in, and the tour turns
# the music down to 40 %: the tone's weakest half second then holds about
# 0.002, silence and the sea less than 0.0002); the click's is 2,000 Hz, at
# least 0.05.
if(NOT EXISTS "${recording}")
  string(APPEND failures "no recording at [${recording}]\n")
else()
  execute_process(COMMAND ${AUDIOPROBE} ${recording} 44100 2 330 0.001 2000 0.05
                  RESULT_VARIABLE probe_code OUTPUT_VARIABLE probe ERROR_VARIABLE probe_err)
  message(STATUS "audio probe:\n${probe}")
  if(NOT probe_code STREQUAL "0")
    string(APPEND failures "audio probe failed [${probe_code}]: ${probe_err}\n")
  else()
    foreach(key seconds sound_to tail_silence music_from music_to music_seconds music_gap clicks)
      string(REGEX MATCH "(^|\n)${key} ([-0-9.]+)" found "${probe}")
      set(${key} "${CMAKE_MATCH_2}")
    endforeach()
    # The music plays from the harbour's start to the quit: most of the
    # recording. Apart from the loads' breaks it holds at least 70 % of the
    # time from its first to its last half second, and no gap is longer
    # than 1.5 s beyond the longest break (the change of tune may hold it a
    # moment). On a busy machine a load takes longer, and so does its break.
    # CMake's arithmetic is whole numbers: the probe's seconds cut to them
    # where they are added up; comparisons take them as they are.
    foreach(key music_from music_to music_seconds sound_to)
      string(REGEX REPLACE "\\..*" "" ${key}_whole "${${key}}")
    endforeach()
    math(EXPR gap_allowed_whole "${break_longest} + 1")
    if(music_from LESS 0 OR music_seconds LESS 5)
      string(APPEND failures "the music was not heard long enough: [${music_seconds}] s of [${seconds}]\n")
    elseif(music_gap GREATER "${gap_allowed_whole}.5")
      string(APPEND failures "the music broke off for [${music_gap}] s, its longest break for a load was [${break_longest}] s\n")
    else()
      # The share of the time between its first and last half second,
      # without the breaks, in thousandths.
      math(EXPR span "${music_to_whole} - ${music_from_whole} + 1 - ${break_total}")
      if(span LESS 1)
        set(span 1)
      endif()
      math(EXPR share "${music_seconds_whole} * 1000 / ${span}")
      if(share LESS 700)
        string(APPEND failures "the music held only [${music_seconds}] s of its time from [${music_from}] to [${music_to}] s, [${break_total}] s of it breaks for loads\n")
      endif()
      # It plays on to the quit: it fades with the other sounds, its last
      # half second at most the fade and a second before their end.
      math(EXPR music_stop_allowed "${sound_to_whole} - ${fade_seconds} - 1")
      if(music_to_whole LESS music_stop_allowed)
        string(APPEND failures "the music stopped at [${music_to}] s, the sounds at [${sound_to}] s after a fade of [${fade_seconds}] s\n")
      endif()
    endif()
    # The tour clicks at its start and at its quit.
    if(clicks LESS 2)
      string(APPEND failures "expected at least 2 click bursts, heard [${clicks}]\n")
    endif()
    # After the quit's fade: the music's last tone comes before the end,
    # and the last 0.3 s are silent.
    if(tail_silence LESS 0.3)
      string(APPEND failures "expected 0.3 s of silence at the end, heard [${tail_silence}] s\n")
    endif()
  endif()
  # The recording is large: it goes once read.
  file(REMOVE "${recording}")
endif()
demo_finish()
