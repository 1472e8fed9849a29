# Cross build of the Windows module with Debian's mingw-w64 toolchain
# (g++-mingw-w64-x86-64-posix, binutils-mingw-w64-x86-64). The posix-thread
# compiler is named explicitly: the win32-thread one has no std::thread.
# Programs built here run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUMATRAIL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER ${LUMATRAIL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${LUMATRAIL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LUMATRAIL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under wine (the 64-bit loader; no 32-bit wine is needed).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
