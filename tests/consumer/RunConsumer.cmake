# Installs the library into a scratch prefix, builds the consumer project
# against it with find_package(Orvex) and runs it.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${ORVEX_BUILD_DIR} --prefix ${prefix})

# Test switches of the Win32 subset are for the project's own tests only.
file(GLOB_RECURSE testing_headers ${prefix}/include/*win32_testing.h)
if(testing_headers)
  message(FATAL_ERROR "installed a test-only header: ${testing_headers}")
endif()
# The FlyCapture classes keep their state behind a private implementation:
# a host never compiles against a lock, a handle or an SDK type it cannot use.
foreach(header FlyCapCamera.h FlyCapVideoServer.h)
  file(STRINGS ${prefix}/include/orvex/${header} lines)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "//.*" "" code "${line}")
    if(" ${code} " MATCHES "[^A-Za-z_](CRITICAL_SECTION|HANDLE|FlyCapture[A-Za-z]+)[^A-Za-z_]")
      message(FATAL_ERROR "${header} shows ${CMAKE_MATCH_1}: ${line}")
    endif()
  endforeach()
endforeach()

run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE_DIR} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer)
message(STATUS "${last_output}")

# The same host through pkg-config alone.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
  foreach(libdir lib lib64 lib/x86_64-linux-gnu)
    if(EXISTS ${prefix}/${libdir}/pkgconfig/orvex.pc)
      set(ENV{PKG_CONFIG_PATH} ${prefix}/${libdir}/pkgconfig)
    endif()
  endforeach()
  run(${PKG_CONFIG} --cflags --libs orvex)
  string(STRIP "${last_output}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(c++ ${CONSUMER_SOURCE_DIR}/main.cpp -o ${WORK_DIR}/consumer-pc ${flags})
  run(${WORK_DIR}/consumer-pc)
endif()
