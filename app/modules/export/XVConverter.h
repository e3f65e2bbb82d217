#pragma once
// The Save As converter for PDF, TEXT and the page image formats: drives the page worker over
// a page range of the document and writes the output files
// ("%1/%2.%3" for PDF and text, "%1/%2_%3.%4" with the 1-based page number for images).

#include <QList>
#include <QString>
#include <QUrl>

#include <memory>

#include "core/Format.h"
#include "modules/export/ConverterInterface.h"
#include "modules/export/XVExportJob.h"
#include "modules/export/XVPDFConverter.h"

class XVImageSave;

class XVConverter : public ConverterInterface,
                    public XVExportJob,
                    public XVPDFConverterSource,
                    public XVPDFConverterDelegate,
                    public std::enable_shared_from_this<XVConverter> {
 public:
  static std::shared_ptr<XVConverter> converterWithFormat(const Format& format);
  // "PDF" 1, "TEXT" 2, any other name 0 (exact comparison).
  static int converterTypeByFormat(const Format& format);
  // Windows line endings, and no object replacement characters.
  static QString windowsSupportString(const QString& text);

  void setDelegate(std::weak_ptr<ConverterProgressDelegate> delegate) override;
  void setConvertDocument(pdfkit::PDFDocument* document) override { document_ = document; }
  void setOutDirector(const QString& folder) override { outDirector_ = folder; }
  void setOutFileName(const QString& name) override { outFileName_ = name; }
  void setOutFilePath(const QString& path) override { outFilePath_ = path; }
  void setConvertStartPage(qint64 startPage, qint64 endpage) override;
  void setReplaceExisting(bool replace) override;
  QStringList existingOutputFiles() const override;
  void startConvert() override;
  void stopConvert() override;
  bool waitUntilEnded(std::chrono::milliseconds timeout) const override;
  QString errorInfo() const override { return firstError(); }

  Format format() const { return format_; }
  std::shared_ptr<XVPDFConverter> converter() const { return converter_; }
  // The files this export writes, in order.
  QStringList outputFiles() const;
  // Writes the whole of `document` (with its pages' rotations) to "%1/%2.%3" of the folder,
  // the name and the format's extension, outside any run, and adds the file to urlArray().
  // NO, with errorInfo() saying why, when the file is the document's own, exists without
  // consent (setReplaceExisting), or cannot be written.
  bool savePdfDocumentfile(const pdfkit::PDFDocument& document);

  // The worker's source and delegate.
  quint64 XVPDFConverterSource_pageCount(XVPDFConverter* converter) override;
  pdfkit::PDFPage* XVPDFConverterSource_pageAtIndex(quint64 index, XVPDFConverter* converter) override;
  void XVPDFConverterDelegate_Start(XVPDFConverter* converter) override;
  void XVPDFConverterDelegate_Progress(double percent, XVPDFConverter* converter) override;
  void XVPDFConverterDelegate_End(bool success, XVPDFConverter* converter) override;

 private:
  explicit XVConverter(const Format& format);
  QString imagePath(qint64 index) const;
  QString singlePath(const QString& extension) const;
  // Why the export may not start; empty when it may.
  QString refusal() const;
  void saveImages();
  bool saveTextFile(const QString& text);

  Format format_;
  std::shared_ptr<XVPDFConverter> converter_;
  std::weak_ptr<ConverterProgressDelegate> delegate_;
};
