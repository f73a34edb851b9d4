// Fuzz entry: the replication schedule and date readers, through the
// hit/miss analysis.  The input is lines:
//   D<text>                               the start date text of the request
//   S<dest>|<schedule>|<weekdays>|<interval>   an enabled connection
//   R<partner>|<start>|<end>               a logged replication
//   anything else                          a text for every date reader
// The server is the simulator with its clock fixed at 12/06/2026 10:00 AM,
// so the analysed period ends there.  Checks: the analysis succeeds, takes
// every raw record, and reports its rows in start order.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "framework/trace.h"
#include "replication/hit_miss.h"
#include "replication/repl_records.h"
#include "replication/repl_time.h"
#include "replication/time_list.h"
#include "serverapi/qvd_api.h"
#include "sim/vaxel_sim.h"
#include "state/globals.h"

namespace {

std::string g_model;
_ServerInfoBlock g_info;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "schedule fuzz check failed: %s\n", what);
    std::abort();
  }
}

std::vector<std::string> Split(const std::string& text, char separator, size_t parts) {
  std::vector<std::string> fields;
  size_t from = 0;
  while (fields.size() + 1 < parts) {
    size_t at = text.find(separator, from);
    if (at == std::string::npos) break;
    fields.push_back(text.substr(from, at - from));
    from = at + 1;
  }
  fields.push_back(text.substr(from));
  fields.resize(parts);
  return fields;
}

void CopyField(char* field, size_t size, const std::string& text) {
  std::snprintf(field, size, "%s", text.c_str());
}

// Every date reader on one text.
void ReadDates(const std::string& text) {
  VxTimeDate time;
  if (ReadDateFromString(text.c_str(), &g_info, &time)) {
    char back[81];
    GetStringFromTimeDate(&time, back, &g_info);
    Check(std::strlen(back) <= 80, "a time text fits its field");
    int h, m, s;
    if (timeOfDay(time, &h, &m, &s)) {
      Check(h >= 0 && h < 24 && m >= 0 && m < 60 && s >= 0 && s < 60, "a time of day");
    }
    timeDateFallsOnScheduledDay(time, text.c_str());
  }
  VxTimeDate start;
  setupTimeDate(text.c_str(), &start);
  int h, m, s;
  readTimeOfDay(text.c_str(), &h, &m, &s, &g_info);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("QVD_TRACE", "all", 1);
  setenv("QVD_TRACE_FILE", "/dev/null", 1);
  TraceReload();
  setenv("TZ", "UTC", 1);
  tzset();
  std::string pattern =
      std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/qvd_schedule_fuzz.XXXXXX";
  Check(mkdtemp(&pattern[0]) != nullptr, "model folder");
  g_model = pattern;
  std::ofstream(g_model + "/server.json") << R"({"clock": {"fixed": "12/06/2026 10:00:00 AM"}})";
  setenv("VAXEL_SIM_DIR", g_model.c_str(), 1);
  unsetenv("VAXEL_SIM_LOG");
  vaxelsim_reset();
  std::memset(&g_info, 0, sizeof g_info);
  std::strcpy(g_info.serverNameCanonical, "CN=srv1/O=acme");
  std::strcpy(g_info.serverNameAbbr, "srv1/acme");
  QVD_VxGetIntlSettings(&g_info.intlSettings, sizeof g_info.intlSettings);
  std::atexit([] { std::system(("rm -rf " + g_model).c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream lines(std::string(reinterpret_cast<const char*>(data), size));
  replRequest request = {};
  request.useStartDate = 1;
  Check(ReadDateFromString("12/05/2026 12:00:00 AM", &g_info, &request.startDate), "the default start");
  replschedule* schedules = nullptr;
  replResult* raw = nullptr;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    std::string rest = line.substr(1);
    if (line[0] == 'D') {
      CopyField(request.startDateText, sizeof request.startDateText, rest);
      VxTimeDate start;
      if (setupTimeDate(request.startDateText, &start) == 0) request.startDate = start;
    } else if (line[0] == 'S') {
      std::vector<std::string> f = Split(rest, '|', 4);
      replschedule s = {};
      CopyField(s.src_svr, sizeof s.src_svr, "srv1/acme");
      CopyField(s.dest_svr, sizeof s.dest_svr, f[0]);
      s.schedule = &f[1][0];
      CopyField(s.weekdays, sizeof s.weekdays, f[2]);
      s.interval = static_cast<int32_t>(std::strtol(f[3].c_str(), nullptr, 10));
      schedules = add_replSched_list(schedules, &s);  // copies the texts
      Check(schedules != nullptr, "schedule added");
    } else if (line[0] == 'R') {
      std::vector<std::string> f = Split(rest, '|', 3);
      replResult r = {};
      CopyField(r.svrName, sizeof r.svrName, "srv1/acme");
      CopyField(r.InitiatedBy, sizeof r.InitiatedBy, "srv1/acme");
      CopyField(r.repl_svrName, sizeof r.repl_svrName, f[0]);
      CopyField(r.StartTime, sizeof r.StartTime, f[1]);
      CopyField(r.EndTime, sizeof r.EndTime, f[2].empty() ? f[1] : f[2]);
      VxTimeDate start, end;
      // As the log reader does: a record whose start is no time is not kept.
      if (!ReadDateFromString(r.StartTime, &g_info, &start)) continue;
      if (!ReadDateFromString(r.EndTime, &g_info, &end)) end = start;
      r.duration = static_cast<double>(QVD_VxTimeDifference(&end, &start));
      replResult* list = add_replResult_list(raw, &r, &g_info);
      Check(list != nullptr, "raw record added");
      raw = list;
    } else {
      ReadDates(line);
    }
  }

  replResult* result = nullptr;
  Check(ConstructReplResult(&result, &request, &raw, schedules, &g_info) == 0, "the analysis succeeds");
  Check(raw == nullptr, "every raw record taken");
  long previous = 0;
  bool first = true;
  for (replResult* r = result; r != nullptr; r = r->next) {
    VxTimeDate start;
    Check(ReadDateFromString(r->StartTime, &g_info, &start), "a row's start is a time");
    long key = timeKey(start);
    Check(first || key + 1 >= previous, "rows in start order");
    previous = key;
    first = false;
  }
  free_replResult(result);
  free_replSched(schedules);
  return 0;
}
