// Lines of a normal start and of a trace reload that tell the
// administrator what is running and what in the configuration is probably
// a mistake.  Each is an addition beside the fixed start-up lines.
//
// Thread-safety: startLine and traceSettingWarnings run on the main thread
// during start-up; the reload listener runs on whichever thread traces
// first after a SIGHUP.
#ifndef QVD_CORE_START_NOTES_H_
#define QVD_CORE_START_NOTES_H_

#include <string>

// "qvdclient <version> starting; libvaxel: <path> (<what it is>)".
std::string startLine();

// Writes one always-level warning for each QVD_ variable the collector does
// not read and for each problem of the trace configuration (unknown level
// words, a trace file that cannot be opened).
void traceSettingWarnings();

// Makes every SIGHUP reload write one line with the trace levels now in
// force, and a warning for each problem of the new configuration.
void installTraceReloadNote();

#endif  // QVD_CORE_START_NOTES_H_
