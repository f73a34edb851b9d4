#include "addin/event_collector.h"

#include <pthread.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "addin/addin_threads.h"
#include "addin/client_socket.h"
#include "addin/connection_peer.h"
#include "addin/server_socket.h"
#include "agentlink/cp_client.h"
#include "framework/trace.h"
#include "state/globals.h"
#include "state/process.h"
#include "stats/catalogue.h"

QVD_TRACE_UNIT("addin/events");

namespace {

constexpr char kRelay[] = "qvdmvevent";
constexpr unsigned kRelayStartPause = 10;
constexpr int kChannelError = 1000;

// Starts the relay.  A relay program that is not there or cannot be run
// counts as not started: a child whose program cannot be run would end at
// once, and the relay would be started again and again without the agent
// ever hearing of it.
bool startRelay() {
  char path[292];
  snprintf(path, sizeof path, "%s/%s/vd/bin/%s", halcyon_home ? halcyon_home : "",
           binArch ? binArch : "", kRelay);
  if (access(path, X_OK) != 0) {
    QVD_ERROR("Error: %s cannot be run: errno=%d", path, errno);
    return false;
  }
  return startProcess(kRelay, &mveventpid, nullptr);
}

void collectEndedChildren() {
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

// Event error 1000 once per outage: when a failure begins, not again while
// the same failure repeats; a success ends the outage.
class OutageReport {
 public:
  void failed() {
    if (reported_) return;
    cp_SendEventError(kChannelError, MV_Server_Handle);
    reported_ = true;
  }
  void recovered() { reported_ = false; }

 private:
  bool reported_ = false;
};

class EventCollector {
 public:
  explicit EventCollector(AddInPace& pace) : pace_(pace), self_((unsigned long)pthread_self()) {}
  void run();

 private:
  // Starts the relay at place `which` of the thread (1 at start, 2 after a
  // failed connection, 3 after an ended one), retrying after the pause
  // while it fails.  False: stop.
  bool startRelayRetrying(int which);
  // Opens the listening socket, retrying after the pause while it fails.
  // False: stop.
  bool openRetrying(ServerSocket* server);
  bool stopping() {
    if (!pace_.stopping()) return false;
    QVD_ALWAYS("collectMVEvent %lx shutting down...", self_);
    return true;
  }
  // The accept check: keep waiting for the relay's connection while the
  // relay runs and no stop is requested.  A relay that ended without
  // connecting will not connect any more.
  static bool relayMayConnect(void* self);
  // The peer check: only the relay started last may send events.
  static bool fromRelay(int descriptor, void* self);

  AddInPace& pace_;
  unsigned long self_;
  OutageReport relayOutage_;
};

bool EventCollector::relayMayConnect(void* self) {
  if (static_cast<EventCollector*>(self)->pace_.stopping()) return false;
  pid_t pid = static_cast<pid_t>(mveventpid);
  if (pid <= 0) return true;
  return waitpid(pid, nullptr, WNOHANG) == 0;
}

bool EventCollector::fromRelay(int descriptor, void*) {
  ConnectionPeer peer;
  if (connectionMadeBy(descriptor, mveventpid, &peer)) {
    QVD_DETAIL("Connection from port %d made by process %ld of the relay %ld", peer.port, peer.pid,
               mveventpid);
    return true;
  }
  if (peer.inode == 0) {
    QVD_ERROR("Connection on the event port from port %d refused: its socket is not found "
              "(not the relay %ld)", peer.port, mveventpid);
  } else {
    QVD_ERROR("Connection on the event port from port %d refused: its socket (owner uid %ld) "
              "is not held by the relay %ld", peer.port, peer.uid, mveventpid);
  }
  return false;
}

bool EventCollector::startRelayRetrying(int which) {
  while (!startRelay()) {
    relayOutage_.failed();
    QVD_ALWAYS("startProcess%d failed for qvdmvevent, collectMVEvent %lx retrying in %u seconds...",
               which, self_, kRelayStartPause);
    pace_.sleep(kRelayStartPause);
    if (stopping()) return false;
  }
  relayOutage_.recovered();
  QVD_ALWAYS("Started%d qvdmvevent with pid:%ld", which, mveventpid);
  return true;
}

bool EventCollector::openRetrying(ServerSocket* server) {
  bool reported = false;
  while (!server->open(0, nullptr)) {
    if (!reported) cp_SendEventError(kChannelError, MV_Server_Handle);
    reported = true;
    QVD_ALWAYS("Server socket could not be opened, collectMVEvent %lx retrying in %u seconds...",
               self_, kRelayStartPause);
    pace_.sleep(kRelayStartPause);
    if (stopping()) return false;
  }
  return true;
}

void EventCollector::run() {
  QVD_ALWAYS("Started MV Event thread %lx", self_);
  if (!startRelayRetrying(1)) return;
  pace_.sleep(kRelayStartPause);
  if (stopping()) return;

  ServerSocket server;
  if (!openRetrying(&server)) return;
  server.setAcceptCheck(relayMayConnect, this);
  server.setPeerCheck(fromRelay, this);
  setAddInEventServer(&server);
  QVD_ALWAYS("Server socket: %d opened", server.port());
  QVD::ClientSocket client(atoi(mvPort), nicHostname, &pace_);

  for (int pass = 1;; ++pass) {
    if (stopping()) break;
    if (!client.open()) {
      if (stopping()) break;
      QVD_ALWAYS("Client connection to qvdmvevent failed, retrying...");
      if (!startRelayRetrying(2)) break;
      pace_.sleep(kRelayStartPause);
      continue;
    }
    collectEndedChildren();
    QVD::String record = registrationRecord(server_name_abbr, server.portText());
    if (QVD_TRACE_ON(TRACE_DETAIL)) {
      TraceDump(&qvd_trace_unit, __LINE__, "collectMVEvents: register buffer data:", record.c_str(),
                static_cast<size_t>(record.length()));
    }
    if (client.write(&record)) {
      QVD_ALWAYS("write Event Register socket succeeded");
    } else {
      QVD_ALWAYS("write Event Register socket failed");
    }
    client.closeSocket();

    QVD_ALWAYS("MV Collector thread process going into listen mode on port: %d", server.port());
    server.run();
    if (stopping()) break;
    QVD_ALWAYS("MV Event thread %lx restarting qvdmvevent for the %d time ...", self_, pass);
    if (!startRelayRetrying(3)) break;
    pace_.sleep(kRelayStartPause);
  }
  setAddInEventServer(nullptr);
}

}  // namespace

QVD::String registrationRecord(const char* server, const char* portText) {
  size_t size = strlen(server) + strlen(portText) + 8;
  char* text = static_cast<char*>(malloc(size));
  if (text == nullptr) return QVD::String();
  snprintf(text, size, "%c%c%s%c%s%c", 'R', kUnitSeparator, server, kUnitSeparator, portText,
           kRecordSeparator);
  QVD::String record(text);
  free(text);
  return record;
}

void runEventCollector(AddInPace& pace) {
  EventCollector collector(pace);
  collector.run();
}

void* collectMVEvents(void*) {
  AddInThreadScope scope;
  runEventCollector(AddInPace::standard());
  return nullptr;
}
