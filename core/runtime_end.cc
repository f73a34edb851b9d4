#include "core/runtime_end.h"

#include "addin/addin_stop.h"
#include "core/availability_monitor.h"
#include "core/hooks.h"
#include "core/server_gate.h"
#include "core/slow_table_worker.h"
#include "framework/services.h"
#include "framework/trace.h"
#include "serverapi/qvd_api.h"

QVD_TRACE_UNIT("core/runtime_end");

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
  stopSlowTableWorkers(&deadline);
  stopAvailabilityMonitor(&deadline);
  hookStopDatabaseCheckThread(&deadline);
  hookStopAddInThreads(deadline);
  if (!waitServerGateEmpty(deadline)) {
    QVD_ALWAYS("%d collector thread(s) still inside the server after %u seconds; the server "
               "runtime is left to end with the process",
               threadsInsideServerGate(), kThreadStopWait);
    return false;
  }
  QVD_DETAIL("calling VxTermRuntime...");
  QVD_VxTermRuntime();
  return true;
}
