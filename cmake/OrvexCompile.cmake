# Compile settings shared by every target the project builds.

if(ORVEX_SANITIZE)
  add_compile_options(-fsanitize=${ORVEX_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${ORVEX_SANITIZE})
endif()

# Our own code: warnings on and fatal. Third-party headers come in as SYSTEM.
function(orvex_target_defaults target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
    -Woverloaded-virtual -Wformat=2 -Werror)
endfunction()

# A GoogleTest executable registered with CTest; LABELS lets CI pick subsets
# (the "threaded" label marks tests worth running under ThreadSanitizer).
function(orvex_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(WIN32)
    list(TRANSFORM T_LIBS REPLACE "^orvex$" orvex_internal)
  endif()
  add_executable(${name} ${T_SOURCES})
  orvex_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock orvex_test_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT 300)
endfunction()

# Adds each named folder below the current one; a folder the build expects
# but cannot find stops the configuration instead of shrinking the build.
function(orvex_add_subdirectories)
  foreach(_dir IN LISTS ARGN)
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_dir}/CMakeLists.txt)
      message(FATAL_ERROR "Missing ${CMAKE_CURRENT_SOURCE_DIR}/${_dir}/CMakeLists.txt")
    endif()
    add_subdirectory(${_dir})
  endforeach()
endfunction()

# ELF shared libraries: calls between the functions of one library bind
# inside it at link time, instead of through its PLT and the dynamic
# linker's lookup. Nothing outside a library overrides its functions.
if(NOT WIN32)
  string(APPEND CMAKE_SHARED_LINKER_FLAGS " -Wl,-Bsymbolic-functions")
endif()
