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
