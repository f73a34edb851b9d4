#include "core/switches.h"

#include <strings.h>

#include "framework/services.h"
#include "framework/trace.h"

QVD_TRACE_UNIT("core/switches");

namespace {

bool isOn(const char* text) { return strcasecmp(text, "ON") == 0; }

// A value that is neither ON nor OFF is probably meant as one of them
// ("yes", "true", "1"): say that the table stays off.
void warnUnlessOnOrOff(const char* name, const char* value, const char* table) {
  if (isOn(value) || strcasecmp(value, "OFF") == 0) return;
  QVD_ALWAYS("Warning: %s value \"%s\" is neither ON nor OFF: the %s table stays off. Set ON to "
             "turn it on, OFF to keep it off.",
             name, value, table);
}

}  // namespace

bool isLogVdbMonitorEnabled() {
  static const bool enabled = [] {
    const char* value = EnvGet("QVD_LOG_VDB_MONITOR", 0);
    if (value == nullptr || value[0] == '\0') {
      QVD_ALWAYS("QVD_LOG_VDB_MONITOR is not set.");
      return false;
    }
    QVD_ALWAYS("QVD_LOG_VDB_MONITOR(%s) found.  ", value);
    warnUnlessOnOrOff("QVD_LOG_VDB_MONITOR", value, "Velora_Replication");
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
    warnUnlessOnOrOff("QVD_VELORA_GROUP_MONITOR", value, "Velora_Group_Updates");
    return isOn(value);
  }();
  return enabled;
}
