// The agent link client API: registry of attribute groups, table of
// outstanding request ids, per-group response buffers, and the lifecycle
// of the one connection.
//
// Lifecycle safety: every cp_ call that touches the registry, the request
// table, the buffers or the socket enters a call gate that admits it only in
// the state it needs and counts it; cp_CloseConnection first closes the gate
// (state CLOSED_STATE), lets writes in progress finish and ends the
// sending direction, gives the agent a moment to close its side (which ends
// a blocked receive), wakes calls still blocked on the socket, waits for the
// count to drop to zero and only then frees anything.
#include "agentlink/cp_client.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "agentlink/client_request_handler.h"
#include "agentlink/client_socket.h"
#include "agentlink/hash_map.h"
#include "agentlink/link_settings.h"
#include "agentlink/messages.h"
#include "agentlink/parser.h"
#include "agentlink/pwx_string.h"
#include "framework/services.h"
#include "framework/trace.h"

QVD_TRACE_UNIT("agentlink/client");

namespace {

// One registered attribute group.
struct AGPTR {
  char* name;            // owned; also the registry key
  int version;
  void* handle;          // the caller's, compared by identity
  PWX::String* buffer;   // owned; the answer being assembled
  char* pendingId;       // owned copy of the id whose rows are in buffer, or null
  std::mutex mutex;      // guards buffer and pendingId
};

// Data of a task id in outstandingRequests (data ids map to their AGPTR).
const char kTaskMarker = 't';

// A PWX::String whose text the parser may cut in place.
class MessageText : public PWX::String {
 public:
  explicit MessageText(int n) : PWX::String(n) {}
  char* writable() { return m_buffer; }
};

std::atomic<int> g_port{-1};
std::atomic<int> g_state{CLOSED_STATE};
HashMap* agHash = nullptr;                // group name -> AGPTR
HashMap* outstandingRequests = nullptr;   // id (owned copy) -> AGPTR or kTaskMarker
FwLock outstandingReqHashLock;            // guards outstandingRequests
PWX::ClientSocket* g_socket = nullptr;
int initial_string_size = 4096;
int percent_extra_increment = 100;

// How long a close waits for the agent to close its side.
constexpr std::chrono::seconds kPeerCloseWait{1};

// Serialises open and close against each other.
std::mutex g_lifeMutex;
// The call gate.
std::mutex g_gateMutex;
std::condition_variable g_gateIdle;
int g_activeCalls = 0;  // guarded by g_gateMutex

void TraceIllegalState(int expected) {
  const char* name = expected == REG_COMPLETE_STATE ? "REG_COMPLETE_STATE" : "OPEN_SOCKET_STATE";
  QVD_ERROR("Called with illegal state.  Expected %d (%s), got %d.", expected, name, g_state.load());
}

// Whether a call the gate refuses leaves a trace line.
enum class Refusal { kQuiet, kTraced };

class CallGate {
 public:
  CallGate(int state, Refusal refusal) {
    {
      std::lock_guard<std::mutex> hold(g_gateMutex);
      if (g_state.load() == state) {
        ++g_activeCalls;
        m_entered = true;
      }
    }
    if (!m_entered && refusal == Refusal::kTraced) TraceIllegalState(state);
  }
  ~CallGate() {
    if (!m_entered) return;
    std::lock_guard<std::mutex> hold(g_gateMutex);
    if (--g_activeCalls == 0) g_gateIdle.notify_all();
  }
  bool entered() const { return m_entered; }

 private:
  bool m_entered = false;
};

char* Dup(const char* s) {
  if (s == nullptr) return nullptr;
  char* c = strdup(s);
  if (c == nullptr) QVD_ERROR("malloc failed");
  return c;
}

void FreeAgptr(AGPTR* ag) {
  std::free(ag->name);
  delete ag->buffer;
  std::free(ag->pendingId);
  delete ag;
}

// The data stored for `id`, or null.  Takes the request table lock.
const void* LookupId(const char* id) {
  if (id == nullptr) return nullptr;
  LockGet(&outstandingReqHashLock);
  const void* data = outstandingRequests->get(id);
  LockRelease(&outstandingReqHashLock);
  return data;
}

// The group of outstanding data request `id`, or null (traced).
AGPTR* LookupDataId(const char* id) {
  const void* data = LookupId(id);
  if (data == nullptr || data == &kTaskMarker) {
    QVD_ERROR("Did not find id %s", id != nullptr ? id : "(null)");
    return nullptr;
  }
  return static_cast<AGPTR*>(const_cast<void*>(data));
}

// The group of outstanding data request `id` with its mutex held by *hold,
// or null (traced) when the id is unknown or another thread answered it
// while this one waited for the mutex.
AGPTR* LockDataId(const char* id, std::unique_lock<std::mutex>* hold) {
  AGPTR* ag = LookupDataId(id);
  if (ag == nullptr) return nullptr;
  *hold = std::unique_lock<std::mutex>(ag->mutex);
  if (LookupId(id) != ag) {
    QVD_ERROR("Did not find id %s", id);
    return nullptr;
  }
  return ag;
}

// A memory shortage of the answer buffers is also reported on stdout,
// flushed at once.
void StdoutNote(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void StdoutNote(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::vprintf(fmt, args);
  va_end(args);
  std::fflush(stdout);
}

// Removes `id` from the table when it still maps to `expected`; true when it
// did.  Takes the request table lock.
bool RetireId(const char* id, const void* expected) {
  LockGet(&outstandingReqHashLock);
  bool retired = false;
  if (outstandingRequests->get(id) == expected) {
    const char* key = nullptr;
    outstandingRequests->remove(id, &key);
    std::free(const_cast<char*>(key));
    retired = true;
  }
  LockRelease(&outstandingReqHashLock);
  return retired;
}

// Empties the group's buffer when it holds rows for `id`.
// REQUIRES: ag->mutex held.
void DiscardPendingRows(AGPTR* ag, const char* id) {
  if (ag->pendingId == nullptr || std::strcmp(ag->pendingId, id) != 0) return;
  ag->buffer->copy(nullptr);
  std::free(ag->pendingId);
  ag->pendingId = nullptr;
}

// Files `id` as outstanding with `data`.  False (traced) when the id is
// outstanding already, whatever its kind: the request that reuses it is
// skipped, so that the first one keeps its entry and every answer names
// the group its own request named.  Also false when memory is short.
bool FileId(const char* id, const void* data) {
  LockGet(&outstandingReqHashLock);
  bool filed = false;
  if (outstandingRequests->contains(id)) {
    QVD_ERROR("Request id %s is already outstanding, request skipped", id);
  } else {
    char* key = Dup(id);
    filed = key != nullptr && outstandingRequests->put(key, data);
    if (!filed) {
      std::free(key);
      QVD_ERROR("malloc failed");
    }
  }
  LockRelease(&outstandingReqHashLock);
  return filed;
}

AGPTR* FindByHandle(void* handle) {
  HashMapIterator it = agHash->iterator();
  while (it.hasNext()) {
    it.next();
    auto* ag = static_cast<AGPTR*>(const_cast<void*>(it.getData()));
    if (ag->handle == handle) return ag;
  }
  return nullptr;
}

AGPTR* FindByName(const char* name) {
  if (name == nullptr) return nullptr;
  return static_cast<AGPTR*>(const_cast<void*>(agHash->get(name)));
}

void AppendRequestInfo(CpRequest* req, const RequestInfo* info) {
  RequestInfo** tail = &req->requestInfo;
  while (*tail != nullptr) tail = &(*tail)->next;
  for (; info != nullptr; info = info->next) {
    if (info->name == nullptr || info->value == nullptr) {
      QVD_ERROR("Received requestInfo with null name or value");
      continue;
    }
    auto* copy = static_cast<RequestInfo*>(std::calloc(1, sizeof(RequestInfo)));
    if (copy == nullptr) {
      QVD_ERROR("malloc failed");
      return;
    }
    copy->name = Dup(info->name);
    copy->value = Dup(info->value);
    copy->op = Dup(info->op);
    copy->logOp = Dup(info->logOp);
    *tail = copy;
    tail = &copy->next;
  }
}

// Decides what one decoded message means.  True when it yields a request
// (filled into *req), false when it is skipped.
bool TakeRequest(const ClientRequestXMLHandler& h, CpRequest* req) {
  const char* group = h.getAttrGroup();
  const char* groupText = group != nullptr ? group : "(null)";
  if (h.isDataRequest()) {
    QVD_DETAIL("Got data request for attribute group %s", groupText);
    AGPTR* ag = FindByName(group);
    if (ag == nullptr) {
      QVD_ERROR("Requested attribute group was not registered for!!!");
      return false;
    }
    if (h.getId() == nullptr) {
      QVD_ERROR("Data request without id for attribute group %s, skipped", groupText);
      return false;
    }
    if (!FileId(h.getId(), ag)) return false;
    req->id = Dup(h.getId());
    if (req->id == nullptr) {
      RetireId(h.getId(), ag);  // a request without its id could never be answered
      return false;
    }
    req->handle = ag->handle;
    req->type = CP_REQ_DATA;
    req->requestStartedID = Dup(h.getRequestStartedID());
    return true;
  }
  if (h.isTaskRequest()) {
    if (h.getId() == nullptr) {
      QVD_ERROR("Task request without id, skipped");
      return false;
    }
    if (!FileId(h.getId(), &kTaskMarker)) return false;
    req->id = Dup(h.getId());
    if (req->id == nullptr) {
      RetireId(h.getId(), &kTaskMarker);
      return false;
    }
    req->command = Dup(h.getTaskRequest());
    req->user = Dup(h.getTaskRequestUser());
    req->type = CP_REQ_TASK;
    return true;
  }
  if (h.isRequestStartedRequest()) {
    QVD_DETAIL("Got request start for attribute group %s", groupText);
    AGPTR* ag = FindByName(group);
    if (ag == nullptr) {
      QVD_ERROR("Requested attribute group <%s> was not registered!!!", groupText);
      return false;
    }
    req->handle = ag->handle;
    req->type = CP_REQ_STARTED;
    req->requestStartedID = Dup(h.getRequestStartedID());
    return true;
  }
  if (h.isRequestStoppedRequest()) {
    QVD_DETAIL("Got request stop for attribute group %s", groupText);
    AGPTR* ag = FindByName(group);
    if (ag != nullptr) {
      req->handle = ag->handle;
    } else {
      // Handed over with a null handle: a stop notice must never read as
      // the end of the conversation.
      QVD_ERROR("Requested attribute group was not registered for!!!");
    }
    req->type = CP_REQ_STOPPED;
    req->requestStartedID = Dup(h.getRequestStartedID());
    req->shuttingDown = h.isShuttingDown();
    if (req->shuttingDown) {
      QVD_DETAIL("Agent is in the process of shutting down.");
    } else {
      QVD_DETAIL("Agent is not in the process of shutting down.");
    }
    return true;
  }
  if (h.isShutdownRequest()) {
    req->type = CP_REQ_SHUTDOWN;
    return true;
  }
  QVD_ERROR("Unrecognized request type");
  return false;
}

// How long a send may wait while the agent takes nothing:
// CDP_CPCI_SEND_TIMEOUT seconds (1 to 86400), else 30 (agentlink/link_settings.h).
std::chrono::milliseconds SendTimeout() {
  const char* text = EnvGet("CDP_CPCI_SEND_TIMEOUT", 0);
  bool refused = false;
  long seconds = linkSendTimeout(text, &refused);
  if (refused) QVD_ERROR("CDP_CPCI_SEND_TIMEOUT=%s is not 1 to 86400 seconds; 30 is used", text);
  return std::chrono::seconds(seconds);
}

// Writes a complete message; CP_OK or CP_ERR_WRITE.
int WriteMessage(const PWX::String* msg) { return g_socket->write(msg) ? CP_OK : CP_ERR_WRITE; }

}  // namespace

void cp_setPort(int port) { g_port.store(port); }

int cp_OpenConnection() {
  QVD_ENTRY();
  if (g_port.load() == -1) {
    const char* env = getenv("CP_PORT");
    if (env == nullptr) {
      QVD_ERROR("CP_PORT not found in the environment");
      QVD_EXIT(CP_ERR_NO_PORT);
      return CP_ERR_NO_PORT;
    }
    g_port.store(std::atoi(env));
  }
  if (g_state.load() != CLOSED_STATE) cp_CloseConnection();
  std::lock_guard<std::mutex> life(g_lifeMutex);
  if (g_state.load() != CLOSED_STATE) {
    QVD_EXIT(CP_ERR_STATE);  // another thread opened it meanwhile
    return CP_ERR_STATE;
  }
  agHash = new (std::nothrow) HashMap();
  outstandingRequests = new (std::nothrow) HashMap();
  g_socket = new (std::nothrow) PWX::ClientSocket(g_port.load(), "127.0.0.1");
  bool connected = agHash != nullptr && outstandingRequests != nullptr && g_socket != nullptr && g_socket->open();

  initial_string_size = linkInitialSize(EnvGet("CDP_CPCI_INITIAL_SIZE", 0));
  if (connected) g_socket->setStallLimit(SendTimeout());

  if (!connected) {
    delete g_socket;
    g_socket = nullptr;
    delete agHash;
    agHash = nullptr;
    delete outstandingRequests;
    outstandingRequests = nullptr;
    QVD_EXIT(CP_ERR_CONNECT);
    return CP_ERR_CONNECT;
  }
  {
    std::lock_guard<std::mutex> hold(g_gateMutex);
    g_state.store(OPEN_SOCKET_STATE);
  }
  QVD_EXIT(CP_OK);
  return CP_OK;
}

int cp_CloseConnection() {
  QVD_ENTRY();
  std::lock_guard<std::mutex> life(g_lifeMutex);
  {
    std::lock_guard<std::mutex> gate(g_gateMutex);
    g_state.store(CLOSED_STATE);
  }
  auto idle = [] { return g_activeCalls == 0; };
  if (g_socket != nullptr) {
    // Answers already being written go out whole, then the agent reads
    // end-of-file.  The agent closes its side in turn, which also ends a
    // receive blocked in another thread; one that does not is woken below.
    auto deadline = std::chrono::steady_clock::now() + kPeerCloseWait;
    g_socket->finishWrites(deadline);
    bool quiet;
    {
      std::unique_lock<std::mutex> gate(g_gateMutex);
      quiet = g_gateIdle.wait_until(gate, deadline, idle);
    }
    if (quiet) g_socket->drainUntilPeerCloses(deadline);
    g_socket->shutdownRead();
  }
  {
    std::unique_lock<std::mutex> gate(g_gateMutex);
    g_gateIdle.wait(gate, idle);
  }
  if (g_socket != nullptr) {
    // Requests left unread would make the close reset the connection.
    g_socket->drainUntilPeerCloses(std::chrono::steady_clock::now());
    g_socket->closeSocket();
    delete g_socket;
    g_socket = nullptr;
  }
  if (outstandingRequests != nullptr) {
    LockGet(&outstandingReqHashLock);
    // Keys are owned copies; task data is a marker and data ids point to
    // registry entries, which are freed below.
    HashMapIterator it = outstandingRequests->iterator();
    while (it.hasNext()) {
      it.next();
      std::free(const_cast<char*>(it.getKey()));
    }
    delete outstandingRequests;
    outstandingRequests = nullptr;
    LockRelease(&outstandingReqHashLock);
    LockDestroy(&outstandingReqHashLock);
  }
  if (agHash != nullptr) {
    HashMapIterator it = agHash->iterator();
    while (it.hasNext()) {
      it.next();
      FreeAgptr(static_cast<AGPTR*>(const_cast<void*>(it.getData())));
    }
    delete agHash;
    agHash = nullptr;
  }
  QVD_EXIT(CP_OK);
  return CP_OK;
}

int cp_RegisterAttrGroup(const char* name, int version, void* handle) {
  CallGate gate(OPEN_SOCKET_STATE, Refusal::kTraced);
  if (!gate.entered()) return CP_ERR_STATE;
  if (name == nullptr) {
    QVD_ERROR("Attribute group without a name");
    return CP_ERR_STATE;
  }
  AGPTR* ag = new (std::nothrow) AGPTR();
  if (ag == nullptr) {
    QVD_ERROR("malloc failed for creating AGPTR.");
    return CP_ERR_STATE;
  }
  ag->name = strdup(name);
  if (ag->name == nullptr) {
    QVD_ERROR("strdup failed for agPtr->name.");
    delete ag;
    return CP_ERR_STATE;
  }
  ag->version = version;
  ag->handle = handle;
  ag->buffer = new (std::nothrow) PWX::String(initial_string_size);
  if (ag->buffer == nullptr) {
    QVD_ERROR("malloc failed for creating AGPTR.");
    FreeAgptr(ag);
    return CP_ERR_STATE;
  }
  ag->buffer->growthPercent = percent_extra_increment < 0 ? 0 : percent_extra_increment;
  // A second registration of a name replaces the first entry; the old key
  // is the old entry's name, so the old entry leaves the map first.
  const char* oldKey = nullptr;
  auto* old = static_cast<AGPTR*>(const_cast<void*>(agHash->remove(name, &oldKey)));
  if (old != nullptr) FreeAgptr(old);
  if (!agHash->put(ag->name, ag)) {
    QVD_ERROR("malloc failed for creating AGPTR.");
    FreeAgptr(ag);
    return CP_ERR_STATE;
  }
  return CP_OK;
}

int cp_RegistrationComplete() {
  CallGate gate(OPEN_SOCKET_STATE, Refusal::kTraced);
  if (!gate.entered()) return CP_ERR_STATE;
  PWX::String msg(256);
  bool built = agentlink::appendRegistrationHead(&msg);
  HashMapIterator it = agHash->iterator();
  while (built && it.hasNext()) {
    it.next();
    const auto* ag = static_cast<const AGPTR*>(it.getData());
    built = agentlink::appendRegistrationGroup(&msg, ag->name, ag->version);
  }
  built = built && agentlink::appendRegistrationTail(&msg);
  int rc = built ? WriteMessage(&msg) : CP_ERR_MEMORY;
  {
    std::lock_guard<std::mutex> hold(g_gateMutex);
    if (g_state.load() == OPEN_SOCKET_STATE) g_state.store(REG_COMPLETE_STATE);
  }
  return rc;
}

int cp_WaitForRequest(CpRequest** request) { return cp_WaitForRequestNotify(request, nullptr, nullptr); }

int cp_WaitForRequestNotify(CpRequest** request, void (*beforeBlocking)(void*), void* arg) {
  auto* req = static_cast<CpRequest*>(std::calloc(1, sizeof(CpRequest)));
  *request = req;
  if (req == nullptr) {
    QVD_ERROR("malloc failed");
    return CP_ERR_MEMORY;
  }
  CallGate gate(REG_COMPLETE_STATE, Refusal::kQuiet);
  if (!gate.entered()) return CP_ERR_STATE;
  MessageText msg(256);
  for (;;) {
    if (beforeBlocking != nullptr && !g_socket->messageBuffered()) beforeBlocking(arg);
    if (!g_socket->receive(&msg)) {
      req->type = CP_REQ_SHUTDOWN;
      break;
    }
    if (msg.writable() == nullptr) continue;  // no memory for the text
    ClientRequestXMLHandler handler;
    Parser parser(&handler);
    parser.parse(msg.writable());  // what was decoded before a fault counts
    if (!TakeRequest(handler, req)) continue;
    // Subnode and filter conditions come with the message that yields the
    // request; those of skipped messages were dropped with them.
    req->subnode = Dup(handler.getSubnode());
    AppendRequestInfo(req, handler.getRequestInfoHead());
    break;
  }
  return CP_OK;
}

void cp_FreeRequest(CpRequest* request) {
  if (request == nullptr) return;
  std::free(request->id);
  std::free(request->requestStartedID);
  std::free(request->command);
  std::free(request->subnode);
  std::free(request->user);
  freeRequestInfoChain(request->requestInfo);
  std::free(request);
}

int cp_SetAttributeValues(const char** values, int count, const char* id) {
  CallGate gate(REG_COMPLETE_STATE, Refusal::kTraced);
  if (!gate.entered()) return CP_ERR_STATE;
  // The id is checked again under the group's lock, so rows never start an
  // answer for an id that another thread has just sent.
  std::unique_lock<std::mutex> hold;
  AGPTR* ag = LockDataId(id, &hold);
  if (ag == nullptr) return CP_ERR_ID;
  if (count < 0) count = 0;
  PWX::String* buf = ag->buffer;
  if (buf->capacity() == 0) {
    StdoutNote("KxT cp_SetAttributeValues no memory in string buffer1\n");
    return CP_ERR_MEMORY;
  }
  if (ag->pendingId != nullptr && std::strcmp(ag->pendingId, id) != 0) {
    QVD_ERROR("Rows for id %s while the answer for id %s of group %s is pending", id, ag->pendingId, ag->name);
    return CP_ERR_STATE;
  }
  if (ag->pendingId == nullptr) {
    ag->pendingId = Dup(id);
    if (ag->pendingId == nullptr || !agentlink::appendDataResponseHead(buf, id, ag->name)) {
      std::free(ag->pendingId);
      ag->pendingId = nullptr;
      buf->copy(nullptr);
      return CP_ERR_MEMORY;
    }
  }
  long need = buf->length() + agentlink::rowReserveSize(values, count);
  if (need > INT_MAX / 2 || !buf->reserve(static_cast<int>(need))) {
    StdoutNote("KxT cp_SetAttributeValues Out of Memory attempting to obtain %ld bytes1\n", need);
    return CP_ERR_MEMORY;
  }
  if (!agentlink::buildInstanceXMLSegment(buf, values, count)) return CP_ERR_MEMORY;
  return CP_OK;
}

int cp_SendData(const char* id) {
  CallGate gate(REG_COMPLETE_STATE, Refusal::kTraced);
  if (!gate.entered()) return CP_ERR_STATE;
  std::unique_lock<std::mutex> hold;
  AGPTR* ag = LockDataId(id, &hold);
  if (ag == nullptr) return CP_ERR_ID;
  PWX::String* buf = ag->buffer;
  if (buf->capacity() == 0) {
    StdoutNote("KxT cp_SendData no memory in string buffer\n");
    return CP_ERR_MEMORY;
  }
  if (ag->pendingId != nullptr && std::strcmp(ag->pendingId, id) != 0) {
    QVD_ERROR("Answer for id %s while the answer for id %s of group %s is pending", id, ag->pendingId, ag->name);
    return CP_ERR_STATE;
  }
  bool built = (ag->pendingId != nullptr || agentlink::appendDataResponseHead(buf, id, ag->name)) &&
               agentlink::appendDataResponseTail(buf);
  int rc = CP_ERR_MEMORY;
  if (built) {
    // Retired before the write: the agent may reuse the id as soon as it
    // has the answer, and the request that reuses it must find it free.
    RetireId(id, ag);
    rc = WriteMessage(buf);
  }
  buf->copy(nullptr);  // keeps the capacity for the next answer
  std::free(ag->pendingId);
  ag->pendingId = nullptr;
  return rc;
}

int cp_SendError(int rc, const char* id) {
  CallGate gate(REG_COMPLETE_STATE, Refusal::kTraced);
  if (!gate.entered()) return CP_ERR_STATE;
  std::unique_lock<std::mutex> hold;
  AGPTR* ag = LockDataId(id, &hold);
  if (ag == nullptr) return CP_ERR_ID;
  if (ag->buffer->capacity() == 0) {
    StdoutNote("KxT cp_SendError no memory in string buffer\n");
    return CP_ERR_MEMORY;
  }
  PWX::String msg(256);
  int result = CP_ERR_MEMORY;
  if (agentlink::appendDataError(&msg, id, ag->name, rc)) {
    RetireId(id, ag);  // before the write, as in cp_SendData
    result = WriteMessage(&msg);
  }
  DiscardPendingRows(ag, id);
  return result;
}

int cp_DropRequest(const char* id) {
  CallGate gate(REG_COMPLETE_STATE, Refusal::kTraced);
  if (!gate.entered()) return CP_ERR_STATE;
  if (id != nullptr && LookupId(id) == &kTaskMarker) return RetireId(id, &kTaskMarker) ? CP_OK : CP_ERR_ID;
  std::unique_lock<std::mutex> hold;
  AGPTR* ag = LockDataId(id, &hold);
  if (ag == nullptr) return CP_ERR_ID;
  DiscardPendingRows(ag, id);
  return RetireId(id, ag) ? CP_OK : CP_ERR_ID;
}

int cp_SendEventData(const char** values, int count, void* handle) {
  return cp_SendSubnodeEventData(values, count, handle, nullptr);
}

int cp_SendSubnodeEventData(const char** values, int count, void* handle, const char* subnode) {
  CallGate gate(REG_COMPLETE_STATE, Refusal::kTraced);
  if (!gate.entered()) return CP_ERR_STATE;
  AGPTR* ag = FindByHandle(handle);
  if (ag == nullptr) return CP_ERR_HANDLE;
  if (count < 0) count = 0;
  PWX::String msg(256);
  if (!agentlink::appendEventHead(&msg, subnode, ag->name)) return CP_ERR_MEMORY;
  long need = msg.length() + agentlink::rowReserveSize(values, count);
  if (need > INT_MAX / 2 || !msg.reserve(static_cast<int>(need))) {
    StdoutNote("KxT cp_SendEventData Out of Memory attempting to obtain %ld bytes\n", need);
    return CP_ERR_MEMORY;
  }
  if (!agentlink::buildInstanceXMLSegment(&msg, values, count) || !agentlink::appendEventTail(&msg)) {
    return CP_ERR_MEMORY;
  }
  return WriteMessage(&msg);
}

int cp_SendEventError(int rc, void* handle) { return cp_SendSubnodeEventError(rc, handle, nullptr); }

int cp_SendSubnodeEventError(int rc, void* handle, const char* subnode) {
  CallGate gate(REG_COMPLETE_STATE, Refusal::kTraced);
  if (!gate.entered()) return CP_ERR_STATE;
  AGPTR* ag = FindByHandle(handle);
  if (ag == nullptr) return CP_ERR_HANDLE;
  PWX::String msg(256);
  if (!agentlink::appendEventError(&msg, subnode, ag->name, rc)) return CP_ERR_MEMORY;
  return WriteMessage(&msg);
}

int cp_SendTaskRC(int rc, const char* id) {
  CallGate gate(REG_COMPLETE_STATE, Refusal::kQuiet);
  if (!gate.entered()) return CP_ERR_STATE;
  // Retired before the write, under the lock, so one id is answered once.
  if (id == nullptr || !RetireId(id, &kTaskMarker)) {
    QVD_ERROR("Did not find id %s", id != nullptr ? id : "(null)");
    return CP_ERR_ID;
  }
  PWX::String msg(256);
  if (msg.capacity() == 0 || !agentlink::appendTaskResponse(&msg, id, rc)) {
    QVD_ERROR("malloc failed");
    return CP_ERR_MEMORY;
  }
  return WriteMessage(&msg);
}

int cp_HoldAnswers() {
  CallGate gate(REG_COMPLETE_STATE, Refusal::kQuiet);
  if (!gate.entered()) return CP_ERR_STATE;
  g_socket->holdWrites();
  return CP_OK;
}

int cp_ReleaseAnswers() {
  CallGate gate(REG_COMPLETE_STATE, Refusal::kQuiet);
  if (!gate.entered()) return CP_ERR_STATE;
  return g_socket->releaseWrites() ? CP_OK : CP_ERR_WRITE;
}

int cp_BeginShutdown() {
  CallGate gate(REG_COMPLETE_STATE, Refusal::kQuiet);
  if (!gate.entered()) return CP_ERR_STATE;
  g_socket->beginEnding();
  return CP_OK;
}

void cp_SetSendWaitHook(int (*hook)(void*), void* arg) { PWX::ClientSocket::setWaitHook(hook, arg); }
