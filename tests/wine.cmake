# The Windows programs under Wine (label "wine"). The script builds the
# win64 preset, and win32 when Wine runs 32-bit programs, in their own build
# folders, then drives the dialogs on a virtual display. It reports 77 when
# Wine or Xvfb is missing, which CTest shows as skipped.
add_test(NAME wine_gui COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/wine/run_wine_tests.sh)
set_tests_properties(wine_gui PROPERTIES LABELS wine SKIP_RETURN_CODE 77 TIMEOUT 1800 RUN_SERIAL ON)
# vane-upgrade.exe as a test station runs it: exit codes, output, the flash
# file, the shared serial file and the CSV records (no display needed).
add_test(NAME wine_console COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/wine/run_console_tests.sh)
set_tests_properties(wine_console PROPERTIES LABELS wine SKIP_RETURN_CODE 77 TIMEOUT 1800 RUN_SERIAL ON)
