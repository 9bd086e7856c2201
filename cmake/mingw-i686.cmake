# The 32-bit Windows module (for 32-bit hosts) and its tests.
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
