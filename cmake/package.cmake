# The packages: a .tar.gz (Linux) or .zip (Windows) of the whole
# installation, and on Linux a .deb and an .rpm for each component, all
# installing under /opt/ravelTint, where nothing of the system lives.
set(CPACK_PACKAGE_NAME ravelTint)
set(CPACK_PACKAGE_VENDOR "ravelTint")
set(CPACK_PACKAGE_CONTACT "${RAVELTINT_CONTACT}")
# No summary for the whole: each package has its own (below), which CPack
# would otherwise replace on the .deb files with the whole's.
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_FILE_NAME ${RAVELTINT_PACKAGE})
set(CPACK_RAVELTINT_SYSTEM_PREFIX ${RAVELTINT_SYSTEM_PREFIX})
set(CPACK_COMPONENTS_ALL library refhost)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/package_prefix.cmake)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ DEB RPM)
endif()

# Each package says what it is, in a summary line and a description.
set(library_summary "Object-ID shader library for the host renderer")
set(library_description "The ravelTint shader library gives every scene object a
flat, stable colour derived from its name, so that an object-ID image can
be keyed in compositing. It binds the host renderer's functions by name at
run time and needs nothing at load time but the C library. With
ravelTint-check, which checks the library on a render node, the C header
and the CMake package.")
set(refhost_summary "Reference host and matte tool for the ravelTint library")
set(refhost_description "refhost loads the ravelTint shader library as a
renderer does and renders object-ID images of a scene with it: a PNG, a
float OpenEXR image with Cryptomatte layers and a manifest of every
object's colour, with the objects whose colours cannot be told apart. It
also plans seeds for a real scene from its object names alone.
ravelTint-matte turns a flat object-ID image into exact soft mattes by
object name and into Cryptomatte layers.")

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME raveltint)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION
    "${library_summary}\n${library_description}")
# What the library and ravelTint-check need, and all they need.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "libc6 (>= 2.17)")
set(CPACK_DEBIAN_REFHOST_PACKAGE_NAME raveltint-refhost)
set(CPACK_DEBIAN_REFHOST_DESCRIPTION
    "${refhost_summary}\n${refhost_description}")
# The reference host needs what its build machine's libraries give.
set(CPACK_DEBIAN_REFHOST_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_REFHOST_PACKAGE_DEPENDS "raveltint (= ${PROJECT_VERSION})")

set(CPACK_RPM_COMPONENT_INSTALL ON)
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_LICENSE "Apache-2.0")
set(CPACK_RPM_PACKAGE_GROUP "Applications/Multimedia")
set(CPACK_RPM_LIBRARY_PACKAGE_NAME ravelTint)
set(CPACK_RPM_LIBRARY_PACKAGE_SUMMARY "${library_summary}")
set(CPACK_RPM_LIBRARY_PACKAGE_DESCRIPTION "${library_description}")
set(CPACK_RPM_LIBRARY_PACKAGE_AUTOREQ OFF)
set(CPACK_RPM_LIBRARY_PACKAGE_REQUIRES "glibc >= 2.17")
set(CPACK_RPM_REFHOST_PACKAGE_NAME ravelTint-refhost)
set(CPACK_RPM_REFHOST_PACKAGE_SUMMARY "${refhost_summary}")
set(CPACK_RPM_REFHOST_PACKAGE_DESCRIPTION "${refhost_description}")
set(CPACK_RPM_REFHOST_PACKAGE_REQUIRES "ravelTint = ${PROJECT_VERSION}")
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /opt)
# The binaries are stripped already, each with its .debug file: rpmbuild
# must not strip those again, nor add links of its own.
set(CPACK_RPM_SPEC_MORE_DEFINE
    "%define __os_install_post %{nil}\n%define _build_id_links none")
include(CPack)
