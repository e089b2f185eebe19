# Fuzzing with libFuzzer. The fuzz targets (tests/fuzz/*_fuzzer.cpp) are built
# only in the clang preset "fuzz"; every other build gets a CTest test (label
# "fuzz") that runs tests/fuzz/run_fuzzers.sh, which builds that preset and
# runs each target for a bounded time on its seed corpus.
if(VANE_FUZZ)
  file(GLOB FUZZ_TARGET_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/*_fuzzer.cpp)
  set(fuzz_targets)
  foreach(source IN LISTS FUZZ_TARGET_SOURCES)
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    list(APPEND fuzz_targets ${name})
  endforeach()
  # The location parsing is pure: its one file, without libudev.
  target_sources(location_fuzzer PRIVATE ${CMAKE_SOURCE_DIR}/platform/linux/target_location.cpp)
  target_include_directories(location_fuzzer PRIVATE ${CMAKE_SOURCE_DIR})
  foreach(name IN LISTS fuzz_targets)
    if(NOT name STREQUAL "location_fuzzer")
      target_link_libraries(${name} PRIVATE vane_headless vane_emulator vane_posix "$<LINK_GROUP:RESCAN,vane_core,vane_headless>")
    endif()
  endforeach()
  add_custom_target(fuzzers DEPENDS ${fuzz_targets})
else()
  add_test(NAME fuzz COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/run_fuzzers.sh ${CMAKE_SOURCE_DIR})
  set_tests_properties(fuzz PROPERTIES LABELS fuzz TIMEOUT 900)
endif()
