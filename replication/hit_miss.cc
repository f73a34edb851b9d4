#include "replication/hit_miss.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "framework/trace.h"
#include "replication/repl_time.h"
#include "replication/text_utils.h"
#include "replication/time_list.h"
#include "serverapi/qvd_api.h"

QVD_TRACE_UNIT("replication/hitmiss");

namespace {

constexpr long kOneTimeWindow = 3600;
constexpr long kRangeWindow = 900;
// More day windows than a 7-day period can hold: a guard against a time
// that does not move.
constexpr int kMaxWindows = 64;

struct RawEntry {
  replResult* record;
  long key;
  bool alive;
};

// The state of one analysis.
struct Analysis {
  replResult* raw = nullptr;     // first member of the raw list
  replResult* result = nullptr;  // first member of the result list
  const replRequest* request = nullptr;
  const _ServerInfoBlock* serverInfo = nullptr;
  VxTimeDate periodEnd;
  long startKey = 0;      // of request->startDate
  long periodEndKey = 0;
  // Raw records by exact partner name, in list order (start order).
  std::map<std::string, std::vector<RawEntry>> byPartner;
  ReplRowLimit* limit = nullptr;  // null: every row is kept
};

int compare(const VxTimeDate& a, const VxTimeDate& b) { return QVD_VxTimeCompare(&a, &b); }
long difference(const VxTimeDate& a, const VxTimeDate& b) { return QVD_VxTimeDifference(&a, &b); }

std::vector<RawEntry>* recordsOf(Analysis& a, const char* partner) {
  auto it = a.byPartner.find(partner);
  return it == a.byPartner.end() ? nullptr : &it->second;
}

// The first live record of `records` that did not start before `slot`.
size_t firstFrom(const std::vector<RawEntry>& records, const VxTimeDate& slot) {
  long key = timeKey(slot) - 1;
  size_t i = std::lower_bound(records.begin(), records.end(), key,
                              [](const RawEntry& e, long k) { return e.key < k; }) -
             records.begin();
  const long slotKey = key + 1;
  while (i < records.size() &&
         (!records[i].alive ||
          compareTimes(records[i].record->startTD, records[i].key, slot, slotKey) == -1))
    ++i;
  return i;
}

// True when the result holds as many rows as it may keep.
bool resultFull(const Analysis& a) {
  return a.limit != nullptr && a.limit->maxRows != 0 &&
         CountReplResult(a.result) >= a.limit->maxRows;
}

// True when a row starting at `key` could not be among the rows kept: the
// result is full and its last row starts no earlier (a row with the same
// start goes after it).
bool beyondLimit(const Analysis& a, long key) {
  return resultFull(a) && key >= LastReplResult(a.result)->startKey;
}

// Drops the latest rows of a result that has grown past the limit.
void keepWithinLimit(Analysis& a) {
  if (a.limit == nullptr || a.limit->maxRows == 0) return;
  while (CountReplResult(a.result) > a.limit->maxRows) {
    RemoveReplResult(LastReplResult(a.result));
    a.limit->rowsLeftOut = true;
  }
}

// Moves a raw record into the result.
void keepRaw(Analysis& a, RawEntry& entry, const char* label) {
  replResult* r = entry.record;
  QVD_DETAIL("%s %s -> %s at |%s|", label, r->svrName, r->repl_svrName, r->StartTime);
  moveReplResult(&a.raw, r, &a.result);
  entry.alive = false;
  keepWithinLimit(a);
}

void removeRaw(Analysis& a, RawEntry& entry) {
  if (a.raw == entry.record) a.raw = entry.record->next;
  RemoveReplResult(entry.record);
  entry.alive = false;
}

void addResult(Analysis& a, const replResult* record, const char* label) {
  QVD_DETAIL("%s %s -> %s at |%s|", label, record->svrName, record->repl_svrName, record->StartTime);
  replResult* added = insertReplResult(&a.result, record, a.serverInfo);
  if (added == nullptr) QVD_ERROR("%s record for %s could not be kept: no memory", label, record->repl_svrName);
  keepWithinLimit(a);
}

// True when `partner` has a raw record left that starts at `key` or later.
bool recordsFrom(Analysis& a, const char* partner, long key) {
  std::vector<RawEntry>* records = recordsOf(a, partner);
  if (records == nullptr) return false;
  auto it = std::lower_bound(records->begin(), records->end(), key,
                             [](const RawEntry& e, long k) { return e.key < k; });
  for (; it != records->end(); ++it)
    if (it->alive) return true;
  return false;
}

bool beforeStart(const Analysis& a, const VxTimeDate& t) {
  return compare(t, a.request->startDate) == -1;
}

// The same for a record, whose start key is known.
bool recordBeforeStart(const Analysis& a, const replResult* r) {
  return compareTimes(r->startTD, r->startKey, a.request->startDate, a.startKey) == -1;
}

// A hit: added unless it started before the request's start date.
void judgeHit(Analysis& a, RawEntry& entry, bool skipEarly) {
  entry.record->Hit_Miss = kReplHit;
  if (skipEarly && recordBeforeStart(a, entry.record)) {
    QVD_DETAIL("**HIT SKIP** %s at |%s|", entry.record->repl_svrName, entry.record->StartTime);
    removeRaw(a, entry);
  } else {
    keepRaw(a, entry, "**HIT**");
  }
}

// A miss of `schedule` at `slot`.
void judgeMiss(Analysis& a, const replschedule* schedule, const VxTimeDate& slot, bool skipEarly) {
  if (skipEarly && beforeStart(a, slot)) {
    QVD_DETAIL("**MISS SKIP** %s", schedule->dest_svr);
    return;
  }
  long key = timeKey(slot);
  if (beyondLimit(a, key)) {
    a.limit->rowsLeftOut = true;
    return;
  }
  replResult miss = {};
  GetStringFromTimeDate(&slot, miss.StartTime, a.serverInfo);
  memcpy(miss.EndTime, miss.StartTime, sizeof miss.EndTime);
  // Slots fall on whole seconds, so the slot is the time its text shows.
  miss.startTD = slot;
  miss.startKey = key;
  miss.startRead = true;
  copyField(miss.svrName, sizeof miss.svrName, schedule->src_svr);
  copyField(miss.InitiatedBy, sizeof miss.InitiatedBy, schedule->src_svr);
  copyField(miss.repl_svrName, sizeof miss.repl_svrName, schedule->dest_svr);
  miss.Hit_Miss = kReplMiss;
  miss.duration = 0.0;
  addResult(a, &miss, "**MISS**");
}

// The end of a logged replication, from which a repeated range schedules
// its next slot.  An end that is no time, or that comes before the start,
// counts as the start: the next slot never steps back before the record
// (from an unreadable end the walk to the period's end would start at the
// zero time and take millions of steps).
VxTimeDate endOf(const replResult* record, const _ServerInfoBlock* serverInfo) {
  VxTimeDate end;
  if (!ReadDateFromString(record->EndTime, serverInfo, &end) || compare(end, record->startTD) == -1) {
    QVD_DETAIL("End |%s| of the replication with %s at |%s| is not after its start; its start is used",
               record->EndTime, record->repl_svrName, record->StartTime);
    return record->startTD;
  }
  return end;
}

bool addMinutes(VxTimeDate* t, int minutes) { return QVD_VxTimeAdjust(t, 0, minutes, 0, 0, 0, 0) == 0; }

void processReplOneTime(Analysis& a, const replschedule* schedule, const VxTimeDate& start,
                        const VxTimeDate& end) {
  std::vector<RawEntry>* records = recordsOf(a, schedule->dest_svr);
  bool hit = false;
  if (records != nullptr) {
    long limitKey = timeKey(start) + kOneTimeWindow + 1;
    for (size_t i = firstFrom(*records, start); i < records->size(); ++i) {
      RawEntry& e = (*records)[i];
      if (e.key > limitKey) break;
      if (!e.alive) continue;
      long diff = difference(e.record->startTD, start);
      if (diff >= 0 && diff <= kOneTimeWindow) {
        judgeHit(a, e, true);
        hit = true;
        break;
      }
    }
  }
  if (!hit && compare(start, end) != 1) judgeMiss(a, schedule, start, true);
}

void processReplTimeRangeOneTime(Analysis& a, const replschedule* schedule, const VxTimeDate& start,
                                 const VxTimeDate& end) {
  std::vector<RawEntry>* records = recordsOf(a, schedule->dest_svr);
  bool hit = false;
  if (records != nullptr) {
    for (size_t i = firstFrom(*records, start); i < records->size(); ++i) {
      RawEntry& e = (*records)[i];
      if (!e.alive) continue;
      if (compare(e.record->startTD, end) == 1) break;
      hit = true;
      e.record->Hit_Miss = kReplHit;
      if (recordBeforeStart(a, e.record)) {
        QVD_DETAIL("**HIT SKIP** %s at |%s|", e.record->repl_svrName, e.record->StartTime);
      } else if (!timeDateFallsOnScheduledDay(e.record->startTD, schedule->weekdays)) {
        QVD_DETAIL("logged time weekday not in schedule");
      } else {
        keepRaw(a, e, "**HIT**");
        break;
      }
      removeRaw(a, e);
      break;
    }
  }
  if (!hit && compare(start, end) != 1 && timeDateFallsOnScheduledDay(start, schedule->weekdays))
    judgeMiss(a, schedule, start, true);
}

void processReplTimeRange(Analysis& a, const replschedule* schedule, const VxTimeDate& start,
                          const VxTimeDate& end) {
  const long step = static_cast<long>(schedule->interval) * 60;
  VxTimeDate slot = start;
  std::vector<RawEntry>* records = recordsOf(a, schedule->dest_svr);
  if (records != nullptr) {
    size_t i = firstFrom(*records, slot);
    while (i < records->size()) {
      RawEntry& e = (*records)[i];
      if (!e.alive) {
        ++i;
        continue;
      }
      if (compare(slot, end) != -1) {
        QVD_DETAIL("Passed CurrentTime");
        break;
      }
      if (!timeDateFallsOnScheduledDay(e.record->startTD, schedule->weekdays)) {
        QVD_DETAIL("weekday not in schedule");
        ++i;
        continue;
      }
      long diff = difference(e.record->startTD, slot);
      if (diff >= -kRangeWindow && diff <= kRangeWindow) {
        VxTimeDate next = endOf(e.record, a.serverInfo);
        judgeHit(a, e, true);
        slot = next;
        if (!addMinutes(&slot, schedule->interval)) return;
        ++i;
      } else if (diff < -kRangeWindow) {
        // A record well before the slot: after a long replication the
        // schedule starts again one step after that record ends; a record
        // a whole step or more before the slot is simply passed.
        if (-diff < step) {
          slot = endOf(e.record, a.serverInfo);
          if (!addMinutes(&slot, schedule->interval)) return;
        }
        ++i;
      } else {
        if (timeDateFallsOnScheduledDay(slot, schedule->weekdays)) judgeMiss(a, schedule, slot, true);
        if (diff < step) {
          slot = endOf(e.record, a.serverInfo);
          if (!addMinutes(&slot, schedule->interval)) return;
          ++i;
        } else if (!addMinutes(&slot, schedule->interval)) {
          return;
        }
      }
    }
  }
  // Only misses remain: none is kept once the rows are complete before it.
  while (compare(slot, end) == -1) {
    if (resultFull(a) && beyondLimit(a, timeKey(slot))) {
      a.limit->rowsLeftOut = true;
      return;
    }
    if (timeDateFallsOnScheduledDay(slot, schedule->weekdays)) judgeMiss(a, schedule, slot, true);
    if (!addMinutes(&slot, schedule->interval)) return;
  }
}

// The window of a listed slot: the gap to the next listed time, at most an
// hour.
long listWindow(const VxTimeDate& slot, const TimeListWalker& walker, const _ServerInfoBlock* si) {
  VxTimeDate next = slot;
  if (PeekNextTimeInList(&next, &walker, si) != 0) return 0;
  long gap = difference(next, slot);
  if (gap < 0) gap = -gap;
  return std::min(gap, kOneTimeWindow);
}

void processReplListTime(Analysis& a, const replschedule* schedule, const VxTimeDate& start,
                         const VxTimeDate& end) {
  TimeListWalker walker;
  startTimeList(&walker, schedule->schedule, start, a.serverInfo);
  VxTimeDate slot = start, next = start;
  bool found = false;
  AdjustTimeDateToInterval(&slot, &next, &walker, 0, schedule, a.serverInfo, &found);
  if (!found) {
    QVD_DETAIL("No listed time of |%s| lies in this day's window", schedule->schedule);
    return;
  }
  long window = difference(next, slot);
  if (window < 0) window = -window;
  window = std::min(window, kOneTimeWindow);
  if (window == 0) return;
  bool haveSlot = true;
  auto advance = [&]() {
    if (GetNextTimeInList(&slot, &walker, a.serverInfo) != 0) return false;
    window = listWindow(slot, walker, a.serverInfo);
    return true;
  };
  std::vector<RawEntry>* records = recordsOf(a, schedule->dest_svr);
  if (records != nullptr) {
    size_t i = firstFrom(*records, slot);
    while (i < records->size() && haveSlot) {
      RawEntry& e = (*records)[i];
      if (!e.alive) {
        ++i;
        continue;
      }
      long diff = difference(e.record->startTD, slot);
      if (diff >= 0 && diff <= window) {
        judgeHit(a, e, false);
        ++i;
        haveSlot = advance();
      } else if (diff > window) {
        if (compare(slot, end) == 1) return;
        judgeMiss(a, schedule, slot, false);
        haveSlot = advance();
      } else {
        ++i;
      }
    }
  }
  while (haveSlot && compare(slot, end) != 1) {
    judgeMiss(a, schedule, slot, false);
    haveSlot = advance();
  }
}

int ProcessADay(const VxTimeDate& start, const VxTimeDate& end, Analysis& a,
                const replschedule* schedule) {
  switch (getSchedType(schedule)) {
    case kSchedList: processReplListTime(a, schedule, start, end); break;
    case kSchedOneTime: processReplOneTime(a, schedule, start, end); break;
    case kSchedRangeOnce: processReplTimeRangeOneTime(a, schedule, start, end); break;
    case kSchedRangeRepeat: processReplTimeRange(a, schedule, start, end); break;
    default: break;
  }
  return 0;
}

// True when every time the schedule names can be read (and a repeated
// range repeats forward); otherwise traced.
bool scheduleReadable(const replschedule* schedule, const _ServerInfoBlock* si) {
  int type = getSchedType(schedule);
  int h, m, s, h2, m2, s2;
  bool ok = true;
  if (type == kSchedOneTime) {
    ok = readTimeOfDay(schedule->schedule, &h, &m, &s, si);
  } else if (type == kSchedRangeOnce || type == kSchedRangeRepeat) {
    ok = schedSpansMidnight(schedule, &h, &m, &s, &h2, &m2, &s2, si) >= 0;
    if (ok && type == kSchedRangeRepeat && schedule->interval < 0) {
      QVD_ERROR("Interval %ld of the connection to %s is negative; connection skipped",
                (long)schedule->interval, schedule->dest_svr);
      return false;
    }
  } else if (type == kSchedList) {
    std::string list(schedule->schedule);
    size_t from = 0;
    while (ok && from <= list.size()) {
      size_t semi = list.find(';', from);
      std::string token = list.substr(from, semi == std::string::npos ? std::string::npos : semi - from);
      if (token.find_first_not_of(' ') != std::string::npos)
        ok = readTimeOfDay(token.c_str(), &h, &m, &s, si);
      if (semi == std::string::npos) break;
      from = semi + 1;
    }
  }
  if (!ok)
    QVD_ERROR("Schedule |%s| of the connection to %s cannot be read; connection skipped",
              schedule->schedule, schedule->dest_svr);
  return ok;
}

}  // namespace

bool adjustStartEndTDToSchedule(VxTimeDate* start, VxTimeDate* end, const VxTimeDate& limit,
                                const replschedule* schedule, int first,
                                const _ServerInfoBlock* serverInfo) {
  VxTimeDate s = *start, e = *end;
  int h1, m1, s1, h2, m2, s2;
  bool ok = true;
  switch (getSchedType(schedule)) {
    case kSchedList:
      if (first == 0) {
        QVD_VxTimeAdjust(&s, 0, 0, 0, 1, 0, 0);
        s = setTimeDateTime(s, 0, 0, 0, &ok);
      }
      e = setTimeDateTime(s, 23, 59, 59, &ok);
      break;
    case kSchedOneTime:
      if (!readTimeOfDay(schedule->schedule, &h1, &m1, &s1, serverInfo)) return false;
      if (first != 0) {
        s = setTimeDateTime(s, h1, m1, s1, &ok);
      } else {
        ok = QVD_VxTimeAdjust(&s, 0, 0, 0, 1, 0, 0) == 0;
      }
      e = s;
      QVD_VxTimeAdjust(&e, 0, 0, 1, 0, 0, 0);
      break;
    case kSchedRangeOnce:
    case kSchedRangeRepeat: {
      if (first == 0 && compare(e, limit) != -1) {
        s = e = limit;
        break;
      }
      int spans = schedSpansMidnight(schedule, &h1, &m1, &s1, &h2, &m2, &s2, serverInfo);
      if (spans < 0) return false;
      if (spans == 0) {
        if (first == 0) QVD_VxTimeAdjust(&s, 0, 0, 0, 1, 0, 0);
        VxTimeDate day = s;
        s = setTimeDateTime(day, h1, m1, s1, &ok);
        e = setTimeDateTime(day, h2, m2, s2, &ok);
      } else if (first != 0) {
        VxTimeDate day = s, before = s;
        QVD_VxTimeAdjust(&before, 0, 0, 0, -1, 0, 0);
        s = setTimeDateTime(before, h1, m1, s1, &ok);
        e = setTimeDateTime(day, h2, m2, s2, &ok);
      } else {
        VxTimeDate day = e, after = e;
        QVD_VxTimeAdjust(&after, 0, 0, 0, 1, 0, 0);
        s = setTimeDateTime(day, h1, m1, s1, &ok);
        e = setTimeDateTime(after, h2, m2, s2, &ok);
      }
      break;
    }
    default:
      return false;
  }
  if (compare(s, limit) == 1) s = limit;
  if (compare(e, limit) == 1) e = limit;
  *start = s;
  *end = e;
  return ok;
}

int ConstructReplResult(replResult** result, const replRequest* request, replResult** rawList,
                        const replschedule* schedules, const _ServerInfoBlock* serverInfo,
                        ReplRowLimit* limit, ReplStop* stop) {
  Analysis a;
  a.raw = RewindReplResult(*rawList);
  a.result = *result;
  a.limit = limit;
  a.request = request;
  a.serverInfo = serverInfo;
  a.periodEnd = request->startDate;
  QVD_VxTimeAdjust(&a.periodEnd, 0, 0, 0, 7, 0, 0);
  VxTimeDate now;
  QVD_VxCurrentTime(&now);
  if (compare(a.periodEnd, now) == 1) a.periodEnd = now;
  a.startKey = timeKey(request->startDate);
  a.periodEndKey = timeKey(a.periodEnd);
  for (replResult* r = a.raw; r != nullptr; r = r->next)
    a.byPartner[r->repl_svrName].push_back(RawEntry{r, r->startKey, true});

  for (int type = kSchedList; type <= kSchedRangeRepeat; ++type) {
    for (const replschedule* s = schedules; s != nullptr; s = s->next) {
      if (getSchedType(s) != type || !scheduleReadable(s, serverInfo)) continue;
      VxTimeDate start = request->startDate, end = request->startDate;
      if (!adjustStartEndTDToSchedule(&start, &end, a.periodEnd, s, 1, serverInfo)) continue;
      for (int n = 0; n < kMaxWindows && compare(start, a.periodEnd) == -1; ++n) {
        if (replStopRequested(stop)) {
          free_replResult(RewindReplResult(a.raw));
          free_replResult(RewindReplResult(a.result));
          *rawList = nullptr;
          *result = nullptr;
          return 1;
        }
        // A window judges only slots and replications from its start on:
        // once the rows kept all come before it and no replication with
        // the partner is left from there, this window and every later one
        // of the connection could only add rows that are not kept.
        if (resultFull(a)) {
          long startKey = timeKey(start);
          if (beyondLimit(a, startKey) && !recordsFrom(a, s->dest_svr, startKey)) {
            a.limit->rowsLeftOut = true;
            break;
          }
        }
        if ((type == kSchedList || type == kSchedOneTime) &&
            !timeDateFallsOnScheduledDay(start, s->weekdays)) {
          QVD_DETAIL("This schedule is not set for this weekday.");
        } else {
          int rc = ProcessADay(start, end, a, s);
          if (rc != 0) QVD_ERROR("ProcessADay() failed error = %ld", (long)rc);
        }
        if (!adjustStartEndTDToSchedule(&start, &end, a.periodEnd, s, 0, serverInfo)) break;
      }
    }
  }

  // What no schedule claimed was run by hand.
  for (replResult* r = a.raw; r != nullptr;) {
    replResult* next = r->next;
    r->Hit_Miss = kReplManual;
    if (!recordBeforeStart(a, r) &&
        compareTimes(r->startTD, r->startKey, a.periodEnd, a.periodEndKey) != 1) {
      QVD_DETAIL("**MANUAL** %s -> %s at |%s|", r->svrName, r->repl_svrName, r->StartTime);
      moveReplResult(&a.raw, r, &a.result);
      keepWithinLimit(a);
    } else {
      QVD_DETAIL("**MANUAL SKIP** %s at |%s|", r->repl_svrName, r->StartTime);
      if (a.raw == r) a.raw = next;
      RemoveReplResult(r);
    }
    r = next;
  }
  *rawList = nullptr;
  *result = a.result;
  return 0;
}
