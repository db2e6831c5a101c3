# Windows specifics of the build, included from the top-level CMakeLists.txt.

# Windows names: orvex.dll, PGRFlyCapture.dll, without the "lib" that mingw adds.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_SHARED_MODULE_PREFIX "")

# i686 mingw unwinds with DWARF-2: an exception thrown in one module and caught
# in another needs the one shared runtime, not static copies in each. The
# runtime DLLs and log4cplus's go next to our programs, in the build tree and
# in an installation, where Windows looks first.
set(_orvex_runtime_dlls "")
foreach(_dll libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_dll}
    OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${_path}" OR NOT EXISTS "${_path}")
    message(FATAL_ERROR "mingw runtime ${_dll} not found")
  endif()
  list(APPEND _orvex_runtime_dlls "${_path}")
endforeach()
foreach(_config RELEASE RELWITHDEBINFO DEBUG NOCONFIG)
  get_target_property(_path log4cplus::log4cplus IMPORTED_LOCATION_${_config})
  if(_path)
    list(APPEND _orvex_runtime_dlls "${_path}")
    break()
  endif()
endforeach()
file(COPY ${_orvex_runtime_dlls} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
install(FILES ${_orvex_runtime_dlls} DESTINATION ${CMAKE_INSTALL_BINDIR})

# Programs export nothing, so they need no import library; and the orvex
# command's would be liborvex.dll.a, overwriting the library's own.
string(REPLACE " -Wl,--out-implib,<TARGET_IMPLIB>" "" CMAKE_CXX_LINK_EXECUTABLE "${CMAKE_CXX_LINK_EXECUTABLE}")
string(REPLACE " -Wl,--out-implib,<TARGET_IMPLIB>" "" CMAKE_C_LINK_EXECUTABLE "${CMAKE_C_LINK_EXECUTABLE}")

# The tests reach the library's internal classes, which orvex.dll does not
# export: on Windows they link orvex_internal, a static library of the same
# layer objects, and see ORVEX_API as the library itself does. Called once the
# library target is complete.
function(orvex_add_windows_internal_library)
  get_target_property(_libraries orvex LINK_LIBRARIES)
  add_library(orvex_internal STATIC)
  target_link_libraries(orvex_internal PUBLIC ${_libraries})
  # The public headers the library target shows (the layers' and the umbrella).
  target_include_directories(orvex_internal PUBLIC ${ORVEX_PUBLIC_INCLUDE_DIRS})
  target_compile_definitions(orvex_internal INTERFACE ORVEX_BUILDING_LIBRARY)
endfunction()
