# cmake -DOBJDUMP=<mingw objdump> -DDLL=<Quayport.dll> -DFORMAT=<pei-i386|pei-x86-64> -P checkexports.cmake
#
# Fails unless the DLL is of that format and its export table names exactly the six functions,
# undecorated (no leading underscore, no @n suffix).
cmake_minimum_required(VERSION 3.18)

set(expected AddStandardTcpPort ConfigStandardTcpPort DeleteStandardTcpPort GetConfigStandardTcpPort
             QDeletePrinterDriver StopDependentServices)

if(NOT EXISTS "${DLL}")
  message(FATAL_ERROR "${DLL} was not built")
endif()

execute_process(COMMAND ${OBJDUMP} -f ${DLL} OUTPUT_VARIABLE header RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -f failed: ${rc}")
endif()
if(NOT header MATCHES "file format ${FORMAT}\n")
  message(FATAL_ERROR "${DLL} is not ${FORMAT}:\n${header}")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed: ${rc}")
endif()

# The names follow "[Ordinal/Name Pointer] Table", one "[ n] Name" line each, up to a blank line.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${DLL} has no export name table")
endif()
string(SUBSTRING "${dump}" ${start} -1 rest)
string(REPLACE "\n" ";" lines "${rest}")
list(REMOVE_AT lines 0)
set(exported "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*$")
    break()
  endif()
  if(NOT line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
    message(FATAL_ERROR "unexpected line in the export table: '${line}'")
  endif()
  list(APPEND exported "${CMAKE_MATCH_1}")
endforeach()

list(SORT exported)
list(SORT expected)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "${DLL} exports '${exported}', expected '${expected}'")
endif()
message(STATUS "${DLL}: ${FORMAT}, exports ${exported}")
