// Reads arbitrary bytes as a PDF, turns its pages and writes it back, then prints its first
// pages to a file, and writes the turns back onto the input. What is written must open again with
// the same pages and rotations.
#include <unistd.h>

#include <QDir>
#include <QRegularExpression>
#include <QString>
#include <QVariant>
#include <poppler-qt6.h>

#include <cstdint>
#include <cstdlib>

#include "platform/foundation/log.h"
#include "platform/pdfkit/PDFDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = (foundation::setLogSink([](const foundation::LogRecord&) {}),
                       Poppler::setDebugErrorFunction([](const QString&, const QVariant&) {}, QVariant()), true);
  (void)quiet;
  static const QString dir = [] {
    char tmpl[] = "/tmp/pdf-write-fuzz-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) std::abort();
    return QString::fromLatin1(tmpl);
  }();
  static const bool cleanup = (std::atexit([] { QDir(dir).removeRecursively(); }), true);
  (void)cleanup;
  const QString src = dir + QStringLiteral("/in.pdf");
  const QString out = dir + QStringLiteral("/out.pdf");
  const QString print = dir + QStringLiteral("/print.pdf");
  QFile::remove(out);
  QFile::remove(print);
  {
    QFile f(src);
    if (!f.open(QIODevice::WriteOnly) || f.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
      std::abort();
  }
  auto doc = pdfkit::PDFDocument::initWithURL(src);
  if (!doc || doc->pageCount() > 64) return 0;  // a bounded write per input
  QList<int> rotations;
  for (int i = 0; i < doc->pageCount(); ++i) {
    doc->pageAtIndex(i)->setRotation(doc->pageAtIndex(i)->rotation() + 90 * (i + 1));
    rotations << doc->pageAtIndex(i)->rotation();
  }
  if (doc->writeToFile(out)) {
    auto back = pdfkit::PDFDocument::initWithURL(out);
    if (!back || back->pageCount() != doc->pageCount()) std::abort();
    for (int i = 0; i < back->pageCount(); ++i) {
      // A page that does not load (no page object) has no rotation to keep.
      if (doc->pageAtIndex(i)->size().isValid() && back->pageAtIndex(i)->rotation() != rotations[i]) std::abort();
    }
  } else if (QFileInfo::exists(out)) {
    std::abort();  // a failed write leaves nothing behind
  }
  QList<int> pages;
  for (int i = 0; i < doc->pageCount() && i < 2; ++i) pages << i;
  if (!pages.isEmpty() && doc->writePrintToFile(print, pages, QSizeF(595, 842), QRectF(18, 18, 559, 806), true, {0})) {
    auto back = pdfkit::PDFDocument::initWithURL(print);
    if (!back || back->pageCount() != pages.size()) std::abort();
  }
  // The turns written back onto the input itself: only the pages they changed.
  if (doc->writeRotationChangesToFile(src)) {
    auto back = pdfkit::PDFDocument::initWithURL(src);
    if (!back || back->pageCount() != doc->pageCount()) std::abort();
    for (int i = 0; i < back->pageCount(); ++i) {
      if (doc->pageAtIndex(i)->size().isValid() && back->pageAtIndex(i)->rotation() != rotations[i]) std::abort();
    }
  } else {
    QFile f(src);
    if (!f.open(QIODevice::ReadOnly) || f.readAll() != QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)))
      std::abort();  // a failed write leaves the file as it was
  }
  const QRegularExpression temporary(QStringLiteral("^\\.(out|in)\\.pdf\\."));
  const QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden).filter(temporary);
  if (!left.isEmpty()) std::abort();  // no temporary file is left
  return 0;
}
