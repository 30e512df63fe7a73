# Warnings are errors on our own code only; package headers come in as SYSTEM includes.
function(vorn_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-missing-field-initializers
    # GCC 12 reports std::string appends as overlapping copies once they are inlined at -O3
    # (GCC bug 105329); the sanitised -O1 test build keeps the warning.
    $<$<AND:$<CXX_COMPILER_ID:GNU>,$<CONFIG:Release>>:-Wno-restrict>)
endfunction()

# A library made of every source below the given folders (relative to Sources/).
# New files are picked up without editing the build.
function(vorn_add_library target)
  cmake_parse_arguments(ARG "" "" "FOLDERS;EXCLUDE" ${ARGN})
  set(sources)
  foreach(folder IN LISTS ARG_FOLDERS)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS
         "${PROJECT_SOURCE_DIR}/Sources/${folder}/*.cpp")
    list(APPEND sources ${found})
  endforeach()
  foreach(excluded IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "/Sources/${excluded}/")
  endforeach()
  if(NOT sources)
    # A target whose code has not arrived yet still links like any other.
    set(placeholder "${PROJECT_BINARY_DIR}/generated/${target}_placeholder.cpp")
    file(WRITE "${placeholder}" "// ${target} has no sources yet.\n")
    set(sources "${placeholder}")
  endif()
  add_library(${target} STATIC ${sources})
  set(scope PUBLIC)
  foreach(folder IN LISTS ARG_FOLDERS)
    target_include_directories(${target} ${scope} "${PROJECT_SOURCE_DIR}/Sources/${folder}")
    file(GLOB_RECURSE headers CONFIGURE_DEPENDS LIST_DIRECTORIES true
         "${PROJECT_SOURCE_DIR}/Sources/${folder}/*")
    foreach(entry IN LISTS headers)
      if(IS_DIRECTORY "${entry}")
        target_include_directories(${target} ${scope} "${entry}")
      endif()
    endforeach()
  endforeach()
  vorn_strict(${target})
  set_property(GLOBAL APPEND PROPERTY VORN_LIBRARIES ${target})
endfunction()
