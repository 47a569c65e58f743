# The built demo with bad data for the keeper's dialog, played headless
# with its tour: CASE "dialog" cuts the compiled dialog "keeper.dlg" in
# half in a rewritten dialogs package; CASE "voice" leaves the keeper's
# voice line "keeper\lamp" out of a rewritten sounds package. The dialog
# and the sound bank say what they cannot read or find, what cannot play is
# skipped, and the tour goes on to its end.
#   DEMO, RUN  see DemoRun.cmake
#   STAGE      the demo's stage (the manifests and the written files)
#   PACKTOOL   the package writer
#   CASE       dialog or voice
include(${CMAKE_CURRENT_LIST_DIR}/DemoRun.cmake)
demo_require(CASE)
demo_prepare_stage_copy()
if(CASE STREQUAL "dialog")
  set(package dialogs)
  file(COPY "${STAGE}/dialogs" DESTINATION "${copy}")
  file(SIZE "${STAGE}/dialogs/keeper.dlg" size)
  math(EXPR half "${size} / 2")
  execute_process(COMMAND head -c ${half} "${STAGE}/dialogs/keeper.dlg" OUTPUT_FILE "${copy}/dialogs/keeper.dlg"
                  RESULT_VARIABLE cut_result)
  if(NOT cut_result EQUAL 0)
    message(FATAL_ERROR "the dialog could not be cut")
  endif()
  file(COPY "${STAGE}/packages/000/dialogs.manifest" DESTINATION "${copy}/packages/000")
elseif(CASE STREQUAL "voice")
  set(package sounds)
  file(COPY "${STAGE}/sounds" DESTINATION "${copy}")
  demo_manifest_without(sounds "^file keeper.lamp " 1)
else()
  message(FATAL_ERROR "unknown CASE [${CASE}]")
endif()
demo_repack(${package})

demo_run_headless()

expect("Success load scene [harbour]")
expect("msg(): demo: save [tour] written")
expect("msg(): demo: cursor hint [keeper]")
expect("msg(): demo: dialog [keeper.greet] plays")
if(CASE STREQUAL "dialog")
  # The dialog cannot be read: it ends at once, the quest is not given and
  # the lantern's action stays dead; the pier's dialog is not made.
  expect("Can't read dialog [keeper]")
  expect("Fail read dialog data [keeper] header")
  expect("Dialog.onFinished: Add script event demo_keeper_talked('keeper.greet')")
  expect("msg(): demo: quest [lamp] stage 0 after the dialog")
  expect("msg(): demo: cursor hint [none]")
  expect("msg(): demo: save [quest] written")
  expect("msg(): demo: restore [tour] done")
  expect("Cannot create dialog instance [keeper.pier]")
  expect("msg(): demo: no dialog")
else()
  # The bank has no sound for the line: its voice is skipped and its
  # subtitle finished at once; the dialog goes on and gives the quest.
  expect("msg(): demo: keeper.greet of [keeper] says hello")
  # (The voice names' backslash is left out of the expected lines.)
  expect("Dialog: Stopped voice [keeper")
  expect("lamp] NOT found: Fail create sounds object [keeper.morph]")
  expect("lamp] for object [keeper]")
  expect("Dialog.onSubtitleFinished: Add script event demo_subtitle_hide('keeper.greet', 'keeper', 'lamp')")
  expect("msg(): demo: quest [lamp] begun")
  expect("msg(): demo: dialog [keeper.greet] over")
  expect("msg(): demo: quest [lamp] done")
  expect("msg(): demo: save [quest] written")
  expect("msg(): demo: restore [tour] done")
  expect("msg(): demo: dialog [keeper.pier] finished")
endif()
expect("msg(): demo: tour done")
expect("Exit from game.")
demo_check_run()
demo_finish()
