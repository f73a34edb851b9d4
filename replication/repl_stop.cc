#include "replication/repl_stop.h"

#include "framework/trace.h"

QVD_TRACE_UNIT("replication/stop");

bool replStopRequested(ReplStop* stop) {
  if (stop == nullptr) return false;
  if (stop->stopped) return true;
  if (stop->requested == nullptr || !stop->requested(stop->context)) return false;
  stop->stopped = true;
  QVD_DETAIL("the replication analysis is asked to stop; it ends without a result");
  return true;
}

bool replStopRequestedBy(void* stop) { return replStopRequested(static_cast<ReplStop*>(stop)); }
