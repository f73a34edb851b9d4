// The agent's end of the link's transport: a listening TCP socket on the
// loopback interface that the collector connects to (it connects to
// 127.0.0.1 at CP_PORT), and the accept of that one connection.
//
// The listener can insist that the connection comes from the collector it
// started: the peer's socket must be held by that process or one of its
// descendants (looked up in /proc), so that another local process that
// connects first is refused instead of being taken for the collector.
//
// Ownership: the listener owns its socket and closes it in Close() or the
// destructor; an accepted descriptor belongs to the caller.  Every socket is
// close-on-exec, so no child inherits one.
// Thread-safety: none; one thread owns a listener.
#ifndef QVD_AGENTSIDE_LISTENER_H_
#define QVD_AGENTSIDE_LISTENER_H_

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

namespace agentside {

class LoopbackListener {
 public:
  LoopbackListener() = default;
  ~LoopbackListener() { Close(); }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  // Listens on 127.0.0.1 at `port` (0: a port the system chooses).  Returns
  // false with *error set ("cannot listen on 127.0.0.1:N: <reason>").
  bool Listen(int port, std::string* error);

  // The port listened on (the chosen one for port 0), or 0 before Listen.
  int port() const { return port_; }
  bool listening() const { return fd_ >= 0; }

  // Waits for a connection until `deadline`, calling `keepWaiting` about
  // every 50 ms (it returns false to give up, for instance when the
  // collector has exited).  When `peer` is above 0, a connection whose
  // socket is not held by process `peer` or a descendant of it is closed
  // at once, *refused is incremented (when given) and the wait goes on.
  // Returns the connection (close-on-exec, TCP no-delay set) or -1.
  int Accept(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& keepWaiting,
             pid_t peer = 0, int* refused = nullptr);

  // Stops listening; later connections are refused by the system.
  void Close();

 private:
  int fd_ = -1;
  int port_ = 0;
};

// True when the local end of the loopback connection that `fd` accepted is
// a socket held by process `pid` or one of its descendants (Linux: the
// socket's inode from /proc/net/tcp, its holder from /proc/<pid>/fd).
bool PeerHeldBy(int fd, pid_t pid);

}  // namespace agentside

#endif  // QVD_AGENTSIDE_LISTENER_H_
