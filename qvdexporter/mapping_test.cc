// The mapping file: the built-in one covers every table and column of the
// collector's catalogue within the naming rules, and a mapping that would
// break the exposition is refused with its line.
#include "qvdexporter/mapping.h"

#include <gtest/gtest.h>

#include "agentside/columns.h"
#include "stats/catalogue.h"

namespace qvdexporter {
namespace {

Mapping::ColumnsOf Catalogue() {
  static agentside::ColumnCatalogue columns;
  return [](const std::string& t) { return columns.Names(t); };
}

TEST(Mapping, BuiltInMappingCoversEveryTableButTheEventTable) {
  Mapping m;
  std::string error;
  ASSERT_TRUE(m.Parse(BuiltInMappingText(), "built-in", Catalogue(), &error)) << error;
  for (const QvdTableDescriptor& t : qvdTableCatalogue) {
    const TableRule* rule = m.Find(t.groupName);
    if (t.kind == QVD_TABLE_EVENT) {
      EXPECT_EQ(rule, nullptr);
      continue;
    }
    ASSERT_NE(rule, nullptr) << t.groupName;
    if (rule->kind == TableKind::kDuplicate) continue;
    ASSERT_EQ(rule->columns.size(), static_cast<size_t>(t.columnCount)) << t.groupName;
    for (int i = 0; i < t.columnCount; ++i) {
      EXPECT_EQ(rule->columns[i].column, t.columns[i]);
      EXPECT_EQ(rule->columns[i].index, i);
      if (rule->columns[i].kind == ColumnKind::kSkip) {
        EXPECT_FALSE(rule->columns[i].reason.empty());
      }
    }
  }
  // Each twin names a converted table with the same columns at its start.
  for (const TableRule& r : m.tables()) {
    if (r.kind != TableKind::kDuplicate) continue;
    const TableRule* other = m.Find(r.duplicateOf);
    std::vector<std::string> mine = Catalogue()(r.table);
    ASSERT_LE(mine.size(), other->columns.size()) << r.table;
    for (size_t i = 0; i < mine.size(); ++i) EXPECT_EQ(mine[i], other->columns[i].column) << r.table;
  }
  for (const auto& [name, family] : m.families()) {
    EXPECT_EQ(name.compare(0, 7, "velora_"), 0) << name;
    EXPECT_EQ(family.type == FamilyInfo::kCounter, name.size() > 6 && name.substr(name.size() - 6) == "_total")
        << name;
    EXPECT_FALSE(family.help.empty());
  }
}

std::string Refusal(const std::string& text) {
  Mapping m;
  std::string error;
  auto columns = [](const std::string& t) {
    if (t == "T") return std::vector<std::string>{"Server_Name", "A", "B"};
    if (t == "U") return std::vector<std::string>{"Server_Name", "A"};
    return std::vector<std::string>{};
  };
  EXPECT_FALSE(m.Parse(text, "m", columns, &error)) << text;
  return error;
}

TEST(Mapping, FaultsAreRefusedWithTheirLine) {
  const std::string t = "table T snapshot\n  Server_Name skip why\n";
  EXPECT_EQ(Refusal(t + "  A gauge velora_a\n"), "m:1: column B of T is not mapped");
  EXPECT_EQ(Refusal(t + "  A gauge velora_a\n  B gauge velora_b\n  C gauge velora_c\n"), "m:1: T has no column C");
  EXPECT_EQ(Refusal(t + "  A gauge velora_a\n  A gauge velora_b\n  B skip x\n"), "m:1: column A is named twice");
  EXPECT_EQ(Refusal(t + "  A counter velora_a\n  B skip x\n"), "m:1: velora_a: a counter's name ends in _total");
  EXPECT_EQ(Refusal(t + "  A gauge velora_a_total\n  B skip x\n"), "m:1: velora_a_total: only counters end in _total");
  EXPECT_EQ(Refusal(t + "  A gauge velora_A\n  B skip x\n"),
            "m:1: velora_A: metric names are velora_ followed by lower case, digits and _");
  EXPECT_EQ(Refusal(t + "  A gauge node_a\n  B skip x\n"),
            "m:1: node_a: metric names are velora_ followed by lower case, digits and _");
  EXPECT_EQ(Refusal(t + "  A info x\n  B skip y\n"), "m:1: T has info columns but no info=");
  EXPECT_EQ(Refusal("table T snapshot info=velora_t\n  Server_Name skip a\n  A info x\n  B skip y\n"),
            "m:1: velora_t: an info metric's name ends in _info");
  EXPECT_EQ(Refusal(t + "  A gauge velora_a{k=\"1\"}\n  B gauge velora_a\n"),
            "m:1: velora_a is used with different label names");
  EXPECT_EQ(Refusal(t + "  A gauge velora_a\n  B counter velora_a_total\ntable U snapshot\n  Server_Name skip x\n"
                        "  A gauge velora_a\n"),
            "m:5: velora_a is already produced by T; a metric belongs to one table");
  EXPECT_EQ(Refusal(t + "  A label instance\n  B gauge velora_b\n"), "m:1: velora_b: label name instance is not allowed");
  EXPECT_EQ(Refusal("table T delta\n  Server_Name skip a\n  A label x\n  B sum velora_b_total\n"),
            "m:1: a delta table needs rows=");
  EXPECT_EQ(Refusal("table T delta rows=velora_t_total\n  Server_Name skip a\n  A gauge velora_a\n  B skip y\n"),
            "m:1: A: a delta table has only label, sum and skip columns");
  EXPECT_EQ(Refusal("table X snapshot\n  Server_Name skip a\n"), "m:1: the collector has no table X");
  EXPECT_EQ(Refusal("table T snapshot\n  A gauge velora_a scale=0\n"), "m:2: bad scale scale=0");
  EXPECT_EQ(Refusal("table T sideways\n"), "m:1: unknown table kind sideways");
  EXPECT_EQ(Refusal("  A gauge velora_a\n"), "m:1: a column line before the first table line");
  EXPECT_EQ(Refusal("table U duplicate-of=T\n"), "m: U is a duplicate of T, which is not a converted table");
}

TEST(Mapping, OptionsOfColumns) {
  Mapping m;
  std::string error;
  auto columns = [](const std::string&) { return std::vector<std::string>{"Server_Name", "A", "B", "C"}; };
  ASSERT_TRUE(m.Parse("table T delta rows=velora_t_total dedup\n  Server_Name skip a b c\n"
                      "  A label result map=1:hit,2:miss strip-date\n  B sum velora_b_seconds_total{k=\"v\"} scale=1/1000\n"
                      "  C skip\ttabs and blanks\n",
                      "m", columns, &error))
      << error;
  const TableRule* t = m.Find("T");
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(t->dedup);
  EXPECT_EQ(t->columns[0].reason, "a b c");
  EXPECT_EQ(t->columns[1].values.at("2"), "miss");
  EXPECT_TRUE(t->columns[1].stripDate);
  EXPECT_DOUBLE_EQ(t->columns[2].scale.Apply(1500), 1.5);
  EXPECT_EQ(t->columns[2].constantLabels, (LabelPairs{{"k", "v"}}));
  EXPECT_EQ(m.families().at("velora_b_seconds_total").labelNames, (std::vector<std::string>{"result", "k"}));
  EXPECT_EQ(m.families().at("velora_t_total").type, FamilyInfo::kCounter);
}

}  // namespace
}  // namespace qvdexporter
