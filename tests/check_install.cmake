cmake_minimum_required(VERSION 3.25)
# Builds the release package of a build, unpacks it and checks what it holds:
# the stripped library and reference host, each with its debug information in
# a linked .debug file beside it, the public headers, README, LICENSE and a
# SHA256SUMS that covers and verifies every other file. Then renders with the
# unpacked reference host.
#   cmake -DBUILD=dir -DWORK=dir -DPLATFORM=linux|windows -DPACKAGE=name
#         -DOBJDUMP=tool -DCPACK=cpack
#         [-DEMULATOR=launcher] -P check_install.cmake
function(fail what)
  message(FATAL_ERROR "${PACKAGE}: ${what}")
endfunction()

function(run)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output ERROR_VARIABLE output
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    fail("${ARGN} failed: ${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK})
if(PLATFORM STREQUAL "windows")
  set(archive ${WORK}/${PACKAGE}.zip)
  set(library bin/ravelTint.dll)
  set(host bin/refhost.exe)
else()
  set(archive ${WORK}/${PACKAGE}.tar.gz)
  set(library lib/ravelTint.so)
  set(host bin/refhost)
endif()
run(${CPACK} --config ${BUILD}/CPackConfig.cmake -B ${WORK})
if(NOT EXISTS ${archive})
  fail("cpack made no ${archive}")
endif()
file(ARCHIVE_EXTRACT INPUT ${archive} DESTINATION ${WORK}/unpacked)
set(top ${WORK}/unpacked/${PACKAGE})

set(expected ${library} ${library}.debug ${host} ${host}.debug README.md
    LICENSE SHA256SUMS docs/objectid.png include/ravelTint/ravelTint.h
    include/ravelTint/exports.h)
file(GLOB_RECURSE held RELATIVE ${top} ${top}/*)
list(SORT held)
list(SORT expected)
if(NOT held STREQUAL expected)
  fail("holds ${held}, expected ${expected}")
endif()

# Every other file is listed once and verifies.
file(STRINGS ${top}/SHA256SUMS sums)
list(LENGTH sums summed)
list(LENGTH held files)
math(EXPR files "${files} - 1")
if(NOT summed EQUAL files)
  fail("SHA256SUMS lists ${summed} files of ${files}")
endif()
execute_process(COMMAND sha256sum --quiet -c SHA256SUMS WORKING_DIRECTORY ${top}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  fail("SHA256SUMS does not verify")
endif()

foreach(binary ${library} ${host})
  run(${OBJDUMP} -h ${top}/${binary})
  if(output MATCHES "\\.debug_info" OR NOT output MATCHES "\\.gnu_debuglink")
    fail("${binary} is not stripped with a debug link")
  endif()
  run(${OBJDUMP} -h ${top}/${binary}.debug)
  if(NOT output MATCHES "\\.debug_info")
    fail("${binary}.debug holds no debug information")
  endif()
endforeach()

run(${EMULATOR} ${top}/${host} --size 64x36 --samples 1
    --out ${WORK}/check.png --manifest ${WORK}/check.json)
if(NOT EXISTS ${WORK}/check.png)
  fail("the unpacked reference host cannot render")
endif()
file(REMOVE_RECURSE ${WORK})
message(STATUS "${archive}: ${held}")
