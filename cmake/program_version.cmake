# Writes the program's version header: the project's version and the commit
# the sources were built from (empty when they are not a git checkout). Run
# at every build; the header is rewritten only when its text changes, so that
# an unchanged commit rebuilds nothing.
#   cmake -DVERSION=1.0 -DSOURCE_DIR=... -DOUTPUT=.../program_version.h -P program_version.cmake
set(commit "")
find_package(Git QUIET)
if(GIT_FOUND)
  # Only the sources' own checkout counts, not one they were unpacked into.
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --show-toplevel
                  OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  if(NOT failed)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
  endif()
  if(NOT failed AND top STREQUAL source)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --short=12 HEAD
                    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
    if(failed)
      set(commit "")
    endif()
  endif()
endif()
set(text "#pragma once\n// Written by the build (cmake/program_version.cmake).\n")
string(APPEND text "constexpr char kProgramVersion[] = \"${VERSION}\";\n")
string(APPEND text "constexpr char kProgramCommit[] = \"${commit}\";\n")
set(old "")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUTPUT} "${text}")
endif()
