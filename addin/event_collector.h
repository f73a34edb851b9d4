// The collectMVEvents thread: starts the add-in's event relay (qvdmvevent,
// a child process), listens on a loopback port chosen by the system,
// registers that port with the relay over a short client connection to the
// add-in host and port, and turns every event record the relay sends into
// one MV_Server event row for the agent (addin/server_socket.h).  When the
// relay's connection ends, or the relay cannot be reached, the relay is
// started again and registered again with the same port.
//
// Registration record: "R" US <abbreviated server name> US <port> RS.
//
// Only the relay sends events: a connection on the event port is served
// only when the relay process this thread started last (mveventpid), or a
// process started by it, holds its other end (addin/connection_peer.h);
// any other is closed unread with the trace line "Connection on the event
// port from port %d refused: ...", and the wait for the relay goes on.
//
// Failures heal: a relay that cannot be started (its program missing or
// not executable, or no process to be had) and a listening socket that
// cannot be opened are retried every 10 seconds for as long as the
// collector runs.  Each is reported to the agent as event error 1000 of
// MV_Server once when it begins, not again while the retries fail; after a
// success, a new failure is reported again.
//
// Thread-safety: one collectMVEvents thread; it uses the agent link only
// through cp_SendEventData and cp_SendEventError.
#ifndef QVD_ADDIN_EVENT_COLLECTOR_H_
#define QVD_ADDIN_EVENT_COLLECTOR_H_

#include "addin/addin_pace.h"
#include "util/qvd_string.h"

// Thread entry; the argument is ignored; returns null.  Runs
// runEventCollector with the collector's pace.
// REQUIRES: mvPort, nicHostname, server_name_abbr, halcyon_home and binArch
// are set.
void* collectMVEvents(void* arg);

// The work of collectMVEvents on the calling thread, until `pace` says stop.
// Every pause (10 seconds after each start of the relay and before each
// retry, the line client's pauses between its attempts) goes through
// `pace`.  REQUIRES: as collectMVEvents.
void runEventCollector(AddInPace& pace);

// The registration record for `server` and `portText`.
QVD::String registrationRecord(const char* server, const char* portText);

#endif  // QVD_ADDIN_EVENT_COLLECTOR_H_
