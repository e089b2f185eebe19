# The emulated target as a USB gadget (FunctionFS): its pure pieces as a
# library (the tests reach them) and the program vane-gadget, which runs
# inside the kernel test machine. Linux only.
if(TARGET vane-gadget OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

file(GLOB VANE_GADGET_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/gadget/*.cpp)
list(FILTER VANE_GADGET_SOURCES EXCLUDE REGEX "/vane_gadget_main\\.cpp$")
add_library(vane_gadget_core STATIC ${VANE_GADGET_SOURCES})
target_include_directories(vane_gadget_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vane_gadget_core PUBLIC vane_emulator vane_core Threads::Threads)

add_executable(vane-gadget ${PROJECT_SOURCE_DIR}/gadget/vane_gadget_main.cpp)
target_link_libraries(vane-gadget PRIVATE vane_gadget_core)
