# Tests of the Windows build, run on the Linux build host under wine.
#
# GoogleTest has no MinGW package, so it is built here from the sources that libgtest-dev
# ships. CTest starts every test executable through scripts/wine-run.sh with a prefix of this
# build's own (created on first use), and lists a suite's tests when the tests run, not when it
# is built, so building needs no wine.
include_guard(GLOBAL)

set(QOR_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources to build for Windows")
if(NOT EXISTS ${QOR_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${QOR_GTEST_SOURCE_DIR} (package libgtest-dev)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# SYSTEM: our warning flags must not judge GoogleTest's headers.
add_subdirectory(${QOR_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
foreach(lib IN ITEMS gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${lib})
        add_library(GTest::${lib} ALIAS ${lib})
    endif()
endforeach()

set(QOR_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH
    "Wine prefix the Windows tests run in (throwaway; made on first use)")
set(QOR_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh --prefix ${QOR_WINE_PREFIX})
set(CMAKE_CROSSCOMPILING_EMULATOR ${QOR_WINE_RUN})
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
