# The library's layers, each an OBJECT library that sees only the layers below
# it, so that an include against the arrows (the base reaching into the camera
# model, the simulator into a library source) does not build.
#
# Sources spell internal headers "base/X.h", "core/X.h", ... A layer's headers
# are reached through an include root of its own in the build tree that holds
# one link, <root>/<layer> -> src/<layer>. A target gets the roots of the
# layers it links and no other, so "core/X.h" has nowhere to resolve from the
# base. The library's own src/ folder is on no layer's include path.

set(ORVEX_INCLUDE_ROOTS ${CMAKE_BINARY_DIR}/include-roots)

# Creates ${ORVEX_INCLUDE_ROOTS}/<root>/<link> -> <folder> and returns the
# root folder in <out_var>. Without symbolic links (a Windows host without the
# privilege) it returns <fallback>: the build still works, unchecked.
function(orvex_include_root root link folder fallback out_var)
  set(_root ${ORVEX_INCLUDE_ROOTS}/${root})
  get_filename_component(_parent ${_root}/${link} DIRECTORY)
  file(MAKE_DIRECTORY ${_parent})
  file(CREATE_LINK ${folder} ${_root}/${link} RESULT _failure SYMBOLIC)
  if(_failure)
    message(WARNING "Cannot link ${_root}/${link} (${_failure}): the include rule between layers is not checked")
    set(${out_var} ${fallback} PARENT_SCOPE)
  else()
    set(${out_var} ${_root} PARENT_SCOPE)
  endif()
endfunction()

# orvex_add_layer(<name> [PATH <folder>] SOURCES <file>... USES <target>...)
# Called from src/<name>: defines orvex_<name>, an OBJECT library of the
# shared library `orvex`, whose headers are "<name>/X.h" to the layers that
# link it. A layer in a nested folder (src/bcam/client) gives that folder as
# PATH and is reached as "<folder>/X.h". USES lists the layers (and outside
# libraries) directly below it.
function(orvex_add_layer name)
  cmake_parse_arguments(L "" "PATH" "SOURCES;USES" ${ARGN})
  if(NOT L_PATH)
    set(L_PATH ${name})
  endif()
  set(_target orvex_${name})
  add_library(${_target} OBJECT ${L_SOURCES})
  orvex_target_defaults(${_target})
  target_compile_definitions(${_target} PRIVATE ORVEX_BUILDING_LIBRARY)
  orvex_include_root(${name} ${L_PATH} ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/src _root)
  target_include_directories(${_target} PUBLIC ${_root} ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(${_target} PUBLIC ${L_USES})
endfunction()
