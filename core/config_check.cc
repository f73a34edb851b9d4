// The configuration check: every setting and file start-up uses, read-only.
#include "core/config_check.h"

#include <fcntl.h>
#include <limits.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "agentlink/link_settings.h"
#include "core/hooks.h"
#include "core/startup.h"
#include "dbhealth/vaxel_ini_editor.h"
#include "framework/trace.h"
#include "serverapi/library_info.h"
#include "stats/keyword_file.h"
#include "util/atomic_file.h"

extern char** environ;

namespace {

constexpr int kDefaultPingInterval = 30;
constexpr int kDefaultCheckDbInterval = 3600;
constexpr size_t kStatusFileNameSize = 1024;

// Collects the findings of one check.
class Report {
 public:
  void ok(const std::string& subject, const std::string& message) {
    add(Severity::kOk, subject, message);
  }
  void note(const std::string& subject, const std::string& message) {
    add(Severity::kNote, subject, message);
  }
  void warning(const std::string& subject, const std::string& message) {
    add(Severity::kWarning, subject, message);
  }
  void problem(const std::string& subject, const std::string& message) {
    add(Severity::kProblem, subject, message);
  }
  std::vector<Finding> take() { return std::move(findings_); }

 private:
  void add(Severity severity, const std::string& subject, const std::string& message) {
    findings_.push_back({severity, subject, message});
  }
  std::vector<Finding> findings_;
};

// The value of `name` as start-up reads it: absent or empty gives "".
std::string text(const Settings& env, const char* name) {
  auto it = env.find(name);
  return it == env.end() ? std::string() : it->second;
}

// Like text, with "none" counting as absent too.
std::string textOrNone(const Settings& env, const char* name) {
  std::string value = text(env, name);
  return value == "none" ? std::string() : value;
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// The system's reason why `path` cannot be used with `mode` (access(2)
// flags), or "" when it can.
std::string accessProblem(const std::string& path, int mode) {
  if (access(path.c_str(), mode) == 0) return std::string();
  return std::strerror(errno);
}

// Whether a file `path` could be created or replaced: the file itself when
// it exists, else its directory.
std::string writeProblem(const std::string& path) {
  if (exists(path)) return accessProblem(path, W_OK);
  size_t slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  if (!isDirectory(dir)) return "directory " + dir + " does not exist";
  std::string problem = accessProblem(dir, W_OK | X_OK);
  return problem.empty() ? problem : "directory " + dir + ": " + problem;
}

// The reason why this process (its effective user) may not use `path` with
// `mode`, or "" when it may.
std::string effectiveAccessProblem(const std::string& path, int mode) {
  if (faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0) return std::string();
  return std::strerror(errno);
}

bool inMyGroups(gid_t gid) {
  if (gid == getegid()) return true;
  int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  count = getgroups(count, groups.data());
  return count > 0 && std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

// Why a replacement of `path` could not keep its owner, group and mode, the
// way the vaxel.ini editor replaces it, or "" when it could.
std::string replaceProblem(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return std::strerror(errno);
  std::string why = effectiveAccessProblem(path, W_OK);
  if (!why.empty())
    return "the collector's user (uid " + std::to_string(geteuid()) + ") may not write it (" + why +
           ")";
  if (geteuid() != 0 && (st.st_uid != geteuid() || !inMyGroups(st.st_gid)))
    return "it belongs to uid " + std::to_string(st.st_uid) + ", gid " + std::to_string(st.st_gid) +
           ", which the collector's user (uid " + std::to_string(geteuid()) +
           ") cannot give a new file";
  return std::string();
}

// Only digits after optional blanks and sign: what a reader expects.
bool isPlainNumber(const std::string& value) {
  size_t i = 0;
  while (i < value.size() && std::isspace(static_cast<unsigned char>(value[i]))) ++i;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) ++i;
  size_t digits = i;
  while (i < value.size() && std::isdigit(static_cast<unsigned char>(value[i]))) ++i;
  return i > digits && i == value.size();
}

bool hasLeadingDigits(const std::string& value) {
  size_t i = 0;
  while (i < value.size() && std::isspace(static_cast<unsigned char>(value[i]))) ++i;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) ++i;
  return i < value.size() && std::isdigit(static_cast<unsigned char>(value[i]));
}

// A TCP port as start-up accepts it: digits (after blanks and a sign) that
// convert to 0..65535.
bool isPort(const std::string& value) {
  int port = 0;
  return hasLeadingDigits(value) && convertDecimal(value.c_str(), &port) && port >= 0 &&
         port <= 65535;
}

bool containsCaseless(const std::string& haystack, const char* needle) {
  std::string upper = haystack;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper.find(needle) != std::string::npos;
}

void checkLibrary(Report& r) {
  LibvaxelInfo info = libvaxelInfo();
  std::vector<std::string> missing = missingOrlanAPI();
  if (!missing.empty()) {
    std::string names;
    for (size_t i = 0; i < missing.size() && i < 5; ++i) names += (i ? ", " : "") + missing[i];
    if (missing.size() > 5) names += ", ...";
    r.problem("libvaxel",
              libvaxelDescription(info) + " lacks " + std::to_string(missing.size()) +
                  " entry points of the server API (" + names +
                  "); start-up stops with \"There were errors to load Orlan C API. "
                  "Exiting...\". Point the library path at the server's own libvaxel.so.");
  } else if (info.simulated) {
    r.note("libvaxel", libvaxelDescription(info));
  } else {
    r.ok("libvaxel", libvaxelDescription(info));
  }
}

struct Required {
  const char* name;
  const char* remedy;
};

// The five required texts; false when one is missing.
bool checkRequired(const Settings& env, Report& r) {
  static const Required kRequired[] = {
      {"QVD_SERVER",
       "set it to the monitored server's name, canonical (CN=srv1/O=acme) or "
       "abbreviated (srv1/acme)"},
      {"QVD_VAXELINIPATH", "set it to the directory that holds the server's vaxel.ini"},
      {"HALCYONHOME", "set it to the agent's install home"},
      {"QVD_BINARCH", "set it to the platform directory under the install home (linux64, ...)"},
      {"QVD_INSTANCE_NAME", "set it to the name of this server instance"},
  };
  bool complete = true;
  for (const Required& q : kRequired) {
    std::string value = text(env, q.name);
    if (value.empty()) {
      r.problem(q.name,
                "not set (or empty); start-up stops. Remedy: " + std::string(q.remedy) + ".");
      complete = false;
    } else {
      r.ok(q.name, value);
    }
  }
  for (const char* name : {"HALCYONHOME", "QVD_VAXELINIPATH"}) {
    std::string value = text(env, name);
    if (!value.empty() && value[0] != '/')
      r.warning(name, "\"" + value +
                          "\" is not an absolute path: it is taken from the directory the agent "
                          "starts the collector in. Remedy: a path that begins with /.");
  }
  std::string instance = text(env, "QVD_INSTANCE_NAME");
  if (instance.find('/') != std::string::npos) {
    r.problem("QVD_INSTANCE_NAME", "\"" + instance +
                                       "\" contains '/': the name is part of the collector's file "
                                       "names in vd/bin, so start-up stops. Remedy: a name without "
                                       "'/'.");
    complete = false;
  }
  std::string server = text(env, "QVD_SERVER");
  if (!server.empty()) {
    bool cn = containsCaseless(server, "CN=");
    bool o = server.find("O=") != std::string::npos || server.find("o=") != std::string::npos;
    if (cn != o) {
      r.warning("QVD_SERVER",
                "\"" + server + "\" has " + (cn ? "CN= but no O=" : "O= but no CN=") +
                    ": it is used as given for both the canonical and the abbreviated "
                    "name. Give both parts (CN=srv1/O=acme) or neither (srv1/acme).");
    }
  }
  return complete;
}

// The lock file, vaxel.ini and, when the transaction log is on, the places
// the collector writes while it switches the log off.
void checkIniAndLock(const Settings& env, Report& r) {
  std::string home = text(env, "HALCYONHOME");
  std::string arch = text(env, "QVD_BINARCH");
  std::string iniDir = text(env, "QVD_VAXELINIPATH");
  if (!home.empty() && !arch.empty()) {
    std::string lock = home + "/" + arch + "/vd/bin/qvdstart.sh";
    std::string why = exists(lock) ? accessProblem(lock, R_OK | W_OK) : "it does not exist";
    if (!why.empty()) {
      r.problem("lock file", lock + ": " + why +
                                 "; start-up stops. Remedy: the installation's start script must "
                                 "exist and be readable and writable by the collector's user (it "
                                 "is never created); on a fresh install copy the sample "
                                 "vd/doc/qvdclient/examples/qvdstart.sh there.");
    } else {
      r.ok("lock file", lock);
    }
  }
  if (iniDir.empty()) return;
  std::string ini = iniDir + "/vaxel.ini";
  if (!isDirectory(iniDir)) {
    std::string remedy = exists(iniDir) ? " is a file, not a directory. Remedy: set "
                                          "QVD_VAXELINIPATH to the directory that holds vaxel.ini."
                                        : " does not exist. Remedy: set QVD_VAXELINIPATH to the "
                                          "directory that holds the server's vaxel.ini.";
    r.problem("QVD_VAXELINIPATH", iniDir + remedy);
    return;
  }
  std::string why = exists(ini) ? accessProblem(ini, R_OK) : "it does not exist";
  if (!why.empty()) {
    r.problem("vaxel.ini", ini + ": " + why +
                               "; start-up stops. Remedy: check QVD_VAXELINIPATH and "
                               "the file's permissions.");
    return;
  }
  VaxelIniEditor editor(ini.c_str());
  char value = 0;
  if (editor.loadFile() != 0) {
    r.problem("vaxel.ini", ini + " cannot be read; start-up stops.");
    return;
  }
  bool logOn = editor.getKeyValue("TRANSLOG_STATUS", &value) == 0 && value == '1';
  // The editor replaces the file a link points at, in that file's directory.
  char resolved[PATH_MAX];
  std::string real = realpath(ini.c_str(), resolved) != nullptr ? resolved : ini;
  std::string replaceWhy = replaceProblem(real);
  if (!logOn) {
    r.ok("vaxel.ini", ini + " (transaction log off: start-up leaves the file unchanged)");
    if (!replaceWhy.empty())
      r.warning("vaxel.ini", real + ": " + replaceWhy +
                                 ". Start-up leaves the file unchanged now, but stops once the "
                                 "server's transaction log is on. Remedy: run the collector as "
                                 "the file's owner, or give the file to the collector's user.");
    return;
  }
  r.ok("vaxel.ini", ini +
                        " (transaction log on: start-up switches it off around the runtime "
                        "start and back on)");
  if (!replaceWhy.empty()) {
    r.problem("vaxel.ini", real + ": " + replaceWhy +
                               "; the collector replaces the file only with one of the same owner, "
                               "group and mode, so it leaves it unchanged and start-up stops. "
                               "Remedy: run the collector as the file's owner, or give the file "
                               "to the collector's user.");
  }
  std::string realDir = directoryOf(real);
  why = effectiveAccessProblem(realDir, W_OK | X_OK);
  if (!why.empty()) {
    r.problem("QVD_VAXELINIPATH", "directory " + realDir + " is not writable (" + why +
                                      "); the new vaxel.ini is written beside the old one, so "
                                      "start-up stops. Remedy: give the collector's user write "
                                      "permission on the directory.");
  }
  if (!home.empty()) {
    std::string config = home + "/config";
    why = isDirectory(config) ? accessProblem(config, W_OK | X_OK) : "it does not exist";
    if (!why.empty()) {
      r.problem("backup directory", config + ": " + why +
                                        "; with the transaction log on, the backup of vaxel.ini "
                                        "goes there, so start-up stops. Remedy: create it, "
                                        "writable by the collector's user.");
    }
  }
}

void checkPingInterval(const Settings& env, Report& r) {
  std::string value = text(env, "QVD_PING_INTERVAL");
  if (value.empty()) {
    r.ok("QVD_PING_INTERVAL", "not set: " + std::to_string(kDefaultPingInterval) + " is used");
    return;
  }
  int number = 0;
  if (!convertDecimal(value.c_str(), &number)) {
    r.warning("QVD_PING_INTERVAL", "\"" + value +
                                       "\" is too large for a number; 30 is used. "
                                       "Remedy: a whole number of 30 or more.");
  } else if (number < kDefaultPingInterval) {
    r.warning("QVD_PING_INTERVAL", "\"" + value + "\" reads as " + std::to_string(number) +
                                       ", below 30; 30 is used. Remedy: a whole number of 30 or "
                                       "more, or leave it unset.");
  } else if (!isPlainNumber(value)) {
    r.warning("QVD_PING_INTERVAL", "\"" + value + "\" reads as " + std::to_string(number) +
                                       " (only the leading digits count). Remedy: digits only.");
  } else {
    r.ok("QVD_PING_INTERVAL", value);
  }
}

// Returns the interval start-up would settle on; *stops when it would stop.
int checkDbInterval(const Settings& env, Report& r) {
  std::string value = text(env, "QVD_CHECK_DB_INTERVAL");
  if (value.empty()) {
    r.ok("QVD_CHECK_DB_INTERVAL", "not set: the database check is off");
    return 0;
  }
  if (value == "0") {
    r.ok("QVD_CHECK_DB_INTERVAL", "0: the database check is off");
    return 0;
  }
  int number = 0;
  if (!convertDecimal(value.c_str(), &number)) {
    r.problem("QVD_CHECK_DB_INTERVAL",
              "\"" + value +
                  "\" is too large for a number; start-up "
                  "stops. Remedy: 0 (off) or a number of seconds, 3600 or more.");
    return -1;
  }
  if (number < 0) {
    r.problem("QVD_CHECK_DB_INTERVAL", "\"" + value +
                                           "\" is negative; start-up stops. Remedy: 0 "
                                           "(off) or a number of seconds, 3600 or more.");
    return -1;
  }
  if (!hasLeadingDigits(value)) {
    r.warning("QVD_CHECK_DB_INTERVAL", "\"" + value +
                                           "\" is not a number: it reads as 0, which "
                                           "becomes 3600, so the database check is ON. Remedy: set "
                                           "exactly 0 to turn it off, or a number of seconds.");
    return kDefaultCheckDbInterval;
  }
  if (number < kDefaultCheckDbInterval) {
    r.warning("QVD_CHECK_DB_INTERVAL", "\"" + value + "\" reads as " + std::to_string(number) +
                                           ", below 3600; 3600 is used" +
                                           (number == 0 ? " and the database check is ON (only "
                                                          "the text 0 turns it off)"
                                                        : "") +
                                           ". Remedy: 0 (off) or 3600 or more.");
    return kDefaultCheckDbInterval;
  }
  if (!isPlainNumber(value)) {
    r.warning("QVD_CHECK_DB_INTERVAL",
              "\"" + value + "\" reads as " + std::to_string(number) +
                  " (only the leading digits count). Remedy: digits only.");
  } else {
    r.ok("QVD_CHECK_DB_INTERVAL", value + " seconds");
  }
  return number;
}

void checkDbConfiguration(const Settings& env, int interval, Report& r) {
  std::string include = textOrNone(env, "QVD_CHECK_DB_INCLUDE_PATH");
  std::string exclude = textOrNone(env, "QVD_CHECK_DB_EXCLUDE_PATH");
  std::string views = textOrNone(env, "QVD_CHECK_DB_VIEW_CONFIG_FILE");
  if (interval <= 0) {
    for (const char* name : {"QVD_CHECK_DB_INCLUDE_PATH", "QVD_CHECK_DB_EXCLUDE_PATH",
                             "QVD_CHECK_DB_VIEW_CONFIG_FILE"}) {
      if (interval == 0 && !textOrNone(env, name).empty())
        r.note(name, "set, but ignored while the database check is off (QVD_CHECK_DB_INTERVAL)");
    }
    return;
  }
  if (include.empty()) {
    r.problem("QVD_CHECK_DB_INCLUDE_PATH",
              "not set (or none) while the database check is on; "
              "start-up stops. Remedy: name the databases or folders "
              "to check, or set QVD_CHECK_DB_INTERVAL=0.");
  } else {
    r.ok("QVD_CHECK_DB_INCLUDE_PATH", include);
  }
  if (!exclude.empty()) r.ok("QVD_CHECK_DB_EXCLUDE_PATH", exclude);
  if (!views.empty()) {
    FILE* file = std::fopen(views.c_str(), "re");
    if (file == nullptr) {
      r.problem("QVD_CHECK_DB_VIEW_CONFIG_FILE",
                views + " cannot be read (" + std::strerror(errno) +
                    "); start-up stops. Remedy: correct the path or the file's permissions, or "
                    "set it to none.");
    } else {
      std::fclose(file);
      // Read the way start-up reads it.
      if (hookParseViewConfigFile(views.c_str()) != 0) {
        r.problem("QVD_CHECK_DB_VIEW_CONFIG_FILE",
                  views +
                      " is not a usable database-view configuration file; start-up stops with "
                      "\"Can not open configuration file " +
                      views +
                      ", exiting...\". Remedy: "
                      "correct the file (run the collector at detail trace level to see why), or "
                      "set it to none.");
      } else {
        r.ok("QVD_CHECK_DB_VIEW_CONFIG_FILE", views);
      }
    }
  }
}

// The status file, the keyword override files and the template.
void checkInstallFiles(const Settings& env, Report& r) {
  std::string home = text(env, "HALCYONHOME");
  std::string arch = text(env, "QVD_BINARCH");
  std::string instance = text(env, "QVD_INSTANCE_NAME");
  if (home.empty() || arch.empty() || instance.empty()) return;
  std::string bin = home + "/" + arch + "/vd/bin/";
  std::string status = bin + "qvd_" + instance + "_status.out";
  if (status.size() >= kStatusFileNameSize) {
    r.warning("status file",
              "path longer than 1023 characters; the status file is not written. "
              "Remedy: a shorter HALCYONHOME or instance name.");
  } else {
    std::string why = writeProblem(status);
    if (!why.empty())
      r.warning("status file",
                status + " cannot be written (" + why +
                    "); start-up goes on "
                    "without it. Remedy: make vd/bin writable for the collector's user.");
    else
      r.ok("status file", status);
  }

  std::string host = bin + "qvdtbl.in";
  std::string own = bin + "qvdtbl_" + instance + ".in";
  std::string chosen;
  for (const std::string& path : {host, own}) {
    if (!exists(path)) continue;
    std::string why = accessProblem(path, R_OK);
    if (!why.empty()) {
      r.warning("keyword overrides",
                path + " exists but cannot be read (" + why +
                    "); it is skipped. Remedy: make it readable or remove it.");
      continue;
    }
    if (chosen.empty()) {
      chosen = path;
    } else {
      r.warning("keyword overrides", own + " is ignored because " + host +
                                         " exists (the host file alone is read). Remedy: put the "
                                         "overrides into one of the two files.");
    }
  }
  if (chosen.empty()) {
    r.ok("keyword overrides", "no override file: the built-in keywords are used");
  } else if (FILE* file = std::fopen(chosen.c_str(), "re")) {
    OverrideFileReport report = checkOverrideFile(file);
    std::fclose(file);
    if (report.problems.empty()) {
      r.ok("keyword overrides", chosen + ": " + std::to_string(report.overrides) + " overrides");
    } else {
      r.warning("keyword overrides", describeOverrideReport(chosen, report) +
                                         "; see keyword-overrides.md for the line format");
      for (const OverrideLineProblem& p : report.problems)
        r.warning("keyword overrides",
                  chosen + " line " + std::to_string(p.line) + ": " + p.message);
    }
  }
  std::string out = bin + "qvdtbl_" + instance + ".out";
  std::string why = writeProblem(out);
  if (!why.empty())
    r.warning("keyword template", out + " cannot be written (" + why +
                                      "); start-up goes on "
                                      "without it.");
}

// Returns false when start-up would stop.
void checkAddIn(const Settings& env, Report& r) {
  std::string port = text(env, "QVD_MVPORT");
  std::string host = text(env, "QVD_MVHOSTNAME");
  if (!port.empty() && port != "none") {
    if (!isPort(port)) {
      r.problem("QVD_MVPORT", "\"" + port +
                                  "\" is not a port number; start-up stops. Remedy: the "
                                  "add-in's port (0 to 65535), or none.");
      return;
    }
    r.ok("QVD_MVPORT", port);
  }
  if (!host.empty() && host != "none") r.ok("QVD_MVHOSTNAME", host);
  bool portSet = !port.empty() && port != "none";
  bool hostSet = !host.empty() && host != "none";
  std::string home = text(env, "HALCYONHOME");
  std::string arch = text(env, "QVD_BINARCH");
  if (portSet && hostSet && !home.empty() && !arch.empty()) {
    std::string relay = home + "/" + arch + "/vd/bin/qvdmvevent";
    struct stat st;
    std::string why = stat(relay.c_str(), &st) != 0 ? std::strerror(errno)
                      : !S_ISREG(st.st_mode)        ? std::string("not a file")
                                                    : effectiveAccessProblem(relay, X_OK);
    if (!why.empty()) {
      r.problem("add-in relay", relay + ": " + why +
                                    "; with QVD_MVPORT and QVD_MVHOSTNAME set the collector starts "
                                    "it to receive the add-in's events, and no event arrives. "
                                    "Remedy: install the add-in's qvdmvevent there, executable by "
                                    "the collector's user, or set QVD_MVPORT=none.");
    } else {
      r.ok("add-in relay", relay);
    }
  }
  if (portSet != hostSet) {
    r.warning(portSet ? "QVD_MVHOSTNAME" : "QVD_MVPORT",
              std::string("not set while ") + (portSet ? "QVD_MVPORT" : "QVD_MVHOSTNAME") +
                  " is: the add-in's threads start only when both are set.");
  }
}

void checkAgentPort(const Settings& env, Report& r) {
  std::string port = text(env, "CP_PORT");
  if (port.empty()) {
    r.note("CP_PORT",
           "not set: the agent sets it when it starts the collector (start-up without "
           "it stops after the first availability check).");
  } else if (!isPort(port)) {
    r.problem("CP_PORT", "\"" + port +
                             "\" is not a port number; start-up stops. Remedy: the "
                             "agent's TCP port on 127.0.0.1 (1 to 65535).");
  } else if (!isPlainNumber(port) || port.find_first_of(" \t+-") != std::string::npos) {
    int number = 0;
    convertDecimal(port.c_str(), &number);
    r.problem("CP_PORT", "\"" + port + "\" is not a port number: start-up would read it as " +
                             std::to_string(number) +
                             " (only the leading digits count) and talk to whatever listens "
                             "there. Remedy: the agent's TCP port on 127.0.0.1, digits only.");
  } else if (std::atoi(port.c_str()) == 0) {
    r.problem("CP_PORT", "\"" + port +
                             "\" is no port an agent can listen on; start-up stops after its "
                             "connection attempts. Remedy: the agent's TCP port on 127.0.0.1 "
                             "(1 to 65535).");
  } else {
    r.ok("CP_PORT", port);
  }
}

// The agent link's own variables, judged by the link's own readers.
void checkAgentLink(const Settings& env, Report& r) {
  std::string size = text(env, "CDP_CPCI_INITIAL_SIZE");
  if (!size.empty()) {
    const char* name = "CDP_CPCI_INITIAL_SIZE";
    long number = linkNumber(size.c_str());
    long taken = linkInitialSize(size.c_str());
    // Larger than any line an agent accepts: no answer ever needs it.
    constexpr long kLargestUseful = 64L << 20;
    if (!hasLeadingDigits(size)) {
      r.warning(name, "\"" + size + "\" is not a number: the agent link reads it as 0 and starts "
                      "each table's answer buffer at 256 bytes. Remedy: a number of bytes, or unset "
                      "it (4096).");
    } else if (taken > kLinkMaxBufferSize) {
      r.problem(name, "\"" + size + "\" reads as " + std::to_string(number) +
                          " bytes, more than an answer buffer can hold (" +
                          std::to_string(kLinkMaxBufferSize) +
                          "): no table gets one, and every answer fails for lack of memory "
                          "(\"cp_SendData(<id>) for <table> failed: -10\"). Remedy: unset it "
                          "(4096), or a few kilobytes.");
    } else if (number < kLinkMinInitialSize) {
      r.warning(name, "\"" + size + "\" reads as " + std::to_string(number) +
                          ", below 256; the agent link uses 256. Remedy: 256 or more, or unset it "
                          "(4096).");
    } else if (taken > kLargestUseful) {
      r.warning(name, "\"" + size + "\" bytes for each table's answer buffer, larger than any "
                      "answer an agent accepts (64 MiB): the registration takes up to " +
                          std::to_string(taken / (1L << 20) * 41) +
                          " MiB for the 41 tables, and where memory is short their answers fail "
                          "for lack of memory. Remedy: unset it (4096); buffers grow as answers "
                          "need.");
    } else if (!isPlainNumber(size)) {
      r.warning(name, "\"" + size + "\" reads as " + std::to_string(taken) +
                          " (only the leading digits count). Remedy: digits only.");
    } else {
      r.ok(name, size + " bytes");
    }
  }
  std::string timeout = text(env, "CDP_CPCI_SEND_TIMEOUT");
  if (!timeout.empty()) {
    const char* name = "CDP_CPCI_SEND_TIMEOUT";
    bool refused = false;
    long seconds = linkSendTimeout(timeout.c_str(), &refused);
    if (refused) {
      std::string read = hasLeadingDigits(timeout)
                             ? "reads as " + std::to_string(linkNumber(timeout.c_str())) + ", not"
                             : "is not a number, not";
      r.warning(name, "\"" + timeout + "\" " + read +
                          " 1 to 86400 seconds: the agent link says so in its trace and gives an "
                          "agent that takes nothing 30 seconds. Remedy: seconds from 1 to 86400, "
                          "or unset it (30).");
    } else if (!isPlainNumber(timeout)) {
      r.warning(name, "\"" + timeout + "\" reads as " + std::to_string(seconds) +
                          " seconds (only the leading digits count). Remedy: digits only.");
    } else {
      r.ok(name, timeout + " seconds");
    }
  }
}

void checkSwitches(const Settings& env, Report& r) {
  struct Switch {
    const char* name;
    const char* table;
  };
  for (const Switch& s : {Switch{"QVD_LOG_VDB_MONITOR", "Velora_Replication"},
                          Switch{"QVD_VELORA_GROUP_MONITOR", "Velora_Group_Updates"}}) {
    std::string value = text(env, s.name);
    if (value.empty()) continue;
    if (strcasecmp(value.c_str(), "ON") == 0) {
      r.ok(s.name, value + ": the " + s.table + " table is on");
    } else if (strcasecmp(value.c_str(), "OFF") == 0) {
      r.ok(s.name, value + ": the " + s.table + " table is off");
    } else {
      r.warning(s.name, "\"" + value + "\" is neither ON nor OFF: the " + s.table +
                            " table stays off. Remedy: ON to turn it on, OFF (or unset) to keep "
                            "it off.");
    }
  }
}

void checkTrace(const Settings& env, Report& r) {
  std::string control = text(env, "QVD_TRACE_CONTROL");
  std::string levels = text(env, "QVD_TRACE");
  std::string source = "QVD_TRACE";
  if (!control.empty() && exists(control)) {
    FILE* file = std::fopen(control.c_str(), "re");
    if (file == nullptr) {
      r.warning("QVD_TRACE_CONTROL", control + " cannot be read (" + std::strerror(errno) +
                                         "); QVD_TRACE applies. Remedy: make it readable.");
    } else {
      char line[4096];
      if (std::fgets(line, sizeof line, file) != nullptr && line[strspn(line, " \t\r\n")] != '\0') {
        levels = line;
        source = "the control file " + control;
      }
      std::fclose(file);
    }
  }
  for (const std::string& word : TraceUnknownWords(levels.c_str())) {
    r.warning(source == "QVD_TRACE" ? "QVD_TRACE" : "QVD_TRACE_CONTROL",
              "\"" + word + "\" in " + source +
                  " is not a trace level and is ignored. Remedy: "
                  "none, error, flow, detail, all or a number, optionally per unit as in "
                  "error,stats=detail.");
  }
  std::string file = text(env, "QVD_TRACE_FILE");
  if (!file.empty()) {
    std::string why = writeProblem(file);
    if (!why.empty())
      r.warning("QVD_TRACE_FILE",
                file + " cannot be written (" + why +
                    "); trace lines go to "
                    "standard error. Remedy: a path the collector's user may write.");
  }
}

// Edit distance, for suggesting the name that was probably meant.
size_t distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

const std::vector<std::string>& knownSettingNames() {
  static const std::vector<std::string> kNames = {
      "QVD_SERVER",
      "QVD_VAXELINIPATH",
      "QVD_BINARCH",
      "QVD_INSTANCE_NAME",
      "QVD_LOG_INCLUDE",
      "QVD_LOG_EXCLUDE",
      "QVD_PING_INTERVAL",
      "QVD_CHECK_DB_INTERVAL",
      "QVD_CHECK_DB_INCLUDE_PATH",
      "QVD_CHECK_DB_EXCLUDE_PATH",
      "QVD_CHECK_DB_VIEW_CONFIG_FILE",
      "QVD_MVPORT",
      "QVD_MVHOSTNAME",
      "QVD_LOG_VDB_MONITOR",
      "QVD_VELORA_GROUP_MONITOR",
      "QVD_TRACE",
      "QVD_TRACE_FILE",
      "QVD_TRACE_CONTROL",
  };
  return kNames;
}

std::vector<std::string> unknownSettingWarnings(const Settings& env) {
  std::vector<std::string> warnings;
  const std::vector<std::string>& known = knownSettingNames();
  for (const auto& entry : env) {
    const std::string& name = entry.first;
    // qvd_server is as much a mistake as QVD_SERVR.
    if (name.size() < 4 || strncasecmp(name.c_str(), "QVD_", 4) != 0) continue;
    if (std::find(known.begin(), known.end(), name) != known.end()) continue;
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string best;
    size_t bestDistance = 4;  // suggest only names that are close
    for (const std::string& k : known) {
      size_t d = distance(upper, k);
      if (d < bestDistance) {
        bestDistance = d;
        best = k;
      }
    }
    std::string warning = name + " is not a setting of the collector and is ignored";
    warning += best.empty() ? "." : "; did you mean " + best + "?";
    warnings.push_back(warning);
  }
  return warnings;
}

Settings currentSettings() {
  Settings env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq == nullptr) continue;
    env.emplace(std::string(*e, static_cast<size_t>(eq - *e)), std::string(eq + 1));
  }
  return env;
}

std::vector<Finding> checkConfiguration(const Settings& env) {
  Report r;
  checkLibrary(r);
  bool complete = checkRequired(env, r);
  checkIniAndLock(env, r);
  checkPingInterval(env, r);
  int interval = checkDbInterval(env, r);
  checkDbConfiguration(env, interval, r);
  if (complete) checkInstallFiles(env, r);
  checkAddIn(env, r);
  checkAgentPort(env, r);
  checkAgentLink(env, r);
  checkSwitches(env, r);
  checkTrace(env, r);
  for (const std::string& w : unknownSettingWarnings(env)) {
    size_t blank = w.find(' ');
    r.warning(w.substr(0, blank), w.substr(blank + 1));
  }
  return r.take();
}

int reportFindings(const std::vector<Finding>& findings, FILE* out) {
  int problems = 0, warnings = 0;
  for (const Finding& f : findings) {
    const char* word = "ok";
    switch (f.severity) {
      case Severity::kOk:
        word = "ok";
        break;
      case Severity::kNote:
        word = "note";
        break;
      case Severity::kWarning:
        word = "warning";
        ++warnings;
        break;
      case Severity::kProblem:
        word = "problem";
        ++problems;
        break;
    }
    std::fprintf(out, "%-8s %s: %s\n", word, f.subject.c_str(), f.message.c_str());
  }
  std::fprintf(out, "%d problem%s, %d warning%s: %s\n", problems, problems == 1 ? "" : "s",
               warnings, warnings == 1 ? "" : "s",
               problems == 0 ? "start-up would get through" : "start-up would stop");
  return problems == 0 ? 0 : 1;
}
