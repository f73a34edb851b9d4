// The agent link client: the collector's whole interface to the monitoring
// agent, a set of free functions over one process-wide TCP connection to
// 127.0.0.1.
//
// Calling order: cp_setPort (optional), cp_OpenConnection, cp_RegisterAttrGroup
// once per group, cp_RegistrationComplete, then any number of
// cp_WaitForRequest / cp_FreeRequest on one thread and of answers and events
// on others, and finally cp_CloseConnection.
//
// Every function returns one of the CP_ result codes below (0 for success).
// A call made in the wrong state changes nothing and returns CP_ERR_STATE.
//
// Thread-safety:
//   - cp_WaitForRequest runs on one thread at a time (the intake thread).
//   - Answers (cp_SetAttributeValues, cp_SendData, cp_SendError,
//     cp_SendTaskRC) and events (cp_SendEventData and friends) may be called
//     from any thread at the same time.  Each message leaves on the
//     connection whole: writes are serialised and short sends completed, so
//     messages from different threads never interleave.
//   - The rows of one pending answer are built by one thread: a group's
//     response buffer holds at most one answer at a time.  Rows for a second
//     request of the same group while the first is still unanswered are
//     refused with CP_ERR_STATE.
//   - cp_CloseConnection may run on any thread while other threads are inside
//     a cp_ call: it marks the link closed, lets a write in progress finish
//     (so the agent receives every message whole, then end-of-file), gives
//     the agent up to a second to close its side, then wakes a blocked wait
//     and blocked writes, waits until those calls have left, and only then
//     frees the registry, the request table and the buffers.  Calls that
//     start after it began return CP_ERR_STATE.
//   - The library keeps its own table of outstanding request ids under its own
//     lock `outstandingReqHashLock`, never held across socket operations.
//
// An agent that does not read: no send waits for the agent without limit.
// A send (answer, event, task answer, registration) waits while the agent
// takes no bytes, and also while another thread's send waits, but gives up
// once the agent has taken nothing for CDP_CPCI_SEND_TIMEOUT seconds
// (default 30), or one second after the collector began to end
// (cp_BeginShutdown, cp_CloseConnection, or a wait hook asking for it).  A
// send that gives up returns CP_ERR_WRITE and leaves the link given up: its
// message may be cut, so every later send fails at once with CP_ERR_WRITE.
// After a stall the connection is also shut down, so cp_WaitForRequest
// reports the end of the conversation (CP_REQ_SHUTDOWN).  Trace lines (error
// level): "The agent has taken no data for 5 seconds; the connection is
// given up after N seconds", "The agent took no data for N seconds: giving the
// connection up", and "The collector is ending and the agent did not take
// the rest of a message: giving the connection up".
#ifndef QVD_AGENTLINK_CP_CLIENT_H_
#define QVD_AGENTLINK_CP_CLIENT_H_

// Result codes.
enum : int {
  CP_OK = 0,
  CP_ERR_NO_PORT = -1,   // no port set and no CP_PORT in the environment
  CP_ERR_CONNECT = -2,   // the connection to the agent failed
  CP_ERR_STATE = -4,     // called in the wrong state (also: registration out of memory)
  CP_ERR_WRITE = -5,     // writing the message failed
  CP_ERR_HANDLE = -8,    // handle of no registered group
  CP_ERR_ID = -9,        // id not outstanding (or outstanding as the other kind)
  CP_ERR_MEMORY = -10,   // out of memory
};

// Connection states.
enum : int {
  OPEN_SOCKET_STATE = 1,   // connected; groups may be registered
  REG_COMPLETE_STATE = 2,  // registration sent; requests, answers, events
  CLOSED_STATE = 3,        // process start, after close or a failed open
};

// Request types (CpRequest::type).
enum : int {
  CP_REQ_SHUTDOWN = 0,  // the agent's shutdown notice, or the connection was lost
  CP_REQ_DATA = 1,
  CP_REQ_TASK = 2,
  CP_REQ_STARTED = 3,
  CP_REQ_STOPPED = 4,
};

// One filter condition of a request.  Every text is an owned heap copy;
// op and logOp may be null.
struct RequestInfo {
  char* name;
  char* value;
  char* op;
  char* logOp;
  RequestInfo* next;
};

// A request handed to the caller by cp_WaitForRequest.  It belongs to the
// caller until cp_FreeRequest.  Every text is an owned copy; unused fields are
// null or false.
//
// Fields per type:
//   CP_REQ_DATA:     handle, id, requestStartedID, requestInfo, subnode
//   CP_REQ_TASK:     id, command, user, requestInfo, subnode (handle null)
//   CP_REQ_STARTED:  handle, requestStartedID, requestInfo, subnode
//   CP_REQ_STOPPED:  handle, requestStartedID, shuttingDown, requestInfo,
//                    subnode.  A stop notice for a group that was never
//                    registered is handed over as CP_REQ_STOPPED with a null
//                    handle (never as CP_REQ_SHUTDOWN), so such a notice can
//                    never be mistaken for the end of the conversation.
//   CP_REQ_SHUTDOWN: requestInfo and subnode as sent; after a lost
//                    connection nothing.
// requestInfo and subnode always belong to the message that produced the
// request: those of skipped messages (unregistered group, unrecognised or
// malformed line) are dropped with them.
struct CpRequest {
  void* handle;
  int type;
  char* id;
  char* requestStartedID;
  RequestInfo* requestInfo;
  char* command;
  bool shuttingDown;
  char* subnode;
  char* user;
};

// Sets the agent port used by the next cp_OpenConnection.  Any state.
void cp_setPort(int port);

// Connects to the agent at 127.0.0.1 on the port set with cp_setPort, else on
// the decimal value of CP_PORT.  Closes an open connection first.  Up to four
// connection attempts (about 30 seconds when nobody listens).  Reads
// CDP_CPCI_INITIAL_SIZE for the initial size of the response buffers (at
// least 256, default 4096) and CDP_CPCI_SEND_TIMEOUT for the seconds a send
// may wait for an agent that takes nothing (1 to 86400, default 30; another
// value is traced and 30 used).
// Returns CP_OK (state OPEN_SOCKET_STATE), CP_ERR_NO_PORT, or CP_ERR_CONNECT
// (state CLOSED_STATE).
int cp_OpenConnection();

// Closes the connection and frees the registry, the outstanding ids (dropped
// without answer) and the buffers, after every running cp_ call has left.
// State becomes CLOSED_STATE.  Any state; always CP_OK.  A later
// cp_OpenConnection starts afresh.
int cp_CloseConnection();

// Registers an attribute group under `name` (copied) with its `version` and
// the caller's `handle` (not owned, compared by identity).  Registering a
// name twice keeps the newer entry.  OPEN_SOCKET_STATE only.
// Returns CP_OK or CP_ERR_STATE (wrong state, null name, out of memory).
int cp_RegisterAttrGroup(const char* name, int version, void* handle);

// Sends the registration message listing every registered group and enters
// REG_COMPLETE_STATE, even when the write failed.  OPEN_SOCKET_STATE only.
// Returns CP_OK, CP_ERR_STATE, CP_ERR_WRITE, or CP_ERR_MEMORY when the
// message could not be built (nothing is sent).
int cp_RegistrationComplete();

// Blocks until the agent sends a request the caller has to see, and stores a
// new CpRequest in *request, also when the call fails (release it with
// cp_FreeRequest in every case).  Data requests and start notices for
// unregistered groups, lines of no known kind, data or task requests
// without an id, and data or task requests whose id is outstanding already
// (as either kind) are skipped with a trace line.  A lost connection gives a
// request of type CP_REQ_SHUTDOWN.  REG_COMPLETE_STATE only.
// A returned data or task request's id is outstanding until answered.
// Incoming messages longer than 1 MiB are dropped with a trace line.
// Returns CP_OK, CP_ERR_STATE, or CP_ERR_MEMORY when not even the record
// could be allocated (*request is then null).
int cp_WaitForRequest(CpRequest** request);

// As cp_WaitForRequest; in addition, each time it is about to block on the
// connection because no complete message is at hand, it first calls
// `beforeBlocking(arg)` (when not null) on the calling thread.  A caller
// can so put off work until the requests already received are all taken
// (for instance one wake-up for a burst instead of one per request), without
// ever putting it off while waiting for the agent.  The callback must not
// call cp_ functions.
int cp_WaitForRequestNotify(CpRequest** request, void (*beforeBlocking)(void*), void* arg);

// Frees a request and everything it holds.  Null does nothing.  Any state.
void cp_FreeRequest(CpRequest* request);

// Adds one row (`count` column texts; a null text is an empty value) to the
// pending answer of data request `id`.  The texts are copied (escaped).
// REG_COMPLETE_STATE only.
// Returns CP_OK, CP_ERR_STATE (wrong state, or another request of the same
// group has a pending answer), CP_ERR_ID (not an outstanding data request)
// or CP_ERR_MEMORY.
int cp_SetAttributeValues(const char** values, int count, const char* id);

// Sends the answer of data request `id` with the rows added so far (none is
// fine).  The id is retired just before the write, whatever the write then
// gives, so a request that reuses the id once the agent has the answer is
// taken as a new one.  On CP_ERR_MEMORY nothing is sent and the id stays
// outstanding (the rows are dropped).  REG_COMPLETE_STATE only.
// Returns CP_OK, CP_ERR_STATE, CP_ERR_WRITE, CP_ERR_ID or CP_ERR_MEMORY.
int cp_SendData(const char* id);

// Sends result code `rc` as the answer of data request `id` instead of rows,
// discards rows already added and retires the id (before the write, as
// cp_SendData).  REG_COMPLETE_STATE only.
// Returns CP_OK, CP_ERR_STATE, CP_ERR_WRITE, CP_ERR_ID or CP_ERR_MEMORY.
int cp_SendError(int rc, const char* id);

// Retires outstanding request `id` (data or task) without sending anything,
// discarding rows already added for it: for a request the caller will not
// answer, so that its id does not stay outstanding for the life of the
// connection.  The agent may then reuse the id.  REG_COMPLETE_STATE only.
// Returns CP_OK, CP_ERR_STATE or CP_ERR_ID (not outstanding; traced).
int cp_DropRequest(const char* id);

// Sends one unsolicited row of the group registered with `handle`, optionally
// addressed to `subnode` (null: none).  Independent of requests.
// REG_COMPLETE_STATE only.
// Returns CP_OK, CP_ERR_STATE, CP_ERR_WRITE, CP_ERR_HANDLE or CP_ERR_MEMORY.
int cp_SendEventData(const char** values, int count, void* handle);
int cp_SendSubnodeEventData(const char** values, int count, void* handle, const char* subnode);

// Sends result code `rc` as an event of the group registered with `handle`.
// REG_COMPLETE_STATE only.
// Returns CP_OK, CP_ERR_STATE, CP_ERR_WRITE or CP_ERR_HANDLE.
int cp_SendEventError(int rc, void* handle);
int cp_SendSubnodeEventError(int rc, void* handle, const char* subnode);

// Answers task request `id` with result code `rc`; the id is retired before
// the write.  REG_COMPLETE_STATE only.
// Returns CP_OK, CP_ERR_STATE, CP_ERR_WRITE, CP_ERR_ID or CP_ERR_MEMORY.
int cp_SendTaskRC(int rc, const char* id);

// Holds the messages the calling thread sends from now on (answers, task
// answers, events): they are gathered and leave together in one write at
// cp_ReleaseAnswers, in the order of the calls.  Messages of other threads
// are not held, and a message from another thread first sends what is
// gathered, so no message overtakes one sent before it.  While held, a send
// function's CP_OK means the message was gathered; a failed write shows in
// cp_ReleaseAnswers.  Gathering is bounded (64 KiB; beyond it messages go
// out at once).  REG_COMPLETE_STATE only.
// Returns CP_OK or CP_ERR_STATE.
int cp_HoldAnswers();

// Sends what the calling thread's hold gathered and ends the hold.  Gathered
// messages are dropped when the connection is closed first.
// REG_COMPLETE_STATE only.  Returns CP_OK, CP_ERR_STATE or CP_ERR_WRITE.
int cp_ReleaseAnswers();

// The collector begins to end: from now on a send waits at most one more
// second for the agent (see above), so that ending never depends on the
// agent reading.  Any thread.  REG_COMPLETE_STATE only.  Returns CP_OK or
// CP_ERR_STATE.
int cp_BeginShutdown();

// Sets the calling thread's send wait hook (null: none).  While a send of
// this thread waits for the agent, `hook(arg)` is called on this thread
// about once a second, with no lock of the library held; a non-zero result
// begins the shutdown, as cp_BeginShutdown.  So a thread that has other
// duties (the dispatch loop's) keeps doing them while the agent does not
// read.  The hook must not call cp_ functions.  Any state.
void cp_SetSendWaitHook(int (*hook)(void*), void* arg);

// Configuration property `name` from the property map, else from the process
// environment; null when absent.  The text is not the caller's.  Any state.
const char* cp_GetConfigurationProperty(const char* name);

// Variable `name` of the subnode of `type` whose label is `key`: its own
// value, else the type's default, else the plain property; null when none.
// The text is not the caller's.  Any state.
const char* cp_GetSubnodeConfigurationProperty(const char* name, const char* type,
                                               const char* key);

#endif  // QVD_AGENTLINK_CP_CLIENT_H_
