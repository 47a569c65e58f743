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
#   OGGWRITE  the sound writer
#   PARTICLEWRITE the particle effect writer
#   RAINWRITE the rain-map writer
#   STAMP     written last, when everything succeeded
#
# Layout of the sources and where each part goes:
#   data.txt                      -> OUTPUT/data.txt (the resource rules)
#   *.ini                         -> OUTPUT/bin/ (beside the executable)
#   variables/<name>.txt          -> STAGE/variables/<name>.ptxt4 (root <name>)
#   (texture writer)              -> STAGE/textures/ (stone.dds, leaf.jpg, leaf.png,
#                                    paint.dds, quay.dds, puff.dds,
#                                    splash_screen.dds, which goes to OUTPUT/bin/)
#   scenes/<name>.txt             -> STAGE/scenes/<name>.ms4 and the resources
#                                    beside it (.sky, .ls, .wp, .as)
#   models/<name>.txt             -> STAGE/models/<model>.mh4 and .my3
#   quests/<name>.txt             -> STAGE/quests/<name>.quest
#   dialogs/<name>.txt            -> STAGE/dialogs/<name>.dlg
#   physics/<name>.txt            -> STAGE/physics/<model>.fh4 and .fy3, <surface>.mat
#   grids/<name>.txt              -> STAGE/scenes/<name>.grid
#   sounds/<name>.txt             -> STAGE/sounds/<name>.ogg
#   effects/<name>.txt            -> STAGE/scenes/<name>.effect
#   rain/<name>.txt               -> STAGE/scenes/<name>.rain and <name>.raindata
#                                    (the rain map of the scene <name>)
#   packages/<folder>/<name>.manifest -> OUTPUT/<folder>/<name>.pak
# Manifests name their files relative to their own folder, as the stage
# holds them: scripts as they are, variables compiled.
cmake_minimum_required(VERSION 3.25)

foreach(var SOURCE STAGE OUTPUT GAME PACKTOOL VARWRITE TEXWRITE SHADERPACK SCENEWRITE MODELWRITE QUESTWRITE DLGWRITE PHYSICSWRITE GRIDWRITE OGGWRITE PARTICLEWRITE RAINWRITE STAMP)
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
# Each source of a folder written by its writer into the folder:
# writer <source> <folder>, the writer naming what it writes.
function(demo_write_into folder writer kind)
  file(GLOB sources "${STAGE}/${folder}/*.txt")
  foreach(source IN LISTS sources)
    execute_process(COMMAND "${writer}" "${source}" "${STAGE}/${folder}" RESULT_VARIABLE result OUTPUT_QUIET)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "demo: ${kind} file [${source}] failed")
    endif()
  endforeach()
endfunction()
# Each source of a folder written by its writer, one output file of the
# extension per source, beside it or in the output folder given third:
# writer <source> <output>.
function(demo_write_each folder extension writer kind)
  set(into "${folder}")
  if(ARGC GREATER 4)
    set(into "${ARGV4}")
  endif()
  file(GLOB sources "${STAGE}/${folder}/*.txt")
  foreach(source IN LISTS sources)
    get_filename_component(name "${source}" NAME_WE)
    execute_process(COMMAND "${writer}" "${source}" "${STAGE}/${into}/${name}.${extension}" RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "demo: ${kind} file [${source}] failed")
    endif()
  endforeach()
endfunction()
demo_write_into(scenes "${SCENEWRITE}" scene)
demo_write_into(models "${MODELWRITE}" model)
demo_write_into(physics "${PHYSICSWRITE}" physics)
demo_write_each(quests quest "${QUESTWRITE}" quest)
demo_write_each(dialogs dlg "${DLGWRITE}" dialog)
demo_write_each(sounds ogg "${OGGWRITE}" sound)
demo_write_each(grids grid "${GRIDWRITE}" grid scenes)
demo_write_each(effects effect "${PARTICLEWRITE}" effect scenes)
file(GLOB rain_sources "${STAGE}/rain/*.txt")
foreach(source IN LISTS rain_sources)
  get_filename_component(name "${source}" NAME_WE)
  execute_process(COMMAND "${RAINWRITE}" "${source}" "${STAGE}/scenes/${name}.rain" "${STAGE}/scenes/${name}.raindata"
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "demo: rain file [${source}] failed")
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
