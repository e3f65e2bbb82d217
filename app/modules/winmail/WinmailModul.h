#pragma once
// The module for TNEF mail containers (winmail.dat): the container is parsed with TnefKit
// into a folder of the conversion cache, the message bodies into "MessagePath" and the
// attachments into "AttachmentPath", and shown with the message view.
//
// Threads: startImport() runs on a load thread and returns once the parse has begun; TnefKit
// reports on the main queue, where the files are written and the end is sent. A cache hit
// opens the folder with importWithResultPath() on a load thread. The view is made on first
// use, on the GUI thread.

#include <QDateTime>
#include <QList>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>
#include <mutex>

#include "core/DocumentModul.h"

class QFAttachment;
class QFTNEFFormat;
class QMessageBox;
class WinmailDocumentView;
class XVPreviewInfo;

class WinmailModul : public ImportInterface, public std::enable_shared_from_this<WinmailModul> {
 public:
  explicit WinmailModul(const QString& filePath = QString());
  ~WinmailModul() override;
  // A module that keeps `url` as its pathfile and nothing else.
  static std::shared_ptr<WinmailModul> initFilePath(const QUrl& url);

  // Registers the module with the factory for the mail container's extensions.
  static void registerModul();

  // The body file among the files of a message folder: the one with the highest body counter
  // ("NAME N.txt|html|rtf"), whatever order the folder lists them in; else the first by name.
  // Empty when the folder holds no file.
  static QString chooseBodyFile(const QString& messageFolder);
  // `name` when it is one safe file-name component, else "Untitled".
  static QString safeFileName(const QString& name);
  // When the container says the attachment was last changed, else made: its MAPI times (UTC)
  // before its date records (the sender's clock, read as local time). Invalid when it says
  // neither.
  static QDateTime attachmentDate(const QFAttachment& attachment);
  // The moment as "yyyy-MM-dd HH-mm-ss" followed by its time zone's abbreviation; without an
  // argument, now.
  static QString getTimeString();
  static QString getTimeString(const QDateTime& when);

  ModuleKind moduleKind() const override { return ModuleKind::Message; }
  bool hasOpenResult() override;

  // Finds "MessagePath" and "AttachmentPath" in `path` when they are not known yet (a cache
  // hit); NO when the folder holds neither.
  bool importWithResultPath(const QString& path) override;
  QWidget* documentView() override;
  void ResetViewSize(const QRectF& frame) override;
  void reloadDocumentViewData() override;

  QString messageBodySavePath() const;
  QString attachmentSavePath() const;
  // The body the view shows; empty for a container without a body.
  QString documentBodyPath() const;
  // "text", "html" or "rtf": the kind of the body shown.
  QString messagetype() const;
  // The message format type of the body shown (0 text, 1 HTML, 2 RTF); -1 without a body.
  int bodyType() const;
  // The attachment files written, in container order.
  QList<QUrl> attachments() const;
  WinmailDocumentView* documentViewController() const;

  // The URL given to initFilePath(); empty otherwise.
  QUrl pathfile() const;
  // Never set: the module names no file of its own.
  QString fileName() const;
  std::shared_ptr<XVPreviewInfo> previewInfo() const;
  void setPreviewInfo(std::shared_ptr<XVPreviewInfo> info);

  // Shows `alert` (which the module then owns) window-modal on the window that holds the
  // document view, or application-modal when the view is in no window; its end goes to
  // alertDidEnd() with the clicked button's code. GUI thread.
  void showAlert(QMessageBox* alert);
  // The first button's code (1000) posts XV_DOCUMENT_NEEDTOOLENABLE_NOTIFICATION with
  // "enable" YES; then the alert goes.
  void alertDidEnd(QMessageBox* alert, int returnCode, void* contextInfo);
  // 1000 for the alert's first button, 1001 for the second and so on, in the order
  // QMessageBox::buttons() lists them; 0 when it ended without a button.
  static int alertReturnCode(const QMessageBox& alert);

 protected:
  // A start while a parse runs is refused: each parse has its one end, and its completion
  // writes its own results.
  bool acceptsStart(QString* reason) override;
  void doStartImport() override;

 private:
  void parserFile();
  void completed(const QFTNEFFormat& parser, std::int64_t code);
  // Sends the end, then lets the next start in.
  void endRun(bool success, const QString& errorInfo);
  bool getTempPath();
  void writeBodies(const QFTNEFFormat& parser);
  void writeAttachments(const QFTNEFFormat& parser);
  void updateView();

  mutable std::mutex mutex_;  // guards the paths, the lists and the fields below
  QString messageBodySavePath_;
  QString attachmentSavePath_;
  QString documentbodypath_;
  QList<QUrl> attachments_;
  bool opened_ = false;
  bool running_ = false;  // from an accepted start until its end has been sent
  QUrl pathfile_;
  QString fileName_;
  std::shared_ptr<XVPreviewInfo> previewInfo_;
  QPointer<WinmailDocumentView> view_;  // GUI thread only
};
