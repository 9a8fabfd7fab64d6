# Cross build of the vorpanex tool for 64-bit Windows with Debian's mingw-w64 (posix
# thread model: pack compresses on std::thread). The C and C++ runtimes and winpthread
# are linked statically, so vorpanex.exe runs alone; no time stamp goes into the image,
# so two builds of the same sources give the same bytes.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
# The tool, not the stub: the core goes through the hosted system layer.
set(VORPANEX_HOSTED ON CACHE BOOL "The tool for Windows: hosted core, no stub" FORCE)
