# The library's layers, each an OBJECT library that sees only the layers below
# it, so that an include against the arrows (the base reaching into the camera
# model, the simulator into a library source) does not build.
#
# Public headers follow the same rule: a layer's live in include/<layer>/
# and only the layer and those above it have that folder on their path, so
# the images layer cannot include <orvex/FlyCapCamera.h>.
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

# orvex_add_layer(<name> [PATH <folder>] SOURCES <file>... USES <target>...
#                 [HEADERS_OF <layer>...])
# Called from src/<name>: defines orvex_<name>, an OBJECT library of the
# shared library `orvex`, whose headers are "<name>/X.h" to the layers that
# link it. A layer in a nested folder (src/bcam/client) gives that folder as
# PATH and is reached as "<folder>/X.h". USES lists the layers (and outside
# libraries) directly below it. HEADERS_OF names sibling layers whose public
# headers (and nothing else of them) the layer's sources include.
function(orvex_add_layer name)
  cmake_parse_arguments(L "" "PATH" "SOURCES;USES;HEADERS_OF" ${ARGN})
  if(NOT L_PATH)
    set(L_PATH ${name})
  endif()
  set(_target orvex_${name})
  add_library(${_target} OBJECT ${L_SOURCES})
  orvex_target_defaults(${_target})
  target_compile_definitions(${_target} PRIVATE ORVEX_BUILDING_LIBRARY)
  orvex_include_root(${name} ${L_PATH} ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/src _root)
  target_include_directories(${_target} PUBLIC ${_root})
  # The layer's public headers, if it has any: include/<name>/orvex/X.h,
  # reached as <orvex/X.h> by the layer and the layers above it alone.
  set(_public ${PROJECT_SOURCE_DIR}/include/${name})
  if(IS_DIRECTORY ${_public})
    target_include_directories(${_target} PUBLIC ${_public})
    set_property(GLOBAL APPEND PROPERTY ORVEX_LAYER_PUBLIC_DIRS ${_public})
  endif()
  foreach(_sibling IN LISTS L_HEADERS_OF)
    target_include_directories(${_target} PRIVATE ${PROJECT_SOURCE_DIR}/include/${_sibling})
  endforeach()
  target_link_libraries(${_target} PUBLIC ${L_USES})
endfunction()

# The folders holding the library's public headers (<orvex/X.h>): every
# layer's, bottom up, then include/ (the umbrella <orvex/orvex.h> and the
# shared interfaces). Call once the layers are defined.
function(orvex_public_include_dirs out_var)
  get_property(_dirs GLOBAL PROPERTY ORVEX_LAYER_PUBLIC_DIRS)
  set(${out_var} ${_dirs} ${PROJECT_SOURCE_DIR}/include PARENT_SCOPE)
endfunction()
