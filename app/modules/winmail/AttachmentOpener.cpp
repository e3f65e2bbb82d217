#include "modules/winmail/AttachmentOpener.h"

// GIO's headers use names Qt's keyword macros take: this file includes no Qt header.
#include <gio/gio.h>

namespace winmail {

bool openWithDefaultApplication(const std::string& path, std::string* error) {
  GFile* file = g_file_new_for_path(path.c_str());
  GError* failure = nullptr;
  GAppInfo* app = g_file_query_default_handler(file, nullptr, &failure);
  bool launched = false;
  if (app) {
    GList* files = g_list_append(nullptr, file);
    launched = g_app_info_launch(app, files, nullptr, &failure);
    g_list_free(files);
    g_object_unref(app);
  }
  if (failure) {
    if (error) *error = failure->message;
    g_error_free(failure);
  }
  g_object_unref(file);
  return launched;
}

}  // namespace winmail
