#pragma once
// Small PDFs for tests, drawn with QPdfWriter (needs a QGuiApplication), and an event pump
// for code that reports through the main queue and queued Qt calls.

#include <QCoreApplication>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QString>
#include <QStringList>
#include <QThread>

#include <chrono>
#include <functional>
#include <vector>

#include "platform/foundation/dispatcher.h"

namespace testsupport {

struct PdfPageContent {
  QStringList lines;     // drawn from the top, one per line
  bool landscape = false;
};

// Writes one page per entry (A4 portrait or landscape).
inline bool writePdf(const QString& path, const std::vector<PdfPageContent>& pages) {
  QPdfWriter writer(path);
  writer.setResolution(72);
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setPageMargins(QMarginsF(0, 0, 0, 0));
  if (!pages.empty()) writer.setPageOrientation(pages[0].landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
  QPainter painter;
  if (!painter.begin(&writer)) return false;
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(12);
  painter.setFont(font);
  for (size_t i = 0; i < pages.size(); ++i) {
    if (i > 0) {
      writer.setPageOrientation(pages[i].landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
      writer.newPage();
    }
    int y = 60;
    for (const QString& line : pages[i].lines) {
      painter.drawText(60, y, line);
      y += 20;
    }
  }
  return painter.end();
}

// `count` portrait pages, page i reading "Page <i+1>" and, on every page listed in `wordPages`,
// also `word`.
inline bool writeNumberedPdf(const QString& path, int count, const QString& word = QString(),
                             const std::vector<int>& wordPages = {}) {
  std::vector<PdfPageContent> pages(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) pages[static_cast<size_t>(i)].lines << QStringLiteral("Page %1").arg(i + 1);
  for (int i : wordPages) pages[static_cast<size_t>(i)].lines << QStringLiteral("the %1 is here").arg(word);
  return writePdf(path, pages);
}

// Runs the main queue and Qt events until `done()` or the timeout; answers done().
inline bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    foundation::Dispatcher::drainMain();
    QCoreApplication::processEvents();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    QThread::msleep(2);
  }
}

// Runs the main queue and Qt events for a while.
inline void pumpFor(std::chrono::milliseconds span) {
  pumpUntil([] { return false; }, span);
}

}  // namespace testsupport
