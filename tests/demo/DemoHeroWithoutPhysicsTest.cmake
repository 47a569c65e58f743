# The built demo with the hero's physics description left out: the models
# package is written again by the package writer from the demo's stage
# without the hero's physics files. Played headless with its tour, the
# hero does not walk, the log says why, and the tour goes on to its end.
#   DEMO, RUN  see DemoRun.cmake
#   STAGE      the demo's stage (the manifests and the written files)
#   PACKTOOL   the package writer
include(${CMAKE_CURRENT_LIST_DIR}/DemoRun.cmake)
demo_prepare_stage_copy()
file(COPY "${STAGE}/models" "${STAGE}/physics" DESTINATION "${copy}")
# The hero's two physics files left out.
demo_manifest_without(models "^file hero \\.\\./\\.\\./physics/" 2)
demo_repack(models)

demo_run_headless()

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
