cmake_minimum_required(VERSION 3.25)
# Checks what a shipped binary shows the outside world.
#   The library: exactly three exported names, and every host entry and the
#   resolver starting with an indirect-branch target.
#   Both the library and ravelTint-check: nothing needed at load time but the
#   system's C runtime (and, on Windows, KERNEL32.dll); on Linux every
#   symbol version no newer than GLIBC_2.17, each needed from the file that
#   holds it on every glibc since then (the dl* functions from libdl.so.2);
#   and the hardening: full RELRO, BIND_NOW, a non-executable stack, a
#   position-independent program, the IBT and SHSTK marking, stack
#   canaries and checked string functions on Linux, ASLR with high entropy
#   and NX on Windows.
#   cmake -DBINARY=path -DKIND=library|program -DPLATFORM=linux|windows
#         -DTOOL=nm-or-objdump [-DCHECK_IMPORTS=ON] -P check_library.cmake
set(expected_exports miSetModuleHandle ravelTint ravelTint_version)
# What glibc kept in libdl.so.2 until 2.34 moved it into libc.so.6.
set(libdl_functions dlopen dlclose dlsym dlvsym dlerror dladdr dladdr1 dlinfo
    dlmopen)

function(fail what)
  message(FATAL_ERROR "${BINARY}: ${what}")
endfunction()

function(capture out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    fail("${ARGN} failed")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(require text pattern what)
  if(NOT text MATCHES "${pattern}")
    fail("${what}")
  endif()
endfunction()

# Every entry is reached by indirect branches (the shader calls unresolved
# entries through their addresses), so each one, and the resolver, must
# begin with endbr64.
function(check_entry_starts objdump resolver)
  execute_process(COMMAND ${objdump} -d --no-addresses ${BINARY}
                  OUTPUT_VARIABLE code)
  string(REGEX MATCHALL "<(mi_[a-z0-9_]+|${resolver})>:\n[^\n]*" starts
                        "${code}")
  list(LENGTH starts functions)
  if(functions LESS 682)
    fail("found only ${functions} entries to check")
  endif()
  foreach(start ${starts})
    if(NOT start MATCHES "endbr64")
      string(REGEX REPLACE ":\n.*" "" name "${start}")
      fail("${name} does not begin with endbr64")
    endif()
  endforeach()
endfunction()

# Windows: the export table, the imported DLLs, the resolver's tail jump and
# the DLL characteristics.
function(check_windows)
  capture(dump ${TOOL} -p ${BINARY})
  # Export names follow the "[Ordinal/Name Pointer] Table" heading.
  set(exports "")
  if(dump MATCHES "\\[Ordinal/Name Pointer\\] Table\n")
    string(REGEX REPLACE ".*\\[Ordinal/Name Pointer\\] Table\n" "" table
                         "${dump}")
    string(REGEX REPLACE "\n\n.*" "" table "${table}")
    string(REGEX MATCHALL "\\[ *[0-9]+\\] [A-Za-z_0-9]+" rows "${table}")
    foreach(row ${rows})
      string(REGEX REPLACE ".*\\] " "" name "${row}")
      list(APPEND exports ${name})
    endforeach()
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
  string(REPLACE "DLL Name: " "" imports "${imports}")
  set(allowed_imports KERNEL32.dll msvcrt.dll)
  string(REGEX REPLACE ".*DllCharacteristics[^\n]*\n" "" flags "${dump}")
  string(REGEX REPLACE "\n[A-Z].*" "" flags "${flags}")
  foreach(flag HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT)
    require("${flags}" "${flag}" "DllCharacteristics lack ${flag}")
  endforeach()
  if(KIND STREQUAL "library")
    # The resolver leaves through a tail jump, which the Windows unwinder
    # recognises as an epilogue only when it carries REX.W (49 ff e3).
    capture(resolver ${TOOL} -d --disassemble=dynload_resolve_win64 ${BINARY})
    if(NOT resolver MATCHES "49 ff e3" OR resolver MATCHES "41 ff e3")
      fail("the resolver's tail jump is not encoded as rex64 jmp *%r11")
    endif()
    check_entry_starts(${TOOL} dynload_resolve_win64)
  endif()
  set(exports "${exports}" PARENT_SCOPE)
  set(imports "${imports}" PARENT_SCOPE)
  set(allowed_imports "${allowed_imports}" PARENT_SCOPE)
endfunction()

# Linux: each undefined symbol's version, and the file its need names.
function(check_linux_versions)
  capture(versions readelf -V -W ${BINARY})
  string(REGEX REPLACE ".*'\\.gnu\\.version_r'" "" versions "${versions}")
  string(REGEX MATCHALL "(File|Name): [^ \n]+[^\n]*" needs "${versions}")
  foreach(need ${needs})
    if(need MATCHES "^File: ([^ ]+)")
      set(file ${CMAKE_MATCH_1})
    elseif(need MATCHES "^Name: ([^ ]+) .*Version: ([0-9]+)")
      set(need_file_${CMAKE_MATCH_2} ${file})
      set(need_version_${CMAKE_MATCH_2} ${CMAKE_MATCH_1})
    endif()
  endforeach()
  capture(symbols readelf --dyn-syms -W ${BINARY})
  string(REGEX MATCHALL " UND [^@\n]+@[^ \n]+ \\([0-9]+\\)" undefined
                        "${symbols}")
  set(checked 0)
  foreach(symbol ${undefined})
    string(REGEX MATCH "UND ([^@]+)@([^ ]+) \\(([0-9]+)\\)" _ "${symbol}")
    set(name ${CMAKE_MATCH_1})
    set(file ${need_file_${CMAKE_MATCH_3}})
    set(version ${need_version_${CMAKE_MATCH_3}})
    if(name IN_LIST libdl_functions)
      set(home libdl.so.2)
    else()
      set(home libc.so.6)
    endif()
    if(NOT file STREQUAL home)
      fail("needs ${name}@${version} from ${file}; glibc before 2.34 keeps "
           "it in ${home} only")
    endif()
    if(NOT version MATCHES "^GLIBC_([0-9.]+)$")
      fail("needs version ${version} of ${file}")
    elseif(CMAKE_MATCH_1 VERSION_GREATER 2.17)
      fail("needs ${name}@${version}, newer than the floor GLIBC_2.17")
    endif()
    math(EXPR checked "${checked} + 1")
  endforeach()
  if(checked EQUAL 0)
    fail("no versioned symbol found to check")
  endif()
  foreach(guard __stack_chk_fail __snprintf_chk)
    require("${symbols}" " UND ${guard}@" "has no ${guard}: built without "
            "stack protection or checked string functions")
  endforeach()
endfunction()

# Linux: the exported names, the needed libraries and the hardening.
function(check_linux)
  capture(symbols ${TOOL} -D --defined-only --format=posix ${BINARY})
  string(REPLACE "\n" ";" lines "${symbols}")
  set(exports "")
  foreach(line ${lines})
    string(REGEX MATCH "^[^ ]+" name "${line}")
    if(NOT name MATCHES "^(_init|_fini|_edata|_end|__bss_start|_IO_stdin_used)$")
      list(APPEND exports ${name})
    endif()
  endforeach()
  capture(dynamic readelf -d ${BINARY})
  string(REGEX MATCHALL "Shared library: \\[[^]]+" imports "${dynamic}")
  string(REPLACE "Shared library: [" "" imports "${imports}")
  require("${dynamic}" "\\(FLAGS\\)[^\n]*BIND_NOW" "is not linked with BIND_NOW")
  capture(segments readelf -l -W ${BINARY})
  require("${segments}" "GNU_RELRO" "has no read-only relocations (RELRO)")
  # A stack that is readable and writable, never executable.
  require("${segments}" "GNU_STACK[^\n]* RW  " "has no non-executable stack")
  if(KIND STREQUAL "program")
    # Position-independent: a shared object's type, with an interpreter.
    require("${segments}" "Elf file type is DYN" "is not position-independent")
    require("${segments}" "INTERP" "is not position-independent")
  endif()
  capture(notes readelf -n ${BINARY})
  require("${notes}" "x86 feature: IBT, SHSTK"
          "is not marked compatible with IBT and shadow stacks")
  if(KIND STREQUAL "library")
    check_entry_starts(objdump dynload_resolve_sysv)
  endif()
  set(exports "${exports}" PARENT_SCOPE)
  set(imports "${imports}" PARENT_SCOPE)
  set(allowed_imports libc.so.6 libdl.so.2 PARENT_SCOPE)
endfunction()

if(PLATFORM STREQUAL "windows")
  check_windows()
else()
  check_linux()
endif()

if(KIND STREQUAL "library")
  list(SORT exports)
  if(NOT exports STREQUAL expected_exports)
    fail("exports ${exports}, expected exactly ${expected_exports}")
  endif()
endif()
if(CHECK_IMPORTS)
  foreach(import ${imports})
    if(NOT import IN_LIST allowed_imports)
      fail("needs ${import} at load time")
    endif()
  endforeach()
  if(PLATFORM STREQUAL "linux")
    check_linux_versions()
  endif()
endif()
message(STATUS "${BINARY}: exports ${exports}; needs ${imports}; hardened")
