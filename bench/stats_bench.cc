// Statistics tables benchmark: takes a snapshot of generated statistics
// texts of 1, 2, 4 and 8 MB from the simulated server and builds every
// statistics table from it (26 single-row tables, tasks, both
// mail-by-destination tables).  Then the add-in section: snapshots whose
// "mvstats." lines alone are 1, 2, 4 and 8 MB, every item of the seven
// add-in tables with all its companions, and the time to build the seven
// tables from each (rows per millisecond, and the growth from the smallest
// to the largest, which stays near the growth of the text when the builders
// are linear).  Prints, per size, the time of the snapshot,
// of the tables and of both, the throughput, and each time as a multiple of
// one memmem pass over the same text measured in the same run.  Rows go to
// no agent (the link refuses them at once): the cost of encoding them for
// the agent link is not included.  Sizes in MB may be given as arguments
// (for profiling one size); the default is 1 2 4 8.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "state/globals.h"
#include "stats/addin_tables.h"
#include "stats/catalogue.h"
#include "stats/multi_row.h"
#include "stats/row_builder.h"
#include "stats/snapshot.h"
#include "stats/stats_generator_testutil.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

char kServer[] = "Velora1/Acme";
char kRequest[] = "1";

// Time of the single-row tables, the tasks and both destination tables.
struct Parts {
  double single = 0, tasks = 0, mail = 0;
};

Parts BuildEveryTable() {
  Parts parts;
  Clock::time_point a = Clock::now();
  for (const QvdTableDescriptor& t : qvdTableCatalogue) {
    if (t.kind == QVD_TABLE_SINGLE_ROW) {
      Parse_Velora_Data(kRequest, t.groupName, t.values, t.columnCount, t.keywords, t.columns);
    }
  }
  Clock::time_point b = Clock::now();
  Parse_Velora_Tasks(kRequest);
  Clock::time_point c = Clock::now();
  Parse_Velora_Mail_By_Dest(kRequest);
  Parse_Velora_Mail_By_Dest64(kRequest);
  Clock::time_point d = Clock::now();
  parts.single = Seconds(a, b);
  parts.tasks = Seconds(b, c);
  parts.mail = Seconds(c, d);
  return parts;
}

// The fastest of `reps` memmem passes over the whole text for a statistic
// name that is not in it.
double MemmemPass(const std::string& text, int reps) {
  std::string absent = "server.absent.statistic" + std::to_string(reps) + "\t";
  double best = 1e9;
  uintptr_t found = 0;
  for (int i = 0; i < reps; ++i) {
    absent[7] = static_cast<char>('a' + i % 2);  // a needle the compiler cannot know
    Clock::time_point a = Clock::now();
    found += reinterpret_cast<uintptr_t>(memmem(text.data(), text.size(), absent.data(), absent.size()));
    best = std::min(best, Seconds(a, Clock::now()));
  }
  if (found != 0) std::printf("(unexpected match)\n");
  return best;
}

// An add-in section of about `bytes` bytes: items of all seven tables.
std::string GenerateAddIn(size_t bytes, int* items) {
  std::string text = "Server.Users\t12\n";
  int i = 0;
  auto line = [&](const std::string& name, int value) {
    text += name;
    text += '\t';
    text += std::to_string(value);
    text += '\n';
  };
  for (; text.size() < bytes; ++i) {
    std::string n = std::to_string(i);
    std::string server = "srv" + n + "/acme";
    for (const char* m : {".Avg", ".Count", ".Max", ".PercentUnder500"}) line("MVStats.View" + n + m, i);
    for (const char* m : {"Pulled.Documents.Transferred.", "Pulled.KBReceived.", "Pulled.KBSent.",
                          "Pushed.Documents.Transferred.", "Pushed.KBReceived.", "Pushed.KBSent.",
                          "Time.", "TotalMissed.", "TotalSuccesses."}) {
      line(std::string("MVStats.Repl.") + m + server, i);
    }
    for (const char* m : {".MinutesSince.Recv", ".MinutesSince.Send"}) line("MVStats.Delay." + server + m, i);
    for (const char* m : {".Avg", ".Count", ".Max"}) line("MVStats.Size" + n + ".Sent.Small" + m, i);
    for (const char* m : {".Size", ".Count"}) line("MVStats.Dom.Incoming.d" + n + ".com" + m, i);
    for (const char* m : {".CountOver", ".Min", ".Max", ".Avg"}) line("MVStats.In." + server + m, i);
    for (const char* m : {".Volume", ".Count"}) line("MVStats.Out." + server + m, i);
  }
  *items = i;
  return text;
}

// The fastest of `reps` builds of the seven add-in tables from `text`.
double BuildAddIn(const std::string& text, int reps) {
  static const char* kGroups[] = {
      "MV_View_Performance_Statistics", "MV_Replication_Statistics",
      "MV_Replication_Delay_Statistics", "MV_Mail_Size_Statistics", "MV_Mail_Domain_Statistics",
      "MV_Mail_Incoming_Statistics", "MV_Mail_Outgoing_Statistics"};
  double best = 1e9;
  for (int r = 0; r < reps; ++r) {
    installStatsText(text.data(), text.size());
    Clock::time_point a = Clock::now();
    for (const char* g : kGroups) buildAddInTable(g, kRequest);
    best = std::min(best, Seconds(a, Clock::now()));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  // No agent is connected: the rows are refused without a trace line.
  setenv("QVD_TRACE", "none", 1);
  char dir[] = "/tmp/qvd_stats_bench_XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  setenv("VAXEL_SIM_DIR", dir, 1);
  std::string statsFile = std::string(dir) + "/stats.txt";
  server_name = kServer;
  intl_format.ThousandString[0] = ',';
  intl_format.DecimalString[0] = '.';

  std::printf("%-6s %10s %10s %10s %9s %12s %12s %12s\n", "size", "snapshot", "tables", "total",
              "MB/s", "memmem", "tables/pass", "total/pass");
  double firstTables = 0, firstTotal = 0, lastTables = 0, lastTotal = 0;
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) {
    if (atoi(argv[i]) > 0) sizes.push_back(atoi(argv[i]));
  }
  if (sizes.empty()) sizes = {1, 2, 4, 8};
  for (int mb : sizes) {
    StatsShape shape;
    shape.bytes = static_cast<size_t>(mb) << 20;
    shape.destinations = 2000;
    shape.tasks = 500;
    std::string text = GenerateStats(shape);
    std::ofstream(statsFile, std::ios::binary) << text;

    const int reps = 7;
    std::vector<double> snapshot, tables;
    Parts parts;
    for (int r = 0; r < reps; ++r) {
      Clock::time_point a = Clock::now();
      if (queryStats() != 0) {
        std::fprintf(stderr, "no snapshot\n");
        return 1;
      }
      Clock::time_point b = Clock::now();
      Parts run = BuildEveryTable();
      Clock::time_point c = Clock::now();
      if (r == 0 || Seconds(b, c) < *std::min_element(tables.begin(), tables.end())) parts = run;
      snapshot.push_back(Seconds(a, b));
      tables.push_back(Seconds(b, c));
    }
    std::sort(snapshot.begin(), snapshot.end());
    std::sort(tables.begin(), tables.end());
    // The fastest run: the machine is shared, and a slower run only measures
    // the others.  The memmem pass is taken the same way.
    double snap = snapshot[0], tab = tables[0], total = snap + tab;
    double pass = MemmemPass(text, 21);
    double megabytes = static_cast<double>(text.size()) / (1 << 20);
    std::printf("%-3d MB %8.2f ms %7.2f ms %7.2f ms %9.1f %9.3f ms %12.1f %12.1f\n", mb,
                snap * 1e3, tab * 1e3, total * 1e3, megabytes / total, pass * 1e3, tab / pass,
                total / pass);
    std::printf("       single-row %.2f ms, tasks %.2f ms, destinations %.2f ms (fastest)\n",
                parts.single * 1e3, parts.tasks * 1e3, parts.mail * 1e3);
    if (mb == sizes.front()) {
      firstTables = tab;
      firstTotal = total;
    }
    lastTables = tab;
    lastTotal = total;
  }
  std::printf("%d MB / %d MB: tables %.2fx, total %.2fx\n", sizes.back(), sizes.front(),
              lastTables / firstTables, lastTotal / firstTotal);

  std::printf("\nadd-in section: the seven MV_ tables\n%-6s %10s %12s %12s\n", "size", "items",
              "tables", "rows/ms");
  double firstAddIn = 0, lastAddIn = 0;
  for (int mb : sizes) {
    int items = 0;
    std::string text = GenerateAddIn(static_cast<size_t>(mb) << 20, &items);
    double t = BuildAddIn(text, 9);
    std::printf("%-3d MB %10d %9.2f ms %12.0f\n", mb, items, t * 1e3, 7.0 * items / (t * 1e3));
    if (mb == sizes.front()) firstAddIn = t;
    lastAddIn = t;
  }
  std::printf("%d MB / %d MB: add-in tables %.2fx\n", sizes.back(), sizes.front(),
              lastAddIn / firstAddIn);
  freeStats();
  unlink(statsFile.c_str());
  rmdir(dir);
  return 0;
}
