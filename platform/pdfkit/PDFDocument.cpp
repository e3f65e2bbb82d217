#include "platform/pdfkit/PDFDocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <poppler-qt6.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"
#include "platform/foundation/notification_center.h"
#include "platform/pdfkit/QpdfRotations.h"

namespace pdfkit {

int normalizedRotation(int degrees) {
  const long quarter = std::lround(static_cast<double>(degrees) / 90.0);
  return static_cast<int>(((quarter % 4) + 4) % 4) * 90;
}

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

QString PDFPage::string() const {
  std::lock_guard lock(document_->mutex_);
  auto p = document_->poppler_->page(index_);
  return p ? p->text(QRectF()) : QString();
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
  for (auto& t : findThreads_) t.thread.join();
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
  doc->setRenderHint(Poppler::Document::Antialiasing, true);
  doc->setRenderHint(Poppler::Document::TextAntialiasing, true);
  return doc;
}

std::unique_ptr<PDFDocument> PDFDocument::initWithURL(const QString& path, OpenFailure* why) {
  if (why) *why = OpenFailure::None;
  auto poppler = loadPoppler(path);
  if (!poppler) {
    if (why) {
      // Poppler reads an encrypted file's structure without its password, then stays locked.
      const auto probe = path.isEmpty() ? nullptr : Poppler::Document::load(path);
      *why = probe && probe->isLocked() ? OpenFailure::Locked : OpenFailure::Unreadable;
    }
    return nullptr;
  }
  auto doc = std::make_unique<PDFDocument>();
  doc->path_ = QFileInfo(path).absoluteFilePath();
  // Held open so that workers read this content, whatever later happens to the path.
  doc->fd_ = ::open(QFile::encodeName(doc->path_).constData(), O_RDONLY | O_CLOEXEC);
  const int n = poppler->numPages();
  doc->poppler_ = std::move(poppler);
  doc->infos_.resize(static_cast<size_t>(n));
  doc->userRotation_ = std::make_unique<std::atomic<int>[]>(static_cast<size_t>(n));
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
      switch (p->orientation()) {
        case Poppler::Page::Landscape: i.fileRotation = 90; break;
        case Poppler::Page::UpsideDown: i.fileRotation = 180; break;
        case Poppler::Page::Seascape: i.fileRotation = 270; break;
        case Poppler::Page::Portrait: i.fileRotation = 0; break;
      }
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
  Poppler::Page::Rotation r = Poppler::Page::Rotate0;
  switch (normalizedRotation(extraRotation)) {
    case 90: r = Poppler::Page::Rotate90; break;
    case 180: r = Poppler::Page::Rotate180; break;
    case 270: r = Poppler::Page::Rotate270; break;
    default: break;
  }
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

QList<QRectF> PDFDocument::searchPage(Poppler::Document& doc, int index, const QString& text, int options) {
  auto page = doc.page(index);
  if (!page || text.isEmpty()) return {};
  Poppler::Page::SearchFlags flags;
  if (options & CaseInsensitiveSearch) flags |= Poppler::Page::IgnoreCase;
  return page->search(text, flags);
}

QList<PDFSelection> PDFDocument::findString(const QString& text, int options) const {
  QList<PDFSelection> out;
  if (text.isEmpty() || !poppler_) return out;
  std::lock_guard lock(mutex_);
  for (int i = 0; i < pageCount(); ++i) {
    for (const QRectF& r : searchPage(*poppler_, i, text, options)) out.append(PDFSelection(pageAtIndex(i), r, text));
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
  std::erase_if(findThreads_, [](FindThread& t) {
    if (!t.done->load()) return false;
    t.thread.join();
    return true;
  });
}

void PDFDocument::beginFindString(const QString& text, int options) {
  cancelFindString();
  joinFinishedFinds();
  const std::uint64_t gen = ++find_->generation;
  find_->finding = true;
  auto state = find_;
  const QString path = contentPath();
  const int count = pageCount();
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread thread([state, gen, path, count, text, options, done] {
    struct MarkDone {
      std::atomic<bool>& flag;
      ~MarkDone() { flag = true; }
    } mark{*done};
    auto doc = count > 0 && !text.isEmpty() ? loadPoppler(path) : nullptr;
    for (int i = 0; doc && i < count; ++i) {
      if (state->generation.load() != gen) return;
      QList<QRectF> rects = searchPage(*doc, i, text, options);
      if (rects.isEmpty()) continue;
      foundation::Dispatcher::postMain([state, gen, i, rects, text] {
        PDFDocumentDelegate* delegate = nullptr;
        PDFDocument* owner = nullptr;
        {
          std::lock_guard lock(state->mutex);
          if (state->generation.load() != gen || !state->owner) return;
          owner = state->owner;
          delegate = state->delegate;
        }
        for (const QRectF& r : rects) {
          if (!delegate || state->generation.load() != gen) return;
          delegate->didMatchString(PDFSelection(owner->pageAtIndex(i), r, text));
        }
      });
    }
    if (state->generation.load() != gen) return;
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
  });
  findThreads_.push_back(FindThread{std::move(thread), std::move(done)});
}

bool PDFDocument::writeToFile(const QString& path, QString* error) const { return writeToFile(path, contentPath(), error); }

bool PDFDocument::writeToFile(const QString& path, const QString& contentFile, QString* error) const {
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
  std::vector<int> rotations;
  rotations.reserve(pages_.size());
  for (const auto& page : pages_) rotations.push_back(page->rotation());
  const std::string why = detail::writeWithRotations(contentFile.toLocal8Bit().toStdString(), tmpName, rotations);
  if (!why.empty()) return fail(QString::fromStdString(why));
  // The data reaches the disk before the rename, so a crash cannot leave an empty file in place.
  const int fd = ::open(tmpName.c_str(), O_RDONLY | O_CLOEXEC);
  const bool synced = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  if (!synced) return fail(QStringLiteral("cannot flush the written file"));
  // A replaced file keeps its permissions (the temporary file is private).
  if (target.exists()) QFile::setPermissions(tmpPath, QFile::permissions(target.absoluteFilePath()));
  if (std::rename(tmpName.c_str(), target.absoluteFilePath().toLocal8Bit().toStdString().c_str()) != 0)
    return fail(QStringLiteral("rename failed"));
  tmp.setAutoRemove(false);
  return true;
}

}  // namespace pdfkit
