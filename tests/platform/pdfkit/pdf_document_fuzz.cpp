// Reads arbitrary bytes as a PDF: open, then per page its size, rotation, label and text, a
// selection, and a find of a word taken from the text.
#include <QString>
#include <QVariant>
#include <poppler-qt6.h>

#include <cstdint>
#include <cstdlib>

#include "platform/foundation/log.h"
#include "platform/pdfkit/PDFDocument.h"
#include "support/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = (foundation::setLogSink([](const foundation::LogRecord&) {}),
                       Poppler::setDebugErrorFunction([](const QString&, const QVariant&) {}, QVariant()), true);
  (void)quiet;
  const auto path = testsupport::writeFuzzInput("input.pdf", data, size);
  auto doc = pdfkit::PDFDocument::initWithURL(QString::fromStdString(path.string()));
  if (!doc) return 0;
  constexpr int kPages = 8;  // enough to reach every road; keeps one input fast
  QString word;
  for (int i = 0; i < doc->pageCount() && i < kPages; ++i) {
    pdfkit::PDFPage* page = doc->pageAtIndex(i);
    if (page == nullptr || doc->indexForPage(page) != i) std::abort();
    const QSizeF s = page->displaySize();
    page->setRotation(page->rotation() + 90);
    if (page->rotation() % 90 != 0 || page->rotation() < 0 || page->rotation() >= 360) std::abort();
    if (page->label().isEmpty()) std::abort();
    const QString text = page->string();
    (void)page->selectionForRect(QRectF(QPointF(0, 0), s / 2));
    if (word.isEmpty()) word = text.simplified().section(QLatin1Char(' '), 0, 0).left(12);
  }
  if (!word.isEmpty()) {
    for (const auto& hit : doc->findString(word)) {
      if (hit.page() == nullptr || hit.page()->document() != doc.get()) std::abort();
    }
  }
  return 0;
}
