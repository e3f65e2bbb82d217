#include "core/ProductInfo.h"

#include "core/LecternConfig.h"

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

bool extensionIn(const QString& extension, std::initializer_list<const char*> list) {
  for (const char* e : list) {
    if (extension.compare(QLatin1String(e), Qt::CaseInsensitive) == 0) return true;
  }
  return false;
}

}  // namespace

QList<Format> ProductInfo::SupportSaveFormats() { return formatsNamed({"PDF", "TEXT", "PNG", "JPEG", "BMP", "GIF", "TIFF"}); }

QList<Format> ProductInfo::SupportSaveFormats(const QString& sourceExtension) {
  if (extensionIn(sourceExtension, {"wps", "wks", "xlr", "wdb", "wk1", "wk2", "wk3", "wk4", "wk5", "wq1", "wq2", "wtf", "wpd",
                                    "wp", "wp4", "wp5", "wp6", "wp7"}))
    return formatsNamed({"PDF", "RTFD", "TEXT", "PNG", "JPEG", "BMP", "GIF", "TIFF"});
  if (extensionIn(sourceExtension, {"pdf"})) return formatsNamed({"TEXT", "PNG", "JPEG", "BMP", "GIF", "TIFF"});
  return SupportSaveFormats();
}

QList<Format> ProductInfo::SupportExtractFormats() { return formatsNamed({"PNG", "JPEG", "BMP", "GIF", "TIFF"}); }

bool ProductInfo::ImportHasProgress(const QString& sourceExtension) {
  return !extensionIn(sourceExtension, {"wpd", "wp", "wp4", "wp5", "wp6", "wp7", "wps", "wks", "xlr", "wdb", "wk1", "wk2", "wk3",
                                        "wk4", "wk5", "wq1", "wq2", "wtf", "pdf", "vsd", "vsdx", "vdx", "vst", "vss", "vtx", "vsx"});
}

QUrl ProductInfo::ProductInfoWebPageUrlString() { return QUrl(QStringLiteral(LECTERN_PRODUCT_URL)); }
QUrl ProductInfo::ProductSupportWebPageUrlString() { return QUrl(QStringLiteral(LECTERN_SUPPORT_URL)); }
