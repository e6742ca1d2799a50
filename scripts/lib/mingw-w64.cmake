# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix threads, for std::thread and
# the C++ runtime's mutexes). Used for Qt's own build and for dbsetup's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(mingw_prefix x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

# Only the mingw sysroot and Qt built for Windows (DBSETUP_WINDOWS_QT, when given) are searched
# for libraries, headers and packages; the build host's programs are still found on PATH.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DBSETUP_WINDOWS_QT)
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix} ${DBSETUP_WINDOWS_QT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests built for Windows run under Wine, in a prefix of the project's own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
