// Fuzz entry: a statistics text served by the simulated server, through the
// snapshot (queryStats: fetch, conversion, lower-cased names) and every
// statistics builder, single-row, multi-row and add-in, in an order the
// input picks;
// then every value slot the builders left is read and encoded for the agent.
//
// Input: the first byte sets the scene (bit 0: decimal comma and full-stop
// thousands; bit 1: a Japanese EUC host, which adds that conversion step;
// bits 2-7: the build order).  The rest is the statistics text.  Rows go to
// no agent (the link refuses them at once), which leaves the builders' work
// unchanged.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "agentlink/messages.h"
#include "agentlink/pwx_string.h"
#include "framework/trace.h"
#include "sim/vaxel_sim.h"
#include "state/globals.h"
#include "stats/addin_tables.h"
#include "stats/catalogue.h"
#include "stats/multi_row.h"
#include "stats/row_builder.h"
#include "stats/snapshot.h"

namespace {

char kServer[] = "Velora1/Acme";
char kRequest[] = "1";
std::string g_model;  // the simulated server's model folder

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "snapshot fuzz check failed: %s\n", what);
    std::abort();
  }
}

// Puts `text` in place as the model's statistics.  The file is replaced by
// rename, and the previous one stays open until then, so each text is a new
// file to the simulator.
void ServeStats(const uint8_t* data, size_t size) {
  static int previous = -1;
  std::string tmp = g_model + "/stats.tmp";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  Check(f != nullptr && (size == 0 || std::fwrite(data, 1, size, f) == size) && std::fclose(f) == 0,
        "write stats.txt");
  int current = ::open(tmp.c_str(), O_RDONLY);
  Check(std::rename(tmp.c_str(), (g_model + "/stats.txt").c_str()) == 0, "rename stats.txt");
  if (previous >= 0) ::close(previous);
  previous = current;
}

// Reads every slot of a group and encodes the row as the agent would get it.
void TouchRow(char* const* values, int count) {
  size_t n = 0;
  for (int i = 0; i < count; ++i) {
    if (values[i] != nullptr) n += std::strlen(values[i]);
  }
  PWX::String row(64);
  agentlink::buildInstanceXMLSegment(&row, const_cast<const char**>(values), count);
  Check(row.length() >= static_cast<int>(n), "encoded row holds its values");
}

struct Build {
  const QvdTableDescriptor* table;
  void (*multi)(const char*);  // null: the single-row or add-in builder
};

std::vector<Build> Builds() {
  std::vector<Build> builds;
  for (const QvdTableDescriptor& t : qvdTableCatalogue) {
    if (t.kind == QVD_TABLE_SINGLE_ROW || t.kind == QVD_TABLE_ADDIN) builds.push_back({&t, nullptr});
  }
  builds.push_back({findTableDescriptor("Velora_Tasks"), Parse_Velora_Tasks});
  builds.push_back({findTableDescriptor("Velora_Mail_By_Dest"), Parse_Velora_Mail_By_Dest});
  builds.push_back({findTableDescriptor("Velora_Mail_By_Dest64"), Parse_Velora_Mail_By_Dest64});
  return builds;
}

void SetSeparators(char thousands, char decimal) {
  std::memset(intl_format.ThousandString, 0, sizeof intl_format.ThousandString);
  std::memset(intl_format.DecimalString, 0, sizeof intl_format.DecimalString);
  intl_format.ThousandString[0] = thousands;
  intl_format.DecimalString[0] = decimal;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("QVD_TRACE", "error", 1);
  setenv("QVD_TRACE_FILE", "/dev/null", 1);
  TraceReload();
  // A memory file system when there is one: every input is written as a file.
  std::string pattern =
      std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/qvd_snapshot_fuzz.XXXXXX";
  Check(mkdtemp(&pattern[0]) != nullptr, "model folder");
  g_model = pattern;
  setenv("VAXEL_SIM_DIR", g_model.c_str(), 1);
  unsetenv("VAXEL_SIM_LOG");
  vaxelsim_reset();
  server_name = kServer;
  responsetime = 1;
  std::atexit([] { std::system(("rm -rf " + g_model).c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<Build> builds = Builds();
  uint8_t scene = size > 0 ? data[0] : 0;
  if (size > 0) {
    ++data;
    --size;
  }
  if (scene & 1) SetSeparators('.', ',');
  else SetSeparators(',', '.');
  setenv("LANG", (scene & 2) ? "ja_JP.eucJP" : "C", 1);
  prevTCPIPKBRec = prevTCPIPKBSent = prevSMTPKBRec = prevSMTPKBSent = 0;

  ServeStats(data, size);
  if (queryStats() != 0) {
    Check(pStatBuffer == nullptr, "no snapshot after a failed fetch");
    return 0;
  }
  Check(pStatBuffer != nullptr && std::strlen(pStatBuffer) <= dwStatBufferLen, "snapshot in place");

  // Build order: a rotation and a direction picked by the input.
  size_t n = builds.size();
  size_t start = (scene >> 3) % n;
  bool backwards = (scene & 4) != 0;
  // Two passes, as two requests of each table on one snapshot: a group
  // without a row (slot 0 still empty) is built again in the second.
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t k = 0; k < n; ++k) {
      const Build& b = builds[(start + (backwards ? n - k : k)) % n];
      const QvdTableDescriptor* t = b.table;
      if (t->values[0] != nullptr) continue;
      if (b.multi != nullptr) {
        b.multi(kRequest);
      } else if (t->kind == QVD_TABLE_ADDIN) {
        if (pMvStats == nullptr) continue;  // as the dispatch loop decides
        Check(buildAddInTable(t->groupName, kRequest), "an add-in group");
      } else {
        Parse_Velora_Data(kRequest, t->groupName, t->values, t->columnCount, t->keywords, t->columns);
        if (t->values[0] != nullptr) storeKilobyteCounters(t->groupName, t->values);
      }
      TouchRow(t->values, t->columnCount);
    }
  }
  freeStats();
  setenv("LANG", "C", 1);
  return 0;
}
