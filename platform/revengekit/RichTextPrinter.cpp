#include "platform/revengekit/RichTextPrinter.h"

#include <QAbstractTextDocumentLayout>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextList>

#include <algorithm>

namespace revengekit {

namespace {

// A paragraph whose lines run over a page boundary is split there into two paragraphs. Each
// page then holds whole paragraphs only: drawing a page never touches lines of another page
// (the layout draws a line above its clip, and a PDF keeps clipped text for text extraction
// and search).
void splitParagraphsAtPageBreaks(QTextDocument& document, double pageHeight) {
  QAbstractTextDocumentLayout* layout = document.documentLayout();
  for (QTextBlock block = document.firstBlock(); block.isValid(); block = block.next()) {
    if (document.frameAt(block.position()) != document.rootFrame()) continue;  // table cells stay whole
    QTextLayout* lines = block.layout();
    if (!lines || lines->lineCount() < 2) continue;
    const double top = layout->blockBoundingRect(block).top();
    const int firstPage = static_cast<int>((top + lines->lineAt(0).y() + 0.5) / pageHeight);
    for (int i = 1; i < lines->lineCount(); ++i) {
      const QTextLine line = lines->lineAt(i);
      if (static_cast<int>((top + line.y() + 0.5) / pageHeight) == firstPage) continue;
      QTextCursor cursor(&document);
      cursor.setPosition(block.position() + line.textStart());
      QTextBlockFormat rest = block.blockFormat();
      rest.setTextIndent(0);
      rest.setTopMargin(0);
      rest.setPageBreakPolicy(QTextFormat::PageBreak_Auto);
      QTextBlockFormat head = block.blockFormat();
      head.setBottomMargin(0);
      cursor.insertBlock(rest);
      if (QTextList* list = cursor.block().textList()) list->remove(cursor.block());
      QTextCursor(block).setBlockFormat(head);
      break;  // the rest is looked at as the next block
    }
  }
}

}  // namespace

PrintResult printRichText(QTextDocument& document, const QSizeF& paper, const QMarginsF& margins, const QString& path,
                          const std::function<bool()>& cancelled) {
  PrintResult result;
  const double side = std::max(0.0, margins.left());
  const double top = std::max(0.0, margins.top());
  const double bottom = std::max(0.0, margins.bottom());
  const QSizeF body(paper.width() - 2.0 * side, paper.height() - top - bottom);
  if (!paper.isValid() || body.width() < 1.0 || body.height() < 1.0) {
    result.error = QStringLiteral("the page leaves no room for text");
    return result;
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    result.error = file.errorString();
    return result;
  }
  {
    QPdfWriter writer(&file);
    writer.setResolution(72);  // one device unit is one point
    writer.setPageLayout(QPageLayout(QPageSize(paper, QPageSize::Point, QString(), QPageSize::ExactMatch),
                                     QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Point));
    writer.setCreator(QStringLiteral("Lectern"));

    QAbstractTextDocumentLayout* layout = document.documentLayout();
    layout->setPaintDevice(&writer);
    document.setDocumentMargin(0);
    document.setPageSize(body);
    splitParagraphsAtPageBreaks(document, body.height());
    const int pages = std::max(1, document.pageCount());

    QPainter painter;
    if (!painter.begin(&writer)) {
      layout->setPaintDevice(nullptr);
      result.error = QStringLiteral("the PDF cannot be started");
      file.cancelWriting();
      return result;
    }
    bool stopped = false;
    for (int page = 0; page < pages; ++page) {
      if (cancelled && cancelled()) {
        stopped = true;
        break;
      }
      if (page > 0 && !writer.newPage()) {
        result.error = QStringLiteral("a page cannot be added");
        stopped = true;
        break;
      }
      const QRectF slice(0, page * body.height(), body.width(), body.height());
      painter.save();
      painter.translate(side, top - slice.top());
      painter.setClipRect(slice);
      QAbstractTextDocumentLayout::PaintContext context;
      // Lines touching the slice's edges belong to the neighbouring pages: leave them out, so
      // that no clipped text of theirs is written to this page.
      context.clip = slice.adjusted(0, 0.5, 0, -0.5);
      layout->draw(&painter, context);
      painter.restore();
    }
    painter.end();
    layout->setPaintDevice(nullptr);
    if (stopped) {
      if (result.error.isEmpty()) result.error = QStringLiteral("cancelled");
      file.cancelWriting();
      return result;
    }
    result.pages = pages;
  }
  if (!file.commit()) {
    result.error = file.errorString();
    result.pages = 0;
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace revengekit
