#include "modules/rtf/RTFReader.h"

#include <QByteArrayView>
#include <QSet>

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

namespace rtf {

QString Paragraph::text() const {
  QString out;
  for (const Run& run : runs) out += run.text;
  return out;
}

const ListLevel* Content::listLevel(const ParagraphFormat& format) const {
  if (format.list <= 0) return nullptr;
  const auto id = listOverrides.constFind(format.list);
  if (id == listOverrides.constEnd()) return nullptr;
  const auto list = lists.constFind(*id);
  if (list == lists.constEnd() || list->levels.isEmpty()) return nullptr;
  return &list->levels[std::min<qsizetype>(format.level, list->levels.size() - 1)];
}

QString Content::plainText() const {
  if (isHtml) return html;
  QStringList lines;
  for (const Paragraph& p : paragraphs) lines << p.text();
  return lines.join(QLatin1Char('\n'));
}

namespace {

// Group nesting deeper than this keeps the state of the deepest kept group.
constexpr int kMaxDepth = 1024;

QByteArray iconvName(int codePage) {
  switch (codePage) {
    case 65001: return "UTF-8";
    case 10000: return "MACINTOSH";
    case 20127: return "ASCII";
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    default: break;
  }
  if (codePage >= 28591 && codePage <= 28599) return "ISO-8859-" + QByteArray::number(codePage - 28590);
  if (codePage <= 0 || codePage > 65535) return "CP1252";
  return "CP" + QByteArray::number(codePage);
}

struct Iconv {
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  explicit Iconv(const QByteArray& from) { cd = iconv_open("UTF-8", from.constData()); }
  ~Iconv() {
    if (ok()) iconv_close(cd);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

enum class Dest {
  Text,
  Skip,
  FontTable,
  ColourTable,
  HtmlTag,
  ListTable,
  List,
  ListLevel,
  LevelText,
  ListOverrideTable,
  ListOverride,
  ListText,
  Picture,
  TableProps,
};

struct State {
  CharFormat format;
  ParagraphFormat paragraph;
  int uc = 1;
  Dest dest = Dest::Text;
  bool htmlrtf = false;
  bool starred = false;  // the group began with \*
  bool opens = false;    // the group began its destination
};

// Tables deeper than this keep their paragraphs at this depth.
constexpr int kMaxNesting = 16;
// Cells a row definition keeps, tab stops a paragraph keeps, levels a list keeps.
constexpr int kMaxCellDefinitions = 1024;
constexpr int kMaxTabs = 64;
constexpr int kMaxListLevels = 9;

const QSet<QByteArray>& skippedDestinations() {
  static const QSet<QByteArray> words = {
      "stylesheet", "info", "pict", "object", "objdata", "header", "headerl", "headerr", "headerf",
      "footer", "footerl", "footerr", "footerf", "footnote", "fldinst", "revtbl", "rsidtbl", "xmlnstbl",
      "themedata", "colorschememapping", "datastore", "latentstyles", "generator", "bkmkstart", "bkmkend",
      "nonshppict", "shpinst", "sp", "sn", "sv", "filetbl", "annotation", "atnid", "atnauthor", "author",
      "buptim", "comment", "company", "creatim", "doccomm", "keywords", "operator", "printim", "revtim",
      "subject", "title", "userprops", "docvar", "txe", "xe", "tc", "mmathPr", "background", "pgdsctbl",
      "mhtmltag", "falt", "panose", "fontemb", "fontfile", "template", "nonesttables", "listname",
      "levelnumbers", "lfolevel", "listpicture"};
  return words;
}

char16_t specialCharacter(const QByteArray& word) {
  static const QMap<QByteArray, char16_t> table = {
      {"emdash", 0x2014},  {"endash", 0x2013},    {"bullet", 0x2022},    {"lquote", 0x2018},
      {"rquote", 0x2019},  {"ldblquote", 0x201C}, {"rdblquote", 0x201D}, {"tab", u'\t'},
      {"emspace", 0x2003}, {"enspace", 0x2002},   {"qmspace", 0x2005},   {"zwj", 0x200D},
      {"zwnj", 0x200C},    {"ltrmark", 0x200E},   {"rtlmark", 0x200F},
  };
  return table.value(word, 0);
}

// The depth of the table a paragraph stands in, 0 outside tables.
int depthOf(const ParagraphFormat& format) {
  return format.inTable ? std::clamp(format.nesting, 1, kMaxNesting) : 0;
}

class Parser {
 public:
  explicit Parser(const QByteArray& data) : data_(data) {}

  Content run() {
    stack_.push_back(State{});
    const qsizetype n = data_.size();
    while (i_ < n) {
      const char c = data_[i_];
      if (c == '{') {
        ++i_;
        endSkipping();
        flush();
        if (static_cast<int>(stack_.size()) >= kMaxDepth) {
          ++overflow_;
        } else {
          State next = stack_.back();
          next.starred = false;
          next.opens = false;
          stack_.push_back(next);
        }
      } else if (c == '}') {
        ++i_;
        endSkipping();
        flush();
        if (overflow_ > 0) {
          --overflow_;
        } else if (stack_.size() > 1) {
          if (stack_.back().dest == Dest::FontTable) finishFontName();
          const State ended = stack_.back();
          stack_.pop_back();
          if (ended.opens) finishDestination(ended.dest);
        } else {
          break;  // the document's group ended
        }
      } else if (c == '\\') {
        ++i_;
        controlSequence();
      } else if (c == '\r' || c == '\n') {
        ++i_;
      } else {
        ++i_;
        if (consumeSkip()) continue;
        textByte(static_cast<unsigned char>(c));
      }
    }
    flush();
    finishParagraph(false, 0);
    content_.paragraphs = std::move(paragraphs_);
    return std::move(content_);
  }

 private:
  enum class BorderSide { None, Top, Left, Bottom, Right };
  // A row definition being read, for one table depth.
  struct RowBuild {
    RowDefinition row;
    CellDefinition cell;
    BorderSide side = BorderSide::None;
  };
  // A table being filled, for one depth: its index, the row and the cell being filled.
  struct OpenTable {
    int table = 0;
    int row = 0;
    int cell = 0;
  };

  State& state() { return stack_.back(); }

  bool suppressed() {
    const State& s = state();
    if (s.dest == Dest::Skip) return true;
    if (content_.isHtml) return !(s.dest == Dest::HtmlTag || (s.dest == Dest::Text && !s.htmlrtf));
    switch (s.dest) {
      case Dest::Text:
      case Dest::FontTable:
      case Dest::ColourTable:
      case Dest::LevelText:
      case Dest::ListText:
      case Dest::Picture: return false;
      default: return true;
    }
  }

  // A fallback character after \uN counts down instead of being shown.
  bool consumeSkip() {
    if (skip_ <= 0) return false;
    --skip_;
    return true;
  }
  void endSkipping() { skip_ = 0; }

  int currentCodePage() const {
    const State& s = stack_.back();
    if (s.dest != Dest::FontTable && s.format.font >= 0) {
      const auto it = content_.fonts.constFind(s.format.font);
      if (it != content_.fonts.constEnd()) {
        const int cp = RTFReader::codePageForCharset(it->charset);
        if (cp != 0) return cp;
      }
    }
    return content_.codePage;
  }

  void textByte(unsigned char b) {
    if (suppressed()) return;
    const int cp = currentCodePage();
    if (b < 0x80 && pending_.isEmpty()) {
      put(QString(QChar(b)));
      return;
    }
    if (!pending_.isEmpty() && pendingCodePage_ != cp) flush();
    pendingCodePage_ = cp;
    pending_.append(static_cast<char>(b));
  }

  void flush() {
    if (pending_.isEmpty()) return;
    const QByteArray bytes = std::exchange(pending_, QByteArray());
    put(RTFReader::decodeCodePage(bytes, pendingCodePage_));
  }

  void put(const QString& in) {
    State& s = state();
    // Control characters other than the tab show nothing; a level's text holds its number's
    // place as one.
    QString text = in;
    if (s.dest != Dest::LevelText && !content_.isHtml)
      text.removeIf([](QChar c) { return (c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7F; });
    if (text.isEmpty()) return;
    switch (s.dest) {
      case Dest::FontTable: {
        fontName_ += text;
        const qsizetype semi = fontName_.indexOf(QLatin1Char(';'));
        if (semi >= 0) {
          fontName_.truncate(semi);
          finishFontName();
        }
        return;
      }
      case Dest::ColourTable:
        for (QChar c : text) {
          if (c != QLatin1Char(';')) continue;
          content_.colours.append(colour_);
          colour_ = Colour{};
        }
        return;
      case Dest::LevelText: levelText_ += text; return;
      case Dest::ListText: current_.listText += text; return;
      case Dest::Picture: pictureName_ += text; return;
      default: break;
    }
    if (content_.isHtml) {
      content_.html += text;
      return;
    }
    if (!current_.runs.isEmpty() && !current_.runs.back().picture && current_.runs.back().format == s.format) {
      current_.runs.back().text += text;
    } else {
      current_.runs.append(Run{text, s.format, std::nullopt});
    }
  }

  void emitChar(char16_t c) {
    flush();
    if (suppressed()) return;
    put(QString(QChar(c)));
  }

  void finishFontName() {
    if (fontEntry_ >= 0) {
      Font& font = content_.fonts[fontEntry_];
      if (font.name.isEmpty()) font.name = fontName_.trimmed();
    }
    fontName_.clear();
    fontEntry_ = -1;
  }

  // A destination's group ended; the state is now the enclosing group's.
  void finishDestination(Dest dest) {
    switch (dest) {
      case Dest::LevelText: {
        // A ';' ends the text; its first character is the length of what follows, a byte.
        QString text = std::exchange(levelText_, QString());
        if (text.endsWith(QLatin1Char(';'))) text.chop(1);
        if (text.isEmpty()) return;
        level_.text = text.mid(1, std::min<int>(text.at(0).unicode(), 255));
        return;
      }
      case Dest::ListLevel:
        if (list_.levels.size() < kMaxListLevels) list_.levels.append(level_);
        level_ = ListLevel{};
        return;
      case Dest::List:
        content_.lists[listId_] = list_;
        list_ = ListDefinition{};
        listId_ = 0;
        return;
      case Dest::ListOverride:
        if (overrideLs_ > 0) content_.listOverrides[overrideLs_] = overrideListId_;
        overrideLs_ = 0;
        overrideListId_ = 0;
        return;
      case Dest::Picture: {
        const QString name = std::exchange(pictureName_, QString()).trimmed();
        const int width = std::exchange(pictureWidth_, 0);
        const int height = std::exchange(pictureHeight_, 0);
        if (name.isEmpty() || content_.isHtml || state().dest != Dest::Text) return;
        current_.runs.append(Run{QString(), state().format, Picture{name, width, height}});
        return;
      }
      default: return;
    }
  }

  // Ends the paragraph being read: it is kept when it was ended explicitly or holds runs. It
  // stands in a table at least `minDepth` deep.
  void finishParagraph(bool explicitEnd, int minDepth) {
    flush();
    if (explicitEnd || !current_.runs.isEmpty()) {
      Paragraph p = std::exchange(current_, Paragraph{});
      p.format = state().paragraph;
      p.mark = state().format;
      if (std::exchange(pageBreakPending_, false)) p.format.pageBreakBefore = true;
      const int depth = std::clamp(std::max(minDepth, depthOf(p.format)), 0, kMaxNesting);
      place(p, depth);
      paragraphs_.append(std::move(p));
    } else {
      current_ = Paragraph{};
    }
  }

  // Puts a paragraph into the tables it stands in, opening and closing tables on the way.
  void place(Paragraph& p, int depth) {
    if (static_cast<int>(open_.size()) > depth) open_.resize(depth);
    while (static_cast<int>(open_.size()) < depth) {
      content_.tables.append(Table{});
      open_.push_back(OpenTable{static_cast<int>(content_.tables.size() - 1), 0, 0});
    }
    p.cells.clear();
    for (const OpenTable& t : open_) p.cells.append(CellPlace{t.table, t.row, t.cell});
  }

  bool inBody() {
    if (suppressed() || content_.isHtml) return false;
    return state().dest == Dest::Text;
  }

  void paragraphBreak() {
    flush();
    if (suppressed()) return;
    if (content_.isHtml) {
      content_.html += QStringLiteral("\r\n");
      return;
    }
    if (state().dest == Dest::Text) finishParagraph(true, 0);
  }

  void pageBreak() {
    flush();
    if (content_.isHtml) return paragraphBreak();
    if (!inBody()) return;
    if (!current_.runs.isEmpty()) finishParagraph(true, 0);
    pageBreakPending_ = true;
  }

  // The end of a cell of the table at `level` (1 for the outermost).
  void endCell(int level) {
    flush();
    if (!inBody()) return;
    level = std::clamp(level, 1, kMaxNesting);
    finishParagraph(true, level);
    OpenTable& t = open_[level - 1];
    ++t.cell;
    open_.resize(level);
  }

  // The end of a row of the table at `level`: the row takes the definition last read for it.
  void endRow(int level) {
    flush();
    if (content_.isHtml) return paragraphBreak();
    // A nested row ends inside its properties' group.
    if (state().dest != Dest::Text && state().dest != Dest::TableProps) return;
    level = std::clamp(level, 1, kMaxNesting);
    if (state().dest == Dest::Text && !current_.runs.isEmpty()) endCell(level);
    if (static_cast<int>(open_.size()) < level) return;
    OpenTable& t = open_[level - 1];
    if (t.cell == 0) return;  // a row without cells adds nothing
    content_.tables[t.table].rows.append(TableRow{build(level).row, t.cell});
    ++t.row;
    t.cell = 0;
    open_.resize(level);
  }

  // The row definition being read for the table at `level`.
  RowBuild& build(int level) {
    if (static_cast<int>(builds_.size()) < level) builds_.resize(level);
    return builds_[level - 1];
  }
  // The table depth that row and cell definitions apply to where they stand.
  int definitionLevel() {
    return state().dest == Dest::TableProps ? std::max(2, depthOf(state().paragraph)) : 1;
  }
  Border* border(RowBuild& b) {
    switch (b.side) {
      case BorderSide::Top: return &b.cell.top;
      case BorderSide::Left: return &b.cell.left;
      case BorderSide::Bottom: return &b.cell.bottom;
      case BorderSide::Right: return &b.cell.right;
      default: return nullptr;
    }
  }

  // Row and cell definitions; answers whether the word was one.
  bool tableWord(const QByteArray& word, bool hasParam, int param) {
    const Dest dest = state().dest;
    if (dest != Dest::Text && dest != Dest::TableProps) return false;
    const bool isRowWord = word.startsWith("tr") || word.startsWith("cl") || word.startsWith("brdr") || word == "cellx";
    if (!isRowWord) return false;
    RowBuild& b = build(definitionLevel());
    const bool on = !hasParam || param != 0;
    if (word == "trowd") {
      b = RowBuild{};
    } else if (word == "trgaph") {
      b.row.gap = std::max(0, param);
    } else if (word == "trpaddl") {
      b.row.padding = std::max(0, param);
    } else if (word == "trftsWidth") {
      b.row.widthUnit = param;
    } else if (word == "trwWidth") {
      b.row.width = param;
    } else if (word == "trql") {
      b.row.alignment = Alignment::Left;
    } else if (word == "trqc") {
      b.row.alignment = Alignment::Centre;
    } else if (word == "trqr") {
      b.row.alignment = Alignment::Right;
    } else if (word == "cellx") {
      b.cell.edge = param;
      if (b.row.cells.size() < kMaxCellDefinitions) b.row.cells.append(b.cell);
      b.cell = CellDefinition{};
      b.side = BorderSide::None;
    } else if (word == "clcbpat") {
      b.cell.background = std::max(0, param);
    } else if (word == "clmgf") {
      b.cell.mergeFirst = on;
    } else if (word == "clmrg") {
      b.cell.merged = on;
    } else if (word == "clvmgf") {
      b.cell.vmergeFirst = on;
    } else if (word == "clvmrg") {
      b.cell.vmerged = on;
    } else if (word == "clvertalt") {
      b.cell.verticalAlignment = 0;
    } else if (word == "clvertalc") {
      b.cell.verticalAlignment = 1;
    } else if (word == "clvertalb") {
      b.cell.verticalAlignment = 2;
    } else if (word == "clftsWidth") {
      b.cell.widthUnit = param;
    } else if (word == "clwWidth") {
      b.cell.width = param;
    } else if (word == "clbrdrt") {
      b.side = BorderSide::Top;
    } else if (word == "clbrdrl") {
      b.side = BorderSide::Left;
    } else if (word == "clbrdrb") {
      b.side = BorderSide::Bottom;
    } else if (word == "clbrdrr") {
      b.side = BorderSide::Right;
    } else if (word.startsWith("trbrdr")) {
      b.side = BorderSide::None;  // the row's own borders: the cells carry theirs
    } else if (word == "brdrt" || word == "brdrl" || word == "brdrb" || word == "brdrr" || word == "brdrbtw" ||
               word == "brdrbar") {
      b.side = BorderSide::None;  // a paragraph's borders
    } else if (Border* target = border(b)) {
      if (word == "brdrnone") {
        target->present = false;
      } else if (word == "brdrw") {
        target->widthTwips = std::max(0, param);
      } else if (word == "brdrcf") {
        target->colour = std::max(0, param);
      } else if (word != "brdrtbl") {
        target->present = true;  // a line style
      }
    }
    return true;
  }

  void controlSequence() {
    const qsizetype n = data_.size();
    if (i_ >= n) return;
    const char c = data_[i_];
    if (!std::isalpha(static_cast<unsigned char>(c))) {
      ++i_;
      controlSymbol(c);
      return;
    }
    const qsizetype start = i_;
    while (i_ < n && i_ - start < 32 && std::isalpha(static_cast<unsigned char>(data_[i_]))) ++i_;
    const QByteArray word = data_.mid(start, i_ - start);
    bool hasParam = false;
    bool negative = false;
    long long value = 0;
    if (i_ < n && data_[i_] == '-' && i_ + 1 < n && std::isdigit(static_cast<unsigned char>(data_[i_ + 1]))) {
      negative = true;
      ++i_;
    }
    while (i_ < n && std::isdigit(static_cast<unsigned char>(data_[i_]))) {
      if (value < INT_MAX) value = value * 10 + (data_[i_] - '0');
      hasParam = true;
      ++i_;
    }
    if (negative) value = -value;
    value = std::clamp<long long>(value, INT_MIN, INT_MAX);
    if (i_ < n && data_[i_] == ' ') ++i_;
    controlWord(word, hasParam, static_cast<int>(value));
  }

  void controlSymbol(char c) {
    switch (c) {
      case '\'': {
        const qsizetype n = data_.size();
        int byte = 0;
        int got = 0;
        while (got < 2 && i_ < n) {
          const int h = QByteArrayView("0123456789abcdef").indexOf(static_cast<char>(std::tolower(data_[i_])));
          if (h < 0) break;
          byte = byte * 16 + h;
          ++got;
          ++i_;
        }
        if (got == 0) return;
        if (consumeSkip()) return;
        textByte(static_cast<unsigned char>(byte));
        return;
      }
      case '*':
        state().starred = true;
        return;
      case '\\':
      case '{':
      case '}':
        if (consumeSkip()) return;
        textByte(static_cast<unsigned char>(c));
        return;
      case '~':
        if (consumeSkip()) return;
        emitChar(0x00A0);
        return;
      case '_':
        if (consumeSkip()) return;
        emitChar(0x2011);
        return;
      case '\r':
      case '\n':
        if (consumeSkip()) return;
        paragraphBreak();
        return;
      default:
        consumeSkip();  // \- and unknown symbols show nothing
        return;
    }
  }

  // Makes the current group the destination `dest`.
  void enter(Dest dest) {
    flush();
    state().dest = dest;
    state().opens = true;
  }

  // A destination word; answers whether the word was one.
  bool destinationWord(const QByteArray& word, bool starred) {
    const Dest dest = state().dest;
    if (dest == Dest::Skip) return false;
    if (word == "fonttbl") {
      enter(Dest::FontTable);
    } else if (word == "colortbl") {
      colour_ = Colour{};
      enter(Dest::ColourTable);
    } else if (word == "htmltag") {
      enter(content_.isHtml ? Dest::HtmlTag : Dest::Skip);
    } else if (word == "listtable") {
      enter(Dest::ListTable);
    } else if (word == "list" && dest == Dest::ListTable) {
      list_ = ListDefinition{};
      listId_ = 0;
      enter(Dest::List);
    } else if (word == "listlevel" && dest == Dest::List) {
      level_ = ListLevel{};
      enter(Dest::ListLevel);
    } else if (word == "leveltext" && dest == Dest::ListLevel) {
      levelText_.clear();
      enter(Dest::LevelText);
    } else if (word == "listoverridetable") {
      enter(Dest::ListOverrideTable);
    } else if (word == "listoverride" && dest == Dest::ListOverrideTable) {
      overrideLs_ = 0;
      overrideListId_ = 0;
      enter(Dest::ListOverride);
    } else if (word == "listtext") {
      enter(dest == Dest::Text ? Dest::ListText : Dest::Skip);
    } else if (word == "nesttableprops") {
      enter(dest == Dest::Text ? Dest::TableProps : Dest::Skip);
    } else if (word == "NeXTGraphic") {
      pictureName_.clear();
      pictureWidth_ = 0;
      pictureHeight_ = 0;
      enter(dest == Dest::Text ? Dest::Picture : Dest::Skip);
    } else if (skippedDestinations().contains(word) || (starred && word != "fldrslt")) {
      enter(Dest::Skip);
    } else {
      return false;
    }
    return true;
  }

  void controlWord(const QByteArray& word, bool hasParam, int param) {
    State& s = state();
    const bool starred = std::exchange(s.starred, false);
    // Destinations first: they decide what the group is.
    if (destinationWord(word, starred)) return;
    if (word == "bin") {
      // Binary data: never text, whatever the destination.
      const qsizetype count = hasParam && param > 0 ? param : 0;
      i_ = std::min(data_.size(), i_ + count);
      return;
    }
    if (word == "u") {
      flush();
      if (!hasParam || param == 0) return;
      if (!suppressed() && !consumeSkip()) {
        const char16_t unit = static_cast<char16_t>(static_cast<std::uint16_t>(param));
        put(QString(QChar(unit)));
      }
      skip_ = std::max(0, s.uc);
      return;
    }
    if (consumeSkip()) return;
    if (word == "par" || word == "sect") {
      paragraphBreak();
      return;
    }
    if (word == "page") {
      pageBreak();
      return;
    }
    if (word == "cell") {
      if (content_.isHtml) return emitChar(u'\t');
      endCell(1);
      return;
    }
    if (word == "nestcell") {
      endCell(std::max(2, depthOf(s.paragraph)));
      return;
    }
    if (word == "row") {
      endRow(1);
      return;
    }
    if (word == "nestrow") {
      endRow(std::max(2, depthOf(s.paragraph)));
      return;
    }
    if (word == "line") {
      if (content_.isHtml) {
        paragraphBreak();
      } else {
        emitChar(0x2028);
      }
      return;
    }
    if (const char16_t special = specialCharacter(word)) {
      emitChar(special);
      return;
    }
    flush();
    if (tableWord(word, hasParam, param)) return;
    const bool on = !hasParam || param != 0;
    // Twips and other lengths, kept within what a page can hold.
    const int length = std::clamp(param, -31680, 31680);
    ParagraphFormat& pf = s.paragraph;
    if (word == "uc") {
      s.uc = hasParam ? std::clamp(param, 0, 16) : 1;
    } else if (word == "ansicpg") {
      if (hasParam && param > 0) content_.codePage = param;
    } else if (word == "mac") {
      content_.codePage = 10000;
    } else if (word == "pc") {
      content_.codePage = 437;
    } else if (word == "pca") {
      content_.codePage = 850;
    } else if (word == "fromhtml") {
      content_.isHtml = on;
    } else if (word == "htmlrtf") {
      s.htmlrtf = on;
    } else if (word == "deff") {
      defaultFont_ = hasParam ? param : -1;
      if (s.format.font < 0) s.format.font = defaultFont_;
    } else if (word == "f") {
      if (s.dest == Dest::FontTable) {
        finishFontName();
        fontEntry_ = hasParam ? param : 0;
        content_.fonts[fontEntry_];
      } else {
        s.format.font = hasParam ? param : -1;
      }
    } else if (word == "fcharset") {
      if (s.dest == Dest::FontTable && fontEntry_ >= 0) content_.fonts[fontEntry_].charset = hasParam ? param : 0;
    } else if (word == "red" || word == "green" || word == "blue") {
      if (s.dest != Dest::ColourTable) return;
      const int v = std::clamp(param, 0, 255);
      (word == "red" ? colour_.red : word == "green" ? colour_.green : colour_.blue) = v;
      colour_.automatic = false;
    } else if (word == "b") {
      s.format.bold = on;
    } else if (word == "i") {
      s.format.italic = on;
    } else if (word == "ulnone") {
      s.format.underline = false;
    } else if (word == "ul" || word == "uld" || word == "uldb" || word == "uldash" || word == "ulw" ||
               word == "ulth" || word == "ulwave" || word == "uldashd" || word == "ulhair") {
      s.format.underline = on;
    } else if (word == "strike" || word == "striked") {
      s.format.strike = on;
    } else if (word == "fs") {
      s.format.halfPoints = hasParam && param > 0 ? std::min(param, 3276) : 24;
    } else if (word == "cf") {
      s.format.colour = std::max(0, param);
    } else if (word == "highlight" || word == "cb" || word == "chcbpat") {
      s.format.highlight = std::max(0, param);
    } else if (word == "super") {
      s.format.position = VerticalPosition::Super;
    } else if (word == "sub") {
      s.format.position = VerticalPosition::Sub;
    } else if (word == "nosupersub") {
      s.format.position = VerticalPosition::Normal;
    } else if (word == "plain") {
      s.format = CharFormat{};
      s.format.font = defaultFont_;
    } else if (word == "pard") {
      pf = ParagraphFormat{};
      tabKind_ = TabStop::Kind::Left;
    } else if (word == "ql") {
      pf.alignment = Alignment::Left;
    } else if (word == "qc") {
      pf.alignment = Alignment::Centre;
    } else if (word == "qr") {
      pf.alignment = Alignment::Right;
    } else if (word == "qj" || word == "qd") {
      pf.alignment = Alignment::Justify;
    } else if (word == "li" || word == "lin") {
      pf.leftIndent = length;
    } else if (word == "ri" || word == "rin") {
      pf.rightIndent = length;
    } else if (word == "fi") {
      pf.firstIndent = length;
    } else if (word == "sb") {
      pf.spaceBefore = std::max(0, length);
    } else if (word == "sa") {
      pf.spaceAfter = std::max(0, length);
    } else if (word == "sl") {
      pf.lineSpacing = length;
    } else if (word == "slmult") {
      pf.lineMultiple = on;
    } else if (word == "pagebb") {
      pf.pageBreakBefore = on;
    } else if (word == "tqr") {
      tabKind_ = TabStop::Kind::Right;
    } else if (word == "tqc") {
      tabKind_ = TabStop::Kind::Centre;
    } else if (word == "tqdec") {
      tabKind_ = TabStop::Kind::Decimal;
    } else if (word == "tx") {
      if (pf.tabs.size() < kMaxTabs) pf.tabs.append(TabStop{std::max(0, length), tabKind_});
      tabKind_ = TabStop::Kind::Left;
    } else if (word == "tb") {
      tabKind_ = TabStop::Kind::Left;  // bar tabs draw a line, they stop nothing
    } else if (word == "ls") {
      if (s.dest == Dest::ListOverride) {
        overrideLs_ = param;
      } else {
        pf.list = std::max(0, param);
      }
    } else if (word == "ilvl") {
      pf.level = std::clamp(param, 0, kMaxListLevels - 1);
    } else if (word == "listid") {
      if (s.dest == Dest::List) listId_ = param;
      if (s.dest == Dest::ListOverride) overrideListId_ = param;
    } else if (word == "levelnfc" || word == "levelnfcn") {
      if (s.dest == Dest::ListLevel) level_.numberFormat = param;
    } else if (word == "width" || word == "height") {
      if (s.dest == Dest::Picture) (word == "width" ? pictureWidth_ : pictureHeight_) = std::max(0, param);
    } else if (word == "intbl") {
      pf.inTable = on;
    } else if (word == "itap") {
      pf.nesting = std::clamp(param, 0, kMaxNesting);
      if (pf.nesting == 0) pf.inTable = false;
    }
  }

  const QByteArray& data_;
  qsizetype i_ = 0;
  std::vector<State> stack_;
  int overflow_ = 0;
  int skip_ = 0;
  QByteArray pending_;
  int pendingCodePage_ = 1252;
  int defaultFont_ = -1;
  int fontEntry_ = -1;
  QString fontName_;
  Colour colour_;
  ListDefinition list_;
  int listId_ = 0;
  ListLevel level_;
  QString levelText_;
  int overrideLs_ = 0;
  int overrideListId_ = 0;
  TabStop::Kind tabKind_ = TabStop::Kind::Left;
  QString pictureName_;
  int pictureWidth_ = 0;
  int pictureHeight_ = 0;
  bool pageBreakPending_ = false;
  std::vector<RowBuild> builds_;
  std::vector<OpenTable> open_;
  Paragraph current_;
  QList<Paragraph> paragraphs_;
  Content content_;
};

}  // namespace

bool RTFReader::isRTF(const QByteArray& data) {
  qsizetype i = 0;
  while (i < data.size() && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n')) ++i;
  return QByteArrayView(data).sliced(i).startsWith("{\\rtf");
}

std::optional<Content> RTFReader::read(const QByteArray& data) {
  if (!isRTF(data)) return std::nullopt;
  const qsizetype start = data.indexOf('{');
  const QByteArray body = data.mid(start + 1);
  return Parser(body).run();
}

QString RTFReader::decodeCodePage(const QByteArray& bytes, int codePage) {
  if (bytes.isEmpty()) return QString();
  if (codePage == 65001) return QString::fromUtf8(bytes);
  Iconv conv(iconvName(codePage));
  if (!conv.ok()) return decodeCodePage(bytes, 1252);
  std::vector<char> in(bytes.begin(), bytes.end());
  char* inPtr = in.data();
  std::size_t inLeft = in.size();
  QByteArray out;
  std::vector<char> buffer(4 * in.size() + 16);
  const QByteArray replacement = QString(QChar::ReplacementCharacter).toUtf8();
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    const std::size_t r = iconv(conv.cd, &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buffer.data(), static_cast<qsizetype>(outPtr - buffer.data()));
    if (r == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // A byte that does not decode (or a sequence cut short): one replacement, go on.
      out.append(replacement);
      ++inPtr;
      --inLeft;
      iconv(conv.cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  return QString::fromUtf8(out);
}

int RTFReader::codePageForCharset(int charset) {
  switch (charset) {
    case 2: return 1252;  // symbol fonts: their bytes shown as Western text
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 130: return 1361;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 254: return 437;
    case 255: return 850;
    default: return 0;
  }
}

}  // namespace rtf
