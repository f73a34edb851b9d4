#include "core/replication_answer.h"

#include <cstdio>
#include <cstring>

#include "agentlink/cp_client.h"
#include "core/globals.h"
#include "framework/trace.h"
#include "replication/repl_records.h"
#include "replication/repl_request.h"
#include "replication/repl_time.h"
#include "serverapi/qvd_api.h"
#include "stats/catalogue.h"
#include "stats/row_builder.h"

QVD_TRACE_UNIT("core/replication");

namespace {

constexpr size_t kJoinedMax = 1023;

replRequest repl_req;
int initreplreq = 0;
VxTimeDate td;  // start of the next analysis

void copyOption(char* field, size_t size, const char* value) {
  field[0] = '\0';
  if (value == nullptr || value[0] == '\0' || strcmp(value, "none") == 0) return;
  snprintf(field, size, "%s", value);
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

bool answerReplication(const char* id) {
  if (initreplreq == 0) {
    QVD_DETAIL("calling VxCurrentTime");
    QVD_VxCurrentTime(&td);
    QVD_DETAIL("after VxCurrentTime");
    QVD_VxTimeAdjust(&td, 0, 0, 0, -1, 0, 0);
    memset(&repl_req, 0, sizeof repl_req);
    repl_req.startDateText[0] = '\0';
    initreplreq = 1;
    copyOption(repl_req.includeString, sizeof repl_req.includeString, vaxelloginclude);
    copyOption(repl_req.excludeString, sizeof repl_req.excludeString, vaxellogexclude);
    repl_req.useStartDate = 1;
  }
  repl_req.startDate = td;
  replResult* list = nullptr;
  get_replication_request(&list, repl_req, GLOBAL_ServerInfoBlock);

  static char events[kJoinedMax + 1];
  static char dbInfo[kJoinedMax + 1];
  for (replResult* r = list; r != nullptr; r = r->next) {
    char hitMiss[21];
    char duration[32];
    snprintf(hitMiss, sizeof hitMiss, "%ld", (long)r->Hit_Miss);
    formatReplDuration(r->duration, duration);
    joinReplTexts(r->events.buffer, r->events.count, "events", events);
    joinReplTexts(r->replDBInfo.buffer, r->replDBInfo.count, "dbinfo", dbInfo);
    const char* values[9] = {r->svrName, r->repl_svrName, r->InitiatedBy, r->StartTime,
                             r->EndTime, dbInfo, events, hitMiss, duration};
    logResults(const_cast<char* const*>(values), Velora_Replication_Column, nullptr, 9,
               "Velora_Replication");
    int rc = cp_SetAttributeValues(values, 9, id);
    if (rc != 0) QVD_ERROR("cp_SetAttributeValues(%s) for Velora_Replication failed: %d", id, rc);
  }
  // The next analysis starts just after the end of the last row whose end
  // can be read: a record that ends when it starts (a miss, a replication
  // known only by its start event) would otherwise be reported again by the
  // next answer.
  replResult* last = list;
  while (last != nullptr && last->next != nullptr) last = last->next;
  for (; last != nullptr; last = last->previous) {
    VxTimeDate end;
    if (ReadDateFromString(last->EndTime, GLOBAL_ServerInfoBlock, &end)) {
      td = end;
      QVD_VxTimeAdjust(&td, 1, 0, 0, 0, 0, 0);
      break;
    }
  }
  bool rows = list != nullptr;
  free_replResult(list);
  return rows;
}
