#include "shell/XVModulPlugins.h"

#include "modules/pdf/PDFModul.h"

void registerModulPlugins() {
  using K = DocumentModul::Kind;
  PDFModul::registerModul();
  DocumentModul::registerModulePlugin(K::Works, "lectern-works");
  DocumentModul::registerModulePlugin(K::WordPerfect, "lectern-works");
  DocumentModul::registerModulePlugin(K::XPS, "lectern-xps");
  DocumentModul::registerModulePlugin(K::DjVu, "lectern-djvu");
  DocumentModul::registerModulePlugin(K::Visio, "lectern-visio");
  DocumentModul::registerModulePlugin(K::Winmail, "lectern-mail");
}
