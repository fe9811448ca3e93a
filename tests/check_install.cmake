cmake_minimum_required(VERSION 3.25)
# Installs a build into a scratch folder and checks what lands there; on
# Linux it also renders with the installed reference host.
#   cmake -DBUILD=dir -DPREFIX=dir -DPLATFORM=linux|windows -P check_install.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
if(PLATFORM STREQUAL "windows")
  set(expected bin/ravelTint.dll bin/refhost.exe)
else()
  set(expected lib/ravelTint.so bin/refhost)
endif()
list(APPEND expected README.md docs/objectid.png include/ravelTint/ravelTint.h
     include/ravelTint/exports.h)
foreach(file ${expected})
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "the install lacks ${file}")
  endif()
endforeach()
if(PLATFORM STREQUAL "linux")
  execute_process(COMMAND ${PREFIX}/bin/refhost --size 64x36 --samples 1
                          --out ${PREFIX}/check.png --manifest ${PREFIX}/check.json
                  OUTPUT_QUIET RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT EXISTS ${PREFIX}/check.png)
    message(FATAL_ERROR "the installed reference host cannot render")
  endif()
endif()
