#pragma once
// Shared utilities: the registry of singletons released at exit, the application's folders,
// file and folder checks, the supported-extension test and time-based identifiers.

#include <QDateTime>
#include <QSettings>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class XVBaseFunction {
 public:
  XVBaseFunction() = delete;

  // The reverse-DNS application id; names the application's folders.
  static QString applicationId();

  // Registry of singletons. Objects live until releaseAppEndObjects(), which main() calls
  // after the event loop and before the QApplication goes; they are released in the reverse
  // order of registration. A replaced object is released at once.
  static void addAppEndReleaseObject(std::shared_ptr<void> object, const QString& key);
  static std::shared_ptr<void> appEndReleaseObjectForKey(const QString& key);
  template <class T>
  static std::shared_ptr<T> appEndReleaseObject(const QString& key) {
    return std::static_pointer_cast<T>(appEndReleaseObjectForKey(key));
  }
  // Answers the object under `key`, creating and registering it with `make` when absent.
  template <class T>
  static std::shared_ptr<T> sharedObject(const QString& key, const std::function<std::shared_ptr<T>()>& make) {
    return std::static_pointer_cast<T>(sharedObjectImpl(key, [&] { return std::shared_ptr<void>(make()); }));
  }
  static void releaseAppEndObjects();

  // The user defaults: an INI file in the XDG config folder under the application id.
  static std::unique_ptr<QSettings> userDefaults();

  static bool isUseSandbox();
  static QString _PathDeleteSandboxMidPath(const QString& path);

  // The one comparison of file extensions (case ignored) used by every caller.
  static bool extensionEquals(const QString& a, const QString& b);
  // The extension of a path's last component, without the dot ("" when none).
  static QString extensionOfPath(const QString& path);
  static bool stringInArray(const QString& string, const QStringList& array);
  static bool xpsFileExtensionIsSupport(const QString& extension);

  static bool CheckDirectory(const QString& path);
  static bool CheckFile(const QString& path);
  // Removes the file or folder at `path` with everything in it; a link is removed itself,
  // never followed. Yes when nothing is left at the path.
  static bool RemovePath(const QString& path);

  static QString GetUserSupportAppSupportDirectory();
  static QString GetUserSupportHomeDirectory();
  static QString GetUserSupportMoviesPath();
  static QString GetUserSupportMusicPath();
  static QString GetUserSupportPicturesPath();
  static QString GetUserAppSupportDirectory();
  static QString GetUserHomeDirectory();
  static QString GetUserMoviesPath();
  static QString GetUsertMusicPath();
  static QString GetUserPicturesPath();
  static QString CurSupportUserAppSupportDirectory();
  static QString CurAppSupportDirectory();
  static QString CacheLibSupportDirector();
  static QString CacheLibDirector();
  static QString TempDirectory();

  static QString GetCurTimeString();
  // 14 time digits and a 4-digit sequence; each result is greater than the one before it in
  // this run (also past 9,999 calls in one second and when the clock goes back).
  static QString GetCurID();

  // Tests replace the clock; nullptr restores the real one.
  static void setClockForTesting(std::function<QDateTime()> clock);

 private:
  static std::shared_ptr<void> sharedObjectImpl(const QString& key, const std::function<std::shared_ptr<void>()>& make);
};

// The texts of the "file is corrupted" alert.
class QFAlert {
 public:
  QFAlert() = default;
  QFAlert& initAlertWithTitle(const QString& filePath);
  // The same alert naming the file with the failure's reason (the corrupt-file text when
  // `errorInfo` gives none).
  QFAlert& initAlertWithTitle(const QString& filePath, const QString& errorInfo);

  QString messageText() const { return messageText_; }
  QString informativeText() const { return informativeText_; }
  QStringList buttons() const { return buttons_; }

 private:
  QString messageText_;
  QString informativeText_;
  QStringList buttons_;
};
