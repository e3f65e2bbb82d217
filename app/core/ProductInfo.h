#pragma once
// The fixed product and format catalogue.

#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

class ImportInterface;

class ProductInfo {
 public:
  ProductInfo() = delete;

  static QString AppName();
  static QString Version();

  // Extensions without the dot, in catalogue order and case.
  static QStringList SupportImportFilesExtension();
  static QStringList XPSSupportImportFilesExtension();
  static QStringList WPSSupportImportFilesExtension();
  static QStringList DXFSupportImportFilesExtension();
  static QStringList WPDSupportImportFilesExtension();
  static QStringList DjvuSupportImportFilesExtension();
  static QStringList PDFSupportImportFilesExtension();
  static QStringList WinmailSupportImportFilesExtension();
  static QStringList VisioSupportImportFilesExtension();

  // The product page and the support page; set at configure time.
  static QUrl ProductInfoWebPageUrlString();
  static QUrl ProductSupportWebPageUrlString();

  // A new generic importer (any supported source to a PDF). Defined with the importer, in the
  // GUI library; nothing in the application calls it.
  static std::shared_ptr<::ImportInterface> ImportInterface();
};
