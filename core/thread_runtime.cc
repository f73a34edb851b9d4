#include "core/thread_runtime.h"

#include "dbhealth/translog_checker.h"
#include "framework/trace.h"
#include "serverapi/qvd_api.h"

QVD_TRACE_UNIT("core/thread_runtime");

bool startThreadRuntime(const char* thread) {
  int rc = VeloraTransLogChecker::checkAndDisableTransLog();
  if (rc != 0) {
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
    return false;
  }
  if (status != 0) {
    QVD_ALWAYS("%s: VxInitThread failed with rc: %d", thread, (int)status);
    return false;
  }
  return true;
}

void endThreadRuntime() { QVD_VxTermThread(); }
