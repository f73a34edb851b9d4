// qvdclient: the data collector the monitoring agent starts for one Velora
// server instance.
#include "core/startup.h"
#include "framework/trace.h"

int main(int argc, char** argv) {
  // Lets the agent change trace levels of a running collector (SIGHUP).
  TraceInstallSignalHandler();
  return qvdMain(argc, argv);
}
