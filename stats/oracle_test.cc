// The fast builders against the straightforward ones on generated
// snapshots: every table must come out row for row the same.
#include <string>

#include "gtest/gtest.h"
#include "state/globals.h"
#include "stats/catalogue.h"
#include "stats/fake_agent_testutil.h"
#include "stats/multi_row.h"
#include "stats/row_builder.h"
#include "stats/snapshot.h"
#include "stats/stats_generator_testutil.h"

namespace {

class OracleTest : public FakeAgentTest, public ::testing::WithParamInterface<StatsShape> {
 protected:
  void SetUp() override {
    FakeAgentTest::SetUp();
    responsetime = 2;
  }
};

TEST_P(OracleTest, FastBuildersMatchTheStraightforwardOnes) {
  for (auto separators : {std::make_pair(',', '.'), std::make_pair('.', ',')}) {
    SetSeparators(separators.first, separators.second);
    const std::string text = GenerateStats(GetParam());

    // Expected: single-row groups in catalogue order (each changes the text
    // for the next, as in the collector), then the tasks and destinations.
    InstallSnapshot(text);
    std::vector<Rows> expected;
    for (const QvdTableDescriptor& t : qvdTableCatalogue) {
      if (t.kind == QVD_TABLE_SINGLE_ROW) expected.push_back(OracleSingleRow(t.groupName));
    }
    Rows expectedTasks = OracleTasks();
    Rows expectedMail = OracleMailByDest("Velora_Mail_By_Dest");

    InstallSnapshot(text);
    size_t next = 0;
    int rows = 0;
    for (const QvdTableDescriptor& t : qvdTableCatalogue) {
      if (t.kind != QVD_TABLE_SINGLE_ROW) continue;
      Rows got = agent_->Answer(t.groupName, [&t](const char* id) {
        Parse_Velora_Data(id, t.groupName, t.values, t.columnCount, t.keywords, t.columns);
      });
      EXPECT_EQ(expected[next++], got) << t.groupName;
      rows += static_cast<int>(got.size());
    }
    EXPECT_GE(rows, 20);
    Rows tasks = agent_->Answer("Velora_Tasks", Parse_Velora_Tasks);
    for (Row& row : tasks) row.resize(3);  // the duration follows the clock
    EXPECT_EQ(expectedTasks, tasks);
    EXPECT_EQ(static_cast<size_t>(GetParam().tasks), tasks.size());
    Rows mail = agent_->Answer("Velora_Mail_By_Dest", Parse_Velora_Mail_By_Dest);
    if (GetParam().destinations > 0) {
      EXPECT_GT(mail.size(), 10u);
    }
    EXPECT_EQ(expectedMail, mail);
    EXPECT_EQ(expectedMail, agent_->Answer("Velora_Mail_By_Dest64", Parse_Velora_Mail_By_Dest64));
  }
}

StatsShape Shape(size_t bytes, int destinations, int tasks, bool scatter, unsigned seed) {
  StatsShape s;
  s.bytes = bytes;
  s.destinations = destinations;
  s.tasks = tasks;
  s.scatter = scatter;
  s.seed = seed;
  s.missing = scatter ? 0.2 : 0.03;
  return s;
}

INSTANTIATE_TEST_SUITE_P(Snapshots, OracleTest,
                         ::testing::Values(Shape(64 << 10, 40, 10, false, 1),
                                           Shape(256 << 10, 300, 50, false, 2),
                                           Shape(64 << 10, 60, 10, true, 3),
                                           Shape(256 << 10, 300, 50, true, 4),
                                           Shape(32 << 10, 0, 0, true, 5)));

}  // namespace
