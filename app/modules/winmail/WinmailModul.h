#pragma once
// The module for TNEF mail containers (winmail.dat): the container is parsed with TnefKit
// into a folder of the conversion cache, the message bodies into "MessagePath" and the
// attachments into "AttachmentPath", and shown with the message view.
//
// Threads: startImport() runs on a load thread and returns once the parse has begun; TnefKit
// reports on the main queue, where the files are written and the end is sent. A cache hit
// opens the folder with importWithResultPath() on a load thread. The view is made on first
// use, on the GUI thread.

#include <QList>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>
#include <mutex>

#include "core/DocumentModul.h"

class QFTNEFFormat;
class WinmailDocumentView;

class WinmailModul : public ImportInterface, public std::enable_shared_from_this<WinmailModul> {
 public:
  explicit WinmailModul(const QString& filePath = QString());
  ~WinmailModul() override;

  // Registers the module with the factory for the mail container's extensions.
  static void registerModul();

  // The body file among the files of a message folder: the one with the highest body counter
  // ("NAME N.txt|html|rtf"), whatever order the folder lists them in; else the first by name.
  // Empty when the folder holds no file.
  static QString chooseBodyFile(const QString& messageFolder);
  // `name` when it is one safe file-name component, else "Untitled".
  static QString safeFileName(const QString& name);

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

 protected:
  void doStartImport() override;

 private:
  void parserFile();
  void completed(std::int64_t code);
  bool getTempPath();
  void writeBodies(const QFTNEFFormat& parser);
  void writeAttachments(const QFTNEFFormat& parser);
  void updateView();

  mutable std::mutex mutex_;  // guards the paths and the lists below
  QString messageBodySavePath_;
  QString attachmentSavePath_;
  QString documentbodypath_;
  QList<QUrl> attachments_;
  bool opened_ = false;
  std::shared_ptr<QFTNEFFormat> parser_;
  QPointer<WinmailDocumentView> view_;  // GUI thread only
};
