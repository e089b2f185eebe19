# The pages in the browser (station and line): their models and the pages
# themselves, built into the program, served by the HTTP layer below.
include(${CMAKE_SOURCE_DIR}/programs/vane_upgrade/http/http.cmake)
set(vane_web_dir ${CMAKE_SOURCE_DIR}/programs/vane_upgrade/web)
set(vane_web_assets ${CMAKE_BINARY_DIR}/generated/programs/vane_upgrade/web/web_assets.cpp)
file(GLOB vane_web_pages CONFIGURE_DEPENDS ${vane_web_dir}/assets/*.html)
add_custom_command(OUTPUT ${vane_web_assets}
  COMMAND ${CMAKE_COMMAND} -DASSETS=${vane_web_dir}/assets -DOUTPUT=${vane_web_assets} -P ${vane_web_dir}/embed_assets.cmake
  DEPENDS ${vane_web_pages} ${vane_web_dir}/embed_assets.cmake
  COMMENT "Pages into the program" VERBATIM)
file(GLOB vane_web_sources CONFIGURE_DEPENDS ${vane_web_dir}/*.cpp)
add_library(vane_web STATIC ${vane_web_sources} ${vane_web_assets})
target_include_directories(vane_web PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(vane_web PUBLIC vane_http vane_upgrade_output vane_upgrade_cli vane_records vane_core)
if(WIN32)
  target_include_directories(vane_web SYSTEM PRIVATE ${vane_host_headers})
  target_compile_definitions(vane_web PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
else()
  target_link_libraries(vane_web PUBLIC nlohmann_json::nlohmann_json)
endif()
