// The collectMVEvents thread: starts the add-in's event relay (qvdmvevent,
// a child process), listens on a loopback port chosen by the system,
// registers that port with the relay over a short client connection to the
// add-in host and port, and turns every event record the relay sends into
// one MV_Server event row for the agent (addin/server_socket.h).  When the
// relay's connection ends, or the relay cannot be reached, the relay is
// started again and registered again with the same port; a relay that
// cannot be started ends the thread with event error 1000.
//
// Registration record: "R" US <abbreviated server name> US <port> RS.
//
// Thread-safety: one collectMVEvents thread; it uses the agent link only
// through cp_SendEventData and cp_SendEventError.
#ifndef QVD_ADDIN_EVENT_COLLECTOR_H_
#define QVD_ADDIN_EVENT_COLLECTOR_H_

#include "util/qvd_string.h"

// Thread entry; the argument is ignored; returns null.
// REQUIRES: mvPort, nicHostname, server_name_abbr, halcyon_home and binArch
// are set.
void* collectMVEvents(void* arg);

// The registration record for `server` and `portText`.
QVD::String registrationRecord(const char* server, const char* portText);

#endif  // QVD_ADDIN_EVENT_COLLECTOR_H_
