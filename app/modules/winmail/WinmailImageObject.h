#pragma once
// One item of the attachment icon grid: a file of the attachment folder.

#include <QFileInfo>
#include <QString>

class WinmailImageObject {
 public:
  WinmailImageObject() = default;
  explicit WinmailImageObject(QString path) : m_path(std::move(path)) {}

  void setPath(const QString& path) { m_path = path; }
  // The file's path is both what the item shows and its identity.
  QString imageRepresentation() const { return m_path; }
  QString imageUID() const { return m_path; }
  QString imageTitle() const { return QFileInfo(m_path).fileName(); }

 private:
  QString m_path;
};
