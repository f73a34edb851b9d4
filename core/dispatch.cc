#include "core/dispatch.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "agentlink/cp_client.h"
#include "core/availability_monitor.h"
#include "core/hooks.h"
#include "core/runtime_end.h"
#include "core/slow_table_worker.h"
#include "framework/services.h"
#include "framework/trace.h"
#include "serverapi/qvd_api.h"
#include "state/globals.h"
#include "stats/catalogue.h"
#include "stats/multi_row.h"
#include "stats/row_builder.h"
#include "stats/snapshot.h"
#include "util/qvd_hash_map.h"

QVD_TRACE_UNIT("core/dispatch");

namespace {

// One snapshot serves every request for this many seconds.
constexpr int32_t kSnapshotLifetime = 30;

// The collector's table of filed requests: request id (the request's own
// text, not copied) to CpRequest.  Distinct from the agent link's table of
// outstanding ids.  Both live under outstandingReqHashLock.
FwLock outstandingReqHashLock;
QVDHashMap* outstandingRequests = nullptr;

// Wake-up from the intake thread.  requestFiled is the predicate: set when
// a request was filed (or the conversation ended) and not yet seen by the
// loop.
pthread_mutex_t dataRequestMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t dataRequestCond;
// The timed wait's deadline comes from TimeGet, which follows the clock that
// never jumps: a wall clock set back would otherwise keep the loop asleep,
// deaf to a stop, for as long as it was set back.
const int dataRequestCondReady = CondInitMonotonic(&dataRequestCond);
bool requestFiled = false;  // guarded by dataRequestMutex

pthread_t intakeThread;
bool intakeStarted = false;

// Most requests filed and not yet taken by a pass.  The intake thread files
// while a pass answers (and the pass may wait for the agent to take its
// answers); past this many it waits for the next pass, so an agent that
// sends without reading cannot make the table grow without end: its own
// sends then wait in turn.
constexpr int kMaxFiledRequests = 10000;
// Set once the loop has ended: it takes no more requests, so the intake
// thread no longer waits for room.
std::atomic<bool> passesEnded{false};

// The loop's ping interval, for the wait hook.  Main thread only.
int loopPingInterval = 0;

// Snapshot clock, in seconds of a clock that never jumps: a wall clock set
// back would otherwise keep an old snapshot (and its "no rows" answers) for
// as long as it was set back.  Main thread only.
int32_t lastStatsTime = 0;

// Number of the current statistics snapshot: moves each time one is
// taken (which also clears every table's freshness).  Main thread only.
long snapshotNumber = 0;

int32_t nowSeconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (int32_t)now.tv_sec;
}

// Marks a filed request for the dispatch loop and, with `wake`, wakes it.
// Any thread.
void signalDispatch(bool wake = true) {
  int rc = pthread_mutex_lock(&dataRequestMutex);
  if (rc != 0) {
    QVD_ERROR("Error: mutex lock failed with %d", rc);
    return;
  }
  requestFiled = true;
  QVD_DETAIL("cp_WaitForRequest dataRequestMutex signal condition to main");
  if (wake) {
    rc = pthread_cond_signal(&dataRequestCond);
    if (rc != 0) QVD_ERROR("Error: condition signal failed with %d", rc);
  }
  rc = pthread_mutex_unlock(&dataRequestMutex);
  if (rc != 0) QVD_ERROR("Error: mutex unlock failed with %d", rc);
}

// Set by the intake thread when it filed requests without waking the loop;
// intake thread only.
bool wakeOwed = false;

// Called by the agent link before the intake thread blocks for the next
// request: the requests of a burst that arrived together are all filed by
// then, and one wake-up serves them all.
void wakeIfOwed(void*) {
  if (!wakeOwed) return;
  wakeOwed = false;
  int rc = pthread_mutex_lock(&dataRequestMutex);
  if (rc != 0) {
    QVD_ERROR("Error: mutex lock failed with %d", rc);
    return;
  }
  rc = pthread_cond_signal(&dataRequestCond);
  if (rc != 0) QVD_ERROR("Error: condition signal failed with %d", rc);
  rc = pthread_mutex_unlock(&dataRequestMutex);
  if (rc != 0) QVD_ERROR("Error: mutex unlock failed with %d", rc);
}

// Returns once the request table has room for one more request (or the
// loop has ended).  Intake thread; REQUIRES: outstandingReqHashLock held; it
// is released while waiting.
void waitForRoomLocked() {
  while (outstandingRequests->getCount() >= kMaxFiledRequests && !passesEnded.load()) {
    LockRelease(&outstandingReqHashLock);
    // Rare (a pass waits for an agent that does not read): polled.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    LockGet(&outstandingReqHashLock);
  }
}

// Ends the conversation from the intake thread.
void endConversation() {
  qvdShutdown = true;
  cp_CloseConnection();
  signalDispatch();
}

// ---------------------------------------------------------------------------
// Dispatch table
// ---------------------------------------------------------------------------

// When a group's rows are built.
enum class When {
  kSnapshotAndFresh,  // a snapshot exists and the group is fresh
  kFresh,             // the group is fresh, snapshot or not
  kAddInAndFresh,     // the snapshot has an add-in part and the group is fresh
  kAlways,            // every request
};

// Which code builds them.
enum class Builder {
  kSingleRow,
  kTasks,
  kMailByDest,
  kMailByDest64,
  kReplication,
  kCorruptFailover,
  kDbWhitespace,
  kGroupUpdates,
  kAddIn,
};

// Kilobyte counters updated after a build.
enum class Counters { kNone, kTcpip, kSmtp };

struct Route {
  const char* group;
  When when;
  Builder builder;
  Counters counters;
};

constexpr Route kRoutes[] = {
    {"Velora_Calendar", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_Calendar64", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_LDAP", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_LDAP64", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_MAIL", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_MAIL64", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_NET_TCPIP", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_NET_TCPIP64", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kTcpip},
    {"Velora_Replica_Cluster", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_Replica_Cluster64", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_Command", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_Web_Retriever", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_Server", When::kFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_Server64", When::kFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_Server_Cluster", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_ICM", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_ICM64", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_Database", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_Database64", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_Mail_By_Dest", When::kSnapshotAndFresh, Builder::kMailByDest, Counters::kNone},
    {"Velora_Mail_By_Dest64", When::kSnapshotAndFresh, Builder::kMailByDest64, Counters::kNone},
    {"Velora_SMTP", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_SMTP64", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kSmtp},
    {"Velora_IMAP", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_IMAP64", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_Agent", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_Replica", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_Replica64", When::kSnapshotAndFresh, Builder::kSingleRow, Counters::kNone},
    {"Velora_Tasks", When::kSnapshotAndFresh, Builder::kTasks, Counters::kNone},
    {"Velora_Replication", When::kFresh, Builder::kReplication, Counters::kNone},
    {"Velora_Corrupt_Failover_DB", When::kAlways, Builder::kCorruptFailover, Counters::kNone},
    {"Velora_DB_Whitespace", When::kAlways, Builder::kDbWhitespace, Counters::kNone},
    {"Velora_Group_Updates", When::kAlways, Builder::kGroupUpdates, Counters::kNone},
    {"MV_View_Performance_Statistics", When::kAddInAndFresh, Builder::kAddIn, Counters::kNone},
    {"MV_Replication_Statistics", When::kAddInAndFresh, Builder::kAddIn, Counters::kNone},
    {"MV_Replication_Delay_Statistics", When::kAddInAndFresh, Builder::kAddIn, Counters::kNone},
    {"MV_Mail_Size_Statistics", When::kAddInAndFresh, Builder::kAddIn, Counters::kNone},
    {"MV_Mail_Domain_Statistics", When::kAddInAndFresh, Builder::kAddIn, Counters::kNone},
    {"MV_Mail_Incoming_Statistics", When::kAddInAndFresh, Builder::kAddIn, Counters::kNone},
    {"MV_Mail_Outgoing_Statistics", When::kAddInAndFresh, Builder::kAddIn, Counters::kNone},
};

const Route* routeFor(const QvdTableDescriptor* table) {
  for (const Route& route : kRoutes)
    if (strcmp(route.group, table->groupName) == 0) return &route;
  return nullptr;
}

void updateCounters(Counters counters, const QvdTableDescriptor* table) {
  // Only a row built from this snapshot leaves valid slots: without one the
  // slots may still point into an earlier, freed snapshot.
  if (counters == Counters::kNone || table->values[0] == nullptr) return;
  storeKilobyteCounters(table->groupName, table->values);
}

// Whether the rule of `route` gives `table` rows now.
bool rowsDue(const QvdTableDescriptor* table, const Route& route) {
  bool fresh = table->values[0] == nullptr;
  switch (route.when) {
    case When::kSnapshotAndFresh: return pStatBuffer != nullptr && fresh;
    case When::kFresh: return fresh;
    case When::kAddInAndFresh: return pMvStats != nullptr && fresh;
    case When::kAlways: return true;
  }
  return false;
}

// Builders of the tables whose answers may take long (they read the
// server's logs or directory); such tables are answered by a worker of
// their own (core/slow_table_worker.h).
// The result says whether rows were added (it decides the replication
// table's freshness; the group updates are built for every request).  The
// replication analysis, which can run long, ends early once the workers
// are stopping; the group updates take one directory lookup and are not
// cut short.
SlowBuild replicationRows(const char* id) {
  ReplStop stop;
  stop.requested = [](void*) { return slowTableWorkersStopping(); };
  switch (hookAnswerReplication(id, &stop)) {
    case ReplAnswer::kRows: return SlowBuild::kRows;
    case ReplAnswer::kStopped: return SlowBuild::kAbandoned;
    case ReplAnswer::kNoRows: break;
  }
  return SlowBuild::kNoRows;
}
SlowBuild groupUpdateRows(const char* id) {
  hookAnswerGroupUpdates(id);
  return SlowBuild::kRows;
}
SlowTableBuilder slowBuilder(Builder builder) {
  switch (builder) {
    case Builder::kReplication: return replicationRows;
    case Builder::kGroupUpdates: return groupUpdateRows;
    default: return nullptr;
  }
}

// Adds the rows of `table` for request `id` (none when the rule says so).
void buildRows(const QvdTableDescriptor* table, const Route& route, char* id) {
  if (!rowsDue(table, route)) return;
  switch (route.builder) {
    case Builder::kSingleRow:
      Parse_Velora_Data(id, table->groupName, table->values, table->columnCount,
                        const_cast<char**>(table->keywords), const_cast<char**>(table->columns));
      updateCounters(route.counters, table);
      break;
    case Builder::kTasks: Parse_Velora_Tasks(id); break;
    case Builder::kMailByDest: Parse_Velora_Mail_By_Dest(id); break;
    case Builder::kMailByDest64: Parse_Velora_Mail_By_Dest64(id); break;
    case Builder::kReplication:
      // The replication rows live in buffers of the answer's own; the slot
      // only marks the table as answered for this snapshot.
      if (hookAnswerReplication(id) == ReplAnswer::kRows) table->values[0] = server_name;
      break;
    case Builder::kCorruptFailover: hookAnswerCorruptFailover(id); break;
    case Builder::kDbWhitespace: hookAnswerDbWhitespace(id); break;
    case Builder::kGroupUpdates: hookAnswerGroupUpdates(id); break;
    case Builder::kAddIn: hookAnswerAddInTable(table->groupName, id); break;
  }
}

// Answers of the current pass not yet on the wire (held by the agent link
// so that a pass writes them in one go).  Main thread only; the vector keeps
// its capacity from pass to pass.
struct HeldAnswer {
  const char* id;
  const char* group;
};
std::vector<HeldAnswer> heldAnswers;

// Set when an answer could not be written: the connection is gone or given
// up, so no later answer can reach the agent either.  The rest of that pass
// and every later request is released unanswered.  Main thread only.
bool answersLost = false;

// Sends the answers held so far; with `holdMore` the answers that follow
// are held again.  A failed write is traced for each answer it carried, as
// a failed cp_SendData would have been.
void sendHeldAnswers(bool holdMore) {
  int rc = cp_ReleaseAnswers();
  if (rc == CP_ERR_WRITE) {
    for (const HeldAnswer& a : heldAnswers) QVD_ERROR("cp_SendData(%s) for %s failed: %d", a.id, a.group, rc);
    answersLost = true;
  }
  heldAnswers.clear();
  if (holdMore) cp_HoldAnswers();
}

// Takes or reuses the snapshot for the request at hand.
void refreshSnapshot() {
  int32_t now = nowSeconds();
  int32_t age = now - lastStatsTime;
  int status = 0;
  if (age >= kSnapshotLifetime) {
    QVD_DETAIL("%s statistics buffer cache expired at %d seconds", server_name, age);
    // Answers already built must not wait for the server.
    sendHeldAnswers(true);
    lastStatsTime = now;
    ++snapshotNumber;
    status = queryStats();
  } else {
    QVD_DETAIL("%s statistics buffer cache hit at %d seconds", server_name, age);
  }
  if (pStatBuffer == nullptr || status != 0) {
    QVD_DETAIL("Skipping processing of request, no statistical data found...");
    freeStats();
    lastStatsTime = now - kSnapshotLifetime;  // the next request tries again
  }
}

// A request of a slow table taken for its worker in the current pass.  It
// is handed over once the pass has removed it from the request table, so
// that the worker, which releases it, never frees a request still filed.
struct HandOver {
  CpRequest* request;
  const char* group;
  SlowTableBuilder build;
  bool everyRequest;
  long snapshot;
};
// Main thread only; keeps its capacity from pass to pass.
std::vector<HandOver> handOvers;

// Takes the request of a slow table for that table's worker; false when
// the table is not slow or has no worker.
bool takeForWorker(const QvdTableDescriptor* table, const Route& route, CpRequest* request) {
  SlowTableBuilder build = slowBuilder(route.builder);
  if (build == nullptr || !slowTableWorkerReady(table->groupName)) return false;
  handOvers.push_back({request, table->groupName, build, route.when == When::kAlways, snapshotNumber});
  return true;
}

bool takenForWorker(const CpRequest* request) {
  for (const HandOver& h : handOvers)
    if (h.request == request) return true;
  return false;
}

// Files a request that a worker could not take or answer again, for the
// next pass.  REQUIRES: outstandingReqHashLock held.  False when it could
// not be filed (it is then released unanswered and its id dropped).
bool refileLocked(CpRequest* request) {
  bool stored = outstandingRequests != nullptr && !outstandingRequests->contains(request->id) &&
                outstandingRequests->put(request->id, request);
  if (!stored) {
    QVD_ERROR("request id=%s could not be filed again; dropped", request->id);
    cp_DropRequest(request->id);
    cp_FreeRequest(request);
  }
  return stored;
}

// A worker whose runtime did not start gives its requests back (on its own
// thread); the next pass answers them on the dispatch thread.
void giveBackToDispatch(CpRequest* request) {
  LockGet(&outstandingReqHashLock);
  bool stored = refileLocked(request);
  LockRelease(&outstandingReqHashLock);
  if (stored) signalDispatch();
}

// Hands the requests taken in this pass to their workers.  Takes
// outstandingReqHashLock to file one again; REQUIRES: not held.
void handOverTaken() {
  bool refiled = false;
  for (const HandOver& h : handOvers) {
    if (handToSlowTableWorker(h.group, h.build, h.everyRequest, h.snapshot, h.request)) continue;
    if (slowTableWorkersStopping()) {
      // Unanswered, like the requests left filed at shutdown.
      cp_DropRequest(h.request->id);
      cp_FreeRequest(h.request);
    } else {
      // The worker failed to start since the request was taken: the next
      // pass answers it here.  The intake thread, and the worker giving
      // back what it had taken, file requests meanwhile.
      LockGet(&outstandingReqHashLock);
      refiled = refileLocked(h.request) || refiled;
      LockRelease(&outstandingReqHashLock);
    }
  }
  handOvers.clear();
  if (refiled) signalDispatch();
}

// Answers one filed request.  Returns true when it was taken for a worker,
// which then answers and releases it.
bool answer(CpRequest* request) {
  const QvdTableDescriptor* table = findTableDescriptorByToken(request->handle);
  QVD_DETAIL("Main(%s) received request type=%d for handle=%s id=%s", server_name, request->type,
             table ? table->groupName : "(unknown)", request->id);
  refreshSnapshot();
  const Route* route = table ? routeFor(table) : nullptr;
  // MV_Server rows travel as events: its requests, like those of an
  // unknown token, get no answer.  Their ids are released in the agent link
  // all the same, or each would stay outstanding for the life of the process.
  if (route == nullptr) {
    cp_DropRequest(request->id);
    return false;
  }
  if (takeForWorker(table, *route, request)) return true;
  // The replication analysis reads the server's logs: what is built already
  // goes out first.
  if (route->builder == Builder::kReplication) sendHeldAnswers(true);
  buildRows(table, *route, request->id);
  int rc = cp_SendData(request->id);
  if (rc != 0) {
    QVD_ERROR("cp_SendData(%s) for %s failed: %d", request->id, table->groupName, rc);
    // Nothing was sent and the request is released after this pass: its id
    // would otherwise stay outstanding.
    if (rc == CP_ERR_MEMORY) cp_DropRequest(request->id);
    if (rc == CP_ERR_WRITE) answersLost = true;
  } else {
    heldAnswers.push_back({request->id, table->groupName});
  }
  return false;
}

// The requests of the current pass, taken out of the table.  Main thread
// only; keeps its capacity from pass to pass.
std::vector<CpRequest*> passRequests;

// Takes every filed request out of the table into passRequests, in the
// table's order.
void takeFiledRequests() {
  passRequests.clear();
  LockGet(&outstandingReqHashLock);
  for (QVDHashMapIterator it(outstandingRequests); it.hasNext();) {
    it.next();
    passRequests.push_back(static_cast<CpRequest*>(const_cast<void*>(it.getData())));
  }
  outstandingRequests->clear();
  LockRelease(&outstandingReqHashLock);
}

// Answers the requests filed so far.  They are taken out of the table
// first, and answered without its lock: answering waits for the agent to
// take the answers, and meanwhile the intake thread must go on reading (the
// agent's shutdown notice, or the end of the connection).
void tablePass() {
  QVD_DETAIL("checking hash table for requests...");
  takeFiledRequests();
  bool lostBefore = answersLost;
  // The answers of one pass leave together, in one write when they fit,
  // instead of one small write each; they leave before the requests are
  // released and before the pass ends, so none waits for a later pass.
  if (!passRequests.empty() && !lostBefore) cp_HoldAnswers();
  size_t answered = 0;
  for (; answered < passRequests.size() && !answersLost; ++answered) answer(passRequests[answered]);
  if (!lostBefore) sendHeldAnswers(false);
  if (answered < passRequests.size()) {
    // The conversation is ending (the intake thread or the loop sees it
    // shortly); said once, when it happens.
    if (lostBefore) {
      QVD_DETAIL("%zu requests released unanswered: the answers cannot be sent to the agent",
                 passRequests.size() - answered);
    } else {
      QVD_ERROR("%zu requests left unanswered: the answers cannot be sent to the agent",
                passRequests.size() - answered);
    }
  }
  for (CpRequest* request : passRequests)
    if (!takenForWorker(request)) cp_FreeRequest(request);
  passRequests.clear();
  handOverTaken();
}

// Waits up to one second for a filed request.
void timedWait() {
  (void)dataRequestCondReady;
  int rc = pthread_mutex_lock(&dataRequestMutex);
  if (rc != 0) {
    // Waiting on a condition without its mutex is undefined; pace the loop
    // instead.
    QVD_ERROR("Error: mutex lock failed with %d", rc);
    SleepSeconds(1);
    return;
  }
  struct timespec deadline;
  TimeGet(&deadline);
  deadline.tv_sec += 1;
  QVD_DETAIL("dataRequestCond timed wait");
  int reason = 0;
  while (!requestFiled && reason == 0) {
    errno = ETIMEDOUT;
    reason = pthread_cond_timedwait(&dataRequestCond, &dataRequestMutex, &deadline);
    if (reason == -1) reason = errno;
  }
  if (requestFiled) {
    requestFiled = false;
    QVD_DETAIL("Received dataRequestCond from waitForRequest thread");
  } else if (reason == EAGAIN) {
    errno = ETIMEDOUT;
    QVD_DETAIL("Time out(EAGAIN) on dataRequestCond with %d", errno);
  } else if (reason == ETIMEDOUT) {
    errno = ETIMEDOUT;
    QVD_DETAIL("Time out(ETIMEDOUT) on dataRequestCond with %d", errno);
  } else if (reason == ETIME) {
    errno = ETIMEDOUT;
    QVD_DETAIL("Time out(ETIME) on dataRequestCond with %d", errno);
  } else if (reason == EINTR) {
    errno = ETIMEDOUT;
    QVD_DETAIL("Time out(EINTR) on dataRequestCond with %d", errno);
    errno = 0;
  }
  rc = pthread_mutex_unlock(&dataRequestMutex);
  if (rc != 0) QVD_ERROR("Error: mutex unlock failed with %d", rc);
}

// True when the loop has to end; remembers what the server said.
bool askedToEnd() {
  if (qvdShutdown) return true;
  addInShutdown = QVD_VxShouldTerminate();
  return addInShutdown != 0;
}

// Called by the agent link about once a second while a send of the
// dispatch thread waits for the agent: the loop's own duties go on as if
// the loop were idle, each call counting as one pass.  The availability
// checks keep their cadence, and a request to end (the server's, or the
// agent's end) stops the wait: non-zero makes the link give the send up.
int whileSendWaits(void*) {
  if (askedToEnd()) return 1;
  if (!availabilityCheckDue(loopPingInterval)) return 0;
  QVD_DETAIL("Velora Server and Cluster status cycle");
  runAvailabilityCheck();
  return askedToEnd() ? 1 : 0;
}

int shutDown() {
  // Decided first: closing the link ends the intake thread, which then
  // marks the conversation as ended by the agent.
  int status = qvdShutdown ? 30 : 31;
  // From here the end never waits for the agent to read: a send gets at
  // most one more second, and the intake thread no longer waits for room.
  passesEnded.store(true);
  cp_BeginShutdown();
  // No thread may be inside the server when its runtime ends.
  endServerRuntime();
  stopRequestIntake();
  free(GLOBAL_ServerInfoBlock);
  GLOBAL_ServerInfoBlock = nullptr;
  hookGroupAnalyzerClose();

  QVD_ALWAYS("Shutting down qvdclient with rc=%d for Velora Server: %s...", status, server_name);
  return status;
}

}  // namespace

void resetStatsClock() { lastStatsTime = nowSeconds() - kSnapshotLifetime; }

void stopRequestIntake() {
  // When the server ended the run, the intake thread may still be receiving
  // and filing requests.  Closing the link releases it from the wait; once
  // it has been joined, no other thread files requests (a worker that gives
  // one back later finds no table and releases it).
  cp_CloseConnection();
  if (intakeStarted) pthread_join(intakeThread, nullptr);
  intakeStarted = false;
  LockGet(&outstandingReqHashLock);
  if (outstandingRequests != nullptr) {
    // Requests still filed are not answered, but they are released.
    for (QVDHashMapIterator it(outstandingRequests); it.hasNext();) {
      it.next();
      cp_FreeRequest(static_cast<CpRequest*>(const_cast<void*>(it.getData())));
    }
    delete outstandingRequests;
    outstandingRequests = nullptr;
  }
  LockRelease(&outstandingReqHashLock);
}

int startRequestIntake() {
  setSlowTableGiveBack(giveBackToDispatch);
  LockGet(&outstandingReqHashLock);
  outstandingRequests = new QVDHashMap();
  LockRelease(&outstandingReqHashLock);
  int rc = pthread_create(&intakeThread, nullptr, waitForRequest, nullptr);
  if (rc != 0) {
    LockGet(&outstandingReqHashLock);
    delete outstandingRequests;
    outstandingRequests = nullptr;
    LockRelease(&outstandingReqHashLock);
    return rc;
  }
  intakeStarted = true;
  return 0;
}

void* waitForRequest(void*) {
  QVD_ALWAYS("Started wait for request thread %lx", (unsigned long)pthread_self());
  for (;;) {
    QVD_DETAIL("cp_WaitForRequest for Velora Server: %s", server_name);
    CpRequest* request = nullptr;
    int rc = cp_WaitForRequestNotify(&request, wakeIfOwed, nullptr);
    if (rc != 0) {
      QVD_ALWAYS("Error: cp_WaitForRequest failed with %d", rc);
      cp_FreeRequest(request);
      endConversation();
      QVD_ALWAYS("Shuting down");
      break;
    }
    if (request->type == CP_REQ_DATA && request->id == nullptr) {
      QVD_ERROR("data request without an id; dropped");
      cp_FreeRequest(request);
    } else if (request->type == CP_REQ_DATA) {
      const QvdTableDescriptor* table = findTableDescriptorByToken(request->handle);
      QVD_DETAIL("cp_WaitForRequest(%s) got request type=%d for handle=%s id=%s", server_name,
                 request->type, table ? table->groupName : "(unknown)", request->id);
      LockGet(&outstandingReqHashLock);
      waitForRoomLocked();
      QVD_DETAIL("cp_WaitForRequest saving request in hash table using id=%s", request->id);
      bool duplicate = outstandingRequests->contains(request->id);
      bool stored = !duplicate && outstandingRequests->put(request->id, request);
      LockRelease(&outstandingReqHashLock);
      if (!stored) {
        // The id is already filed (the agent link skips reused ids, so this
        // is a safeguard) or the table is out of memory: keeping the
        // request would orphan the filed one or leak this one.  Only in the
        // second case is the id this request's to release.
        QVD_ERROR("request id=%s could not be filed; dropped", request->id);
        if (!duplicate) cp_DropRequest(request->id);
        cp_FreeRequest(request);
        continue;
      }
      // The wake-up waits until the agent link is about to block, that is
      // until every request already received is filed.
      signalDispatch(false);
      wakeOwed = true;
    } else if (request->type == CP_REQ_SHUTDOWN) {
      QVD_ALWAYS("waitForRequest received shutdown notification...");
      cp_FreeRequest(request);
      endConversation();
      break;
    } else if (request->type == CP_REQ_TASK) {
      // The collector runs no tasks; an unanswered task would keep its id
      // outstanding in the agent link, and the agent waiting, forever.
      int rc2 = cp_SendTaskRC(-1, request->id);
      if (rc2 != 0) QVD_ERROR("cp_SendTaskRC(%s) failed: %d", request->id, rc2);
      cp_FreeRequest(request);
    } else {
      // Start and stop notices need nothing from the collector.
      cp_FreeRequest(request);
    }
  }
  QVD_ALWAYS("waitForRequest exiting...");
  return nullptr;
}

int runDispatchLoop(int pingInterval) {
  QVD_ENTRY();
  loopPingInterval = pingInterval;
  cp_SetSendWaitHook(whileSendWaits, nullptr);
  for (;;) {
    if (askedToEnd()) break;
    // The check runs on every (pingInterval + 1)th pass, on its own thread.
    if (availabilityCheckDue(pingInterval)) {
      QVD_DETAIL("Velora Server and Cluster status cycle");
      runAvailabilityCheck();
      if (askedToEnd()) {
        QVD_ALWAYS("pingServerCluster caught shutdown...");
        break;
      }
    }
    timedWait();
    if (askedToEnd()) {
      QVD_ALWAYS("timedwait wakeup caught shutdown...");
      break;
    }
    tablePass();
  }
  int status = shutDown();
  QVD_EXIT(status);
  return status;
}
