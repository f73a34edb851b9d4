// --help, --version and --check.
#include "core/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/config_check.h"
#include "serverapi/library_info.h"
#include "state/version.h"

namespace {

const char kUsage[] = "Usage: qvdclient [--help | --version | --check]\n";

// Exit status of a command line that is not one of the options.
constexpr int kUsageStatus = 2;

const char kHelp[] =
    "\n"
    "qvdclient is the data collector the monitoring agent starts for one Velora\n"
    "server instance. The agent starts it without arguments and hands it its whole\n"
    "configuration in environment variables. It runs until the agent ends the\n"
    "conversation (exit status 30) or the server asks its programs to end (31); a\n"
    "start-up that fails ends with exit status 0 and a trace line naming the cause.\n"
    "\n"
    "Options (each on its own; any other argument that begins with a dash, or an\n"
    "option with further arguments, is a usage error: exit status 2, nothing\n"
    "started; arguments without a dash are passed to the server runtime):\n"
    "  -h, --help   print this text\n"
    "  --version    print the version and the server library (libvaxel) in use\n"
    "  --check      check the configuration in the environment as start-up reads it\n"
    "               and report every problem at once, with its remedy. Starts\n"
    "               nothing and changes no file. Exit status 0 when start-up would\n"
    "               get through, 1 when it would stop.\n"
    "\n"
    "Required: QVD_SERVER, QVD_VAXELINIPATH, HALCYONHOME, QVD_BINARCH,\n"
    "  QVD_INSTANCE_NAME, and CP_PORT (set by the agent).\n"
    "Optional: QVD_PING_INTERVAL, QVD_CHECK_DB_INTERVAL, QVD_CHECK_DB_INCLUDE_PATH,\n"
    "  QVD_CHECK_DB_EXCLUDE_PATH, QVD_CHECK_DB_VIEW_CONFIG_FILE, QVD_LOG_INCLUDE,\n"
    "  QVD_LOG_EXCLUDE, QVD_LOG_VDB_MONITOR, QVD_VELORA_GROUP_MONITOR, QVD_MVPORT,\n"
    "  QVD_MVHOSTNAME.\n"
    "Tracing: QVD_TRACE (none, error, flow, detail, all or a number, per unit as in\n"
    "  error,stats=detail), QVD_TRACE_FILE, QVD_TRACE_CONTROL (re-read on SIGHUP).\n"
    "\n"
    "The administrator's guide is docs/collector.md.\n";

// The check must touch nothing, its own trace output included: tracing is
// switched off for the rest of the process once the settings are copied.
int runCheck() {
  Settings env = currentSettings();
  setenv("QVD_TRACE", "none", 1);
  unsetenv("QVD_TRACE_CONTROL");
  unsetenv("QVD_TRACE_FILE");
  std::printf("qvdclient %s: configuration check\n", qvdVersion());
  int status = reportFindings(checkConfiguration(env), stdout);
  std::fflush(stdout);
  return status;
}

}  // namespace

bool handleAdminOptions(int argc, char** argv, int* status) {
  // Only arguments that begin with a dash are ours to judge; others go to
  // the server runtime unchanged.
  const char* dashed = nullptr;
  for (int i = 1; i < argc && dashed == nullptr; ++i)
    if (argv[i] != nullptr && argv[i][0] == '-') dashed = argv[i];
  if (dashed == nullptr) return false;
  const char* option = argc == 2 ? argv[1] : nullptr;
  bool ours = false;
  for (const char* known : {"--help", "-h", "--version", "--check"})
    ours = ours || std::strcmp(dashed, known) == 0;
  if (option == nullptr || !ours) {
    // A mistyped or combined option must not become a real start: that
    // would switch vaxel.ini and write the install's files, and end with
    // status 0, which reads like a passed check.
    if (!ours)
      std::fprintf(stderr, "qvdclient: unknown option %s\n", dashed);
    else
      std::fprintf(stderr, "qvdclient: %s takes no other arguments\n", dashed);
    std::fputs(kUsage, stderr);
    std::fflush(stderr);
    *status = kUsageStatus;
    return true;
  }
  if (std::strcmp(option, "--help") == 0 || std::strcmp(option, "-h") == 0) {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    *status = 0;
  } else if (std::strcmp(option, "--version") == 0) {
    std::printf("qvdclient %s\nlibvaxel: %s\n", qvdVersion(),
                libvaxelDescription(libvaxelInfo()).c_str());
    *status = 0;
  } else {
    *status = runCheck();
  }
  std::fflush(stdout);
  return true;
}
