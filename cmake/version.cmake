# Writes the version header the programs print with --version: the project's
# version and, in a git checkout, the commit it was built from ("+" when the
# tree had changes). Run at every build; the header is rewritten only when its
# text changes, so nothing recompiles otherwise.
#   cmake -DSRC=<source dir> -DOUT=<header> -DVERSION=<x.y.z> -P version.cmake
set(commit "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${SRC}/.git")
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SRC}" rev-parse --short=12 HEAD
                  OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
                  RESULT_VARIABLE failed)
  if(failed)
    set(commit "")
  else()
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SRC}" status --porcelain
                            --untracked-files=no
                    OUTPUT_VARIABLE changes ERROR_QUIET)
    if(changes)
      string(APPEND commit "+")
    endif()
  endif()
endif()
set(text "#pragma once\n#define PV_VERSION \"${VERSION}\"\n#define PV_GIT_COMMIT \"${commit}\"\n")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
