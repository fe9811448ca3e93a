cmake_minimum_required(VERSION 3.25)
# Builds the library from two copies of the tree, in folders whose absolute
# paths differ in name and length, and requires byte-identical results, debug
# information included.
#   cmake -DSOURCE=dir -DWORK=dir -DLIBRARY=file-name [-DTOOLCHAIN=file]
#         -P check_reproducible.cmake
set(parts CMakeLists.txt LICENSE cmake library include support tools)
set(folders ${WORK}/a ${WORK}/a-second-folder-with-a-longer-path)

file(REMOVE_RECURSE ${WORK})
set(built "")
foreach(folder ${folders})
  foreach(part ${parts})
    file(COPY ${SOURCE}/${part} DESTINATION ${folder}/src)
  endforeach()
  set(options -G Ninja -S ${folder}/src -B ${folder}/build
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVELTINT_WERROR=ON
      -DRAVELTINT_TESTS=OFF -DRAVELTINT_TOOLS=OFF)
  if(TOOLCHAIN)
    list(APPEND options -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} ${options} OUTPUT_QUIET
                  RESULT_VARIABLE status)
  if(status EQUAL 0)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${folder}/build
                            --target ravelTint OUTPUT_QUIET RESULT_VARIABLE status)
  endif()
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot build the library in ${folder}")
  endif()
  list(APPEND built ${folder}/build/bin/${LIBRARY})
endforeach()

execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${built}
                RESULT_VARIABLE differ)
if(differ)
  message(FATAL_ERROR "two builds of one tree differ: ${built}")
endif()
# No builder's path may be left in the binary.
list(GET built 0 library)
file(STRINGS ${library} paths REGEX "${WORK}")
if(paths)
  message(FATAL_ERROR "${LIBRARY} holds the build's path: ${paths}")
endif()
file(REMOVE_RECURSE ${WORK})
message(STATUS "${LIBRARY}: identical from ${folders}")
