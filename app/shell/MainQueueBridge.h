#pragma once
// Binds the main queue of platform/foundation to the Qt event loop of the GUI thread.

class MainQueueBridge {
 public:
  // Call on the GUI thread once the QApplication exists.
  static void install();
  // Call after the event loop ends; runs what is still queued.
  static void uninstall();
};
