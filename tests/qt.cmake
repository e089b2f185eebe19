# The Qt window (label "qt"): the dialog on the real widgets, offscreen.
if(NOT TARGET vane_qt)
  return()
endif()
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(vane_qt_tests qt/qt_window_test.cpp)
target_include_directories(vane_qt_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(vane_qt_tests PRIVATE vane_qt vane_emulator vane_posix "$<LINK_GROUP:RESCAN,vane_core,vane_headless>"
                      Qt6::Test GTest::gtest)
gtest_discover_tests(vane_qt_tests PROPERTIES LABELS qt DISCOVERY_TIMEOUT 60
                     ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
