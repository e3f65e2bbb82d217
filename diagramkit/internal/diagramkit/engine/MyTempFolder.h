#pragma once
// The pre-processor's work folder: "VSD2PDF" in the user's data folder ($XDG_DATA_HOME, else
// ~/.local/share), and inside it one folder for this process, held by a lock on its ".lock"
// file for the process's life. On first use every folder there that no running process holds
// is removed.

#include <filesystem>
#include <string>

class MyTempFolder {
 public:
  // This process's folder, made on the first call; empty (with `error`) when there is no data
  // folder or the folder cannot be made. Later calls answer the same path without touching
  // the disk; a failed first call is tried again next time.
  static std::filesystem::path frameFolder(std::string* error = nullptr);

  // "VSD2PDF" in the user's data folder, or empty when there is none.
  static std::filesystem::path workRoot();
};
