#include "addin/mv_configure.h"

#include <pthread.h>

#include <cstring>

#include "addin/addin_pace.h"
#include "addin/addin_threads.h"
#include "agentlink/cp_client.h"
#include "dbhealth/translog_checker.h"
#include "framework/trace.h"
#include "serverapi/qvd_api.h"
#include "state/globals.h"
#include "state/server_gate.h"
#include "stats/catalogue.h"

QVD_TRACE_UNIT("addin/configure");

std::atomic<int> mvConfigured{0};

namespace {

constexpr char kDatabase[] = "mirvane/mvparam.vdb";
constexpr VxStatus kReachableStatus = 2526;
constexpr uint16_t kWholeText = 65535;
constexpr int kRetryPauses = 30;       // pauses of kPauseSeconds between attempts
constexpr unsigned kPauseSeconds = 10;

// One parameter document: its texts and the message of each step.
struct Document {
  const char* parameter;  // "TCPIP Port" or "TCPIP Hostname"
  const char* value;
  const char* createFailed;
  const char* itemFailed[8];
  const char* saveFailed;
};

// Writes one document.  False: a step failed (traced with its status); the
// document, when created, is closed.
bool writeDocument(VxDbHandle db, const Document& doc, const VxTimeDate& now) {
  VxDocHandle handle = 0;
  VxStatus status = QVD_VxDocCreate(db, &handle);
  if (status != 0) {
    QVD_ERROR(doc.createFailed, (int)status);
    return false;
  }
  struct Item {
    const char* name;
    const char* text;  // null: the time item
  } items[8] = {
      {"ServerName", server_name},     {"Form", "Parameters Form"},
      {"ParameterModifier", server_name}, {"ParameterTime", nullptr},
      {"Section", "Monitor"},          {"Category", "USER"},
      {"Parameter", doc.parameter},    {"Value", doc.value},
  };
  for (int i = 0; i < 8 && status == 0; ++i) {
    status = items[i].text != nullptr
                 ? QVD_VxItemSetText(handle, items[i].name, items[i].text, kWholeText)
                 : QVD_VxItemSetTime(handle, items[i].name, &now);
    if (status != 0) QVD_ERROR(doc.itemFailed[i], (int)status);
  }
  if (status == 0) {
    status = QVD_VxDocUpdate(handle, 0);
    if (status != 0) QVD_ERROR(doc.saveFailed, (int)status);
  }
  QVD_VxDocClose(handle);
  return status == 0;
}

const Document kPortDocument = {
    "TCPIP Port",
    nullptr,
    "VxDocCreate: error create note %d",
    {"VxItemSetText: error update ServerName/server_name %d",
     "VxItemSetText: error update Form/Parameters Form %d",
     "VxItemSetText: error update ParameterModifier/server_name %d",
     "VxItemSetTime: error update ParameterTime %d",
     "VxItemSetText: error update Section/Monitor %d",
     "VxItemSetText: error update Category/USER %d",
     "VxItemSetText: error Parameter/TCPIP Port %d",
     "VxItemSetText: error update Value/mvPort %d"},
    "VxDocUpdate: error Port update notes %d",
};

const Document kHostDocument = {
    "TCPIP Hostname",
    nullptr,
    "VxDocCreate: error create notes %d",
    {"VxItemSetText: error update ServerName/server_name %d",
     "VxItemSetText: error update Form/Parameters Form %d",
     "VxItemSetText: error update ParameterModifier/server_name %d",
     "VxItemSetTime: error ParameterTime %d",
     "VxItemSetText: error update Section/Monitor %d",
     "VxItemSetText: error update Category/USER %d",
     "VxItemSetText: error update Parameter/TCPIP Hostname %d",
     "VxItemSetText: error update Value/nicHostname %d"},
    "VxDocUpdate: error Hostname update notes %d",
};

// One attempt with the server runtime initialised for this thread, under
// the transaction-log guard.  False: the thread has to end.
bool attempt() {
  AddInAttempt guard;  // the exit waits for a running attempt
  // Inside the server gate from the switch to VxTermThread: a collector
  // that is stopping admits no new attempt (state/server_gate.h).
  if (VeloraTransLogChecker::checkAndDisableTransLog(enterServerGate) != 0) {
    leaveServerGate();
    return false;
  }
  VxStatus status = QVD_VxInitThread();
  if (VeloraTransLogChecker::checkAndEnableTransLog() != 0) {
    if (status == 0) QVD_VxTermThread();
    leaveServerGate();
    return false;
  }
  if (status != 0) {
    QVD_ALWAYS("Velora VxInitThread failed with rc: %d", (int)status);
    leaveServerGate();
    return false;
  }
  mvConfigured = mvConfigureDatabase();
  QVD_VxTermThread();
  leaveServerGate();
  return true;
}

}  // namespace

int mvConfigureDatabase() {
  QVD_DETAIL("calling Velora API VxPingServer");
  VxStatus status = QVD_VxPingServer(server_name, nullptr, nullptr);
  if (status != 0 && (status & 0x3fff) != kReachableStatus) {
    char message[256] = "";
    QVD_VxLoadString(0, status & 0x3fff, message, 255);
    message[255] = '\0';
    QVD_ERROR("mvConfigure: VxPingServer failed on server:%s with rc:%d, Message:%s", server_name,
              (int)status, message);
    return -1;
  }
  QVD_DETAIL("mvConfigure: VxPingServer succeeded on server:%s", server_name);
  // The process locale was set from the environment once, before the
  // add-in threads started (addin/addin_threads.h).

  char path[VX_MAXPATH];
  memset(path, 0, sizeof path);
  VxDbHandle db = 0;
  status = QVD_VxPathNetConstruct(nullptr, server_name, kDatabase, path);
  path[VX_MAXPATH - 1] = '\0';
  if (status == 0) status = QVD_VxDbOpen(path, &db);
  if (status != 0) {
    QVD_ERROR("VxPathNetConstruct: error opening MV database %s, error=%d", path, (int)status);
    return -1;
  }
  QVD_DETAIL("VxPathNetConstruct: opened MV database %s", path);

  VxTimeDate now;
  QVD_VxCurrentTime(&now);
  Document port = kPortDocument;
  port.value = mvPort;
  Document host = kHostDocument;
  host.value = nicHostname;
  if (!writeDocument(db, port, now) || !writeDocument(db, host, now)) {
    QVD_VxDbClose(db);
    return 0;
  }
  QVD_DETAIL("Completed database: %s update for MV port: %s and TCP/IP hostname: %s", path, mvPort,
             nicHostname);
  QVD_VxDbClose(db);
  return 1;
}

void* MVConfigure(void*) {
  AddInThreadScope scope;
  runMVConfigure(AddInPace::standard());
  return nullptr;
}

void runMVConfigure(AddInPace& pace) {
  unsigned long self = (unsigned long)pthread_self();
  QVD_ALWAYS("Started MV Configure thread %lx", self);
  for (int count = 1;; ++count) {
    if (pace.stopping()) {
      QVD_ALWAYS("MV Configure thread %lx shutting down...", self);
      break;
    }
    QVD_ALWAYS("VxInitThread: initing the Velora and Vaxel runtime system");
    if (!attempt()) break;
    int result = mvConfigured;
    if (result == -1) {
      if (pace.stopping()) {
        QVD_ALWAYS("MV Configure thread %lx shutting down...", self);
        break;
      }
      QVD_ALWAYS("MV Configure thread %lx failed on attempt %d to configure MV...", self, count);
      cp_SendEventError(1001, MV_Server_Handle);
      bool stopping = false;
      for (int i = 0; i < kRetryPauses && !stopping; ++i) {
        pace.sleep(kPauseSeconds);
        stopping = pace.stopping();
      }
      if (stopping) {
        QVD_ALWAYS("MV Configure thread %lx shutting down...", self);
        break;
      }
      continue;
    }
    if (result == 0) cp_SendEventError(1000, MV_Server_Handle);
    QVD_ALWAYS("MV Configure thread %lx exiting...", self);
    break;
  }
}
