# Checks that every relative link of the README and the pages in docs/
# leads to a file or folder of the source tree (an anchor after "#" is left
# out; links with a scheme, such as https:, are not followed).
#   SOURCE  the source tree's top folder
if(NOT DEFINED SOURCE)
  message(FATAL_ERROR "${CMAKE_CURRENT_LIST_FILE}: SOURCE is not set")
endif()
file(GLOB pages "${SOURCE}/docs/*.md")
list(PREPEND pages "${SOURCE}/README.md")
set(failures "")
set(count 0)
foreach(page IN LISTS pages)
  file(READ "${page}" text)
  get_filename_component(folder "${page}" DIRECTORY)
  # The link's target follows "](" up to ")"; square brackets would group
  # the found links into one list element, so the marker replaces them.
  string(REPLACE "](" "<link>" text "${text}")
  string(REGEX MATCHALL "<link>[^])[;]+\\)" links "${text}")
  foreach(link IN LISTS links)
    string(REGEX REPLACE "^<link>([^)#]*).*$" "\\1" target "${link}")
    if(target STREQUAL "" OR target MATCHES "^[a-zA-Z][a-zA-Z0-9+.-]*:")
      continue()
    endif()
    math(EXPR count "${count} + 1")
    if(NOT EXISTS "${folder}/${target}")
      file(RELATIVE_PATH shown "${SOURCE}" "${page}")
      string(APPEND failures "${shown}: the link [${target}] leads nowhere\n")
    endif()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
message(STATUS "${count} relative links resolve")
