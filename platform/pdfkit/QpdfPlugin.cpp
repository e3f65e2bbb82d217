// The entry of the plugin "lectern-qpdf": the functions of QpdfRotations.cpp.

#include "platform/pdfkit/QpdfPlugin.h"

extern "C" __attribute__((visibility("default"))) const pdfkit::detail::QpdfFunctions* lectern_qpdf_functions() {
  static const pdfkit::detail::QpdfFunctions functions{&pdfkit::detail::writeWithRotations, &pdfkit::detail::writeSheets};
  return &functions;
}
