// Writing the add-in's parameters: the MVConfigure thread tells the Mirvane
// add-in where to send its events by writing two new parameter documents
// into "mirvane/mvparam.vdb" on the monitored server, one with the port
// (mvPort) and one with the host name (nicHostname).  A failure is reported
// to the agent as an event error of MV_Server: 1001 while the server or the
// database cannot be reached (retried every 300 seconds), 1000 when a
// document cannot be written (not retried).
//
// Thread-safety: mvConfigureDatabase runs on the MVConfigure thread only,
// which has initialised the server runtime for itself.
#ifndef QVD_ADDIN_MV_CONFIGURE_H_
#define QVD_ADDIN_MV_CONFIGURE_H_

#include <atomic>

// The last result of mvConfigureDatabase: 1 configured, 0 a document write
// failed, -1 the server or the database was not reachable.  Written by the
// MVConfigure thread only.
extern std::atomic<int> mvConfigured;

// Pings the server (a masked status of 2526 counts as reachable), opens the
// parameter database and writes the port document, then the host name
// document (items ServerName, Form, ParameterModifier, ParameterTime,
// Section, Category, Parameter, Value; the same time in both).  Returns 1,
// 0 (a failed step: its document is closed unsaved; a saved port document
// stays) or -1.  The database is closed on every path.
// REQUIRES: the calling thread initialised the server runtime; mvPort and
// nicHostname are set.
int mvConfigureDatabase();

// Thread entry of MVConfigure; the argument is not used; returns null.
void* MVConfigure(void* arg);

#endif  // QVD_ADDIN_MV_CONFIGURE_H_
