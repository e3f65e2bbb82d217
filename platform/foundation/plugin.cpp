#include "platform/foundation/plugin.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

#include "platform/foundation/log.h"

namespace foundation {
namespace {

struct Plugins {
  std::mutex mutex;
  std::map<std::string, void*> handles;
};

Plugins& plugins() {
  static auto* p = new Plugins();
  return *p;
}

}  // namespace

std::string pluginFolder() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&pluginFolder), &info) || !info.dli_fname) return "lectern";
  std::string self = info.dli_fname;
  const size_t slash = self.rfind('/');
  return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/lectern";
}

bool pluginLoaded(const std::string& plugin) {
  auto& p = plugins();
  std::lock_guard lock(p.mutex);
  return p.handles.count(plugin) != 0;
}

void* pluginSymbol(const std::string& plugin, const char* symbol, std::string* error) {
  auto& p = plugins();
  void* handle = nullptr;
  {
    std::lock_guard lock(p.mutex);
    auto it = p.handles.find(plugin);
    if (it != p.handles.end()) handle = it->second;
  }
  if (!handle) {
    // Not under the lock: a plugin's initialisers may ask for another one. The loader itself
    // loads a file once, however many threads open it.
    const std::string path = pluginFolder() + "/" + plugin + ".so";
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* why = dlerror();
      const std::string reason = why ? why : "cannot be loaded";
      log(LogLevel::Error, "plugin", "cannot load " + path + ": " + reason);
      if (error) *error = reason;
      return nullptr;
    }
    std::lock_guard lock(p.mutex);
    p.handles.emplace(plugin, handle);
  }
  dlerror();
  void* address = dlsym(handle, symbol);
  if (!address) {
    const char* why = dlerror();
    const std::string reason = why ? why : std::string(symbol) + " is missing";
    log(LogLevel::Error, "plugin", plugin + ": " + reason);
    if (error) *error = reason;
  }
  return address;
}

}  // namespace foundation
