#include "core/startup.h"

#include <pthread.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "agentlink/cp_client.h"
#include "core/availability.h"
#include "core/dispatch.h"
#include "core/hooks.h"
#include "core/runtime_end.h"
#include "core/start_notes.h"
#include "core/switches.h"
#include "dbhealth/translog_checker.h"
#include "framework/services.h"
#include "framework/trace.h"
#include "serverapi/orlan_api_loader.h"
#include "serverapi/qvd_api.h"
#include "state/globals.h"
#include "stats/catalogue.h"
#include "stats/keyword_file.h"

QVD_TRACE_UNIT("core/startup");

namespace {

constexpr int kDefaultPingInterval = 30;
constexpr int kDefaultCheckDbInterval = 3600;
constexpr size_t kNameSize = 256;

// Storage for the names once the server runtime has settled them.
char canonicalName[kNameSize];
char abbreviatedName[kNameSize];

// The environment text of `name`, or null when unset or empty.
char* envText(const char* name) {
  const char* value = EnvGet(name, 0);
  if (value == nullptr || value[0] == '\0') return nullptr;
  return const_cast<char*>(value);
}

// envText, with "none" counting as absent too.
char* envTextOrNone(const char* name) {
  char* value = envText(name);
  if (value != nullptr && strcmp(value, "none") == 0) return nullptr;
  return value;
}

// Copies `text` into the fixed field `field` of `size` bytes, cut to fit.
void copyField(char* field, size_t size, const char* text) {
  snprintf(field, size, "%s", text == nullptr ? "" : text);
}

// A port must be digits that make a valid TCP port: a text without digits
// would otherwise become port 0, which no agent listens on.
bool convertPort(const char* text, int* port) {
  const char* p = text;
  while (isspace((unsigned char)*p)) ++p;
  if (*p == '+' || *p == '-') ++p;
  if (!isdigit((unsigned char)*p)) return false;
  return convertDecimal(text, port) && *port <= 65535;
}

bool containsCN(const char* name) {
  for (const char* p = name; p[0] != '\0' && p[1] != '\0' && p[2] != '\0'; ++p)
    if ((p[0] == 'C' || p[0] == 'c') && (p[1] == 'N' || p[1] == 'n') && p[2] == '=') return true;
  return false;
}

bool containsO(const char* name) {
  return strstr(name, "O=") != nullptr || strstr(name, "o=") != nullptr;
}

// Reads the required and optional texts.  False: a required value
// is absent; the line naming it has been written.
bool readEnvironment() {
  struct Required {
    const char* variable;
    char** global;
    const char* missing;
    const char* found;
  };
  auto need = [](const Required& r) {
    *r.global = envText(r.variable);
    if (*r.global == nullptr) {
      QVD_ALWAYS("%s", r.missing);
      return false;
    }
    QVD_ALWAYS(r.found, *r.global);
    return true;
  };
  static const Required kFirst[] = {
      {"QVD_SERVER", &server_name,
       "Velora Server Name must be provided in the environment(QVD_SERVER), exiting...",
       "Velora Server Name QVD_SERVER(%s) found"},
      {"QVD_VAXELINIPATH", &vaxelinipath,
       "vaxel.ini path must be provided in the environment(QVD_VAXELINIPATH), exiting...",
       "vaxel.ini path QVD_VAXELINIPATH(%s) found"},
      {"HALCYONHOME", &halcyon_home,
       "Halcyon home must be provided in the environment(HALCYONHOME), exiting...",
       "HALCYONHOME(%s) found"},
      {"QVD_BINARCH", &binArch,
       "Machine architecture must be provided in the environment(QVD_BINARCH), exiting...",
       "QVD_BINARCH(%s) found"},
  };
  for (const Required& r : kFirst)
    if (!need(r)) return false;

  vaxelloginclude = envText("QVD_LOG_INCLUDE");
  QVD_ALWAYS("Velora database replication include string: %s",
             vaxelloginclude ? vaxelloginclude : "(null)");
  vaxellogexclude = envText("QVD_LOG_EXCLUDE");
  QVD_ALWAYS("Velora database replication exclude string: %s",
             vaxellogexclude ? vaxellogexclude : "(null)");

  static const Required kInstance = {
      "QVD_INSTANCE_NAME", &instance_name,
      "Instance name must be provided in the environment(QVD_INSTANCE_NAME), exiting...",
      "QVD_INSTANCE_NAME(%s) found"};
  if (!need(kInstance)) return false;
  // The name becomes part of file names in the install's bin directory
  // (status file, keyword files, template): a '/' would put them elsewhere.
  if (strchr(instance_name, '/') != nullptr) {
    QVD_ALWAYS("Instance name QVD_INSTANCE_NAME(%s) must not contain '/': it is part of the names "
               "of the collector's files in %s/%s/vd/bin, exiting...",
               instance_name, halcyon_home, binArch);
    return false;
  }
  return true;
}

// Initialises the server runtime with the transaction log switched off
// around it.
bool initRuntime(int argc, char** argv) {
  VeloraTransLogChecker::setupEnv(vaxelinipath, halcyon_home, binArch);
  QVD_ALWAYS("VxInitRuntime: initing the Velora and Vaxel runtime system");
  if (VeloraTransLogChecker::checkAndDisableTransLog() != 0) return false;
  VxStatus status = QVD_VxInitRuntime(argc, argv);
  // The ini file is restored whatever the runtime gave.
  if (VeloraTransLogChecker::checkAndEnableTransLog() != 0) return false;
  if (status != 0) {
    QVD_ALWAYS("Velora VxInitRuntime failed with rc: %d", (int)status);
    char message[256] = "";
    QVD_VxLoadString(0, status & 0x3FFF, message, sizeof message - 1);
    QVD_ALWAYS("VxInitRuntime status %d: %s", (int)status, message);
    return false;
  }
  QVD_ALWAYS("Velora VxInitRuntime succeeded");
  return true;
}

// Settles the canonical and abbreviated names.  False: the server
// rejected the name; the runtime is already terminated.
bool settleNames() {
  server_name_abbr = server_name;
  char buffer[kNameSize];
  uint16_t length = 0;
  if (containsCN(server_name)) {
    if (containsO(server_name)) {
      memset(buffer, 0, sizeof buffer);
      VxStatus status = QVD_VxNameAbbreviate(0, nullptr, server_name, buffer, kNameSize, &length);
      if (status != 0) {
        QVD_ALWAYS("Velora VxNameAbbreviate failed with rc: %d", (int)status);
        QVD_VxTermRuntime();
        return false;
      }
      buffer[kNameSize - 1] = '\0';
      copyField(abbreviatedName, sizeof abbreviatedName, buffer);
      server_name_abbr = abbreviatedName;
    } else {
      QVD_ALWAYS("Velora Canonical Server Name(%s) is missing the O= identifer", server_name);
    }
  } else if (containsO(server_name)) {
    QVD_ALWAYS("Velora Canonical Server Name(%s) is missing the CN= identifer", server_name);
  } else {
    memset(buffer, 0, sizeof buffer);
    VxStatus status =
        QVD_VxNameCanonicalize(0, nullptr, server_name_abbr, buffer, kNameSize, &length);
    if (status != 0) {
      QVD_ALWAYS("Velora VxNameCanonicalize failed with rc: %d", (int)status);
      QVD_VxTermRuntime();
      return false;
    }
    buffer[kNameSize - 1] = '\0';
    copyField(canonicalName, sizeof canonicalName, buffer);
    server_name = canonicalName;
  }
  QVD_ALWAYS("Velora Canonical Server Name: %s", server_name);
  QVD_ALWAYS("Velora Abbreviated Server Name: %s", server_name_abbr);
  return true;
}

// The number of dispatch-loop passes between availability checks.
int readPingInterval() {
  int interval = kDefaultPingInterval;
  const char* text = envText("QVD_PING_INTERVAL");
  if (text == nullptr) {
    QVD_ALWAYS("Ping interval not found in the environment(QVD_PING_INTERVAL), setting to %d seconds",
               interval);
  } else {
    QVD_ALWAYS("QVD_PING_INTERVAL(%s) found", text);
    int value = 0;
    if (!convertDecimal(text, &value)) {
      QVD_ALWAYS("Ping interval conversion error on QVD_PING_INTERVAL: %s, setting to %d seconds",
                 text, interval);
    } else if (value < kDefaultPingInterval) {
      QVD_ALWAYS("Ping interval value QVD_PING_INTERVAL: %d, must be greater than the default(%d) seconds",
                 value, kDefaultPingInterval);
    } else {
      interval = value;
    }
  }
  QVD_ALWAYS("Velora Server ping interval in seconds=%d", interval);
  return interval;
}

// Sets qvd_check_db_interval.  False: an invalid value; the
// runtime is already terminated.
bool readCheckDbInterval() {
  qvd_check_db_interval = 0;
  const char* text = envText("QVD_CHECK_DB_INTERVAL");
  if (text == nullptr) {
    QVD_ALWAYS("Checking database interval not found in the environment(QVD_CHECK_DB_INTERVAL), "
               "setting to %d. The checking of database will not run.",
               qvd_check_db_interval);
  } else {
    QVD_ALWAYS("QVD_CHECK_DB_INTERVAL(%s) found", text);
    int value = 0;
    if (strcmp(text, "0") == 0) {
      QVD_ALWAYS("Checking database interval is set to 0, so the checking of database will not run.");
    } else if (!convertDecimal(text, &value)) {
      QVD_ALWAYS("Checking database conversion error on QVD_CHECK_DB_INTERVAL: %s. "
                 "The specified value is not valid, exiting...",
                 text);
      QVD_VxTermRuntime();
      return false;
    } else if (value < 0) {
      QVD_ALWAYS("QVD_CHECK_DB_INTERVAL: %s is not valid value, exiting...", text);
      QVD_VxTermRuntime();
      return false;
    } else if (value < kDefaultCheckDbInterval) {
      QVD_ALWAYS("Checking database interval QVD_CHECK_DB_INTERVAL: %d, must be greater than the "
                 "default(%d) seconds",
                 value, kDefaultCheckDbInterval);
      qvd_check_db_interval = kDefaultCheckDbInterval;
    } else {
      qvd_check_db_interval = value;
    }
  }
  QVD_ALWAYS("Checking database interval in seconds=%d", qvd_check_db_interval);
  return true;
}

// The database check configuration, when the check is on.
// False: start-up stops; the runtime is already terminated.
bool readCheckDbConfiguration() {
  if (qvd_check_db_interval == 0) return true;
  checkDbIncludePath = envTextOrNone("QVD_CHECK_DB_INCLUDE_PATH");
  if (checkDbIncludePath == nullptr) {
    QVD_ALWAYS("Checking database include path must be provided in the "
               "environment(QVD_CHECK_DB_INCLUDE_PATH), exiting...");
    QVD_VxTermRuntime();
    return false;
  }
  QVD_ALWAYS("Checking database include path QVD_CHECK_DB_INCLUDE_PATH(%s) found ",
             checkDbIncludePath);
  checkDbExcludePath = envTextOrNone("QVD_CHECK_DB_EXCLUDE_PATH");
  if (checkDbExcludePath == nullptr) {
    QVD_ALWAYS("Checking database exclude path not provided in the "
               "environment(QVD_CHECK_DB_EXCLUDE_PATH)");
  } else {
    QVD_ALWAYS("Checking database exclude path QVD_CHECK_DB_EXCLUDE_PATH(%s) found",
               checkDbExcludePath);
  }
  hookCheckDatabasePaths();

  db_view_config_file = envTextOrNone("QVD_CHECK_DB_VIEW_CONFIG_FILE");
  if (db_view_config_file == nullptr) {
    QVD_ALWAYS("Checking database-view configuration file path not provided in the "
               "environment(QVD_CHECK_DB_VIEW_CONFIG_FILE)");
  } else if (hookParseViewConfigFile(db_view_config_file) != 0) {
    QVD_ALWAYS("Can not open configuration file %s, exiting...", db_view_config_file);
    QVD_VxTermRuntime();
    return false;
  } else {
    QVD_ALWAYS("Checking database-view configuration file path QVD_CHECK_DB_VIEW_CONFIG_FILE(%s) found",
               db_view_config_file);
  }
  return true;
}

void buildStatusFileName() {
  int n = snprintf(statusFileName, sizeof statusFileName, "%s/%s/vd/bin/qvd_%s_status.out",
                   halcyon_home, binArch, instance_name);
  if (n < 0 || (size_t)n >= sizeof statusFileName) {
    // A cut path would name some other file: leave the status file unwritten.
    QVD_ERROR("status file path is longer than %d characters", (int)sizeof statusFileName - 1);
    statusFileName[0] = '\0';
  }
  QVD_ALWAYS("statusFileName: %s", statusFileName);
}

// The add-in settings.  False: an invalid port; the runtime is
// already terminated.
bool readAddInSettings() {
  mvPort = envText("QVD_MVPORT");
  if (mvPort == nullptr) {
    QVD_ALWAYS("MV Port not found in the environment(QVD_MVPORT)");
  } else {
    QVD_ALWAYS("MV Port: %s found", mvPort);
    int port = 0;
    if (strcmp(mvPort, "none") == 0) {
      mvPort = nullptr;
    } else if (!convertPort(mvPort, &port) || port < 0) {
      QVD_ALWAYS("Mv Port numeric conversion error on port: %s, exiting...", mvPort);
      QVD_VxTermRuntime();
      return false;
    }
  }
  nicHostname = envText("QVD_MVHOSTNAME");
  if (nicHostname == nullptr) {
    QVD_ALWAYS("nic hostname not found in the environment(QVD_MVHOSTNAME)");
  } else {
    QVD_ALWAYS("nic hostname: %s found", nicHostname);
    if (strcmp(nicHostname, "none") == 0) nicHostname = nullptr;
  }
  return true;
}

// The agent port.  False: absent or invalid; the runtime is
// already terminated.
bool readAgentPort() {
  port_number = envText("CP_PORT");
  if (port_number == nullptr) {
    QVD_ALWAYS("Agent Port must be provided in the environment(CP_PORT), exiting...");
    QVD_VxTermRuntime();
    return false;
  }
  int port = 0;
  if (!convertPort(port_number, &port) || port < 0) {
    QVD_ALWAYS("Agent Port conversion error on port_number: %s, exiting...", port_number);
    QVD_VxTermRuntime();
    return false;
  }
  QVD_ALWAYS("Agent Port CP_PORT(%s) found", port_number);
  cp_setPort(port);
  return true;
}

bool groupWanted(const QvdTableDescriptor& table) {
  switch (table.condition) {
    case QVD_REGISTER_ALWAYS: return true;
    case QVD_REGISTER_IF_LOG_VDB_MONITOR: return isLogVdbMonitorEnabled();
    case QVD_REGISTER_IF_CHECK_DB: return qvd_check_db_interval != 0;
    case QVD_REGISTER_IF_GROUP_MONITOR: return isVeloraGroupMonitorEnabled();
  }
  return false;
}

// Connects to the agent and registers the groups.  False:
// start-up stops; the runtime is terminated, the connection closed.
bool connectAndRegister() {
  QVD_ALWAYS("cp_OpenConnection for Velora Server: %s on port: %s", server_name, port_number);
  int rc = cp_OpenConnection();
  if (rc != 0) {
    QVD_ALWAYS("cp_OpenConnection failed: %d", rc);
    QVD_VxTermRuntime();
    return false;
  }
  for (const QvdTableDescriptor& table : qvdTableCatalogue) {
    if (!groupWanted(table)) continue;
    QVD_ALWAYS("cp_RegisterAttrGroup: handle=%s", table.groupName);
    rc = cp_RegisterAttrGroup(table.groupName, table.version, tableToken(&table));
    if (rc != 0) {
      QVD_ALWAYS("cp_RegisterAttrGroup: handle%c%s failed: %d", table.registerSeparator,
                 table.groupName, rc);
      QVD_VxTermRuntime();
      cp_CloseConnection();
      return false;
    }
  }
  QVD_ALWAYS("cp_RegistrationComplete for Velora Server: %s", server_name);
  rc = cp_RegistrationComplete();
  if (rc != 0) {
    QVD_ALWAYS("cp_RegistrationComplete failed: %d", rc);
    QVD_VxTermRuntime();
    cp_CloseConnection();
    return false;
  }
  return true;
}

// A separator field of the settings record, which the server need not
// terminate.
void separatorText(const char (&field)[5], char (&out)[6]) {
  memcpy(out, field, sizeof field);
  out[5] = '\0';
}

// Builds the server information block.  False: no memory.
bool buildServerInfoBlock(const char* programName) {
  if (GLOBAL_ServerInfoBlock != nullptr) return true;
  auto* block = static_cast<_ServerInfoBlock*>(calloc(1, sizeof(_ServerInfoBlock)));
  if (block == nullptr) {
    QVD_ERROR("malloc error for GLOBAL_ServerInfoBlock");
    return false;
  }
  copyField(block->programName, sizeof block->programName, programName);
  QVD_ALWAYS("program called: %s", block->programName);
  block->intlSettings = intl_format;
  char dataDirectory[VX_MAXPATH];
  memset(dataDirectory, 0, sizeof dataDirectory);
  QVD_VxGetDataDirectory(dataDirectory);
  dataDirectory[sizeof dataDirectory - 1] = '\0';
  copyField(block->dataDirectory, sizeof block->dataDirectory, dataDirectory);
  copyField(block->serverNameAbbr, sizeof block->serverNameAbbr, server_name_abbr);
  copyField(block->serverNameCanonical, sizeof block->serverNameCanonical, server_name);
  QVD_ALWAYS("Velora Canonical Server Name: %s", block->serverNameCanonical);
  QVD_DETAIL("data directory: %s", block->dataDirectory);
  GLOBAL_ServerInfoBlock = block;
  return true;
}

void releaseServerInfoBlock() {
  free(GLOBAL_ServerInfoBlock);
  GLOBAL_ServerInfoBlock = nullptr;
}

}  // namespace

bool convertDecimal(const char* text, int* value) {
  errno = 0;
  char* end = nullptr;
  long number = strtol(text, &end, 10);
  if (errno != 0 || number < INT_MIN || number > INT_MAX) {
    *value = 0;
    return false;
  }
  *value = (int)number;
  return true;
}

namespace {

// Start-up steps and the dispatch loop; returns the exit status.
int run(int argc, char** argv) {
  QVD_ALWAYS("%s", startLine().c_str());
  traceSettingWarnings();
  OrlanAPILoaderFactory loader;
  if (loader.hasLoadAPIErr()) {
    QVD_ALWAYS("There were errors to load Orlan C API. Exiting...");
    return kExitStartupFailed;
  }

  mveventpid = 0;
  const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "";
  QVD_DETAIL("program called: %s", program);
  if (argc <= 1) {
    QVD_DETAIL("no arguments found");
  } else {
    for (int i = 1; i < argc; ++i) QVD_DETAIL("argv[%d] = %s", i, argv[i]);
  }

  if (!readEnvironment()) return kExitStartupFailed;
  if (!initRuntime(argc, argv)) return kExitStartupFailed;
  if (!settleNames()) return kExitStartupFailed;
  int pingInterval = readPingInterval();
  if (!readCheckDbInterval()) return kExitStartupFailed;
  if (!readCheckDbConfiguration()) return kExitStartupFailed;
  buildStatusFileName();

  if (QVD_VxShouldTerminate() != 0) {
    QVD_DETAIL("calling VxTermRuntime...");
    QVD_VxTermRuntime();
    QVD_ALWAYS("Shutting down qvdclient with rc=31 for Velora Server: %s...", server_name);
    return kExitServerEnded;
  }
  pingServerCluster();
  loadTables();

  if (!readAddInSettings()) return kExitStartupFailed;
  if (!readAgentPort()) return kExitStartupFailed;
  if (!connectAndRegister()) return kExitStartupFailed;

  if (mvPort != nullptr && nicHostname != nullptr) {
    const char* threadName = nullptr;
    int rc = hookStartAddInThreads(&threadName);
    if (rc != 0) {
      QVD_ALWAYS("Can't create pthread(%s) errno:(%s)", threadName ? threadName : "MVConfigure",
                 strerror(rc));
      endServerRuntime();
      return kExitStartupFailed;
    }
  }

  QVD_VxGetIntlSettings(&intl_format, sizeof intl_format);
  char decimal[6], thousand[6];
  separatorText(intl_format.DecimalString, decimal);
  separatorText(intl_format.ThousandString, thousand);
  QVD_ALWAYS("VxGetIntlSettings: decimal(%s) thousand_sep(%s)", decimal, thousand);

  resetStatsClock();

  // From here on the add-in threads may run: every way out stops them
  // before the server runtime ends.
  if (!buildServerInfoBlock(program)) {
    endServerRuntime();
    return kExitNoMemory;
  }

  int rc = startRequestIntake();
  if (rc != 0) {
    QVD_ALWAYS("Can't create pthread(waitForRequest) errno:(%s)", strerror(rc));
    endServerRuntime();
    stopRequestIntake();
    releaseServerInfoBlock();
    return kExitStartupFailed;
  }
  if (qvd_check_db_interval != 0) {
    rc = hookStartDatabaseCheckThread();
    if (rc != 0) {
      QVD_ALWAYS("Can't create pthread(checkDBThread) errno:(%s)", strerror(rc));
      endServerRuntime();
      stopRequestIntake();
      releaseServerInfoBlock();
      return kExitStartupFailed;
    }
  }
  if (isVeloraGroupMonitorEnabled()) hookGroupAnalyzerInit(server_name);

  return runDispatchLoop(pingInterval);
}

}  // namespace

int qvdMain(int argc, char** argv) {
  QVD_ENTRY();
  int status = run(argc, argv);
  QVD_EXIT(status);
  return status;
}
