// qvdclient: the data collector the monitoring agent starts for one Velora
// server instance.
#include <csignal>

#include "core/command_line.h"
#include "core/start_notes.h"
#include "core/startup.h"
#include "framework/trace.h"

int main(int argc, char** argv) {
  // A write to a reader that went away (of the trace on standard error, for
  // one) fails and is handled where it happens; SIGPIPE would end the
  // collector on the spot, possibly with vaxel.ini switched off.  Children
  // get the default action back (state/process.h).
  signal(SIGPIPE, SIG_IGN);
  // --help, --version and --check; the agent never passes them.
  int status = 0;
  if (handleAdminOptions(argc, argv, &status)) return status;
  // Lets the agent change trace levels of a running collector (SIGHUP).
  TraceInstallSignalHandler();
  installTraceReloadNote();
  return qvdMain(argc, argv);
}
