#include "platform/djvukit/DjvuKit.h"

#include <libdjvu/ddjvuapi.h>
#include <libdjvu/miniexp.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/djvukit/PdfWriter.h"
#include "platform/foundation/log.h"
#include "platform/foundation/worker_threads.h"

namespace djvukit {

namespace {

constexpr int kJpegQuality = 75;
// A page whose rendered pixels come to more than this is refused (a 600 dpi A0 colour page comes
// to about 1.7 GB).
constexpr double kMaxPageBytes = 1.0e9;

void logLine(foundation::LogLevel level, const std::string& line) { foundation::log(level, "djvukit", line); }

std::u32string fromUtf8(const char* s) {
  std::u32string out;
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  while (*p) {
    char32_t c = *p;
    int extra = 0;
    if (c >= 0xF0) { c &= 0x07; extra = 3; }
    else if (c >= 0xE0) { c &= 0x0F; extra = 2; }
    else if (c >= 0xC0) { c &= 0x1F; extra = 1; }
    else if (c >= 0x80) { c = 0xFFFD; }
    ++p;
    for (int i = 0; i < extra; ++i) {
      if ((*p & 0xC0) != 0x80) { c = 0xFFFD; break; }
      c = (c << 6) | (*p++ & 0x3F);
    }
    out.push_back(c);
  }
  return out;
}

// The first line of a djvulibre message, without its leading "[id] " tag or closing stop.
std::string plainMessage(const char* message) {
  std::string s = message;
  s = s.substr(0, s.find('\n'));
  if (!s.empty() && s.front() == '[') {
    const size_t end = s.find("] ");
    if (end != std::string::npos) s.erase(0, end + 2);
  }
  while (!s.empty() && (s.back() == '.' || s.back() == ' ')) s.pop_back();  // it goes inside a sentence
  return s;
}

// djvulibre makes its process-wide objects on first use without a lock (the message catalogue
// when a context is made; the port caster and the lists of open files and file pools when a
// document is first opened) and sets the program name and the locale whenever a context is
// made. Two conversions doing that at once can crash, leave a catalogue that knows no message
// ("Unrecognized DjVu Message"), or register a document with a port caster that is then
// replaced ("Failed to get data for URL"). So each conversion makes its context and opens its
// document under this lock; the pages are decoded in parallel.
std::mutex& openingMutex() {
  static std::mutex m;
  return m;
}

// Its symbol table is read without a lock and reallocated as it grows: the symbols of the text
// expressions (zone kinds, statuses) are all made under the opening lock, before any page.
void makeTextSymbols() {
  for (const char* name : {"page", "column", "region", "para", "line", "word", "char", "failed", "stopped"})
    miniexp_symbol(name);
}

// The folder a conversion's djvulibre reads from: a private one holding links to the document
// and to the files it is made of, and nothing else.
// - djvulibre keeps, for the life of the process, the file pools of a document that failed to
//   open (a truncated file, say) and hands them by URL to any later document there: that file
//   would fail as before however it changed. A private folder gives each conversion URLs of its
//   own.
// - The files an indirect document names are read only when they are plain files beside it:
//   a name reaching out of the folder ("../../dev/zero") or a FIFO would otherwise be read, and
//   the conversion would never end.
class PrivateFolder {
 public:
  explicit PrivateFolder(const std::string& source) : path_(source) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(source, ec);
    std::string folder = (std::filesystem::temp_directory_path(ec) / "lectern-djvu-XXXXXX").string();
    if (ec || ::mkdtemp(folder.data()) == nullptr) return;
    folder_ = folder;
    std::filesystem::create_symlink(absolute, folder_ / absolute.filename(), ec);
    if (ec) return;  // read in place then
    path_ = (folder_ / absolute.filename()).string();
    realFolder_ = absolute.parent_path();
  }
  ~PrivateFolder() {
    std::error_code ec;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);  // the links, not what they name
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  // The document's path for djvulibre.
  const std::string& path() const { return path_; }

  // Lets djvulibre read the document's file `name` beside it (one that is missing is reported
  // missing when its page is read). False for a name that is not one plain file-name component,
  // or that names something other than a file.
  bool admit(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return false;
    if (realFolder_.empty()) return true;
    std::error_code ec;
    const auto status = std::filesystem::status(realFolder_ / name, ec);
    if (status.type() == std::filesystem::file_type::not_found) return true;
    if (status.type() != std::filesystem::file_type::regular) return false;
    const auto link = folder_ / name;
    if (!std::filesystem::is_symlink(link, ec)) std::filesystem::create_symlink(realFolder_ / name, link, ec);
    return true;
  }

  // `text` with the private folder's name replaced by the document's folder.
  std::string real(std::string text) const {
    if (realFolder_.empty()) return text;
    const std::string alias = folder_.string(), real = realFolder_.string();
    for (size_t at = text.find(alias); at != std::string::npos; at = text.find(alias, at + real.size()))
      text.replace(at, alias.size(), real);
    return text;
  }

 private:
  std::string path_;
  std::filesystem::path folder_, realFolder_;
};

// One conversion's djvulibre context, document and the errors it reported. The context is the
// conversion's own, so its queue holds only the messages of its own document.
class Session {
 public:
  explicit Session(const std::string& source) : folder_(source) {}
  ~Session() {
    if (document_) ddjvu_document_release(document_);
    if (context_) ddjvu_context_release(context_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Makes the context and opens the document, up to its directory of pages. False with the
  // reason in `why`.
  bool open(std::string* why) {
    std::lock_guard lock(openingMutex());
    makeTextSymbols();
    context_ = ddjvu_context_create("lectern");
    if (!context_) {
      *why = "The DjVu decoder cannot be started";
      return false;
    }
    // Every page is decoded once: a cache of decoded pages would only hold memory.
    document_ = ddjvu_document_create_by_filename_utf8(context_, folder_.path().c_str(), 0);
    if (!document_) {
      drain();
      *why = reason("Not a DjVu document");
      return false;
    }
    while (!ddjvu_document_decoding_done(document_)) waitForMessage();
    drain();
    if (ddjvu_document_decoding_error(document_)) {
      *why = reason("Not a DjVu document");
      return false;
    }
    // The files the document is made of, when they are files of their own.
    const ddjvu_document_type_t type = ddjvu_document_get_type(document_);
    if (type == DDJVU_DOCTYPE_INDIRECT || type == DDJVU_DOCTYPE_OLD_INDEXED) {
      for (int i = 0, n = ddjvu_document_get_filenum(document_); i < n; ++i) {
        ddjvu_fileinfo_t info;
        if (ddjvu_document_get_fileinfo(document_, i, &info) != DDJVU_JOB_OK || !info.id) continue;
        const std::string name = info.id;
        if (!folder_.admit(name)) {
          *why = "The document refers to " + name + ", which is not a file in its folder";
          return false;
        }
      }
    }
    return true;
  }

  ddjvu_document_t* document() const { return document_; }
  // The document's path for djvulibre's tools.
  const std::string& path() const { return folder_.path(); }

  void drain() {
    while (const ddjvu_message_t* m = ddjvu_message_peek(context_)) {
      if (m->m_any.tag == DDJVU_ERROR && m->m_error.message && lastError_.empty())
        lastError_ = folder_.real(plainMessage(m->m_error.message));
      ddjvu_message_pop(context_);
    }
  }
  void waitForMessage() {
    ddjvu_message_wait(context_);
    drain();
  }
  std::string reason(const std::string& fallback) const { return lastError_.empty() ? fallback : fallback + " (" + lastError_ + ")"; }

 private:
  PrivateFolder folder_;  // outlives the document, whose files are opened as they are needed
  ddjvu_context_t* context_ = nullptr;
  ddjvu_document_t* document_ = nullptr;
  std::string lastError_;
};

// ---- hidden text --------------------------------------------------------------------------

struct TextLeaf {
  std::u32string text;
  int box[4];  // left, bottom, right, top in page pixels
};

bool isBlank(char32_t c) { return c == U' ' || c == U'\t' || c == U'\n' || c == U'\r' || c == U'\v' || c == U'\f'; }

// Lays out leaves that follow one another in one line. Leaves that share one box (and a leaf
// holding several words) share it out among their words by their number of characters, each
// blank between two words taking a character's width, so that no two words lie on each other.
void layOutLine(const std::vector<TextLeaf>& leaves, double scale, std::vector<PdfWord>* words) {
  for (size_t i = 0; i < leaves.size();) {
    size_t j = i + 1;
    while (j < leaves.size() && std::equal(leaves[j].box, leaves[j].box + 4, leaves[i].box)) ++j;
    // The words of the group, and their first cells counting one cell per character.
    std::vector<std::pair<std::u32string, size_t>> parts;
    size_t cells = 0;
    for (size_t k = i; k < j; ++k) {
      const std::u32string& t = leaves[k].text;
      for (size_t p = 0; p < t.size();) {
        while (p < t.size() && isBlank(t[p])) ++p;
        size_t e = p;
        while (e < t.size() && !isBlank(t[e])) ++e;
        if (e > p) {
          if (!parts.empty()) ++cells;  // the blank before this word
          parts.emplace_back(t.substr(p, e - p), cells);
          cells += e - p;
        }
        p = e;
      }
    }
    const int* box = leaves[i].box;
    const double cell = cells ? (box[2] - box[0]) * scale / static_cast<double>(cells) : 0;
    for (auto& [text, first] : parts) {
      PdfWord w;
      w.x0 = box[0] * scale + cell * static_cast<double>(first);
      w.x1 = w.x0 + cell * static_cast<double>(text.size());
      w.y0 = box[1] * scale;
      w.y1 = box[3] * scale;
      w.text = std::move(text);
      words->push_back(std::move(w));
    }
    i = j;
  }
}

// A zone of the text expression: its box, and its text when it holds no deeper zones.
bool readZone(miniexp_t node, TextLeaf* zone, miniexp_t* children) {
  if (!miniexp_consp(node)) return false;
  for (int i = 0; i < 4; ++i) {
    miniexp_t v = miniexp_nth(i + 1, node);
    if (!miniexp_numberp(v)) return false;
    zone->box[i] = miniexp_to_int(v);
  }
  *children = miniexp_cddr(miniexp_cdddr(node));
  if (miniexp_stringp(miniexp_car(*children)) && miniexp_cdr(*children) == miniexp_nil) {
    zone->text = fromUtf8(miniexp_to_str(miniexp_car(*children)));
    *children = miniexp_nil;
  }
  return true;
}

// The words of a text expression in reading order, in PDF points from the bottom left corner.
// The leaves of one zone (words, or lines where the text goes no deeper) are laid out as one
// line.
void collectWords(miniexp_t node, double scale, std::vector<PdfWord>* words) {
  TextLeaf zone;
  miniexp_t children;
  if (!readZone(node, &zone, &children)) return;
  if (children == miniexp_nil) {
    layOutLine({zone}, scale, words);
    return;
  }
  std::vector<TextLeaf> line;
  for (; miniexp_consp(children); children = miniexp_cdr(children)) {
    TextLeaf leaf;
    miniexp_t grandchildren;
    if (!readZone(miniexp_car(children), &leaf, &grandchildren)) continue;
    if (grandchildren == miniexp_nil) {
      line.push_back(std::move(leaf));
    } else {
      layOutLine(line, scale, words);
      line.clear();
      collectWords(miniexp_car(children), scale, words);
    }
  }
  layOutLine(line, scale, words);
}

// djvulibre writes through a null pointer when a page's hidden text says it holds no
// characters (a damaged or made-up file), which ends the whole process; only decoding the text
// tells. So djvutxt reads the document's text in a process of its own, while the first page is
// decoded; where that process dies, each page's text is read that way, and the pages whose text
// kills it are converted without their text.
extern "C" char** environ;

// djvutxt reading the text of `page` (from 1; 0: every page) in a process of its own.
class TextReader {
 public:
  enum class End { Read, Died, NotRun };

  TextReader(const std::string& path, int page) {
    std::vector<std::string> args = {"djvutxt"};
    if (page > 0) args.push_back("--page=" + std::to_string(page));
    args.push_back(path);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, "djvutxt", &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~TextReader() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      reap(0);
    }
  }
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  // Waits for the process. Text takes little reading: one still at it after a minute is ended,
  // its text counted as unreadable.
  End end() {
    if (pid_ <= 0) return End::NotRun;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    int status = 0;
    for (;;) {
      const pid_t ended = reap(WNOHANG, &status);
      if (ended < 0) return End::NotRun;  // reaped elsewhere
      if (ended > 0) break;
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        reap(0);
        return End::Died;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFSIGNALED(status)) return End::Died;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return End::NotRun;
    return End::Read;  // an error in the text is reported, not fatal, when it is read here too
  }

 private:
  pid_t reap(int options, int* status = nullptr) {
    int ignored = 0;
    pid_t ended;
    while ((ended = ::waitpid(pid_, status ? status : &ignored, options)) < 0 && errno == EINTR) {
    }
    if (ended != 0) pid_ = 0;
    return ended;
  }
  pid_t pid_ = 0;
};

// Which pages' hidden text can be read in this process: asked page by page, in order.
class TextGuard {
 public:
  TextGuard(const Session& s, std::string source)
      : path_(s.path()), source_(std::move(source)), all_(std::make_unique<TextReader>(path_, 0)) {}

  bool readable(int index) {
    if (all_) {
      const TextReader::End end = all_->end();
      all_.reset();
      if (end == TextReader::End::NotRun) {
        static std::once_flag once;
        std::call_once(once, [] { logLine(foundation::LogLevel::Warning, "djvutxt cannot be run: hidden text is read unchecked"); });
      }
      pageByPage_ = end == TextReader::End::Died;
    }
    if (!pageByPage_ || TextReader(path_, index + 1).end() == TextReader::End::Read) return true;
    logLine(foundation::LogLevel::Warning,
            source_ + ": page " + std::to_string(index + 1) + " is converted without its hidden text, which cannot be read");
    return false;
  }

 private:
  std::string path_, source_;
  std::unique_ptr<TextReader> all_;  // the whole document's, until it ended
  bool pageByPage_ = false;
};

// The page's hidden text, empty when it has none.
std::vector<PdfWord> pageWords(Session& s, int index, double scale) {
  std::vector<PdfWord> words;
  miniexp_t text;
  while ((text = ddjvu_document_get_pagetext(s.document(), index, "word")) == miniexp_dummy) s.waitForMessage();
  collectWords(text, scale, &words);
  ddjvu_miniexp_release(s.document(), text);
  return words;
}

// ---- page images --------------------------------------------------------------------------

// A page is rendered and encoded a band of rows at a time: about this many pixels.
constexpr size_t kBandPixels = size_t{1} << 21;

// Renders rows [0, height) of the upright page band by band, top to bottom, giving each band's
// rows to `take`; a band with nothing to draw is white. False when `take` is.
template <typename Take>
bool renderBands(ddjvu_page_t* page, ddjvu_render_mode_t mode, ddjvu_format_t* format, int width, int height,
                 size_t rowBytes, unsigned char white, std::vector<unsigned char>& band, Take take) {
  const int bandRows = static_cast<int>(std::min<size_t>(std::max<size_t>(kBandPixels / static_cast<size_t>(width), 16),
                                                          static_cast<size_t>(height)));
  band.resize(rowBytes * static_cast<size_t>(bandRows));
  ddjvu_rect_t pageRect{0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height)};
  for (int y = 0; y < height; y += bandRows) {
    const int rows = std::min(bandRows, height - y);
    ddjvu_rect_t rect{0, y, static_cast<unsigned>(width), static_cast<unsigned>(rows)};
    if (!ddjvu_page_render(page, mode, &pageRect, &rect, format, static_cast<unsigned long>(rowBytes),
                           reinterpret_cast<char*>(band.data())))
      std::fill(band.begin(), band.begin() + static_cast<std::ptrdiff_t>(rowBytes * static_cast<size_t>(rows)), white);
    if (!take(band.data(), rows)) return false;
  }
  return true;
}

struct FormatHolder {
  ddjvu_format_t* format;
  ~FormatHolder() { ddjvu_format_release(format); }
};

ddjvu_format_t* uprightFormat(ddjvu_format_style_t style) {
  ddjvu_format_t* format = ddjvu_format_create(style, 0, nullptr);
  ddjvu_format_set_row_order(format, 1);
  ddjvu_format_set_y_direction(format, 1);
  return format;
}

bool anyColour(const unsigned char* rgb, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i, rgb += 3)
    if (rgb[0] != rgb[1] || rgb[0] != rgb[2]) return true;
  return false;
}

// Encodes the page: bitonal as CCITT group 4; colour as JPEG, grey when no pixel has colour.
// No more than a band of pixels is held at any time. A small rendering of the background tells
// most colour pages at once (the foreground's shapes cost as much to draw small as large); a page
// whose background is grey is encoded as grey until a band shows colour, and then again from the
// top in colour.
// `why`: the encoder's reason when it gave one.
bool encodePage(ddjvu_page_t* page, int width, int height, bool bitonal, PdfImage* image, std::string* why) {
  std::vector<unsigned char> band;
  image->width = width;
  image->height = height;
  if (bitonal) {
    FormatHolder f{uprightFormat(DDJVU_FORMAT_MSBTOLSB)};
    const size_t rowBytes = (static_cast<size_t>(width) + 7) / 8;
    CcittG4Encoder g4;
    image->kind = PdfImage::Kind::CcittG4;
    const bool done =
        g4.start(width, height) &&
        renderBands(page, DDJVU_RENDER_MASKONLY, f.format, width, height, rowBytes, 0x00, band,
                    [&](const unsigned char* rows, int count) { return g4.addRows(rows, count, rowBytes); }) &&
        g4.finish(&image->data);
    if (!done) *why = g4.error();
    return done;
  }
  FormatHolder f{uprightFormat(DDJVU_FORMAT_RGB24)};
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  bool coloured = false;
  {
    const unsigned pw = static_cast<unsigned>((width + 31) / 32), ph = static_cast<unsigned>((height + 31) / 32);
    std::vector<unsigned char> small(static_cast<size_t>(pw) * ph * 3);
    ddjvu_rect_t rect{0, 0, pw, ph};
    coloured = ddjvu_page_render(page, DDJVU_RENDER_BACKGROUND, &rect, &rect, f.format, pw * 3ul,
                                 reinterpret_cast<char*>(small.data())) &&
               anyColour(small.data(), static_cast<size_t>(pw) * ph);
  }
  if (!coloured) {
    JpegEncoder grey;
    if (!grey.start(width, height, 1, kJpegQuality)) return false;
    const bool done = renderBands(page, DDJVU_RENDER_COLOR, f.format, width, height, rowBytes, 0xFF, band,
                                  [&](unsigned char* rows, int count) {
                                    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(count);
                                    if (anyColour(rows, n)) {
                                      coloured = true;
                                      return false;
                                    }
                                    for (size_t i = 0; i < n; ++i) rows[i] = rows[i * 3];
                                    return grey.addRows(rows, count, static_cast<size_t>(width));
                                  });
    if (done) {
      image->kind = PdfImage::Kind::JpegGray;
      return grey.finish(&image->data);
    }
    if (!coloured) return false;
  }
  JpegEncoder colour;
  image->kind = PdfImage::Kind::JpegRgb;
  return colour.start(width, height, 3, kJpegQuality) &&
         renderBands(page, DDJVU_RENDER_COLOR, f.format, width, height, rowBytes, 0xFF, band,
                     [&](const unsigned char* rows, int count) { return colour.addRows(rows, count, rowBytes); }) &&
         colour.finish(&image->data);
}

struct PageHolder {
  ddjvu_page_t* page;
  ~PageHolder() {
    if (page) ddjvu_page_release(page);
  }
};

bool writePage(Session& s, int index, TextGuard& text, PdfWriter& pdf, std::string* error) {
  const std::string what = "Page " + std::to_string(index + 1);
  // Asking for the page's information first reports a page that cannot be reached.
  ddjvu_pageinfo_t info;
  ddjvu_status_t status;
  while ((status = ddjvu_document_get_pageinfo(s.document(), index, &info)) < DDJVU_JOB_OK) s.waitForMessage();
  s.drain();
  if (status >= DDJVU_JOB_FAILED) {
    *error = s.reason(what + " cannot be read");
    return false;
  }
  PdfImage image;
  int rotation = 0;
  double widthPt = 0, heightPt = 0, scale = 0;
  {
    // Released before the page is written: only one page is decoded at a time.
    PageHolder held{ddjvu_page_create_by_pageno(s.document(), index)};
    ddjvu_page_t* page = held.page;
    if (!page) {
      *error = s.reason(what + " cannot be read");
      return false;
    }
    while (!ddjvu_page_decoding_done(page)) s.waitForMessage();
    s.drain();
    if (ddjvu_page_decoding_error(page)) {
      *error = s.reason(what + " cannot be read");
      return false;
    }
    // Rendered upright, so that the text layer's coordinates fit the image; the page's own
    // rotation (counter-clockwise) becomes the PDF page's (clockwise).
    rotation = (4 - static_cast<int>(ddjvu_page_get_initial_rotation(page))) % 4 * 90;
    ddjvu_page_set_rotation(page, DDJVU_ROTATE_0);
    const int width = ddjvu_page_get_width(page);
    const int height = ddjvu_page_get_height(page);
    int dpi = ddjvu_page_get_resolution(page);
    if (dpi <= 0) dpi = 300;
    if (width <= 0 || height <= 0) {
      *error = what + " has no size";
      return false;
    }
    const bool bitonal = ddjvu_page_get_type(page) == DDJVU_PAGETYPE_BITONAL;
    const double bytes = (bitonal ? (width + 7) / 8 : width * 3.0) * height;
    if (bytes > kMaxPageBytes) {
      *error = what + " is too large to convert";
      return false;
    }
    std::string why;
    if (!encodePage(page, width, height, bitonal, &image, &why)) {
      s.drain();
      *error = what + " cannot be encoded" + (why.empty() ? std::string() : " (" + why + ")");
      return false;
    }
    s.drain();
    scale = 72.0 / dpi;
    widthPt = width * scale;
    heightPt = height * scale;
  }
  if (!pdf.addPage(widthPt, heightPt, rotation, image, text.readable(index) ? pageWords(s, index, scale) : std::vector<PdfWord>())) {
    *error = "Cannot write " + what;
    return false;
  }
  return true;
}

}  // namespace

bool convertDjvuToPdf(const std::string& source, const std::string& destination, const ConversionCallbacks& callbacks,
                      std::string* error) {
  std::string why;
  auto fail = [&](const std::string& reason) {
    logLine(foundation::LogLevel::Warning, source + ": " + reason);
    if (error) *error = reason;
    return false;
  };
  std::error_code ec;
  if (!std::filesystem::is_regular_file(source, ec)) return fail("The file does not exist");
  Session s(source);
  if (!s.open(&why)) return fail(why);
  const int pages = ddjvu_document_get_pagenum(s.document());
  if (pages <= 0) return fail("The document has no pages");
  TextGuard text(s, source);

  // Removed unless it became the destination, also when a page throws.
  struct TempFile {
    std::string path;
    bool kept = false;
    ~TempFile() {
      if (!kept && !path.empty()) std::remove(path.c_str());
    }
  } temp{destination + ".part-XXXXXX"};
  const int fd = ::mkstemp(temp.path.data());
  if (fd < 0) {
    temp.path.clear();
    return fail("Cannot write beside " + destination);
  }
  ::fchmod(fd, 0644);  // readable as a file written in place would be
  ::close(fd);
  PdfWriter pdf;
  if (!pdf.open(temp.path)) return fail("Cannot write " + temp.path);
  if (callbacks.pageCount) callbacks.pageCount(pages);
  for (int i = 0; i < pages; ++i) {
    if (!writePage(s, i, text, pdf, &why)) {
      pdf.abandon();
      return fail(why);
    }
    if (callbacks.pageDone) callbacks.pageDone(i + 1);
  }
  if (!pdf.finish()) return fail("Cannot write " + destination);
  std::filesystem::rename(temp.path, destination, ec);
  if (ec) return fail("Cannot write " + destination + ": " + ec.message());
  temp.kept = true;
  return true;
}

// ---- the asynchronous converter -----------------------------------------------------------

std::shared_ptr<DjvuKit> DjvuKit::create() { return std::shared_ptr<DjvuKit>(new DjvuKit()); }

DjvuKit::~DjvuKit() {
  // On the conversion's own thread (it let go last) the registry joins it later.
  if (worker_) worker_->join();
}

void DjvuKit::setDelegate(std::weak_ptr<DjvuKitDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

bool DjvuKit::DjvuToPDFSrc(const std::string& src, const std::string& Des) {
  // The conversion may end, and its delegate drop the last other reference, before the thread
  // object is stored.
  const auto keep = shared_from_this();
  std::unique_lock lock(mutex_);
  if (started_) return false;
  started_ = true;
  auto delegate = delegate_.lock();
  std::function<void()> run = [delegate, src, Des] {
    ConversionCallbacks callbacks;
    if (delegate) {
      callbacks.pageCount = [&](int32_t n) { delegate->getAllPageNum(n); };
      callbacks.pageDone = [&](int32_t k) { delegate->getCurrentPageNum(k); };
    }
    std::string error;
    bool ok = false;
    try {
      ok = convertDjvuToPdf(src, Des, callbacks, &error);
    } catch (const std::exception& e) {
      // Out of memory for a page, most likely; the temporary file is gone with the stack.
      error = std::string("The conversion stopped (") + e.what() + ")";
      logLine(foundation::LogLevel::Error, src + ": " + error);
    }
    if (!delegate) return;
    if (ok) {
      delegate->endDjVuPageNoti();
    } else {
      delegate->sendErrorInfo(error);
    }
  };
  worker_ = foundation::WorkerThreads::start("djvu", [self = shared_from_this(), run]() mutable {
    run();
    run = nullptr;
    self.reset();
  });
  if (!worker_) {
    lock.unlock();
    if (delegate) delegate->sendErrorInfo("No conversion thread");
  }
  return true;
}

void DjvuKit::wait() {
  std::shared_ptr<foundation::Worker> worker;
  {
    std::lock_guard lock(mutex_);
    worker = worker_;
  }
  if (worker) worker->join();
}

}  // namespace djvukit
