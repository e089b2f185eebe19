# The release archive of the Windows programs: cpack in a win64 (or win32)
# build folder writes vane-upgrade-<version>-win64.zip (-win32.zip): the two
# window programs, the console program, the first steps, and a Data folder
# that holds only its note (the image and the flash loader are the device
# maker's files; the demo images of the build folder stay out).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(vane_windows_arch win64)
else()
  set(vane_windows_arch win32)
endif()

# Notepad-friendly line ends for the texts.
foreach(text FIRST-STEPS.txt Data-README.txt)
  file(READ ${CMAKE_SOURCE_DIR}/packaging/windows/${text} content)
  string(REPLACE "\n" "\r\n" content "${content}")
  file(WRITE ${CMAKE_BINARY_DIR}/packaging/windows/${text} "${content}")
endforeach()

install(TARGETS RODEdiz RODEdiz-emulated vane-upgrade RUNTIME DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/packaging/windows/FIRST-STEPS.txt DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/packaging/windows/Data-README.txt DESTINATION Data RENAME README.txt)

set(CPACK_GENERATOR "ZIP")
set(CPACK_PACKAGE_NAME "vane-upgrade")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_FILE_NAME "vane-upgrade-${PROJECT_VERSION}-${vane_windows_arch}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
