#pragma once
// Writing an export file: the bytes go to a temporary file in the target's folder, reach the
// disk, and only then take the target's name, so a failed or cancelled export never leaves a
// half-written file under the user's name.

#include <QByteArray>
#include <QString>

namespace exportfile {

// A temporary file beside `target`, for writers that want a path (qpdf). Removed on
// destruction unless commit() succeeded.
class PendingFile {
 public:
  explicit PendingFile(const QString& target);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Empty when no temporary file could be made (see error()).
  QString path() const { return path_; }
  QString error() const { return error_; }
  // Flushes the temporary file to disk and renames it to the target. Without `replace`, an
  // existing target is left alone and the commit fails.
  bool commit(bool replace);

 private:
  QString target_;
  QString path_;
  QString error_;
  bool committed_ = false;
};

// Writes `data` to `target` through a PendingFile.
bool writeFile(const QString& target, const QByteArray& data, bool replace, QString* error = nullptr);

// Whether the two paths name the same existing file (hard links and symbolic links included).
bool sameFile(const QString& a, const QString& b);

}  // namespace exportfile
