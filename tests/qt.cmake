# The Qt window (label "qt"): the dialog on the real widgets, offscreen.
if(NOT TARGET vane_qt)
  return()
endif()
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(vane_qt_tests qt/qt_window_test.cpp)
target_include_directories(vane_qt_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(vane_qt_tests PRIVATE vane_qt vane_upgrade_gui_parts vane_emulator vane_posix "$<LINK_GROUP:RESCAN,vane_core,vane_headless>"
                      Qt6::Test GTest::gtest)
gtest_discover_tests(vane_qt_tests PROPERTIES LABELS qt TIMEOUT 120 DISCOVERY_TIMEOUT 60
                     ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The program itself under Xvfb on the xcb platform, clicked with xdotool.
if(TARGET vane-upgrade-gui AND TARGET make_demo_images)
  add_test(NAME qt.xvfb_end_to_end
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/qt/xvfb_end_to_end.sh $<TARGET_FILE:vane-upgrade-gui>
                   $<TARGET_FILE:make_demo_images> ${CMAKE_BINARY_DIR}/qt-end-to-end)
  set_tests_properties(qt.xvfb_end_to_end PROPERTIES LABELS qt TIMEOUT 120 PASS_REGULAR_EXPRESSION "flash holds the image"
                       FAIL_REGULAR_EXPRESSION "FAIL:"
                       ENVIRONMENT "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/qt/leaks.supp")
endif()
