#pragma once
// The qpdf side of the PDF layer lives in the plugin "lectern-qpdf", loaded the first time a
// document is written: reading and showing PDF never loads qpdf (and the crypto libraries it
// brings). The plugin hands out its functions as one table.

#include "platform/pdfkit/QpdfRotations.h"

namespace pdfkit::detail {

struct QpdfFunctions {
  decltype(&detail::writeWithRotations) withRotations;
  decltype(&detail::writeSheets) sheets;
};

inline constexpr const char* kQpdfPlugin = "lectern-qpdf";
inline constexpr const char* kQpdfFunctionsSymbol = "lectern_qpdf_functions";

}  // namespace pdfkit::detail
