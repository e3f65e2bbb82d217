lectern_add_test(bookmark_lib_tests
  SOURCES shell/bookmark_lib_test.cpp
  LIBS lectern_core)
