#include "core/switches.h"

#include <strings.h>

#include "framework/services.h"
#include "framework/trace.h"

QVD_TRACE_UNIT("core/switches");

namespace {

bool isOn(const char* text) { return strcasecmp(text, "ON") == 0; }

}  // namespace

bool isLogVdbMonitorEnabled() {
  static const bool enabled = [] {
    const char* value = EnvGet("QVD_LOG_VDB_MONITOR", 0);
    if (value == nullptr || value[0] == '\0') {
      QVD_ALWAYS("QVD_LOG_VDB_MONITOR is not set.");
      return false;
    }
    QVD_ALWAYS("QVD_LOG_VDB_MONITOR(%s) found.  ", value);
    return isOn(value);
  }();
  return enabled;
}

bool isVeloraGroupMonitorEnabled() {
  static const bool enabled = [] {
    const char* value = EnvGet("QVD_VELORA_GROUP_MONITOR", 0);
    if (value == nullptr || value[0] == '\0') {
      QVD_ALWAYS("QVD_VELORA_GROUP_MONITOR is not set.");
      return false;
    }
    QVD_ALWAYS("QVD_VELORA_GROUP_MONITOR (%s) found.", value);
    return isOn(value);
  }();
  return enabled;
}
