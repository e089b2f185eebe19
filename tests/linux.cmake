# The Linux front end's tests: its pure pieces join the unit tests; udev under
# umockdev and the vane-upgrade command end to end (with --emulate) are
# programs and scripts of their own, labelled "linux".
if(NOT TARGET vane_upgrade_front_end)
  return()
endif()

target_link_libraries(vane_unit_tests PRIVATE vane_upgrade_front_end "$<LINK_GROUP:RESCAN,vane_core,vane_headless>")

# udev under umockdev: its preload library and AddressSanitizer both want to
# be first; the wrapper's order is the one that works.
pkg_check_modules(UMOCKDEV IMPORTED_TARGET umockdev-1.0)
find_program(UMOCKDEV_WRAPPER umockdev-wrapper)
set(vane_linux_test_env "ASAN_OPTIONS=verify_asan_link_order=0")
if(UMOCKDEV_FOUND AND UMOCKDEV_WRAPPER)
  file(GLOB LINUX_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/linux/*.cpp)
  add_executable(vane_linux_tests ${LINUX_TEST_SOURCES})
  target_link_libraries(vane_linux_tests PRIVATE vane_upgrade_front_end "$<LINK_GROUP:RESCAN,vane_core,vane_headless>"
                        PkgConfig::UMOCKDEV GTest::gtest GTest::gtest_main)
  add_test(NAME linux.udev_location COMMAND ${UMOCKDEV_WRAPPER} $<TARGET_FILE:vane_linux_tests>)
  set_tests_properties(linux.udev_location PROPERTIES LABELS linux ENVIRONMENT "${vane_linux_test_env}" TIMEOUT 120)
else()
  message(WARNING "umockdev not found: the udev location tests are not built")
endif()

# vane-upgrade end to end: each case runs the program (real clock) in a folder of its own.
foreach(case IN ITEMS upgrade_version_dump declined_old_version wrong_usage sram_in_flash_mode unplugged_during_job
                      serial_file data_image output_modes list_emulated no_target records
                      fleet_all fleet_watch fleet_no_target)
  add_test(NAME linux.vane_upgrade.${case} COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/linux/vane_upgrade_cli_test.sh ${case})
  set_tests_properties(linux.vane_upgrade.${case} PROPERTIES LABELS linux TIMEOUT 300 PASS_REGULAR_EXPRESSION "PASS"
                       SKIP_REGULAR_EXPRESSION "SKIP"
                       ENVIRONMENT "VANE_UPGRADE=$<TARGET_FILE:vane-upgrade>;MAKE_DEMO_IMAGES=$<TARGET_FILE:make_demo_images>;${vane_linux_test_env}")
endforeach()
