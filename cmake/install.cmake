# Install steps that run in the installation itself: splitting debug
# information off a binary, and the checksums of everything installed.

# Strips the installed FILE (relative to the prefix) and keeps its debug
# information in FILE.debug beside it, linked by name and checksum, where
# debuggers and crash tools look for it.
function(raveltint_install_split_debug file)
  install(CODE "
    set(binary \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${file}\")
    execute_process(
      COMMAND \"${CMAKE_OBJCOPY}\" --only-keep-debug \${binary} \${binary}.debug
      COMMAND_ERROR_IS_FATAL ANY)
    # The link names the file only, so it is found beside the binary.
    get_filename_component(folder \${binary} DIRECTORY)
    get_filename_component(name \${binary} NAME)
    execute_process(
      COMMAND \"${CMAKE_OBJCOPY}\" --strip-debug --add-gnu-debuglink=\${name}.debug
              \${name}
      WORKING_DIRECTORY \${folder} COMMAND_ERROR_IS_FATAL ANY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \${binary}.debug)
  ")
endfunction()

# Writes SHA256SUMS at the top of the installation, in the format that
# `sha256sum -c` reads, over every file installed so far.
function(raveltint_install_checksums)
  install(CODE [[
    set(top "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    set(files ${CMAKE_INSTALL_MANIFEST_FILES})
    list(REMOVE_DUPLICATES files)
    list(SORT files)
    set(sums "")
    foreach(file ${files})
      file(RELATIVE_PATH name "${top}" "${file}")
      file(SHA256 "${file}" hash)
      string(APPEND sums "${hash}  ${name}\n")
    endforeach()
    file(WRITE "${top}/SHA256SUMS" "${sums}")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${top}/SHA256SUMS")
  ]])
endfunction()
