# How much slower than a plain build the suites run: sanitizer builds stretch every wait and the
# suites' overall time-outs by this factor. TestTiming::scaled() reads it from the compile definition.
if(COURIER_SANITIZE MATCHES "thread")
  set(COURIER_TEST_TIME_FACTOR 4)
elseif(COURIER_SANITIZE MATCHES "address|memory")
  set(COURIER_TEST_TIME_FACTOR 3)
elseif(COURIER_SANITIZE)
  set(COURIER_TEST_TIME_FACTOR 2)
else()
  set(COURIER_TEST_TIME_FACTOR 1)
endif()

# Fixed loopback ports are the machine's, not the build's: the suites of another build (another
# checkout, a sanitizer build) may want them at the same time, and ctest's own resource locks hold
# only within one run. A suite that holds some runs under one lock file per resource, so that such
# suites queue across builds as ctest queues them within one. Taken in name order, never crossed.
set(COURIER_TEST_LOCK_DIR "/tmp" CACHE PATH "Where the suites' machine-wide lock files live")
find_program(COURIER_FLOCK flock)

# Sets var to the command that runs the given command under the locks (a list, possibly empty).
function(courier_locked_command var locks)
  set(command ${ARGN})
  if(COURIER_FLOCK AND locks)
    set(sorted ${locks})
    list(SORT sorted)
    list(REVERSE sorted)
    foreach(lock IN LISTS sorted)
      set(command ${COURIER_FLOCK} ${COURIER_TEST_LOCK_DIR}/printcourier-test-${lock}.lock ${command})
    endforeach()
  endif()
  set(${var} ${command} PARENT_SCOPE)
endfunction()

# add_courier_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS unit e2e slow] [TIMEOUT s]
#                  [LOCKS resource...])
#
# LOCKS names what the suite holds for itself while it runs (a fixed loopback port, say), so that
# ctest never runs two suites that hold the same thing at once.
#
# Builds one Qt Test executable in a folder of its own (so its logs/, details/ and task.db are its
# own), registers it with CTest and runs it offscreen under a UTF-8 locale with a private winsim root.
function(add_courier_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;LOCKS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt5::Test courier_settings ${T_LIBS})
  set(dir ${CMAKE_BINARY_DIR}/tests/bin/${name})
  set_target_properties(${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${dir}
    AUTOMOC ON)
  target_compile_definitions(${name} PRIVATE
    COURIER_BIN_DIR="${COURIER_BIN_DIR}"
    COURIER_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    COURIER_TEST_DIR="${dir}")
  courier_locked_command(command "${T_LOCKS}" $<TARGET_FILE:${name}>)
  add_test(NAME ${name} COMMAND ${command} WORKING_DIRECTORY ${dir})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  math(EXPR T_TIMEOUT "${T_TIMEOUT} * ${COURIER_TEST_TIME_FACTOR}")
  set_tests_properties(${name} PROPERTIES
    LABELS "${T_LABELS}"
    TIMEOUT ${T_TIMEOUT}
    RESOURCE_LOCK "${T_LOCKS}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;LANG=C.UTF-8;WINSIM_ROOT=${dir}/winsim-root;PATH=${COURIER_BIN_DIR}:$ENV{PATH}")
endfunction()
