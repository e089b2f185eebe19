# The fault matrix over whole jobs, the shut-down cases and the regression
# cases of the defects it found: a program of its own, labelled "faults".
file(GLOB FAULT_MATRIX_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fault_matrix/*.cpp)
add_executable(vane_fault_matrix ${FAULT_MATRIX_SOURCES})
target_include_directories(vane_fault_matrix PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(vane_fault_matrix PRIVATE vane_headless vane_emulator vane_posix
                      "$<LINK_GROUP:RESCAN,vane_core,vane_headless>" GTest::gtest GTest::gtest_main)
gtest_discover_tests(vane_fault_matrix TEST_PREFIX "faults." PROPERTIES LABELS faults TIMEOUT 600 DISCOVERY_TIMEOUT 60)
