# Cross-compiles the tournament engine for 64-bit Windows with MinGW-w64
# (Debian: g++-mingw-w64-x86-64). The posix thread model gives the full <thread> and
# <chrono> of the library; -static pulls libstdc++, libgcc and winpthread into the exe,
# because tournament machines have none of their DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTROVA_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${KESTROVA_MINGW_PREFIX}-g++-posix
                                      ${KESTROVA_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${KESTROVA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTROVA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
