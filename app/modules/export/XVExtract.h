#pragma once
// The image extractor the browser drives: runs the extraction worker over a page range of the
// document's converted PDF and writes each image it gets as "%1/%2_%3.%4", numbered from 1
// across the whole run (not by page).

#include <QList>
#include <QString>
#include <QUrl>

#include <memory>

#include "core/Format.h"
#include "modules/export/ExtractInterface.h"
#include "modules/export/XVExportJob.h"
#include "modules/export/XVPDFExtractImage.h"

class XVExtract : public ExtractInterface,
                  public XVExportJob,
                  public XVPDFExtractImageSource,
                  public XVPDFExtractImageDelegate,
                  public std::enable_shared_from_this<XVExtract> {
 public:
  static std::shared_ptr<XVExtract> extractWithFormat(const Format& format);

  void setDelegate(std::weak_ptr<ExtractProgressDelegate> delegate) override { delegate_ = std::move(delegate); }
  void setExtractDocument(pdfkit::PDFDocument* document) override { document_ = document; }
  void setOutDirector(const QString& folder) override { outDirector_ = folder; }
  void setOutFileName(const QString& name) override { outFileName_ = name; }
  void setOutFilePath(const QString& path) override { outFilePath_ = path; }
  void setExtractStartPage(qint64 startPage, qint64 endpage) override;
  void setReplaceExisting(bool replace) override { replaceExisting_ = replace; }
  QStringList existingOutputFiles() const override;
  void startExtract() override;
  void stopExtract() override;
  bool waitUntilEnded(std::chrono::milliseconds timeout) const override;
  QString errorInfo() const override { return firstError(); }

  Format format() const { return format_; }
  std::shared_ptr<XVPDFExtractImage> extractImage() const { return extractImage_; }

  // The worker's source and delegate.
  QString XVPDFExtractImageSource_documentPath(XVPDFExtractImage* worker) override;
  quint64 XVPDFExtractImageSource_pageCount(XVPDFExtractImage* worker) override;
  pdfkit::PDFPage* XVPDFExtractImageSource_pageAtIndex(quint64 index, XVPDFExtractImage* worker) override;
  void XVPDFExtractImageDelegate_Start(XVPDFExtractImage* worker) override;
  void XVPDFExtractImageDelegate_ExtractProgress(double percent, XVPDFExtractImage* worker) override;
  void XVPDFExtractImageDelegate_End(bool success, XVPDFExtractImage* worker) override;

 private:
  explicit XVExtract(const Format& format);
  QString imagePath(qint64 index) const;
  // Why the run may not start; empty when it may.
  QString refusal() const;
  void saveImages();

  Format format_;
  std::shared_ptr<XVPDFExtractImage> extractImage_;
  std::weak_ptr<ExtractProgressDelegate> delegate_;
  qint64 pageIndex_ = 0;  // images saved in this run; touched on the worker's thread only
};
