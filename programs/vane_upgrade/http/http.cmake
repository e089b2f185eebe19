# The HTTP server the pages stand on: Boost.Beast over Asio, header-only from
# the build machine's libboost-dev. It knows no page and nothing of the program.
set(vane_http_dir ${CMAKE_SOURCE_DIR}/programs/vane_upgrade/http)
file(GLOB vane_http_sources CONFIGURE_DEPENDS ${vane_http_dir}/*.cpp)
add_library(vane_http STATIC ${vane_http_sources})
target_include_directories(vane_http PUBLIC ${CMAKE_SOURCE_DIR})
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
  target_include_directories(vane_http SYSTEM PRIVATE ${vane_boost_link})
  # Asio's completion ports would import AcceptEx from mswsock.dll, which is no
  # Known DLL: its select-based reactor needs only ws2_32 (plenty for the pages).
  target_compile_definitions(vane_http PRIVATE _WIN32_WINNT=0x0A00 WIN32_LEAN_AND_MEAN NOMINMAX BOOST_ASIO_DISABLE_IOCP)
  target_link_libraries(vane_http PUBLIC ws2_32)
else()
  find_path(VANE_BOOST_HEADERS boost/beast.hpp)
  if(NOT VANE_BOOST_HEADERS)
    message(FATAL_ERROR "the pages need the headers of libboost-dev")
  endif()
endif()
