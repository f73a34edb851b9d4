#include "core/thread_runtime.h"

#include "dbhealth/translog_checker.h"
#include "framework/trace.h"
#include "serverapi/qvd_api.h"
#include "state/server_gate.h"

QVD_TRACE_UNIT("core/thread_runtime");

bool startThreadRuntime(const char* thread) {
  // No wait for the lock file once the collector is stopping.
  if (!serverGateOpen()) return false;
  int rc = VeloraTransLogChecker::checkAndDisableTransLog(enterServerGate);
  if (rc == 507) {
    QVD_DETAIL("%s: the collector is stopping; thread runtime not started", thread);
    return false;
  }
  if (rc != 0) {
    leaveServerGate();  // a step after the admission failed
    QVD_ALWAYS("%s: switching the transaction log off failed with %d; thread runtime not started",
               thread, rc);
    return false;
  }
  VxStatus status = QVD_VxInitThread();
  rc = VeloraTransLogChecker::checkAndEnableTransLog();
  if (rc != 0) {
    QVD_ALWAYS("%s: restoring the transaction log failed with %d; thread runtime not started",
               thread, rc);
    if (status == 0) QVD_VxTermThread();
    leaveServerGate();
    return false;
  }
  if (status != 0) {
    QVD_ALWAYS("%s: VxInitThread failed with rc: %d", thread, (int)status);
    leaveServerGate();
    return false;
  }
  return true;
}

void endThreadRuntime() {
  QVD_VxTermThread();
  leaveServerGate();
}
