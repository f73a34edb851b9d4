// Which process made a connection that a listening socket on the loopback
// address accepted.  The event port accepts connections from the relay the
// collector started, and from no other process (addin/event_collector.h).
//
// A loopback TCP connection carries no credentials of its peer (the socket
// option SO_PEERCRED answers only for local sockets; for TCP it gives pid
// 0), so the peer's socket (the one whose local end is the connection's
// remote end and whose remote end is ours) is asked of the kernel by that
// pair, through socket diagnostics over netlink (its inode and its owner's
// uid; the table /proc/net/tcp when netlink cannot be asked), and looked
// for among the open descriptors of the expected process and of the
// processes it started (descendants found through /proc/<pid>/stat).
//
// A peer that has already closed its end has no inode any more and is not
// recognised.
//
// Thread-safety: reentrant; reads /proc only.
#ifndef QVD_ADDIN_CONNECTION_PEER_H_
#define QVD_ADDIN_CONNECTION_PEER_H_

// What connectionMadeBy found about the other end.
struct ConnectionPeer {
  int port = 0;              // the peer's port; 0 when the connection has no IPv4 peer
  unsigned long inode = 0;   // the peer socket's inode; 0 when it was not found
  long uid = -1;             // the owner of the peer socket; -1 when not found
  long pid = -1;             // the searched process holding it; -1 when none does
};

// True when the other end of the accepted TCP connection `descriptor` is a
// socket of the collector's own user held open by process `process` or by
// a process descended from it.  *peer (required) says what was found.
// False for `process` <= 0.
bool connectionMadeBy(int descriptor, long process, ConnectionPeer* peer);

#endif  // QVD_ADDIN_CONNECTION_PEER_H_
