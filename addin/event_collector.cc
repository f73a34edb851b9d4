#include "addin/event_collector.h"

#include <pthread.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "addin/addin_stop.h"
#include "addin/addin_threads.h"
#include "addin/client_socket.h"
#include "addin/server_socket.h"
#include "agentlink/cp_client.h"
#include "core/globals.h"
#include "core/process.h"
#include "framework/trace.h"
#include "stats/catalogue.h"

QVD_TRACE_UNIT("addin/events");

namespace {

constexpr char kRelay[] = "qvdmvevent";
constexpr unsigned kRelayStartPause = 10;

// Accept check: keep waiting for the relay's connection while the relay
// runs and no stop is requested.  A relay that ended without connecting
// will not connect any more.
bool relayMayConnect(void*) {
  if (addInStopping()) return false;
  pid_t pid = static_cast<pid_t>(mveventpid);
  if (pid <= 0) return true;
  return waitpid(pid, nullptr, WNOHANG) == 0;
}

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

void* collectMVEvents(void*) {
  AddInThreadScope scope;
  unsigned long self = (unsigned long)pthread_self();
  QVD_ALWAYS("Started MV Event thread %lx", self);
  if (!startRelay()) {
    cp_SendEventError(1000, MV_Server_Handle);
    QVD_ALWAYS("startProcess1 failed for qvdmvevent, collectMVEvent %lx shutting down...", self);
    return nullptr;
  }
  QVD_ALWAYS("Started1 qvdmvevent with pid:%ld", mveventpid);
  addInSleep(kRelayStartPause);

  auto* server = new ServerSocket();
  server->open(0, nullptr);
  server->setAcceptCheck(relayMayConnect, nullptr);
  setAddInEventServer(server);
  QVD_ALWAYS("Server socket: %d opened", server->port());
  auto* client = new QVD::ClientSocket(atoi(mvPort), nicHostname);

  for (int pass = 1;; ++pass) {
    if (addInStopping()) {
      QVD_ALWAYS("collectMVEvent %lx shutting down...", self);
      break;
    }
    if (!client->open()) {
      if (addInStopping()) {
        QVD_ALWAYS("collectMVEvent %lx shutting down...", self);
        break;
      }
      QVD_ALWAYS("Client connection to qvdmvevent failed, retrying...");
      if (!startRelay()) {
        cp_SendEventError(1000, MV_Server_Handle);
        QVD_ALWAYS("startProcess2 failed for qvdmvevent, collectMVEvent %lx shutting down...", self);
        break;
      }
      QVD_ALWAYS("Started2 qvdmvevent with pid:%ld", mveventpid);
      addInSleep(kRelayStartPause);
      continue;
    }
    collectEndedChildren();
    QVD::String record = registrationRecord(server_name_abbr, server->portText());
    if (QVD_TRACE_ON(TRACE_DETAIL)) {
      TraceDump(&qvd_trace_unit, __LINE__, "collectMVEvents: register buffer data:", record.c_str(),
                static_cast<size_t>(record.length()));
    }
    if (client->write(&record)) {
      QVD_ALWAYS("write Event Register socket succeeded");
    } else {
      QVD_ALWAYS("write Event Register socket failed");
    }
    client->closeSocket();

    QVD_ALWAYS("MV Collector thread process going into listen mode on port: %d", server->port());
    server->run();
    if (addInStopping()) {
      QVD_ALWAYS("collectMVEvent %lx shutting down...", self);
      break;
    }
    QVD_ALWAYS("MV Event thread %lx restarting qvdmvevent for the %d time ...", self, pass);
    if (!startRelay()) {
      cp_SendEventError(1000, MV_Server_Handle);
      QVD_ALWAYS("startProcess3 failed for qvdmvevent, collectMVEvent %lx shutting down...", self);
      break;
    }
    QVD_ALWAYS("Started3 qvdmvevent with pid:%ld", mveventpid);
    addInSleep(kRelayStartPause);
  }
  setAddInEventServer(nullptr);
  delete client;
  delete server;
  return nullptr;
}
