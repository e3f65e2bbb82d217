#pragma once
// Opens a file with the default application GIO finds for its content type.

#include <string>

namespace winmail {

// False when no application is registered for the file, or it cannot be started.
bool openWithDefaultApplication(const std::string& path, std::string* error = nullptr);

}  // namespace winmail
