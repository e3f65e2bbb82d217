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

enum class Dest { Text, Skip, FontTable, HtmlTag };

struct State {
  CharFormat format;
  int uc = 1;
  Dest dest = Dest::Text;
  bool htmlrtf = false;
  bool starred = false;  // the group began with \*
};

const QSet<QByteArray>& skippedDestinations() {
  static const QSet<QByteArray> words = {
      "colortbl", "stylesheet", "info", "pict", "object", "objdata", "header", "headerl", "headerr", "headerf",
      "footer", "footerl", "footerr", "footerf", "footnote", "fldinst", "listtable", "listoverridetable",
      "revtbl", "rsidtbl", "xmlnstbl", "themedata", "colorschememapping", "datastore", "latentstyles",
      "generator", "bkmkstart", "bkmkend", "nonshppict", "shpinst", "sp", "sn", "sv", "filetbl", "annotation",
      "atnid", "atnauthor", "author", "buptim", "comment", "company", "creatim", "doccomm", "keywords",
      "operator", "printim", "revtim", "subject", "title", "userprops", "docvar", "txe", "xe", "tc",
      "mmathPr", "background", "pgdsctbl", "mhtmltag", "falt", "panose", "fontemb", "fontfile", "template"};
  return words;
}

char16_t specialCharacter(const QByteArray& word) {
  static const QMap<QByteArray, char16_t> table = {
      {"emdash", 0x2014},  {"endash", 0x2013},    {"bullet", 0x2022},    {"lquote", 0x2018},
      {"rquote", 0x2019},  {"ldblquote", 0x201C}, {"rdblquote", 0x201D}, {"tab", u'\t'},
      {"emspace", 0x2003}, {"enspace", 0x2002},   {"qmspace", 0x2005},   {"zwj", 0x200D},
      {"zwnj", 0x200C},    {"ltrmark", 0x200E},   {"rtlmark", 0x200F},   {"cell", u'\t'},
  };
  return table.value(word, 0);
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
          stack_.pop_back();
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
    finishParagraph(false);
    content_.paragraphs = std::move(paragraphs_);
    return std::move(content_);
  }

 private:
  State& state() { return stack_.back(); }

  bool suppressed() {
    const State& s = state();
    if (s.dest == Dest::Skip) return true;
    if (content_.isHtml) return !(s.dest == Dest::HtmlTag || (s.dest == Dest::Text && !s.htmlrtf));
    return s.dest != Dest::Text && s.dest != Dest::FontTable;
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

  void put(const QString& text) {
    if (text.isEmpty()) return;
    State& s = state();
    if (s.dest == Dest::FontTable) {
      fontName_ += text;
      const qsizetype semi = fontName_.indexOf(QLatin1Char(';'));
      if (semi >= 0) {
        fontName_.truncate(semi);
        finishFontName();
      }
      return;
    }
    if (content_.isHtml) {
      content_.html += text;
      return;
    }
    if (!current_.runs.isEmpty() && current_.runs.back().format == s.format) {
      current_.runs.back().text += text;
    } else {
      current_.runs.append(Run{text, s.format});
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

  void finishParagraph(bool explicitEnd) {
    flush();
    if (explicitEnd || !current_.runs.isEmpty()) paragraphs_.append(current_);
    current_ = Paragraph{};
  }

  void paragraphBreak() {
    flush();
    if (suppressed()) return;
    if (content_.isHtml) {
      content_.html += QStringLiteral("\r\n");
      return;
    }
    if (state().dest == Dest::Text) finishParagraph(true);
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

  void controlWord(const QByteArray& word, bool hasParam, int param) {
    State& s = state();
    const bool starred = std::exchange(s.starred, false);
    // Destinations first: they decide what the group is.
    if (word == "fonttbl") {
      flush();
      s.dest = Dest::FontTable;
      return;
    }
    if (word == "htmltag") {
      flush();
      s.dest = content_.isHtml ? Dest::HtmlTag : Dest::Skip;
      return;
    }
    if (skippedDestinations().contains(word) || (starred && word != "fldrslt")) {
      flush();
      s.dest = Dest::Skip;
      return;
    }
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
    if (word == "par" || word == "row" || word == "page" || word == "sect") {
      paragraphBreak();
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
      content_.isHtml = !hasParam || param != 0;
    } else if (word == "htmlrtf") {
      s.htmlrtf = !hasParam || param != 0;
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
    } else if (word == "b") {
      s.format.bold = !hasParam || param != 0;
    } else if (word == "i") {
      s.format.italic = !hasParam || param != 0;
    } else if (word == "ulnone") {
      s.format.underline = false;
    } else if (word == "ul" || word == "uld" || word == "uldb" || word == "uldash" || word == "ulw" ||
               word == "ulth" || word == "ulwave" || word == "uldashd" || word == "ulhair") {
      s.format.underline = !hasParam || param != 0;
    } else if (word == "fs") {
      s.format.halfPoints = hasParam && param > 0 ? std::min(param, 3276) : 24;
    } else if (word == "plain") {
      s.format = CharFormat{};
      s.format.font = defaultFont_;
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
