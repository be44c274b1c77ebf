# The Win32 backend's system libraries (all ship with Windows).
target_link_libraries(pelvane_platform PUBLIC winmm user32 gdi32 kernel32)
