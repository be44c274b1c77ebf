# Cross build of the Windows program with mingw-w64 (POSIX thread model).
# Everything is linked statically, so pelvane.exe and the test executables need
# only the DLLs that ship with Windows. The tests run under Wine through
# CMAKE_CROSSCOMPILING_EMULATOR (set up by cmake/Windows.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PELVANE_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${PELVANE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELVANE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PELVANE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PELVANE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
