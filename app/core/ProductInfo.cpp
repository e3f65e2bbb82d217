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

QUrl ProductInfo::ProductInfoWebPageUrlString() { return QUrl(QStringLiteral(LECTERN_PRODUCT_URL)); }
QUrl ProductInfo::ProductSupportWebPageUrlString() { return QUrl(QStringLiteral(LECTERN_SUPPORT_URL)); }
