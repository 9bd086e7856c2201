# The Win32 serial line against a pseudo-terminal peer, and the painting of
# the progress box.
set(WINLINK_TESTS_DIR ${CMAKE_CURRENT_LIST_DIR})
set(WINLINK_PEER_SOURCE ${CMAKE_CURRENT_LIST_DIR}/pty_peer.cpp)
set(WINLINK_PEER ${CMAKE_CURRENT_BINARY_DIR}/pty-peer)

# The peer is a Linux program, built with the machine's own compiler.
find_program(WINLINK_HOST_CXX NAMES c++ g++ REQUIRED)
add_custom_command(
  OUTPUT ${WINLINK_PEER}
  COMMAND ${WINLINK_HOST_CXX} -std=c++17 -O2 -Wall -Wextra -o ${WINLINK_PEER} ${WINLINK_PEER_SOURCE}
  DEPENDS ${WINLINK_PEER_SOURCE}
  COMMENT "Building the pty peer for the serial line tests")
add_custom_target(pty_peer ALL DEPENDS ${WINLINK_PEER})

# The modem-line shim of the native build makes Wine's waits on a pty really
# wait; without it the tests accept waits that end at once.
if(DEFINED QUILL_NATIVE_BUILD)
  set(WINLINK_NATIVE_BUILD ${QUILL_NATIVE_BUILD})
else()
  set(WINLINK_NATIVE_BUILD ${CMAKE_BINARY_DIR}/../native)
endif()

add_executable(serial_line_tests ${WINLINK_TESTS_DIR}/serial_line_tests.cpp)
target_link_libraries(serial_line_tests PRIVATE quill_link_win32 gtest_main)
add_dependencies(serial_line_tests pty_peer)
add_test(NAME serial_line_tests
  COMMAND bash ${WINLINK_TESTS_DIR}/serial_line_tests.sh ${WINLINK_PEER}
          $<TARGET_FILE:serial_line_tests> ${WINLINK_NATIVE_BUILD})

add_executable(progress_box_tests ${WINLINK_TESTS_DIR}/progress_box_tests.cpp)
target_link_libraries(progress_box_tests PRIVATE quill_ui_win32 gtest_main gdi32 user32)
add_test(NAME progress_box_tests COMMAND progress_box_tests)
quill_test_on_a_western_machine(progress_box_tests)
