#pragma once
// The fixed product and format catalogue.

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

#include "core/Format.h"

class ConverterInterface;
class ExtractInterface;
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

  // The export formats: Save As in general, Save As of a document with the source extension
  // (case ignored), and Extract Images.
  static QList<Format> SupportSaveFormats();
  static QList<Format> SupportSaveFormats(const QString& sourceExtension);
  static QList<Format> SupportExtractFormats();
  // Whether the import of a file with the extension (case ignored) reports progress.
  static bool ImportHasProgress(const QString& sourceExtension);

  // A new converter for Save As in `format` of a document whose source file has the extension
  // `converterFormat`; null when this build has none for the format. Defined with the export
  // converters.
  static std::shared_ptr<::ConverterInterface> converterInterface(const Format& format, const QString& converterFormat);
  // A format written again from the document's source file (RTFD) is made by the module that
  // reads such sources, which registers its maker under the format's name when it is loaded;
  // until then converterInterface() has no converter for that format.
  using SourceConverterMaker =
      std::function<std::shared_ptr<::ConverterInterface>(const Format& format, const QString& sourceExtension)>;
  static void registerSourceConverter(const QString& formatName, SourceConverterMaker maker);
  static std::shared_ptr<::ConverterInterface> converterInterface(const Format& format);
  // A new image extractor writing `format`.
  static std::shared_ptr<::ExtractInterface> ExtractInterface(const Format& format);

  // The product page and the support page; set at configure time.
  static QUrl ProductInfoWebPageUrlString();
  static QUrl ProductSupportWebPageUrlString();

  // A new generic importer (any supported source to a PDF). Defined with the importer, in the
  // GUI library; nothing in the application calls it.
  static std::shared_ptr<::ImportInterface> ImportInterface();
};
