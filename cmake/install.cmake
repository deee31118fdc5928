# Install rules and the Debian package.
#
# `cmake --install BUILD --prefix PREFIX` puts the saver where screen-saver hosts look for it: the
# program for hosts in <libexecdir>/xscreensaver/kalvor (KLV_HOST_PROGRAM_DIR changes the folder),
# the stand-alone command <bindir>/kalvor-saver, the generated data set in <datadir>/kalvor/, the
# XScreenSaver settings file, the MATE/Xfce desktop entry and the man page. Paths written into the
# desktop entry and the man page come from the prefix given at configure time, as the data folder
# compiled into the program does; build the package from a build configured with
# -DCMAKE_INSTALL_PREFIX=/usr, which also turns on the Debian layout (scripts/package.sh does it
# all and runs lintian on the result).
include(GNUInstallDirs)

set(KLV_VERSION 0.1.0)
set(KLV_PACKAGE_NAME xscreensaver-screensaver-kalvor)
set(KLV_HOST_PROGRAM_DIR ${CMAKE_INSTALL_LIBEXECDIR}/xscreensaver CACHE STRING
    "Folder of the program screen-saver hosts start (relative to the prefix, or absolute)")
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(debian_layout_default ON)
else()
  set(debian_layout_default OFF)
endif()
option(KLV_DEBIAN_LAYOUT "Install the Debian package's layout: compressed man pages, copyright and changelog"
       ${debian_layout_default})
set(KLV_PACKAGE_CONTACT "Kalvor saver developers <kalvor@example.org>" CACHE STRING "Package maintainer")

# Installed directories are 0755 whatever the umask, as packages require.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(IS_ABSOLUTE "${KLV_HOST_PROGRAM_DIR}")
  set(KLV_HOST_PROGRAM_FULL_DIR ${KLV_HOST_PROGRAM_DIR})
else()
  set(KLV_HOST_PROGRAM_FULL_DIR ${CMAKE_INSTALL_PREFIX}/${KLV_HOST_PROGRAM_DIR})
endif()
set(KLV_HOST_PROGRAM ${KLV_HOST_PROGRAM_FULL_DIR}/kalvor)
set(KLV_STANDALONE_PROGRAM ${CMAKE_INSTALL_FULL_BINDIR}/kalvor-saver)
set(KLV_INSTALLED_DATA_DIR ${CMAKE_INSTALL_FULL_DATADIR}/kalvor)
set(KLV_XSCREENSAVER_CONFIG ${CMAKE_INSTALL_FULL_DATADIR}/xscreensaver/config/kalvor.xml)
set(KLV_DESKTOP_ENTRY ${CMAKE_INSTALL_FULL_DATADIR}/applications/screensavers/kalvor.desktop)

# The installed program is the saver under the name hosts list it by; the build's kalvor_saver
# stays what the tests and scripts run.
add_executable(kalvor src/main.cpp)
target_link_libraries(kalvor PRIVATE klv_shell)
set_target_properties(kalvor PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/dist)
# A read-only global offset table once loaded, as distributions link their programs.
target_link_options(kalvor PRIVATE -Wl,-z,relro,-z,now)
add_dependencies(kalvor klv_data)
install(TARGETS kalvor RUNTIME DESTINATION ${KLV_HOST_PROGRAM_DIR})

# The stand-alone command is a relative link to the same program, so one copy is installed.
set(dist_out ${CMAKE_BINARY_DIR}/dist)
file(RELATIVE_PATH standalone_target ${CMAKE_INSTALL_FULL_BINDIR} ${KLV_HOST_PROGRAM})
file(MAKE_DIRECTORY ${dist_out}/bin)
file(CREATE_LINK ${standalone_target} ${dist_out}/bin/kalvor-saver SYMBOLIC)
install(FILES ${dist_out}/bin/kalvor-saver DESTINATION ${CMAKE_INSTALL_BINDIR})

# The build tree's settings launcher points into the build; the settings program installs its own.
install(DIRECTORY ${CMAKE_BINARY_DIR}/data/ DESTINATION ${CMAKE_INSTALL_DATADIR}/kalvor PATTERN "settei.exe" EXCLUDE)

configure_file(${CMAKE_SOURCE_DIR}/dist/kalvor.xml ${dist_out}/kalvor.xml COPYONLY)
install(FILES ${dist_out}/kalvor.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/xscreensaver/config)
configure_file(${CMAKE_SOURCE_DIR}/dist/kalvor.desktop.in ${dist_out}/kalvor.desktop @ONLY)
install(FILES ${dist_out}/kalvor.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications/screensavers)
configure_file(${CMAKE_SOURCE_DIR}/dist/kalvor.6.in ${dist_out}/kalvor.6 @ONLY)

set(man_dir ${CMAKE_INSTALL_MANDIR}/man6)
if(KLV_DEBIAN_LAYOUT)
  # Debian wants man pages and the changelog compressed with gzip -9n (no name or time stamp, so
  # the package is reproducible), and its copyright file in the package's own doc folder.
  find_program(KLV_GZIP gzip REQUIRED)
  configure_file(${CMAKE_SOURCE_DIR}/dist/changelog.in ${dist_out}/changelog @ONLY)
  add_custom_command(OUTPUT ${dist_out}/kalvor.6.gz ${dist_out}/changelog.gz
                     COMMAND ${KLV_GZIP} -9nkf ${dist_out}/kalvor.6 ${dist_out}/changelog
                     DEPENDS ${dist_out}/kalvor.6 ${dist_out}/changelog
                     COMMENT "Compressing the man page and the changelog")
  add_custom_target(klv_dist_compressed ALL DEPENDS ${dist_out}/kalvor.6.gz ${dist_out}/changelog.gz)
  file(CREATE_LINK kalvor.6.gz ${dist_out}/kalvor-saver.6.gz SYMBOLIC)
  install(FILES ${dist_out}/kalvor.6.gz ${dist_out}/kalvor-saver.6.gz DESTINATION ${man_dir})
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${KLV_PACKAGE_NAME})
  install(FILES ${CMAKE_SOURCE_DIR}/dist/copyright ${dist_out}/changelog.gz DESTINATION ${doc_dir})
else()
  file(CREATE_LINK kalvor.6 ${dist_out}/kalvor-saver.6 SYMBOLIC)
  install(FILES ${dist_out}/kalvor.6 ${dist_out}/kalvor-saver.6 DESTINATION ${man_dir})
endif()

# cpack -G DEB: the package's run-time dependencies come from dpkg-shlibdeps on the program.
set(CPACK_PACKAGE_NAME ${KLV_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${KLV_VERSION})
set(CPACK_PACKAGE_CONTACT ${KLV_PACKAGE_CONTACT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "3D flight over a landscape past a pufferfish, screen saver")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/cpack_checks.cmake)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xscreensaver | mate-screensaver | xfce4-screensaver | swayidle")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A camera flies over an endless height-map landscape past an animated\n\
pufferfish, a plane, a tree, a building and a chrome object under a sky\n\
dome, drawn by its own small 3D engine and software rasteriser.\n\
\n\
XScreenSaver, MATE and Xfce list it as Kalvor; kalvor-saver runs it\n\
full screen on its own, for example from swayidle.")
include(CPack)
