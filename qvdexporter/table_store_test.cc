// Conversion of the collector's answers into samples: every table of the
// example model, numbers with separators, missing values, multi-row labels,
// and counters over several answers.
#include "qvdexporter/table_store.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>
#include <prometheus/text_serializer.h>

#include "agentside/columns.h"

namespace qvdexporter {
namespace {

using Labels = std::map<std::string, std::string>;

const Mapping& BuiltIn() {
  static Mapping m = [] {
    static agentside::ColumnCatalogue columns;
    Mapping parsed;
    std::string error;
    EXPECT_TRUE(parsed.Parse(BuiltInMappingText(), "built-in",
                             [](const std::string& t) { return columns.Names(t); }, &error))
        << error;
    return parsed;
  }();
  return m;
}

std::vector<prometheus::MetricFamily> Families(const TableStore& store) {
  std::vector<prometheus::MetricFamily> out;
  store.Collect(&out);
  return out;
}

// The value of the sample of `name` whose labels include `labels`.
std::optional<double> Sample(const std::vector<prometheus::MetricFamily>& families, const std::string& name,
                             const Labels& labels = {}) {
  for (const auto& f : families) {
    if (f.name != name) continue;
    for (const auto& m : f.metric) {
      Labels have;
      for (const auto& l : m.label) have[l.name] = l.value;
      bool match = true;
      for (const auto& want : labels) match = match && have.count(want.first) && have[want.first] == want.second;
      if (match) return f.type == prometheus::MetricType::Counter ? m.counter.value : m.gauge.value;
    }
  }
  return std::nullopt;
}

std::map<std::string, std::vector<Row>> ExampleAnswers() {
  std::ifstream in(std::string(QVD_TEST_SOURCE_DIR) + "/qvdexporter/testdata/example_answers.jsonl");
  std::map<std::string, std::vector<Row>> answers;
  for (std::string line; std::getline(in, line);) {
    nlohmann::json j = nlohmann::json::parse(line);
    answers[j["table"]] = j["rows"].get<std::vector<Row>>();
  }
  return answers;
}

TEST(TableStore, EveryTableOfTheExampleModelGivesItsSamples) {
  TableStore store(&BuiltIn(), NumberFormat());
  auto answers = ExampleAnswers();
  ASSERT_EQ(answers.size(), 40u);  // every table the collector answers: all but MV_Server
  for (const auto& [table, rows] : answers) store.Answer(table, rows, 100);
  auto f = Families(store);

  // Each converted table with rows gave samples; the twins gave none.
  std::set<std::string> sources;
  for (const auto& family : f) sources.insert(family.help.substr(0, family.help.find(':')));
  for (const auto& [table, rows] : answers) {
    const TableRule* rule = BuiltIn().Find(table);
    ASSERT_NE(rule, nullptr) << table;
    EXPECT_EQ(sources.count(table) == 1, rule->kind != TableKind::kDuplicate && !rows.empty()) << table;
  }
  EXPECT_EQ(Sample(f, "velora_ldap_inbound_sessions"), 949);
  EXPECT_EQ(Sample(f, "velora_ldap_info", {{"running", "Yes"}}), 1);
  EXPECT_EQ(Sample(f, "velora_mail_queued_messages", {{"queue", "dead"}}), 2182882);
  EXPECT_EQ(Sample(f, "velora_mail_delivered_bytes_total"), 242 * 1024);
  EXPECT_EQ(Sample(f, "velora_mail_routed_messages_by_protocol_total", {{"protocol", "vrpc"}}), 63);
  EXPECT_DOUBLE_EQ(Sample(f, "velora_database_buffer_pool_read_hit_ratio").value_or(0), 0.69);
  EXPECT_EQ(Sample(f, "velora_database_buffer_pool_max_bytes"), 98441.0 * 1048576);
  EXPECT_EQ(Sample(f, "velora_server_info", {{"server", "CN=srv1/O=acme"}, {"version", "Release 12.0.2"}}), 1);
  EXPECT_EQ(Sample(f, "velora_cluster_servers"), 84);
  EXPECT_EQ(Sample(f, "velora_task_info", {{"task", "Router"}, {"status", "Idle"}}), 1);
  EXPECT_EQ(Sample(f, "velora_task_status_age_seconds", {{"task", "Router"}}), 1836 * 60);
  EXPECT_EQ(Sample(f, "velora_mail_destination_transferred_bytes_total", {{"destination", "mail1"}}), 48213 * 1024);
  EXPECT_EQ(Sample(f, "velora_mail_destination_routed_messages_total", {{"destination", "cn=srv2/o=acme"}}), 12455);
  EXPECT_DOUBLE_EQ(Sample(f, "velora_database_whitespace_ratio", {{"database", "mail/alice.vdb"}}).value_or(0), 0.25);
  EXPECT_EQ(Sample(f, "velora_database_size_bytes", {{"database", "mail/bob.vdb"}}), 2800000000.0 * 1024);
  EXPECT_EQ(Sample(f, "velora_database_state",
                   {{"database", "mail/alice.vdb"}, {"view", "($Drafts)"}, {"state", "View corrupt"}}),
            1);
  EXPECT_EQ(Sample(f, "velora_database_failover_info"), std::nullopt);  // no failover in the model's findings
  EXPECT_EQ(Sample(f, "velora_replication_slots_total", {{"partner", "srv4/acme"}, {"result", "miss"}}), 4);
  EXPECT_EQ(Sample(f, "velora_replication_slots_total", {{"partner", "srv5/acme"}, {"result", "hit"}}), 1);
  EXPECT_EQ(Sample(f, "velora_group_updates_total", {{"update", "added"}}), 1);
  EXPECT_EQ(Sample(f, "velora_group_updates_total", {{"update", "deleted"}}), 1);
  EXPECT_DOUBLE_EQ(Sample(f, "velora_addin_view_under_threshold_ratio", {{"threshold", "500ms"}}).value_or(0), 0.97);
  EXPECT_EQ(Sample(f, "velora_addin_replication_since_last_seconds", {{"direction", "sent"}}), 300);
  // An absent value (Mail_Count of the outgoing mail) is no sample; its
  // row's other figure is.
  EXPECT_EQ(Sample(f, "velora_addin_mail_outgoing_messages"), std::nullopt);
  EXPECT_EQ(Sample(f, "velora_addin_mail_outgoing_volume", {{"destination", "srv2/acme"}}), 7730);
  // A text cell of a gauge column is no sample either: Time_Current is skipped,
  // Version goes to the info metric.
  EXPECT_EQ(Sample(f, "velora_web_retriever_info", {{"version", "Release 12.0.2"}}), 1);

  // The exposition has one TYPE line per name.
  std::ostringstream text;
  prometheus::TextSerializer().Serialize(text, f);
  std::set<std::string> types;
  std::istringstream lines(text.str());
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("# TYPE ", 0) == 0) {
      EXPECT_TRUE(types.insert(line.substr(7, line.find(' ', 7) - 7)).second) << line;
    }
  }
}

TEST(TableStore, NumbersWithSeparatorsAndCellsThatAreNoNumbers) {
  TableStore store(&BuiltIn(), NumberFormat());
  Row row(25, "");
  row[0] = "CN=srv1/O=acme";
  row[1] = "1,234,567";  // Dead
  row[2] = "12.5";       // Average_Deliver_Time
  row[3] = "n/a";        // Hold
  row[10] = "1,024";     // Total_KB_Delivered
  store.Answer("Velora_MAIL64", {row}, 10);
  auto f = Families(store);
  EXPECT_EQ(Sample(f, "velora_mail_queued_messages", {{"queue", "dead"}}), 1234567);
  EXPECT_EQ(Sample(f, "velora_mail_average_delivery_time_seconds"), 12.5);
  EXPECT_EQ(Sample(f, "velora_mail_queued_messages", {{"queue", "hold"}}), std::nullopt);
  EXPECT_EQ(Sample(f, "velora_mail_queued_messages", {{"queue", "waiting"}}), std::nullopt);
  EXPECT_EQ(Sample(f, "velora_mail_delivered_bytes_total"), 1024.0 * 1024);

  TableStore german(&BuiltIn(), NumberFormat{'.', ','});
  row[1] = "2.345.678";
  row[2] = "7,5";
  german.Answer("Velora_MAIL64", {row}, 10);
  f = Families(german);
  EXPECT_EQ(Sample(f, "velora_mail_queued_messages", {{"queue", "dead"}}), 2345678);
  EXPECT_EQ(Sample(f, "velora_mail_average_delivery_time_seconds"), 7.5);
}

TEST(TableStore, SnapshotTablesKeepTheirRowsForOneSnapshotOnly) {
  TableStore store(&BuiltIn(), NumberFormat());
  Row tcp = {"CN=srv1/O=acme", "613", "57", "6", "52", "34126", "", ""};
  store.Answer("Velora_NET_TCPIP64", {tcp}, 100);
  store.Answer("Velora_NET_TCPIP64", {}, 120);  // the same snapshot, already answered
  EXPECT_EQ(Sample(Families(store), "velora_tcpip_sessions_peak"), 6);
  store.Answer("Velora_NET_TCPIP64", {}, 100 + kSnapshotSeconds + 1);  // a new snapshot without the table
  EXPECT_EQ(Sample(Families(store), "velora_tcpip_sessions_peak"), std::nullopt);
  // Rows of another width are not used; the previous rows stay as they were.
  store.Answer("Velora_NET_TCPIP64", {tcp}, 200);
  store.Answer("Velora_NET_TCPIP64", {{"CN=srv1/O=acme", "1"}}, 201);
  EXPECT_EQ(Sample(Families(store), "velora_tcpip_sessions_peak"), 6);
  // Multi-row: one series per destination, replaced by the next snapshot.
  store.Answer("Velora_Mail_By_Dest64",
               {{"s", "a", "1", "1", "1", "1"}, {"s", "b", "2", "2", "2", "2"}}, 300);
  store.Answer("Velora_Mail_By_Dest64", {{"s", "b", "5", "5", "5", "5"}}, 340);
  auto f = Families(store);
  EXPECT_EQ(Sample(f, "velora_mail_destination_routed_messages_total", {{"destination", "a"}}), std::nullopt);
  EXPECT_EQ(Sample(f, "velora_mail_destination_routed_messages_total", {{"destination", "b"}}), 5);
  // The collector went away: current figures go, counters stay.
  store.Answer("Velora_Group_Updates", {{"s", "G", "Add"}}, 341);
  store.DropCurrent();
  f = Families(store);
  EXPECT_EQ(Sample(f, "velora_mail_destination_routed_messages_total"), std::nullopt);
  EXPECT_EQ(Sample(f, "velora_group_updates_total", {{"update", "added"}}), 1);
}

TEST(TableStore, StateTablesFollowEveryAnswer) {
  TableStore store(&BuiltIn(), NumberFormat());
  store.Answer("Velora_Corrupt_Failover_DB",
               {{"s", "mail/moved.vdb", "DEFAULT", "Cluster failover", "Success", "mail/moved.vdb", "CN=srv2/O=acme"},
                {"s", "mail/x.vdb", "DEFAULT", "Corrupt", "", "", ""}},
               10);
  auto f = Families(store);
  EXPECT_EQ(Sample(f, "velora_database_state", {{"database", "mail/x.vdb"}, {"state", "Corrupt"}}), 1);
  EXPECT_EQ(Sample(f, "velora_database_failover_info",
                   {{"database", "mail/moved.vdb"}, {"failover_server", "CN=srv2/O=acme"}}),
            1);
  EXPECT_EQ(Sample(f, "velora_database_failover_info", {{"database", "mail/x.vdb"}}), std::nullopt);
  store.Answer("Velora_Corrupt_Failover_DB", {}, 11);  // every database good again
  EXPECT_EQ(Sample(Families(store), "velora_database_state"), std::nullopt);
}

TEST(TableStore, DeltaTablesAddEveryAnswerAndCountARepeatedRunOnce) {
  TableStore store(&BuiltIn(), NumberFormat());
  auto run = [](const char* partner, const char* start, const char* hit, const char* seconds) {
    return Row{"srv1/acme", partner, "srv1/acme", start, start, "", "", hit, seconds};
  };
  store.Answer("Velora_Replication", {run("srv2/acme", "12/06/2026 08:00:05 AM", "1", "125"),
                                      run("srv3/acme", "12/06/2026 09:00:00 AM", "2", "0")},
               10);
  store.Answer("Velora_Replication", {}, 20);
  store.Answer("Velora_Replication", {run("srv2/acme", "12/07/2026 08:00:02 AM", "1", "87"),
                                      run("srv2/acme", "12/07/2026 11:02:00 AM", "3", "100")},
               30);
  // A restarted collector reports the last day again.
  store.Answer("Velora_Replication", {run("srv2/acme", "12/07/2026 08:00:02 AM", "1", "87")}, 40);
  auto f = Families(store);
  EXPECT_EQ(Sample(f, "velora_replication_slots_total", {{"partner", "srv2/acme"}, {"result", "hit"}}), 2);
  EXPECT_EQ(Sample(f, "velora_replication_slots_total", {{"partner", "srv2/acme"}, {"result", "manual"}}), 1);
  EXPECT_EQ(Sample(f, "velora_replication_slots_total", {{"partner", "srv3/acme"}, {"result", "miss"}}), 1);
  EXPECT_EQ(Sample(f, "velora_replication_duration_seconds_total", {{"partner", "srv2/acme"}, {"result", "hit"}}),
            212);
  // Group updates repeat legitimately: a group added, deleted and added again.
  store.Answer("Velora_Group_Updates", {{"s", "G", "Add"}}, 50);
  store.Answer("Velora_Group_Updates", {{"s", "G", "Delete"}}, 60);
  store.Answer("Velora_Group_Updates", {{"s", "G", "Add"}, {"s", "H", "Rename"}}, 70);
  f = Families(store);
  EXPECT_EQ(Sample(f, "velora_group_updates_total", {{"update", "added"}}), 2);
  EXPECT_EQ(Sample(f, "velora_group_updates_total", {{"update", "deleted"}}), 1);
  EXPECT_EQ(Sample(f, "velora_group_updates_total", {{"update", "Rename"}}), 1);  // unmapped texts stay
}

TEST(TableStore, LabelValuesAreValidUtf8AndBounded) {
  EXPECT_EQ(CleanLabelValue("caf\xc3\xa9"), "caf\xc3\xa9");
  EXPECT_EQ(CleanLabelValue("a\xff" "b"), "a\xef\xbf\xbd" "b");
  EXPECT_EQ(CleanLabelValue("\xc3"), "\xef\xbf\xbd");              // cut sequence
  EXPECT_EQ(CleanLabelValue("\xed\xa0\x80"), "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");  // a surrogate
  EXPECT_EQ(CleanLabelValue(std::string(5000, 'x')).size(), kMaxLabelBytes);
  EXPECT_EQ(CleanLabelValue("\xc3\xa9\xc3\xa9", 3), "\xc3\xa9");  // never half a character
  TableStore store(&BuiltIn(), NumberFormat());
  store.Answer("Velora_Tasks", {{"s", "T\xe9l\xe9" "copie", " Idle [12/06/2026 09:57:30 AM]", "3"}}, 1);
  EXPECT_EQ(Sample(Families(store), "velora_task_status_age_seconds", {{"task", "T\xef\xbf\xbdl\xef\xbf\xbd" "copie"}}),
            180);
}

}  // namespace
}  // namespace qvdexporter
