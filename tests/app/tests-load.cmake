lectern_add_test(load_manager_tests
  SOURCES shell/load_manager_test.cpp
  LIBS lectern_core
  TSAN)
