# The Debian package of the console program: cpack -G DEB in the build folder
# writes vane-upgrade_<version>_amd64.deb. Its files are the ones cmake --install
# puts under the prefix: the program, the udev rule, the manual page, the bash
# completion and the documents Debian asks for. Build it from a tree configured
# with CMAKE_INSTALL_PREFIX=/usr (the release preset): the program names its
# udev rule by the path it was configured with.
if(WIN32)
  # Windows builds make the release archive instead.
  include(${CMAKE_CURRENT_LIST_DIR}/windows_packaging.cmake)
  return()
endif()
include(GNUInstallDirs)

set(VANE_PACKAGE_NAME "vane-upgrade")
set(VANE_PACKAGE_MAINTAINER "Vane Upgrade developers <vane-upgrade@vane-transmitters.invalid>"
    CACHE STRING "Maintainer field of the Debian package")
set(vane_package_docdir "${CMAKE_INSTALL_DATADIR}/doc/${VANE_PACKAGE_NAME}")

# The manual page, turned from its scdoc source into roff and compressed as
# Debian wants it (gzip -9, no name or time stamp). Without scdoc the program
# still builds; only the page is missing.
find_program(VANE_SCDOC scdoc)
find_program(VANE_GZIP gzip)
if(VANE_SCDOC AND VANE_GZIP)
  set(vane_man_source "${CMAKE_CURRENT_SOURCE_DIR}/packaging/vane-upgrade.1.scd")
  set(vane_man_page "${CMAKE_CURRENT_BINARY_DIR}/packaging/vane-upgrade.1")
  add_custom_command(
    OUTPUT "${vane_man_page}.gz"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/packaging"
    COMMAND sh -c "\"$0\" < \"$1\" > \"$2\"" "${VANE_SCDOC}" "${vane_man_source}" "${vane_man_page}"
    COMMAND ${VANE_GZIP} -9nf "${vane_man_page}"
    DEPENDS "${vane_man_source}"
    COMMENT "Manual page vane-upgrade.1"
    VERBATIM)
  add_custom_target(vane_upgrade_man_page ALL DEPENDS "${vane_man_page}.gz")
  install(FILES "${vane_man_page}.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
else()
  message(STATUS "scdoc or gzip not found: the manual page is not built (apt-get install scdoc)")
endif()

install(FILES packaging/vane-upgrade.bash-completion
        DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions" RENAME vane-upgrade)

# The documents: README, the machine-readable copyright file and the changelog
# (a package whose version has no Debian revision is native: changelog.gz).
configure_file(packaging/changelog.in "${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog" @ONLY)
if(VANE_GZIP)
  add_custom_command(
    OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz"
    COMMAND ${VANE_GZIP} -9nkf "${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog"
    DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog"
    VERBATIM)
  add_custom_target(vane_upgrade_changelog ALL DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz")
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz" DESTINATION "${vane_package_docdir}")
endif()
install(FILES README.md packaging/copyright DESTINATION "${vane_package_docdir}")

if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "CMAKE_INSTALL_PREFIX is ${CMAKE_INSTALL_PREFIX}: configure with /usr (the release preset) for the Debian package")
endif()

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "${VANE_PACKAGE_NAME}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${VANE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware upgrade tool for Vane USB transmitters")
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VANE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# CPack puts the summary first: this is the extended description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "vane-upgrade upgrades the firmware of Vane transmitters, USB devices that
show up as mass-storage volumes: it finds the transmitter, loads its flash
loader, and erases, writes and verifies its SPI flash, following the device
at its USB port while it re-enumerates. It also reads the version, the
identity block and the flash, burns series numbers, and upgrades every
transmitter on a hub at once, with a record of every job.
.
The udev rule gives the transmitter's SCSI generic nodes to the plugdev
group and to the user at the seat, and keeps desktop automounters off its
volume.")

# With the desktop program, one cpack run makes two packages: vane-upgrade
# (the files above, no Qt) and vane-upgrade-gui (component "desktop"), which
# needs the console package of the same version for the udev rule.
if(TARGET vane-upgrade-gui)
  set(vane_gui_docdir "${CMAKE_INSTALL_DATADIR}/doc/vane-upgrade-gui")
  configure_file(packaging/changelog-gui.in "${CMAKE_CURRENT_BINARY_DIR}/packaging/gui/changelog" @ONLY)
  if(VANE_GZIP)
    add_custom_command(
      OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/packaging/gui/changelog.gz"
      COMMAND ${VANE_GZIP} -9nkf "${CMAKE_CURRENT_BINARY_DIR}/packaging/gui/changelog"
      DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/packaging/gui/changelog"
      VERBATIM)
    add_custom_target(vane_upgrade_gui_changelog ALL DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/packaging/gui/changelog.gz")
    install(FILES "${CMAKE_CURRENT_BINARY_DIR}/packaging/gui/changelog.gz" DESTINATION "${vane_gui_docdir}"
            COMPONENT desktop)
  endif()
  install(FILES packaging/copyright DESTINATION "${vane_gui_docdir}" COMPONENT desktop)

  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL Unspecified desktop)
  set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME "${VANE_PACKAGE_NAME}")
  # Each package's description starts with its own summary line; the common
  # summary is left to CPack's default, which CPack then does not prepend.
  set(CPACK_DEBIAN_UNSPECIFIED_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}\n${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
  unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
  set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME "vane-upgrade-gui")
  set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION "utils")
  set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "${VANE_PACKAGE_NAME} (= ${PROJECT_VERSION}), fonts-liberation2")
  set(CPACK_DEBIAN_DESKTOP_DESCRIPTION "firmware upgrade window for Vane USB transmitters
vane-upgrade-gui shows the upgrade window of Vane transmitters on the
desktop: it finds the transmitter when it is plugged in, shows its model and
firmware version, and erases, writes and verifies its flash, with the same
window, texts and questions as the Windows program.
.
It is started from the desktop's application menu; the transmitter is given
to the user at the seat by the udev rule of the vane-upgrade package.")
endif()
include(CPack)
