// Group updates across snapshots of the simulated server's directory:
// each change reported once, a failed lookup keeping the snapshot, and more
// changes than one answer holds following in the next answers.
#include "dbhealth/group_analyzer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "sim/sim_test_support.h"

namespace {

const char kServer[] = "CN=srv1/O=acme";
using Changes = std::vector<std::pair<std::string, std::string>>;

class Groups : public ::testing::Test {
 protected:
  void TearDown() override {
    GroupAnalyzer::close();
    EXPECT_EQ(0u, vaxelsim_handles_held());
  }
  void groups(const std::vector<std::string>& names, const std::string& extra = "") {
    std::string json = "{\"directory\": {\"groups\": [";
    for (size_t i = 0; i < names.size(); ++i) json += (i ? ",\"" : "\"") + names[i] + "\"";
    model_.Write("server.json", json + "]}" + extra + "}");
  }
  // The changes one request reports, and its result in *rc.
  static Changes check(int* rc = nullptr) {
    GroupUpdateInfoList updates;
    int r = GroupAnalyzer::checkGroups(kServer, &updates);
    if (rc != nullptr) *rc = r;
    Changes out;
    for (int i = 0; i < updates.getCount(); ++i)
      out.emplace_back(updates.getAt(i)->getGroupName(), updates.getAt(i)->getUpdate());
    return out;
  }
  TempModel model_;
};

TEST_F(Groups, EachChangeIsReportedOnceAdditionsFirst) {
  groups({"A", "B", "C"});
  ASSERT_TRUE(GroupAnalyzer::init(kServer));
  EXPECT_TRUE(GroupAnalyzer::init(kServer));
  EXPECT_EQ(1u, vaxelsim_call_count("VxDirLookup"));  // the second init looks nothing up
  EXPECT_EQ(Changes{}, check());
  groups({"B", "C", "D"});
  EXPECT_EQ((Changes{{"D", "Add"}, {"A", "Delete"}}), check());
  EXPECT_EQ(Changes{}, check());
  EXPECT_FALSE(GroupAnalyzer::init(nullptr));
  GroupUpdateInfoList notEmpty;
  GroupUpdateInfo r("x", "Add");
  notEmpty.add(&r);
  EXPECT_EQ(3, GroupAnalyzer::checkGroups(kServer, &notEmpty));
  EXPECT_EQ(1, GroupAnalyzer::checkGroups(nullptr, &notEmpty));
}

TEST_F(Groups, AnUnreadableDirectoryKeepsTheSnapshotForALaterRequest) {
  groups({"A", "B"});
  ASSERT_TRUE(GroupAnalyzer::init(kServer));
  groups({"B", "C"}, ", \"faults\": {\"VxDirLookup\": 1234}");
  int rc = 0;
  EXPECT_EQ(Changes{}, check(&rc));
  EXPECT_EQ(401, rc);
  groups({"B", "C"});
  EXPECT_EQ((Changes{{"C", "Add"}, {"A", "Delete"}}), check());
}

TEST_F(Groups, AFailedInitReportsEveryGroupAsAddedAndMayBeRepeated) {
  groups({"A", "B"}, ", \"faults\": {\"VxDirLookup\": {\"status\": 1234, \"count\": 2}}");
  EXPECT_FALSE(GroupAnalyzer::init(kServer));
  EXPECT_FALSE(GroupAnalyzer::init(kServer));  // replaces the empty snapshot, leaks nothing
  EXPECT_EQ((Changes{{"A", "Add"}, {"B", "Add"}}), check());
  GroupAnalyzer::close();
  EXPECT_EQ(nullptr, GroupAnalyzer::snapshot());
  EXPECT_TRUE(GroupAnalyzer::init(kServer));
  EXPECT_EQ(2, GroupAnalyzer::snapshot()->getCount());
}

TEST_F(Groups, MoreChangesThanOneAnswerHoldsFollowInTheNextAnswers) {
  std::vector<std::string> before, after;
  for (int i = 0; i < 100; ++i) before.push_back("old" + std::to_string(i));
  for (int i = 0; i < 600; ++i) after.push_back("new" + std::to_string(i));
  groups(before);
  ASSERT_TRUE(GroupAnalyzer::init(kServer));
  groups(after);
  Changes first = check();
  ASSERT_EQ(512u, first.size());
  EXPECT_EQ((std::pair<std::string, std::string>{"new511", "Add"}), first.back());
  Changes second = check();
  ASSERT_EQ(188u, second.size());
  EXPECT_EQ((std::pair<std::string, std::string>{"new512", "Add"}), second.front());
  EXPECT_EQ((std::pair<std::string, std::string>{"new599", "Add"}), second[87]);
  EXPECT_EQ((std::pair<std::string, std::string>{"old0", "Delete"}), second[88]);
  EXPECT_EQ((std::pair<std::string, std::string>{"old99", "Delete"}), second.back());
  EXPECT_EQ(Changes{}, check());
  EXPECT_EQ(600, GroupAnalyzer::snapshot()->getCount());
}

}  // namespace
