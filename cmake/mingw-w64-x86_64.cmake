# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers (g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The programs are linked statically (C and C++ runtime, winpthread), so that traxcon.exe needs
# nothing on a bare Windows but the system's own DLLs. Where Wine is installed, the build's
# test programs run under it (CMakeLists.txt writes the launcher <build>/wine-run).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TRAXCON_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TRAXCON_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TRAXCON_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TRAXCON_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TRAXCON_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
