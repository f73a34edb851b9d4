// Test support for the add-in's sockets: loopback ports to aim at.
#ifndef QVD_ADDIN_LOOPBACK_TESTUTIL_H_
#define QVD_ADDIN_LOOPBACK_TESTUTIL_H_

// A loopback port where nobody listens: connecting is refused at once
// (until something else takes the port).
int ClosedPort();

// True when something accepts connections at the loopback `port`.
bool Listening(int port);

#endif  // QVD_ADDIN_LOOPBACK_TESTUTIL_H_
