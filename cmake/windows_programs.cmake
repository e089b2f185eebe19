# The Win32 backends and the two Windows programs, RODEdiz.exe (the real
# device link) and RODEdiz-emulated.exe (the emulated target in its place),
# built from the same sources. Included by the top CMakeLists for WIN32.
enable_language(RC)

# The portable libraries see <windows.h> only through the request block's
# pass-through structure. Keep the user-interface and GDI sections of the system
# headers out of them: their macros (WM_PAINT, MB_OK, IDOK, MessageBox, ...)
# would collide with the window layer's own names.
set(VANE_PORTABLE_ON_WINDOWS NOUSER NOGDI NOMINMAX WIN32_LEAN_AND_MEAN)
foreach(lib vane_core vane_emulator vane_headless)
  target_compile_definitions(${lib} PRIVATE ${VANE_PORTABLE_ON_WINDOWS})
endforeach()

vane_sources(WIN32_SOURCES platform/win32)
# The console program's services (its runs, interrupts, console, digests,
# files, ports and notices, platform/win32/console) form a library of their
# own: the window programs never link them, nor the system libraries they import.
vane_sources(VANE_WIN32_CONSOLE_SERVICES platform/win32/console platform/portable/console)
# Object files, so that the portable libraries can reach the backends they
# call (system colours, the file system) whatever the link order.
add_library(vane_win32 OBJECT ${WIN32_SOURCES})
# Import libraries of the system's Known DLLs only: Windows takes those from
# its own folder whatever lies beside the program. The configuration manager's
# functions come through setupapi; comctl32 and bcrypt are loaded at run time
# (platform/win32/system_libraries_win32.h).
target_link_libraries(vane_win32 PUBLIC vane_core
  setupapi comdlg32 gdi32 user32 shell32 advapi32)
# Common controls of the classic look: the manifest selects no version 6, whose
# visual styles would ignore the progress colours and the owner-drawn look.
target_compile_definitions(vane_win32 PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)

# Resources: the .rc file builds template 102 from the control table itself.
# Pictures the resource script names are searched in resources/.
set(VANE_RC ${CMAKE_SOURCE_DIR}/resources/rodediz.rc)
set_source_files_properties(${VANE_RC} PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/resources/dialog_controls.def;${CMAKE_SOURCE_DIR}/resources/resource.h")

# Every Windows program of the project carries the application manifest:
# administrator rights (raw volume access, HKEY_LOCAL_MACHINE) and the
# classic common controls. A new program gets it by adding VANE_MANIFEST_RC.
set(VANE_MANIFEST_RC ${CMAKE_SOURCE_DIR}/resources/windows_program_manifest.rc)
set_source_files_properties(${VANE_MANIFEST_RC} PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/resources/windows_program.manifest")

# One program per device link; only the compile definition differs.
function(vane_windows_program name link)
  add_executable(${name} WIN32 ${CMAKE_SOURCE_DIR}/programs/rodediz_win32_main.cpp ${VANE_RC} ${VANE_MANIFEST_RC})
  target_compile_definitions(${name} PRIVATE VANE_LINK_${link} ${VANE_PORTABLE_ON_WINDOWS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/resources)
  target_link_libraries(${name} PRIVATE vane_win32 ${ARGN} vane_core)
  target_link_options(${name} PRIVATE -static)
endfunction()
vane_windows_program(RODEdiz REAL)
vane_windows_program(RODEdiz-emulated EMULATED vane_emulator)

# Small console programs of the Wine tests (no manifest: the test driver
# starts them, and the programs under test, without asking for elevation).
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine/ping_nothing.cpp)
  add_executable(ping_nothing ${CMAKE_SOURCE_DIR}/tests/wine/ping_nothing.cpp)
  target_link_libraries(ping_nothing PRIVATE vane_win32 vane_core)
  target_link_options(ping_nothing PRIVATE -static)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine/windows_checks.cpp)
  add_executable(windows_checks ${CMAKE_SOURCE_DIR}/tests/wine/windows_checks.cpp)
  target_link_libraries(windows_checks PRIVATE vane_win32 vane_core)
  target_link_options(windows_checks PRIVATE -static)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine/gui_driver.cpp)
  add_executable(gui_driver ${CMAKE_SOURCE_DIR}/tests/wine/gui_driver.cpp)
  target_compile_definitions(gui_driver PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN)
  target_link_libraries(gui_driver PRIVATE user32)
  target_link_options(gui_driver PRIVATE -static)
endif()

# The Data folder beside the programs holds the demo images. A cross build
# cannot run its own programs, so make_demo_images is built a second time with
# the build machine's compiler (cmake/host_tools, into host-tools/) and run here.
include(ExternalProject)
set(VANE_HOST_TOOLS ${CMAKE_BINARY_DIR}/host-tools)
ExternalProject_Add(vane_host_tools
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/cmake/host_tools
  BINARY_DIR ${VANE_HOST_TOOLS}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON)
add_custom_target(demo_data ALL
  COMMAND ${VANE_HOST_TOOLS}/make_demo_images ${CMAKE_BINARY_DIR}/Data
  DEPENDS vane_host_tools
  COMMENT "Writing the demo images into ${CMAKE_BINARY_DIR}/Data"
  VERBATIM)

# The console program vane-upgrade.exe: the front end's portable pieces with
# its Windows files (*_win32.cpp), on the window's backends, with the manifest.
# Its two header-only libraries come from the build machine's /usr/include;
# only their folders are put on the include path, beside MinGW's own headers.
find_path(VANE_CLI11_HEADERS CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
find_path(VANE_JSON_HEADERS nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
if(NOT VANE_CLI11_HEADERS OR NOT VANE_JSON_HEADERS)
  message(FATAL_ERROR "vane-upgrade.exe needs the headers of libcli11-dev and nlohmann-json3-dev")
endif()
set(vane_host_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${vane_host_headers})
foreach(link CLI:${VANE_CLI11_HEADERS} nlohmann:${VANE_JSON_HEADERS})
  string(REPLACE ":" ";" link_fields ${link})
  list(GET link_fields 0 name)
  list(GET link_fields 1 root)
  if(NOT EXISTS ${vane_host_headers}/${name})
    file(CREATE_LINK ${root}/${name} ${vane_host_headers}/${name} SYMBOLIC)
  endif()
endforeach()

vane_sources(WIN_RECORDS_SOURCES records)
add_library(vane_records STATIC ${WIN_RECORDS_SOURCES})
target_include_directories(vane_records PUBLIC ${CMAKE_SOURCE_DIR})
# gmtime_r and the other POSIX reentrant calls of the MinGW runtime.
target_compile_definitions(vane_records PUBLIC _POSIX_THREAD_SAFE_FUNCTIONS)
# The series-number file and the CSV store lock their files through the console services.
target_link_libraries(vane_records PUBLIC vane_win32_console)

include(${CMAKE_SOURCE_DIR}/programs/vane_upgrade/web/web.cmake)

add_library(vane_win32_console STATIC ${VANE_WIN32_CONSOLE_SERVICES})
target_compile_definitions(vane_win32_console PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
target_link_libraries(vane_win32_console PUBLIC vane_win32 vane_core)

# The console program in its layers, one library each, as on Linux. The
# portable headers keep the window layer's names out.
function(vane_console_layer name)
  vane_sources(sources ${ARGN})
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} SYSTEM PUBLIC ${vane_host_headers})
  target_compile_definitions(${name} PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601 NOUSER NOGDI)
endfunction()
vane_console_layer(vane_upgrade_cli programs/vane_upgrade/cli)
target_link_libraries(vane_upgrade_cli PUBLIC vane_http vane_core vane_records)
vane_program_version_header(vane_upgrade_cli)
vane_console_layer(vane_upgrade_output programs/vane_upgrade/output)
target_link_libraries(vane_upgrade_output PUBLIC vane_upgrade_cli vane_core)
vane_console_layer(vane_upgrade_station programs/vane_upgrade/station)
target_link_libraries(vane_upgrade_station PUBLIC vane_upgrade_output vane_upgrade_cli vane_web vane_win32_console vane_core)
vane_console_layer(vane_upgrade_front_end programs/vane_upgrade programs/vane_upgrade/machine/windows)
target_link_libraries(vane_upgrade_front_end PUBLIC vane_upgrade_station vane_upgrade_output vane_upgrade_cli
                      vane_win32_console vane_win32 vane_headless vane_emulator vane_core vane_records vane_web)
# The options name the machine's device and store forms, which the machine link defines.
target_link_libraries(vane_upgrade_cli PUBLIC vane_upgrade_front_end)

add_executable(vane-upgrade ${CMAKE_SOURCE_DIR}/programs/vane_upgrade_main.cpp ${VANE_MANIFEST_RC})
target_link_libraries(vane-upgrade PRIVATE vane_upgrade_front_end vane_win32 "$<LINK_GROUP:RESCAN,vane_core,vane_headless>")
target_link_options(vane-upgrade PRIVATE -static)
