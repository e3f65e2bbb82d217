#include "modules/export/XVConverter.h"

#include <QDir>
#include <QFileInfo>

#include "core/XVErrorTexts.h"
#include "modules/export/ExportFile.h"
#include "modules/export/XVImageSave.h"
#include "platform/pdfkit/PDFDocument.h"

std::shared_ptr<XVConverter> XVConverter::converterWithFormat(const Format& format) {
  std::shared_ptr<XVConverter> converter(new XVConverter(format));
  converter->converter_->setConverterSource(converter);
  converter->converter_->setDelegate(converter);
  return converter;
}

XVConverter::XVConverter(const Format& format)
    : format_(format), converter_(XVPDFConverter::pdfConverterWithType(converterTypeByFormat(format))) {}

int XVConverter::converterTypeByFormat(const Format& format) {
  if (format.formatName() == QLatin1String("PDF")) return XVPDFConverter::PdfFile;
  if (format.formatName() == QLatin1String("TEXT")) return XVPDFConverter::PageText;
  return XVPDFConverter::PageImages;
}

QString XVConverter::windowsSupportString(const QString& text) {
  QString t = text;
  if (!t.contains(QLatin1String("\r\n"))) {
    if (t.contains(QLatin1Char('\r'))) {
      t.replace(QLatin1Char('\r'), QLatin1String("\r\n"));
    } else if (t.contains(QLatin1Char('\n'))) {
      t.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    }
  }
  t.remove(QChar(0xFFFC));
  return t;
}

void XVConverter::setDelegate(std::weak_ptr<ConverterProgressDelegate> delegate) { delegate_ = std::move(delegate); }

void XVConverter::setConvertStartPage(qint64 startPage, qint64 endpage) {
  startPage_ = startPage;
  endPage_ = endpage;
}

void XVConverter::setReplaceExisting(bool replace) {
  replaceExisting_ = replace;
  converter_->setReplaceExisting(replace);
}

QString XVConverter::singlePath(const QString& extension) const {
  return QStringLiteral("%1/%2.%3").arg(outDirector_, outFileName_, extension);
}

QString XVConverter::imagePath(qint64 index) const { return numberedPath(index, format_.extension()); }

QStringList XVConverter::outputFiles() const {
  switch (converter_->type()) {
    case XVPDFConverter::PdfFile: return {singlePath(format_.extension())};
    case XVPDFConverter::PageText: return {singlePath(QStringLiteral("txt"))};
    default: break;
  }
  QStringList files;
  const qint64 last = document_ ? std::min<qint64>(endPage_, document_->pageCount() - 1) : endPage_;
  for (qint64 i = std::max<qint64>(startPage_, 0); i <= last; ++i) files << imagePath(i);
  return files;
}

QStringList XVConverter::existingOutputFiles() const {
  QStringList existing;
  for (const QString& f : outputFiles()) {
    if (QFileInfo::exists(f)) existing << f;
  }
  return existing;
}

QString XVConverter::refusal() const {
  const QString why = settingsRefusal();
  if (!why.isEmpty()) return why;
  for (const QString& f : outputFiles()) {
    if (!QFileInfo::exists(f)) continue;
    const QString name = QFileInfo(f).fileName();
    if (exportfile::sameFile(f, outFilePath_) || exportfile::sameFile(f, document_->documentPath()) ||
        exportfile::sameFile(f, document_->contentPath()))
      return XVErrorText::exportReplacesDocument(name);
    if (!replaceExisting_) return XVErrorText::exportFileExists(name);
  }
  return QString();
}

bool XVConverter::savePdfDocumentfile(const pdfkit::PDFDocument& document) {
  const QString path = singlePath(format_.extension());
  const QString name = QFileInfo(path).fileName();
  if (outFileName_.isEmpty() || outFileName_.contains(QLatin1Char('/')) || !QFileInfo(outDirector_).isDir()) {
    fail(XVErrorText::exportWriteFailed(name, QStringLiteral("not a file in a folder")));
    return false;
  }
  if (exportfile::sameFile(path, document.documentPath()) || exportfile::sameFile(path, document.contentPath()) ||
      exportfile::sameFile(path, outFilePath_)) {
    fail(XVErrorText::exportReplacesDocument(name));
    return false;
  }
  // Written onto a temporary file of our own, so an existing file is replaced only with consent.
  exportfile::PendingFile pending(path);
  QString why = pending.error();
  if (!pending.path().isEmpty() && document.writeToFile(pending.path(), &why)) {
    if (pending.commit(replaceExisting_)) {
      addUrl(path);
      return true;
    }
    why = pending.error();
  }
  fail(!replaceExisting_ && QFileInfo::exists(path) ? XVErrorText::exportFileExists(name)
                                                     : XVErrorText::exportWriteFailed(name, why));
  return false;
}

void XVConverter::startConvert() {
  if (converter_->converting()) return;
  clearResults();
  if (converter_->type() == XVPDFConverter::PdfFile) converter_->setSavePath(singlePath(format_.extension()));
  const QString why = refusal();
  if (why.isEmpty()) {
    converter_->start();
  } else {
    converter_->startRefusing(why);
  }
}

void XVConverter::stopConvert() { converter_->cancel(); }

bool XVConverter::waitUntilEnded(std::chrono::milliseconds timeout) const { return converter_->waitUntilEnded(timeout); }

quint64 XVConverter::XVPDFConverterSource_pageCount(XVPDFConverter*) { return rangePageCount(); }

pdfkit::PDFPage* XVConverter::XVPDFConverterSource_pageAtIndex(quint64 index, XVPDFConverter*) {
  return rangePageAtIndex(index);
}

void XVConverter::XVPDFConverterDelegate_Start(XVPDFConverter*) {
  if (auto d = delegate_.lock()) d->ConverterProgressDelegate_start();
}

void XVConverter::saveImages() {
  while (converter_->imageCacheCount() > 0) {
    const XVPDFConverter::PageImage page = converter_->imageDeleteCacheAtIndex(0);
    if (!errorInfo().isEmpty()) continue;  // after a failed write the rest is dropped
    auto saver = XVImageSave::imageSaveWith(page.image);
    if (!saver) continue;
    saver->setReplaceExisting(replaceExisting_);
    // Named by its page in the document, whatever pages before it gave no image.
    const QString path = imagePath(startPage_ + static_cast<qint64>(page.index));
    QString why;
    if (saver->saveAtPath(format_.formatName(), path, &why)) {
      addUrl(path);
    } else {
      fail(XVErrorText::exportWriteFailed(QFileInfo(path).fileName(), why));
      converter_->cancel();
    }
  }
}

void XVConverter::XVPDFConverterDelegate_Progress(double percent, XVPDFConverter*) {
  if (converter_->type() == XVPDFConverter::PageImages) saveImages();
  if (auto d = delegate_.lock()) d->ConverterProgressDelegate_Progress(percent);
}

bool XVConverter::saveTextFile(const QString& text) {
  const QString path = singlePath(QStringLiteral("txt"));
  QString why;
  if (!exportfile::writeFile(path, windowsSupportString(text).toUtf8(), replaceExisting_, &why)) {
    fail(QFileInfo::exists(path) && !replaceExisting_ ? XVErrorText::exportFileExists(QFileInfo(path).fileName())
                                                      : XVErrorText::exportWriteFailed(QFileInfo(path).fileName(), why));
    return false;
  }
  addUrl(path);
  return true;
}

void XVConverter::XVPDFConverterDelegate_End(bool success, XVPDFConverter* converter) {
  bool ok = success && errorInfo().isEmpty();
  if (ok) {
    if (converter_->type() == XVPDFConverter::PageText) {
      const QString text = converter_->textDeleteCache();
      if (!text.isEmpty()) ok = saveTextFile(text);
    } else if (converter_->type() == XVPDFConverter::PdfFile) {
      addUrl(converter_->savePath());
    }
  } else if (!success) {
    fail(converter->errorInfo());
  }
  if (auto d = delegate_.lock()) d->ConverterProgressDelegate_end(ok, urlArray());
}
