#pragma once
// The project's plugins: shared objects loaded by name the first time something asks for one,
// and never unloaded (their threads and objects may outlive any caller).
//
// A plugin named NAME is the file NAME.so in the folder "lectern" beside this library: in an
// installed tree PREFIX/lib/lectern/, in the build tree the folder the build puts them in.
// Safe to call from any thread; a plugin is loaded once however many threads ask at once.

#include <string>

#include "platform/foundation/export.h"

namespace foundation {

// The folder the plugins are loaded from.
FOUNDATION_EXPORT std::string pluginFolder();

// The address of `symbol` in the plugin `plugin`, which is loaded first when it is not yet;
// null when the plugin cannot be loaded or has no such symbol, with `error` (when given) saying
// why. A plugin that cannot be loaded is tried again at the next call.
FOUNDATION_EXPORT void* pluginSymbol(const std::string& plugin, const char* symbol, std::string* error = nullptr);

// Yes once the plugin has been loaded in this process.
FOUNDATION_EXPORT bool pluginLoaded(const std::string& plugin);

}  // namespace foundation
