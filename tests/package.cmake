# The Debian package (label "package"): the release preset built in a folder
# of its own, cpack, lintian, and the unpacked program run from there.
if(NOT TARGET vane-upgrade)
  return()
endif()
add_test(NAME package.deb COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/package/package_test.sh
         ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/package-test)
set_tests_properties(package.deb PROPERTIES LABELS package TIMEOUT 1200 PASS_REGULAR_EXPRESSION "PASS:" FAIL_REGULAR_EXPRESSION "FAIL:")
