# View settings (Qt Core) and the PDF module with its page view controller (Qt Widgets).
list(APPEND LECTERN_CORE_SOURCES shell/XVPreviewInfo.cpp)
list(APPEND LECTERN_GUI_SOURCES
  modules/DocumentViewController.cpp
  modules/PDFModul.cpp
)
list(APPEND LECTERN_GUI_LIBS Lectern::pdfkit)
