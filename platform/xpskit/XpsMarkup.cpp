#include "platform/xpskit/XpsMarkup.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <glib.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace xpskit {

namespace {

// ---- abbreviated geometry, tokenised as libgxps does --------------------------------------

struct GeometryTokens {
  enum Type { Invalid, Number, Comma, Command, End, Error };
  std::string_view s;
  size_t pos = 0;
  size_t start = 0;  // where the current token begins
  Type type = End;
  char command = 0;

  // libgxps reads a number from a digit or sign: digits, a point, digits, an exponent.
  size_t numberEnd(size_t p) const {
    const size_t n = s.size();
    auto digits = [&] {
      while (p < n && g_ascii_isdigit(s[p])) ++p;
    };
    ++p;
    digits();
    if (p == n) return p;
    if (s[p] == '.') ++p;
    digits();
    if (p == n) return p;
    if (s[p] == 'e' || s[p] == 'E') ++p;
    if (p == n) return p;
    if (s[p] == '+' || s[p] == '-') ++p;
    digits();
    return p;
  }

  void next() {
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
    start = pos;
    if (pos == s.size()) {
      type = End;
      return;
    }
    const char c = s[pos];
    if (g_ascii_isdigit(c) || c == '+' || c == '-') {
      const size_t end = numberEnd(pos);
      const std::string number(s.substr(pos, end - pos));
      pos = end;
      char* stop = nullptr;
      errno = 0;
      g_ascii_strtod(number.c_str(), &stop);
      type = (errno != 0 || stop == number.c_str()) ? Error : Number;
    } else if (c == ',') {
      type = Comma;
      ++pos;
    } else if (g_ascii_isalpha(c)) {
      type = Command;
      command = c;
      ++pos;
    } else {
      type = Invalid;
      ++pos;
    }
  }
};

// Where libgxps meets a command it does not know (and stops the process), following its parse
// token by token; npos when it never does (it ends, or gives up with an error, first).
size_t unknownCommandAt(std::string_view data) {
  // libgxps is given a C string.
  data = data.substr(0, data.find('\0'));
  GeometryTokens t{data};
  t.next();
  if (t.type != GeometryTokens::Command) return std::string_view::npos;
  // A point: the current token as x (whatever it is), a comma, a number.
  auto point = [&] {
    t.next();
    if (t.type != GeometryTokens::Comma) return false;
    t.next();
    return t.type == GeometryTokens::Number;
  };
  auto advance = [&] {
    t.next();
    return t.type != GeometryTokens::Error;
  };
  auto number = [&] { return advance() && t.type == GeometryTokens::Number; };
  constexpr size_t kEnds = std::string_view::npos;
  do {
    const char command = t.command;
    const size_t at = t.start;
    if (!advance()) return kEnds;
    switch (command) {
      case 'm': case 'M': case 'l': case 'L':
        while (t.type == GeometryTokens::Number) {
          if (!point() || !advance()) return kEnds;
        }
        break;
      case 'h': case 'H': case 'v': case 'V':
        while (t.type == GeometryTokens::Number) {
          if (!advance()) return kEnds;
        }
        break;
      case 'c': case 'C':
        while (t.type == GeometryTokens::Number) {
          if (!point() || !advance() || !point() || !advance() || !point() || !advance()) return kEnds;
        }
        break;
      case 'q': case 'Q': case 's': case 'S':
        while (t.type == GeometryTokens::Number) {
          if (!point() || !advance() || !point() || !advance()) return kEnds;
        }
        break;
      case 'a': case 'A':
        while (t.type == GeometryTokens::Number) {
          if (!point() || !number() || !number() || !number() || !advance() || !point() || !advance()) return kEnds;
        }
        break;
      case 'z': case 'Z':
        break;
      case 'F':
        // The fill rule takes the next token, whatever it is.
        if (!advance()) return kEnds;
        break;
      default:
        return at;
    }
  } while (t.type == GeometryTokens::Command);
  return kEnds;
}

// Non-empty items of `points` split at spaces, as libgxps counts them.
std::vector<std::string_view> pointItems(std::string_view points) {
  points = points.substr(0, points.find('\0'));
  std::vector<std::string_view> items;
  size_t i = 0;
  while (i <= points.size()) {
    const size_t j = std::min(points.find(' ', i), points.size());
    if (j > i) items.push_back(points.substr(i, j - i));
    i = j + 1;
  }
  return items;
}

int curveSize(std::string_view element) {
  if (element == "PolyBezierSegment") return 3;
  if (element == "PolyQuadraticBezierSegment") return 2;
  return 0;
}

bool isGeometryAttribute(std::string_view name) { return name == "Data" || name == "Clip" || name == "Figures"; }

// A value that libgxps, copying a resource as text, would turn into other markup.
bool changesWhenCopied(std::string_view value) { return value.find_first_of("\"&<") != std::string_view::npos; }

// ---- markup parts, scanned as they stream -------------------------------------------------

// Follows the markup of one part as GMarkup reads it (elements, attributes, entity references,
// comments, processing instructions, CDATA and DOCTYPE passed over) and notes whether libgxps
// would meet markup it cannot read safely. Markup GMarkup refuses ends what libgxps reads; what
// follows it is still looked at, which costs nothing but a repair now and then.
class MarkupScanner {
 public:
  void feed(std::string_view bytes) {
    for (char c : bytes) step(c);
  }
  bool unsafe() const { return unsafe_; }

 private:
  enum class State { Text, Open, Name, InTag, SelfClose, AttrName, AfterName, AfterEquals, Value, EndTag, Passthrough };
  static constexpr size_t kNameCap = 256;
  // A value longer than this is not followed and counts as unsafe.
  static constexpr size_t kValueCap = size_t(64) << 20;

  static bool space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

  void step(char c) {
    if (unsafe_) return;
    switch (state_) {
      case State::Text:
        if (c == '<') state_ = State::Open;
        break;
      case State::Open:
        if (c == '?' || c == '!') {
          passthrough_ = std::string("<") + c;
          balance_ = 1;
          last_[0] = '<';
          last_[1] = c;
          state_ = State::Passthrough;
        } else if (c == '/') {
          state_ = State::EndTag;
        } else {
          element_.assign(1, c);
          state_ = State::Name;
        }
        break;
      case State::Name:
        if (space(c)) {
          state_ = State::InTag;
        } else if (c == '/') {
          state_ = State::SelfClose;
        } else if (c == '>') {
          openElement();
          state_ = State::Text;
        } else if (element_.size() < kNameCap) {
          element_ += c;
        }
        break;
      case State::InTag:
        if (c == '>') {
          openElement();
          state_ = State::Text;
        } else if (c == '/') {
          state_ = State::SelfClose;
        } else if (!space(c)) {
          attribute_.assign(1, c);
          state_ = State::AttrName;
        }
        break;
      case State::SelfClose:
        if (c == '>') {
          openElement();
          closeElement();
          state_ = State::Text;
        } else {
          state_ = State::InTag;
          step(c);
        }
        break;
      case State::AttrName:
        if (c == '=') {
          state_ = State::AfterEquals;
        } else if (space(c)) {
          state_ = State::AfterName;
        } else if (c == '>' || c == '/') {
          state_ = State::InTag;
          step(c);
        } else if (attribute_.size() < kNameCap) {
          attribute_ += c;
        }
        break;
      case State::AfterName:
        if (c == '=') {
          state_ = State::AfterEquals;
        } else if (!space(c)) {
          state_ = State::InTag;
          step(c);
        }
        break;
      case State::AfterEquals:
        if (c == '"' || c == '\'') {
          quote_ = c;
          value_.clear();
          entity_.reset();
          state_ = State::Value;
        } else if (!space(c)) {
          state_ = State::InTag;
          step(c);
        }
        break;
      case State::Value:
        if (entity_) {
          if (c == ';') {
            decodeEntity();
          } else if (entity_->size() < 16 && c != quote_) {
            *entity_ += c;
          } else {
            // Not a reference GMarkup knows; kept as it stands.
            addToValue("&" + *entity_);
            entity_.reset();
            step(c);
          }
        } else if (c == quote_) {
          attributeDone();
          state_ = State::InTag;
        } else if (c == '&') {
          entity_.emplace();
        } else {
          addToValue(std::string_view(&c, 1));
        }
        break;
      case State::EndTag:
        if (c == '>') {
          closeElement();
          state_ = State::Text;
        }
        break;
      case State::Passthrough:
        passthroughStep(c);
        break;
    }
  }

  // GMarkup ends a passthrough at a '>' that closes a processing instruction ("?>"), a comment
  // ("<!--" to "-->"), a CDATA section ("<![CDATA[" to "]]>") or a DOCTYPE whose angle brackets
  // balance; any other "<!" runs to the end of the part.
  void passthroughStep(char c) {
    if (passthrough_.size() < 9) passthrough_ += c;
    if (c == '<') ++balance_;
    if (c == '>') {
      --balance_;
      const bool pi = passthrough_[1] == '?' && last_[1] == '?';
      const bool comment = passthrough_.rfind("<!--", 0) == 0 && last_[0] == '-' && last_[1] == '-';
      const bool cdata = passthrough_.rfind("<![CDATA[", 0) == 0 && last_[0] == ']' && last_[1] == ']';
      const bool doctype = passthrough_.rfind("<!DOCTYPE", 0) == 0 && balance_ == 0;
      if (pi || comment || cdata || doctype) {
        state_ = State::Text;
        return;
      }
    }
    last_[0] = last_[1];
    last_[1] = c;
  }

  // GMarkup hands values on with tabs and line ends as spaces.
  void addToValue(std::string_view s) {
    if (value_.size() + s.size() > kValueCap) {
      unsafe_ = true;
      return;
    }
    for (char c : s) value_ += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
  }

  void decodeEntity() {
    const std::string e = *entity_;
    entity_.reset();
    static const std::map<std::string, char> named{{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    if (auto it = named.find(e); it != named.end()) {
      addToValue(std::string_view(&it->second, 1));
      return;
    }
    if (e.size() > 1 && e[0] == '#') {
      const bool hex = e[1] == 'x' || e[1] == 'X';
      char* end = nullptr;
      const std::string digits = e.substr(hex ? 2 : 1);
      const unsigned long cp = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
      if (!digits.empty() && end && *end == '\0') {
        // Only ASCII matters to libgxps's tokens; anything else reads as an invalid token.
        const char ch = cp < 0x80 ? static_cast<char>(cp) : '\x80';
        addToValue(std::string_view(&ch, 1));
        return;
      }
    }
    addToValue("&" + e + ";");
  }

  void attributeDone() {
    // The attributes belong to the element being opened, whose entry is pushed at its '>': it is
    // (in) a resource when its parent is a dictionary or in a resource.
    const bool inResource = !stack_.empty() && (stack_.back().inResource || stack_.back().isDictionary);
    if (inResource && changesWhenCopied(value_)) unsafe_ = true;
    if (isGeometryAttribute(attribute_) && unknownCommandAt(value_) != std::string_view::npos) unsafe_ = true;
    if (attribute_ == "Points") {
      const int per = curveSize(element_);
      if (per && pointItems(value_).size() % static_cast<size_t>(per) != 0) unsafe_ = true;
    }
  }

  void openElement() {
    const bool parentResource = !stack_.empty() && (stack_.back().inResource || stack_.back().isDictionary);
    stack_.push_back({parentResource, element_ == "ResourceDictionary"});
  }
  void closeElement() {
    if (!stack_.empty()) stack_.pop_back();
  }

  struct Open {
    bool inResource;    // inside a resource of a dictionary
    bool isDictionary;  // a ResourceDictionary: its children are resources
  };

  State state_ = State::Text;
  std::string element_, attribute_, value_, passthrough_;
  std::optional<std::string> entity_;
  char quote_ = '"';
  char last_[2] = {0, 0};
  int balance_ = 0;
  std::vector<Open> stack_;
  bool unsafe_ = false;
};

// ---- character sets, as libgxps chooses them ----------------------------------------------

// UTF-16 to UTF-8 as it streams; stops for good at a unit that cannot be decoded, as libgxps's
// converter does.
class Utf16Decoder {
 public:
  explicit Utf16Decoder(bool bigEndian) : bigEndian_(bigEndian) {}
  std::string feed(std::string_view bytes) {
    std::string out;
    for (char b : bytes) {
      if (failed_) break;
      if (!half_) {
        half_ = static_cast<unsigned char>(b);
        continue;
      }
      const unsigned first = *half_, second = static_cast<unsigned char>(b);
      half_.reset();
      const unsigned unit = bigEndian_ ? (first << 8 | second) : (second << 8 | first);
      if (high_) {
        if (unit < 0xDC00 || unit > 0xDFFF) {
          failed_ = true;
          break;
        }
        append(out, 0x10000 + ((*high_ - 0xD800) << 10) + (unit - 0xDC00));
        high_.reset();
      } else if (unit >= 0xD800 && unit <= 0xDBFF) {
        high_ = unit;
      } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
        failed_ = true;
      } else {
        append(out, unit);
      }
    }
    return out;
  }

 private:
  static void append(std::string& out, unsigned cp) {
    char buf[6];
    out.append(buf, static_cast<size_t>(g_unichar_to_utf8(cp, buf)));
  }
  bool bigEndian_;
  bool failed_ = false;
  std::optional<unsigned char> half_;  // the first byte of a unit
  std::optional<unsigned> high_;      // a high surrogate waiting for its low one
};

// How libgxps may read a part, judged from its first bytes: UTF-16 with a byte order mark, UTF-8,
// or (for bytes that are not all UTF-8, since libgxps judges by a first chunk of unknown size)
// either UTF-8 or UTF-16 without a byte order mark, which its converter takes as little-endian.
struct Reading {
  bool utf8 = false;
  bool utf16 = false;
  bool bigEndian = false;
};

constexpr size_t kHead = 64 * 1024;

Reading readingOf(std::string_view head) {
  Reading r;
  if (head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0xFF && static_cast<unsigned char>(head[1]) == 0xFE) {
    r.utf16 = true;
  } else if (head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0xFE &&
             static_cast<unsigned char>(head[1]) == 0xFF) {
    r.utf16 = true;
    r.bigEndian = true;
  } else {
    r.utf8 = true;
    r.utf16 = !g_utf8_validate(head.data(), static_cast<gssize>(head.size()), nullptr);
  }
  return r;
}

// Whether the text, read as GMarkup reads a document, begins with an element: nothing else of a
// part that does not is ever handed on by GMarkup. Unknown while only white space has come.
enum class Begins { Element, Other, Unknown };

Begins beginning(std::string_view utf8) {
  if (utf8.rfind("\xEF\xBB\xBF", 0) == 0) utf8.remove_prefix(3);
  const size_t i = utf8.find_first_not_of(" \t\r\n");
  if (i == std::string_view::npos) return Begins::Unknown;
  return utf8[i] == '<' ? Begins::Element : Begins::Other;
}

// ---- the package, read as libgxps reads it ------------------------------------------------

// libgxps's zip reader: libarchive over the file, read and skipped as a stream, never sought,
// so that the entries are those of the local headers in the order they are stored.
class PackageStream {
 public:
  explicit PackageStream(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), a_(archive_read_new()) {
    archive_read_support_format_zip(a_);
    if (fd_ < 0 || archive_read_open2(a_, this, nullptr, &PackageStream::read, &PackageStream::skip, nullptr) != ARCHIVE_OK)
      failed_ = true;
  }
  ~PackageStream() {
    archive_read_free(a_);
    if (fd_ >= 0) ::close(fd_);
  }
  PackageStream(const PackageStream&) = delete;
  PackageStream& operator=(const PackageStream&) = delete;

  // The next entry's name; false at the end (or where the reader gives up, as libgxps's does).
  bool next(std::string* name) {
    if (failed_) return false;
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(a_, &entry);
    if (r == ARCHIVE_EOF || r == ARCHIVE_FATAL) return false;
    const char* n = (r == ARCHIVE_OK || r == ARCHIVE_WARN) && entry ? archive_entry_pathname(entry) : nullptr;
    *name = n ? n : "";
    return true;
  }
  // Up to `size` bytes of the entry's data; 0 at its end or on an error.
  size_t data(char* buf, size_t size) {
    const la_ssize_t n = archive_read_data(a_, buf, size);
    return n > 0 ? static_cast<size_t>(n) : 0;
  }

 private:
  static la_ssize_t read(archive*, void* self, const void** buffer) {
    auto* s = static_cast<PackageStream*>(self);
    *buffer = s->buf_;
    const ssize_t n = ::read(s->fd_, s->buf_, sizeof s->buf_);
    return n < 0 ? -1 : n;
  }
  static la_int64_t skip(archive*, void* self, la_int64_t request) {
    auto* s = static_cast<PackageStream*>(self);
    return ::lseek(s->fd_, request, SEEK_CUR) < 0 ? 0 : request;
  }

  int fd_;
  archive* a_;
  bool failed_ = false;
  char buf_[64 * 1024];
};

// "a/b/[3].piece" or "a/b/[3].last.piece": a piece of the interleaved part "a/b".
bool isPiece(const std::string& name) {
  const size_t open = name.rfind("/[");
  if (open == std::string::npos) return false;
  const size_t close = name.find(']', open);
  if (close == std::string::npos || close == open + 2) return false;
  for (size_t i = open + 2; i < close; ++i) {
    if (!g_ascii_isdigit(name[i])) return false;
  }
  const std::string rest = name.substr(close + 1);
  return g_ascii_strcasecmp(rest.c_str(), ".piece") == 0 || g_ascii_strcasecmp(rest.c_str(), ".last.piece") == 0;
}

// Scans one part's bytes as they arrive.
class PartScan {
 public:
  void feed(std::string_view bytes) {
    if (decided_) {
      feedDecided(bytes);
      return;
    }
    head_.append(bytes);
    if (head_.size() >= kHead || (head_.size() >= kLook && noMarkup())) decide();
  }
  // Yes once it is clear that the part is no markup: the rest of it need not be read.
  bool done() const { return decided_ && !utf8_ && !utf16_; }
  // Whether libgxps would meet unsafe markup in the part.
  bool finish() {
    if (!decided_) decide();
    return (utf8_ && utf8_->unsafe()) || (utf16_ && utf16_->unsafe());
  }

 private:
  // Enough to tell most parts that are no markup (fonts, images) by their first bytes.
  static constexpr size_t kLook = 256;

  // Yes when neither way libgxps may read the part begins with an element.
  bool noMarkup() const {
    const Reading r = readingOf(head_);
    if (r.utf8 && beginning(head_) != Begins::Other) return false;
    if (r.utf16) {
      Utf16Decoder decoder(r.bigEndian);
      if (beginning(decoder.feed(std::string_view(head_).substr(r.utf8 ? 0 : 2))) != Begins::Other) return false;
    }
    return true;
  }
  void decide() {
    decided_ = true;
    const Reading r = readingOf(head_);
    if (r.utf8 && beginning(head_) != Begins::Other) utf8_.emplace();
    if (r.utf16) {
      decoder_.emplace(r.bigEndian);
      // The byte order mark is the converter's; what follows it is the text.
      const std::string start = decoder_->feed(std::string_view(head_).substr(r.utf8 ? 0 : 2));
      if (beginning(start) != Begins::Other) {
        utf16_.emplace();
        utf16_->feed(start);
      } else {
        decoder_.reset();
      }
    }
    if (utf8_) utf8_->feed(head_);
    head_.clear();
  }
  void feedDecided(std::string_view bytes) {
    if (utf8_) utf8_->feed(bytes);
    if (utf16_) utf16_->feed(decoder_->feed(bytes));
  }

  bool decided_ = false;
  std::string head_;
  std::optional<MarkupScanner> utf8_, utf16_;
  std::optional<Utf16Decoder> decoder_;
};

// ---- writing a part again, made safe ------------------------------------------------------

// The text of a part as GMarkup reads it, written again as UTF-8 with unsafe markup made safe:
// geometry cut before an unknown command, Bézier points cut to whole curves and, inside
// resource dictionaries, the characters that would change a copied resource taken out. What
// GMarkup refuses ends the text there, as it ends what libgxps reads. Comments and processing
// instructions are left out.
class SafeMarkupWriter {
 public:
  explicit SafeMarkupWriter(size_t cap) : cap_(cap) {}

  // False when the text written would pass the cap.
  bool write(std::string_view utf8) {
    if (utf8.rfind("\xEF\xBB\xBF", 0) == 0) utf8.remove_prefix(3);
    static const GMarkupParser parser = {&SafeMarkupWriter::start, &SafeMarkupWriter::end, &SafeMarkupWriter::text,
                                         nullptr, nullptr};
    GMarkupParseContext* ctx = g_markup_parse_context_new(&parser, GMarkupParseFlags(0), this, nullptr);
    if (g_markup_parse_context_parse(ctx, utf8.data(), static_cast<gssize>(utf8.size()), nullptr))
      g_markup_parse_context_end_parse(ctx, nullptr);
    g_markup_parse_context_free(ctx);
    return !overflow_;
  }
  std::string take() { return std::move(out_); }

 private:
  struct Open {
    bool inResource;
    bool isDictionary;
  };

  static void start(GMarkupParseContext*, const gchar* name, const gchar** names, const gchar** values, gpointer self,
                    GError**) {
    static_cast<SafeMarkupWriter*>(self)->startElement(name, names, values);
  }
  static void end(GMarkupParseContext*, const gchar* name, gpointer self, GError**) {
    auto* w = static_cast<SafeMarkupWriter*>(self);
    if (!w->stack_.empty()) w->stack_.pop_back();
    w->append("</");
    w->append(name);
    w->append(">");
  }
  static void text(GMarkupParseContext*, const gchar* text, gsize len, gpointer self, GError**) {
    static_cast<SafeMarkupWriter*>(self)->appendEscaped(std::string_view(text, len));
  }

  void startElement(const gchar* name, const gchar** names, const gchar** values) {
    const bool inResource = !stack_.empty() && (stack_.back().inResource || stack_.back().isDictionary);
    stack_.push_back({inResource, std::strcmp(name, "ResourceDictionary") == 0});
    append("<");
    append(name);
    for (int i = 0; names[i]; ++i) {
      std::string value = values[i];
      if (inResource) {
        for (char& c : value) {
          if (c == '"' || c == '&' || c == '<') c = ' ';
        }
      }
      if (isGeometryAttribute(names[i])) value = safeGeometry(value);
      if (std::strcmp(names[i], "Points") == 0 && curveSize(name)) value = wholeCurves(value, curveSize(name));
      append(" ");
      append(names[i]);
      append("=\"");
      appendEscaped(value);
      append("\"");
    }
    append(">");
  }

  void append(std::string_view s) {
    if (overflow_ || out_.size() + s.size() > cap_) {
      overflow_ = true;
      return;
    }
    out_ += s;
  }
  void appendEscaped(std::string_view s) {
    for (char c : s) {
      switch (c) {
        case '&': append("&amp;"); break;
        case '<': append("&lt;"); break;
        case '>': append("&gt;"); break;
        case '"': append("&quot;"); break;
        default: append(std::string_view(&c, 1));
      }
    }
  }

  size_t cap_;
  std::string out_;
  bool overflow_ = false;
  std::vector<Open> stack_;
};

// The UTF-8 text of a part, read one of the ways libgxps may read it: UTF-16 when it has a byte
// order mark or is no UTF-8 from its first few kilobytes on (libgxps judges by a first chunk of
// some kilobytes), else UTF-8.
std::string partText(const std::string& bytes) {
  const Reading r = readingOf(std::string_view(bytes).substr(0, kHead));
  if (r.utf8) {
    const char* valid = nullptr;
    g_utf8_validate(bytes.data(), static_cast<gssize>(std::min(bytes.size(), kHead)), &valid);
    if (!r.utf16 || valid - bytes.data() >= 4096 - 6) return bytes;
  }
  Utf16Decoder decoder(r.bigEndian);
  return decoder.feed(std::string_view(bytes).substr(r.utf8 ? 0 : 2));
}

// The package's entries as libgxps reads them, interleaved parts joined as it joins them.
struct Entries {
  std::vector<std::pair<std::string, std::string>> plain;  // name, data, in stored order
  std::vector<std::pair<std::string, std::string>> pieces;
};

bool readEntries(const std::string& path, size_t cap, Entries* entries, std::string* error) {
  PackageStream in(path);
  std::string name;
  size_t total = 0;
  std::vector<char> buf(64 * 1024);
  while (in.next(&name)) {
    std::string data;
    size_t n;
    while ((n = in.data(buf.data(), buf.size())) > 0) {
      total += n;
      if (total > cap) {
        *error = "the package is too large to be made safe";
        return false;
      }
      data.append(buf.data(), n);
    }
    if (name.empty() || name.back() == '/') continue;
    (isPiece(name) ? entries->pieces : entries->plain).emplace_back(name, std::move(data));
  }
  return true;
}

// Joins the pieces of each interleaved part in the order libgxps reads them: "[0].piece" (by a
// name compared without case), then each next number found after the last one read, up to the
// one whose name ends in ".last.piece".
std::vector<std::pair<std::string, std::string>> joinPieces(const Entries& entries) {
  std::vector<std::pair<std::string, std::string>> parts;
  std::set<std::string> done;
  const auto& pieces = entries.pieces;
  for (size_t i = 0; i < pieces.size(); ++i) {
    const std::string& first = pieces[i].first;
    const std::string dir = first.substr(0, first.rfind("/["));
    std::string lower = dir;
    for (char& c : lower) c = g_ascii_tolower(c);
    if (g_ascii_strcasecmp(first.substr(dir.size()).c_str(), "/[0].piece") != 0 || !done.insert(lower).second) continue;
    bool plainExists = false;
    for (const auto& [name, data] : entries.plain) plainExists = plainExists || g_ascii_strcasecmp(name.c_str(), dir.c_str()) == 0;
    if (plainExists) continue;
    std::string joined = pieces[i].second;
    size_t at = i;
    for (unsigned n = 1; !g_str_has_suffix(pieces[at].first.c_str(), ".last.piece"); ++n) {
      const std::string prefix = dir + "/[" + std::to_string(n) + "]";
      size_t found = pieces.size();
      for (size_t j = at + 1; j < pieces.size(); ++j) {
        const std::string& name = pieces[j].first;
        if (name.rfind(prefix, 0) != 0) continue;
        const std::string suffix = name.substr(prefix.size());
        if (g_ascii_strcasecmp(suffix.c_str(), ".piece") == 0 || g_ascii_strcasecmp(suffix.c_str(), ".last.piece") == 0) {
          found = j;
          break;
        }
      }
      if (found == pieces.size()) break;
      joined += pieces[found].second;
      at = found;
    }
    parts.emplace_back(dir, std::move(joined));
  }
  return parts;
}

// Whether the part's text needs to be made safe.
bool unsafePart(const std::string& data) {
  PartScan scan;
  scan.feed(data);
  return scan.finish();
}

}  // namespace

std::string safeGeometry(std::string_view data) {
  const size_t at = unknownCommandAt(data);
  return std::string(at == std::string_view::npos ? data : data.substr(0, at));
}

std::string wholeCurves(std::string_view points, int perCurve) {
  const auto items = pointItems(points);
  const size_t keep = perCurve > 0 ? items.size() - items.size() % static_cast<size_t>(perCurve) : items.size();
  if (keep == items.size()) return std::string(points);
  std::string out;
  for (size_t i = 0; i < keep; ++i) {
    if (i) out += ' ';
    out += items[i];
  }
  return out;
}

MarkupRepair repairMarkup(const std::string& source, const std::string& destination, std::string* error, size_t cap) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return MarkupRepair::Failed;
  };
  // First only a look, as the data streams by: most packages need nothing.
  bool needed = false;
  {
    PackageStream in(source);
    std::string name;
    std::vector<char> buf(64 * 1024);
    while (!needed && in.next(&name)) {
      if (isPiece(name)) {
        needed = true;  // joined below, and looked at then
        break;
      }
      PartScan scan;
      size_t n;
      while (!scan.done() && (n = in.data(buf.data(), buf.size())) > 0) scan.feed(std::string_view(buf.data(), n));
      needed = scan.finish();
    }
  }
  if (!needed) return MarkupRepair::NotNeeded;

  Entries entries;
  std::string why;
  if (!readEntries(source, cap, &entries, &why)) return fail(why);
  std::vector<std::pair<std::string, std::string>> parts = std::move(entries.plain);
  for (auto& joined : joinPieces(entries)) parts.push_back(std::move(joined));

  int code = 0;
  zip_t* out = zip_open(destination.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (!out) return fail("cannot write the package again");
  std::set<std::string> names;
  for (auto& [name, data] : parts) {
    std::string lower = name;
    for (char& c : lower) c = g_ascii_tolower(c);
    // libgxps takes the first entry of a name, whatever its case.
    if (!names.insert(lower).second) continue;
    if (unsafePart(data)) {
      SafeMarkupWriter writer(cap);
      if (!writer.write(partText(data))) {
        zip_discard(out);
        std::remove(destination.c_str());
        return fail("the package's markup is too large to be made safe");
      }
      data = writer.take();
    }
    // The source owns a copy of the data (an empty entry has none).
    void* copy = data.empty() ? nullptr : std::malloc(data.size());
    if (!data.empty() && !copy) {
      zip_discard(out);
      std::remove(destination.c_str());
      return fail("no memory to write the package again");
    }
    if (copy) std::memcpy(copy, data.data(), data.size());
    zip_source_t* src = zip_source_buffer(out, copy, data.size(), copy ? 1 : 0);
    if (!src || zip_file_add(out, name.c_str(), src, ZIP_FL_ENC_UTF_8) < 0) {
      if (src) {
        zip_source_free(src);
      } else {
        std::free(copy);
      }
      why = zip_strerror(out);
      zip_discard(out);
      std::remove(destination.c_str());
      return fail(why);
    }
  }
  if (zip_close(out) < 0) {
    why = zip_strerror(out);
    zip_discard(out);
    std::remove(destination.c_str());
    return fail(why);
  }
  return MarkupRepair::Repaired;
}

}  // namespace xpskit
