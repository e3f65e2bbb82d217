#pragma once
// Compares two QTextDocuments as a reader sees them: the same frames, blocks and tables in
// the same order; each block's format, list and runs (fragments merged where the compared
// character formats agree); each table's format and cells. Lengths agree within a twip,
// proportional line heights within a quarter of a percent.

#include <QColor>
#include <QImage>
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

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace richtext {

struct Options {
  bool pictures = true;     // compare pictures' pixels too
  bool tableWidths = true;  // compare tables' and columns' widths
  bool lastEmptyParagraph = true;  // compare the format of the document's last paragraph when empty
  double length = 0.051;    // points
  double percent = 0.25;
};

namespace detail {

inline std::string str(const QString& s) { return s.toStdString(); }

inline std::string colourOf(const QTextFormat& f, int property) {
  if (!f.hasProperty(property)) return "none";
  const QBrush brush = f.brushProperty(property);
  if (brush.style() == Qt::NoBrush) return "none";
  return str(brush.color().name());
}

class Comparer {
 public:
  Comparer(const QTextDocument& a, const QTextDocument& b, const Options& options) : a_(a), b_(b), o_(options) {}

  std::string run() {
    frame(a_.rootFrame(), b_.rootFrame(), "document");
    return out_.str();
  }

 private:
  bool failed() const { return !out_.str().empty(); }

  template <typename T>
  void same(const std::string& where, const char* what, const T& x, const T& y) {
    if (failed() || x == y) return;
    out_ << where << ": " << what << " " << x << " vs " << y;
  }
  void near(const std::string& where, const char* what, double x, double y, double tolerance) {
    if (failed() || std::fabs(x - y) <= tolerance) return;
    out_ << where << ": " << what << " " << x << " vs " << y;
  }

  void text(const std::string& where, const QString& x, const QString& y) {
    if (failed() || x == y) return;
    qsizetype at = 0;
    while (at < x.size() && at < y.size() && x[at] == y[at]) ++at;
    out_ << where << ": text differs at " << at << ": U+" << std::hex << (at < x.size() ? x[at].unicode() : 0) << " vs U+"
         << (at < y.size() ? y[at].unicode() : 0) << std::dec << " (lengths " << x.size() << ", " << y.size() << ")";
  }

  QString family(const QTextDocument& d, const QTextCharFormat& f) const {
    const QString first = f.fontFamilies().toStringList().value(0);
    if (!first.isEmpty()) return first;
    if (f.hasProperty(QTextFormat::FontFamily)) return f.stringProperty(QTextFormat::FontFamily);
    return d.defaultFont().family();
  }
  double size(const QTextDocument& d, const QTextCharFormat& f) const {
    return f.fontPointSize() > 0 ? f.fontPointSize() : d.defaultFont().pointSizeF();
  }

  // The character formats a reader sees, as one comparable text.
  std::string charKey(const QTextDocument& d, const QTextCharFormat& f) const {
    std::ostringstream k;
    k << "font '" << str(family(d, f)) << "' " << size(d, f) << "pt";
    if (f.fontWeight() >= QFont::DemiBold) k << " bold";
    if (f.fontItalic()) k << " italic";
    if (f.fontUnderline()) k << " underline";
    if (f.fontStrikeOut()) k << " strike";
    k << " colour " << colourOf(f, QTextFormat::ForegroundBrush) << " background "
      << colourOf(f, QTextFormat::BackgroundBrush);
    if (f.verticalAlignment() == QTextCharFormat::AlignSuperScript) k << " super";
    if (f.verticalAlignment() == QTextCharFormat::AlignSubScript) k << " sub";
    return k.str();
  }

  struct Run {
    std::string key;
    QString text;
    QTextImageFormat image;  // valid for a picture
  };

  std::vector<Run> runs(const QTextDocument& d, const QTextBlock& block) const {
    std::vector<Run> out;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      const QTextCharFormat f = fragment.charFormat();
      if (f.isImageFormat()) {
        for (int i = 0; i < fragment.length(); ++i) out.push_back(Run{charKey(d, f), QString(), f.toImageFormat()});
        continue;
      }
      const std::string key = charKey(d, f);
      if (!out.empty() && !out.back().image.isValid() && out.back().key == key) out.back().text += fragment.text();
      else out.push_back(Run{key, fragment.text(), QTextImageFormat()});
    }
    return out;
  }

  QImage picture(const QTextDocument& d, const QTextImageFormat& f) const {
    const QVariant v = d.resource(QTextDocument::ImageResource, QUrl(f.name()));
    QImage image = v.value<QImage>();
    if (image.isNull()) image = QImage::fromData(v.toByteArray());
    return image.convertToFormat(QImage::Format_ARGB32);
  }

  int listOrdinal(std::map<const QTextList*, int>& seen, const QTextList* list) {
    if (!list) return 0;
    auto it = seen.find(list);
    if (it == seen.end()) it = seen.emplace(list, static_cast<int>(seen.size()) + 1).first;
    return it->second;
  }

  void block(const QTextBlock& x, const QTextBlock& y, const std::string& where) {
    const QTextBlockFormat fx = x.blockFormat(), fy = y.blockFormat();
    auto align = [](const QTextBlockFormat& f) {
      const int a = static_cast<int>(f.alignment() & Qt::AlignHorizontal_Mask);
      return a == 0 || a == Qt::AlignLeading ? static_cast<int>(Qt::AlignLeft) : a;
    };
    same(where, "alignment", align(fx), align(fy));
    near(where, "left margin", fx.leftMargin(), fy.leftMargin(), o_.length);
    near(where, "right margin", fx.rightMargin(), fy.rightMargin(), o_.length);
    near(where, "top margin", fx.topMargin(), fy.topMargin(), o_.length);
    near(where, "bottom margin", fx.bottomMargin(), fy.bottomMargin(), o_.length);
    near(where, "text indent", fx.textIndent(), fy.textIndent(), o_.length);
    same(where, "line height type", fx.lineHeightType(), fy.lineHeightType());
    if (fx.lineHeightType() != QTextBlockFormat::SingleHeight)
      near(where, "line height", fx.lineHeight(), fy.lineHeight(),
           fx.lineHeightType() == QTextBlockFormat::ProportionalHeight ? o_.percent : o_.length);
    same(where, "page break before", bool(fx.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore),
         bool(fy.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore));
    const QList<QTextOption::Tab> tx = fx.tabPositions(), ty = fy.tabPositions();
    same(where, "tab stops", tx.size(), ty.size());
    for (qsizetype i = 0; i < std::min(tx.size(), ty.size()); ++i) {
      near(where, "tab position", tx[i].position, ty[i].position, o_.length);
      same(where, "tab type", int(tx[i].type), int(ty[i].type));
      if (tx[i].type == QTextOption::DelimiterTab) same(where, "tab delimiter", int(tx[i].delimiter.unicode()), int(ty[i].delimiter.unicode()));
    }
    const QTextList* lx = x.textList();
    const QTextList* ly = y.textList();
    same(where, "list", listOrdinal(listsA_, lx), listOrdinal(listsB_, ly));
    if (lx && ly) {
      const QTextListFormat a = lx->format(), b = ly->format();
      same(where, "list style", int(a.style()), int(b.style()));
      same(where, "list indent", a.indent(), b.indent());
      same(where, "list marker", str(lx->itemText(x)), str(ly->itemText(y)));
    }
    const std::vector<Run> rx = runs(a_, x), ry = runs(b_, y);
    if (rx.empty() && ry.empty() && (o_.lastEmptyParagraph || x.next().isValid())) {
      // An empty paragraph shows its own format.
      same(where, "empty paragraph format", charKey(a_, x.charFormat()), charKey(b_, y.charFormat()));
    }
    same(where, "runs", rx.size(), ry.size());
    for (size_t i = 0; i < std::min(rx.size(), ry.size()); ++i) {
      const std::string w = where + " run " + std::to_string(i) + " '" + str(rx[i].text.left(40)) + "'";
      text(w, rx[i].text, ry[i].text);
      same(w, "format", rx[i].key, ry[i].key);
      same(w, "picture", rx[i].image.isValid(), ry[i].image.isValid());
      if (!rx[i].image.isValid() || !ry[i].image.isValid()) continue;
      // A picture without a size shows at its pixels' size.
      const QImage px = picture(a_, rx[i].image), py = picture(b_, ry[i].image);
      auto width = [](const QTextImageFormat& f, const QImage& i) { return f.width() > 0 ? f.width() : i.width(); };
      auto height = [](const QTextImageFormat& f, const QImage& i) { return f.height() > 0 ? f.height() : i.height(); };
      near(w, "picture width", width(rx[i].image, px), width(ry[i].image, py), o_.length);
      near(w, "picture height", height(rx[i].image, px), height(ry[i].image, py), o_.length);
      if (o_.pictures && !failed() && px != py) out_ << w << ": picture pixels differ";
    }
  }

  // Widths agree within a twip, or within a fiftieth of a percent.
  void sameLength(const std::string& where, const char* what, const QTextLength& x, const QTextLength& y) {
    same(where, what, int(x.type()), int(y.type()));
    if (x.type() != QTextLength::VariableLength)
      near(where, what, x.rawValue(), y.rawValue(), x.type() == QTextLength::PercentageLength ? 0.011 : o_.length);
  }

  void table(QTextTable* x, QTextTable* y, const std::string& where) {
    same(where, "rows", x->rows(), y->rows());
    same(where, "columns", x->columns(), y->columns());
    if (failed()) return;
    const QTextTableFormat fx = x->format(), fy = y->format();
    near(where, "border", fx.border(), fy.border(), o_.length);
    if (fx.border() > 0) same(where, "border colour", colourOf(fx, QTextFormat::FrameBorderBrush), colourOf(fy, QTextFormat::FrameBorderBrush));
    near(where, "padding", fx.cellPadding(), fy.cellPadding(), o_.length);
    near(where, "spacing", fx.cellSpacing(), fy.cellSpacing(), o_.length);
    same(where, "collapsed borders", fx.borderCollapse(), fy.borderCollapse());
    same(where, "alignment", int(fx.alignment() & Qt::AlignHorizontal_Mask), int(fy.alignment() & Qt::AlignHorizontal_Mask));
    if (o_.tableWidths) sameLength(where, "width", fx.width(), fy.width());
    same(where, "page break before", bool(fx.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore),
         bool(fy.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore));
    const QList<QTextLength> cx = fx.columnWidthConstraints(), cy = fy.columnWidthConstraints();
    if (o_.tableWidths) {
      same(where, "columns with widths", cx.size(), cy.size());
      for (qsizetype i = 0; i < std::min(cx.size(), cy.size()); ++i) sameLength(where, "column width", cx[i], cy[i]);
    }
    for (int r = 0; r < x->rows() && !failed(); ++r) {
      for (int c = 0; c < x->columns() && !failed(); ++c) {
        const QTextTableCell a = x->cellAt(r, c), b = y->cellAt(r, c);
        const std::string w = where + " cell " + std::to_string(r) + "," + std::to_string(c);
        same(w, "origin", std::to_string(a.row()) + "," + std::to_string(a.column()),
             std::to_string(b.row()) + "," + std::to_string(b.column()));
        same(w, "span", std::to_string(a.rowSpan()) + "x" + std::to_string(a.columnSpan()),
             std::to_string(b.rowSpan()) + "x" + std::to_string(b.columnSpan()));
        if (a.row() != r || a.column() != c) continue;
        same(w, "background", colourOf(a.format(), QTextFormat::BackgroundBrush), colourOf(b.format(), QTextFormat::BackgroundBrush));
        same(w, "vertical alignment", int(a.format().verticalAlignment()), int(b.format().verticalAlignment()));
        children(a.begin(), b.begin(), w);
      }
    }
  }

  void children(QTextFrame::iterator ix, QTextFrame::iterator iy, const std::string& where) {
    int n = 0;
    for (; !failed(); ++ix, ++iy, ++n) {
      if (ix.atEnd() || iy.atEnd()) {
        same(where, "ends after item", ix.atEnd() ? n : -1, iy.atEnd() ? n : -1);
        return;
      }
      const std::string w = where + " item " + std::to_string(n);
      QTextFrame* fx = ix.currentFrame();
      QTextFrame* fy = iy.currentFrame();
      same(w, "is a frame", fx != nullptr, fy != nullptr);
      if (failed()) return;
      if (!fx) {
        block(ix.currentBlock(), iy.currentBlock(), w + " (block)");
        continue;
      }
      auto* tx = qobject_cast<QTextTable*>(fx);
      auto* ty = qobject_cast<QTextTable*>(fy);
      same(w, "is a table", tx != nullptr, ty != nullptr);
      if (tx && ty) table(tx, ty, w + " (table)");
      else if (!tx && !ty) frame(fx, fy, w + " (frame)");
    }
  }

  void frame(QTextFrame* x, QTextFrame* y, const std::string& where) { children(x->begin(), y->begin(), where); }

  const QTextDocument& a_;
  const QTextDocument& b_;
  Options o_;
  std::ostringstream out_;
  std::map<const QTextList*, int> listsA_, listsB_;
};

}  // namespace detail

// The first difference a reader would see between `a` and `b`, described; empty when none.
inline std::string difference(const QTextDocument& a, const QTextDocument& b, const Options& options = {}) {
  return detail::Comparer(a, b, options).run();
}

}  // namespace richtext
