// The TCP client end of the connection to the monitoring agent.
//
// Connects with a bounded number of retries, writes whole messages, and
// reads one message at a time: the agent ends every message with '>' and a
// line feed, and receive() hands out the text up to and including that '>'.
// Bytes after a terminator are kept for the next receive().  A terminator
// whose '>' ends one read and whose line feed starts the next is still found.
//
// A message that grows past maxMessageLength() bytes without a terminator is
// a protocol fault: it is traced, dropped through its terminator, and
// receive() goes on with the next message, so a peer that never sends a
// terminator cannot make the collector hold unbounded memory.
//
// It lives in the PWX namespace, apart from the add-in channel's own line
// client.
//
// Held writes: between holdWrites() and releaseWrites(), the messages that
// the holding thread writes are gathered and leave together in one send at
// the release (a message that would make the gathered bytes pass
// kHoldLimit sends what is gathered first and then goes out itself).  A
// write from any other thread first sends what is gathered, so messages
// still leave in the order of the write calls and no other thread's message
// waits for the holder.
//
// Thread-safety: write() may be called from several threads at once; each
// message goes out whole (writes are serialised and short sends completed)
// unless the link is given up (below).
// receive() is called by one thread at a time.  shutdownBoth(),
// finishWrites(), shutdownRead() and beginEnding() may be called from any
// thread; drainUntilPeerCloses(), closeSocket() and destruction need that no
// other call is running.
//
// Bounded sends: a write never waits for the agent without limit.  While
// the agent takes no bytes, a write waits in steps of at most a second and
// gives up once the agent has taken nothing for the stall limit (30 seconds
// unless set otherwise; a stall of 5 seconds is traced first), or one
// second after the collector began to end (beginEnding(), finishWrites(),
// or a wait hook asking for it).  A write
// that gives up leaves the link given up: the message it was writing may be
// cut, so no later write is tried (each fails at once), and after a stall
// both directions are shut down, so the thread that receives sees the
// conversation end.  A thread waiting for another thread's write waits the
// same way, so it is bounded by that write.
//
// Wait hooks: a thread may set a hook of its own (setWaitHook); it is called
// on that thread about once a second while one of its writes waits for the
// agent (for room in the connection or for another thread's write), with
// no mutex held.  A non-zero result begins the ending, as beginEnding().
// The thread may hold the turn to write meanwhile, so the hook must not
// write on this socket, and other writers wait while it runs.
#ifndef QVD_AGENTLINK_CLIENT_SOCKET_H_
#define QVD_AGENTLINK_CLIENT_SOCKET_H_

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agentlink/pwx_string.h"

namespace PWX {

class ClientSocket {
 public:
  // Longest message accepted by default: far above any real agent request.
  static constexpr int kDefaultMaxMessageLength = 1 << 20;

  // `ipaddr` (dotted IPv4 text) is not copied and must outlive the socket.
  ClientSocket(int port, const char* ipaddr);
  ~ClientSocket();
  ClientSocket(const ClientSocket&) = delete;
  ClientSocket& operator=(const ClientSocket&) = delete;

  // Connects: up to four attempts, sleeping 2, 4, 8 and 16 seconds after the
  // failed ones.  True when connected.
  bool open();

  // Closes the descriptor (descriptor -1).  Kept bytes stay.
  void closeSocket();

  // Shuts both directions down without closing the descriptor, so a blocked
  // receive() returns false and a blocked write() fails.
  void shutdownBoth();

  // Waits until no write is in progress (at most until `deadline`; after it
  // both directions are shut down as by shutdownBoth()), sends what a
  // holding thread gathered, ends the hold and shuts the sending direction
  // down: the peer reads every message written so far, then end-of-file.
  // Later writes fail.
  void finishWrites(std::chrono::steady_clock::time_point deadline);

  // Shuts the receiving direction down, so a blocked receive() returns false.
  void shutdownRead();

  // The collector begins to end: from now on a write waits at most a second
  // (from this call) for the agent to take the rest of its message.  Later
  // calls keep the first moment.
  void beginEnding();

  // Longest time a write may wait while the agent takes no bytes before the
  // link is given up (at least 1 ms).
  void setStallLimit(std::chrono::milliseconds limit);
  std::chrono::milliseconds stallLimit() const { return m_stallLimit; }
  static constexpr std::chrono::seconds kDefaultStallLimit{30};

  // True once a write gave up (see Bounded sends).
  bool givenUp() const { return m_givenUp.load(); }

  // Sets the calling thread's wait hook (null: none); see Wait hooks.
  using WaitHook = int (*)(void* arg);
  static void setWaitHook(WaitHook hook, void* arg);

  // Reads and drops incoming bytes until the peer closes its side (true) or
  // `deadline` passes (false); a deadline already passed drops only what is
  // queued.  No receive() may run at the same time.
  bool drainUntilPeerCloses(std::chrono::steady_clock::time_point deadline);

  // Most bytes gathered while writes are held.
  static constexpr size_t kHoldLimit = 64 * 1024;

  // Sends the whole text of `message` (without its terminating zero).  True
  // unless a send call failed or the write gave up (see Bounded sends).  While the calling thread holds writes, the
  // message may only be gathered: true then, and a failure shows at the
  // release.
  bool write(const String* message);
  bool write(const char* data, int len);

  // The calling thread's writes are gathered from now on (another thread's
  // hold ends; what it gathered is sent first).
  void holdWrites();
  // Sends what the calling thread gathered and ends its hold; true unless
  // the send failed (the gathered bytes are dropped either way).  A thread
  // that holds nothing gets true.
  bool releaseWrites();

  // Empties `message`, then fills it with the next complete message (without
  // the terminating line feed).  False when the connection failed or the
  // agent closed it; `message` may then hold a partial message.
  bool receive(String* message);

  // True when the bytes kept from earlier reads hold a complete message, so
  // that the next receive() returns without reading the socket.  Same
  // thread as receive().
  bool messageBuffered() const;

  int descriptor() const { return m_fd; }
  int maxMessageLength() const { return m_maxMessage; }
  // Sets the longest message accepted (at least 2).
  void setMaxMessageLength(int n) { m_maxMessage = n < 2 ? 2 : n; }

 private:
  struct sockaddr_in m_address;
  int m_port;
  const char* m_ipaddr;  // not owned
  int m_fd = -1;
  // Received bytes not yet handed out: the start of the next message.
  std::vector<char> m_leftOver;
  int m_maxMessage = kDefaultMaxMessageLength;
  // One message on the wire at a time: a writing thread holds the turn
  // (m_sending) for the whole of its write, but m_writeMutex only to take
  // and hand back the turn, so that waiting for the agent holds no lock.
  std::mutex m_writeMutex;
  std::condition_variable m_turnFree;
  bool m_sending = false;  // guarded by m_writeMutex
  // Held writes, guarded by the turn.
  bool m_holding = false;
  std::thread::id m_holder;
  std::string m_held;                // gathered messages, back to back
  std::vector<size_t> m_heldEnds;    // where each gathered message ends
  // Bounded sends.
  std::chrono::milliseconds m_stallLimit{kDefaultStallLimit};
  std::atomic<bool> m_givenUp{false};
  // When the ending began (steady clock, nanoseconds); 0: not ending.
  std::atomic<long long> m_endingSince{0};

  class Turn;
  bool sendAll(const char* data, size_t len);
  bool flushHeld();
  void giveUp(bool shutDownLink);
  std::chrono::steady_clock::time_point endingDeadline() const;
};

}  // namespace PWX

#endif  // QVD_AGENTLINK_CLIENT_SOCKET_H_
