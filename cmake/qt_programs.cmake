# The desktop program vane-upgrade-gui: the dialog on the Qt 6 window backend.
# Included from the Linux build; without Qt 6 Widgets the program is left out.
find_package(Qt6 QUIET COMPONENTS Widgets)
if(NOT Qt6_FOUND)
  message(STATUS "Qt 6 Widgets not found: vane-upgrade-gui is not built (apt-get install qt6-base-dev)")
  return()
endif()

vane_sources(QT_SOURCES platform/qt)
add_library(vane_qt STATIC ${QT_SOURCES} platform/qt/qt_pictures.qrc)
set_target_properties(vane_qt PROPERTIES AUTOMOC ON AUTORCC ON)
target_link_libraries(vane_qt PUBLIC vane_headless vane_core Qt6::Widgets)

vane_sources(GUI_PROGRAM_SOURCES programs/vane_upgrade_gui)
add_library(vane_upgrade_gui_parts STATIC ${GUI_PROGRAM_SOURCES})
target_link_libraries(vane_upgrade_gui_parts PUBLIC vane_upgrade_front_end)

add_executable(vane-upgrade-gui programs/vane_upgrade_gui_main.cpp)
target_link_libraries(vane-upgrade-gui PRIVATE vane_upgrade_gui_parts vane_qt vane_upgrade_front_end
                      "$<LINK_GROUP:RESCAN,vane_core,vane_headless>")

# The desktop package's files (component "desktop"): the program, its desktop
# entry, the icon in the theme's sizes, the AppStream metadata, the manual
# page (the documents Debian asks for are added with the package, in
# packaging.cmake).
include(GNUInstallDirs)
install(TARGETS vane-upgrade-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT desktop)
install(FILES packaging/vane-upgrade-gui.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT desktop)
foreach(size 16 24 32 48 64 128 256)
  install(FILES resources/icons/vane-upgrade-gui-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME vane-upgrade-gui.png COMPONENT desktop)
endforeach()
set(vane_metainfo invalid.vane_transmitters.vane_upgrade_gui.metainfo.xml)
configure_file(packaging/${vane_metainfo} ${CMAKE_CURRENT_BINARY_DIR}/packaging/${vane_metainfo} @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/${vane_metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        COMPONENT desktop)

find_program(VANE_GUI_SCDOC scdoc)
find_program(VANE_GUI_GZIP gzip)
if(VANE_GUI_SCDOC AND VANE_GUI_GZIP)
  set(vane_gui_man "${CMAKE_CURRENT_BINARY_DIR}/packaging/vane-upgrade-gui.1")
  add_custom_command(
    OUTPUT "${vane_gui_man}.gz"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/packaging"
    COMMAND sh -c "\"$0\" < \"$1\" > \"$2\"" "${VANE_GUI_SCDOC}" "${CMAKE_CURRENT_SOURCE_DIR}/packaging/vane-upgrade-gui.1.scd"
            "${vane_gui_man}"
    COMMAND ${VANE_GUI_GZIP} -9nf "${vane_gui_man}"
    DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/packaging/vane-upgrade-gui.1.scd"
    COMMENT "Manual page vane-upgrade-gui.1"
    VERBATIM)
  add_custom_target(vane_upgrade_gui_man_page ALL DEPENDS "${vane_gui_man}.gz")
  install(FILES "${vane_gui_man}.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT desktop)

endif()
