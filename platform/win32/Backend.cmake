# The Win32 backend's system libraries (all ship with Windows).
target_link_libraries(pelvane_platform PUBLIC winmm user32 gdi32 kernel32)

# The icon group "MAINICON" (16 x 16 and 32 x 32,
# 16 colours), the same drawing the Qt window shows (platform/resources/, drawn by
# make-icons.sh). Linked into pelvane.exe and into the backend's tests, which
# load it.
set(PELVANE_RC ${CMAKE_CURRENT_SOURCE_DIR}/win32/resources/pelvane.rc)
add_library(pelvane_resources OBJECT ${PELVANE_RC})
set_source_files_properties(${PELVANE_RC}
  PROPERTIES OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/platform/resources/MainIcon.ico)
target_include_directories(pelvane_resources PRIVATE ${CMAKE_SOURCE_DIR}/platform/resources)

# pelvane.exe's version resource and manifest (resources/version.rc), for the
# program only: the tests keep the classic controls they were written against.
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/win32/resources/pelvane.exe.manifest.in
               ${CMAKE_BINARY_DIR}/generated/pelvane.exe.manifest @ONLY)
set(PELVANE_VERSION_RC ${CMAKE_CURRENT_SOURCE_DIR}/win32/resources/version.rc)
add_library(pelvane_version_resources OBJECT ${PELVANE_VERSION_RC})
set_source_files_properties(${PELVANE_VERSION_RC} PROPERTIES OBJECT_DEPENDS
  "${CMAKE_BINARY_DIR}/generated/pelvane.exe.manifest;${CMAKE_BINARY_DIR}/generated/Version.h")
