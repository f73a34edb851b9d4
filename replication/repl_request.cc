#include "replication/repl_request.h"

#include <cstring>
#include <memory>

#include "framework/trace.h"
#include "replication/hit_miss.h"
#include "replication/log_search.h"
#include "replication/raw_compile.h"
#include "replication/repl_time.h"
#include "replication/schedule_reader.h"
#include "replication/text_utils.h"
#include "serverapi/qvd_api.h"

QVD_TRACE_UNIT("replication/request");

namespace {

// Feeds the hits of each replication log document to the compiler.
int compileLogHits(void* context, logresult** hits) {
  RawLogCompiler* compiler = static_cast<RawLogCompiler*>(context);
  for (const logresult* hit = *hits; hit != nullptr; hit = hit->next) compiler->add(*hit);
  return 0;
}

// Gathers event hits in order, with the list's end at hand.
struct EventHits {
  logresult* head = nullptr;
  logresult* tail = nullptr;
  ~EventHits() { free_logResult(head); }
};

int gatherEventHits(void* context, logresult** taken) {
  EventHits* all = static_cast<EventHits*>(context);
  logresult* hits = *taken;
  *taken = nullptr;
  if (all->tail == nullptr) all->head = hits;
  else all->tail->next = hits;
  for (all->tail = hits; all->tail->next != nullptr;) all->tail = all->tail->next;
  return 0;
}

// A search of the log from one day before the period's start, which asks
// `stop` before each document.
logrequest searchFrom(const replRequest& request, const char* nicknames, ReplStop* stop) {
  logrequest search;
  memset(&search, 0, sizeof search);
  copyField(search.form_nicknames, sizeof search.form_nicknames, nicknames);
  search.useStartDate = 1;
  search.startDate = request.startDate;
  QVD_VxTimeAdjust(&search.startDate, 0, 0, 0, -1, 0, 0);
  if (stop != nullptr) {
    search.stopRequested = replStopRequestedBy;
    search.stopContext = stop;
  }
  return search;
}

// True when `stop` ended the analysis; traced once, where it is noticed.
bool endedByStop(const ReplStop* stop, const char* step) {
  if (stop == nullptr || !stop->stopped) return false;
  QVD_DETAIL("replication analysis stopped during %s: no result", step);
  return true;
}

}  // namespace

int AddReplIncExcToStack(const replRequest* request, Stack* stack) {
  int rc = AddStackList(request->includeString, '+', stack);
  if (rc == 0) rc = AddStackList(request->excludeString, '-', stack);
  DumpStack("AddReplIncExcToStack", stack);
  return rc;
}

int get_replication_request(replResult** result, replRequest request,
                            const _ServerInfoBlock* serverInfo, ReplRowLimit* limit,
                            ReplStop* stop) {
  *result = nullptr;
  QVD_VxPathNetConstruct(nullptr, serverInfo->serverNameCanonical, "names.vdb",
                         request.DatabasePath);
  QVD_DETAIL("repl_req.DatabasePath= %s", request.DatabasePath);

  std::unique_ptr<Stack, int (*)(Stack*)> stack(NewStack(), CleanStack);
  if (!stack) {
    QVD_ERROR("could not allocate memory");
    return 1;
  }
  request.stack = stack.get();
  stack->hasIncludeString = request.includeString[0] != '\0' ? 1 : 0;
  stack->hasExcludeString = request.excludeString[0] != '\0' ? 1 : 0;
  QVD_DETAIL("hasIncludeString=%s", stack->hasIncludeString ? "TRUE" : "FALSE");
  QVD_DETAIL("hasExcludeString=%s", stack->hasExcludeString ? "TRUE" : "FALSE");
  int rc = AddReplIncExcToStack(&request, stack.get());
  if (rc != 0) return rc;

  QVD_DETAIL("checking the date");
  rc = settleStartDate(request.useStartDate, request.startDateText, &request.startDate, 7);
  if (rc != 0) return rc;

  replschedule* schedules = nullptr;
  std::unique_ptr<replschedule, void (*)(replschedule*)> holdSchedules(nullptr, free_replSched);
  rc = get_replication_schedule(&schedules, request.DatabasePath, serverInfo, stop);
  holdSchedules.reset(schedules);
  if (endedByStop(stop, "the reading of the connections")) return 1;
  if (rc != 0) {
    QVD_ERROR("could not get replication schedule");
    return rc;
  }
  if (schedules == nullptr) {
    QVD_ERROR("There is no replication schedule returning. ");
    return 1;
  }

  replResult* raw = nullptr;
  struct RawGuard {
    replResult** list;
    ~RawGuard() { free_replResult(RewindReplResult(*list)); }
  } holdRaw{&raw};
  {
    RawLogCompiler compiler(&raw, &request, serverInfo);
    if (!compiler.ok()) {
      QVD_ERROR("CompileRawLogResult() failed error =%ld", 1L);
      return 1;
    }
    logrequest search = searchFrom(request, "replication", stop);
    copyField(search.excludeFields, sizeof search.excludeFields,
              "Form Pathname BytesIn BytesOut $UpdatedBy");
    search.hitSink = compileLogHits;
    search.hitSinkContext = &compiler;
    logresult* none = nullptr;
    rc = get_log_request(&none, search, const_cast<_ServerInfoBlock*>(serverInfo));
    free_logResult(none);
    if (endedByStop(stop, "the search of the replication log documents")) return 1;
    compiler.finish();
    QVD_DETAIL("CompileRawLogResult() returned error=%ld", 0L);
    // A log not written since the period began (572) fails the request
    // too: the answer has no rows and the next one analyses from the same
    // start, so the slots are judged once the log has been written.
    if (rc != 0) {
      QVD_ERROR("get_log_request() failed error=%ld", (long)rc);
      return rc;
    }
  }

  EventHits events;
  logrequest search = searchFrom(request, "Events", stop);
  copyField(search.includeString, sizeof search.includeString, "Starting replication with server");
  copyField(search.includeFields, sizeof search.includeFields, "EventList");
  search.hitSink = gatherEventHits;
  search.hitSinkContext = &events;
  logresult* none = nullptr;
  rc = get_log_request(&none, search, const_cast<_ServerInfoBlock*>(serverInfo));
  free_logResult(none);
  if (endedByStop(stop, "the search of the start events")) return 1;
  if (rc != 0) {
    QVD_ERROR("get_log_request() failed error=%ld", (long)rc);
    return rc;
  }
  rc = CompileRawEventResult(events.head, &raw, &request.startDate, serverInfo, stop);
  if (endedByStop(stop, "the reading of the start events")) return 1;
  if (rc != 0) {
    QVD_ERROR("CompileRawEventResult() failed error =%ld", (long)rc);
    return rc;
  }
  QVD_DETAIL("freeing logResult");

  rc = ConstructReplResult(result, &request, &raw, schedules, serverInfo, limit, stop);
  if (endedByStop(stop, "the judging of the slots")) return 1;
  if (rc != 0) {
    QVD_ERROR("ConstructReplResult() failed error=%ld", (long)rc);
    free_replResult(*result);
    *result = nullptr;
    return rc;
  }
  printreplresult(*result);
  return 0;
}
