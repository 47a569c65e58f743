# The built demo with a damaged model: the models package is written again
# by the package writer from the demo's stage with the sailor's data file
# cut in half. Played headless with its tour, the harbour loads without
# showing the sailors, the log says why, the pier loads without them too,
# no save that could not be restored is written, and the game goes on to
# its end.
#   DEMO, RUN  see DemoRun.cmake
#   STAGE      the demo's stage (the manifests and the written files)
#   PACKTOOL   the package writer
include(${CMAKE_CURRENT_LIST_DIR}/DemoRun.cmake)
demo_prepare_stage_copy()
# A copy of the stage's models and their manifest, the sailor's data cut.
file(COPY "${STAGE}/models" "${STAGE}/physics" DESTINATION "${copy}")
file(SIZE "${STAGE}/models/sailor.my3" whole)
math(EXPR wanted "${whole} / 2")
execute_process(COMMAND head -c ${wanted} "${STAGE}/models/sailor.my3" OUTPUT_FILE "${copy}/models/sailor.my3"
                RESULT_VARIABLE cut_result)
file(SIZE "${copy}/models/sailor.my3" cut_size)
if(NOT cut_result EQUAL 0 OR NOT cut_size EQUAL wanted)
  message(FATAL_ERROR "the cut model file was not written: [${cut_result}] ${cut_size} of ${wanted} bytes")
endif()
file(COPY "${STAGE}/packages/000/models.manifest" DESTINATION "${copy}/packages/000")
demo_repack(models)

demo_run_headless()

expect("Start to load scene [harbour]")
expect("Fail read model [sailor] data")
expect("Can't show model [sailor_mate]: resource [sailor] is damaged")
expect("Success load scene [harbour]")
expect("msg(): demo: scene [harbour] is current")
# A restore would need a model of the damaged resource: the save is refused
# when it is made, no slot is written, and the tour goes on from where it
# stood.
expect("Can't create model [sailor] for loading: its resource is damaged")
expect("Can't save game [tour]: the game data would not load back")
expect("msg(): demo: save [tour] failed")
expect("msg(): demo: restore [tour] failed")
# The pier shows without its damaged models as the harbour did.
expect("Start to load scene [pier]")
expect("msg(): demo: scene [pier] is current")
expect("msg(): demo: tour done")
expect("Exit from game.")
demo_check_run()
string(FIND "${log}" "LOAD GAME [tour]" let_go)
if(NOT let_go EQUAL -1)
  string(APPEND failures "the restore let the running game go before it failed\n")
endif()
demo_finish()
