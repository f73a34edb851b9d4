#include "replication/time_list.h"

#include <cstring>

#include "framework/trace.h"
#include "replication/repl_time.h"
#include "serverapi/qvd_api.h"

QVD_TRACE_UNIT("replication/timelist");

int getSchedType(const replschedule* schedule) {
  const char* text = schedule->schedule;
  if (text == nullptr || text[0] == '\0') return kSchedNone;
  if (strchr(text, '-') != nullptr) return schedule->interval != 0 ? kSchedRangeRepeat : kSchedRangeOnce;
  if (strchr(text, ';') != nullptr) return kSchedList;
  return kSchedOneTime;
}

bool readTimeOfDay(const char* text, int* hour, int* minute, int* second,
                   const _ServerInfoBlock* serverInfo) {
  VxTimeDate time;
  if (!ReadDateFromString(text, serverInfo, &time)) return false;
  return timeOfDay(time, hour, minute, second);
}

int schedSpansMidnight(const replschedule* schedule, int* h1, int* m1, int* s1, int* h2, int* m2,
                       int* s2, const _ServerInfoBlock* serverInfo) {
  std::string text(schedule->schedule ? schedule->schedule : "");
  if (text.size() > 256) text.resize(256);
  size_t dash = text.find('-');
  if (dash == std::string::npos) return -1;
  std::string first = text.substr(0, dash), second = text.substr(dash + 1);
  VxTimeDate t1, t2;
  if (!ReadDateFromString(first.c_str(), serverInfo, &t1) ||
      !ReadDateFromString(second.c_str(), serverInfo, &t2))
    return -1;
  if (!timeOfDay(t1, h1, m1, s1) || !timeOfDay(t2, h2, m2, s2)) return -1;
  // Both sides are read on the same day; compare their times of day.
  long a = *h1 * 3600L + *m1 * 60L + *s1, b = *h2 * 3600L + *m2 * 60L + *s2;
  return a > b ? 1 : 0;
}

void startTimeList(TimeListWalker* walker, const char* schedule, const VxTimeDate& day,
                   const _ServerInfoBlock* serverInfo) {
  walker->list = schedule ? schedule : "";
  char text[81];
  walker->working = GetStringFromTimeDate(&day, text, serverInfo);
}

namespace {

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

// The working text with its time part replaced by `token`.
std::string withTime(const std::string& working, const std::string& token) {
  size_t blank = working.find(' ');
  std::string date = blank == std::string::npos ? working : working.substr(0, blank);
  return date + " " + token;
}

}  // namespace

int GetNextTimeInList(VxTimeDate* time, TimeListWalker* walker, const _ServerInfoBlock* serverInfo) {
  while (!walker->list.empty()) {
    size_t semi = walker->list.find(';');
    std::string token = trimmed(walker->list.substr(0, semi));
    walker->list = semi == std::string::npos ? "" : walker->list.substr(semi + 1);
    if (token.empty()) continue;
    std::string text = withTime(walker->working, token);
    VxTimeDate read;
    if (!ReadDateFromString(text.c_str(), serverInfo, &read)) {
      QVD_ERROR("listed time |%s| of the schedule cannot be read; the rest of the list is passed over",
                token.c_str());
      walker->list.clear();
      return 2;
    }
    walker->working = text;
    *time = read;
    return 0;
  }
  return 1;
}

int PeekNextTimeInList(VxTimeDate* time, const TimeListWalker* walker,
                       const _ServerInfoBlock* serverInfo) {
  TimeListWalker copy = *walker;
  VxTimeDate next;
  int rc = GetNextTimeInList(&next, &copy, serverInfo);
  if (rc == 0) {
    *time = next;
    return 0;
  }
  if (rc == 2) return 1;
  VxTimeDate current;
  if (!ReadDateFromString(walker->working.c_str(), serverInfo, &current)) return 1;
  bool ok = false;
  VxTimeDate endOfDay = setTimeDateTime(current, 23, 59, 59, &ok);
  if (!ok || QVD_VxTimeCompare(&endOfDay, &current) == 0) return 1;
  *time = endOfDay;
  return 0;
}

int AdjustTimeDateToInterval(VxTimeDate* start, VxTimeDate* next, TimeListWalker* walker, int,
                             const replschedule* schedule, const _ServerInfoBlock* serverInfo,
                             bool* found) {
  *found = false;
  int type = getSchedType(schedule);
  if (type == kSchedList) {
    if (walker->list.empty()) return 0;
    VxTimeDate slot;
    while (GetNextTimeInList(&slot, walker, serverInfo) == 0) {
      if (QVD_VxTimeCompare(&slot, start) != -1) {
        *start = slot;
        *found = true;
        VxTimeDate after = slot;
        if (PeekNextTimeInList(&after, walker, serverInfo) == 0) *next = after;
        else *next = slot;
        break;
      }
    }
    return type;
  }
  int h1, m1, s1, h2, m2, s2;
  bool ok = false;
  if (type == kSchedOneTime) {
    if (!readTimeOfDay(schedule->schedule, &h1, &m1, &s1, serverInfo)) {
      QVD_ERROR("Problem adjusting time/date for TempDate");
      return type;
    }
    *start = setTimeDateTime(*start, h1, m1, s1, &ok);
    *next = *start;
    QVD_VxTimeAdjust(next, 0, 0, 1, 0, 0, 0);
    *found = ok;
    return type;
  }
  if (type == kSchedRangeOnce || type == kSchedRangeRepeat) {
    int spans = schedSpansMidnight(schedule, &h1, &m1, &s1, &h2, &m2, &s2, serverInfo);
    if (spans < 0) return type;
    VxTimeDate day = *start;
    VxTimeDate first = day;
    if (spans == 1) QVD_VxTimeAdjust(&first, 0, 0, 0, -1, 0, 0);
    *start = setTimeDateTime(first, h1, m1, s1, &ok);
    *next = setTimeDateTime(day, h2, m2, s2);
    *found = ok;
  }
  return type;
}
