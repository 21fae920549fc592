# SPDX-License-Identifier: MIT
# The opener stand-in the shell tests start instead of the desktop's xdg-open.
add_executable(fake_xdg_open ${CMAKE_CURRENT_LIST_DIR}/fake_xdg_open.cpp)

ovk_add_test_program(test_util_shell
  ${CMAKE_CURRENT_LIST_DIR}/shell_xdg_open_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shell_open_doc_api_test.cpp
)
add_dependencies(test_util_shell fake_xdg_open)
target_compile_definitions(test_util_shell PRIVATE FAKE_OPENER_BIN="$<TARGET_FILE:fake_xdg_open>")
