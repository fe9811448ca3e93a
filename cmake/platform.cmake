# What differs between the two targets: system libraries, how the loadable
# library is linked, and how programs are run.

# Every function begins with an indirect-branch target, on both systems.
add_compile_options(-fcf-protection=full)

if(WIN32)
  set(RAVELTINT_SYSTEM_LIBS "")
  # Nothing but KERNEL32.dll and the C runtime at load time.
  set(RAVELTINT_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
else()
  set(RAVELTINT_SYSTEM_LIBS ${CMAKE_DL_LIBS})
  set(RAVELTINT_STATIC_RUNTIME "")
  # Hardening that a studio's security review reads back, besides the
  # branch-target and shadow-stack marking: stack canaries, checked string
  # functions, and relocations read-only after start-up. All of it needs
  # nothing newer than glibc 2.17. (On Windows the stack protector would add
  # ADVAPI32.dll, for its random canary, so the DLL goes without.)
  add_compile_options(-fstack-protector-strong
                      $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  add_link_options(-Wl,-z,relro,-z,now)
  # The link-time stand-in for libdl.so.2 (see library/dynload/libdl_floor.c). It is
  # passed to the linker as a file, not as a library target, so that no
  # run-time search path ever leads to it.
  add_library(libdl_floor SHARED library/dynload/libdl_floor.c)
  set_target_properties(libdl_floor PROPERTIES PREFIX "" NO_SONAME ON
    C_VISIBILITY_PRESET default
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/link-only
    LINK_DEPENDS ${CMAKE_SOURCE_DIR}/library/dynload/libdl_floor.map)
  target_link_options(libdl_floor PRIVATE -nostdlib -Wl,-soname,libdl.so.2
    -Wl,--version-script=${CMAKE_SOURCE_DIR}/library/dynload/libdl_floor.map)
  set(RAVELTINT_FLOOR_LIBS -Wl,--push-state,--no-as-needed
      $<TARGET_FILE:libdl_floor> -Wl,--pop-state)
endif()

# A binary is marked compatible with indirect branch tracking and shadow
# stacks only if every object linked into it is. The C library's start files
# (crt1.o, crti.o and crtn.o, the _start entry and the _init and _fini
# frames) are not marked on every system, so the library and ravelTint-check
# link the compiler's own start and end files alone: crtbeginS.o first,
# crtendS.o last (it ends the unwind tables). Neither has static
# constructors that would need _init, and ravelTint-check brings its own
# entry point.
if(NOT WIN32)
  foreach(file crtbeginS crtendS)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${file}.o
                    OUTPUT_VARIABLE RAVELTINT_${file}
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
  endforeach()
endif()

function(raveltint_marked_start_files target)
  if(NOT WIN32)
    target_link_options(${target} PRIVATE -nostartfiles ${RAVELTINT_crtbeginS})
    target_link_libraries(${target} PRIVATE ${RAVELTINT_crtendS})
  endif()
endfunction()

# A binary that must load on glibc 2.17: it needs libdl.so.2 for the dl*
# functions, at their oldest versions, whatever glibc builds it.
function(raveltint_glibc_floor target)
  if(NOT WIN32)
    target_link_options(${target} PRIVATE ${RAVELTINT_FLOOR_LIBS})
    set_property(TARGET ${target} APPEND PROPERTY
                 LINK_DEPENDS $<TARGET_FILE:libdl_floor>)
    add_dependencies(${target} libdl_floor)
  endif()
endfunction()

function(raveltint_configure_library target)
  if(WIN32)
    # No link time stamp, so that one commit links to the same bytes.
    target_link_options(${target} PRIVATE ${RAVELTINT_STATIC_RUNTIME}
                        -Wl,--exclude-all-symbols -Wl,--no-insert-timestamp)
  else()
    # Export exactly the three public names; link nothing the library does not
    # use, so that it needs the C library alone.
    target_link_options(${target} PRIVATE
      -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/exports.map
      -Wl,--as-needed -Wl,-z,noexecstack -static-libgcc)
    raveltint_marked_start_files(${target})
    # Every symbol resolved at link time; a sanitized library leaves its
    # runtime to the program that loads it.
    if(NOT RAVELTINT_SANITIZE)
      target_link_options(${target} PRIVATE -Wl,-z,defs)
    endif()
    set_property(TARGET ${target} APPEND PROPERTY
                 LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/exports.map)
  endif()
  raveltint_glibc_floor(${target})
endfunction()

# Programs of a Windows build are linked statically, so Wine needs no DLL but
# the system's to start them.
function(raveltint_configure_program target)
  target_link_options(${target} PRIVATE ${RAVELTINT_STATIC_RUNTIME})
endfunction()

# Test hosts: modules that export renderer functions, loaded by path and
# handed to miSetModuleHandle as a renderer hands over its own module.
function(raveltint_test_host name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "")
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}
                                             ${PROJECT_SOURCE_DIR}/include)
  raveltint_configure_program(${name})
endfunction()

# A program that hosts the library exports the renderer functions it defines
# (ravelTint/renderer.h marks them) from its own executable; on Linux an
# executable exports only what its link names.
function(raveltint_export_renderer_functions target)
  if(NOT WIN32)
    target_link_options(${target} PRIVATE "LINKER:--export-dynamic-symbol=mi_*")
  endif()
endfunction()
