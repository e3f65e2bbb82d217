#include "modules/djvu/DjVuModul.h"

#include "core/XVErrorTexts.h"

DjVuModul::DjVuModul(const QString& filePath) : PDFModul(filePath) {}

DjVuModul::~DjVuModul() = default;

void DjVuModul::registerModul() {
  DocumentModul::registerModuleClass(Kind::DjVu, [](const QString& path) { return std::make_shared<DjVuModul>(path); });
}

std::shared_ptr<DocumentViewController> DjVuModul::makeDocumentView() { return std::make_shared<DjVuDocumentView>(); }

void DjVuModul::setImportStartPage(qint64 startPage, qint64 endpage) {
  startPage_ = startPage;
  endPage_ = endpage;
}

void DjVuModul::doStartImport() {
  allpage_ = 0;
  currpage_ = 0;
  progress_ = 0;
  state_ = 0;
  // A converter of an earlier import has ended: its end is what let this one start.
  converter_ = djvukit::DjvuKit::create();
  converter_->setDelegate(std::static_pointer_cast<djvukit::DjvuKitDelegate>(shared_from_this()));
  converter_->DjvuToPDFSrc(sourcePath().toStdString(), outPath().toStdString());
}

void DjVuModul::getAllPageNum(int32_t count) {
  allpage_ = count;
  startPage_ = 1;
  endPage_ = count;
}

void DjVuModul::getCurrentPageNum(int32_t page) {
  currpage_ = page;
  // No count (or none above zero): no percentage, and the end cannot be a success.
  if (allpage_ > 0) {
    progress_ = static_cast<double>(page) / allpage_ * 100.0;
    sendProgress(progress_);
  }
  state_ = allpage_ > 0 && page == allpage_ ? 3 : 4;
}

void DjVuModul::endDjVuPageNoti() {
  if (importEnded()) return;  // one end only: nothing is opened after it
  if (state_ == 3) {
    finishImport(outPath(), XVErrorText::conversionFailed());
  } else {
    sendEnd(false, XVErrorText::conversionFailed());
  }
}

void DjVuModul::sendErrorInfo(const std::string& reason) { sendEnd(false, QString::fromStdString(reason)); }

qint64 DjVuModul::DocumentcountPage() { return controller_ ? static_cast<qint64>(controller_->setPageCount()) : 0; }

QList<Format> DjVuModul::SupportSaveFormats() const {
  QList<Format> out;
  for (const char* name : {"PDF", "PNG", "JPEG", "BMP", "GIF", "TIFF"}) out.append(Format::formatNamed(QLatin1String(name)));
  return out;
}
