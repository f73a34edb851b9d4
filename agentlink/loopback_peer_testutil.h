// Test support: a stand-in for the agent on a loopback port, and access to
// the trace lines a test produced.
#ifndef QVD_AGENTLINK_LOOPBACK_PEER_TESTUTIL_H_
#define QVD_AGENTLINK_LOOPBACK_PEER_TESTUTIL_H_

#include <atomic>
#include <string>

namespace testutil {

// Listens on 127.0.0.1 at an ephemeral port; accepts one connection.
class LoopbackPeer {
 public:
  LoopbackPeer();
  ~LoopbackPeer();
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  int port() const { return m_port; }
  // Accepts the connection (blocks).  True when one arrived.
  bool accept();
  // Sends bytes as they are; true when all went out.
  bool send(const std::string& bytes);
  // Next line the collector sent, without its line feed; "" with *ok false
  // when the connection ended first (or after timeoutMs).
  std::string readLine(bool* ok = nullptr, int timeoutMs = 5000);
  // Everything that arrives until the collector closes (or timeoutMs).
  std::string readAll(int timeoutMs = 5000);
  // Acts as a busy agent: sends `line` (plus a line feed) again and again
  // while reading everything the collector sends, until the collector's
  // end-of-file, a failure or timeoutMs.  At the end-of-file it closes its
  // side, as an agent does.  Returns what arrived (after what readLine()
  // kept); *endOfFile tells whether a clean end-of-file ended it (not a
  // reset, a failure or the timeout).  *started is set once bytes arrived.
  std::string chatterUntilClosed(const std::string& line, bool* endOfFile, std::atomic<bool>* started,
                                 int timeoutMs = 10000);
  // Acts as an agent slow to read: reads `bytes` bytes (after what
  // readLine() kept) in pieces of at most `piece` bytes with a pause of
  // `pauseMs` after each.  Stops early when the connection ends or nothing
  // arrives for timeoutMs.
  std::string readSlowly(size_t bytes, size_t piece, int pauseMs, int timeoutMs = 10000);
  // True when nothing more arrives within waitMs.
  bool quiet(int waitMs = 200);
  // Closes the accepted connection.
  void closeConnection();

 private:
  int m_listen = -1;
  int m_conn = -1;
  int m_port = 0;
  std::string m_pending;
};

// Trace lines go to a file of this process, at every level.  Call before the
// first trace line of the process (a static initialiser does it).
void CaptureTraces();
// The trace text written so far.
std::string TraceText();
// Marks the current end of the trace; TraceSince() returns what followed.
size_t TraceMark();
std::string TraceSince(size_t mark);

}  // namespace testutil

#endif  // QVD_AGENTLINK_LOOPBACK_PEER_TESTUTIL_H_
