#include "modules/export/XVPDFConverter.h"

#include <QFile>
#include <QFileInfo>
#include <QPainter>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <map>

#include "core/XVErrorTexts.h"
#include "modules/export/ExportFile.h"
#include "modules/export/PdfPageCopy.h"
#include "platform/pdfkit/PDFDocument.h"

namespace {

// The page over a white ground, opaque.
QImage onWhite(QImage image) {
  if (image.isNull() || !image.hasAlphaChannel()) return image;
  QImage flat(image.size(), QImage::Format_RGB32);
  flat.setDevicePixelRatio(image.devicePixelRatio());
  flat.fill(Qt::white);
  QPainter painter(&flat);
  painter.drawImage(0, 0, image);
  painter.end();
  return flat;
}

// Whether `image` is the whole page of `points` drawn at `scale`. Poppler answers a 1 x 1
// image for a page of no area and for one too large to allocate.
bool drawnWhole(const QImage& image, const QSizeF& points, double scale) {
  if (image.isNull() || points.width() <= 0 || points.height() <= 0) return false;
  return std::abs(image.width() - points.width() * scale) <= 1.0 && std::abs(image.height() - points.height() * scale) <= 1.0;
}

}  // namespace

xvpdfconverter::Run::~Run() {
  for (int fd : fds) ::close(fd);
}

std::shared_ptr<XVPDFConverter> XVPDFConverter::pdfConverterWithType(int type) {
  return std::shared_ptr<XVPDFConverter>(new XVPDFConverter(type));
}

XVPDFConverter::XVPDFConverter(int type) : Worker("export"), type_(type) {}

XVPDFConverter::~XVPDFConverter() = default;

void XVPDFConverter::start() {
  if (!claim()) return;
  auto run = std::make_unique<Run>();
  if (auto source = source_.lock()) {
    const quint64 n = source->XVPDFConverterSource_pageCount(this);
    std::map<const pdfkit::PDFDocument*, int> files;
    run->pages.reserve(static_cast<size_t>(n));
    for (quint64 i = 0; i < n; ++i) {
      PagePlan plan;
      if (pdfkit::PDFPage* page = source->XVPDFConverterSource_pageAtIndex(i, this)) {
        const pdfkit::PDFDocument* doc = page->document();
        auto it = files.find(doc);
        if (it == files.end()) {
          // Our own descriptor: the content stays readable whatever happens to the caller's
          // document while the thread runs.
          const int fd = ::open(QFile::encodeName(doc->contentPath()).constData(), O_RDONLY | O_CLOEXEC);
          if (fd < 0) {
            run->refusal = XVErrorText::exportDocumentUnreadable();
            break;
          }
          run->fds.push_back(fd);
          it = files.emplace(doc, static_cast<int>(run->fds.size()) - 1).first;
        }
        plan.file = it->second;
        plan.index = page->index();
        plan.rotation = doc->userRotation(page->index());
      }
      run->pages.push_back(plan);
    }
  } else {
    run->noSource = true;
  }
  begin(std::move(run));
}

void XVPDFConverter::clearResults() {
  imageCache_.clear();
  text_ = QString();
}

quint64 XVPDFConverter::imageCacheCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<quint64>(imageCache_.size());
}

XVPDFConverter::PageImage XVPDFConverter::imageDeleteCacheAtIndex(quint64 index) {
  std::lock_guard lock(mutex_);
  if (index >= static_cast<quint64>(imageCache_.size())) return PageImage();
  return imageCache_.takeAt(static_cast<qsizetype>(index));
}

QString XVPDFConverter::textNeedCreate() {
  std::lock_guard lock(mutex_);
  if (text_.isNull()) text_ = QLatin1String("");
  return text_;
}

QString XVPDFConverter::textDeleteCache() {
  std::lock_guard lock(mutex_);
  QString t = text_;
  text_ = QString();
  return t;
}

QString XVPDFConverter::text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

pdfkit::PDFDocument* XVPDFConverter::pdfDocumentNeedCreate() {
  std::lock_guard lock(mutex_);
  if (!spare_) spare_ = std::make_unique<pdfkit::PDFDocument>();
  return spare_.get();
}

std::unique_ptr<pdfkit::PDFDocument> XVPDFConverter::pdfDocumentDeleteCache() {
  std::lock_guard lock(mutex_);
  return std::move(spare_);
}

pdfkit::PDFDocument* XVPDFConverter::pdfDocument() const {
  std::lock_guard lock(mutex_);
  return spare_.get();
}

void XVPDFConverter::converterThreed(const std::unique_ptr<Run>& run,
                                     const std::shared_ptr<XVPDFConverterDelegate>& delegate) {
  auto end = [&](bool success) {
    if (delegate) delegate->XVPDFConverterDelegate_End(success, this);
  };
  if (delegate) delegate->XVPDFConverterDelegate_Start(this);
  if (refused(*run)) return end(false);

  // The worker's own documents of the same files.
  std::vector<std::unique_ptr<pdfkit::PDFDocument>> documents;
  exportpdf::PdfPageCopy copy;
  std::vector<int> copySources;
  std::unique_ptr<exportfile::PendingFile> pending;
  for (int fd : run->fds) {
    if (type_ == PdfFile) {
      std::string why;
      const int handle = copy.openSource(fdPath(fd).toStdString(), &why);
      if (handle < 0) {
        setError(XVErrorText::exportDocumentUnreadable());
        return end(false);
      }
      copySources.push_back(handle);
    } else if (type_ == PageImages || type_ == PageText) {
      auto doc = pdfkit::PDFDocument::initWithURL(fdPath(fd));
      if (!doc) {
        setError(XVErrorText::exportDocumentUnreadable());
        return end(false);
      }
      documents.push_back(std::move(doc));
    }
  }
  if (type_ == PdfFile) {
    pending = std::make_unique<exportfile::PendingFile>(savePath_);
    if (pending->path().isEmpty()) {
      setError(XVErrorText::exportWriteFailed(QFileInfo(savePath_).fileName(), pending->error()));
      return end(false);
    }
  }

  QList<int> notDrawn;  // 1-based numbers of the pages that gave no image
  const quint64 n = run->pages.size();
  for (quint64 i = 0; i < n; ++i) {
    // A cancelled PDF leaves no file: `pending` removes its temporary file.
    if (cancelled_.load()) return end(false);
    const PagePlan& plan = run->pages[static_cast<size_t>(i)];
    if (plan.file >= 0) {
      if (type_ == PageText) {
        textNeedCreate();
        pdfkit::PDFPage* page = documents[static_cast<size_t>(plan.file)]->pageAtIndex(plan.index);
        const QString pageText = page ? page->string() : QString();
        if (!pageText.isEmpty()) {
          std::lock_guard lock(mutex_);
          text_ += pageText;
        }
      } else if (type_ == PdfFile) {
        const std::string why = copy.addPage(copySources[static_cast<size_t>(plan.file)], plan.index, plan.rotation);
        if (!why.empty()) {
          setError(XVErrorText::exportWriteFailed(QFileInfo(savePath_).fileName(), QString::fromStdString(why)));
          return end(false);
        }
      } else if (type_ == PageImages) {
        if (pdfkit::PDFPage* page = documents[static_cast<size_t>(plan.file)]->pageAtIndex(plan.index)) {
          page->setRotation(page->fileRotation() + plan.rotation);
          QImage image = onWhite(page->render(1.0));
          if (!drawnWhole(image, page->displaySize(), 1.0)) {
            // The other pages are still written; the run ends with NO naming this one.
            notDrawn.append(plan.index + 1);
          } else {
            std::lock_guard lock(mutex_);
            imageCache_.append(PageImage{i, std::move(image)});
          }
        }
      }
    }
    if (delegate) delegate->XVPDFConverterDelegate_Progress(progressAfter(i, n), this);
  }
  if (type_ == PdfFile) {
    const QString name = QFileInfo(savePath_).fileName();
    const std::string why = copy.write(pending->path().toStdString());
    if (!why.empty()) {
      setError(XVErrorText::exportWriteFailed(name, QString::fromStdString(why)));
      return end(false);
    }
    if (!pending->commit(replaceExisting_)) {
      // Without consent a file that appeared meanwhile is kept.
      setError(!replaceExisting_ && QFileInfo::exists(savePath_) ? XVErrorText::exportFileExists(name)
                                                                  : XVErrorText::exportWriteFailed(name, pending->error()));
      return end(false);
    }
  }
  if (!notDrawn.isEmpty()) {
    setError(XVErrorText::exportPagesNotDrawn(notDrawn));
    return end(false);
  }
  end(true);
}
