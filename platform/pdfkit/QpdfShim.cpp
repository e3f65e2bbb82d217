// The PDF layer's side of the qpdf plugin: each call loads the plugin (once) and forwards.

#include "platform/foundation/plugin.h"
#include "platform/pdfkit/QpdfPlugin.h"

namespace pdfkit::detail {
namespace {

// The plugin's functions; null with `why` set when it cannot be loaded.
const QpdfFunctions* qpdf(std::string* why) {
  using Entry = const QpdfFunctions* (*)();
  auto entry = reinterpret_cast<Entry>(foundation::pluginSymbol(kQpdfPlugin, kQpdfFunctionsSymbol, why));
  if (!entry) {
    *why = "qpdf cannot be loaded (" + *why + ")";
    return nullptr;
  }
  return entry();
}

}  // namespace

std::string writeWithRotations(const std::string& source, const std::string& destination, const std::vector<int>& rotations) {
  std::string why;
  const QpdfFunctions* f = qpdf(&why);
  return f ? f->withRotations(source, destination, rotations) : why;
}

std::string writeSheets(const std::string& source, const std::string& destination, const std::vector<int>& rotations,
                        const std::vector<PrintSheet>& sheets, const PrintPaper& paper, bool fit) {
  std::string why;
  const QpdfFunctions* f = qpdf(&why);
  return f ? f->sheets(source, destination, rotations, sheets, paper, fit) : why;
}

}  // namespace pdfkit::detail
