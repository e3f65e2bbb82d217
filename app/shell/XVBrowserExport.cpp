#include "shell/XVBrowserExport.h"

#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <algorithm>
#include <mutex>

#include "core/ProductInfo.h"
#include "core/XVNotifications.h"
#include "core/XVErrorTexts.h"
#include "modules/export/ConverterInterface.h"
#include "modules/export/ExportFile.h"
#include "modules/export/ExportToSave.h"
#include "modules/export/ExtractInterface.h"
#include "platform/foundation/notification_center.h"
#include "platform/pdfkit/PDFDocument.h"
#include "shell/XVBrowserControl.h"
#include "shell/XVControls.h"

namespace {

// How long the GUI thread waits for a worker that has sent its end to let go of its objects.
constexpr auto kReleaseWait = std::chrono::seconds(10);

// The progress dialog: Esc and the close button cancel the run; only the end closes it.
class ProgressDialog : public QDialog {
 public:
  using QDialog::QDialog;
  std::function<void()> onCancel;
  void reject() override {
    if (onCancel) onCancel();
  }
};

QString replaceQuestion(const QStringList& existing, const QString& folder) {
  if (existing.size() == 1)
    return QStringLiteral("\"%1\" already exists in \"%2\". Do you want to replace it?")
        .arg(QFileInfo(existing.first()).fileName(), folder);
  return QStringLiteral("%1 files already exist in \"%2\". Do you want to replace them?").arg(existing.size()).arg(folder);
}

}  // namespace

// Moves the worker's reports to the GUI thread, in order. A report that arrives there after
// its run was let go of (or after the flow is gone) is dropped.
struct XVBrowserExport::Relay : ConverterProgressDelegate, ExtractProgressDelegate {
  Relay(XVBrowserExport* f, quint64 r) : flow(f), run(r) {}

  template <typename G>
  void post(G g) {
    std::lock_guard lock(mutex);
    if (!flow) return;
    QMetaObject::invokeMethod(
        flow, [f = flow, r = run, g = std::move(g)] { if (f->runId_ == r) g(f); }, Qt::QueuedConnection);
  }
  void detach() {
    std::lock_guard lock(mutex);
    flow = nullptr;
  }
  void ConverterProgressDelegate_start() override {
    post([](XVBrowserExport* f) { f->exportStarted(); });
  }
  void ConverterProgressDelegate_Progress(double percent) override { progress(percent); }
  void ConverterProgressDelegate_end(bool success, const QList<QUrl>& urls) override { end(success, urls); }
  void ExtractProgressDelegate_start() override { ConverterProgressDelegate_start(); }
  void ExtractProgressDelegate_Progress(double percent) override { progress(percent); }
  void ExtractProgressDelegate_end(bool success, const QList<QUrl>& urls) override { end(success, urls); }

 private:
  void progress(double percent) {
    post([percent](XVBrowserExport* f) { f->setExportProgress(percent); });
  }
  void end(bool success, const QList<QUrl>& urls) {
    post([success, urls](XVBrowserExport* f) { f->exportEnded(success, urls); });
  }

  std::mutex mutex;
  XVBrowserExport* flow;
  const quint64 run;
};

XVBrowserExport* XVBrowserExport::install(XVBrowserControl* browser) {
  auto* flow = new XVBrowserExport(browser);
  browser->setExternalCommand(XVBrowserControl::ExternalCommand::SaveAs, [flow](XVBrowserControl*) { flow->clickSave(); });
  browser->setExternalCommand(XVBrowserControl::ExternalCommand::ExtractImages,
                              [flow](XVBrowserControl*) { flow->clickExtractImages(); });
  return flow;
}

XVBrowserExport::XVBrowserExport(XVBrowserControl* browser)
    : QObject(browser), browser_(browser), folderShower_(&XVBrowserExport::showFolderInFileManager) {}

XVBrowserExport::~XVBrowserExport() {
  if (relay_) relay_->detach();
  // A run still going is stopped and waited for, so that nothing of it outlives the browser.
  if (saveConverter_) {
    saveConverter_->stopConvert();
    saveConverter_->waitUntilEnded(kReleaseWait);
  }
  if (extract_) {
    extract_->stopExtract();
    extract_->waitUntilEnded(kReleaseWait);
  }
}

void XVBrowserExport::showFolderInFileManager(const QString& folder, const QList<QUrl>& files) {
  (void)files;
  const QUrl url = QUrl::fromLocalFile(folder);
  QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                                     QStringLiteral("/org/freedesktop/FileManager1"),
                                                     QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
  call << QStringList{url.toString()} << QString();
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    QDesktopServices::openUrl(url);
    return;
  }
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), qApp);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp, [url](QDBusPendingCallWatcher* w) {
    if (QDBusPendingReply<>(*w).isError()) QDesktopServices::openUrl(url);
    w->deleteLater();
  });
}

QString XVBrowserExport::documentNameNoExsion() const {
  DocumentModul* module = browser_->currentDocumentModul();
  return module ? QFileInfo(module->sourcePath()).completeBaseName() : QString();
}

void XVBrowserExport::clickSave() { openPanel(false); }
void XVBrowserExport::clickExtractImages() { openPanel(true); }

void XVBrowserExport::openPanel(bool extract) {
  if (running()) return;
  DocumentModul* module = browser_->currentDocumentModul();
  if (!module || !module->DocumentModulPDFDocument()) return;
  const QList<Format> formats = extract ? module->SupportExtractFormats() : module->SupportSaveFormats();
  if (formats.isEmpty()) return;
  if (!exportsave_) {
    exportsave_ = new ExportToSave(browser_->window());
    exportsave_->setValidator([this](ExportToSave* d) { return validate(d); });
    connect(exportsave_, &QDialog::accepted, this, &XVBrowserExport::startWorker);
    connect(exportsave_, &QDialog::rejected, this, &XVBrowserExport::dropWorker);
  }
  pdfkit::PDFDocument* document = module->DocumentModulPDFDocument();
  // The current page by its place in the document, never by its label.
  pdfkit::PDFPage* page = module->currentPage();
  const qint64 current = page ? document->indexForPage(page) : -1;
  QString folder = exportPath_;
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
    folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) folder = QDir::homePath();
  }
  isExtract_ = extract;
  documentPath_ = module->sourcePath();
  exportsave_->prepare(extract, formats, current, document->pageCount(), documentNameNoExsion(), folder);
  exportsave_->open();
}

bool XVBrowserExport::validate(ExportToSave* dialog) {
  DocumentModul* module = browser_->currentDocumentModul();
  if (!module || module->sourcePath() != documentPath_ || !module->DocumentModulPDFDocument()) {
    dialog->reject();
    return false;
  }
  const ExportPageRange::Check check = ExportPageRange::check(dialog->pageMode(), dialog->txtPageStart()->text(),
                                                              dialog->txtPageEnd()->text(), dialog->countpage());
  if (!check.ok) {
    if (check.startText != dialog->txtPageStart()->text()) dialog->setStartPage(check.startText.toLongLong());
    if (check.endText != dialog->txtPageEnd()->text()) dialog->setEndPage(check.endText.toLongLong());
    showAlert(XVErrorText::invalidPageRange());
    return false;
  }
  const QString folder = dialog->txtFolder()->text().trimmed();
  if (folder.isEmpty() || !QFileInfo(folder).isAbsolute() || !QFileInfo(folder).isDir()) {
    showAlert(XVErrorText::exportFolderMissing());
    return false;
  }
  QString name = dialog->txtSaveName()->text();
  if (name.isEmpty()) name = documentNameNoExsion();
  // The name is one file name inside the chosen folder.
  if (name.contains(QLatin1Char('/')) || name.contains(QChar(0)) || name == QLatin1String(".") ||
      name == QLatin1String("..")) {
    showAlert(XVErrorText::exportNameLeavesFolder());
    return false;
  }
  dialog->txtSaveName()->setText(name);
  exportPath_ = QFileInfo(folder).absoluteFilePath();
  const ExportPageRange::Pages pages = dialog->pages();
  saveStartPage_ = pages.start;
  saveEndPage_ = pages.end;
  if (!prepareWorker(dialog)) return false;

  const QStringList existing = saveConverter_ ? saveConverter_->existingOutputFiles() : extract_->existingOutputFiles();
  // The document's own files are refused before any question: no answer lets them be replaced.
  pdfkit::PDFDocument* document = module->DocumentModulPDFDocument();
  const QStringList own = {module->sourcePath(), module->outPath(), document->documentPath(), document->contentPath()};
  for (const QString& file : existing) {
    if (std::any_of(own.begin(), own.end(), [&](const QString& o) { return !o.isEmpty() && exportfile::sameFile(file, o); })) {
      dropWorker();
      showAlert(XVErrorText::exportReplacesDocument(QFileInfo(file).fileName()));
      return false;
    }
  }
  if (existing.isEmpty()) return true;
  // One question for the run; the dialog stays open until it is answered.
  auto* question = new QMessageBox(QMessageBox::Question, QStringLiteral("Replace"), replaceQuestion(existing, exportPath_),
                                   QMessageBox::NoButton, dialog);
  question->setWindowModality(Qt::WindowModal);
  question->setAttribute(Qt::WA_DeleteOnClose);
  QPushButton* replace = question->addButton(QStringLiteral("Replace"), QMessageBox::AcceptRole);
  question->addButton(QMessageBox::Cancel);
  question->setDefaultButton(QMessageBox::Cancel);
  XVFitAlertToText(question);
  connect(question, &QMessageBox::finished, this, [this, question, replace, dialog = QPointer<ExportToSave>(dialog)] {
    if (question->clickedButton() == replace && dialog && (saveConverter_ || extract_)) {
      if (saveConverter_) saveConverter_->setReplaceExisting(true);
      if (extract_) extract_->setReplaceExisting(true);
      dialog->acceptChecked();
    } else {
      dropWorker();
    }
  });
  alert_ = question;
  question->open();
  return false;
}

bool XVBrowserExport::prepareWorker(ExportToSave* dialog) {
  dropWorker();
  DocumentModul* module = browser_->currentDocumentModul();
  pdfkit::PDFDocument* document = module->DocumentModulPDFDocument();
  const Format format = dialog->selectedFormat();
  const QString name = dialog->txtSaveName()->text();
  relay_ = std::make_shared<Relay>(this, ++runId_);
  if (isExtract_) {
    extract_ = ProductInfo::ExtractInterface(format);
    if (!extract_) {
      showAlert(XVErrorText::exportFormatUnavailable(format.formatName()));
      return false;
    }
    extract_->setDelegate(std::static_pointer_cast<ExtractProgressDelegate>(relay_));
    extract_->setExtractDocument(document);
    extract_->setOutDirector(exportPath_);
    // The pages are those of the document as it was opened.
    extract_->setOutFilePath(document->contentPath());
    extract_->setOutFileName(name);
    extract_->setExtractStartPage(saveStartPage_, saveEndPage_);
  } else {
    saveConverter_ = ProductInfo::converterInterface(format, QFileInfo(module->sourcePath()).suffix());
    if (!saveConverter_) {
      showAlert(XVErrorText::exportFormatUnavailable(format.formatName()));
      return false;
    }
    saveConverter_->setOutFilePath(module->sourcePath());
    saveConverter_->setDelegate(std::static_pointer_cast<ConverterProgressDelegate>(relay_));
    saveConverter_->setConvertDocument(document);
    saveConverter_->setOutDirector(exportPath_);
    saveConverter_->setOutFileName(name);
    saveConverter_->setConvertStartPage(saveStartPage_, saveEndPage_);
  }
  return true;
}

void XVBrowserExport::startWorker() {
  if (!saveConverter_ && !extract_) return;
  // The progress dialog is up before the worker can report anything.
  showExportProgressWindow();
  if (extract_) {
    extract_->startExtract();
  } else {
    saveConverter_->startConvert();
  }
}

void XVBrowserExport::dropWorker() {
  ++runId_;
  if (relay_) relay_->detach();
  relay_.reset();
  if (saveConverter_) saveConverter_->waitUntilEnded(kReleaseWait);
  if (extract_) extract_->waitUntilEnded(kReleaseWait);
  saveConverter_.reset();
  extract_.reset();
}

void XVBrowserExport::postToolEnable(bool enable) {
  foundation::NotificationCenter::defaultCenter().post(XV_DOCUMENT_NEEDTOOLENABLE_NOTIFICATION, nullptr,
                                                        {{XVToolEnableUserInfoKey, enable}});
}

void XVBrowserExport::showExportProgressWindow() {
  postToolEnable(false);
  if (!windowExportProgress_) {
    auto* dialog = new ProgressDialog(browser_->window());
    dialog->setWindowModality(Qt::WindowModal);
    dialog->onCancel = [this] { clickExportCancel(); };
    progressExport_ = new QProgressBar(dialog);
    progressExport_->setRange(0, 1000);
    progressExport_->setTextVisible(false);
    textProgressExport_ = new QLabel(dialog);
    textProgressExport_->setMinimumWidth(60);
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), dialog);
    connect(cancelButton_, &QPushButton::clicked, this, &XVBrowserExport::clickExportCancel);
    auto* row = new QHBoxLayout;
    row->addWidget(progressExport_, 1);
    row->addWidget(textProgressExport_);
    auto* layout = new QVBoxLayout(dialog);
    layout->addLayout(row);
    layout->addWidget(cancelButton_, 0, Qt::AlignRight);
    dialog->setMinimumWidth(360);
    windowExportProgress_ = dialog;
  }
  windowExportProgress_->setWindowTitle(isExtract_ ? QStringLiteral("Extracting Images") : QStringLiteral("Saving"));
  cancelButton_->setEnabled(true);
  setExportProgress(0);
  windowExportProgress_->open();
}

void XVBrowserExport::closeExportProgressWindow() {
  if (windowExportProgress_) windowExportProgress_->hide();
  postToolEnable(true);
}

void XVBrowserExport::exportStarted() {}

void XVBrowserExport::setExportProgress(double percent) {
  if (!progressExport_) return;
  progressExport_->setValue(static_cast<int>(percent * 10.0 + 0.5));
  textProgressExport_->setText(QString::asprintf("%.1lf%%", percent));
}

void XVBrowserExport::clickExportCancel() {
  if (extract_) {
    extract_->stopExtract();
  } else if (saveConverter_) {
    saveConverter_->stopConvert();
  }
  if (cancelButton_) cancelButton_->setEnabled(false);
}

void XVBrowserExport::exportEnded(bool success, const QList<QUrl>& urls) {
  const bool extracting = extract_ != nullptr;
  const QString why = extract_ ? extract_->errorInfo() : saveConverter_ ? saveConverter_->errorInfo() : QString();
  dropWorker();
  closeExportProgressWindow();
  if (success && extracting && urls.isEmpty()) {
    showEndAlert(XVErrorText::noImagesToExtract(), XVErrorText::noImagesButton());
  } else if (!success && !why.isEmpty()) {
    showEndAlert(why);
  }
  if (!urls.isEmpty() && folderShower_) folderShower_(exportPath_, urls);
}

void XVBrowserExport::showEndAlert(const QString& informative, const QString& button) {
  postToolEnable(false);
  showAlert(informative, button);
  connect(alert_, &QDialog::finished, this, [] { postToolEnable(true); });
}

void XVBrowserExport::showAlert(const QString& informative, const QString& button) {
  QWidget* parent = exportsave_ && exportsave_->isVisible() ? static_cast<QWidget*>(exportsave_.data()) : browser_->window();
  auto* box = new QMessageBox(QMessageBox::Warning, XVErrorText::exportWarningMessage(), XVErrorText::exportWarningMessage(),
                              QMessageBox::NoButton, parent);
  box->setInformativeText(informative);
  if (button.isEmpty()) {
    box->addButton(QMessageBox::Ok);
  } else {
    box->addButton(button, QMessageBox::AcceptRole);
  }
  box->setWindowModality(Qt::WindowModal);
  box->setAttribute(Qt::WA_DeleteOnClose);
  XVFitAlertToText(box);
  alert_ = box;
  box->open();
}
