# Helpers shared by every target of the project.
set(ENGINE_WARNINGS -Wall -Wextra)

# engine_library(<name> <sources...>): a static library of the engine, its
# headers included as "<folder>/<Header>.h" from src/.
function(engine_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(${name} PRIVATE ${ENGINE_WARNINGS})
endfunction()

# engine_test(<name> <sources...>): one test binary; its tests are listed
# when ctest runs.
function(engine_test name)
  add_executable(${name} ${ARGN})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_compile_options(${name} PRIVATE ${ENGINE_WARNINGS})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "SDL_VIDEODRIVER=offscreen;SDL_AUDIODRIVER=dummy")
endfunction()
