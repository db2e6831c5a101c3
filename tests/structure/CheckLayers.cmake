# Builds every include probe of the build in BUILD_DIR (listed in PROBES) and
# fails unless the allowed ones build and the wrong-way ones fail because
# their header cannot be found. Run as: cmake -DBUILD_DIR=.. -DPROBES=.. -P
include(${PROBES})

set(failures "")

function(build_probe entry out_rc out_log)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 target)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${target}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${out_rc} ${rc} PARENT_SCOPE)
  set(${out_log} "${out}${err}" PARENT_SCOPE)
endfunction()

foreach(entry IN LISTS ORVEX_PROBES_builds)
  build_probe("${entry}" rc log)
  if(NOT rc EQUAL 0)
    list(APPEND failures "allowed include does not build: ${entry}\n${log}")
  endif()
endforeach()

foreach(entry IN LISTS ORVEX_PROBES_fails)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 1 header)
  build_probe("${entry}" rc log)
  if(rc EQUAL 0)
    list(APPEND failures "wrong-way include builds: ${entry}")
  elseif(NOT log MATCHES "${header}: No such file or directory|'${header}' file not found")
    # Failing for another reason would prove nothing about the include paths.
    list(APPEND failures "wrong-way include fails, but not for want of ${header}: ${entry}\n${log}")
  endif()
endforeach()

list(LENGTH ORVEX_PROBES_builds allowed)
list(LENGTH ORVEX_PROBES_fails refused)
if(failures)
  string(JOIN "\n" text ${failures})
  message(FATAL_ERROR "${text}")
endif()
message(STATUS "layers: ${allowed} allowed includes build, ${refused} wrong-way includes do not")
