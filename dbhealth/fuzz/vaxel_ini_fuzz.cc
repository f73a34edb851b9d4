// Fuzz entry: the vaxel.ini editor, on its own and through the
// transaction-log switch that uses it.  The input is the ini file.
//
// Checks: the editor holds the file's bytes; a value it finds is the byte
// after the key and its separator; a value it sets changes that one byte of
// the saved file and nothing else.  Switching the transaction log off and on
// again leaves the file exactly as it was, with no backup left behind.
// Files live on a memory file system when there is one, since every save is
// flushed to disk.
#include <dirent.h>
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

#include "dbhealth/translog_checker.h"
#include "dbhealth/vaxel_ini_editor.h"
#include "framework/trace.h"

namespace {

std::string g_root;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "vaxel.ini fuzz check failed: %s\n", what);
    std::abort();
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Files left in the backup folder.
int BackupsLeft() {
  int n = 0;
  if (DIR* d = opendir((g_root + "/config").c_str())) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

void EditorChecks(const std::string& ini, const std::string& bytes) {
  VaxelIniEditor editor(ini.c_str());
  Check(editor.loadFile() == 0, "load");
  Check(editor.contentSize() == static_cast<int>(bytes.size()) &&
            std::memcmp(editor.content(), bytes.data(), bytes.size()) == 0,
        "the editor holds the file's bytes");
  for (const char* key : {"TRANSLOG_STATUS", "PREVIOUS_TRANSLOG_STATUS", "TRANSLOG_PATH", "X"}) {
    char value = 0;
    int index = editor.indexOfKeyValue(key);
    int rc = editor.getKeyValue(key, &value);
    Check((index < 0) == (rc == 561), "found by one search as by the other");
    if (index < 0) continue;
    Check(index < static_cast<int>(bytes.size()) && value == bytes[static_cast<size_t>(index)],
          "the value is a byte of the file");
    Check(index >= static_cast<int>(std::strlen(key)) + 1, "the value follows its key");
  }
  int index = editor.indexOfKeyValue("TRANSLOG_STATUS");
  if (index < 0) return;
  Check(editor.setKeyValue("TRANSLOG_STATUS", '7') == 0, "set");
  std::string copy = g_root + "/copy.ini";
  Check(editor.saveFile(copy.c_str()) == 0, "save a copy");
  std::string expected = bytes;
  expected[static_cast<size_t>(index)] = '7';
  Check(ReadFile(copy) == expected, "a set changes one byte");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("QVD_TRACE", "all", 1);
  setenv("QVD_TRACE_FILE", "/dev/null", 1);
  TraceReload();
  std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string pattern = base + "/qvd_ini_fuzz.XXXXXX";
  Check(mkdtemp(&pattern[0]) != nullptr, "work folder");
  g_root = pattern;
  Check(std::system(("mkdir -p " + g_root + "/data " + g_root + "/config " + g_root + "/linux/vd/bin").c_str()) == 0,
        "mkdir");
  WriteFile(g_root + "/linux/vd/bin/qvdstart.sh", "#!/bin/sh\n");
  VeloraTransLogChecker::setupEnv((g_root + "/data").c_str(), g_root.c_str(), "linux");
  std::atexit([] { std::system(("rm -rf " + g_root).c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string ini = g_root + "/data/vaxel.ini";
  WriteFile(ini, bytes);
  EditorChecks(ini, bytes);

  WriteFile(ini, bytes);
  int off = VeloraTransLogChecker::checkAndDisableTransLog();
  Check(off == 0, "switching the transaction log off");
  bool changed = VeloraTransLogChecker::isChanged();
  int on = VeloraTransLogChecker::checkAndEnableTransLog();
  Check(on == 0, "switching the transaction log back");
  Check(!VeloraTransLogChecker::isChanged(), "nothing pending after the switch back");
  Check(ReadFile(ini) == bytes, changed ? "the file restored byte for byte" : "an unswitched file untouched");
  Check(BackupsLeft() == 0, "no backup left");
  return 0;
}
