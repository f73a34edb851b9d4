// The database check of the real collector: every database and view state,
// white space, exclusion, the configuration lines at start-up, the view
// file, answers before and after the first publication, and a shutdown in
// the middle of a check.  A bad database costs the collector 16 seconds
// (15 attempts a second apart), so each state runs in a collector of its
// own, all at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e_testutil.h"

namespace e2e {
namespace {

const char kServer[] = "CN=srv1/O=acme";

// A collector with the database check on.
struct CheckRun {
  std::unique_ptr<Install> install = std::make_unique<Install>();
  std::map<std::string, std::string> env;
  Session session;

  CheckRun(const std::string& model, const std::string& include, const std::string& exclude = "") {
    install->writeModel("server.json", model);
    env = install->env();
    env["QVD_TRACE"] = "error,core=detail,dbhealth=detail";
    env["QVD_CHECK_DB_INTERVAL"] = "3600";
    env["QVD_CHECK_DB_INCLUDE_PATH"] = include;
    if (!exclude.empty()) env["QVD_CHECK_DB_EXCLUDE_PATH"] = exclude;
    env["VAXEL_SIM_LOG"] = install->root() + "/sim.log";
  }
  void viewFile(const std::string& content) {
    std::string path = install->root() + "/views.cfg";
    FILE* f = fopen(path.c_str(), "w");
    fputs(content.c_str(), f);
    fclose(f);
    env["QVD_CHECK_DB_VIEW_CONFIG_FILE"] = path;
  }
  // Asks for both tables at once, and again after `seconds`.
  void run(int seconds) {
    session = runSession(*install, env,
                         {"registration", "request Velora_Corrupt_Failover_DB Velora_DB_Whitespace",
                          "expect all", "sleep " + std::to_string(seconds),
                          "request Velora_Corrupt_Failover_DB Velora_DB_Whitespace", "expect all"});
  }
  // The rows of the n-th answer for `group`.
  Json rows(const std::string& group, size_t n) const {
    auto answers = session.answers(group);
    return n < answers.size() ? answers[n]["rows"] : Json();
  }
  std::string simLog() const { return readFile(install->root() + "/sim.log"); }
};

using Row = std::vector<std::string>;

Row corruptRow(const std::string& db, const std::string& view, const std::string& state,
               const std::string& status = "", const std::string& failDb = "",
               const std::string& failServer = "") {
  return {kServer, db, view, state, status, failDb, failServer};
}

TEST(DbHealthE2E, EveryDatabaseStateReachesTheAgentAfterTheFirstPublication) {
  struct Case {
    const char* db;
    const char* model;
    Row row;
  };
  const std::vector<Case> cases = {
      {"notvdb.vdb", R"({"open": 513})", corruptRow("notvdb.vdb", "DEFAULT", "Not a database")},
      {"oldver.vdb", R"({"open": 537})", corruptRow("oldver.vdb", "DEFAULT", "Invalid VDB version")},
      {"noaccess.vdb", R"({"open": 999, "repairOpen": 582})",
       corruptRow("noaccess.vdb", "DEFAULT", "Operation not authorized")},
      {"openfile.vdb", R"({"open": 999, "repairOpen": 999, "failoverOpen": 587})",
       corruptRow("openfile.vdb", "DEFAULT", "Access not authorized")},
      {"fixed.vdb", R"({"open": 999})", corruptRow("fixed.vdb", "DEFAULT", "Corrupt but fixed")},
      {"moved.vdb", R"({"open": 999, "repairOpen": 999, "failoverPath": "CN=srv2/O=acme!!mail/moved.vdb"})",
       corruptRow("moved.vdb", "DEFAULT", "Cluster failover", "Success", "mail/moved.vdb", "CN=srv2/O=acme")},
      {"inplace.vdb", R"({"open": 999, "repairOpen": 999})",
       corruptRow("inplace.vdb", "DEFAULT", "Cluster failover")},
      {"local.vdb", R"({"open": 760})", corruptRow("local.vdb", "DEFAULT", "Local access protected")},
      {"corrupt.vdb", R"({"open": 999, "repairOpen": 999, "failoverOpen": 999})",
       corruptRow("corrupt.vdb", "DEFAULT", "Corrupt")},
      // Statuses are compared as the server returns them: 513 and 582 with
      // the flag bit 0x4000 are none of the listed codes.
      {"flagged.vdb", R"({"open": 16897})", corruptRow("flagged.vdb", "DEFAULT", "Corrupt but fixed")},
      {"flaggedfix.vdb", R"({"open": 999, "repairOpen": 16966, "failoverOpen": 999})",
       corruptRow("flaggedfix.vdb", "DEFAULT", "Corrupt")},
  };
  std::vector<std::unique_ptr<CheckRun>> runs;
  for (const Case& c : cases)
    runs.push_back(std::make_unique<CheckRun>(
        std::string(R"({"databases": {"good.vdb": {}, ")") + c.db + "\": " + c.model + "}}",
        std::string(c.db) + ";good.vdb"));
  std::vector<std::thread> threads;
  for (auto& run : runs) threads.emplace_back([&run] { run->run(24); });
  for (std::thread& t : threads) t.join();

  for (size_t i = 0; i < cases.size(); ++i) {
    const CheckRun& run = *runs[i];
    SCOPED_TRACE(cases[i].db);
    EXPECT_EQ(30, run.session.collectorStatus()) << run.session.problems();
    EXPECT_EQ(0, run.session.agentsimStatus) << run.session.problems();
    // Before the first publication both tables answer without rows.
    EXPECT_EQ(Json::array(), run.rows("Velora_Corrupt_Failover_DB", 0));
    EXPECT_EQ(Json::array(), run.rows("Velora_DB_Whitespace", 0));
    EXPECT_EQ(Json::array({cases[i].row}), run.rows("Velora_Corrupt_Failover_DB", 1));
    Json ws = run.rows("Velora_DB_Whitespace", 1);
    ASSERT_EQ(1u, ws.size());  // the bad database cannot be measured; the good one can
    EXPECT_EQ("good.vdb", ws[0][1]);
    EXPECT_TRUE(run.session.traced("Failed to get whitespace information of database " +
                                   std::string(cases[i].db)));
    EXPECT_NE(std::string::npos, run.simLog().find("exit handles_held=0 ")) << run.simLog().substr(0, 300);
  }
}

TEST(DbHealthE2E, ViewsWhiteSpaceRetriesAndExclusion) {
  CheckRun run(R"({"databases": {
      "once.vdb": {"space": {"allocatedBytes": 614400, "freeBytes": 307200}},
      "mail/a.vdb": {"views": {"Inbox": {"open": 0}, "Unbuilt": {"open": 779}, "Broken": {"open": 1234},
                               "Flagged": {"open": 16163}},
                     "space": {"allocatedBytes": 1024, "freeBytes": 2048},
                     "quota": {"warningThreshold": 100, "sizeLimit": 200, "currentSize": 50,
                               "maxSize": 4294967295}},
      "mail/old/o.vdb": {},
      "big.vdb": {"space": {"allocatedBytes": 4294967295, "freeBytes": 0},
                  "quota": {"warningThreshold": 3000000000, "sizeLimit": 4294967294,
                            "currentSize": 3221225472, "maxSize": 4294967000}}},
      "faults": {"VxDbOpen": {"status": 513, "fromCall": 6, "count": 1}}})",
               "once.vdb;mail/*;big.vdb", "mail/old");
  // big.vdb's pair names no view: it claims big.vdb all the same, so the
  // last pattern's view is not checked there.
  run.viewFile("# views of every mail database\nmail/* = Inbox, Unbuilt, Broken, Missing, Flagged\n"
               "big.vdb = ,,\n* = Missing\n");
  run.run(16);
  EXPECT_EQ(30, run.session.collectorStatus()) << run.session.problems();
  // A collection not built (779) counts as good; 779 with the flag bit
  // 0x4000 is another failure.
  EXPECT_EQ(Json::array({corruptRow("once.vdb", "Missing", "View not found"),
                         corruptRow("mail/a.vdb", "Broken", "View corrupt"),
                         corruptRow("mail/a.vdb", "Missing", "View not found"),
                         corruptRow("mail/a.vdb", "Flagged", "View corrupt")}),
            run.rows("Velora_Corrupt_Failover_DB", 1));
  EXPECT_EQ(Json::array({Row{kServer, "once.vdb", "300", "33", "0", "0", "0", "0"},
                         Row{kServer, "mail/a.vdb", "2", "67", "50", "0", "200", "100"},
                         Row{kServer, "big.vdb", "0", "0", "3221225472", "4294967000",
                             "4294967294", "3000000000"}}),
            run.rows("Velora_DB_Whitespace", 1));
  // once.vdb failed its first open (the sixth of the run) and then opened.
  EXPECT_TRUE(run.session.traced("VxDbOpen fail to open once.vdb. Return code is ERR_NOT_VDB"));
  EXPECT_TRUE(run.session.traced("Database once.vdb is in good state."));
  EXPECT_TRUE(run.session.traced("mail/old/o.vdb is in exclude path list, so do not check it."));
  EXPECT_TRUE(run.session.traced("Views are specified  to check for database mail/a.vdb."));
  EXPECT_TRUE(run.session.traced("Views are specified  to check for database big.vdb."));
  EXPECT_FALSE(run.session.traced("View Missing of database big.vdb"));
  EXPECT_TRUE(run.session.traced(
      "Database 3, name: big.vdb, whitespace size: 0 KB, whitespace percent: 0, database size: "
      "3221225472 KB, max size: 4294967000 KB, size limit: 4294967294 KB, warning threshold: "
      "3000000000 KB"));
  EXPECT_NE(std::string::npos, run.simLog().find("exit handles_held=0 "));
}

TEST(DbHealthE2E, InaccessibleIncludeAndExcludePathsAreReportedAndStartUpGoesOn) {
  CheckRun run(R"({"databases": {"mail/a.vdb": {}, "archive": {"directory": true}}})",
               " mail/* ;missing.vdb;;nodir; archive", "gone/*;mail");
  run.session = runSession(*run.install, run.env, {"registration"});
  EXPECT_EQ(30, run.session.collectorStatus()) << run.session.problems();
  const char* kInclude = "in checking database include path is not accessible. Velora server is "
                         "down or the path is invalid.";
  const char* kExclude = "in checking database exclude path is not accessible. Velora server is "
                         "down or the path is invalid.";
  EXPECT_TRUE(run.session.traced(std::string("Path missing.vdb ") + kInclude));
  EXPECT_TRUE(run.session.traced(std::string("Path nodir ") + kInclude));
  EXPECT_FALSE(run.session.traced(std::string("Path mail/* ") + kInclude));
  EXPECT_FALSE(run.session.traced(std::string("Path archive ") + kInclude));
  EXPECT_TRUE(run.session.traced(std::string("Path gone/* ") + kExclude));
  EXPECT_FALSE(run.session.traced(std::string("Path mail ") + kExclude));
  auto groups = run.session.registeredGroups();
  EXPECT_EQ(39u, groups.size());
  for (const char* group : {"Velora_Corrupt_Failover_DB", "Velora_DB_Whitespace"})
    EXPECT_NE(groups.end(), std::find(groups.begin(), groups.end(), group)) << group;
}

TEST(DbHealthE2E, AViewFileThatCannotBeOpenedEndsStartUp) {
  CheckRun run(R"({"databases": {"a.vdb": {}}})", "a.vdb");
  std::string missing = run.install->root() + "/no-such-views.cfg";
  run.env["QVD_CHECK_DB_VIEW_CONFIG_FILE"] = missing;
  run.session = runSession(*run.install, run.env, {}, "wait", {"--wait-exit", "20"});
  EXPECT_EQ(0, run.session.collectorStatus()) << run.session.problems();
  EXPECT_TRUE(run.session.traced("Can not open configuration file " + missing + ", exiting..."));
  EXPECT_TRUE(run.session.registeredGroups().empty());
}

TEST(DbHealthE2E, ShutdownInTheMiddleOfACheckEndsTheThreadAndHoldsNoHandle) {
  CheckRun run(R"({"databases": {"bad.vdb": {"open": 513}, "good.vdb": {}}})", "bad.vdb;good.vdb");
  run.session = runSession(*run.install, run.env, {"registration", "sleep 3"});
  EXPECT_EQ(30, run.session.collectorStatus()) << run.session.problems();
  EXPECT_EQ(0, run.session.agentsimStatus) << run.session.problems();
  EXPECT_TRUE(run.session.traced("Shutting down qvdclient and checkDatabase exiting..."));
  std::string log = run.simLog();
  EXPECT_NE(std::string::npos, log.find("VxTermThread")) << log.substr(0, 300);
  EXPECT_NE(std::string::npos, log.find("exit handles_held=0 "));
  // The thread ended before the runtime: nothing of the check follows it.
  size_t term = log.find("VxTermRuntime");
  ASSERT_NE(std::string::npos, term);
  EXPECT_EQ(std::string::npos, log.find("VxDbOpen", term));
}

}  // namespace
}  // namespace e2e
