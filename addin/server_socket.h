// ServerSocket: the event collector's listening socket on the loopback
// address, and the reader of the event relay's records on the connection it
// accepts.  get_timestamp: the event time text.
//
// Relay records are 8-bit text, each ended by RS (0x1E); fields are
// separated by US (0x1F); the first byte is the record's type.  An event
// record "E" US server US message US priority RS becomes one MV_Server row
// (Server_Name, Event_Time, Message_Priority, Server_Message) sent to the
// agent with cp_SendEventData.  Other types are traced and dropped.
//
// Bounds: the bytes of one record (before its RS) are kept up to
// kMaxEventRecord; a longer record is dropped whole, with a trace line, and
// reading goes on with the next record.  Zero bytes in the stream are
// dropped.  So a connection never holds more than kMaxEventRecord bytes of
// an unfinished record.
//
// Connections: run() serves only a connection that the peer check passes
// (set with setPeerCheck; the event collector lets only its relay
// through); any other is closed at once, before a byte of it is read, and
// run() waits for the next.  Without a peer check every connection is
// refused.
//
// Thread-safety: an instance belongs to one thread (collectMVEvents);
// shutdownConnections() may be called from any thread to end a blocked
// accept or read.
#ifndef QVD_ADDIN_SERVER_SOCKET_H_
#define QVD_ADDIN_SERVER_SOCKET_H_

#include <netinet/in.h>

#include <mutex>
#include <unordered_set>

#include "util/qvd_hash_map.h"
#include "util/qvd_string.h"

constexpr char kRecordSeparator = 0x1E;
constexpr char kUnitSeparator = 0x1F;
// Longest event record kept, without its separator.
constexpr int kMaxEventRecord = 64 * 1024;

class ServerSocket {
 public:
  // No port text, descriptor -1, no pending bytes; the port is set by open.
  ServerSocket();
  // Closes the listening socket and frees every pending text.
  virtual ~ServerSocket();
  ServerSocket(const ServerSocket&) = delete;
  ServerSocket& operator=(const ServerSocket&) = delete;

  // Creates a stream socket, binds it to `port` (0: the system chooses, and
  // the chosen port is stored) at `host` (null: 127.0.0.1; a dotted address
  // or a name otherwise) and listens.  False on failure (traced).
  bool open(int port, const char* host);

  // Accepts connections (blocking) until one passes the peer check, and
  // serves that one with clientSocketWorker until it ends; every accepted
  // descriptor is closed once.  With an accept check set, the wait for the
  // connection ends (without one) as soon as the check, asked once a
  // second, returns false.
  virtual void run();

  // The peer check of run(): true lets the accepted connection `descriptor`
  // be served; false has it closed unread (the check writes the trace
  // line).  Null: every connection is refused.
  void setPeerCheck(bool (*check)(int descriptor, void* arg), void* arg) {
    peerCheck_ = check;
    peerCheckArg_ = arg;
  }

  // The check of run(); null: wait for a connection however long it takes.
  void setAcceptCheck(bool (*check)(void*), void* arg) {
    acceptCheck_ = check;
    acceptCheckArg_ = arg;
  }

  // Reads event records from `descriptor` and sends one MV_Server event per
  // event record, until the connection fails or closes; then closes it.
  virtual void clientSocketWorker(int descriptor);

  // Empties `records`, then reads until it holds one or more complete
  // records, each with its RS; bytes after the last RS are kept for the
  // next call on the same descriptor.  0, or -1 when the connection failed
  // or was closed (then nothing is kept for it).
  int receive(QVD::String* records, int descriptor);

  // Ends a blocked accept or read of run() from another thread: shuts the
  // listening socket and the served connection down.
  void shutdownConnections();

  int port() const { return port_; }
  const char* portText() const { return portText_.c_str(); }
  int descriptor() const { return descriptor_; }

 private:
  // The pending text of `descriptor`, created when `create`.
  QVD::String* pendingFor(int descriptor, bool create);
  void dropPending(int descriptor);
  // Sends the event row of one record (without its RS).
  void handleRecord(char* record);

  bool (*acceptCheck_)(void*) = nullptr;
  void* acceptCheckArg_ = nullptr;
  bool (*peerCheck_)(int, void*) = nullptr;
  void* peerCheckArg_ = nullptr;
  int port_ = 0;
  QVD::String portText_;
  int descriptor_ = -1;
  struct sockaddr_in address_;
  QVDHashMap pending_;
  // Descriptors whose oversized record is being skipped up to its RS.
  std::unordered_set<int> skipping_;
  // The listening socket and the served connection, for
  // shutdownConnections; guarded by servedMutex_.
  std::mutex servedMutex_;
  int served_ = -1;
};

// The local time now as "%03.3d%02.2d%02.2d%02.2d%02.2d%02.2d000": years since
// 1900, month, day, hour, minute, second and three zeros: 16 characters.  A
// new heap text (malloc) that the caller frees.
char* get_timestamp();

#endif  // QVD_ADDIN_SERVER_SOCKET_H_
