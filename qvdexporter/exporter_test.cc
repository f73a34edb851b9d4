// What a scrape sees of the link's reports: events by priority, the
// exporter's health, and the collector's comings and goings.
#include "qvdexporter/exporter.h"

#include <gtest/gtest.h>

#include <ctime>

#include "agentside/columns.h"

namespace qvdexporter {
namespace {

const Mapping& BuiltIn() {
  static Mapping m = [] {
    static agentside::ColumnCatalogue columns;
    Mapping parsed;
    std::string error;
    EXPECT_TRUE(parsed.Parse(BuiltInMappingText(), "built-in",
                             [](const std::string& t) { return columns.Names(t); }, &error));
    return parsed;
  }();
  return m;
}

double Value(const std::vector<prometheus::MetricFamily>& families, const std::string& name,
             const std::string& label = "", const std::string& value = "") {
  for (const auto& f : families) {
    if (f.name != name) continue;
    for (const auto& m : f.metric) {
      if (!label.empty() && (m.label.empty() || m.label[0].name != label || m.label[0].value != value)) continue;
      return f.type == prometheus::MetricType::Counter ? m.counter.value : m.gauge.value;
    }
  }
  return -1;
}

TEST(Exporter, EventTimeIsTheCollectorsLocalTime) {
  double seconds = 0;
  ASSERT_TRUE(ParseEventTime("1261207101530000", &seconds));
  tm t{};
  t.tm_year = 126, t.tm_mon = 11, t.tm_mday = 7, t.tm_hour = 10, t.tm_min = 15, t.tm_sec = 30, t.tm_isdst = -1;
  EXPECT_EQ(seconds, static_cast<double>(mktime(&t)));
  for (const char* bad : {"", "126120710153000", "12612071015300000", "1261307101530000", "12612071015300x0"})
    EXPECT_FALSE(ParseEventTime(bad, &seconds)) << bad;
}

TEST(Exporter, EventsCountByPriorityWithABoundOnDistinctPriorities) {
  Exporter e(&BuiltIn(), ExporterOptions());
  e.Event({"CN=srv1/O=acme", "1261207101530000", "2", "Disk almost full"});
  e.Event({"CN=srv1/O=acme", "1261207101531000", "2", "Disk full"});
  e.Event({"CN=srv1/O=acme", "not a time", "", "no priority"});
  for (int i = 0; i < 40; ++i) e.Event({"s", "1261207101530000", "p" + std::to_string(i), "m"});
  e.EventError(1001);
  auto f = e.Collect();
  EXPECT_EQ(Value(f, "velora_addin_events_total", "priority", "2"), 2);
  EXPECT_EQ(Value(f, "velora_addin_events_total", "priority", "unknown"), 1);
  EXPECT_GT(Value(f, "velora_addin_events_total", "priority", "other"), 0);
  size_t priorities = 0;
  for (const auto& family : f)
    if (family.name == "velora_addin_events_total") priorities = family.metric.size();
  EXPECT_LE(priorities, kMaxPriorities + 1);
  EXPECT_EQ(Value(f, "velora_addin_event_errors_total", "rc", "1001"), 1);
  EXPECT_GT(Value(f, "velora_addin_last_event_timestamp_seconds"), 1.7e9);
}

TEST(Exporter, UpOnlyWhileTheCollectorAnswersAndCountsOfItsTrouble) {
  Exporter e(&BuiltIn(), ExporterOptions());
  EXPECT_EQ(Value(e.Collect(), "velora_up"), 0);
  e.CollectorStarted(100);
  e.Registered({"Velora_LDAP64", "MV_Server"});
  e.TableAnswer("Velora_LDAP64", {{"CN=srv1/O=acme", "Yes", "1", "949", "", "", "", "", "", "", "", "", "", "", "",
                                   "", ""}});
  e.RoundDone(1, 1);
  auto f = e.Collect();
  EXPECT_EQ(Value(f, "velora_up"), 1);
  EXPECT_EQ(Value(f, "velora_ldap_inbound_sessions"), 949);
  EXPECT_EQ(Value(f, "qvdexporter_collector_answer_errors_total", "table", "Velora_LDAP64"), 0);
  EXPECT_EQ(Value(f, "qvdexporter_collector_answer_errors_total", "table", "MV_Server"), -1);  // never asked
  e.TableError("Velora_LDAP64", -1, false);
  e.TableError("Velora_LDAP64", 0, true);
  e.Violation("a line that is not XML");
  e.RoundDone(0, 1);  // errors only: not answering
  f = e.Collect();
  EXPECT_EQ(Value(f, "velora_up"), 0);
  EXPECT_EQ(Value(f, "qvdexporter_collector_answer_errors_total", "table", "Velora_LDAP64"), 2);
  EXPECT_EQ(Value(f, "qvdexporter_protocol_violations_total"), 1);
  EXPECT_EQ(Value(f, "qvdexporter_collector_rounds_total"), 2);
  e.CollectorDown("the collector ended; it exited with status 31");
  e.CollectorStarted(101);
  f = e.Collect();
  EXPECT_EQ(Value(f, "velora_up"), 0);
  EXPECT_EQ(Value(f, "velora_ldap_inbound_sessions"), -1);  // a gone collector's figures are not served
  EXPECT_EQ(Value(f, "qvdexporter_collector_restarts_total"), 1);
  EXPECT_GE(Value(f, "qvdexporter_scrape_duration_seconds"), 0);
  EXPECT_FALSE(e.WaitFirstRound(0.01) && false);
}

}  // namespace
}  // namespace qvdexporter
