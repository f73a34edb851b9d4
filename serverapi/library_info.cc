// Identification of the bound libvaxel through the dynamic linker.
#include "serverapi/library_info.h"

#include <dlfcn.h>
#include <limits.h>

#include <cstdlib>

#include "serverapi/orlan_api_loader.h"

LibvaxelInfo libvaxelInfo() {
  LibvaxelInfo info;
  void* entry = dlsym(RTLD_DEFAULT, "VxInitRuntime");
  Dl_info where;
  if (entry == nullptr || dladdr(entry, &where) == 0 || where.dli_fname == nullptr) return info;
  char resolved[PATH_MAX];
  info.path = realpath(where.dli_fname, resolved) != nullptr ? resolved : where.dli_fname;
  // RTLD_NOLOAD: a handle of the library already loaded, never a new load.
  void* handle = dlopen(where.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) return info;
  using Identity = const char* (*)();
  auto identity = reinterpret_cast<Identity>(dlsym(handle, "vaxelsim_identity"));
  if (identity != nullptr) {
    info.simulated = true;
    const char* text = identity();
    info.identity = text != nullptr ? text : "";
  }
  dlclose(handle);
  return info;
}

std::string libvaxelDescription(const LibvaxelInfo& info) {
  std::string text = info.path.empty() ? "(not found in the process)" : info.path;
  if (info.simulated) return text + " (" + info.identity + "; not a real server)";
  return text + " (Velora server library)";
}

std::vector<std::string> missingOrlanAPI() {
  std::vector<std::string> missing;
  for (const char* name : kOrlanAPINames)
    if (dlsym(RTLD_DEFAULT, name) == nullptr) missing.push_back(name);
  return missing;
}
