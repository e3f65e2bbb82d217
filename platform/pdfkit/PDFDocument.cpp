#include "platform/pdfkit/PDFDocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPicture>
#include <QTemporaryFile>

#include <poppler-qt6.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/worker_threads.h"
#include "platform/pdfkit/QpdfRotations.h"

namespace pdfkit {

namespace {

// Poppler's own messages (file syntax, a wrong password) are details for developers: the
// caller reports the outcome. Set before any document is read; a program may replace it.
void popplerMessageToLog(const QString& message, const QVariant&) {
  foundation::log(foundation::LogLevel::Debug, "poppler", message.toStdString());
}
const bool kPopplerMessagesRouted = (Poppler::setDebugErrorFunction(&popplerMessageToLog, QVariant()), true);

void setRenderHints(Poppler::Document& doc) {
  doc.setRenderHint(Poppler::Document::Antialiasing, true);
  doc.setRenderHint(Poppler::Document::TextAntialiasing, true);
}

Poppler::Page::Rotation popplerRotation(int degrees) {
  switch (normalizedRotation(degrees)) {
    case 90: return Poppler::Page::Rotate90;
    case 180: return Poppler::Page::Rotate180;
    case 270: return Poppler::Page::Rotate270;
    default: return Poppler::Page::Rotate0;
  }
}

// The page's /Rotate as Poppler shows it.
int shownRotation(Poppler::Page& page) {
  switch (page.orientation()) {
    case Poppler::Page::Landscape: return 90;
    case Poppler::Page::UpsideDown: return 180;
    case Poppler::Page::Seascape: return 270;
    case Poppler::Page::Portrait: break;
  }
  return 0;
}
}  // namespace

int normalizedRotation(int degrees) {
  const long quarter = std::lround(static_cast<double>(degrees) / 90.0);
  return static_cast<int>(((quarter % 4) + 4) % 4) * 90;
}

namespace {
// The process's file-creation mask, read without changing it (umask() would, for every thread).
mode_t processUmask() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (status.open(QIODevice::ReadOnly)) {
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
      if (!line.startsWith("Umask:")) continue;
      bool ok = false;
      const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
      if (ok) return static_cast<mode_t>(mask & 0777);
    }
  }
  return 022;
}
}  // namespace

// ---- PDFPage ------------------------------------------------------------------------------

int PDFPage::fileRotation() const {
  std::lock_guard lock(document_->mutex_);
  return document_->info(index_).fileRotation;
}

int PDFPage::rotation() const { return normalizedRotation(fileRotation() + document_->userRotation(index_)); }

void PDFPage::setRotation(int degrees) {
  document_->userRotation_[index_].store(normalizedRotation(normalizedRotation(degrees) - fileRotation()));
}

QSizeF PDFPage::size() const {
  std::lock_guard lock(document_->mutex_);
  return document_->info(index_).size;
}

QSizeF PDFPage::displaySize() const {
  const QSizeF s = size();
  return document_->userRotation(index_) % 180 == 0 ? s : s.transposed();
}

QString PDFPage::label() const {
  std::lock_guard lock(document_->mutex_);
  QString l;
  if (auto p = document_->poppler_->page(index_)) l = p->label();
  return l.isEmpty() ? QString::number(index_ + 1) : l;
}

namespace {
// The whole page in the text layer's coordinates: Poppler lays the text out with /Rotate
// applied, so a null rectangle (the unrotated crop box) cuts off the text of turned pages.
QRectF wholePage(const Poppler::Page& page) { return QRectF(QPointF(-1, -1), page.pageSizeF() + QSizeF(2, 2)); }
}  // namespace

QString PDFPage::string() const {
  std::lock_guard lock(document_->mutex_);
  auto p = document_->poppler_->page(index_);
  return p ? p->text(wholePage(*p)) : QString();
}

PDFSelection PDFPage::selectionForRect(const QRectF& rect) const {
  std::lock_guard lock(document_->mutex_);
  auto p = document_->poppler_->page(index_);
  return PDFSelection(const_cast<PDFPage*>(this), rect, p ? p->text(rect) : QString());
}

QImage PDFPage::render(double scale) const {
  std::lock_guard lock(document_->mutex_);
  return PDFDocument::renderPage(*document_->poppler_, index_, scale, document_->userRotation(index_));
}

// ---- PDFDocument --------------------------------------------------------------------------

struct PDFDocument::FindState {
  std::mutex mutex;
  PDFDocument* owner = nullptr;  // nullptr once the document is gone
  PDFDocumentDelegate* delegate = nullptr;
  std::atomic<std::uint64_t> generation{0};
  std::atomic<bool> finding{false};
};

PDFDocument::PDFDocument() : find_(std::make_shared<FindState>()) { find_->owner = this; }

PDFDocument::~PDFDocument() {
  {
    std::lock_guard lock(find_->mutex);
    find_->owner = nullptr;
    find_->delegate = nullptr;
  }
  find_->generation++;
  find_->finding = false;
  for (auto& w : findThreads_) w->join();
  if (fd_ >= 0) ::close(fd_);
}

QString PDFDocument::contentPath() const {
  if (fd_ >= 0) {
    const QString pinned = QStringLiteral("/proc/self/fd/%1").arg(fd_);
    if (QFileInfo::exists(pinned)) return pinned;
  }
  return path_;
}

std::unique_ptr<Poppler::Document> PDFDocument::loadPoppler(const QString& path) {
  if (path.isEmpty()) return nullptr;
  auto doc = Poppler::Document::load(path);
  if (!doc || doc->isLocked()) return nullptr;
  setRenderHints(*doc);
  return doc;
}

std::unique_ptr<PDFDocument> PDFDocument::initWithURL(const QString& path, OpenFailure* why) {
  (void)kPopplerMessagesRouted;
  if (why) *why = OpenFailure::None;
  // Read once: Poppler reads an encrypted file's structure without its password, then stays
  // locked.
  auto poppler = path.isEmpty() ? nullptr : Poppler::Document::load(path);
  if (!poppler || poppler->isLocked()) {
    if (why) *why = poppler ? OpenFailure::Locked : OpenFailure::Unreadable;
    return nullptr;
  }
  setRenderHints(*poppler);
  auto doc = std::make_unique<PDFDocument>();
  doc->path_ = QFileInfo(path).absoluteFilePath();
  // Held open so that workers read this content, whatever later happens to the path.
  doc->fd_ = ::open(QFile::encodeName(doc->path_).constData(), O_RDONLY | O_CLOEXEC);
  const int n = poppler->numPages();
  doc->poppler_ = std::move(poppler);
  doc->infos_.resize(static_cast<size_t>(n));
  doc->userRotation_ = std::make_unique<std::atomic<int>[]>(static_cast<size_t>(n));
  doc->writtenUserRotation_.assign(static_cast<size_t>(n), 0);
  doc->pages_.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    doc->userRotation_[i].store(0);
    doc->pages_.push_back(std::unique_ptr<PDFPage>(new PDFPage(doc.get(), i)));
  }
  return doc;
}

int PDFDocument::pageCount() const { return static_cast<int>(pages_.size()); }

PDFPage* PDFDocument::pageAtIndex(int index) const {
  if (index < 0 || index >= pageCount()) return nullptr;
  return pages_[static_cast<size_t>(index)].get();
}

int PDFDocument::indexForPage(const PDFPage* page) const {
  return page && page->document_ == this ? page->index_ : -1;
}

int PDFDocument::userRotation(int index) const {
  if (index < 0 || index >= pageCount()) return 0;
  return userRotation_[index].load();
}

const PDFDocument::PageInfo& PDFDocument::info(int index) const {
  PageInfo& i = infos_[static_cast<size_t>(index)];
  if (!i.known) {
    i.known = true;
    if (auto p = poppler_->page(index)) {
      i.size = p->pageSizeF();
      i.fileRotation = shownRotation(*p);
    }
  }
  return i;
}

QString PDFDocument::string() const {
  QString out;
  for (const auto& p : pages_) out += p->string();
  return out;
}

QImage PDFDocument::renderPage(Poppler::Document& doc, int index, double scale, int extraRotation, QRect region,
                               const std::atomic<bool>* abort) {
  auto page = doc.page(index);
  if (!page) return QImage();
  const Poppler::Page::Rotation r = popplerRotation(extraRotation);
  const double dpi = 72.0 * scale;
  const bool whole = region.isEmpty();
  const int x = whole ? -1 : region.x(), y = whole ? -1 : region.y();
  const int w = whole ? -1 : region.width(), h = whole ? -1 : region.height();
  if (!abort) return page->renderToImage(dpi, dpi, x, y, w, h, r);
  const auto aborted = [](const QVariant& flag) {
    return reinterpret_cast<const std::atomic<bool>*>(flag.value<quintptr>())->load();
  };
  QImage image = page->renderToImage(dpi, dpi, x, y, w, h, r, nullptr, nullptr, aborted,
                                     QVariant::fromValue(reinterpret_cast<quintptr>(abort)));
  return abort->load() ? QImage() : image;
}

namespace {
// Two words follow each other on one line when the second starts where the first ends.
bool sameLine(const QRectF& a, const QRectF& b) {
  const double h = std::min(a.height(), b.height());
  const double w = std::min(a.width(), b.width());
  const double overlapY = std::min(a.bottom(), b.bottom()) - std::max(a.top(), b.top());
  const double overlapX = std::min(a.right(), b.right()) - std::max(a.left(), b.left());
  const double gapX = b.left() - a.right(), gapY = b.top() - a.bottom();
  const bool across = overlapY > h / 2 && std::abs(gapX) < h / 2;  // horizontal text
  const bool down = overlapX > w / 2 && std::abs(gapY) < w / 2;    // vertical text
  return across || down;
}

QString oneLine(QString s) {
  for (QChar& c : s)
    if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t')) c = QLatin1Char(' ');
  return s;
}
}  // namespace

QList<PageMatch> PDFDocument::searchPage(Poppler::Document& doc, int index, const QString& text, int options) {
  auto page = doc.page(index);
  if (!page || text.isEmpty()) return {};
  const QString needle = text.normalized(QString::NormalizationForm_KC);
  if (needle.isEmpty()) return {};
  // The page's words joined as its text reads: a blank after a word followed by a space, a
  // line break at the end of a line. Each character remembers the word and the character of
  // the word it came from (none for the separators), so that only matches read their boxes.
  const auto words = page->textList();
  struct From {
    int word;  // -1: a separator
    int character;
  };
  QString all;
  std::vector<From> from;
  for (size_t i = 0; i < words.size(); ++i) {
    const Poppler::TextBox& w = *words[i];
    const QString t = w.text();
    const int word = static_cast<int>(i);
    for (int c = 0; c < t.size(); ++c) {
      const QChar ch = t[c];
      if (ch.unicode() < 0x80 || ch.decompositionTag() == QChar::NoDecomposition) {
        all += ch;  // its own plain form
        from.push_back({word, c});
        continue;
      }
      // Compatibility forms (ligatures, full-width letters) as their plain letters.
      const QString plain = QString(ch).normalized(QString::NormalizationForm_KC);
      all += plain;
      for (qsizetype k = 0; k < plain.size(); ++k) from.push_back({word, c});
    }
    if (i + 1 == words.size()) break;
    QChar separator;
    if (w.hasSpaceAfter())
      separator = QLatin1Char(' ');
    else if (!sameLine(w.boundingBox(), words[i + 1]->boundingBox()))
      separator = QLatin1Char('\n');
    if (!separator.isNull()) {
      all += separator;
      from.push_back({-1, 0});
    }
  }
  const Qt::CaseSensitivity cs = (options & CaseInsensitiveSearch) ? Qt::CaseInsensitive : Qt::CaseSensitive;
  QList<PageMatch> out;
  for (qsizetype at = all.indexOf(needle, 0, cs); at >= 0; at = all.indexOf(needle, at + needle.size(), cs)) {
    // Every character's box; a character without one of its own takes its word's.
    QRectF bounds;
    for (qsizetype c = at; c < at + needle.size(); ++c) {
      const From f = from[static_cast<size_t>(c)];
      if (f.word < 0) continue;
      const Poppler::TextBox& w = *words[static_cast<size_t>(f.word)];
      QRectF box = w.charBoundingBox(f.character);
      if (!box.isValid()) box = w.boundingBox();
      if (!box.isNull()) bounds = bounds.isNull() ? box : bounds.united(box);
    }
    const qsizetype before = std::max<qsizetype>(0, at - kContextLength);
    const qsizetype end = at + needle.size();
    out.append(PageMatch{bounds, all.mid(at, needle.size()), oneLine(all.mid(before, at - before)),
                         oneLine(all.mid(end, kContextLength))});
  }
  return out;
}

QList<PDFSelection> PDFDocument::findString(const QString& text, int options) const {
  QList<PDFSelection> out;
  if (text.isEmpty() || !poppler_) return out;
  std::lock_guard lock(mutex_);
  for (int i = 0; i < pageCount(); ++i) {
    for (const PageMatch& m : searchPage(*poppler_, i, text, options))
      out.append(PDFSelection(pageAtIndex(i), m.bounds, m.string, m.before, m.after));
  }
  return out;
}

void PDFDocument::setDelegate(PDFDocumentDelegate* delegate) {
  std::lock_guard lock(find_->mutex);
  find_->delegate = delegate;
}

PDFDocumentDelegate* PDFDocument::delegate() const {
  std::lock_guard lock(find_->mutex);
  return find_->delegate;
}

bool PDFDocument::isFinding() const { return find_->finding.load(); }

void PDFDocument::cancelFindString() {
  find_->generation++;
  find_->finding = false;
}

void PDFDocument::joinFinishedFinds() {
  // Only threads that have returned: the caller never waits for a page being searched.
  std::erase_if(findThreads_, [](const std::shared_ptr<foundation::Worker>& w) { return w->join(std::chrono::milliseconds(0)); });
}

int PDFDocument::findThreadCount(int pages) {
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const int needed = (std::max(pages, 1) + kFindPagesPerThread - 1) / kFindPagesPerThread;
  return std::clamp(std::min(needed, cores), 1, kFindThreads);
}

// One asynchronous find: its workers take the pages in turn, each on its own Poppler document,
// and whoever finishes a page reports every page searched up to the first one still open, so
// that matches reach the delegate in page order.
struct PDFDocument::FindRun {
  explicit FindRun(int count) : pages(static_cast<size_t>(count)) {}
  std::atomic<int> nextPage{0};
  std::mutex mutex;  // guards what follows
  std::vector<std::optional<QList<PageMatch>>> pages;  // a page's matches once it was searched
  int reported = 0;  // pages reported, from the first
  int workers = 0;   // still running
  bool ended = false;
};

void PDFDocument::reportFind(const std::shared_ptr<FindState>& state, std::uint64_t gen, FindRun& run) {
  // Called with run.mutex held: the main queue receives the reports in page order.
  QList<std::pair<int, QList<PageMatch>>> batch;
  const int count = static_cast<int>(run.pages.size());
  for (; run.reported < count && run.pages[static_cast<size_t>(run.reported)]; ++run.reported) {
    QList<PageMatch>& matches = *run.pages[static_cast<size_t>(run.reported)];
    if (!matches.isEmpty()) batch.append({run.reported, std::move(matches)});
    matches = QList<PageMatch>();
  }
  if (state->generation.load() != gen) return;
  if (!batch.isEmpty()) {
    foundation::Dispatcher::postMain([state, gen, batch = std::move(batch)] {
      PDFDocumentDelegate* delegate = nullptr;
      PDFDocument* owner = nullptr;
      {
        std::lock_guard lock(state->mutex);
        if (state->generation.load() != gen || !state->owner) return;
        owner = state->owner;
        delegate = state->delegate;
      }
      for (const auto& [i, matches] : batch) {
        for (const PageMatch& m : matches) {
          if (!delegate || state->generation.load() != gen) return;
          delegate->didMatchString(PDFSelection(owner->pageAtIndex(i), m.bounds, m.string, m.before, m.after));
        }
      }
    });
  }
  if (run.reported < count || run.ended) return;
  run.ended = true;
  foundation::Dispatcher::postMain([state, gen] {
    PDFDocument* owner = nullptr;
    {
      std::lock_guard lock(state->mutex);
      if (state->generation.load() != gen || !state->owner) return;
      owner = state->owner;
    }
    state->finding = false;
    foundation::NotificationCenter::defaultCenter().post(PDFDocumentDidEndFindNotification, owner);
  });
}

void PDFDocument::beginFindString(const QString& text, int options) {
  cancelFindString();
  joinFinishedFinds();
  const std::uint64_t gen = ++find_->generation;
  find_->finding = true;
  auto state = find_;
  const QString path = contentPath();
  const int count = text.isEmpty() ? 0 : pageCount();
  auto run = std::make_shared<FindRun>(count);
  const int threads = findThreadCount(count);
  run->workers = threads;
  // A worker leaving; the last one out counts the pages no worker could open the document for
  // as searched.
  const auto leave = [](const std::shared_ptr<FindState>& state, std::uint64_t gen, FindRun& run) {
    std::lock_guard lock(run.mutex);
    if (--run.workers > 0) return;
    for (auto& page : run.pages)
      if (!page) page.emplace();
    reportFind(state, gen, run);
  };
  for (int t = 0; t < threads; ++t) {
    auto worker = foundation::WorkerThreads::start("pdf find", [state, gen, path, count, text, options, run, leave] {
      // Poppler documents are not shared between threads: each worker opens its own.
      auto doc = count > 0 ? loadPoppler(path) : nullptr;
      while (doc && state->generation.load() == gen) {
        const int i = run->nextPage++;
        if (i >= count) break;
        QList<PageMatch> matches = searchPage(*doc, i, text, options);
        std::lock_guard lock(run->mutex);
        run->pages[static_cast<size_t>(i)] = std::move(matches);
        reportFind(state, gen, *run);
      }
      leave(state, gen, *run);
    });
    if (worker) {
      findThreads_.push_back(std::move(worker));
    } else {
      leave(state, gen, *run);  // no thread (the process is ending): its share counts as searched
    }
  }
}

namespace {

// Reads a written file back as it will be shown: "" when Poppler finds every page with the
// rotation asked for (a kept page as it shows in `source`), else why not (qpdf and Poppler may
// read a damaged page differently).
std::string checkRotationsAsShown(const std::string& file, const std::vector<int>& rotations, const std::string& source) {
  auto doc = Poppler::Document::load(QString::fromLocal8Bit(file.c_str()));
  if (!doc || doc->isLocked()) return "written file does not open";
  if (doc->numPages() != static_cast<int>(rotations.size())) return "written file has another page count";
  std::unique_ptr<Poppler::Document> before;
  if (std::find(rotations.begin(), rotations.end(), detail::kKeepRotation) != rotations.end()) {
    before = Poppler::Document::load(QString::fromLocal8Bit(source.c_str()));
    if (!before || before->isLocked() || before->numPages() != doc->numPages()) return "the file written onto does not open";
  }
  for (int i = 0; i < doc->numPages(); ++i) {
    auto page = doc->page(i);
    if (!page) return "written page " + std::to_string(i + 1) + " does not open";
    int wanted = rotations[static_cast<size_t>(i)];
    if (wanted == detail::kKeepRotation) {
      auto was = before->page(i);
      if (!was) return "page " + std::to_string(i + 1) + " of the file written onto does not open";
      wanted = shownRotation(*was);
    }
    if (shownRotation(*page) != normalizedRotation(wanted))
      return "written file does not keep the rotation of page " + std::to_string(i + 1);
  }
  return std::string();
}

}  // namespace

bool PDFDocument::writeToFile(const QString& path, QString* error) const { return writeToFile(path, contentPath(), error); }

bool PDFDocument::writeToFile(const QString& path, const QString& contentFile, QString* error) const {
  std::vector<int> rotations;
  rotations.reserve(pages_.size());
  for (const auto& page : pages_) rotations.push_back(page->rotation());
  return writeRotations(path, contentFile, rotations, error);
}

bool PDFDocument::writeRotations(const QString& path, const QString& source, const std::vector<int>& rotations,
                                 QString* error) const {
  const std::string content = source.toLocal8Bit().toStdString();
  return writeAtomically(
      path,
      [&](const std::string& tmpName) {
        std::string why = detail::writeWithRotations(content, tmpName, rotations);
        if (why.empty()) why = checkRotationsAsShown(tmpName, rotations, content);
        return why;
      },
      error);
}

bool PDFDocument::writeRotationChangesToFile(const QString& path, QString* error) {
  std::vector<int> user(pages_.size());
  for (size_t i = 0; i < pages_.size(); ++i) user[i] = userRotation(static_cast<int>(i));
  const auto record = [&] { writtenUserRotation_ = user; };
  if (!QFileInfo::exists(path)) {
    // Nothing to write onto: the whole document as shown.
    if (!writeToFile(path, error)) return false;
    record();
    return true;
  }
  std::vector<int> rotations(pages_.size(), detail::kKeepRotation);
  bool changed = false;
  for (size_t i = 0; i < pages_.size(); ++i) {
    if (user[i] == writtenUserRotation_[i]) continue;
    rotations[i] = pages_[i]->rotation();
    changed = true;
  }
  if (!changed) return true;
  // Read again now: another document of the same file may have written its own pages since.
  if (!writeRotations(path, path, rotations, error)) return false;
  record();
  return true;
}

bool PDFDocument::writePrintToFile(const QString& path, const QList<int>& pages, const QSizeF& paper, const QRectF& area,
                                   bool fit, const QList<int>& turned, QString* error) const {
  std::vector<int> rotations;
  rotations.reserve(pages_.size());
  for (const auto& page : pages_) rotations.push_back(page->rotation());
  std::vector<detail::PrintSheet> sheets;
  for (const int p : pages) sheets.push_back(detail::PrintSheet{p, turned.contains(p)});
  const detail::PrintPaper sheet{paper.width(), paper.height(), area.x(), area.y(), area.width(), area.height()};
  const std::string content = contentPath().toLocal8Bit().toStdString();
  return writeAtomically(
      path, [&](const std::string& tmpName) { return detail::writeSheets(content, tmpName, rotations, sheets, sheet, fit); },
      error);
}

bool PDFDocument::writeAtomically(const QString& path, const std::function<std::string(const std::string&)>& write,
                                  QString* error) const {
  auto fail = [&](const QString& why) {
    foundation::log(foundation::LogLevel::Error, "pdfkit",
                    QStringLiteral("cannot write %1: %2").arg(path, why).toStdString());
    if (error) *error = why;
    return false;
  };
  const QFileInfo target(path);
  QTemporaryFile tmp(target.absoluteDir().filePath(QStringLiteral(".%1.XXXXXX").arg(target.fileName())));
  if (!tmp.open()) return fail(tmp.errorString());
  const QString tmpPath = tmp.fileName();
  tmp.close();
  const std::string tmpName = tmpPath.toLocal8Bit().toStdString();
  const std::string why = write(tmpName);
  if (!why.empty()) return fail(QString::fromStdString(why));
  // The data reaches the disk before the rename, so a crash cannot leave an empty file in place.
  const int fd = ::open(tmpName.c_str(), O_RDONLY | O_CLOEXEC);
  const bool synced = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  if (!synced) return fail(QStringLiteral("cannot flush the written file"));
  // A replaced file keeps its permissions; a new one gets the usual ones (the temporary file
  // is private).
  if (target.exists()) {
    QFile::setPermissions(tmpPath, QFile::permissions(target.absoluteFilePath()));
  } else {
    ::chmod(tmpName.c_str(), 0666 & ~processUmask());
  }
  if (std::rename(tmpName.c_str(), target.absoluteFilePath().toLocal8Bit().toStdString().c_str()) != 0)
    return fail(QStringLiteral("rename failed"));
  tmp.setAutoRemove(false);
  return true;
}

// ---- PDFPagePainter -----------------------------------------------------------------------

PDFPagePainter::PDFPagePainter(const PDFDocument& document) : document_(document) {
  doc_ = PDFDocument::loadPoppler(document.contentPath());
  if (doc_) doc_->setRenderBackend(Poppler::Document::QPainterBackend);
}

PDFPagePainter::~PDFPagePainter() = default;

bool PDFPagePainter::drawPage(int index, QPainter& painter, const QRectF& target) const {
  PDFPage* shown = document_.pageAtIndex(index);
  if (!doc_ || !shown || target.isEmpty()) return false;
  auto page = doc_->page(index);
  if (!page) return false;
  const QSizeF size = shown->displaySize();
  if (size.isEmpty()) return false;
  // Poppler's painter backend sets the painter's transformation outright; recorded as a
  // picture, its drawing lands wherever the picture is played.
  QPicture picture;
  bool ok = false;
  {
    QPainter recorder(&picture);
    ok = page->renderToPainter(&recorder, 72.0, 72.0, -1, -1, -1, -1, popplerRotation(document_.userRotation(index)));
  }
  if (!ok) return false;
  painter.save();
  painter.translate(target.topLeft());
  painter.scale(target.width() / size.width(), target.height() / size.height());
  painter.setClipRect(QRectF(QPointF(0, 0), size), Qt::IntersectClip);
  painter.drawPicture(0, 0, picture);
  painter.restore();
  return ok;
}

}  // namespace pdfkit
