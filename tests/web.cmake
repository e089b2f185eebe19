# The pages in a real browser (label "web"): headless Chromium driven through
# its driver by tests/web/browser_test.py; skipped (77) without Chromium.
if(NOT TARGET vane-upgrade)
  return()
endif()
set(vane_browser_test ${CMAKE_CURRENT_SOURCE_DIR}/web/browser_test.py)
set(vane_browser_env "VANE_UPGRADE=$<TARGET_FILE:vane-upgrade>;MAKE_DEMO_IMAGES=$<TARGET_FILE:make_demo_images>;SHOTS=${CMAKE_BINARY_DIR}/web-shots")
foreach(case IN ITEMS station line_sqlite token)
  add_test(NAME web.${case} COMMAND /usr/bin/python3 ${vane_browser_test} ${case})
  set_tests_properties(web.${case} PROPERTIES LABELS web TIMEOUT 300 SKIP_RETURN_CODE 77 ENVIRONMENT "${vane_browser_env}")
endforeach()
add_test(NAME web.line_postgres COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/records/with_postgres.sh /usr/bin/python3 ${vane_browser_test} line_postgres)
set_tests_properties(web.line_postgres PROPERTIES LABELS "web;postgres" TIMEOUT 300 SKIP_RETURN_CODE 77 ENVIRONMENT "${vane_browser_env}")
