# The Windows build's extras, included by the top-level CMakeLists.txt when the
# target is Windows: GoogleTest built from Debian's source package, and the Wine
# wrapper through which ctest runs the test executables when cross-building.

# GoogleTest from /usr/src/googletest (package googletest), linked statically.
if(BUILD_TESTING AND NOT TARGET GTest::gtest)
  set(PELVANE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(${PELVANE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # Its CMakeLists.txt defines the GTest:: aliases the tests link.
endif()

if(CMAKE_CROSSCOMPILING)
  # Every test executable runs as "wine-run EXE ARGS"; the wrapper keeps a
  # private Wine prefix in this build folder.
  set(PELVANE_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  configure_file(${CMAKE_SOURCE_DIR}/scripts/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
endif()

# windres compiles the icon resource.
enable_language(RC)
