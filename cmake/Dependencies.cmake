# Installed dependencies (scripts/setup.sh puts them in place).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)
find_package(PNG REQUIRED)
find_package(JPEG REQUIRED)
pkg_check_modules(LUA51 REQUIRED IMPORTED_TARGET lua5.1)
pkg_check_modules(VORBIS REQUIRED IMPORTED_TARGET ogg vorbis vorbisfile)
pkg_check_modules(VORBISENC REQUIRED IMPORTED_TARGET vorbisenc)
pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
pkg_check_modules(BULLET REQUIRED IMPORTED_TARGET bullet)
find_package(OpenGL REQUIRED COMPONENTS OpenGL EGL)
find_package(GTest REQUIRED)
find_package(benchmark QUIET)

# luabind, built against Lua 5.1 into the project-local prefix.
set(LUABIND_PREFIX "${PROJECT_SOURCE_DIR}/.deps/luabind" CACHE PATH "luabind prefix")
if(NOT EXISTS "${LUABIND_PREFIX}/lib/libluabind.a")
  message(FATAL_ERROR "luabind not found in ${LUABIND_PREFIX}: run scripts/setup.sh")
endif()
add_library(luabind STATIC IMPORTED GLOBAL)
set_target_properties(luabind PROPERTIES
  IMPORTED_LOCATION "${LUABIND_PREFIX}/lib/libluabind.a"
  INTERFACE_INCLUDE_DIRECTORIES "${LUABIND_PREFIX}/include"
  INTERFACE_COMPILE_DEFINITIONS "LUABIND_USE_CXX11;BOOST_BIND_GLOBAL_PLACEHOLDERS"
  INTERFACE_LINK_LIBRARIES PkgConfig::LUA51)
