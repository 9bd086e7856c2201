# The 64-bit Windows module (for 64-bit hosts) and its tests, from the same
# sources.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
