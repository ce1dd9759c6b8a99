# cmake -DSOURCE_DIR=<tree> -DCLANG_FORMAT=<clang-format> -P checkformat.cmake
#
# Fails when a C++ source of the tree differs from what the committed .clang-format makes of it,
# and names every such file. Only files git tracks are checked: build folders and generated code
# are not ours to format.
find_package(Git REQUIRED)
execute_process(
  COMMAND ${GIT_EXECUTABLE} ls-files -- "*.cpp" "*.h" "*.c"
  WORKING_DIRECTORY ${SOURCE_DIR}
  OUTPUT_VARIABLE tracked
  RESULT_VARIABLE listed
  OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT listed EQUAL 0 OR tracked STREQUAL "")
  message(FATAL_ERROR "cannot list the tree's sources with git in ${SOURCE_DIR}")
endif()
string(REPLACE "\n" ";" tracked "${tracked}")

set(drifted)
foreach(file IN LISTS tracked)
  execute_process(
    COMMAND ${CLANG_FORMAT} --style=file --dry-run --Werror ${file}
    WORKING_DIRECTORY ${SOURCE_DIR}
    RESULT_VARIABLE status
    OUTPUT_QUIET ERROR_QUIET)
  if(NOT status EQUAL 0)
    list(APPEND drifted ${file})
  endif()
endforeach()

list(LENGTH tracked checked)
if(drifted)
  list(LENGTH drifted count)
  string(REPLACE ";" "\n  " shown "${drifted}")
  message(FATAL_ERROR "${count} of ${checked} files differ from .clang-format "
    "(run scripts/format.sh):\n  ${shown}")
endif()
message(STATUS "all ${checked} files follow .clang-format")
