# The include rules between the layers, checked on the sources.
add_test(NAME layering.includes COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/layering/check_includes.sh ${CMAKE_SOURCE_DIR})
set_tests_properties(layering.includes PROPERTIES LABELS unit PASS_REGULAR_EXPRESSION "PASS:")
