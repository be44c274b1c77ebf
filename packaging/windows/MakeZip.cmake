# cmake -P: writes the Windows zip ZIP from the program EXE, the example kit
# KIT, SOURCE/packaging/windows/README.txt and the licences (SOURCE/LICENSE,
# then the RUNTIME copyright files), the texts with Windows line ends.
cmake_minimum_required(VERSION 3.25)
set(stage ${ZIP}.stage)
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage})
file(COPY ${EXE} ${KIT} DESTINATION ${stage})

function(write_windows_text name text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${stage}/${name} "${text}")
endfunction()

file(READ ${SOURCE}/packaging/windows/README.txt readme)
string(REPLACE "@VERSION@" "${VERSION}" readme "${readme}")
write_windows_text(README.txt "${readme}")

file(READ ${SOURCE}/LICENSE licence)
string(APPEND licence "\n\nPARTS OF OTHER PROJECTS IN PELVANE.EXE\n\n"
  "pelvane.exe is linked statically with the mingw-w64 runtime, winpthreads and\n"
  "the GCC runtime libraries (libgcc, libstdc++). Their copyright files follow\n"
  "as their makers ship them; the GCC runtime is covered by the GCC Runtime\n"
  "Library Exception, which lets the program keep its own licence.\n")
foreach(copyright ${RUNTIME})
  if(NOT EXISTS ${copyright})
    message(FATAL_ERROR "No ${copyright}: its licence must go into LICENSE.txt")
  endif()
  file(READ ${copyright} text)
  string(APPEND licence "\n==== ${copyright}\n\n${text}")
endforeach()
write_windows_text(LICENSE.txt "${licence}")

file(GLOB files RELATIVE ${stage} ${stage}/*)
list(SORT files)
file(REMOVE ${ZIP})
# Every file with one fixed time, so that the same build gives the same zip.
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip --mtime=2026-01-01 ${files}
                WORKING_DIRECTORY ${stage} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "Cannot write ${ZIP}")
endif()
file(REMOVE_RECURSE ${stage})
