# Read by cpack for each generator: the system packages install under
# /opt/ravelTint; the archives hold the installation's own layout.
if(CPACK_GENERATOR MATCHES "DEB|RPM")
  set(CPACK_PACKAGING_INSTALL_PREFIX ${CPACK_RAVELTINT_SYSTEM_PREFIX})
endif()
