// Fuzz entry: the view configuration file (QVD_CHECK_DB_VIEW_CONFIG_FILE).
// The input is written as the file and read into a map of the usual
// capacity and into one of two pairs; then the views of a few database
// paths are looked up in both.  Checks: a map never holds more pairs than
// its capacity, and every view it hands out is a non-empty name of at most
// 255 characters without blanks.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "dbhealth/db_views_config_map.h"
#include "framework/trace.h"
#include "util/string_list.h"

namespace {

std::string g_file;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "view config fuzz check failed: %s\n", what);
    std::abort();
  }
}

void LookUp(const DbViewsConfigMap& map) {
  Check(map.getCount() <= map.getCapacity(), "no more pairs than the capacity");
  for (const char* path : {"mail/a.vdb", "names.vdb", "mail/sub/b.box", "x", ""}) {
    QVD::StringList views;
    int rc = map.getViewList(path, &views);
    Check(rc == 0 || rc == 302, "a look-up finds views or none");
    for (int i = 0; i < views.getCount(); ++i) {
      const char* view = views.getAt(i).c_str();
      size_t n = std::strlen(view);
      Check(n > 0 && n <= 255 && std::strpbrk(view, " \t\r\n") == nullptr, "a view name as refined");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("QVD_TRACE", "all", 1);
  setenv("QVD_TRACE_FILE", "/dev/null", 1);
  TraceReload();
  std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  g_file = base + "/qvd_view_config_fuzz." + std::to_string(getpid());
  std::atexit([] { unlink(g_file.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    std::ofstream out(g_file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  DbViewsConfigMap usual;
  Check(DbViewsConfigMap::parseDbViewConfigFile(g_file.c_str(), &usual) == 0, "the file is read");
  LookUp(usual);
  DbViewsConfigMap small(2);
  Check(DbViewsConfigMap::parseDbViewConfigFile(g_file.c_str(), &small) == 0, "the file is read again");
  LookUp(small);
  Check(small.getCount() == std::min(usual.getCount(), 2), "a small map keeps the first pairs");
  return 0;
}
