# Driven by the windows_consumer test (see CMakeLists.txt here).
cmake_minimum_required(VERSION 3.20)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  cmake_parse_arguments(R "" "WORKING_DIRECTORY" "" ${ARGN})
  if(NOT R_WORKING_DIRECTORY)
    set(R_WORKING_DIRECTORY ${WORK_DIR})
  endif()
  execute_process(COMMAND ${R_UNPARSED_ARGUMENTS} WORKING_DIRECTORY ${R_WORKING_DIRECTORY}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${R_UNPARSED_ARGUMENTS}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

# orvex.dll exports the public interface alone: every exported C++ name
# starts with a name that the public headers declare.
# The export table runs from its heading to the next empty line.
run(sh -c "'${OBJDUMP}' -p '${ORVEX_DLL}' | sed -n '/Ordinal\\/Name Pointer\\] Table/,/^$/p' | sed -n '1d; s/^.*\\] //p'")
string(REGEX REPLACE "\n$" "" exports "${last_output}")
string(REPLACE "\n" ";" exports "${exports}")
file(GLOB public_headers ${PUBLIC_HEADERS_DIR}/*.h)
set(public_text "")
foreach(header IN LISTS public_headers)
  file(READ ${header} text)
  string(APPEND public_text "${text}")
endforeach()
set(strays "")
foreach(entry IN LISTS exports)
  string(REGEX REPLACE "^\\] " "" symbol "${entry}")
  # Itanium names: _Z<len><name>..., _ZN[K]<len><name>..., _ZTV/_ZTI/_ZTS then
  # the same; inside namespace orvex, the name after it.
  set(name "${symbol}")
  set(rest "${symbol}")
  if(rest MATCHES "^_Z(T[VIS])?(N[rVK]*)?[0-9]")
    string(REGEX REPLACE "^_Z(T[VIS])?(N[rVK]*)?" "" rest "${rest}")
    while(TRUE)
      string(REGEX MATCH "^[0-9]+" length "${rest}")
      string(LENGTH "${length}" digits)
      string(SUBSTRING "${rest}" ${digits} ${length} name)
      math(EXPR skip "${digits} + ${length}")
      string(SUBSTRING "${rest}" ${skip} -1 rest)
      if(NOT name STREQUAL "orvex" OR NOT rest MATCHES "^[0-9]")
        break()
      endif()
    endwhile()
  endif()
  if(NOT public_text MATCHES "[^A-Za-z0-9_]${name}[^A-Za-z0-9_]")
    list(APPEND strays "${symbol} (${name})")
  endif()
endforeach()
list(LENGTH exports count)
if(count EQUAL 0)
  message(FATAL_ERROR "orvex.dll exports nothing")
endif()
if(strays)
  list(JOIN strays "\n  " strays)
  message(FATAL_ERROR "orvex.dll exports names the public headers do not declare:\n  ${strays}")
endif()
message(STATUS "orvex.dll exports ${count} names, all of the public interface")

# The host, built against the installation alone.
run(${CMAKE_COMMAND} --install ${ORVEX_BUILD_DIR} --prefix ${prefix})
# The search roots are a list: through a cache file, as arguments split it.
file(WRITE ${WORK_DIR}/roots.cmake "set(CMAKE_FIND_ROOT_PATH \"${prefix};${DEPENDENCY_ROOTS}\" CACHE STRING \"\")\n")
run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE_DIR} -B ${WORK_DIR}/build -G Ninja -C ${WORK_DIR}/roots.cmake
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)

# As a Windows host ships it: the installed DLLs next to the program.
file(GLOB dlls ${prefix}/bin/*.dll)
file(COPY ${dlls} DESTINATION ${WORK_DIR}/build)
run(${EMULATOR} consumer.exe WORKING_DIRECTORY ${WORK_DIR}/build)
message(STATUS "${last_output}")
