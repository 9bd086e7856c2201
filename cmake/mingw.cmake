# Cross build of a Windows module and its tests with MinGW-w64, for the
# processor that the including toolchain file set (i686 or x86_64).
set(CMAKE_SYSTEM_NAME Windows)
set(TOOL_PREFIX ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
# The posix thread model: its C++ library has std::mutex and std::thread,
# which GoogleTest needs (programs link it statically).
set(CMAKE_C_COMPILER ${TOOL_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOL_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOL_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOL_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
