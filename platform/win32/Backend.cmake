# The Win32 backend's system libraries (all ship with Windows).
target_link_libraries(pelvane_platform PUBLIC winmm user32 gdi32 kernel32)

# The program's only resource: the icon group "MAINICON" (16 x 16 and 32 x 32,
# 16 colours), drawn by make-icon.py at build time. Linked into pelvane.exe and
# into the backend's tests, which load it.
set(PELVANE_ICON ${CMAKE_CURRENT_BINARY_DIR}/resources/pelvane.ico)
add_custom_command(OUTPUT ${PELVANE_ICON}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/resources
  COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/win32/resources/make-icon.py ${PELVANE_ICON}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/win32/resources/make-icon.py
  COMMENT "Drawing the application icon")
add_custom_target(pelvane_icon DEPENDS ${PELVANE_ICON})
add_library(pelvane_resources OBJECT ${CMAKE_CURRENT_SOURCE_DIR}/win32/resources/pelvane.rc)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/win32/resources/pelvane.rc
  PROPERTIES OBJECT_DEPENDS ${PELVANE_ICON})
target_include_directories(pelvane_resources PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/resources)
add_dependencies(pelvane_resources pelvane_icon)
