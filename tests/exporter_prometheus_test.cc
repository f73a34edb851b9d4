// A real Prometheus server scrapes qvdexporter every second while the
// exporter runs the real collector against the simulated server (database
// check, replication analysis, group updates and the add-in's events on):
// the statistics, database states, replication counters, a change of the
// model and every query of the Grafana dashboard come back through
// Prometheus's HTTP API.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>

#include "e2e_testutil.h"
#include "exporter_testutil.h"

namespace e2e {
namespace {

// The value of the first sample of an instant query's result, or -1.
double First(const nlohmann::json& result) {
  if (!result.is_array() || result.empty()) return -1;
  return std::strtod(result[0]["value"][1].get<std::string>().c_str(), nullptr);
}

// Every "expr" of the dashboard's panels.
void Expressions(const nlohmann::json& node, std::vector<std::string>* out) {
  if (node.is_object()) {
    for (auto it = node.begin(); it != node.end(); ++it) {
      if (it.key() == "expr" && it.value().is_string()) out->push_back(it.value());
      else Expressions(it.value(), out);
    }
  } else if (node.is_array()) {
    for (const auto& n : node) Expressions(n, out);
  }
}

TEST(ExporterPrometheus, PrometheusScrapesTheCollectorsTablesAndTheDashboardsQueriesAnswer) {
  if (!HaveProgram("prometheus")) GTEST_SKIP() << "prometheus is not installed (Debian package prometheus)";
  Install install;
  CopyExampleModel(install);
  // The add-in's relay, fed one event.
  ASSERT_TRUE(installRelay(install));
  std::ofstream(install.root() + "/feed") << "srv2/acme\t2\tDisk almost full\n";
  std::ofstream(install.root() + "/views.cfg") << "mail/alice.vdb = ($Inbox), ($Drafts)\n";
  std::map<std::string, std::string> env = install.env();
  env["QVD_LOG_VDB_MONITOR"] = "ON";
  env["QVD_VELORA_GROUP_MONITOR"] = "ON";
  env["QVD_CHECK_DB_INTERVAL"] = "3600";
  env["QVD_CHECK_DB_INCLUDE_PATH"] = "names.vdb;mail/alice.vdb";
  env["QVD_CHECK_DB_VIEW_CONFIG_FILE"] = install.root() + "/views.cfg";
  setRelaySettings(&env, install.root() + "/feed", install.root() + "/relay.log");
  std::string envFile = install.root() + "/collector.env";
  WriteEnvFile(envFile, env);

  int port = freePort();
  ExporterProcess exporter(install, {"--web.listen-address=127.0.0.1:" + std::to_string(port),
                                     "--collector.env-file", envFile, "--collector.command=" + builtProgram("qvdclient"),
                                     "--collector.max-age=1s"});
  PrometheusServer prometheus(install, port);
  ASSERT_TRUE(prometheus.started()) << prometheus.log();

  auto value = [&](const std::string& q) { return First(prometheus.Query(q)); };
  ASSERT_TRUE(WaitUntil([&] { return value("up{job=\"qvdexporter\"}") == 1 && value("velora_up") == 1; }, 60))
      << prometheus.log() << exporter.log();

  // A statistic of the model, with its value.
  EXPECT_TRUE(WaitUntil([&] { return value("velora_ldap_inbound_sessions") == 949; }, 20));
  EXPECT_EQ(value("velora_mail_queued_messages{queue=\"dead\"}"), 2182882);
  // A database state and a replication counter, with their labels.
  EXPECT_TRUE(WaitUntil(
      [&] {
        return value("velora_database_state{database=\"mail/alice.vdb\",view=\"($Drafts)\",state=\"View corrupt\"}") ==
               1;
      },
      60))
      << exporter.log();
  EXPECT_EQ(value("velora_replication_slots_total{partner=\"srv4/acme\",result=\"miss\"}"), 4);
  nlohmann::json slots = prometheus.Query("velora_replication_slots_total{partner=\"srv5/acme\"}");
  ASSERT_EQ(slots.size(), 1u) << slots.dump();
  EXPECT_EQ(slots[0]["metric"]["result"], "hit");
  EXPECT_EQ(slots[0]["metric"]["job"], "qvdexporter");

  // A change of the model shows after the next scrape: a directory group
  // renamed is one group added and one deleted.
  std::string model = readFile(install.modelDir() + "/server.json");
  model = std::regex_replace(model, std::regex("\"Developers\""), "\"Auditors\"");
  install.writeModel(".server.json", model);
  ASSERT_EQ(0, rename((install.modelDir() + "/.server.json").c_str(), (install.modelDir() + "/server.json").c_str()));
  EXPECT_TRUE(WaitUntil([&] { return value("velora_group_updates_total{update=\"added\"}") == 1; }, 20))
      << exporter.log();
  EXPECT_EQ(value("velora_group_updates_total{update=\"deleted\"}"), 1);

  // The add-in's event (the relay starts about ten seconds after the collector).
  EXPECT_TRUE(WaitUntil([&] { return value("velora_addin_events_total{priority=\"2\"}") == 1; }, 40))
      << exporter.log() << readFile(install.root() + "/relay.log");

  // Every query of the dashboard answers with data.
  std::ifstream in(std::string(getenv("QVD_SOURCE_DIR")) + "/examples/grafana/qvdexporter-dashboard.json");
  nlohmann::json dashboard = nlohmann::json::parse(in, nullptr, false);
  ASSERT_FALSE(dashboard.is_discarded());
  std::vector<std::string> exprs;
  Expressions(dashboard["panels"], &exprs);
  EXPECT_GE(exprs.size(), 15u);
  for (std::string e : exprs) {
    e = std::regex_replace(e, std::regex("\\$__rate_interval"), "1m");
    e = std::regex_replace(e, std::regex("\\$__range"), "1h");
    e = std::regex_replace(e, std::regex("\\$instance"), ".+");
    EXPECT_TRUE(WaitUntil([&] { nlohmann::json r = prometheus.Query(e); return r.is_array() && !r.empty(); }, 20))
        << e << " answers no data";
  }
  // Prometheus never saw a scrape fail.
  EXPECT_EQ(value("count_over_time(up{job=\"qvdexporter\"}[10m]) - sum_over_time(up{job=\"qvdexporter\"}[10m])"), 0);
  EXPECT_EQ(exporter.Stop(), 0);
}

}  // namespace
}  // namespace e2e
