# Cross build for 64-bit Windows with Debian's MinGW-w64 (POSIX thread model,
# g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build/windows --toolchain cmake/mingw-w64-x86_64.cmake
# or the preset `windows` (CMakePresets.json). The programs run on Windows or
# under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUMO_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LUMO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${LUMO_MINGW_TRIPLET}-windres)

# Headers and libraries of the target come from the MinGW tree only; programs
# that run during the build (python3, scdoc) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${LUMO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run under Wine.
find_program(LUMO_WINE NAMES wine64 wine)
if(LUMO_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${LUMO_WINE})
endif()
