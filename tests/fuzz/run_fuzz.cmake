cmake_minimum_required(VERSION 3.25)
# Runs a fuzz target with its standard error closed (libFuzzer keeps its own
# reports and the sanitizers' on a copy), so that what the library writes for
# the inputs it rejects does not flood the log; fails if the target fails or
# if its log is not small after all.
#   cmake -DTARGET=program -DLOG=file -DARGS=a|b|c -P run_fuzz.cmake
set(limit 1048576)
string(REPLACE "|" ";" ARGS "${ARGS}")
# Leaks of the third-party decoders' own failure paths, which are theirs
# and bounded, are listed here; any other leak fails the run.
set(ENV{LSAN_OPTIONS} "suppressions=${CMAKE_CURRENT_LIST_DIR}/leaks.supp")
execute_process(COMMAND ${TARGET} -close_fd_mask=2 ${ARGS}
                OUTPUT_FILE ${LOG} ERROR_FILE ${LOG} RESULT_VARIABLE status)
file(SIZE ${LOG} size)
file(STRINGS ${LOG} lines)
list(LENGTH lines count)
if(count GREATER 60)
  math(EXPR first "${count} - 60")
  list(SUBLIST lines ${first} 60 lines)
endif()
list(JOIN lines "\n" tail)
message("${tail}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TARGET} failed (${status}); the whole log is ${LOG}")
endif()
if(size GREATER limit)
  message(FATAL_ERROR "${TARGET} wrote ${size} bytes, more than ${limit}")
endif()
message(STATUS "${TARGET}: log of ${size} bytes")
