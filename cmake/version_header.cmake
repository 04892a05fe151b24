# Writes the header that gives the programs their version: the project's version and, when the
# sources are a git checkout, the commit they were built from ("1.0 (git 717006e)", with
# "+changes" when files under version control differ from it). Run at every build by the target
# pelorin_version_header; the header is rewritten only when its text changes, so nothing is
# recompiled after a build from the same commit.
#
#   cmake -DVERSION=1.0 -DSOURCE_DIR=... -DOUTPUT=.../pelorin_version.h -P version_header.cmake
set(text "${VERSION}")
find_program(GIT_EXECUTABLE git)
if(GIT_EXECUTABLE AND EXISTS "${SOURCE_DIR}/.git")
    execute_process(COMMAND ${GIT_EXECUTABLE} -C "${SOURCE_DIR}" rev-parse --short=9 HEAD
        OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
    if(NOT failed AND commit)
        execute_process(COMMAND ${GIT_EXECUTABLE} -C "${SOURCE_DIR}" status --porcelain
            --untracked-files=no
            OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        set(text "${VERSION} (git ${commit}")
        if(changes)
            string(APPEND text "+changes")
        endif()
        string(APPEND text ")")
    endif()
endif()
set(header "// Made by cmake/version_header.cmake at build time.\n#pragma once\n#define PELORIN_VERSION \"${text}\"\n")
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL header)
    file(WRITE "${OUTPUT}" "${header}")
endif()
