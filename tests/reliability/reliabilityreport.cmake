# Gathers the sections the reliability suites wrote into one report (FIGURES_DIR/report.md), prints
# it, and fails when the totals show a lost, duplicated or unrecorded job or a leaked handle.
#   cmake -DFIGURES_DIR=<dir> -P reliabilityreport.cmake
file(GLOB sections "${FIGURES_DIR}/*.md")
list(REMOVE_ITEM sections "${FIGURES_DIR}/report.md")
list(SORT sections)
if(NOT sections)
  message(FATAL_ERROR "No figures in ${FIGURES_DIR}: run the reliability suites first")
endif()

set(report "")
foreach(key cases sent delivered recorded duplicated lost unrecorded leaks)
  set(total_${key} 0)
endforeach()
set(total_busy 0)
foreach(section IN LISTS sections)
  file(READ "${section}" text)
  string(APPEND report "${text}\n")
  string(REGEX MATCH "<!-- totals ([^>]*) -->" line "${text}")
  set(totals " ${CMAKE_MATCH_1}")
  foreach(key cases sent delivered recorded duplicated lost unrecorded leaks busy)
    string(REGEX MATCH " ${key}=([0-9]+)" pair "${totals}")
    set(value "${CMAKE_MATCH_1}")
    if(key STREQUAL "busy")
      if(value GREATER total_busy)
        set(total_busy ${value})
      endif()
    else()
      math(EXPR total_${key} "${total_${key}} + ${value}")
    endif()
  endforeach()
endforeach()

string(APPEND report "### All suites\n\n"
  "| Cases | Jobs sent | At the service | Recorded | Duplicated | Lost | Unrecorded | Leaked handles "
  "| Longest busy after outcome (ms) |\n"
  "|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n"
  "| ${total_cases} | ${total_sent} | ${total_delivered} | ${total_recorded} | ${total_duplicated} "
  "| ${total_lost} | ${total_unrecorded} | ${total_leaks} | ${total_busy} |\n")
file(WRITE "${FIGURES_DIR}/report.md" "${report}")
message("${report}")

if(total_duplicated OR total_lost OR total_unrecorded OR total_leaks)
  message(FATAL_ERROR "Jobs lost, duplicated or unrecorded, or handles leaked: see the table above")
endif()
