// The collector's two optional tables, switched on by environment texts.
//
// Each switch reads its variable once, on the first call, traces what it
// found and caches the answer; later calls return the cached answer without
// reading the environment again.
//
// Thread-safety: safe to call from any thread; the first call is evaluated
// exactly once even when threads race for it.
#ifndef QVD_CORE_SWITCHES_H_
#define QVD_CORE_SWITCHES_H_

// True when QVD_LOG_VDB_MONITOR is "ON" in any letter case: the
// Velora_Replication table is registered and answered.
bool isLogVdbMonitorEnabled();

// True when QVD_VELORA_GROUP_MONITOR is "ON" in any letter case: the
// Velora_Group_Updates table is registered and the group analyzer runs.
bool isVeloraGroupMonitorEnabled();

#endif  // QVD_CORE_SWITCHES_H_
