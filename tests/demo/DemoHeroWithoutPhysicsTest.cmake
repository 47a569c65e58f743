# The built demo with the hero's physics description left out: the models
# package is written again by the package writer from the demo's stage
# without the hero's physics files. Played headless with its tour, the
# hero does not walk, the log says why, and the tour goes on to its end.
#   DEMO, RUN  see DemoRun.cmake
#   STAGE      the demo's stage (the manifests and the written files)
#   PACKTOOL   the package writer
include(${CMAKE_CURRENT_LIST_DIR}/DemoRun.cmake)
foreach(var STAGE PACKTOOL)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${CMAKE_CURRENT_LIST_FILE}: ${var} is not set")
  endif()
endforeach()

demo_prepare()
set(copy "${RUN}/stage")
file(MAKE_DIRECTORY "${copy}/packages/000")
file(COPY "${STAGE}/models" "${STAGE}/physics" DESTINATION "${copy}")
file(STRINGS "${STAGE}/packages/000/models.manifest" lines)
set(manifest "")
set(dropped 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^file hero \\.\\./\\.\\./physics/")
    math(EXPR dropped "${dropped} + 1")
  else()
    string(APPEND manifest "${line}\n")
  endif()
endforeach()
if(NOT dropped EQUAL 2)
  message(FATAL_ERROR "the models manifest does not list the hero's two physics files: ${dropped} found")
endif()
file(WRITE "${copy}/packages/000/models.manifest" "${manifest}")
execute_process(COMMAND "${PACKTOOL}" "${copy}/packages/000/models.manifest" "${RUN}/demo/000/models.pak"
                RESULT_VARIABLE pack_result OUTPUT_VARIABLE pack_out ERROR_VARIABLE pack_err)
if(NOT pack_result EQUAL 0)
  message(FATAL_ERROR "the package writer refused the models without the hero's physics: ${pack_out}${pack_err}")
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -E env ${demo_environment} SDL_VIDEODRIVER=offscreen ${RUN}/demo/bin/game
  WORKING_DIRECTORY "${RUN}/cwd"
  TIMEOUT 180
  RESULT_VARIABLE exit_code
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)

expect("Success load scene [harbour]")
expect("msg(): demo: [hero] walks [hero_walk]")
expect(" Try to walk model [hero] without physics: Movement encoder failed")
expect("msg(): demo: character at -6.00 0.00 5.50 after the walk")
expect("msg(): demo: save [tour] written")
expect("msg(): demo: restore [tour] done")
expect("msg(): demo: tour done")
expect("Exit from game.")
demo_check_run()
demo_finish()
