# The target as a USB gadget in a virtual machine: the gadget's pure pieces are
# unit tests; the rig boots Debian's kernel under qemu with the gadget on
# dummy_hcd and runs vane-upgrade against the real USB, SCSI and udev stack
# (label "kernel"; it downloads Debian packages on its first run).
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()
include(${PROJECT_SOURCE_DIR}/cmake/gadget.cmake)

file(GLOB GADGET_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/kernel/*_test.cpp)
add_executable(vane_gadget_tests ${GADGET_TEST_SOURCES})
target_link_libraries(vane_gadget_tests PRIVATE vane_gadget_core GTest::gtest GTest::gtest_main)
gtest_discover_tests(vane_gadget_tests TEST_PREFIX gadget. PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60)

if(NOT TARGET vane-upgrade OR NOT TARGET make_demo_images)
  message(STATUS "kernel rig: vane-upgrade is not built here, the rig test is left out")
  return()
endif()
add_test(NAME kernel.rig COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/kernel/run_rig.sh)
set_tests_properties(kernel.rig PROPERTIES
  LABELS kernel
  TIMEOUT 900
  RUN_SERIAL TRUE
  ENVIRONMENT "VANE_UPGRADE=$<TARGET_FILE:vane-upgrade>;VANE_GADGET=$<TARGET_FILE:vane-gadget>;MAKE_DEMO_IMAGES=$<TARGET_FILE:make_demo_images>;RIG_WORK=${CMAKE_BINARY_DIR}/kernel-rig")
