# Install steps that run in the installation itself: splitting debug
# information off a binary, and the checksums of a package's files.
#
# The installation has two components, each a package of its own where the
# format has packages (.deb, .rpm) and together in the archives (.tar.gz,
# .zip): "library" (the library, ravelTint-check, the header, the CMake
# package and the documents), which needs nothing newer than glibc 2.17, and
# "refhost" (the reference host), which needs what its build machine has.
# Each component's install rules are written together, between
# raveltint_install_begin and raveltint_install_checksums.

# Strips the installed FILE (relative to the prefix) and keeps its debug
# information in FILE.debug beside it, linked by name and checksum, where
# debuggers and crash tools look for it.
function(raveltint_install_split_debug file component)
  install(CODE "
    set(binary \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${file}\")
    execute_process(
      COMMAND \"${CMAKE_OBJCOPY}\" --only-keep-debug \${binary} \${binary}.debug
      COMMAND_ERROR_IS_FATAL ANY)
    # The link names the file only, so it is found beside the binary.
    get_filename_component(folder \${binary} DIRECTORY)
    get_filename_component(name \${binary} NAME)
    execute_process(
      COMMAND \"${CMAKE_OBJCOPY}\" --strip-all --add-gnu-debuglink=\${name}.debug
              \${name}
      WORKING_DIRECTORY \${folder} COMMAND_ERROR_IS_FATAL ANY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES
         \"\${CMAKE_INSTALL_PREFIX}/${file}.debug\")
  " COMPONENT ${component})
endfunction()

# Marks where the files of `component` begin among those installed.
function(raveltint_install_begin component)
  install(CODE "
    list(LENGTH CMAKE_INSTALL_MANIFEST_FILES raveltint_first_${component})
  " COMPONENT ${component})
endfunction()

# Writes `file` at the top of the installation, in the format that
# `sha256sum -c` reads, over every file of `component` installed so far.
function(raveltint_install_checksums file component)
  install(CODE "
    # The manifest names files as installed, without DESTDIR.
    set(files \${CMAKE_INSTALL_MANIFEST_FILES})
    list(SUBLIST files \${raveltint_first_${component}} -1 files)
    set(names \"\")
    set(sums \"\")
    foreach(file \${files})
      file(RELATIVE_PATH name \"\${CMAKE_INSTALL_PREFIX}\" \"\${file}\")
      cmake_path(NORMAL_PATH name)
      list(APPEND names \${name})
    endforeach()
    list(REMOVE_DUPLICATES names)
    list(SORT names)
    set(top \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    foreach(name \${names})
      file(SHA256 \"\${top}/\${name}\" hash)
      string(APPEND sums \"\${hash}  \${name}\\n\")
    endforeach()
    file(WRITE \"\${top}/${file}\" \"\${sums}\")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${CMAKE_INSTALL_PREFIX}/${file}\")
  " COMPONENT ${component})
endfunction()

# The system packages' own documents, which Debian keeps outside the
# installation's prefix: /usr/share/doc/PACKAGE/copyright (the licence and
# its holder) and changelog.gz. Written only when the installation goes to
# the system packages' prefix, so the archives hold the prefix alone.
function(raveltint_install_package_documents package summary component)
  foreach(document copyright changelog)
    set(PACKAGE ${package})
    set(VERSION ${PROJECT_VERSION})
    set(SUMMARY ${summary})
    configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/${document}.in
                   ${CMAKE_BINARY_DIR}/debian/${package}/${document} @ONLY)
  endforeach()
  install(CODE "
    if(CMAKE_INSTALL_PREFIX STREQUAL \"${RAVELTINT_SYSTEM_PREFIX}\")
      # file(INSTALL) puts DESTDIR in front of its destination itself.
      set(doc /usr/share/doc/${package})
      set(built \"${CMAKE_BINARY_DIR}/debian/${package}\")
      file(INSTALL \${built}/copyright DESTINATION \${doc}
           FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
      set(doc \"\$ENV{DESTDIR}\${doc}\")
      # gzip -n leaves the time out, so that every build gives one file.
      execute_process(COMMAND gzip -9 -n -c \${built}/changelog
                      OUTPUT_FILE \${doc}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
      file(CHMOD \${doc}/changelog.gz
           PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()
  " COMPONENT ${component})
endfunction()
