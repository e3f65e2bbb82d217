#pragma once
// Bookmarks: a page of a document, marked by the document's path.
//   XVBookmark      one bookmark, identified by "bookmark_" + a time-based identifier;
//   XVBookmarkGrop  the identifiers of one document's bookmarks, newest first;
//   XVBookmarkLib   every bookmark by identifier and the groups in order of creation, kept in
//                   the user defaults under "BOOK_MARK_LIB_KEY" and written after every change.
// Main thread only.

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>

#include "platform/foundation/notification_center.h"

// Posted (no sender) by XVBookmark::setName and XVBookmarkGrop::setRecentPageIndex; the shared
// library saves itself on it.
inline const std::string XV_BOOK_MARK_LIB_SAVE_NOTIFICATION = "XV_BOOK_MARK_LIB_SAVE_NOTIFICATION";

class XVBookmarkLib;

class XVBookmark {
 public:
  // A new bookmark with a new identifier.
  XVBookmark();
  static std::shared_ptr<XVBookmark> bookmark();

  QString ID() const { return ID_; }
  QString filePath() const { return filePath_; }
  void setFilePath(const QString& filePath) { filePath_ = filePath; }
  QString name() const { return name_; }
  // Posts XV_BOOK_MARK_LIB_SAVE_NOTIFICATION.
  void setName(const QString& name);
  qint64 pageIndex() const { return pageIndex_; }
  void setPageIndex(qint64 pageIndex) { pageIndex_ = pageIndex; }

  QJsonObject encodeWithCoder() const;
  // Null when the object has no identifier.
  static std::shared_ptr<XVBookmark> initWithCoder(const QJsonObject& coder);

 private:
  friend class XVBookmarkLib;
  struct Decoded {};
  explicit XVBookmark(Decoded) {}
  static QString newID();

  QString ID_;
  QString filePath_;
  QString name_;
  qint64 pageIndex_ = 0;
};

class XVBookmarkGrop {
 public:
  // name := the path's last component (empty for an empty path).
  explicit XVBookmarkGrop(const QString& path);
  static std::shared_ptr<XVBookmarkGrop> initWithPath(const QString& path) {
    return std::make_shared<XVBookmarkGrop>(path);
  }

  QString filePath() const { return filePath_; }
  void setFilePath(const QString& filePath) { filePath_ = filePath; }
  QString name() const { return name_; }
  // Does not save.
  void setName(const QString& name) { name_ = name; }
  qint64 recentPageIndex() const { return recentPageIndex_; }
  // Posts XV_BOOK_MARK_LIB_SAVE_NOTIFICATION.
  void setRecentPageIndex(qint64 recentPageIndex);

  // Inserts at the front; nothing for an empty ID.
  void addBookmarkID(const QString& ID);
  // Removes every occurrence.
  void removeBookmarkID(const QString& ID);
  // Nothing when out of range.
  void removeBookmarkIDByIndex(qsizetype index);
  // Null when out of range.
  QString bookmarkIDByIndex(qsizetype index) const;
  qsizetype bookmarkCount() const { return marks_.size(); }
  const QStringList& bookmarkIDArray() const { return marks_; }
  void clearBookmarks() { marks_.clear(); }

  QJsonObject encodeWithCoder() const;
  static std::shared_ptr<XVBookmarkGrop> initWithCoder(const QJsonObject& coder);

 private:
  friend class XVBookmarkLib;
  QString filePath_;
  QString name_;
  QStringList marks_;  // newest first
  qint64 recentPageIndex_ = 0;
};

class XVBookmarkLib {
 public:
  // The library of the application: registered under "XVBookmarkLib" with XVBaseFunction,
  // loaded from the user defaults on first use (empty when nothing readable is stored) and
  // saving itself on XV_BOOK_MARK_LIB_SAVE_NOTIFICATION.
  static std::shared_ptr<XVBookmarkLib> ShareBookmarkLib();

  XVBookmarkLib() = default;
  // Writes the user defaults to disk.
  ~XVBookmarkLib();
  XVBookmarkLib(const XVBookmarkLib&) = delete;
  XVBookmarkLib& operator=(const XVBookmarkLib&) = delete;

  void saveNotification() { saveToUserDefault(); }
  // Stores the library as JSON under "BOOK_MARK_LIB_KEY".
  void saveToUserDefault();

  // Null for an empty path; otherwise appends a new group for it, saves and answers it.
  std::shared_ptr<XVBookmarkGrop> addGrop(const QString& path);
  qsizetype gropCount() const { return grops_.size(); }
  std::shared_ptr<XVBookmarkGrop> gropAtIndex(qsizetype index) const;
  const QList<std::shared_ptr<XVBookmarkGrop>>& gropArray() const { return grops_; }
  // The first group with that path; null for an empty path.
  std::shared_ptr<XVBookmarkGrop> gropByFilePath(const QString& path) const;
  void removeGropByIndex(qsizetype index);
  // Removes the group's bookmarks from the library, then the group.
  void removeGropByFilePath(const QString& path);

  // Puts the bookmark at the front of the group of `path` (made when missing) and stores it.
  // A bookmark whose identifier is held by another stored bookmark gets a new identifier.
  void addBookmark(const std::shared_ptr<XVBookmark>& bookmark, const QString& path);
  // Removes the bookmark from its group's list and from the library; the group stays.
  void removeBookmark(const std::shared_ptr<XVBookmark>& bookmark);
  void removeBookmarkByID(const QString& ID) { removeBookmark(bookmarkByID(ID)); }
  // Removes the group's bookmarks from the library and empties its list; the group stays.
  void clearBookmarkByGrop(const std::shared_ptr<XVBookmarkGrop>& grop);
  std::shared_ptr<XVBookmark> bookmarkByID(const QString& ID) const;

  // Groups with at least one bookmark, in list order.
  qsizetype gropNonEmptyCount() const;
  std::shared_ptr<XVBookmarkGrop> gropNonEmptyAtIndex(qsizetype index) const;

  QJsonObject encodeWithCoder() const;
  // Identifiers that name no stored bookmark are dropped from the groups. Null when the
  // object is not a library.
  static std::shared_ptr<XVBookmarkLib> initWithCoder(const QJsonObject& coder);

  // Convenience for the browser's add command: a bookmark named `name` for page `pageIndex`
  // of `filePath`, added to that document's group. Null (nothing added) for an empty name or
  // path.
  std::shared_ptr<XVBookmark> addBookmarkNamed(const QString& name, const QString& filePath, qint64 pageIndex);

 private:
  QHash<QString, std::shared_ptr<XVBookmark>> marks_;
  QList<std::shared_ptr<XVBookmarkGrop>> grops_;
  foundation::ObserverToken saveObserver_;
};

// The name offered for a new bookmark: the file name without its last extension, "_", and
// the one-based page number ("Report.final.pdf" at page index 4 gives "Report.final_5").
QString XVBookmarkDefaultName(const QString& filePath, qint64 currentNumberPage);
