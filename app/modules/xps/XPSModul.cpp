#include "modules/xps/XPSModul.h"

#include "core/XVBaseFunction.h"
#include "core/XVErrorTexts.h"
#include "platform/xpskit/XpsPackage.h"

XPSModul::XPSModul(const QString& filePath) : PDFModul(filePath) {}

XPSModul::~XPSModul() {
  std::lock_guard lock(mutex_);
  converter_.reset();
}

void XPSModul::registerModul() {
  DocumentModul::registerModuleClass(Kind::XPS, [](const QString& path) -> std::shared_ptr<ImportInterface> {
    if (XVBaseFunction::extensionEquals(XVBaseFunction::extensionOfPath(path), QStringLiteral("vsx")) &&
        !xpskit::isXpsPackage(path.toStdString()))
      return nullptr;
    return std::make_shared<XPSModul>(path);
  });
}

std::shared_ptr<DocumentViewController> XPSModul::makeDocumentView() { return std::make_shared<XPSDocumentView>(); }

std::shared_ptr<xpskit::QFXpsConverter> XPSModul::converter() const {
  std::lock_guard lock(mutex_);
  return converter_;
}

void XPSModul::doStartImport() {
  using namespace xpskit;
  openError_.clear();
  format_ = QFXpsConverterFormat::formatWithType(0);
  param_ = QFXpsConverterParam::paramWithFormat(format_);
  param_->setDelegate(std::static_pointer_cast<QFXpsConverterDelegate>(shared_from_this()));
  param_->setOutPath(outPath().toStdString());
  std::string error;
  if (auto document = QFXpsDocument::documentWithPath(sourcePath().toStdString(), &error)) {
    param_->addConverterSource(QFXpsConverterSource::converterSourceWithDocument(document));
  } else {
    openError_ = QString::fromStdString(error);
  }
  // Without a source the converter still starts and ends with a failure code.
  auto c = QFXpsConverter::converterWithParam(param_);
  {
    std::lock_guard lock(mutex_);
    converter_ = c;
  }
  c->start();
}

void XPSModul::stopImport() {
  if (auto c = converter()) c->cancel();
}

void XPSModul::QFXpsConverterDelegate_converterStart(xpskit::QFXpsConverter*) { sendStart(); }

void XPSModul::QFXpsConverterDelegate_converterProcess(double percent, xpskit::QFXpsConverter*) {
  sendProgress(percent);
}

void XPSModul::QFXpsConverterDelegate_converterEnd(int32_t code, const void*, xpskit::QFXpsConverter* converter) {
  if (code == xpskit::QFXpsConverterEndComplete) {
    finishImport(outPath(), XVErrorText::loadFailed());
    return;
  }
  QString reason = openError_;
  if (reason.isEmpty() && converter && code != xpskit::QFXpsConverterEndCancelled)
    reason = QString::fromStdString(converter->errorInfo());
  sendEnd(false, reason.isEmpty() ? XVErrorText::loadFailed() : reason);
}

void XPSModul::searchEndState() {
  PDFModul::searchEndState();
  // The same text may be searched again at once.
  searchString_ = QStringLiteral("");
}

qint64 XPSModul::DocumentcountPage() { return controller_ ? static_cast<qint64>(controller_->setPageCount()) : 0; }
