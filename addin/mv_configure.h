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

#include "addin/addin_pace.h"

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
// Runs runMVConfigure with the collector's pace.
void* MVConfigure(void* arg);

// The work of the MVConfigure thread on the calling thread: attempts until
// the documents are written, a document write fails, the runtime cannot be
// initialised or `pace` says stop.  After an attempt that could not reach
// the server or the database: event error 1001, then 30 pauses of 10
// seconds through `pace`, asking it after each whether to stop.
// REQUIRES: as mvConfigureDatabase, and the transaction-log checker is set
// up (dbhealth/translog_checker.h).
void runMVConfigure(AddInPace& pace);

#endif  // QVD_ADDIN_MV_CONFIGURE_H_
