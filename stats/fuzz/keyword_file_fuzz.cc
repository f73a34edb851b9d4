// Fuzz entry: the keyword override file.  The input is written as
// <home>/<platform>/vd/bin/qvdtbl.in and read by loadTables(), which applies
// it to the catalogue and writes the template; then every keyword is read,
// the template is checked to list every overridable group, and the
// catalogue's keywords are put back for the next input.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "framework/trace.h"
#include "state/globals.h"
#include "stats/catalogue.h"
#include "stats/keyword_file.h"

namespace {

std::string g_home;
std::string g_bin;
char kArch[] = "linux-x86_64";
char kInstance[] = "inst1";

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "keyword file fuzz check failed: %s\n", what);
    std::abort();
  }
}

// The catalogue's keyword arrays as built in.
std::vector<std::vector<const char*>>& Originals() {
  static auto* saved = new std::vector<std::vector<const char*>>();
  return *saved;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("QVD_TRACE", "all", 1);
  setenv("QVD_TRACE_FILE", "/dev/null", 1);
  TraceReload();
  // A memory file system when there is one: every input is written as a file.
  std::string pattern =
      std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/qvd_keyword_fuzz.XXXXXX";
  Check(mkdtemp(&pattern[0]) != nullptr, "install folder");
  g_home = pattern;
  g_bin = g_home + "/" + kArch + "/vd/bin/";
  Check(std::system(("mkdir -p " + g_bin).c_str()) == 0, "mkdir");
  halcyon_home = const_cast<char*>(g_home.c_str());
  binArch = kArch;
  instance_name = kInstance;
  for (const QvdTableDescriptor& t : qvdTableCatalogue) {
    Originals().emplace_back();
    if (t.keywords != nullptr) Originals().back().assign(t.keywords, t.keywords + t.columnCount);
  }
  std::atexit([] { std::system(("rm -rf " + g_home).c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    std::ofstream in(g_bin + "qvdtbl.in", std::ios::binary | std::ios::trunc);
    in.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  loadTables();

  size_t i = 0;
  for (const QvdTableDescriptor& t : qvdTableCatalogue) {
    for (int c = 0; t.keywords != nullptr && c < t.columnCount; ++c) {
      Check(t.keywords[c] != nullptr || Originals()[i][c] == nullptr, "a keyword is never lost");
      if (t.keywords[c] != nullptr) (void)std::strlen(t.keywords[c]);
      if (!t.overridable) Check(t.keywords[c] == Originals()[i][c], "only overridable groups change");
    }
    ++i;
  }
  std::ifstream out(g_bin + "qvdtbl_inst1.out", std::ios::binary);
  std::ostringstream text;
  text << out.rdbuf();
  for (const QvdTableDescriptor& t : qvdTableCatalogue) {
    if (t.overridable) {
      Check(text.str().find(std::string("# Table ") + t.groupName + "\n") != std::string::npos,
            "the template lists every overridable group");
    }
  }

  i = 0;
  for (const QvdTableDescriptor& t : qvdTableCatalogue) {
    if (t.keywords != nullptr) std::copy(Originals()[i].begin(), Originals()[i].end(), t.keywords);
    ++i;
  }
  return 0;
}
