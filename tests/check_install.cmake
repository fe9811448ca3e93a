cmake_minimum_required(VERSION 3.25)
# Builds the packages of a build, unpacks them and checks what they hold and
# what they ask for, then uses them as a studio would.
#   The archive (.tar.gz or .zip): every file, stripped binaries each with a
#   linked .debug file, checksum files that cover and verify every other
#   file; ravelTint-check passes on the library and fails with one clear line
#   on a truncated copy and on a library of another version; the reference
#   host renders, and its EXR files read in oiiotool and exrheader; the
#   matte tool keys its PNG and EXR by name; a consumer project finds the CMake package and runs a C
#   host against the library it names.
#   The .deb and .rpm (Linux): the same files under /opt/ravelTint, the
#   library package needing nothing newer than glibc 2.17, and
#   ravelTint-check passing in each unpacked tree.
#   cmake -DBUILD=dir -DWORK=dir -DSOURCE=dir -DPLATFORM=linux|windows
#         -DPACKAGE=name -DVERSION=x.y.z -DOBJDUMP=tool -DCPACK=cpack -DFAKE_LIBRARY=file
#         [-DTOOLCHAIN=file] [-DSANITIZE=list] [-DEMULATOR=launcher]
#         -P check_install.cmake
set(version ${VERSION})
string(REGEX MATCH "^[0-9]+" shader_version ${version})
math(EXPR other_version "${shader_version} + 1")

function(fail what)
  message(FATAL_ERROR "${PACKAGE}: ${what}")
endfunction()

# Runs a command; `output` gets what it printed. EXPECT names the status.
function(run)
  cmake_parse_arguments(arg "" "EXPECT;IN" "" ${ARGN})
  if(NOT DEFINED arg_EXPECT)
    set(arg_EXPECT 0)
  endif()
  if(NOT arg_IN)
    set(arg_IN ${WORK})
  endif()
  execute_process(COMMAND ${arg_UNPARSED_ARGUMENTS} OUTPUT_VARIABLE output
                  ERROR_VARIABLE output RESULT_VARIABLE status
                  WORKING_DIRECTORY ${arg_IN})
  if(NOT status EQUAL arg_EXPECT)
    fail("${arg_UNPARSED_ARGUMENTS} exited ${status}, not ${arg_EXPECT}: "
         "${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

function(expect_files top expected)
  file(GLOB_RECURSE held RELATIVE ${top} ${top}/*)
  list(SORT held)
  list(SORT expected)
  if(NOT held STREQUAL expected)
    fail("${top} holds ${held}, expected ${expected}")
  endif()
endfunction()

# Each checksum file lists the other files of its package once, and all of
# them verify.
function(expect_checksums top sum_files)
  file(GLOB_RECURSE held RELATIVE ${top} ${top}/*)
  set(summed "")
  foreach(sums ${sum_files})
    file(STRINGS ${top}/${sums} lines)
    foreach(line ${lines})
      string(REGEX REPLACE "^[0-9a-f]+  " "" name "${line}")
      list(APPEND summed ${name})
    endforeach()
    run(sha256sum --quiet -c ${sums} IN ${top})
  endforeach()
  list(APPEND summed ${sum_files})
  list(SORT summed)
  list(SORT held)
  if(NOT summed STREQUAL held)
    fail("${sum_files} cover ${summed}, the package holds ${held}")
  endif()
endfunction()

function(expect_check_passes top)
  run(${EMULATOR} ${top}/${check})
  if(NOT output MATCHES "^ravelTint ${version}: ok \\(")
    fail("ravelTint-check in ${top} says: ${output}")
  endif()
endfunction()

# lintian finds nothing in the .deb files but what installing under /opt
# brings: files in /opt, and the .debug files kept beside their binaries
# there (lintian expects debug information under /usr/lib/debug only).
function(expect_lintian_clean)
  execute_process(COMMAND lintian --tag-display-limit 0 ${ARGN}
                  OUTPUT_VARIABLE said ERROR_VARIABLE said)
  string(REGEX MATCHALL "[EWX]: [^\n]*" findings "${said}")
  foreach(finding ${findings})
    if(finding MATCHES " dir-or-file-in-opt " OR
       finding MATCHES " (unstripped-binary-or-object|binary-with-bad-dynamic-table|elf-error|shared-library-lacks-prerequisites) .*\\.debug\\]$")
      continue()
    endif()
    fail("lintian: ${finding}")
  endforeach()
endfunction()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
if(PLATFORM STREQUAL "windows")
  set(archive ${WORK}/${PACKAGE}.zip)
  set(library bin/ravelTint.dll)
  set(check bin/ravelTint-check.exe)
  set(host bin/refhost.exe)
  set(matte bin/ravelTint-matte.exe)
  set(platform_files lib/libravelTint.dll.a)
  set(exe .exe)
else()
  set(archive ${WORK}/${PACKAGE}.tar.gz)
  set(library lib/ravelTint.so)
  set(check bin/ravelTint-check)
  set(host bin/refhost)
  set(matte bin/ravelTint-matte)
  set(platform_files "")
  set(exe "")
endif()
set(library_files ${library} ${library}.debug ${check} ${check}.debug
    README.md LICENSE SHA256SUMS docs/objectid.png docs/scene.md docs/manifest.md
    docs/mattes.md docs/library.md docs/refhost.md docs/packages.md
    docs/development.md include/ravelTint/ravelTint.h include/ravelTint/renderer.h
    lib/cmake/ravelTint/ravelTintConfig.cmake
    lib/cmake/ravelTint/ravelTintConfigVersion.cmake ${platform_files})
set(host_files ${host} ${host}.debug ${matte} ${matte}.debug
    SHA256SUMS.refhost)

run(${CPACK} --config ${BUILD}/CPackConfig.cmake -B ${WORK})

# ---- The archive.
file(ARCHIVE_EXTRACT INPUT ${archive} DESTINATION ${WORK}/unpacked)
set(top ${WORK}/unpacked/${PACKAGE})
expect_files(${top} "${library_files};${host_files}")
expect_checksums(${top} "SHA256SUMS;SHA256SUMS.refhost")
foreach(binary ${library} ${check} ${host} ${matte})
  # Stripped: no debug information and no symbol table (what `file` calls
  # "stripped"), only a link to the .debug file that holds both.
  run(${OBJDUMP} -h ${top}/${binary})
  if(output MATCHES "\\.debug_info|\\.symtab" OR
     NOT output MATCHES "\\.gnu_debuglink")
    fail("${binary} is not stripped with a debug link")
  endif()
  run(${OBJDUMP} -t ${top}/${binary})
  if(NOT output MATCHES "no symbols")
    fail("${binary} still has a symbol table: ${output}")
  endif()
  run(${OBJDUMP} -h ${top}/${binary}.debug)
  if(NOT output MATCHES "\\.debug_info")
    fail("${binary}.debug holds no debug information")
  endif()
endforeach()

expect_check_passes(${top})
run(${EMULATOR} ${top}/${check} --version)
if(NOT output MATCHES "^ravelTint-check ${version}\n$")
  fail("ravelTint-check --version says: ${output}")
endif()

foreach(broken truncated fake)
  if(broken STREQUAL "truncated")
    set(file ${WORK}/truncated-library)
    execute_process(COMMAND head -c 4000 ${top}/${library} OUTPUT_FILE ${file})
    set(said "truncated: 4000 of [0-9]+ bytes")
  else()
    set(file ${FAKE_LIBRARY})
    set(said "shader version ${other_version}, expected ${shader_version}")
  endif()
  run(${EMULATOR} ${top}/${check} ${file} EXPECT 1)
  if(NOT output MATCHES "^ravelTint ${version}: FAILED \\([^\n]*${said}\\)\n$")
    fail("ravelTint-check on a ${broken} library says: ${output}")
  endif()
endforeach()

run(${EMULATOR} ${top}/${host} --size 64x36 --samples 1
    --out ${WORK}/check.png --manifest ${WORK}/check.json
    --exr ${WORK}/check.exr --cryptomatte ${WORK}/check.cryptomatte.exr)
if(NOT EXISTS ${WORK}/check.png)
  fail("the unpacked reference host cannot render")
endif()
# Its EXR files read in other tools, with the channels and attributes that
# compositors look for.
foreach(exr check.exr check.cryptomatte.exr)
  run(exrheader ${WORK}/${exr})
  if(NOT output MATCHES "R, 32-bit floating-point" OR
     NOT output MATCHES "compression[^\n]*: zip" OR
     NOT output MATCHES "dataWindow[^\n]*\\(0 0\\) - \\(63 35\\)" OR
     NOT output MATCHES "ravelTint/manifest")
    fail("exrheader reads ${exr} as: ${output}")
  endif()
  run(oiiotool --info -v ${WORK}/${exr})
  if(NOT output MATCHES "64 x +36, (4|16) channel, float openexr")
    fail("oiiotool reads ${exr} as: ${output}")
  endif()
endforeach()
if(NOT output MATCHES "CryptoObject00\\.R" OR
   NOT output MATCHES "cryptomatte/[0-9a-f]+/manifest: [^\n]*chair_left_seat")
  fail("oiiotool finds no Cryptomatte in check.cryptomatte.exr: ${output}")
endif()
# The matte tool keys the images it rendered, by name: the PNG with its
# manifest, the EXR with the manifest it carries.
run(${EMULATOR} ${top}/${matte} ${WORK}/check.png --manifest ${WORK}/check.json
    --select "chair_*" --out ${WORK}/chairs.png)
if(NOT output MATCHES "selected 4 objects: \"chair_left_seat\"" OR
   NOT EXISTS ${WORK}/chairs.png)
  fail("the unpacked matte tool says: ${output}")
endif()
run(${EMULATOR} ${top}/${matte} ${WORK}/check.exr --select "chair_*"
    --out ${WORK}/chairs.exr)
if(NOT output MATCHES "selected 4 objects: \"chair_left_seat\"")
  fail("the unpacked matte tool on an EXR says: ${output}")
endif()
run(exrheader ${WORK}/chairs.exr)
foreach(program ${check} ${matte})
  foreach(help -h --help)
    run(${EMULATOR} ${top}/${program} ${help})
    if(NOT output MATCHES "[Uu]sage: ")
      fail("${program} ${help} says: ${output}")
    endif()
  endforeach()
endforeach()

set(consumer_options -G Ninja -S ${SOURCE}/tests/consumer -B ${WORK}/consumer
    -DVERSION=${version}
    -DravelTint_DIR=${top}/lib/cmake/ravelTint -DCMAKE_BUILD_TYPE=Release)
if(TOOLCHAIN)
  list(APPEND consumer_options -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
if(SANITIZE)
  # A sanitized library loads only into a program with the same runtime.
  list(APPEND consumer_options -DCMAKE_C_FLAGS=-fsanitize=${SANITIZE}
       -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=${SANITIZE})
endif()
run(${CMAKE_COMMAND} ${consumer_options})
run(${CMAKE_COMMAND} --build ${WORK}/consumer)
run(${EMULATOR} ${WORK}/consumer/consumer${exe})
if(NOT output MATCHES "shader version ${shader_version}")
  fail("the consumer project's host says: ${output}")
endif()

# ---- The system packages, with the same files under one prefix.
if(PLATFORM STREQUAL "linux")
  set(prefix opt/ravelTint)
  foreach(format deb rpm)
    if(format STREQUAL "deb")
      set(library_package ${WORK}/raveltint_${version}_amd64.deb)
      set(host_package ${WORK}/raveltint-refhost_${version}_amd64.deb)
      set(library_package_deb ${library_package})
      set(host_package_deb ${host_package})
      run(dpkg-deb -f ${library_package} Depends)
      set(needs "${output}")
      run(dpkg-deb -c ${library_package})
      set(listed "${output}")
      foreach(package ${library_package} ${host_package})
        run(dpkg-deb -x ${package} ${WORK}/${format})
      endforeach()
    else()
      set(library_package ${WORK}/ravelTint-${version}-1.x86_64.rpm)
      set(host_package ${WORK}/ravelTint-refhost-${version}-1.x86_64.rpm)
      run(rpm -qpR ${library_package})
      set(needs "${output}")
      run(rpm -qlp ${library_package})
      set(listed "${output}")
      file(MAKE_DIRECTORY ${WORK}/${format})
      foreach(package ${library_package} ${host_package})
        execute_process(COMMAND rpm2cpio ${package} COMMAND cpio -idm --quiet
                        WORKING_DIRECTORY ${WORK}/${format}
                        RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
          fail("cannot unpack ${package}")
        endif()
      endforeach()
    endif()
    foreach(file ${library_files})
      if(NOT listed MATCHES "/${prefix}/${file}\n")
        fail("${library_package} does not list /${prefix}/${file}")
      endif()
    endforeach()
    # The library package asks for glibc 2.17 at most, and for nothing else
    # but the package format's own features.
    string(REGEX REPLACE "rpmlib\\([^\n]*\n" "" other "${needs}")
    if(NOT other MATCHES "^(libc6 \\(>= 2.17\\)|glibc >= 2.17)\n$")
      fail("${library_package} needs ${needs}")
    endif()
    set(unpacked ${WORK}/${format}/${prefix})
    expect_files(${unpacked} "${library_files};${host_files}")
    expect_checksums(${unpacked} "SHA256SUMS;SHA256SUMS.refhost")
    run(${OBJDUMP} -h ${unpacked}/${library}.debug)
    if(NOT output MATCHES "\\.debug_info")
      fail("${library_package} holds ${library}.debug without debug information")
    endif()
    expect_check_passes(${unpacked})
    # The licence and its holder, where each system looks for them.
    foreach(package raveltint raveltint-refhost)
      if(NOT EXISTS ${WORK}/${format}/usr/share/doc/${package}/copyright)
        fail("the ${format} package ${package} holds no copyright file")
      endif()
    endforeach()
  endforeach()
  expect_lintian_clean(${library_package_deb} ${host_package_deb})
endif()

file(REMOVE_RECURSE ${WORK})
message(STATUS "${PACKAGE}: every package holds what it should and works")
