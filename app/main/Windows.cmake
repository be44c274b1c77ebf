# pelvane.exe: a GUI program (no console) in the top of the build folder,
# linked statically with its icon, version and manifest resources, needing
# only system DLLs.
add_executable(pelvane WIN32 ${CMAKE_SOURCE_DIR}/app/main/WinMain.cpp
                             $<TARGET_OBJECTS:pelvane_resources>
                             $<TARGET_OBJECTS:pelvane_version_resources>)
target_link_libraries(pelvane PRIVATE pelvane_core)
set_target_properties(pelvane PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
