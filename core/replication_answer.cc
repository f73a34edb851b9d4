#include "core/replication_answer.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "agentlink/cp_client.h"
#include "framework/trace.h"
#include "replication/hit_miss.h"
#include "replication/repl_records.h"
#include "replication/repl_request.h"
#include "replication/repl_time.h"
#include "serverapi/qvd_api.h"
#include "state/globals.h"
#include "stats/catalogue.h"
#include "stats/row_builder.h"

QVD_TRACE_UNIT("core/replication");

namespace {

constexpr size_t kJoinedMax = 1023;

replRequest repl_req;
int initreplreq = 0;
VxTimeDate td;  // start of the next analysis

// Rows reported already whose start is not before td: the next analysis
// finds them again.  A row is known by its partner, its start text and
// whether it is a miss (a slot) or a replication found in the log: one
// found replication may be judged a hit by one analysis and a manual run by
// the next (when its slot lies before the next one's start), and is still
// the same replication; a slot missed first and hit later is news.
using RowIdentity = std::tuple<std::string, std::string, bool>;
struct Reported {
  long startKey;
  size_t count;
};
std::map<RowIdentity, Reported> reportedFromStart;

RowIdentity identityOf(const replResult& r) {
  return RowIdentity(r.repl_svrName, r.StartTime, r.Hit_Miss == kReplMiss);
}

size_t reportedCount() {
  size_t n = 0;
  for (const auto& entry : reportedFromStart) n += entry.second.count;
  return n;
}

// True when `row` is one of the rows reported already; each reported row
// stands for one row of this answer (`unused` holds what is left of them).
bool reportedBefore(const replResult& row, std::map<RowIdentity, size_t>* unused) {
  auto it = unused->find(identityOf(row));
  if (it == unused->end() || it->second == 0) return false;
  --it->second;
  return true;
}

// Moves the start of the next analysis after an answer whose last row is
// `last` (of `reported`, the rows the answer carried, in order): to its
// start when the answer was cut short, else to its end.  Then remembers
// the rows reported at or after the new start.
void settleNextStart(const std::vector<const replResult*>& reported, bool cut) {
  const replResult* last = reported.back();
  VxTimeDate next = last->startTD;
  if (!cut) {
    // The end of the last row whose end can be read: an end that is no
    // time would send the next analysis back to the zero time, where it
    // would stay.
    bool found = false;
    for (auto it = reported.rbegin(); it != reported.rend() && !found; ++it)
      found = ReadDateFromString((*it)->EndTime, GLOBAL_ServerInfoBlock, &next);
    if (!found) return;
  }
  long nextKey = timeKey(next);
  td = next;
  for (auto it = reportedFromStart.begin(); it != reportedFromStart.end();) {
    if (it->second.startKey < nextKey) {
      it = reportedFromStart.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = reported.rbegin(); it != reported.rend() && (*it)->startKey >= nextKey; ++it) {
    auto added = reportedFromStart.emplace(identityOf(**it), Reported{(*it)->startKey, 0});
    ++added.first->second.count;
  }
  if (cut) QVD_DETAIL("Velora_Replication answer cut after %zu rows", reported.size());
}

}  // namespace

char* formatReplDuration(double seconds, char* out) {
  long rounded = seconds >= 0 ? static_cast<long>(seconds + 0.5) : static_cast<long>(seconds - 0.5);
  if (seconds >= 0) QVD_DETAIL("rounded time %ld", rounded);
  snprintf(out, 32, "%ld", rounded);
  return out;
}

char* joinReplTexts(char* const* texts, unsigned count, const char* what, char* out) {
  size_t length = 0;
  out[0] = '\0';
  for (unsigned i = 0; i < count; ++i) {
    size_t entry = strlen(texts[i]);
    if (i > 0) QVD_DETAIL("%s length %ld", what, (long)(length + entry));
    if (length + entry + 1 > kJoinedMax) continue;
    memcpy(out + length, texts[i], entry);
    length += entry;
    out[length++] = ';';
    out[length] = '\0';
  }
  return out;
}

size_t replRowWireSize(const char* const* values, int count) {
  // <in><al> ... </al></in>, and <a v="..."/> per value; an escaped byte
  // takes at most six ("&quot;").
  size_t size = 20;
  for (int i = 0; i < count; ++i) {
    size += 9;
    for (const char* p = values[i]; p != nullptr && *p != '\0'; ++p)
      size += strchr("&'\"<>\n", *p) != nullptr ? 6 : 1;
  }
  return size;
}

int copyReplOption(char* field, size_t size, const char* value, const char* name) {
  field[0] = '\0';
  if (value == nullptr || value[0] == '\0' || strcmp(value, "none") == 0) return 0;
  size_t length = strlen(value);
  if (length < size) {
    memcpy(field, value, length + 1);
    return 0;
  }
  // Too long for the field: whole strings only, a cut one would match
  // other lines than the one configured.
  int left = 0;
  size_t used = 0;
  for (const char* token = value; *token != '\0';) {
    const char* end = strchr(token, ';');
    size_t n = end != nullptr ? static_cast<size_t>(end - token) : strlen(token);
    if (n > 0) {
      size_t need = n + (used > 0 ? 1 : 0);
      if (used + need < size) {
        if (used > 0) field[used++] = ';';
        memcpy(field + used, token, n);
        used += n;
        field[used] = '\0';
      } else {
        QVD_ERROR("%s is longer than %zu characters: the string |%.*s| does not fit with those "
                  "before it and is left out",
                  name, size - 1, (int)n, token);
        ++left;
      }
    }
    if (end == nullptr) break;
    token = end + 1;
  }
  return left;
}

ReplAnswer answerReplication(const char* id, ReplStop* stop) {
  if (initreplreq == 0) {
    QVD_DETAIL("calling VxCurrentTime");
    QVD_VxCurrentTime(&td);
    QVD_DETAIL("after VxCurrentTime");
    QVD_VxTimeAdjust(&td, 0, 0, 0, -1, 0, 0);
    memset(&repl_req, 0, sizeof repl_req);
    repl_req.startDateText[0] = '\0';
    initreplreq = 1;
    copyReplOption(repl_req.includeString, sizeof repl_req.includeString, vaxelloginclude,
                   "QVD_LOG_INCLUDE");
    copyReplOption(repl_req.excludeString, sizeof repl_req.excludeString, vaxellogexclude,
                   "QVD_LOG_EXCLUDE");
    repl_req.useStartDate = 1;
  }
  repl_req.startDate = td;
  // The rows reported already do not count: they are found again and
  // passed over.
  ReplRowLimit limit;
  limit.maxRows = kReplAnswerRows + reportedCount();
  replResult* list = nullptr;
  get_replication_request(&list, repl_req, GLOBAL_ServerInfoBlock, &limit, stop);
  if (stop != nullptr && stop->stopped) {
    // Nothing of it is kept: the next analysis starts where this one did.
    free_replResult(list);
    return ReplAnswer::kStopped;
  }

  std::map<RowIdentity, size_t> unused;
  for (const auto& entry : reportedFromStart) unused[entry.first] = entry.second.count;
  std::vector<const replResult*> reported;
  bool cut = limit.rowsLeftOut;
  size_t bytes = 0;
  static char events[kJoinedMax + 1];
  static char dbInfo[kJoinedMax + 1];
  for (replResult* r = list; r != nullptr; r = r->next) {
    if (reportedBefore(*r, &unused)) {
      QVD_DETAIL("Row for %s at |%s| (Hit_Miss %ld) was reported by an earlier answer",
                 r->repl_svrName, r->StartTime, (long)r->Hit_Miss);
      continue;
    }
    char hitMiss[21];
    char duration[32];
    snprintf(hitMiss, sizeof hitMiss, "%ld", (long)r->Hit_Miss);
    formatReplDuration(r->duration, duration);
    joinReplTexts(r->events.buffer, r->events.count, "events", events);
    joinReplTexts(r->replDBInfo.buffer, r->replDBInfo.count, "dbinfo", dbInfo);
    const char* values[9] = {r->svrName, r->repl_svrName, r->InitiatedBy, r->StartTime,
                             r->EndTime, dbInfo, events, hitMiss, duration};
    size_t size = replRowWireSize(values, 9);
    if (reported.size() == kReplAnswerRows ||
        (!reported.empty() && bytes + size > kReplAnswerBytes)) {
      cut = true;
      break;
    }
    logResults(const_cast<char* const*>(values), Velora_Replication_Column, nullptr, 9,
               "Velora_Replication");
    int rc = cp_SetAttributeValues(values, 9, id);
    if (rc != 0) QVD_ERROR("cp_SetAttributeValues(%s) for Velora_Replication failed: %d", id, rc);
    bytes += size;
    reported.push_back(r);
  }
  if (!reported.empty()) settleNextStart(reported, cut);
  if (QVD_TRACE_ON(TRACE_DETAIL)) {
    char text[81];
    QVD_DETAIL("Velora_Replication answer of %zu rows; the next analysis starts at |%s|",
               reported.size(), GetStringFromTimeDate(&td, text, GLOBAL_ServerInfoBlock));
  }
  free_replResult(list);
  return reported.empty() ? ReplAnswer::kNoRows : ReplAnswer::kRows;
}
