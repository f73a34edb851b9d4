// The start line, the setting warnings and the reload note.
#include "core/start_notes.h"

#include "core/config_check.h"
#include "framework/trace.h"
#include "serverapi/library_info.h"
#include "state/version.h"

QVD_TRACE_UNIT("core/notes");

namespace {

void noteReload() {
  QVD_ALWAYS("SIGHUP: trace settings reloaded; levels now in force: %s",
             TraceLevelsInForce().c_str());
  for (const std::string& problem : TraceConfigProblems())
    QVD_ALWAYS("Warning: %s", problem.c_str());
}

}  // namespace

std::string startLine() {
  return std::string("qvdclient ") + qvdVersion() +
         " starting; libvaxel: " + libvaxelDescription(libvaxelInfo());
}

void traceSettingWarnings() {
  for (const std::string& warning : unknownSettingWarnings(currentSettings()))
    QVD_ALWAYS("Warning: %s", warning.c_str());
  for (const std::string& problem : TraceConfigProblems())
    QVD_ALWAYS("Warning: %s", problem.c_str());
}

void installTraceReloadNote() { TraceSetReloadListener(noteReload); }
