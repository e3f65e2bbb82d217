#pragma once
// Save As and Extract Images from the browser: the dialog, the converter or the extractor made
// by the catalogue, the one question before files are replaced, the progress dialog with its
// cancel button, the end (an alert for a failure or for pages without images) and the output
// folder shown in the file manager.
//
// Threads: everything here runs on the GUI thread; the worker's reports come on its thread
// and are moved here in order. The converter or extractor is let go of here, after its worker
// has sent its end.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

#include "core/Format.h"
#include "modules/export/ExportPageRange.h"
#include "modules/export/ExportToSave.h"

class ConverterInterface;
class DocumentModul;
class ExtractInterface;
class QDialog;
class QLabel;
class QMessageBox;
class QProgressBar;
class QPushButton;
class XVBrowserControl;

class XVBrowserExport : public QObject {
  Q_OBJECT
 public:
  // Shows the folder with the written files; the default asks the file manager over D-Bus
  // (org.freedesktop.FileManager1 ShowItems) and opens the folder when none answers.
  using FolderShower = std::function<void(const QString& folder, const QList<QUrl>& files)>;

  // Makes the flow for the browser and wires its Save As and Extract Images commands.
  static XVBrowserExport* install(XVBrowserControl* browser);
  explicit XVBrowserExport(XVBrowserControl* browser);
  ~XVBrowserExport() override;

  void setFolderShower(FolderShower shower) { folderShower_ = std::move(shower); }
  static void showFolderInFileManager(const QString& folder, const QList<QUrl>& files);

  // The two commands: open the dialog for the current tab's page document.
  void clickSave();
  void clickExtractImages();

  // The dialog's check at OK: pages, folder and name; then the question before replacing.
  bool validate(ExportToSave* dialog);
  // The cancel button of the progress dialog.
  void clickExportCancel();

  ExportToSave* exportsave() const { return exportsave_; }
  QDialog* windowExportProgress() const { return windowExportProgress_; }
  QProgressBar* progressExport() const { return progressExport_; }
  QLabel* textProgressExport() const { return textProgressExport_; }
  QPushButton* cancelButton() const { return cancelButton_; }
  // The alert or question shown last, while it is up.
  QMessageBox* alert() const { return alert_; }
  bool running() const { return saveConverter_ || extract_; }
  QString exportPath() const { return exportPath_; }
  qint64 saveStartPage() const { return saveStartPage_; }
  qint64 saveEndPage() const { return saveEndPage_; }

  // The reports, on the GUI thread.
  void exportStarted();
  void setExportProgress(double percent);
  void exportEnded(bool success, const QList<QUrl>& urls);

 private:
  struct Relay;
  void openPanel(bool extract);
  // Makes the converter or extractor for the dialog's choice; false (with an alert) when
  // there is none.
  bool prepareWorker(ExportToSave* dialog);
  void startWorker();
  void dropWorker();
  // XV_DOCUMENT_NEEDTOOLENABLE_NOTIFICATION: NO while the progress dialog or an alert at the
  // end of a run is up, YES when it goes.
  static void postToolEnable(bool enable);
  void showExportProgressWindow();
  void closeExportProgressWindow();
  void showAlert(const QString& informative, const QString& button = QString());
  // An alert at the end of a run, bracketed by the notification.
  void showEndAlert(const QString& informative, const QString& button = QString());
  QString documentNameNoExsion() const;

  XVBrowserControl* browser_;
  QPointer<ExportToSave> exportsave_;
  QPointer<QDialog> windowExportProgress_;
  QProgressBar* progressExport_ = nullptr;
  QLabel* textProgressExport_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QPointer<QMessageBox> alert_;
  std::shared_ptr<ConverterInterface> saveConverter_;
  std::shared_ptr<ExtractInterface> extract_;
  std::shared_ptr<Relay> relay_;
  quint64 runId_ = 0;  // the run whose reports are heard
  bool isExtract_ = false;
  QString exportPath_;
  QString documentPath_;  // the tab the dialog is for
  qint64 saveStartPage_ = 0;
  qint64 saveEndPage_ = -1;
  FolderShower folderShower_;
};
