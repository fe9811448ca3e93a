# What differs between the two targets: system libraries, how the loadable
# library is linked, and how programs are run.

if(WIN32)
  set(RAVELTINT_SYSTEM_LIBS "")
  # Nothing but KERNEL32.dll and the C runtime at load time.
  set(RAVELTINT_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
else()
  set(RAVELTINT_SYSTEM_LIBS ${CMAKE_DL_LIBS})
  set(RAVELTINT_STATIC_RUNTIME "")
  # Before glibc 2.34 dlsym lived in libdl.so.2, which the library therefore
  # names as needed even where libc provides dlsym itself.
  set(RAVELTINT_LIBRARY_LIBS
      -Wl,--push-state,--no-as-needed -l:libdl.so.2 -Wl,--pop-state)
endif()

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
    # Every symbol resolved at link time; a sanitized library leaves its
    # runtime to the program that loads it.
    if(NOT RAVELTINT_SANITIZE)
      target_link_options(${target} PRIVATE -Wl,-z,defs)
    endif()
    set_property(TARGET ${target} APPEND PROPERTY
                 LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/exports.map)
  endif()
  target_link_libraries(${target} PRIVATE ${RAVELTINT_SYSTEM_LIBS}
                                          ${RAVELTINT_LIBRARY_LIBS})
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
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  raveltint_configure_program(${name})
endfunction()

# A program that hosts the library exports the six renderer functions the
# shader calls from its own executable.
function(raveltint_export_renderer_functions target)
  if(NOT WIN32)
    target_link_options(${target} PRIVATE
      -Wl,--dynamic-list=${PROJECT_SOURCE_DIR}/tools/refhost/exports.list)
  endif()
endfunction()
