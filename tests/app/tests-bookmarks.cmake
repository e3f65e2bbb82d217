lectern_add_test(bookmark_lib_tests
  SOURCES shell/bookmark_lib_test.cpp
  LIBS lectern_core)

if(LECTERN_BUILD_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  lectern_add_test(bookmark_control_tests
    SOURCES shell/bookmark_control_test.cpp
    LIBS lectern_gui Qt6::Test
    GUI)
endif()
