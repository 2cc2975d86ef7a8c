# Cross build for 64-bit Windows with Debian's MinGW-w64 compiler (POSIX
# thread model, so std::thread and std::mutex work), linked statically: the
# programs need no DLL beyond the system's.
#
#   cmake -S . -B build/windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#     -DSQLite3_INCLUDE_DIR=<folder of sqlite3.h> -DSQLite3_LIBRARY=<libsqlite3.a>
#
# scripts/build-windows.sh does all of it, SQLite included.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PV_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PV_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows 7 and later: the socket and service calls used here exist there.
add_compile_definitions(_WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CXX_STANDARD_LIBRARIES
    "-lws2_32 -lmswsock -lshell32 -ladvapi32 -lodbc32 -lkernel32 -luser32")
set(CMAKE_C_STANDARD_LIBRARIES "${CMAKE_CXX_STANDARD_LIBRARIES}")

# Standalone asio is header-only and lives in the host's /usr/include.
# Adding /usr/include itself to the search path would put glibc's C headers
# ahead of MinGW's, so the build gets a folder holding links to the asio
# headers only, and the asio lookup of the top-level CMakeLists.txt is
# answered with it.
# Test compilations read this file again with their own scratch folder as
# build folder; the folders below are made once, for the real build folder.
get_property(pv_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(pv_in_try_compile)
  return()
endif()
set(PV_MINGW_HOST_INCLUDES ${CMAKE_BINARY_DIR}/mingw-host-include)
file(MAKE_DIRECTORY ${PV_MINGW_HOST_INCLUDES})
foreach(entry asio asio.hpp)
  if(EXISTS /usr/include/${entry} AND NOT EXISTS ${PV_MINGW_HOST_INCLUDES}/${entry})
    file(CREATE_LINK /usr/include/${entry} ${PV_MINGW_HOST_INCLUDES}/${entry} SYMBOLIC)
  endif()
endforeach()
set(ASIO_INCLUDE_DIR ${PV_MINGW_HOST_INCLUDES} CACHE PATH "standalone asio headers" FORCE)

# ODBC is part of Windows (odbc32.dll, headers in MinGW's own include
# folder). pkg-config is pointed at a folder with a description of it, so
# that the top-level lookup of "odbc" finds the Windows library instead of
# the host's unixODBC.
set(PV_MINGW_PKGCONFIG ${CMAKE_BINARY_DIR}/mingw-pkgconfig)
file(MAKE_DIRECTORY ${PV_MINGW_PKGCONFIG})
file(WRITE ${PV_MINGW_PKGCONFIG}/odbc.pc
     "Name: odbc\nDescription: Windows ODBC driver manager\nVersion: 3.80\nLibs: -lodbc32\nCflags:\n")
set(ENV{PKG_CONFIG_LIBDIR} ${PV_MINGW_PKGCONFIG})
set(ENV{PKG_CONFIG_PATH} "")
