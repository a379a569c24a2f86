# Cross build for 64-bit Windows with Debian's mingw-w64 (scripts/build-windows uses it):
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_PREFIX_PATH=<Qt for Windows> ...
# The posix variants of the compilers: the win32 ones have no std::thread, and Qt for Windows
# built with mingw-w64 here uses the posix thread model.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

# Libraries, headers and packages come from the Windows side only: the mingw-w64 system root
# and the prefixes the build names (its Qt, its libcrypto), never the build machine's own
# Linux Qt. Programs (moc, uic, rcc, lrelease) are the build machine's.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# lrelease comes with the build machine's Qt5LinguistTools package (Debian's place, unless the
# cache names another): a .qm file is the same on every platform.
set(Qt5LinguistTools_DIR /usr/lib/${CMAKE_HOST_SYSTEM_PROCESSOR}-linux-gnu/cmake/Qt5LinguistTools
    CACHE PATH "The build machine's Qt5LinguistTools package")
