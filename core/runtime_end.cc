#include "core/runtime_end.h"

#include "addin/addin_stop.h"
#include "core/availability_monitor.h"
#include "core/hooks.h"
#include "core/slow_table_worker.h"
#include "framework/services.h"
#include "framework/trace.h"
#include "serverapi/qvd_api.h"
#include "state/server_gate.h"

QVD_TRACE_UNIT("core/runtime_end");

namespace {

// A thread that has left the gate ends within moments; one that is still
// outside it after this long is waiting for the lock file, and is left to
// end by itself (it touches neither vaxel.ini nor the server any more).
constexpr unsigned kGraceSeconds = 5;

struct timespec earlier(const struct timespec& a, const struct timespec& b) {
  if (a.tv_sec != b.tv_sec) return a.tv_sec < b.tv_sec ? a : b;
  return a.tv_nsec < b.tv_nsec ? a : b;
}

}  // namespace

bool endServerRuntime() {
  struct timespec deadline = DeadlineIn(kThreadStopWait);
  // No runtime starts from here on, and a thread waiting for the lock file
  // gives up once it has it.
  closeServerGate();
  // Every thread hears of the stop before the first wait begins, so that
  // they end side by side.
  requestSlowTableWorkersStop();
  requestAvailabilityMonitorStop();
  hookRequestDatabaseCheckStop();
  requestAddInStop();
  // What decides: no thread inside the server.  Then the threads are
  // joined, each given a little longer.
  bool empty = waitServerGateEmpty(deadline);
  struct timespec grace = earlier(deadline, DeadlineIn(kGraceSeconds));
  if (!empty) grace = deadline;
  stopSlowTableWorkers(&grace);
  stopAvailabilityMonitor(&grace);
  hookStopDatabaseCheckThread(&grace);
  hookStopAddInThreads(grace);
  if (!empty) {
    QVD_ALWAYS("%d collector thread(s) still inside the server after %u seconds; the server "
               "runtime is left to end with the process",
               threadsInsideServerGate(), kThreadStopWait);
    return false;
  }
  QVD_DETAIL("calling VxTermRuntime...");
  QVD_VxTermRuntime();
  return true;
}
