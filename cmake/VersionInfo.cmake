# Every program's version, from the project's: PELKO_VERSION for its
# --version, and on Windows its version resource (scripts/package.sh gives
# the installer the same, PELKO_VERSION4 from the cache).
set(PELKO_PUBLISHER "Pelko developers")
# Windows versions have four numbers; the project names two or three.
set(_pelko_version_parts "${PROJECT_VERSION_MAJOR}" "${PROJECT_VERSION_MINOR}"
    "${PROJECT_VERSION_PATCH}" "${PROJECT_VERSION_TWEAK}")
set(_pelko_version4 "")
foreach(part IN LISTS _pelko_version_parts)
  if(part STREQUAL "")
    set(part 0)
  endif()
  list(APPEND _pelko_version4 ${part})
endforeach()
string(REPLACE ";" "." PELKO_VERSION4 "${_pelko_version4}")
set(PELKO_VERSION4 ${PELKO_VERSION4} CACHE INTERNAL "The version in four numbers")
string(REPLACE ";" "," PELKO_VERSION_COMMAS "${_pelko_version4}")

# pelko_version_info(TARGET DESCRIPTION): gives the program its version.
function(pelko_version_info target description)
  target_compile_definitions(${target} PRIVATE PELKO_VERSION="${PROJECT_VERSION}")
  if(NOT WIN32)
    return()
  endif()
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(PELKO_FILE_NAME ${name}${CMAKE_EXECUTABLE_SUFFIX})
  set(PELKO_DESCRIPTION "${description}")
  set(rc ${PROJECT_BINARY_DIR}/version_info/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version_info.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
