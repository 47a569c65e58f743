# The built demo with the harbour's rain map damaged: the scenes package is
# written again by the package writer from the demo's stage, its rain cells
# (harbour.raindata) cut to half their length. Played headless with its
# tour, the rain cannot load: the log says so and that the rain is off,
# and the tour goes on to its end.
#   DEMO, RUN  see DemoRun.cmake
#   STAGE      the demo's stage (the manifests and the written files)
#   PACKTOOL   the package writer
#   IMAGEPROBE the slot probe (optional)
include(${CMAKE_CURRENT_LIST_DIR}/DemoRun.cmake)
demo_prepare_stage_copy()
file(COPY "${STAGE}/scenes" DESTINATION "${copy}")
set(cells "${copy}/scenes/harbour.raindata")
if(NOT EXISTS "${cells}")
  message(FATAL_ERROR "the stage holds no rain cells of the harbour [${cells}]")
endif()
file(SIZE "${cells}" length)
math(EXPR half "${length} / 2")
execute_process(COMMAND truncate -s ${half} "${cells}" RESULT_VARIABLE cut_result ERROR_VARIABLE cut_err)
if(NOT cut_result EQUAL 0)
  message(FATAL_ERROR "the rain cells could not be cut: ${cut_err}")
endif()
file(COPY "${STAGE}/packages/000/scenes.manifest" DESTINATION "${copy}/packages/000")
demo_repack(scenes)

demo_run_headless()

expect("Success load scene [harbour]")
expect("msg(): demo: the scene's rain turns on")
expect("Can't allocate rain data [harbour] mesh streams")
expect("Rain map [harbour] turned off: it could not be pushed")
expect("msg(): demo: save [tour] written")
expect("msg(): demo: restore [tour] done")
expect("msg(): demo: tour done")
expect("Exit from game.")
demo_check_run()
# The rain stayed off: where it falls in the whole harbour, the slot
# "tour" holds the quay as the slot "dry" before it.
include(${CMAKE_CURRENT_LIST_DIR}/DemoSlots.cmake)
if(DEFINED IMAGEPROBE)
  set(saves "${user_root}/lighthouse/save")
  slot_difference(raining "${saves}/dry.jpg" "${saves}/tour.jpg" 236 185 60 40)
  if(raining STREQUAL "none" OR NOT raining LESS 3)
    string(APPEND failures "with its rain map damaged the harbour's quay changed between the slots: ${raining}\n")
  endif()
endif()
demo_finish()
