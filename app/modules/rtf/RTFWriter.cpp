#include "modules/rtf/RTFWriter.h"

#include <QColor>
#include <QList>
#include <QMap>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextFrame>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>
#include <QUrl>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <vector>

#include "modules/rtf/RTFReader.h"

namespace rtf {

namespace {

constexpr int kListLevels = 9;
constexpr double kDefaultTextWidth = 468.0;  // 6.5 inches, where the document sets none

QByteArray number(long long n) { return QByteArray::number(n); }
long long twips(double pt) { return std::isfinite(pt) ? std::llround(std::clamp(pt, -1e6, 1e6) * 20.0) : 0; }

class Writer {
 public:
  Writer(const QTextDocument& document, const std::function<QString(const QImage&)>& attach)
      : document_(document), attach_(attach) {
    font(document.defaultFont().family());
  }

  QByteArray write() {
    frame(document_.rootFrame(), 0);
    QByteArray out = "{\\rtf1\\ansi\\ansicpg1252\\uc1\\deff0\n{\\fonttbl";
    for (int i = 0; i < fonts_.size(); ++i) out += "{\\f" + number(i) + "\\fnil " + RTFWriter::escape(fonts_[i]) + ";}";
    out += "}\n{\\colortbl;";
    for (const QColor& c : colours_)
      out += "\\red" + number(c.red()) + "\\green" + number(c.green()) + "\\blue" + number(c.blue()) + ';';
    out += "}\n";
    if (!lists_.isEmpty()) {
      out += "{\\*\\listtable\n";
      for (int i = 0; i < lists_.size(); ++i) out += listDefinition(lists_[i], i + 1);
      out += "}\n{\\*\\listoverridetable";
      for (int i = 0; i < lists_.size(); ++i)
        out += "{\\listoverride\\listid" + number(i + 1) + "\\listoverridecount0\\ls" + number(i + 1) + '}';
      out += "}\n";
    }
    out += body_;
    out += "}\n";
    return out;
  }

 private:
  int font(const QString& family) {
    QString name = family.trimmed();
    name.remove(QLatin1Char(';'));
    if (name.isEmpty()) name = QStringLiteral("Helvetica");
    qsizetype i = fonts_.indexOf(name);
    if (i < 0) {
      fonts_ << name;
      i = fonts_.size() - 1;
    }
    return static_cast<int>(i);
  }

  // A colour's index in the colour table (index 0 is the automatic colour).
  int colour(const QColor& c) {
    const QColor rgb = c.toRgb();
    for (int i = 0; i < colours_.size(); ++i)
      if (colours_[i].rgb() == rgb.rgb()) return i + 1;
    colours_.append(rgb);
    return static_cast<int>(colours_.size());
  }

  static bool hasBrush(const QTextFormat& f, int property) {
    return f.hasProperty(property) && f.brushProperty(property).style() != Qt::NoBrush;
  }

  QString family(const QTextCharFormat& f) const {
    const QString first = f.fontFamilies().toStringList().value(0);
    if (!first.isEmpty()) return first;
    if (f.hasProperty(QTextFormat::FontFamily)) return f.stringProperty(QTextFormat::FontFamily);
    return document_.defaultFont().family();
  }

  // Character formats after \plain.
  QByteArray charFormat(const QTextCharFormat& f) {
    QByteArray out = "\\f" + number(font(family(f)));
    double size = f.fontPointSize();
    if (!(size > 0)) size = document_.defaultFont().pointSizeF();
    if (!(size > 0)) size = 12;
    out += "\\fs" + number(std::clamp<long long>(std::llround(size * 2), 1, 3276));
    if (f.fontWeight() >= QFont::DemiBold) out += "\\b";
    if (f.fontItalic()) out += "\\i";
    if (f.fontUnderline()) out += "\\ul";
    if (f.fontStrikeOut()) out += "\\strike";
    if (hasBrush(f, QTextFormat::ForegroundBrush)) out += "\\cf" + number(colour(f.foreground().color()));
    if (hasBrush(f, QTextFormat::BackgroundBrush)) out += "\\highlight" + number(colour(f.background().color()));
    if (f.verticalAlignment() == QTextCharFormat::AlignSuperScript) out += "\\super";
    if (f.verticalAlignment() == QTextCharFormat::AlignSubScript) out += "\\sub";
    return out;
  }

  int listIndex(QTextList* list) {
    qsizetype i = lists_.indexOf(list);
    if (i < 0) {
      lists_.append(list);
      i = lists_.size() - 1;
    }
    return static_cast<int>(i + 1);
  }

  static int listLevel(const QTextListFormat& f) { return std::clamp(f.indent() - 1, 0, kListLevels - 1); }

  static bool isBullet(QTextListFormat::Style style) {
    return style == QTextListFormat::ListDisc || style == QTextListFormat::ListCircle || style == QTextListFormat::ListSquare;
  }

  static QString bullet(QTextListFormat::Style style) {
    switch (style) {
      case QTextListFormat::ListCircle: return QString(QChar(0x25E6));
      case QTextListFormat::ListSquare: return QString(QChar(0x25AA));
      default: return QString(QChar(0x2022));
    }
  }

  static QString suffix(const QTextListFormat& f) {
    return f.hasProperty(QTextFormat::ListNumberSuffix) ? f.numberSuffix() : QStringLiteral(".");
  }

  QByteArray listDefinition(QTextList* list, int id) const {
    const QTextListFormat f = list->format();
    int nfc = 0;
    switch (f.style()) {
      case QTextListFormat::ListUpperRoman: nfc = 1; break;
      case QTextListFormat::ListLowerRoman: nfc = 2; break;
      case QTextListFormat::ListUpperAlpha: nfc = 3; break;
      case QTextListFormat::ListLowerAlpha: nfc = 4; break;
      case QTextListFormat::ListDisc:
      case QTextListFormat::ListCircle:
      case QTextListFormat::ListSquare: nfc = 23; break;
      default: nfc = 0; break;
    }
    QByteArray out = "{\\list\\listtemplateid" + number(id);
    for (int level = 0; level < kListLevels; ++level) {
      out += "{\\listlevel\\levelnfc" + number(nfc) + "\\levelnfcn" + number(nfc) + "\\leveljc0\\leveljcn0\\levelfollow0";
      out += "\\levelstartat1";
      if (nfc == 23) {
        out += "{\\leveltext\\'01" + RTFWriter::escape(bullet(f.style())) + ";}{\\levelnumbers;}";
      } else {
        const QString prefix = f.numberPrefix();
        const QString after = suffix(f);
        const int length = static_cast<int>(prefix.size() + 1 + after.size());
        out += "{\\leveltext\\'" + QByteArray::number(std::min(length, 255), 16).rightJustified(2, '0') +
               RTFWriter::escape(prefix) + "\\'" + QByteArray::number(level, 16).rightJustified(2, '0') +
               RTFWriter::escape(after) + ";}";
        const qsizetype place = std::min<qsizetype>(prefix.size() + 1, 255);
        out += "{\\levelnumbers\\'" + QByteArray::number(place, 16).rightJustified(2, '0') + ";}";
      }
      out += "\\fi-" + number(kListHangTwips) + "\\li" + number(twips((level + 1) * document_.indentWidth())) + '}';
    }
    out += "\\listid" + number(id) + "}\n";
    return out;
  }

  // The paragraph formats after \pard.
  QByteArray blockFormat(const QTextBlock& block, int depth, bool pageBreak) {
    const QTextBlockFormat f = block.blockFormat();
    QByteArray out;
    if (depth > 0) out += "\\intbl";
    if (depth > 1) out += "\\itap" + number(depth);
    const Qt::Alignment align = f.alignment() & Qt::AlignHorizontal_Mask;
    if (align & Qt::AlignHCenter) out += "\\qc";
    else if (align & (Qt::AlignRight | Qt::AlignTrailing)) out += "\\qr";
    else if (align & Qt::AlignJustify) out += "\\qj";
    double left = f.leftMargin();
    double first = f.textIndent();
    QTextList* list = block.textList();
    if (list) {
      left += (listLevel(list->format()) + 1) * document_.indentWidth();
      first -= kListHangTwips / 20.0;
    }
    if (twips(left)) out += "\\li" + number(twips(left));
    if (twips(f.rightMargin())) out += "\\ri" + number(twips(f.rightMargin()));
    if (twips(first)) out += "\\fi" + number(twips(first));
    if (twips(f.topMargin())) out += "\\sb" + number(twips(f.topMargin()));
    if (twips(f.bottomMargin())) out += "\\sa" + number(twips(f.bottomMargin()));
    const double height = f.lineHeight();
    switch (f.lineHeightType()) {
      case QTextBlockFormat::ProportionalHeight:
        if (height > 0) out += "\\sl" + number(std::llround(height * 2.4)) + "\\slmult1";
        break;
      case QTextBlockFormat::FixedHeight:
        if (twips(height) > 0) out += "\\sl-" + number(twips(height)) + "\\slmult0";
        break;
      case QTextBlockFormat::MinimumHeight:
        if (twips(height) > 0) out += "\\sl" + number(twips(height)) + "\\slmult0";
        break;
      default: break;
    }
    if (pageBreak || (f.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore)) out += "\\pagebb";
    for (const QTextOption::Tab& tab : f.tabPositions()) {
      if (tab.type == QTextOption::RightTab) out += "\\tqr";
      if (tab.type == QTextOption::CenterTab) out += "\\tqc";
      if (tab.type == QTextOption::DelimiterTab) out += "\\tqdec";
      out += "\\tx" + number(std::max(0LL, twips(tab.position)));
    }
    if (list) out += "\\ls" + number(listIndex(list)) + "\\ilvl" + number(listLevel(list->format()));
    return out;
  }

  QByteArray picture(const QTextImageFormat& image) {
    const QVariant resource = document_.resource(QTextDocument::ImageResource, QUrl(image.name()));
    QImage pixels = resource.value<QImage>();
    if (pixels.isNull()) pixels = QImage::fromData(resource.toByteArray());
    if (pixels.isNull()) return QByteArray();
    const QString name = attach_ ? attach_(pixels) : QString();
    if (name.isEmpty()) return QByteArray();
    const double w = image.width() > 0 ? image.width() : pixels.width();
    const double h = image.height() > 0 ? image.height() : pixels.height();
    return "{\\*\\NeXTGraphic " + RTFWriter::escape(name) + " \\width" + number(twips(w)) + " \\height" +
           number(twips(h)) + '}';
  }

  // One paragraph; `end` is what ends it (\par, \cell, \nestcell). The first block of a
  // cell holds the cell's format as its own: its end leaves out the cell's colour.
  void block(const QTextBlock& block, int depth, bool pageBreak, const char* end, const QTextTableCell* cell) {
    QTextCharFormat mark = block.charFormat();
    if (cell && cell->firstCursorPosition().block() == block && mark.background() == cell->format().background())
      mark.clearBackground();
    body_ += "\\pard\\plain" + blockFormat(block, depth, pageBreak) + ' ';
    if (QTextList* list = block.textList()) {
      const QString marker = isBullet(list->format().style()) ? bullet(list->format().style()) : list->itemText(block);
      body_ += "{\\listtext\\pard\\plain" + charFormat(mark) + ' ' + RTFWriter::escape(marker) + "\\tab}";
    }
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.isValid()) continue;
      const QTextCharFormat format = fragment.charFormat();
      if (format.isImageFormat()) {
        // Each object character of the fragment is one picture.
        const QByteArray reference = picture(format.toImageFormat());
        if (reference.isEmpty()) continue;
        for (int i = 0; i < fragment.length(); ++i) body_ += "{\\plain" + charFormat(format) + ' ' + reference + '}';
        continue;
      }
      body_ += "{\\plain" + charFormat(format) + ' ' + RTFWriter::escape(fragment.text()) + '}';
    }
    body_ += "\\plain" + charFormat(mark) + end + '\n';
  }

  // The blocks and tables of a frame; `cellEnd` ends the frame's last block when the frame
  // is a table cell.
  void children(QTextFrame::iterator it, int depth, bool pageBreak, const char* cellEnd,
                const QTextTableCell* cell = nullptr) {
    std::vector<QTextFrame::iterator> items;
    for (; !it.atEnd(); ++it) items.push_back(it);
    for (size_t i = 0; i < items.size(); ++i) {
      const bool last = i + 1 == items.size();
      if (QTextFrame* child = items[i].currentFrame()) {
        if (auto* t = qobject_cast<QTextTable*>(child)) table(t, depth + 1);
        else children(child->begin(), depth, pageBreak, last ? cellEnd : nullptr);
      } else {
        block(items[i].currentBlock(), depth, pageBreak, last && cellEnd ? cellEnd : "\\par", cell);
      }
      pageBreak = false;
    }
  }

  void frame(QTextFrame* f, int depth) { children(f->begin(), depth, false, nullptr); }

  QByteArray border(const char* side, const QTextTableFormat& f) {
    QByteArray out = QByteArray("\\clbrdr") + side + "\\brdrs\\brdrw" + number(std::max(1LL, twips(f.border())));
    if (hasBrush(f, QTextFormat::FrameBorderBrush)) out += "\\brdrcf" + number(colour(f.borderBrush().color()));
    return out;
  }

  void table(QTextTable* t, int depth) {
    const QTextTableFormat tf = t->format();
    const int columns = t->columns();
    const double available = document_.textWidth() > 0 ? document_.textWidth() : kDefaultTextWidth;
    const QList<QTextLength> constraints = tf.columnWidthConstraints();
    const bool constrained = constraints.size() == columns;
    const bool bordered = tf.border() > 0 && tf.borderStyle() != QTextFrameFormat::BorderStyle_None;

    QByteArray row = "\\trowd\\trgaph" + number(twips(tf.cellPadding()));
    for (const char* side : {"l", "r", "t", "b"})
      row += QByteArray("\\trpadd") + side + number(twips(tf.cellPadding())) + "\\trpaddf" + side + "3";
    const Qt::Alignment align = tf.alignment() & Qt::AlignHorizontal_Mask;
    if (align & Qt::AlignHCenter) row += "\\trqc";
    else if (align & Qt::AlignRight) row += "\\trqr";
    const QTextLength width = tf.width();
    if (width.type() == QTextLength::PercentageLength)
      row += "\\trftsWidth2\\trwWidth" + number(std::llround(width.rawValue() * 50));
    if (width.type() == QTextLength::FixedLength) row += "\\trftsWidth3\\trwWidth" + number(twips(width.rawValue()));

    for (int r = 0; r < t->rows(); ++r) {
      QByteArray definition = row;
      double edge = 0;
      for (int c = 0; c < columns; ++c) {
        const QTextTableCell cell = t->cellAt(r, c);
        if (cell.row() == r && cell.rowSpan() > 1) definition += "\\clvmgf";
        if (cell.row() < r) definition += "\\clvmrg";
        if (cell.column() == c && cell.columnSpan() > 1) definition += "\\clmgf";
        if (cell.column() < c) definition += "\\clmrg";
        const QTextCharFormat cf = cell.format();
        if (cf.verticalAlignment() == QTextCharFormat::AlignMiddle) definition += "\\clvertalc";
        if (cf.verticalAlignment() == QTextCharFormat::AlignBottom) definition += "\\clvertalb";
        if (bordered)
          for (const char* side : {"t", "l", "b", "r"}) definition += border(side, tf);
        if (hasBrush(cf, QTextFormat::BackgroundBrush)) definition += "\\clcbpat" + number(colour(cf.background().color()));
        const QTextLength length = constrained ? constraints[c] : QTextLength();
        double w = available / columns;
        if (length.type() == QTextLength::FixedLength) {
          w = length.rawValue();
          definition += "\\clftsWidth3\\clwWidth" + number(twips(w));
        } else if (length.type() == QTextLength::PercentageLength) {
          w = available * length.rawValue() / 100.0;
          definition += "\\clftsWidth2\\clwWidth" + number(std::llround(length.rawValue() * 50));
        } else {
          definition += "\\clftsWidth1";
        }
        edge += w;
        definition += "\\cellx" + number(twips(edge));
      }
      if (depth == 1) body_ += definition + '\n';
      const char* cellEnd = depth == 1 ? "\\cell" : "\\nestcell";
      for (int c = 0; c < columns; ++c) {
        const QTextTableCell cell = t->cellAt(r, c);
        if (cell.row() != r || cell.column() != c) {
          body_ += "\\pard\\plain\\intbl" + (depth > 1 ? "\\itap" + number(depth) : QByteArray()) + ' ' + cellEnd + '\n';
          continue;
        }
        const bool pageBreak = r == 0 && c == 0 && (tf.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore);
        children(cell.begin(), depth, pageBreak, cellEnd, &cell);
      }
      if (depth == 1) body_ += "\\row\n";
      else body_ += "{\\*\\nesttableprops" + definition + "\\nestrow}{\\nonesttables\\par}\n";
    }
  }

  const QTextDocument& document_;
  const std::function<QString(const QImage&)>& attach_;
  QList<QString> fonts_;
  QList<QColor> colours_;  // the colour table after its automatic entry
  QList<QTextList*> lists_;
  QByteArray body_;
};

}  // namespace

QByteArray RTFWriter::escape(const QString& text) {
  QByteArray out;
  for (QChar ch : text) {
    const char16_t c = ch.unicode();
    if (c == '\\' || c == '{' || c == '}') {
      out += '\\';
      out += char(c);
    } else if (c == '\t') {
      out += "\\tab ";
    } else if (c == 0x2028 || c == '\n') {
      out += "\\line ";
    } else if (c >= 0x20 && c < 0x7F) {
      out += char(c);
    } else if (c < 0x20 || c == 0x7F) {
      // Other control characters carry nothing to keep.
    } else {
      // \uN takes a signed 16-bit value; characters past the BMP go as their surrogate pair.
      out += "\\u" + QByteArray::number(static_cast<qint16>(c)) + '?';
    }
  }
  return out;
}

QByteArray RTFWriter::write(const QTextDocument& document, const std::function<QString(const QImage&)>& attach) {
  return Writer(document, attach).write();
}

}  // namespace rtf
