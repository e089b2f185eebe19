# The stress test: real threads firing user actions and bus events at random
# while jobs run. In the ThreadSanitizer build (preset tsan) it runs as it is;
# every other build runs it through run_tsan_stress.sh, which builds the tsan
# preset and runs it there (label "tsan"), and also runs it in the build itself
# under its own sanitizers (label "stress").
file(GLOB STRESS_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/stress/*.cpp)
add_executable(vane_stress_tests ${STRESS_TEST_SOURCES})
target_include_directories(vane_stress_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(vane_stress_tests PRIVATE vane_headless vane_emulator vane_posix
                      "$<LINK_GROUP:RESCAN,vane_core,vane_headless>" GTest::gtest GTest::gtest_main)
if(VANE_TSAN)
  add_test(NAME tsan.stress COMMAND vane_stress_tests)
  set_tests_properties(tsan.stress PROPERTIES LABELS tsan TIMEOUT 300
                       ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1")
else()
  add_test(NAME stress COMMAND vane_stress_tests)
  set_tests_properties(stress PROPERTIES LABELS stress TIMEOUT 300)
  add_test(NAME tsan.stress COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/stress/run_tsan_stress.sh ${CMAKE_SOURCE_DIR})
  set_tests_properties(tsan.stress PROPERTIES LABELS tsan TIMEOUT 900 RUN_SERIAL TRUE)
endif()
