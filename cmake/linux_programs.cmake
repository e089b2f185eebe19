# Linux: the SG_IO and libudev backends, and the console program vane-upgrade
# with its udev rule. Included from the top level on every non-Windows build.
include(GNUInstallDirs)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBUDEV REQUIRED IMPORTED_TARGET libudev)
find_package(CLI11 CONFIG REQUIRED)
find_package(nlohmann_json 3 CONFIG REQUIRED)

# udev reads packaged rules from /usr/lib/udev/rules.d and local ones from
# /etc/udev/rules.d: a build installed under /usr gets the first, any other
# prefix (/usr/local by default) the second.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(vane_default_rules_dir "/usr/lib/udev/rules.d")
else()
  set(vane_default_rules_dir "/etc/udev/rules.d")
endif()
set(VANE_UDEV_RULES_DIR "${vane_default_rules_dir}" CACHE PATH "Where cmake --install puts the udev rule")
set(VANE_UDEV_RULE_FILE "60-vane-upgrade.rules")

pkg_check_modules(NETTLE REQUIRED IMPORTED_TARGET nettle)
# The file digest reads the same way everywhere; the SHA-256 is the system's.
vane_sources(LINUX_SOURCES platform/linux platform/portable/console)
add_library(vane_linux STATIC ${LINUX_SOURCES})
target_link_libraries(vane_linux PUBLIC vane_core PkgConfig::LIBUDEV PkgConfig::NETTLE)
target_compile_definitions(vane_linux PUBLIC VANE_UDEV_RULE_PATH="${VANE_UDEV_RULES_DIR}/${VANE_UDEV_RULE_FILE}")

# The records store of a production line: the portable records and their
# SQLite and PostgreSQL backends.
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(LIBPQ REQUIRED IMPORTED_TARGET libpq)
find_package(nlohmann_json 3 CONFIG REQUIRED)
vane_sources(RECORDS_SOURCES records platform/sqlite platform/postgres)
add_library(vane_records STATIC ${RECORDS_SOURCES})
target_include_directories(vane_records PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
# The series-number file and the CSV store lock their files through vane_posix.
target_link_libraries(vane_records PUBLIC vane_posix PkgConfig::SQLITE3 PkgConfig::LIBPQ)

# The console program in its layers, one library each (so that the tests
# reach them): cli (the parsed request), output (events and their
# renderings), station (the supervisor of several targets) and the program
# root (the run, the dialog session, records, emulation) with its machine
# link.
include(${CMAKE_SOURCE_DIR}/programs/vane_upgrade/web/web.cmake)

vane_sources(CLI_SOURCES programs/vane_upgrade/cli)
add_library(vane_upgrade_cli STATIC ${CLI_SOURCES})
target_link_libraries(vane_upgrade_cli PUBLIC vane_http vane_core vane_records CLI11::CLI11 nlohmann_json::nlohmann_json)
vane_program_version_header(vane_upgrade_cli)

vane_sources(OUTPUT_SOURCES programs/vane_upgrade/output)
add_library(vane_upgrade_output STATIC ${OUTPUT_SOURCES})
target_link_libraries(vane_upgrade_output PUBLIC vane_upgrade_cli vane_core)

vane_sources(STATION_SOURCES programs/vane_upgrade/station)
add_library(vane_upgrade_station STATIC ${STATION_SOURCES})
target_link_libraries(vane_upgrade_station PUBLIC vane_upgrade_output vane_upgrade_cli vane_web vane_linux vane_core)

vane_sources(FRONT_END_SOURCES programs/vane_upgrade programs/vane_upgrade/machine/linux)
add_library(vane_upgrade_front_end STATIC ${FRONT_END_SOURCES})
target_link_libraries(vane_upgrade_front_end PUBLIC vane_upgrade_station vane_upgrade_output vane_upgrade_cli
                      vane_linux vane_headless vane_emulator vane_posix vane_core vane_records vane_web
                      CLI11::CLI11 nlohmann_json::nlohmann_json)
# The options name the machine's device and store forms, which the machine link defines.
target_link_libraries(vane_upgrade_cli PUBLIC vane_upgrade_front_end)

add_executable(vane-upgrade programs/vane_upgrade_main.cpp)
# vane_core calls back into the headless backend (its system colours): the two
# archives are searched as a group.
target_link_libraries(vane-upgrade PRIVATE vane_upgrade_front_end "$<LINK_GROUP:RESCAN,vane_core,vane_headless>")

install(TARGETS vane-upgrade RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES packaging/${VANE_UDEV_RULE_FILE} DESTINATION ${VANE_UDEV_RULES_DIR})

# The desktop program on Qt.
include(${CMAKE_CURRENT_LIST_DIR}/qt_programs.cmake)
