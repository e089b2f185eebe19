# The pages in the browser (station and line): an HTTP server on Boost.Beast
# over Asio (header-only, from the build machine's libboost-dev), the pages'
# models and the pages themselves, built into the program.
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
if(WIN32)
  # Only a link to Boost's folder joins the include path, never /usr/include itself.
  find_path(VANE_BOOST_HEADERS boost/beast.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
  if(NOT VANE_BOOST_HEADERS)
    message(FATAL_ERROR "the pages need the headers of libboost-dev")
  endif()
  set(vane_boost_link ${CMAKE_BINARY_DIR}/boost-headers)
  file(MAKE_DIRECTORY ${vane_boost_link})
  if(NOT EXISTS ${vane_boost_link}/boost)
    file(CREATE_LINK ${VANE_BOOST_HEADERS}/boost ${vane_boost_link}/boost SYMBOLIC)
  endif()
  target_include_directories(vane_web SYSTEM PRIVATE ${vane_boost_link} ${vane_host_headers})
  # Asio's completion ports would import AcceptEx from mswsock.dll, which is no
  # Known DLL: its select-based reactor needs only ws2_32 (plenty for the pages).
  target_compile_definitions(vane_web PRIVATE _WIN32_WINNT=0x0A00 WIN32_LEAN_AND_MEAN NOMINMAX BOOST_ASIO_DISABLE_IOCP)
  target_link_libraries(vane_web PUBLIC vane_records vane_core ws2_32)
else()
  find_path(VANE_BOOST_HEADERS boost/beast.hpp)
  if(NOT VANE_BOOST_HEADERS)
    message(FATAL_ERROR "the pages need the headers of libboost-dev")
  endif()
  target_link_libraries(vane_web PUBLIC vane_records vane_core nlohmann_json::nlohmann_json)
endif()
