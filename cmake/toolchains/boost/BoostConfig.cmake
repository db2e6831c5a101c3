# Boost for the cross build, installed into the dependency prefix as
# lib/cmake/Boost-1.74.0. Debian's Boost headers come through the prefix's
# include folder (a link to /usr/include/boost alone: all of /usr/include would
# bring glibc's headers into a mingw build). Of the compiled libraries only
# program_options is built for Windows; date_time has been header-only since
# 1.73, so its target is the headers.
get_filename_component(_boost_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

set(Boost_VERSION 1.74.0)
set(Boost_VERSION_STRING 1.74.0)
set(Boost_INCLUDE_DIRS "${_boost_prefix}/include")

if(NOT TARGET Boost::headers)
  add_library(Boost::headers INTERFACE IMPORTED)
  set_target_properties(Boost::headers PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${_boost_prefix}/include")
  add_library(Boost::boost INTERFACE IMPORTED)
  set_target_properties(Boost::boost PROPERTIES INTERFACE_LINK_LIBRARIES Boost::headers)
endif()

set(_boost_missing "")
foreach(_component IN LISTS Boost_FIND_COMPONENTS)
  set(_target Boost::${_component})
  if(TARGET ${_target})
    set(Boost_${_component}_FOUND TRUE)
  elseif(_component STREQUAL "date_time")
    add_library(${_target} INTERFACE IMPORTED)
    set_target_properties(${_target} PROPERTIES INTERFACE_LINK_LIBRARIES Boost::headers)
    set(Boost_${_component}_FOUND TRUE)
  elseif(EXISTS "${_boost_prefix}/lib/libboost_${_component}.a")
    add_library(${_target} STATIC IMPORTED)
    set_target_properties(${_target} PROPERTIES
      IMPORTED_LOCATION "${_boost_prefix}/lib/libboost_${_component}.a"
      INTERFACE_LINK_LIBRARIES Boost::headers)
    set(Boost_${_component}_FOUND TRUE)
  else()
    set(Boost_${_component}_FOUND FALSE)
    list(APPEND _boost_missing ${_component})
  endif()
endforeach()

if(_boost_missing AND Boost_FIND_REQUIRED)
  set(Boost_FOUND FALSE)
  set(Boost_NOT_FOUND_MESSAGE "Boost components not cross-built: ${_boost_missing}")
else()
  set(Boost_FOUND TRUE)
endif()
