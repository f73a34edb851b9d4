// Start-up of the real collector as the agent sees it: what stops it (with
// the trace line that names the cause and the exit status), how names and
// intervals are settled, and what it registers.
#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

#include <regex>

#include "e2e_testutil.h"

namespace e2e {
namespace {

// A collector that is expected to stop during start-up: nothing is sent,
// agentsim waits for it to end.
Session startOnly(const Install& install, const std::map<std::string, std::string>& env) {
  return runSession(install, env, {}, "wait", {"--wait-exit", "20"});
}

// A collector that starts fully: wait for its registration, then shut down.
Session startAndShutDown(const Install& install, const std::map<std::string, std::string>& env) {
  return runSession(install, env, {"registration"});
}

TEST(StartupFailures, RequiredValueAbsentStopsWithItsLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"QVD_SERVER",
       "Velora Server Name must be provided in the environment(QVD_SERVER), exiting..."},
      {"QVD_VAXELINIPATH",
       "vaxel.ini path must be provided in the environment(QVD_VAXELINIPATH), exiting..."},
      {"HALCYONHOME", "Halcyon home must be provided in the environment(HALCYONHOME), exiting..."},
      {"QVD_BINARCH",
       "Machine architecture must be provided in the environment(QVD_BINARCH), exiting..."},
      {"QVD_INSTANCE_NAME",
       "Instance name must be provided in the environment(QVD_INSTANCE_NAME), exiting..."},
  };
  Install install;
  for (const auto& [variable, line] : cases) {
    for (const char* value : {"unset", ""}) {
      auto env = install.env();
      if (std::string(value) == "unset")
        env.erase(variable);
      else
        env[variable] = value;
      Session s = startOnly(install, env);
      EXPECT_EQ(0, s.collectorStatus()) << variable << " " << value << "\n" << s.problems();
      EXPECT_TRUE(s.traced(line)) << variable;
      EXPECT_FALSE(s.traced("VxInitRuntime: initing")) << variable;
      EXPECT_TRUE(s.ofType("connected").empty()) << variable;
    }
  }
}

TEST(StartupFailures, ServerRuntimeAndNameFailures) {
  Install install;
  // The runtime refuses to start: the ini file is restored all the same.
  install.writeModel("server.json", R"({"initRuntime": 421})");
  Session s = startOnly(install, install.env());
  EXPECT_EQ(0, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("Velora VxInitRuntime failed with rc: 421"));
  EXPECT_EQ("[Vaxel]\nTRANSLOG_STATUS=0\nPREVIOUS_TRANSLOG_STATUS=0\n",
            readFile(install.iniDir() + "/vaxel.ini"));

  install.writeModel("server.json", R"({"faults": {"VxNameAbbreviate": 283}})");
  auto env = install.env();
  env["QVD_SERVER"] = "CN=srv1/O=acme";
  s = startOnly(install, env);
  EXPECT_EQ(0, s.collectorStatus());
  EXPECT_TRUE(s.traced("Velora VxNameAbbreviate failed with rc: 283"));

  install.writeModel("server.json", R"({"faults": {"VxNameCanonicalize": 284}})");
  s = startOnly(install, install.env());
  EXPECT_EQ(0, s.collectorStatus());
  EXPECT_TRUE(s.traced("Velora VxNameCanonicalize failed with rc: 284"));
}

TEST(StartupFailures, TransactionLogSwitchFailureStops) {
  Install install;
  // Without the installation's lock file the ini file cannot be guarded.
  unlink((install.binDir() + "/qvdstart.sh").c_str());
  Session s = startOnly(install, install.env());
  EXPECT_EQ(0, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("VxInitRuntime: initing the Velora and Vaxel runtime system"));
  EXPECT_FALSE(s.traced("Velora VxInitRuntime succeeded"));
}

TEST(StartupFailures, DatabaseCheckSettings) {
  Install install;
  struct Case {
    std::map<std::string, std::string> set;
    const char* line;
  } cases[] = {
      {{{"QVD_CHECK_DB_INTERVAL", "-5"}}, "QVD_CHECK_DB_INTERVAL: -5 is not valid value, exiting..."},
      {{{"QVD_CHECK_DB_INTERVAL", "99999999999"}},
       "Checking database conversion error on QVD_CHECK_DB_INTERVAL: 99999999999. The specified "
       "value is not valid, exiting..."},
      {{{"QVD_CHECK_DB_INTERVAL", "3600"}},
       "Checking database include path must be provided in the "
       "environment(QVD_CHECK_DB_INCLUDE_PATH), exiting..."},
      {{{"QVD_CHECK_DB_INTERVAL", "3600"}, {"QVD_CHECK_DB_INCLUDE_PATH", "none"}},
       "Checking database include path must be provided in the "
       "environment(QVD_CHECK_DB_INCLUDE_PATH), exiting..."},
      {{{"QVD_CHECK_DB_INTERVAL", "3600"},
        {"QVD_CHECK_DB_INCLUDE_PATH", "mail/*"},
        {"QVD_CHECK_DB_VIEW_CONFIG_FILE", "/nonexistent/views.cfg"}},
       "Can not open configuration file /nonexistent/views.cfg, exiting..."},
  };
  for (const Case& c : cases) {
    auto env = install.env();
    for (const auto& [k, v] : c.set) env[k] = v;
    Session s = startOnly(install, env);
    EXPECT_EQ(0, s.collectorStatus()) << c.line << "\n" << s.problems();
    EXPECT_TRUE(s.traced(c.line)) << c.line;
    EXPECT_TRUE(s.ofType("connected").empty()) << c.line;
  }
}

TEST(StartupFailures, PortsAndServerTermination) {
  Install install;
  struct Case {
    std::map<std::string, std::string> set;
    std::vector<std::string> extra;
    const char* line;
    int status;
  } cases[] = {
      {{{"QVD_MVPORT", "-1"}}, {}, "Mv Port numeric conversion error on port: -1, exiting...", 0},
      {{{"QVD_MVPORT", "port"}}, {}, "Mv Port numeric conversion error on port: port, exiting...", 0},
      {{}, {"--unset", "CP_PORT"}, "Agent Port must be provided in the environment(CP_PORT), exiting...", 0},
      {{{"CP_PORT", "abc"}}, {}, "Agent Port conversion error on port_number: abc, exiting...", 0},
      {{{"CP_PORT", "-7"}}, {}, "Agent Port conversion error on port_number: -7, exiting...", 0},
  };
  for (const Case& c : cases) {
    auto env = install.env();
    for (const auto& [k, v] : c.set) env[k] = v;
    std::vector<std::string> extra = c.extra;
    extra.insert(extra.end(), {"--wait-exit", "20"});
    Session s = runSession(install, env, {}, "wait", extra);
    EXPECT_EQ(c.status, s.collectorStatus()) << c.line << "\n" << s.problems();
    EXPECT_TRUE(s.traced(c.line)) << c.line;
  }

  // The server asks its programs to end before the first availability check.
  install.writeModel("terminate", "");
  Session s = startOnly(install, install.env());
  EXPECT_EQ(31, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("Shutting down qvdclient with rc=31 for Velora Server: CN=srv1/O=acme..."));
  EXPECT_FALSE(s.traced("Writing server status"));
}

TEST(StartupFailures, AgentNotListening) {
  Install install;
  auto env = install.env();
  env["CP_PORT"] = "1";  // nobody listens there
  Session s = runSession(install, env, {}, "wait", {"--wait-exit", "90", "--accept-timeout", "90"});
  EXPECT_EQ(0, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("cp_OpenConnection for Velora Server: CN=srv1/O=acme on port: 1"));
  EXPECT_TRUE(s.traced("cp_OpenConnection failed: -2"));
}

TEST(Startup, ServerNames) {
  Install install;
  struct Case {
    const char* configured;
    const char* canonical;
    const char* abbreviated;
    const char* warning;
  } cases[] = {
      {"CN=srv1/O=acme", "CN=srv1/O=acme", "srv1/acme", nullptr},
      {"cn=srv1/o=acme", "cn=srv1/o=acme", "srv1/acme", nullptr},
      {"srv1/acme", "CN=srv1/O=acme", "srv1/acme", nullptr},
      {"CN=srv1/OU=x", "CN=srv1/OU=x", "CN=srv1/OU=x",
       "Velora Canonical Server Name(CN=srv1/OU=x) is missing the O= identifer"},
      {"srv1/o=acme", "srv1/o=acme", "srv1/o=acme",
       "Velora Canonical Server Name(srv1/o=acme) is missing the CN= identifer"},
  };
  for (const Case& c : cases) {
    auto env = install.env();
    env["QVD_SERVER"] = c.configured;
    Session s = runSession(install, env, {"request Velora_Server", "expect all"});
    EXPECT_EQ(0, s.agentsimStatus) << c.configured << "\n" << s.problems();
    EXPECT_TRUE(s.traced(std::string("Velora Canonical Server Name: ") + c.canonical + "\n"))
        << c.configured;
    EXPECT_TRUE(s.traced(std::string("Velora Abbreviated Server Name: ") + c.abbreviated + "\n"))
        << c.configured;
    if (c.warning) {
      EXPECT_TRUE(s.traced(c.warning)) << c.configured;
    }
    // Every row names the server by its canonical name.
    auto answers = s.answers("Velora_Server");
    ASSERT_EQ(1u, answers.size()) << c.configured;
    ASSERT_EQ(1u, answers[0]["rows"].size()) << c.configured;
    EXPECT_EQ(c.canonical, answers[0]["rows"][0][0]) << c.configured;
  }
}

TEST(Startup, PingInterval) {
  Install install;
  const char* notFound =
      "Ping interval not found in the environment(QVD_PING_INTERVAL), setting to 30 seconds";
  struct Case {
    const char* value;  // null: unset
    int interval;
    const char* line;
  } cases[] = {
      {nullptr, 30, notFound},
      {"", 30, notFound},
      {"30", 30, "QVD_PING_INTERVAL(30) found"},
      {"45", 45, "QVD_PING_INTERVAL(45) found"},
      {"29", 30, "Ping interval value QVD_PING_INTERVAL: 29, must be greater than the default(30) seconds"},
      {"0", 30, "Ping interval value QVD_PING_INTERVAL: 0, must be greater than the default(30) seconds"},
      {"often", 30, "Ping interval value QVD_PING_INTERVAL: 0, must be greater than the default(30) seconds"},
      {"99999999999", 30,
       "Ping interval conversion error on QVD_PING_INTERVAL: 99999999999, setting to 30 seconds"},
  };
  for (const Case& c : cases) {
    auto env = install.env();
    if (c.value) env["QVD_PING_INTERVAL"] = c.value;
    Session s = startAndShutDown(install, env);
    EXPECT_EQ(30, s.collectorStatus()) << (c.value ? c.value : "unset") << "\n" << s.problems();
    EXPECT_TRUE(s.traced(c.line)) << c.line;
    EXPECT_TRUE(s.traced("Velora Server ping interval in seconds=" + std::to_string(c.interval) + "\n"))
        << (c.value ? c.value : "unset");
  }
}

TEST(Startup, DatabaseCheckInterval) {
  Install install;
  struct Case {
    const char* value;  // null: unset
    int interval;
    const char* line;
  } cases[] = {
      {nullptr, 0,
       "Checking database interval not found in the environment(QVD_CHECK_DB_INTERVAL), setting to "
       "0. The checking of database will not run."},
      {"0", 0, "Checking database interval is set to 0, so the checking of database will not run."},
      {"00", 3600,
       "Checking database interval QVD_CHECK_DB_INTERVAL: 0, must be greater than the default(3600) seconds"},
      {"daily", 3600,
       "Checking database interval QVD_CHECK_DB_INTERVAL: 0, must be greater than the default(3600) seconds"},
      {"3599", 3600,
       "Checking database interval QVD_CHECK_DB_INTERVAL: 3599, must be greater than the default(3600) seconds"},
      {"3600", 3600, "QVD_CHECK_DB_INTERVAL(3600) found"},
      {"7200", 7200, "QVD_CHECK_DB_INTERVAL(7200) found"},
  };
  for (const Case& c : cases) {
    auto env = install.env();
    if (c.value) env["QVD_CHECK_DB_INTERVAL"] = c.value;
    env["QVD_CHECK_DB_INCLUDE_PATH"] = "mail/*";
    Session s = startAndShutDown(install, env);
    const char* label = c.value ? c.value : "unset";
    EXPECT_EQ(30, s.collectorStatus()) << label << "\n" << s.problems();
    EXPECT_TRUE(s.traced(c.line)) << c.line;
    EXPECT_TRUE(s.traced("Checking database interval in seconds=" + std::to_string(c.interval) + "\n"))
        << label;
    auto groups = s.registeredGroups();
    bool checkTables = std::count(groups.begin(), groups.end(), "Velora_Corrupt_Failover_DB") == 1 &&
                       std::count(groups.begin(), groups.end(), "Velora_DB_Whitespace") == 1;
    EXPECT_EQ(c.interval != 0, checkTables) << label;
    EXPECT_EQ(c.interval != 0 ? 39u : 37u, groups.size()) << label;
    if (c.interval != 0) {
      EXPECT_TRUE(s.traced("Checking database include path QVD_CHECK_DB_INCLUDE_PATH(mail/*) found \n"));
      EXPECT_TRUE(s.traced("Checking database exclude path not provided in the "
                           "environment(QVD_CHECK_DB_EXCLUDE_PATH)"));
    }
  }
}

TEST(Startup, OptionalTablesSwitchedOnInAnyCase) {
  Install install;
  struct Case {
    const char* value;  // null: unset
    bool on;
  } cases[] = {{nullptr, false}, {"ON", true}, {"on", true}, {"oN", true}, {"yes", false}, {"ONE", false}};
  for (const Case& c : cases) {
    auto env = install.env();
    if (c.value) {
      env["QVD_LOG_VDB_MONITOR"] = c.value;
      env["QVD_VELORA_GROUP_MONITOR"] = c.value;
    }
    Session s = startAndShutDown(install, env);
    const char* label = c.value ? c.value : "unset";
    EXPECT_EQ(30, s.collectorStatus()) << label << "\n" << s.problems();
    auto groups = s.registeredGroups();
    auto has = [&](const char* g) { return std::count(groups.begin(), groups.end(), g) == 1; };
    EXPECT_EQ(c.on, has("Velora_Replication")) << label;
    EXPECT_EQ(c.on, has("Velora_Group_Updates")) << label;
    EXPECT_EQ(c.on ? 39u : 37u, groups.size()) << label;
    if (c.value) {
      EXPECT_TRUE(s.traced(std::string("QVD_LOG_VDB_MONITOR(") + c.value + ") found.  \n")) << label;
      EXPECT_TRUE(s.traced(std::string("QVD_VELORA_GROUP_MONITOR (") + c.value + ") found.\n")) << label;
    } else {
      EXPECT_TRUE(s.traced("QVD_LOG_VDB_MONITOR is not set."));
      EXPECT_TRUE(s.traced("QVD_VELORA_GROUP_MONITOR is not set."));
    }
  }
}

TEST(Startup, RegistrationOrderVersionsAndTrace) {
  Install install;
  auto env = install.env();
  env["QVD_LOG_VDB_MONITOR"] = "on";
  env["QVD_VELORA_GROUP_MONITOR"] = "on";
  env["QVD_CHECK_DB_INTERVAL"] = "3600";
  env["QVD_CHECK_DB_INCLUDE_PATH"] = "mail/*";
  // "none" switches the add-in off without stopping start-up.
  env["QVD_MVPORT"] = "none";
  env["QVD_MVHOSTNAME"] = "none";
  Session s = startAndShutDown(install, env);
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("MV Port: none found"));
  EXPECT_TRUE(s.traced("nic hostname: none found"));

  const std::vector<std::string> expected = {
      "MV_View_Performance_Statistics", "MV_Replication_Statistics",
      "MV_Replication_Delay_Statistics", "MV_Mail_Size_Statistics", "MV_Mail_Domain_Statistics",
      "MV_Mail_Incoming_Statistics", "MV_Mail_Outgoing_Statistics", "MV_Server", "Velora_Calendar",
      "Velora_Calendar64", "Velora_LDAP", "Velora_LDAP64", "Velora_MAIL", "Velora_MAIL64",
      "Velora_NET_TCPIP", "Velora_NET_TCPIP64", "Velora_Replica_Cluster",
      "Velora_Replica_Cluster64", "Velora_Web_Retriever", "Velora_Command", "Velora_Server",
      "Velora_Server64", "Velora_Server_Cluster", "Velora_ICM", "Velora_ICM64", "Velora_Database",
      "Velora_Database64", "Velora_Mail_By_Dest", "Velora_Mail_By_Dest64", "Velora_SMTP",
      "Velora_SMTP64", "Velora_IMAP", "Velora_IMAP64", "Velora_Agent", "Velora_Replica",
      "Velora_Replica64", "Velora_Replication", "Velora_Tasks", "Velora_Corrupt_Failover_DB",
      "Velora_DB_Whitespace", "Velora_Group_Updates"};

  // The order in which the groups are registered shows in the trace.
  std::vector<std::string> traced;
  std::regex line("cp_RegisterAttrGroup: handle=([A-Za-z0-9_]+)\n");
  for (std::sregex_iterator it(s.trace.begin(), s.trace.end(), line), end; it != end; ++it)
    traced.push_back((*it)[1]);
  EXPECT_EQ(expected, traced);

  // The registration message lists each of them once, with its version.
  auto groups = s.registeredGroups();
  std::sort(groups.begin(), groups.end());
  auto sorted = expected;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, groups);
  for (const std::string& g : expected)
    EXPECT_EQ(g == "Velora_Tasks" ? 2 : 1, s.registeredVersion(g)) << g;

  EXPECT_TRUE(s.traced("cp_RegistrationComplete for Velora Server: CN=srv1/O=acme"));
  EXPECT_TRUE(s.traced("VxGetIntlSettings: decimal(.) thousand_sep(,)"));
  EXPECT_TRUE(s.traced("statusFileName: " + install.statusFile()));
}

}  // namespace
}  // namespace e2e
