#include "platform/revengekit/RichTextPrinter.h"

#include <QAbstractTextDocumentLayout>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QFontMetricsF>
#include <QTextBlock>
#include <QTextTable>
#include <QThread>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextLayout>
#include <QTextList>
#include <QTextObjectInterface>
#include <QUrl>
#include <QVariant>

#include <algorithm>

namespace revengekit {

namespace {

// The factors by which the layout scales the lengths it takes as pixels of the screen on
// `device`: the device's resolution over the screen's (0.75 for a 72-dpi PDF on a 96-dpi
// screen). Measured, as the layout applies them: through the list indent for paragraph
// spacing, indents and padding, and through a tab stop for tabs (their factor is rounded to
// the layout's fixed-point steps).
struct ScreenPixelScale {
  double lengths = 1.0;
  double tabs = 1.0;
};

ScreenPixelScale screenPixelScale(QPaintDevice* device) {
  constexpr double probe = 1000.0;
  QTextDocument document;
  document.setDocumentMargin(0);
  document.setIndentWidth(probe);
  document.documentLayout()->setPaintDevice(device);
  document.setPageSize(QSizeF(100.0 * probe, 100.0 * probe));
  QTextCursor cursor(&document);
  QTextBlockFormat indented;
  indented.setIndent(1);
  cursor.setBlockFormat(indented);
  cursor.insertText(QStringLiteral("x"));
  QTextBlockFormat tabbed;
  tabbed.setTabPositions({QTextOption::Tab(probe, QTextOption::LeftTab)});
  cursor.insertBlock(tabbed);
  cursor.insertText(QStringLiteral("\tx"));
  document.documentLayout()->documentSize();
  auto measured = [](const QTextBlock& block, auto where) {
    const QTextLayout* lines = block.layout();
    const double x = lines && lines->lineCount() > 0 ? where(lines->lineAt(0)) / probe : 0.0;
    return x > 0.0 ? x : 1.0;
  };
  ScreenPixelScale scale;
  scale.lengths = measured(document.firstBlock(), [](const QTextLine& line) { return line.x(); });
  scale.tabs = measured(document.lastBlock(), [](const QTextLine& line) { return line.cursorToX(1); });
  document.documentLayout()->setPaintDevice(nullptr);
  return scale;
}

// The lengths of a document that the layout takes as pixels of the screen: paragraph spacing
// above and below, tab positions and the distance of tabs without one, the list indent, cell
// padding. The document gives them in points; while it is printed each is divided by the
// layout's scale, so that it lands at its size, and multiplied back afterwards.
class ScreenPixelLengths {
 public:
  ScreenPixelLengths(QTextDocument& document, const ScreenPixelScale& scale) : document_(document), scale_(scale) {
    rescale(1.0 / scale_.lengths, 1.0 / scale_.tabs);
  }
  ~ScreenPixelLengths() { rescale(scale_.lengths, scale_.tabs); }
  ScreenPixelLengths(const ScreenPixelLengths&) = delete;
  ScreenPixelLengths& operator=(const ScreenPixelLengths&) = delete;

 private:
  void rescale(double factor, double tabFactor) {
    if (factor == 1.0 && tabFactor == 1.0) return;
    document_.setIndentWidth(document_.indentWidth() * factor);
    QTextOption option = document_.defaultTextOption();
    option.setTabStopDistance(option.tabStopDistance() * tabFactor);
    document_.setDefaultTextOption(option);
    QTextCursor cursor(&document_);
    cursor.beginEditBlock();
    for (QTextBlock block = document_.begin(); block.isValid(); block = block.next()) {
      QTextBlockFormat format = block.blockFormat();
      QList<QTextOption::Tab> tabs = format.tabPositions();
      if (format.topMargin() == 0 && format.bottomMargin() == 0 && tabs.isEmpty()) continue;
      format.setTopMargin(format.topMargin() * factor);
      format.setBottomMargin(format.bottomMargin() * factor);
      for (QTextOption::Tab& tab : tabs) tab.position *= tabFactor;
      if (!tabs.isEmpty()) format.setTabPositions(tabs);
      cursor.setPosition(block.position());
      cursor.setBlockFormat(format);
    }
    rescaleTables(document_.rootFrame(), factor);
    cursor.endEditBlock();
  }
  static void rescaleTables(QTextFrame* frame, double factor) {
    for (QTextFrame* child : frame->childFrames()) {
      if (auto* table = qobject_cast<QTextTable*>(child)) {
        QTextTableFormat format = table->format();
        if (format.cellPadding() != 0) {
          format.setCellPadding(format.cellPadding() * factor);
          table->setFormat(format);
        }
      }
      rescaleTables(child, factor);
    }
  }

  QTextDocument& document_;
  const ScreenPixelScale scale_;
};

// Pictures at the size their format gives, in layout units (points on the printer's device);
// Qt's own handler takes that size as pixels of the screen. A picture whose format gives no
// size takes the size its resolution gives it.
class PictureHandler : public QObject, public QTextObjectInterface {
  Q_OBJECT
  Q_INTERFACES(QTextObjectInterface)

 public:
  using QObject::QObject;

  QSizeF intrinsicSize(QTextDocument* document, int, const QTextFormat& format) override {
    const QTextImageFormat f = format.toImageFormat();
    if (f.width() > 0 && f.height() > 0) return QSizeF(f.width(), f.height());
    const QImage image = picture(document, f);
    if (image.isNull() || image.dotsPerMeterX() <= 0 || image.dotsPerMeterY() <= 0) return QSizeF();
    return QSizeF(image.width() * 72.0 / (image.dotsPerMeterX() * 0.0254),
                  image.height() * 72.0 / (image.dotsPerMeterY() * 0.0254));
  }

  void drawObject(QPainter* painter, const QRectF& rect, QTextDocument* document, int, const QTextFormat& format) override {
    const QImage image = picture(document, format.toImageFormat());
    if (!image.isNull()) painter->drawImage(rect, image);
  }

 private:
  static QImage picture(QTextDocument* document, const QTextImageFormat& format) {
    const QVariant resource = document->resource(QTextDocument::ImageResource, QUrl(format.name()));
    if (resource.canConvert<QImage>()) return resource.value<QImage>();
    return QImage::fromData(resource.toByteArray());
  }
};

void drawPicturesAtTheirSize(QAbstractTextDocumentLayout& layout) {
  if (qobject_cast<PictureHandler*>(dynamic_cast<QObject*>(layout.handlerForObject(QTextFormat::ImageObject)))) return;
  layout.registerHandler(QTextFormat::ImageObject, new PictureHandler(&layout));
}

// A paragraph whose lines run over a page boundary is split there into two paragraphs. Each
// page then holds whole paragraphs only: drawing a page never touches lines of another page
// (the layout draws a line above its clip, and a PDF keeps clipped text for text extraction
// and search).
void splitParagraphsAtPageBreaks(QTextDocument& document, double pageHeight) {
  QAbstractTextDocumentLayout* layout = document.documentLayout();
  for (int pass = 0; pass < 8; ++pass) {
    // Where lines start on a later page than their paragraph, from the finished layout.
    document.markContentsDirty(0, document.characterCount());
    layout->documentSize();
    document.pageCount();
    std::vector<int> splits;
    for (QTextBlock block = document.firstBlock(); block.isValid(); block = block.next()) {
      if (document.frameAt(block.position()) != document.rootFrame()) continue;  // table cells stay whole
      QTextLayout* lines = block.layout();
      if (!lines || lines->lineCount() < 2) continue;
      const double top = layout->blockBoundingRect(block).top();
      const int firstPage = static_cast<int>((top + lines->lineAt(0).y() + 0.5) / pageHeight);
      for (int i = 1; i < lines->lineCount(); ++i) {
        const QTextLine line = lines->lineAt(i);
        if (static_cast<int>((top + line.y() + 0.5) / pageHeight) == firstPage) continue;
        splits.push_back(block.position() + line.textStart());
        break;  // the rest is looked at in the next pass
      }
    }
    if (splits.empty()) return;
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    for (auto it = splits.rbegin(); it != splits.rend(); ++it) {
      cursor.setPosition(*it);
      const QTextBlock block = cursor.block();
      QTextBlockFormat rest = block.blockFormat();
      rest.setTextIndent(0);
      rest.setTopMargin(0);
      rest.setPageBreakPolicy(QTextFormat::PageBreak_Auto);
      QTextBlockFormat head = block.blockFormat();
      head.setBottomMargin(0);
      cursor.setBlockFormat(head);
      cursor.insertBlock(rest);
      if (QTextList* list = cursor.block().textList()) list->remove(cursor.block());
    }
    cursor.endEditBlock();
  }
}

// What a table's columns need, in points at the device: the widest word and the widest line of
// each column (cells spanning several columns left out).
struct ColumnNeeds {
  std::vector<double> word, line;
};

ColumnNeeds measureColumns(const QTextTable& table, QPaintDevice* device) {
  const size_t columns = static_cast<size_t>(table.columns());
  ColumnNeeds needs{std::vector<double>(columns, 0.0), std::vector<double>(columns, 0.0)};
  for (int r = 0; r < table.rows(); ++r) {
    for (int c = 0; c < table.columns(); ++c) {
      const QTextTableCell cell = table.cellAt(r, c);
      if (cell.row() != r || cell.column() != c || cell.columnSpan() > 1) continue;
      double& word = needs.word[static_cast<size_t>(c)];
      double& line = needs.line[static_cast<size_t>(c)];
      for (auto it = cell.begin(); !it.atEnd(); ++it) {
        double run = 0;  // the line so far
        for (auto f = it.currentBlock().begin(); !f.atEnd(); ++f) {
          const QTextFragment fragment = f.fragment();
          const QFontMetricsF metrics(fragment.charFormat().font(), device);
          const QStringList pieces = fragment.text().split(QChar::LineSeparator);
          for (qsizetype i = 0; i < pieces.size(); ++i) {
            if (i > 0) run = 0;
            QString piece = pieces[i];
            piece.replace(QLatin1Char('\t'), QLatin1Char(' '));
            run += metrics.horizontalAdvance(piece);
            line = std::max(line, run);
            for (const QString& w : piece.split(QLatin1Char(' '), Qt::SkipEmptyParts))
              word = std::max(word, metrics.horizontalAdvance(w));
          }
        }
      }
    }
  }
  return needs;
}

// Tables that do not fit the text width. Where the longest words of a table do not fit side
// by side, its letters are scaled down until they do (to a quarter at most). A table whose
// columns take the width of their content (a sheet) and whose lines do not fit then gets
// column widths of its own: each column at least as wide as its longest word, the rest shared
// by what the lines need. So no word is broken across lines but one that cannot fit at all.
void fitWideTables(QTextDocument& document, double width, QPaintDevice* device) {
  const double defaultSize = document.defaultFont().pointSizeF() > 0 ? document.defaultFont().pointSizeF() : 12.0;
  for (QTextFrame* frame : document.rootFrame()->childFrames()) {
    auto* table = qobject_cast<QTextTable*>(frame);
    if (!table || table->columns() == 0) continue;
    const QTextTableFormat tf = table->format();
    const int columns = table->columns();
    // Padding, borders, and a point for the rounding of measured widths.
    const double perColumn = 2.0 * tf.cellPadding() + 2.0 * tf.border() + 2.0;
    const ColumnNeeds needs = measureColumns(*table, device);
    double words = 0, lines = 0;
    for (int c = 0; c < columns; ++c) {
      words += needs.word[static_cast<size_t>(c)];
      lines += needs.line[static_cast<size_t>(c)];
    }
    const double room = width - perColumn * columns - 2.0 * tf.border() - 1.0;
    double factor = 1.0;
    QTextTableFormat fitted = tf;
    if (words + perColumn * columns > width) {
      factor = std::max(0.25, room / std::max(1.0, words) * 0.97);
      fitted.clearColumnWidthConstraints();
      fitted.setWidth(QTextLength(QTextLength::PercentageLength, 100));
      QTextCursor cursor = table->firstCursorPosition();
      cursor.beginEditBlock();
      QTextBlock block = cursor.block();
      const int end = table->lastPosition();
      while (block.isValid() && block.position() <= end) {
        for (auto f = block.begin(); !f.atEnd(); ++f) {
          const QTextFragment fragment = f.fragment();
          QTextCursor part(&document);
          part.setPosition(fragment.position());
          part.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
          QTextCharFormat cf;
          const double size = fragment.charFormat().fontPointSize() > 0 ? fragment.charFormat().fontPointSize() : defaultSize;
          cf.setFontPointSize(size * factor);
          part.mergeCharFormat(cf);
        }
        block = block.next();
      }
      cursor.endEditBlock();
    }
    if (fitted.columnWidthConstraints().isEmpty() && lines * factor > room && room > 0) {
      QList<QTextLength> constraints;
      const double scaledWords = words * factor;
      // Where even the longest words do not fit, the widest columns are narrowed to one cap:
      // only the words wider than it break.
      double cap = room;
      if (scaledWords > room) {
        std::vector<double> sorted = needs.word;
        std::sort(sorted.begin(), sorted.end());
        double used = 0;
        for (size_t i = 0; i < sorted.size(); ++i) {
          const double share = (room - used) / static_cast<double>(sorted.size() - i);
          if (sorted[i] * factor > share) {
            cap = share;
            break;
          }
          used += sorted[i] * factor;
        }
      }
      double spare = 0;
      for (int c = 0; c < columns; ++c)
        spare += std::max(0.0, needs.line[static_cast<size_t>(c)] - needs.word[static_cast<size_t>(c)]) * factor;
      for (int c = 0; c < columns; ++c) {
        const double word = needs.word[static_cast<size_t>(c)] * factor;
        const double line = needs.line[static_cast<size_t>(c)] * factor;
        double w = 0;
        if (scaledWords > room) w = std::min(word, cap);
        else w = word + (spare > 0 ? std::max(0.0, line - word) * (room - scaledWords) / spare : 0.0);
        // Shares of the text width: fixed lengths are taken as pixels of the screen.
        constraints.append(QTextLength(QTextLength::PercentageLength, 100.0 * (w + perColumn) / width));
      }
      fitted.setColumnWidthConstraints(constraints);
      fitted.setWidth(QTextLength(QTextLength::PercentageLength, 100));
    }
    if (fitted != tf) table->setFormat(fitted);
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
  // A converted document belongs to no thread: the printing thread takes it over.
  if (!document.thread()) document.moveToThread(QThread::currentThread());
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
    drawPicturesAtTheirSize(*layout);
    document.setDocumentMargin(0);
    document.setPageSize(body);
    fitWideTables(document, body.width(), &writer);
    const ScreenPixelLengths inPoints(document, screenPixelScale(&writer));
    splitParagraphsAtPageBreaks(document, body.height());
    document.markContentsDirty(0, document.characterCount());
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

#include "RichTextPrinter.moc"
