# The Win32 backend's system libraries (all ship with Windows).
target_link_libraries(pelvane_platform PUBLIC winmm user32 gdi32 kernel32)

# The program's only resource: the icon group "MAINICON" (16 x 16 and 32 x 32,
# 16 colours), the same drawing the Qt window shows (platform/resources/, drawn by
# make-icons.sh). Linked into pelvane.exe and into the backend's tests, which
# load it.
set(PELVANE_RC ${CMAKE_CURRENT_SOURCE_DIR}/win32/resources/pelvane.rc)
add_library(pelvane_resources OBJECT ${PELVANE_RC})
set_source_files_properties(${PELVANE_RC}
  PROPERTIES OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/platform/resources/MainIcon.ico)
target_include_directories(pelvane_resources PRIVATE ${CMAKE_SOURCE_DIR}/platform/resources)
