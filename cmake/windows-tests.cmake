# Test build for Windows (MinGW-w64 cross build, included by the top-level
# CMakeLists.txt): GoogleTest is compiled from the source Debian's
# "googletest" package ships, and every test program runs under Wine through
# cmake/wine-run.sh with a private Wine prefix in the build folder.

set(PV_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source (Debian: googletest)")
if(NOT EXISTS ${PV_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest source not found in ${PV_GOOGLETEST_SOURCE} "
                      "(apt-get install googletest, or scripts/deps.sh wine)")
endif()

# Static libraries, not installed; the targets keep the names the test folders
# link (GTest::gtest, GTest::gtest_main, GTest::gmock, GTest::gmock_main).
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${PV_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its headers are someone else's code: no -Wall -Wextra findings from them in
# the test sources.
foreach(t gtest gtest_main gmock gmock_main)
  get_target_property(dirs ${t} INTERFACE_INCLUDE_DIRECTORIES)
  set_target_properties(${t} PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${dirs}")
endforeach()

# Every test program (and gtest_discover_tests' listing) runs as
# "wine-run.sh <prefix> program.exe args".
set(PV_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh ${PV_WINEPREFIX})
# List the tests of a program when CTest runs, not after each link: building
# starts no Wine, and each program is listed once per change.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
