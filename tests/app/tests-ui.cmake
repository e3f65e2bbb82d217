if(LECTERN_BUILD_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Test)
endif()

lectern_add_test(shell_ui_logic_tests
  SOURCES shell/shell_logic_test.cpp
  LIBS lectern_core)

lectern_add_test(shell_controls_tests
  SOURCES shell/controls_test.cpp shell/tab_test.cpp
  LIBS lectern_gui Qt6::Test
  GUI)

lectern_add_test(shell_browser_tests
  SOURCES shell/browser_test.cpp
  LIBS lectern_gui Qt6::Test
  GUI)

lectern_add_test(shell_main_window_tests
  SOURCES shell/app_delegate_test.cpp
  LIBS lectern_gui Qt6::Test
  GUI)
if(TARGET shell_main_window_tests)
  set_target_properties(shell_main_window_tests PROPERTIES AUTOMOC ON)
endif()

if(LECTERN_BUILD_GUI)
  add_test(NAME lectern_install_check
           COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -DPREFIX=${CMAKE_CURRENT_BINARY_DIR}/install-check
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/shell/install_check.cmake)
endif()
