lectern_add_test(preview_info_tests
  SOURCES shell/preview_info_test.cpp
  LIBS lectern_core)

lectern_add_test(pdf_modul_tests GUI
  SOURCES modules/pdf_modul_test.cpp modules/document_view_controller_test.cpp modules/gui_test_main.cpp
  LIBS lectern_gui)
