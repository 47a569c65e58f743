# Turns the demo sources into the demo data folder (run with cmake -P).
#   SOURCE    the demo source folder
#   STAGE     a scratch folder: the sources with compiled variable files
#   OUTPUT    the data folder to (re)create
#   GAME      the game executable, copied to OUTPUT/bin
#   PACKTOOL  the package writer
#   VARWRITE  the variable writer
#   TEXWRITE  the texture writer
#   FONTWRITE, FONTFILE the font writer and its TrueType font (optional:
#             without them the demo has no fonts)
#   SHADERPACK the shader packer (the compiled-shader package beside the game)
#   SCENEWRITE the scene writer
#   MODELWRITE the model writer
#   QUESTWRITE the quest writer
#   DLGWRITE  the dialog writer
#   PHYSICSWRITE the physics description writer
#   GRIDWRITE the grid writer
#   STAMP     written last, when everything succeeded
#
# Layout of the sources and where each part goes:
#   data.txt                      -> OUTPUT/data.txt (the resource rules)
#   *.ini                         -> OUTPUT/bin/ (beside the executable)
#   variables/<name>.txt          -> STAGE/variables/<name>.ptxt4 (root <name>)
#   (texture writer)              -> STAGE/textures/ (stone.dds, leaf.jpg, leaf.png,
#                                    splash_screen.dds, which goes to OUTPUT/bin/)
#   scenes/<name>.txt             -> STAGE/scenes/<name>.ms4 and the resources
#                                    beside it (.sky, .ls, .wp, .as)
#   models/<name>.txt             -> STAGE/models/<model>.mh4 and .my3
#   quests/<name>.txt             -> STAGE/quests/<name>.quest
#   dialogs/<name>.txt            -> STAGE/dialogs/<name>.dlg
#   physics/<name>.txt            -> STAGE/physics/<model>.fh4 and .fy3, <surface>.mat
#   grids/<name>.txt              -> STAGE/scenes/<name>.grid
#   packages/<folder>/<name>.manifest -> OUTPUT/<folder>/<name>.pak
# Manifests name their files relative to their own folder, as the stage
# holds them: scripts as they are, variables compiled.
cmake_minimum_required(VERSION 3.25)

foreach(var SOURCE STAGE OUTPUT GAME PACKTOOL VARWRITE TEXWRITE SHADERPACK SCENEWRITE MODELWRITE QUESTWRITE DLGWRITE PHYSICSWRITE GRIDWRITE STAMP)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "BuildDemo.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${STAGE}" "${STAMP}")
file(COPY "${SOURCE}/" DESTINATION "${STAGE}"
     PATTERN "CMakeLists.txt" EXCLUDE PATTERN "*.cmake" EXCLUDE)

file(GLOB variable_sources "${STAGE}/variables/*.txt")
foreach(source IN LISTS variable_sources)
  get_filename_component(name "${source}" NAME_WE)
  execute_process(COMMAND "${VARWRITE}" "${source}" "${STAGE}/variables/${name}.ptxt4" "${name}"
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "demo: variable file [${source}] failed")
  endif()
endforeach()

execute_process(COMMAND "${TEXWRITE}" "${STAGE}/textures" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "demo: textures failed")
endif()
# The fonts (texture and header) go into the textures package.
if(DEFINED FONTWRITE)
  foreach(font console:12 menu:20)
    string(REPLACE ":" ";" parts "${font}")
    list(GET parts 0 name)
    list(GET parts 1 pixels)
    execute_process(COMMAND "${FONTWRITE}" "${FONTFILE}" ${pixels} "${STAGE}/textures" ${name} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "demo: font [${name}] failed")
    endif()
  endforeach()
  file(APPEND "${STAGE}/packages/000/textures.manifest"
       "section .dds - Font textures\nfile console ../../textures/console.dds\nfile menu ../../textures/menu.dds\n"
       "section .font4 - Fonts database\nfile console ../../textures/console.font4\nfile menu ../../textures/menu.font4\n")
endif()
file(GLOB scene_sources "${STAGE}/scenes/*.txt")
foreach(source IN LISTS scene_sources)
  execute_process(COMMAND "${SCENEWRITE}" "${source}" "${STAGE}/scenes" RESULT_VARIABLE result OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "demo: scene file [${source}] failed")
  endif()
endforeach()

file(GLOB model_sources "${STAGE}/models/*.txt")
foreach(source IN LISTS model_sources)
  execute_process(COMMAND "${MODELWRITE}" "${source}" "${STAGE}/models" RESULT_VARIABLE result OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "demo: model file [${source}] failed")
  endif()
endforeach()

file(GLOB quest_sources "${STAGE}/quests/*.txt")
foreach(source IN LISTS quest_sources)
  get_filename_component(name "${source}" NAME_WE)
  execute_process(COMMAND "${QUESTWRITE}" "${source}" "${STAGE}/quests/${name}.quest" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "demo: quest file [${source}] failed")
  endif()
endforeach()
file(GLOB dialog_sources "${STAGE}/dialogs/*.txt")
foreach(source IN LISTS dialog_sources)
  get_filename_component(name "${source}" NAME_WE)
  execute_process(COMMAND "${DLGWRITE}" "${source}" "${STAGE}/dialogs/${name}.dlg" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "demo: dialog file [${source}] failed")
  endif()
endforeach()
file(GLOB physics_sources "${STAGE}/physics/*.txt")
foreach(source IN LISTS physics_sources)
  execute_process(COMMAND "${PHYSICSWRITE}" "${source}" "${STAGE}/physics" RESULT_VARIABLE result OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "demo: physics file [${source}] failed")
  endif()
endforeach()
file(GLOB grid_sources "${STAGE}/grids/*.txt")
foreach(source IN LISTS grid_sources)
  get_filename_component(name "${source}" NAME_WE)
  execute_process(COMMAND "${GRIDWRITE}" "${source}" "${STAGE}/scenes/${name}.grid" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "demo: grid file [${source}] failed")
  endif()
endforeach()

file(REMOVE_RECURSE "${OUTPUT}")
file(GLOB_RECURSE manifests RELATIVE "${STAGE}/packages" "${STAGE}/packages/*.manifest")
foreach(manifest IN LISTS manifests)
  string(REGEX REPLACE "\\.manifest$" ".pak" package "${manifest}")
  execute_process(COMMAND "${PACKTOOL}" "${STAGE}/packages/${manifest}" "${OUTPUT}/${package}"
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "demo: package [${package}] failed")
  endif()
endforeach()

file(COPY "${STAGE}/data.txt" DESTINATION "${OUTPUT}")
file(GLOB ini_files "${STAGE}/*.ini")
file(COPY ${ini_files} DESTINATION "${OUTPUT}/bin")
file(COPY "${GAME}" DESTINATION "${OUTPUT}/bin")
execute_process(COMMAND "${SHADERPACK}" "${OUTPUT}/bin/shaders.0050" RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "demo: the shader package failed")
endif()
# The splash is imported from beside the executable at start-up.
file(COPY "${STAGE}/textures/splash_screen.dds" DESTINATION "${OUTPUT}/bin")
file(WRITE "${STAMP}" "")
