# The records store against real databases: an SQLite file (label linux) and a
# private PostgreSQL server started for the test (label postgres).
if(NOT TARGET vane_upgrade_front_end)
  return()
endif()

add_executable(vane_records_tests ${CMAKE_CURRENT_SOURCE_DIR}/records/record_store_test.cpp)
target_link_libraries(vane_records_tests PRIVATE vane_upgrade_front_end "$<LINK_GROUP:RESCAN,vane_core,vane_headless>"
                      GTest::gtest GTest::gtest_main)
add_test(NAME records.store_sqlite COMMAND vane_records_tests)
set_tests_properties(records.store_sqlite PROPERTIES LABELS linux TIMEOUT 120)

set(vane_with_postgres ${CMAKE_CURRENT_SOURCE_DIR}/records/with_postgres.sh)
add_test(NAME postgres.records_store COMMAND ${vane_with_postgres} $<TARGET_FILE:vane_records_tests>)
set_tests_properties(postgres.records_store PROPERTIES LABELS postgres TIMEOUT 180)
add_test(NAME postgres.vane_upgrade_records
         COMMAND ${vane_with_postgres} ${CMAKE_CURRENT_SOURCE_DIR}/linux/vane_upgrade_cli_test.sh records_postgres)
set_tests_properties(postgres.vane_upgrade_records PROPERTIES LABELS postgres TIMEOUT 300 PASS_REGULAR_EXPRESSION "PASS"
                     ENVIRONMENT "VANE_UPGRADE=$<TARGET_FILE:vane-upgrade>;MAKE_DEMO_IMAGES=$<TARGET_FILE:make_demo_images>;ASAN_OPTIONS=verify_asan_link_order=0")
