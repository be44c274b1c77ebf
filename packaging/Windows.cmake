# The zip for Windows users, pelvane-VERSION-win64.zip: pelvane.exe with the
# example kit beside it (so that it plays real samples when started there),
# README.txt and LICENSE.txt. Made with every Windows build (target dist):
# the Wine GUI test starts the program from it.
set(PELVANE_ZIP ${CMAKE_BINARY_DIR}/pelvane-${PROJECT_VERSION}-win64.zip)
file(GLOB example_kit ${CMAKE_SOURCE_DIR}/examples/default.pvi ${CMAKE_SOURCE_DIR}/examples/*.wav)
# The licences of everything pelvane.exe carries: ours, and those of the
# mingw-w64 runtime, winpthreads and the GCC runtime it is linked with.
set(PELVANE_RUNTIME_COPYRIGHTS
  /usr/share/doc/mingw-w64-x86-64-dev/copyright
  /usr/share/doc/gcc-mingw-w64-base/copyright
  CACHE STRING "The copyright files of the runtime libraries linked into pelvane.exe")
add_custom_command(OUTPUT ${PELVANE_ZIP}
  COMMAND ${CMAKE_COMMAND} -DZIP=${PELVANE_ZIP} -DEXE=$<TARGET_FILE:pelvane>
          -DSOURCE=${CMAKE_SOURCE_DIR} -DVERSION=${PROJECT_VERSION}
          "-DKIT=${example_kit}" "-DRUNTIME=${PELVANE_RUNTIME_COPYRIGHTS}"
          -P ${CMAKE_CURRENT_SOURCE_DIR}/windows/MakeZip.cmake
  DEPENDS pelvane ${example_kit} ${CMAKE_CURRENT_SOURCE_DIR}/windows/MakeZip.cmake
          ${CMAKE_CURRENT_SOURCE_DIR}/windows/README.txt ${CMAKE_SOURCE_DIR}/LICENSE
  VERBATIM)
add_custom_target(dist ALL DEPENDS ${PELVANE_ZIP})
