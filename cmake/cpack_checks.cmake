# Read by cpack before it packages: a Debian package must install under /usr, and the paths
# compiled into the program and written into the desktop entry come from the build's prefix.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "This build installs under ${CPACK_PACKAGING_INSTALL_PREFIX}; a Debian package needs a "
                      "build configured with -DCMAKE_INSTALL_PREFIX=/usr (scripts/package.sh makes one).")
endif()
