#pragma once
// Lays rich text out into a PDF: pages of the given paper size, the text inside the margins
// (the left margin stands on both sides), page by page. The PDF is written to a temporary
// file beside `path` and takes its name only when complete.

#include <QMarginsF>
#include <QSizeF>
#include <QString>

#include <functional>

class QTextDocument;

namespace revengekit {

struct PrintResult {
  bool ok = false;
  int pages = 0;
  QString error;
};

// Lays `document` out for the page and keeps what fitting it took: paragraphs split where
// pages end, wide tables narrowed. Every length of the document is taken as points, pictures
// at the size their format gives. `margins` are left, top, right and bottom; only left, top
// and bottom are used, the left one on both sides. `cancelled` is asked between pages.
PrintResult printRichText(QTextDocument& document, const QSizeF& paper, const QMarginsF& margins, const QString& path,
                          const std::function<bool()>& cancelled = {});

}  // namespace revengekit
