# pelko_system32_only(TARGET DLL...): the program takes the named system
# DLLs (none of them KnownDLLs) from System32 only, never from its own
# folder, where someone able to add a file could plant one of that name.
# ld 2.40 cannot set the load configuration's DependentLoadFlags, and Wine
# ignores them, so the DLLs are delay-loaded instead, each loaded from
# System32 when first needed (win32/system32_only.cpp, a hook of the
# delay-load helper). Each -lNAME of the link finds a delay library made
# here from mingw's import library.
function(pelko_system32_only target)
  set(dir ${CMAKE_BINARY_DIR}/system32_only/${target})
  set(made)
  foreach(dll IN LISTS ARGN)
    find_library(PELKO_IMPORT_${dll} NAMES lib${dll}.a REQUIRED)
    set(def ${dir}/${dll}.def)
    set(lib ${dir}/lib${dll}.a)
    add_custom_command(OUTPUT ${lib}
      COMMAND ${CMAKE_COMMAND} -DIMPORT_LIB=${PELKO_IMPORT_${dll}} -DNM=${CMAKE_NM}
              -DDLL=${dll} -DDEF=${def} -P ${PROJECT_SOURCE_DIR}/cmake/import_def.cmake
      COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --output-delaylib ${lib} --dllname ${dll}.dll
      DEPENDS ${PELKO_IMPORT_${dll}} ${PROJECT_SOURCE_DIR}/cmake/import_def.cmake
      COMMENT "Delay library for ${dll}.dll (${target})")
    list(APPEND made ${lib})
  endforeach()
  add_custom_target(${target}_system32_only DEPENDS ${made})
  add_dependencies(${target} ${target}_system32_only)
  target_link_directories(${target} BEFORE PRIVATE ${dir})
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/agent/platform/win32/system32_only.cpp)
endfunction()
