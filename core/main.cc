// qvdclient: the data collector the monitoring agent starts for one Velora
// server instance.
#include "core/command_line.h"
#include "core/start_notes.h"
#include "core/startup.h"
#include "framework/trace.h"

int main(int argc, char** argv) {
  // --help, --version and --check; the agent never passes them.
  int status = 0;
  if (handleAdminOptions(argc, argv, &status)) return status;
  // Lets the agent change trace levels of a running collector (SIGHUP).
  TraceInstallSignalHandler();
  installTraceReloadNote();
  return qvdMain(argc, argv);
}
