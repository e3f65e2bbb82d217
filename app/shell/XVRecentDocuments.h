#pragma once
// The recent-documents list behind the Open Recent menu, newest first, kept in the user
// defaults.

#include <QString>
#include <QStringList>

class XVRecentDocuments {
 public:
  XVRecentDocuments() = delete;

  static constexpr int kMaximumCount = 10;

  // Puts `path` first (an earlier entry of the same path moves), keeping at most
  // kMaximumCount entries.
  static void noteNewRecentDocument(const QString& path);
  static QStringList recentDocuments();
  static void clearRecentDocuments();
};
