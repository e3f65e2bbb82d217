#pragma once
// One QApplication for a GUI test binary, with private settings, cache and data folders. It
// is destroyed when the tests end, after every worker thread, before static destruction.

#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>

#include <chrono>

#include "platform/foundation/worker_threads.h"
#include "support/temp_dir.h"

namespace testsupport {

inline QApplication* guiApp() {
  static TempDir home;
  static QApplication* app = nullptr;
  if (app) return app;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((home / "config").string()));
  qputenv("XDG_CACHE_HOME", QByteArray::fromStdString((home / "cache").string()));
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString((home / "data").string()));
  static int argc = 1;
  static char name[] = "lectern-test";
  static char* argv[] = {name, nullptr};
  app = new QApplication(argc, argv);
  struct AppEnvironment : ::testing::Environment {
    void TearDown() override {
      if (!foundation::WorkerThreads::shutdown(std::chrono::minutes(2))) ADD_FAILURE() << "worker threads still run";
      delete app;
      app = nullptr;
    }
  };
  ::testing::AddGlobalTestEnvironment(new AppEnvironment);
  return app;
}

}  // namespace testsupport
