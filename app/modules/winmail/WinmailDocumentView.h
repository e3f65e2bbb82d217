#pragma once
// The message view: the body above (HTML in a restricted browser; plain text and RTF in a
// read-only text view at 20 points), the attachments below in a collapsible area, as an icon
// grid or as a Name / Date / Size table over one model. A table row opens with its default
// application on double click; attachments drag out as file URLs.
//
// GUI thread only, except refreshdata(), which may come from any thread.

#include <QAbstractTableModel>
#include <QFileInfo>
#include <QHash>
#include <QIcon>
#include <QSet>
#include <QList>
#include <QString>
#include <QTextBrowser>
#include <QWidget>

#include <functional>

#include "modules/winmail/WinmailImageObject.h"

class QListView;
class QStackedWidget;
class QTableView;
class QTextEdit;
class QToolButton;

// What the attachment folder holds, one row per file (".DS_Store" left out), sorted by name.
class WinmailAttachmentModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { Name, Date, Size, ColumnCount };
  using QAbstractTableModel::QAbstractTableModel;

  // Lists `folder` afresh; an empty path empties the model.
  void setFolder(const QString& folder);
  QString folder() const { return folder_; }
  QString filePath(int row) const;
  const QList<WinmailImageObject>& items() const { return items_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  // The file URLs of the rows among `indexes`, each once, in row order.
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

  // The icon edge of image thumbnails, which are made off the GUI thread on first request.
  static constexpr int kThumbnailSize = 96;
  // Yes while a thumbnail is still being made.
  bool thumbnailsPending() const { return !pending_.isEmpty(); }

 private:
  QIcon iconFor(int row) const;
  void requestThumbnail(const QString& path) const;
  void thumbnailRead(const QString& path, const QImage& image);

  QString folder_;
  QList<WinmailImageObject> items_;
  QList<QFileInfo> infos_;
  mutable QHash<QString, QIcon> icons_;
  mutable QSet<QString> pending_;
};

// An HTML body with no network and no file outside its folder: other resources stay blank,
// and links are not followed. Inside the folder only regular files up to kMaxResourceBytes are
// read, never a FIFO or a device.
class WinmailHtmlView : public QTextBrowser {
  Q_OBJECT
 public:
  static constexpr qint64 kMaxResourceBytes = 16 * 1024 * 1024;

  explicit WinmailHtmlView(QWidget* parent = nullptr);
  // The folder whose files the page may show.
  void setAllowedFolder(const QString& folder);
  QVariant loadResource(int type, const QUrl& name) override;

 private:
  // The file `name` names when it lies in the allowed folder, links resolved; else empty.
  QString allowedFile(const QUrl& name) const;

  QString allowedFolder_;
};

class WinmailDocumentView : public QWidget {
  Q_OBJECT
 public:
  // The expanded attachment area's height; collapsed, this much of its top stays in view.
  static constexpr int kBrowserHeight = 183;
  static constexpr int kCollapsedStrip = 23;
  // The hover strip along the bottom of the view.
  static constexpr int kHoverWidth = 800;
  static constexpr int kHoverHeight = 45;
  static constexpr int kBodyPointSize = 20;

  // Opens a file with its default application; false when no application opens it.
  using Opener = std::function<bool(const QString& path)>;

  explicit WinmailDocumentView(QWidget* parent = nullptr);
  ~WinmailDocumentView() override;

  // The attachment folder and the body file; each may be empty (no attachments, no body).
  void setWinmailDocumentViewBrowserPath(const QString& browserPath, const QString& contentViewPath);
  QString winmailbrowserPath() const { return WinmailbrowserPath_; }
  QString winmailmessagePath() const { return WinmailmessagePath_; }

  // Queues reloadViewData() on the view's thread.
  void refreshdata();
  void reloadViewData();

  // Shows the HTML view exactly when `extension` is "html", the text view otherwise.
  void setContentViewHiddenState(const QString& extension);

  // Collapse (true) or expand the attachment area.
  void setBrowserSize(bool collapse);
  bool isBrowserCollapsed() const { return collapsed_; }
  void clickHideBrowser();
  void clickIconView();
  void clickTableView();

  // Hover over the collapsed area: shows it while the pointer is in the bottom strip.
  void mouseEntered();
  void mouseExited();

  // Opens the attachment of `row`; shows the "no application" alert when nothing opens it.
  void openField(int row);
  void setOpener(Opener opener) { opener_ = std::move(opener); }
  // The default: GIO's default application for the file's content type.
  static bool openWithDefaultApplication(const QString& path);

  // "N B" in whole bytes below 1024, else "%.2f K" or "%.2f M" (single-precision arithmetic).
  static QString fileSizeUnti(float bytes);

  QWidget* attachmentArea() const { return WinmailScroll_; }
  QWidget* bodyArea() const { return bodyStack_; }
  QTextEdit* textView() const { return winmailTextView_; }
  WinmailHtmlView* webView() const { return WinmailWebView_; }
  QListView* iconView() const { return winmailBrowser_; }
  QTableView* tableView() const { return m_tableview_; }
  QToolButton* iconButton() const { return m_btnicon_; }
  QToolButton* tableButton() const { return m_btntable_; }
  QToolButton* stateButton() const { return m_btnstate_; }
  WinmailAttachmentModel* attachmentModel() const { return model_; }
  QRect hoverRect() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void layoutAreas();
  void WinmailBrowserViewData();
  void WinmailTextViewData();
  void winmailWebViewData();
  void showRtf(const QByteArray& data);
  void showHtml(const QString& html);
  void pointerAt(const QPoint& inView);
  void watch(QWidget* widget);

  QString WinmailbrowserPath_;
  QString WinmailmessagePath_;
  bool collapsed_ = false;
  bool hovering_ = false;
  Opener opener_;

  QWidget* bodyStack_ = nullptr;
  QTextEdit* winmailTextView_ = nullptr;
  WinmailHtmlView* WinmailWebView_ = nullptr;
  QWidget* WinmailScroll_ = nullptr;
  QStackedWidget* presentations_ = nullptr;
  QListView* winmailBrowser_ = nullptr;
  QTableView* m_tableview_ = nullptr;
  QToolButton* m_btnicon_ = nullptr;
  QToolButton* m_btntable_ = nullptr;
  QToolButton* m_btnstate_ = nullptr;
  WinmailAttachmentModel* model_ = nullptr;
};
