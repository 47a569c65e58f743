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
# when ctest runs. The environment its tests need is theirs, not the
# caller's: SDL's offscreen video and dummy audio, and llvmpipe drawing on
# the drawing thread (no driver thread ends while the leak checker scans
# at exit). The sanitizers' defaults are built into the binary.
function(engine_test name)
  add_executable(${name} ${ARGN})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_compile_options(${name} PRIVATE ${ENGINE_WARNINGS})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main)
  if(ENGINE_SANITIZE)
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/SanitizerDefaults.cpp)
    set_source_files_properties(${PROJECT_SOURCE_DIR}/tests/support/SanitizerDefaults.cpp PROPERTIES
      COMPILE_DEFINITIONS "ENGINE_LSAN_SUPPRESSIONS=\"${PROJECT_SOURCE_DIR}/tests/lsan.supp\"")
  endif()
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "SDL_VIDEODRIVER=offscreen;SDL_AUDIODRIVER=dummy;LP_NUM_THREADS=0")
endfunction()
