#pragma once
// What a word processor made of a document, as a QTextDocument: reads a flat OpenDocument
// text (.fodt) with its styles (parents, defaults, list styles, font faces) into paragraphs,
// runs, lists and tables with the formats that rich_text_compare.h compares. List
// paragraphs take the convention of RTFTextDocument: the list's indent steps (the
// document's indentWidth) come out of the left margin, the marker's hang out of the indent.
// Pictures are not read.

#include <QMap>
#include <QRegularExpression>
#include <QString>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>
#include <QTextTable>
#include <QXmlStreamReader>

#include <memory>
#include <optional>

#include "modules/rtf/RTFReader.h"

namespace flatodt {

namespace detail {

struct Node {
  QString name;  // qualified, "text:p"; empty for text
  QMap<QString, QString> attributes;
  QList<Node> children;
  QString text;
  QString attribute(const QString& n) const { return attributes.value(n); }
  const Node* child(const QString& n) const {
    for (const Node& c : children)
      if (c.name == n) return &c;
    return nullptr;
  }
};

inline Node parse(const QByteArray& xml) {
  QXmlStreamReader reader(xml);
  Node root;
  QList<Node*> stack{&root};
  while (!reader.atEnd()) {
    reader.readNext();
    if (reader.isStartElement()) {
      Node n;
      n.name = reader.qualifiedName().toString();
      for (const QXmlStreamAttribute& a : reader.attributes()) n.attributes.insert(a.qualifiedName().toString(), a.value().toString());
      stack.last()->children.append(n);
      stack.append(&stack.last()->children.last());
    } else if (reader.isEndElement()) {
      stack.removeLast();
    } else if (reader.isCharacters() && !reader.isWhitespace()) {
      Node t;
      t.text = reader.text().toString();
      stack.last()->children.append(t);
    } else if (reader.isCharacters() && (stack.last()->name == QLatin1String("text:span") ||
                                         stack.last()->name == QLatin1String("text:p") ||
                                         stack.last()->name == QLatin1String("text:h"))) {
      Node t;
      t.text = reader.text().toString();
      stack.last()->children.append(t);
    }
  }
  return root;
}

// A length in points ("0.5in", "12pt", "1cm", "2mm", "1pc"), or nothing.
inline std::optional<double> length(const QString& text) {
  static const QRegularExpression form(QStringLiteral("^(-?[0-9.]+)(in|pt|cm|mm|pc|px)$"));
  const auto m = form.match(text.trimmed());
  if (!m.hasMatch()) return std::nullopt;
  const double v = m.captured(1).toDouble();
  const QString unit = m.captured(2);
  if (unit == QLatin1String("in")) return v * 72;
  if (unit == QLatin1String("cm")) return v * 72 / 2.54;
  if (unit == QLatin1String("mm")) return v * 72 / 25.4;
  if (unit == QLatin1String("pc")) return v * 12;
  if (unit == QLatin1String("px")) return v * 0.75;
  return v;
}

inline QChar firstChar(const QString& s) { return s.isEmpty() ? QChar() : s.at(0); }

struct Style {
  QString parent;
  QString listStyle;
  QMap<QString, QString> properties;  // every property element's attributes, by name
  const Node* tabStops = nullptr;
};

struct ListLevelStyle {
  bool bullet = true;
  QString bulletChar;
  QString numberFormat;
  QString prefix, suffix;
  std::optional<double> marginLeft, textIndent;
};

class Reader {
 public:
  explicit Reader(QTextDocument& document) : document_(document), cursor_(&document) {}

  void read(const QByteArray& xml) {
    root_ = parse(xml);
    const Node* doc = root_.child(QStringLiteral("office:document"));
    if (!doc) return;
    for (const Node& section : doc->children) {
      if (section.name == QLatin1String("office:font-face-decls")) {
        for (const Node& f : section.children) {
          QString family = f.attribute(QStringLiteral("svg:font-family"));
          family.remove(QLatin1Char('\''));
          fonts_.insert(f.attribute(QStringLiteral("style:name")), family);
        }
      } else if (section.name == QLatin1String("office:styles") || section.name == QLatin1String("office:automatic-styles")) {
        styles(section);
      }
    }
    const Node* body = doc->child(QStringLiteral("office:body"));
    const Node* text = body ? body->child(QStringLiteral("office:text")) : nullptr;
    if (text) content(*text);
  }

 private:
  void styles(const Node& section) {
    for (const Node& s : section.children) {
      if (s.name == QLatin1String("style:style") || s.name == QLatin1String("style:default-style")) {
        Style style;
        style.parent = s.attribute(QStringLiteral("style:parent-style-name"));
        style.listStyle = s.attribute(QStringLiteral("style:list-style-name"));
        for (const Node& p : s.children) {
          for (auto it = p.attributes.begin(); it != p.attributes.end(); ++it) style.properties.insert(it.key(), it.value());
          if (const Node* tabs = p.child(QStringLiteral("style:tab-stops"))) style.tabStops = tabs;
        }
        const QString family = s.attribute(QStringLiteral("style:family"));
        if (s.name == QLatin1String("style:default-style")) defaults_.insert(family, style);
        else styles_.insert(family + QLatin1Char(':') + s.attribute(QStringLiteral("style:name")), style);
      } else if (s.name == QLatin1String("text:list-style")) {
        QMap<int, ListLevelStyle> levels;
        for (const Node& l : s.children) {
          ListLevelStyle level;
          level.bullet = l.name == QLatin1String("text:list-level-style-bullet");
          level.bulletChar = l.attribute(QStringLiteral("text:bullet-char"));
          level.numberFormat = l.attribute(QStringLiteral("style:num-format"));
          level.prefix = l.attribute(QStringLiteral("style:num-prefix"));
          level.suffix = l.attribute(QStringLiteral("style:num-suffix"));
          if (const Node* p = l.child(QStringLiteral("style:list-level-properties"))) {
            if (const Node* a = p->child(QStringLiteral("style:list-level-label-alignment"))) {
              level.marginLeft = length(a->attribute(QStringLiteral("fo:margin-left")));
              level.textIndent = length(a->attribute(QStringLiteral("fo:text-indent")));
            }
          }
          levels.insert(l.attribute(QStringLiteral("text:level")).toInt(), level);
        }
        listStyles_.insert(s.attribute(QStringLiteral("style:name")), levels);
      }
    }
  }

  // A property through the style, its parents and the family's default.
  QString property(const QString& family, const QString& name, const QString& key) const {
    QString at = name;
    for (int guard = 0; guard < 32 && !at.isEmpty(); ++guard) {
      const auto s = styles_.constFind(family + QLatin1Char(':') + at);
      if (s == styles_.constEnd()) break;
      if (s->properties.contains(key)) return s->properties.value(key);
      at = s->parent;
    }
    return defaults_.value(family).properties.value(key);
  }
  const Node* tabStops(const QString& name) const {
    QString at = name;
    for (int guard = 0; guard < 32 && !at.isEmpty(); ++guard) {
      const auto s = styles_.constFind(QStringLiteral("paragraph:") + at);
      if (s == styles_.constEnd()) break;
      if (s->tabStops) return s->tabStops;
      at = s->parent;
    }
    return nullptr;
  }

  // Text properties: a text style over a paragraph style.
  QTextCharFormat charFormat(const QString& paragraphStyle, const QStringList& spans) const {
    auto get = [&](const QString& key) {
      for (qsizetype i = spans.size() - 1; i >= 0; --i) {
        const QString v = property(QStringLiteral("text"), spans[i], key);
        if (!v.isEmpty()) return v;
      }
      return property(QStringLiteral("paragraph"), paragraphStyle, key);
    };
    QTextCharFormat f;
    const QString face = get(QStringLiteral("style:font-name"));
    f.setFontFamilies({fonts_.value(face, face)});
    if (auto size = length(get(QStringLiteral("fo:font-size")))) f.setFontPointSize(*size);
    const QString weight = get(QStringLiteral("fo:font-weight"));
    f.setFontWeight(weight == QLatin1String("bold") || weight.toInt() >= 600 ? QFont::Bold : QFont::Normal);
    const QString style = get(QStringLiteral("fo:font-style"));
    f.setFontItalic(style == QLatin1String("italic") || style == QLatin1String("oblique"));
    const QString under = get(QStringLiteral("style:text-underline-style"));
    f.setFontUnderline(!under.isEmpty() && under != QLatin1String("none"));
    const QString through = get(QStringLiteral("style:text-line-through-style"));
    f.setFontStrikeOut(!through.isEmpty() && through != QLatin1String("none"));
    const QString colour = get(QStringLiteral("fo:color"));
    if (colour.startsWith(QLatin1Char('#'))) f.setForeground(QColor(colour));
    const QString background = get(QStringLiteral("fo:background-color"));
    if (background.startsWith(QLatin1Char('#'))) f.setBackground(QColor(background));
    const QString position = get(QStringLiteral("style:text-position"));
    if (position.startsWith(QLatin1String("super"))) f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    else if (position.startsWith(QLatin1String("sub"))) f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
    else if (position.section(QLatin1Char(' '), 0, 0).remove(QLatin1Char('%')).toDouble() > 0)
      f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    else if (position.section(QLatin1Char(' '), 0, 0).remove(QLatin1Char('%')).toDouble() < 0)
      f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
    return f;
  }

  struct ListPlace {
    int list = 0;  // which top-level list
    int level = 0;
    QString style;
  };

  QTextBlockFormat blockFormat(const QString& name, const ListPlace* list, const ListLevelStyle* level) const {
    auto get = [&](const QString& key) { return property(QStringLiteral("paragraph"), name, key); };
    QTextBlockFormat f;
    const QString align = get(QStringLiteral("fo:text-align"));
    if (align == QLatin1String("center")) f.setAlignment(Qt::AlignHCenter);
    else if (align == QLatin1String("end") || align == QLatin1String("right")) f.setAlignment(Qt::AlignRight);
    else if (align == QLatin1String("justify")) f.setAlignment(Qt::AlignJustify);
    std::optional<double> left = length(get(QStringLiteral("fo:margin-left")));
    std::optional<double> indent = length(get(QStringLiteral("fo:text-indent")));
    if (level && !left) left = level->marginLeft;
    if (level && !indent) indent = level->textIndent;
    double l = left.value_or(0), first = indent.value_or(0);
    if (list && level) {
      l -= list->level * document_.indentWidth();
      first += rtf::kListHangTwips / 20.0;
    }
    f.setLeftMargin(std::max(0.0, l));
    f.setTextIndent(first);
    f.setRightMargin(length(get(QStringLiteral("fo:margin-right"))).value_or(0));
    f.setTopMargin(length(get(QStringLiteral("fo:margin-top"))).value_or(0));
    f.setBottomMargin(length(get(QStringLiteral("fo:margin-bottom"))).value_or(0));
    const QString height = get(QStringLiteral("fo:line-height"));
    if (height.endsWith(QLatin1Char('%'))) f.setLineHeight(height.chopped(1).toDouble(), QTextBlockFormat::ProportionalHeight);
    else if (auto h = length(height)) f.setLineHeight(*h, QTextBlockFormat::FixedHeight);
    else if (auto least = length(get(QStringLiteral("style:line-height-at-least")))) f.setLineHeight(*least, QTextBlockFormat::MinimumHeight);
    if (get(QStringLiteral("fo:break-before")) == QLatin1String("page")) f.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    if (const Node* tabs = tabStops(name)) {
      QList<QTextOption::Tab> stops;
      for (const Node& t : tabs->children) {
        const double at = length(t.attribute(QStringLiteral("style:position"))).value_or(0);
        const QString type = t.attribute(QStringLiteral("style:type"));
        if (type == QLatin1String("center")) stops.append(QTextOption::Tab(at, QTextOption::CenterTab));
        else if (type == QLatin1String("right")) stops.append(QTextOption::Tab(at, QTextOption::RightTab));
        else if (type == QLatin1String("char"))
          stops.append(QTextOption::Tab(at, QTextOption::DelimiterTab, firstChar(t.attribute(QStringLiteral("style:char")))));
        else stops.append(QTextOption::Tab(at, QTextOption::LeftTab));
      }
      f.setTabPositions(stops);
    }
    return f;
  }

  void runs(const Node& n, const QString& paragraphStyle, QStringList spans) {
    if (n.name == QLatin1String("text:span")) spans << n.attribute(QStringLiteral("text:style-name"));
    for (const Node& c : n.children) {
      const QTextCharFormat f = charFormat(paragraphStyle, spans);
      if (c.name.isEmpty()) {
        // It keeps a run of spaces from RTF as spaces with U+2006 between them.
        QString text = c.text;
        text.replace(QStringLiteral("\u2006 "), QStringLiteral(" "));
        cursor_.insertText(text, f);
      }
      else if (c.name == QLatin1String("text:s")) cursor_.insertText(QString(std::max(1, c.attribute(QStringLiteral("text:c")).toInt()), QLatin1Char(' ')), f);
      else if (c.name == QLatin1String("text:tab")) cursor_.insertText(QStringLiteral("\t"), f);
      else if (c.name == QLatin1String("text:line-break")) cursor_.insertText(QString(QChar::LineSeparator), f);
      else if (c.name == QLatin1String("text:span")) runs(c, paragraphStyle, spans);
    }
  }

  void paragraph(const Node& p, const ListPlace* list) {
    const QString name = p.attribute(QStringLiteral("text:style-name"));
    const ListLevelStyle* level = nullptr;
    if (list) {
      const auto levels = listStyles_.constFind(list->style);
      if (levels != listStyles_.constEnd() && levels->contains(list->level)) level = &*levels->constFind(list->level);
    }
    const QTextBlockFormat bf = blockFormat(name, list, level);
    const QTextCharFormat mark = charFormat(name, {});
    if (fresh_) {
      cursor_.setBlockFormat(bf);
      cursor_.mergeBlockCharFormat(mark);
    } else {
      cursor_.insertBlock(bf, mark);
    }
    fresh_ = false;
    if (list && level) {
      const QPair<int, int> key(list->list, list->level);
      if (QTextList* l = lists_.value(key)) {
        l->add(cursor_.block());
      } else {
        QTextListFormat lf;
        lf.setIndent(list->level);
        if (level->bullet) {
          const QChar c = firstChar(level->bulletChar);
          lf.setStyle(c == QChar(0x25E6) || c == QLatin1Char('o') ? QTextListFormat::ListCircle
                      : c == QChar(0x25AA) || c == QChar(0x25A0)  ? QTextListFormat::ListSquare
                                                                  : QTextListFormat::ListDisc);
        } else {
          const QString nf = level->numberFormat;
          lf.setStyle(nf == QLatin1String("A")   ? QTextListFormat::ListUpperAlpha
                      : nf == QLatin1String("a") ? QTextListFormat::ListLowerAlpha
                      : nf == QLatin1String("I") ? QTextListFormat::ListUpperRoman
                      : nf == QLatin1String("i") ? QTextListFormat::ListLowerRoman
                                                 : QTextListFormat::ListDecimal);
          lf.setNumberPrefix(level->prefix);
          lf.setNumberSuffix(level->suffix);
        }
        lists_.insert(key, cursor_.createList(lf));
      }
    }
    runs(p, name, {});
  }

  void list(const Node& n, ListPlace place) {
    if (place.level == 0) place.list = ++listCount_;
    ++place.level;
    const QString style = n.attribute(QStringLiteral("text:style-name"));
    if (!style.isEmpty()) place.style = style;
    for (const Node& item : n.children) {
      for (const Node& c : item.children) {
        if (c.name == QLatin1String("text:p") || c.name == QLatin1String("text:h")) paragraph(c, &place);
        else if (c.name == QLatin1String("text:list")) list(c, place);
      }
    }
  }

  void table(const Node& t) {
    const QString name = t.attribute(QStringLiteral("table:style-name"));
    QList<double> widths;
    QList<const Node*> rows;
    for (const Node& c : t.children) {
      if (c.name == QLatin1String("table:table-column")) {
        const int repeat = std::max(1, c.attribute(QStringLiteral("table:number-columns-repeated")).toInt());
        const double w = length(property(QStringLiteral("table-column"), c.attribute(QStringLiteral("table:style-name")),
                                         QStringLiteral("style:column-width")))
                             .value_or(0);
        for (int i = 0; i < repeat; ++i) widths.append(w);
      } else if (c.name == QLatin1String("table:table-row")) {
        rows.append(&c);
      } else if (c.name == QLatin1String("table:table-header-rows") || c.name == QLatin1String("table:table-rows")) {
        for (const Node& r : c.children) rows.append(&r);
      }
    }
    QTextTableFormat tf;
    tf.setCellSpacing(0);
    tf.setBorderCollapse(true);
    tf.setBorder(0);
    const QString align = property(QStringLiteral("table"), name, QStringLiteral("table:align"));
    tf.setAlignment(align == QLatin1String("center") ? Qt::AlignHCenter : align == QLatin1String("right") ? Qt::AlignRight : Qt::AlignLeft);
    if (property(QStringLiteral("table"), name, QStringLiteral("fo:break-before")) == QLatin1String("page"))
      tf.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    QList<QTextLength> constraints;
    for (double w : widths) constraints.append(QTextLength(QTextLength::FixedLength, w));
    tf.setColumnWidthConstraints(constraints);
    const int columns = std::max<int>(1, widths.size());
    // The first cell's border and padding stand for the table's.
    for (const Node* r : rows) {
      for (const Node& c : r->children) {
        if (c.name != QLatin1String("table:table-cell")) continue;
        const QString cellStyle = c.attribute(QStringLiteral("table:style-name"));
        const QStringList border = property(QStringLiteral("table-cell"), cellStyle, QStringLiteral("fo:border")).split(QLatin1Char(' '));
        if (border.size() == 3 && border[1] != QLatin1String("none")) {
          tf.setBorder(length(border[0]).value_or(0));
          tf.setBorderBrush(QColor(border[2]));
        }
        tf.setCellPadding(length(property(QStringLiteral("table-cell"), cellStyle, QStringLiteral("fo:padding"))).value_or(0));
        break;
      }
      break;
    }
    QTextTable* table = cursor_.insertTable(std::max<int>(1, rows.size()), columns, tf);
    for (int r = 0; r < rows.size(); ++r) {
      int column = 0;
      for (const Node& c : rows[r]->children) {
        if (c.name == QLatin1String("table:covered-table-cell")) {
          ++column;
          continue;
        }
        if (c.name != QLatin1String("table:table-cell") || column >= columns) continue;
        const int rowSpan = std::max(1, c.attribute(QStringLiteral("table:number-rows-spanned")).toInt());
        const int columnSpan = std::max(1, c.attribute(QStringLiteral("table:number-columns-spanned")).toInt());
        if (rowSpan > 1 || columnSpan > 1) table->mergeCells(r, column, rowSpan, columnSpan);
        QTextTableCell cell = table->cellAt(r, column);
        const QString cellStyle = c.attribute(QStringLiteral("table:style-name"));
        QTextCharFormat cf = cell.format();
        const QString background = property(QStringLiteral("table-cell"), cellStyle, QStringLiteral("fo:background-color"));
        if (background.startsWith(QLatin1Char('#'))) cf.setBackground(QColor(background));
        const QString valign = property(QStringLiteral("table-cell"), cellStyle, QStringLiteral("style:vertical-align"));
        if (valign == QLatin1String("middle")) cf.setVerticalAlignment(QTextCharFormat::AlignMiddle);
        if (valign == QLatin1String("bottom")) cf.setVerticalAlignment(QTextCharFormat::AlignBottom);
        cell.setFormat(cf);
        cursor_ = cell.firstCursorPosition();
        fresh_ = true;
        content(c);
        ++column;
      }
    }
    cursor_ = table->lastCursorPosition();
    cursor_.movePosition(QTextCursor::NextBlock);
    fresh_ = true;
  }

  void content(const Node& n) {
    for (const Node& c : n.children) {
      if (c.name == QLatin1String("text:p") || c.name == QLatin1String("text:h")) paragraph(c, nullptr);
      else if (c.name == QLatin1String("text:list")) list(c, ListPlace{});
      else if (c.name == QLatin1String("table:table")) table(c);
      else if (c.name == QLatin1String("text:section")) content(c);
    }
  }

  QTextDocument& document_;
  QTextCursor cursor_;
  bool fresh_ = true;
  Node root_;
  QMap<QString, QString> fonts_;
  QMap<QString, Style> styles_;
  QMap<QString, Style> defaults_;
  QMap<QString, QMap<int, ListLevelStyle>> listStyles_;
  QMap<QPair<int, int>, QTextList*> lists_;
  int listCount_ = 0;
};

}  // namespace detail

// The document a flat OpenDocument text holds.
inline std::unique_ptr<QTextDocument> read(const QByteArray& xml) {
  auto document = std::make_unique<QTextDocument>();
  detail::Reader(*document).read(xml);
  return document;
}

}  // namespace flatodt
