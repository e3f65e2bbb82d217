#include "core/ProductInfo.h"

#include "core/LecternConfig.h"
#include "core/XVBaseFunction.h"

QString ProductInfo::AppName() { return QStringLiteral("Velmar Lectern"); }
QString ProductInfo::Version() { return QStringLiteral("3.1.0"); }

QStringList ProductInfo::SupportImportFilesExtension() {
  return {"dat", "pdf", "djvu", "vsd", "vsdx", "vdx", "vst", "vss", "vtx", "vsx",
          "xps", "oxps", "wps", "wks", "xlr", "wdb", "wk1", "wk2", "wk3", "wk4",
          "wk5", "Wq1", "Wq2", "Wtf", "wpd", "wp", "wp4", "wp5", "wp6", "wp7"};
}
QStringList ProductInfo::XPSSupportImportFilesExtension() { return {"vsx", "xps", "oxps"}; }
QStringList ProductInfo::WPSSupportImportFilesExtension() {
  return {"wps", "wks", "xlr", "wdb", "wk1", "wk2", "wk3", "wk4", "wk5", "Wq1", "Wq2", "Wtf"};
}
QStringList ProductInfo::DXFSupportImportFilesExtension() { return {"dxf"}; }
QStringList ProductInfo::WPDSupportImportFilesExtension() { return {"wpd", "wp", "wp4", "wp5", "wp6", "wp7"}; }
QStringList ProductInfo::DjvuSupportImportFilesExtension() { return {"djvu"}; }
QStringList ProductInfo::PDFSupportImportFilesExtension() { return {"pdf"}; }
QStringList ProductInfo::WinmailSupportImportFilesExtension() { return {"dat"}; }
QStringList ProductInfo::VisioSupportImportFilesExtension() {
  return {"vsd", "vsdx", "vdx", "vst", "vss", "vtx", "vsx"};
}

namespace {

QList<Format> formatsNamed(std::initializer_list<const char*> names) {
  QList<Format> out;
  for (const char* name : names) out.append(Format::formatNamed(QLatin1String(name)));
  return out;
}

bool extensionIn(const QString& extension, const QStringList& list) { return XVBaseFunction::stringInArray(extension, list); }

QStringList richTextExtensions() {
  return ProductInfo::WPSSupportImportFilesExtension() + ProductInfo::WPDSupportImportFilesExtension();
}

}  // namespace

QList<Format> ProductInfo::SupportSaveFormats() { return formatsNamed({"PDF", "TEXT", "PNG", "JPEG", "BMP", "GIF", "TIFF"}); }

QList<Format> ProductInfo::SupportSaveFormats(const QString& sourceExtension) {
  if (extensionIn(sourceExtension, richTextExtensions()))
    return formatsNamed({"PDF", "RTFD", "TEXT", "PNG", "JPEG", "BMP", "GIF", "TIFF"});
  if (extensionIn(sourceExtension, PDFSupportImportFilesExtension())) return formatsNamed({"TEXT", "PNG", "JPEG", "BMP", "GIF", "TIFF"});
  return SupportSaveFormats();
}

QList<Format> ProductInfo::SupportExtractFormats() { return formatsNamed({"PNG", "JPEG", "BMP", "GIF", "TIFF"}); }

bool ProductInfo::ImportHasProgress(const QString& sourceExtension) {
  return !extensionIn(sourceExtension,
                      richTextExtensions() + PDFSupportImportFilesExtension() + VisioSupportImportFilesExtension());
}

QUrl ProductInfo::ProductInfoWebPageUrlString() { return QUrl(QStringLiteral(LECTERN_PRODUCT_URL)); }
QUrl ProductInfo::ProductSupportWebPageUrlString() { return QUrl(QStringLiteral(LECTERN_SUPPORT_URL)); }
