#include "core/availability.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "framework/trace.h"
#include "serverapi/qvd_api.h"
#include "state/globals.h"
#include "util/atomic_file.h"

QVD_TRACE_UNIT("core/availability");

namespace {

// Statuses of VxPingServer that still mean "reachable" once masked.
constexpr VxStatus kMask = 0x3FFF;
constexpr VxStatus kPingAnswered = 0x9DE;
constexpr VxStatus kPingRestricted = 0x9FC;

// Pings `name` once, timing it into `responsetime`.  `list` receives the
// cluster list handle when not null.
VxStatus timedPing(const char* name, VxListHandle* list) {
  QVD_DETAIL("Calling API to ping server %s.", name);
  VxTimeDate start, end;
  QVD_VxCurrentTime(&start);
  VxStatus status = QVD_VxPingServer(name, nullptr, list);
  QVD_VxCurrentTime(&end);
  long seconds = QVD_VxTimeDifference(&end, &start);
  responsetime = seconds;
  QVD_DETAIL("Server %s response time in seconds %ld", name, seconds);
  return status;
}

// Copies list entry `index` into `out` (NUL-terminated, cut to fit).
VxStatus entryText(void* list, uint16_t index, char* out, size_t outSize) {
  char* text = nullptr;
  uint16_t length = 0;
  VxStatus status = QVD_VxListEntryText(list, 0, index, &text, &length);
  out[0] = '\0';
  if (status != 0) return status;
  size_t n = text == nullptr ? 0 : length;
  if (n >= outSize) n = outSize - 1;
  if (n > 0) memcpy(out, text, n);
  out[n] = '\0';
  return 0;
}

// Pings every member of the locked cluster list and returns the cluster
// status.  Entry 0 is the cluster's name.  Returns -1 when *stop was set
// before every member was pinged.
int pingMembers(void* list, const std::atomic<bool>* stop) {
  uint16_t count = QVD_VxListCount(list, 0);
  if (count == 0) return kClusterNone;

  char clusterName[256];
  VxStatus status = entryText(list, 0, clusterName, sizeof clusterName);
  if (status != 0) {
    QVD_ALWAYS("VxListEntryText failed for cluster name, rc:%d", status);
  } else {
    QVD_DETAIL("There are %d Servers, as server %s is a member of the %s cluster.",
               count - 1, server_name, clusterName);
  }

  int reachable = 0;
  for (uint16_t i = 1; i < count; ++i) {
    if (stop != nullptr && stop->load()) return -1;
    char member[256];
    status = entryText(list, i, member, sizeof member);
    if (status != 0) {
      // An unreadable member counts neither way.
      QVD_ALWAYS("VxListEntryText failed for server name, rc:%d", status);
      continue;
    }
    status = timedPing(member, nullptr);
    VxStatus masked = status & kMask;
    if (status == 0 || masked == kPingAnswered || masked == kPingRestricted) {
      QVD_DETAIL("VxPingServer succeeded on server:%s", member);
      ++reachable;
    } else if (QVD_TRACE_ON(TRACE_DETAIL)) {
      char message[256] = "";
      QVD_VxLoadString(0, masked, message, 255);
      QVD_DETAIL("VxPingServer failed on server:%s with rc:%d, Message:%s", member, status, message);
    }
  }
  return clusterStatusFor(count - 1, reachable);
}

}  // namespace

int clusterStatusFor(int members, int reachable) {
  if (reachable == members) return kClusterAllUp;
  if (reachable == 1) return kClusterOneUp;
  if (reachable == 0) return kClusterAllDown;
  return kClusterSomeUp;
}

void pingServerCluster() { pingServerClusterUnless(nullptr); }

bool pingServerClusterUnless(const std::atomic<bool>* stop) {
  QVD_ENTRY();
  int serverStatus = kServerDown;
  int clusterStatus = kClusterNone;
  VxListHandle list = 0;

  VxStatus status = timedPing(server_name, &list);
  VxStatus masked = status & kMask;
  if (status == 0 || masked == kPingAnswered) {
    QVD_DETAIL("VxPingServer succeeded on server:%s", server_name);
    serverStatus = kServerUp;
  } else if (masked == kPingRestricted) {
    serverStatus = kServerRestricted;
  } else {
    char message[256] = "";
    QVD_VxLoadString(0, masked, message, 255);
    QVD_ALWAYS("VxPingServer failed on server:%s with rc:%d, Message:%s", server_name, status,
               message);
  }

  if (list != 0) {
    void* entries = QVD_VxLockObject(list);
    if (entries != nullptr) clusterStatus = pingMembers(entries, stop);
    QVD_VxUnlockObject(list);
    QVD_VxMemFree(list);
    list = 0;
  }

  // A run cut short would report the members it never pinged as down.
  bool complete = clusterStatus >= 0;
  if (complete) createStatusFile(serverStatus, clusterStatus);
  QVD_EXIT(complete ? 1 : 0);
  return complete;
}

void createStatusFile(int serverStatus, int clusterStatus) {
  if (statusFileName[0] == '\0') {
    QVD_ALWAYS("Open failed for status file: %s", statusFileName);
    return;
  }
  // A temporary file beside the real one, created exclusively (never
  // through a link someone left there) and renamed into place in one step.
  // The file keeps the mode it has, so readers of another user keep their
  // access; a new one is made as fopen would make it.
  AtomicFile file(statusFileName, AtomicFile::Ownership::kWherePossible);
  if (!file.open()) {
    QVD_ALWAYS("Open failed for status file: %s", statusFileName);
    QVD_ALWAYS("status file: %s", file.reason().c_str());
    return;
  }
  QVD_DETAIL("Writing server status:%d, cluster status:%d to file:%s", serverStatus,
             clusterStatus, statusFileName);
  char text[32];
  int n = snprintf(text, sizeof text, "%d\n%d\n", serverStatus, clusterStatus);
  if (!file.write(text, static_cast<size_t>(n)) || !file.commit()) {
    QVD_ALWAYS("Write failed for status file: %s, errno=%d", statusFileName, file.error());
    QVD_ALWAYS("status file: %s", file.reason().c_str());
  }
}
