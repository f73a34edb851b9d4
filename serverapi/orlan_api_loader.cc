// Binding of libvaxel: the load-time singleton and the start-up check.
#include "serverapi/orlan_api_loader.h"

#include <dlfcn.h>

#include "framework/trace.h"

QVD_TRACE_UNIT("serverapi/loader");

const char* const kOrlanAPINames[kOrlanAPICount] = {
    "VxShouldTerminate",   "VxTextToTime",       "VxTimeToText",
    "VxNameAbbreviate",    "VxNameCanonicalize", "VxListCount",
    "VxListEntryText",     "VxDirGetTextItem",   "VxDirLocateNextMatch",
    "VxDirLocateNextName", "VxDirLookup",        "VxViewClose",
    "VxFindDesignNote",    "VxViewOpen",         "VxViewReadEntries",
    "VxInitRuntime",       "VxInitThread",       "VxTermRuntime",
    "VxTermThread",        "VxDbClose",          "VxDbOpen",
    "VxDbOpenExtended",    "VxDbPathGet",        "VxDbQuotaGet",
    "VxDbSpaceUsage",      "VxFormulaCompile",   "VxGetServerStats",
    "VxGetSummaryValue",   "VxItemValueToText",  "VxItemGetText",
    "VxItemGetTime",       "VxItemInfo",         "VxItemScan",
    "VxItemSetText",       "VxItemSetTime",      "VxDocClose",
    "VxDocCreate",         "VxDocOpen",          "VxDocUpdate",
    "VxDbSearch",          "VxPingServer",       "VxCurrentTime",
    "VxGetDataDirectory",  "VxGetIntlSettings",  "VxLoadString",
    "VxLockObject",        "VxMemFree",          "VxPathNetConstruct",
    "VxPathNetParse",      "VxTranslate",        "VxUnlockObject",
    "VxSpecialTime",       "VxTimeAdjust",       "VxTimeCompare",
    "VxTimeDifference",    "VxTimeBreakDown",    "VxTimeAssemble",
};

namespace {

// Looks every entry point up in `handle` (RTLD_DEFAULT: the whole process).
// Writes one error line per missing name; true when none is missing.
bool AllEntryPointsIn(void* handle, const char* where) {
  bool complete = true;
  for (const char* name : kOrlanAPINames) {
    if (dlsym(handle, name) == nullptr) {
      QVD_ERROR("Orlan C API %s is missing from %s.", name, where);
      complete = false;
    }
  }
  return complete;
}

}  // namespace

// Constant-initialised (constexpr constructor): built before any dynamic
// initialiser or thread can reach it.
OrlanAPILoader OrlanAPILoader::m_loader;

OrlanAPILoader& OrlanAPILoader::getInstance() { return m_loader; }

bool OrlanAPILoader::loadLibvaxel() {
  QVD_ENTRY();
  QVD_EXIT(0);
  return false;
}

bool OrlanAPILoader::unloadLibvaxel() {
  QVD_ENTRY();
  QVD_EXIT(0);
  return false;
}

void* OrlanAPILoader::loadOrlanAPI(const char* name) {
  (void)name;
  return nullptr;
}

bool OrlanAPILoader::hasLoadAPIErr() const { return m_loadErr; }

bool OrlanAPILoader::checkAllRequiredOrlanAPI() {
  QVD_ENTRY();
  bool complete = AllEntryPointsIn(RTLD_DEFAULT, "the process");
  QVD_EXIT(complete);
  return complete;
}

OrlanAPILoaderFactory::OrlanAPILoaderFactory() : m_loadAPIErr(false) {
  OrlanAPILoader& loader = OrlanAPILoader::getInstance();
  m_loadAPIErr = loader.hasLoadAPIErr() || !loader.checkAllRequiredOrlanAPI();
}

OrlanAPILoaderFactory::OrlanAPILoaderFactory(const char* libraryPath) : m_loadAPIErr(false) {
  QVD_ENTRY();
  if (libraryPath == nullptr || *libraryPath == '\0') {
    QVD_ERROR("Cannot load the Orlan C API library: no library name.");
    m_loadAPIErr = true;
    QVD_EXIT(m_loadAPIErr);
    return;
  }
  // RTLD_LOCAL keeps a foreign copy's symbols out of the process's scope.
  void* handle = dlopen(libraryPath, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    QVD_ERROR("Cannot load the Orlan C API library %s: %s", libraryPath,
              why ? why : "unknown error");
    m_loadAPIErr = true;
    QVD_EXIT(m_loadAPIErr);
    return;
  }
  m_loadAPIErr = !AllEntryPointsIn(handle, libraryPath);
  dlclose(handle);
  QVD_EXIT(m_loadAPIErr);
}
