#pragma once
// One QApplication for a GUI test binary, with private settings, cache and data folders.

#include <QApplication>
#include <QByteArray>

#include <memory>

#include "support/temp_dir.h"

namespace testsupport {

inline QApplication* guiApp() {
  static TempDir home;
  static std::unique_ptr<QApplication> app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((home / "config").string()));
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString((home / "cache").string()));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((home / "data").string()));
    static int argc = 1;
    static char name[] = "lectern-test";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QApplication>(argc, argv);
  }();
  return app.get();
}

}  // namespace testsupport
