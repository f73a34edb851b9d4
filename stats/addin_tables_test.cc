// The seven add-in statistics tables, seen from the agent.
#include "stats/addin_tables.h"

#include <string>

#include "gtest/gtest.h"
#include "stats/catalogue.h"
#include "stats/fake_agent_testutil.h"
#include "stats/snapshot.h"

namespace {

class AddInTablesTest : public FakeAgentTest {
 protected:
  void SetUp() override {
    FakeAgentTest::SetUp();
    SetSeparators(',', '.');
  }
  Rows Build(const char* group) {
    return agent_->Answer(group, [group](const char* id) {
      ASSERT_TRUE(buildAddInTable(group, const_cast<char*>(id)));
    });
  }
};

TEST_F(AddInTablesTest, ViewPerformanceAndReplicationRows) {
  InstallSnapshot(
      "Server.Users\t4\n"
      "MVStats.ViewTime.Avg\t120\r\n"
      "MVStats.ViewTime.Count\t3,412\r\n"
      "MVStats.ViewTime.Max\t2,210\r\n"
      "MVStats.ViewTime.PercentUnder5\t80\r\n"
      "MVStats.Repl.Pulled.Documents.Transferred.srv2/acme\t1,204\n"
      "MVStats.Repl.Pulled.Documents.Transferred.host3\t7\n"  // no "/": not a server name
      "MVStats.Repl.Pulled.KBReceived.srv2/acme2\t999\n"      // another partner, listed first
      "MVStats.Repl.Pulled.KBReceived.srv2/acme\t20,331\n"
      "MVStats.Repl.Pushed.KBSent.srv2/acme\t5\n"
      "MVStats.Repl.Time.srv2/acme\t14\n"
      "Zone.After\t1\n");
  Rows view = Build("MV_View_Performance_Statistics");
  ASSERT_EQ(1u, view.size());
  EXPECT_EQ((Row{"Velora1/Acme", "viewtime", "2210", "120", "3412", "5", "80"}), view[0]);

  Rows repl = Build("MV_Replication_Statistics");
  ASSERT_EQ(1u, repl.size());
  // Companions are whole statistic names: srv2/acme2's value is not taken.
  EXPECT_EQ((Row{"Velora1/Acme", "srv2/acme", "repl", "20331", "", "1204", "", "5", "", "14", "",
                 ""}),
            repl[0]);
  // Built once per snapshot: a second request gets no rows.
  EXPECT_TRUE(Build("MV_Replication_Statistics").empty());
  EXPECT_STREQ("Velora1/Acme", MV_Replication_Statistics[0]);
}

TEST_F(AddInTablesTest, DelayIncomingOutgoingRows) {
  InstallSnapshot(
      "MVStats.Delay.srv2/acme.MinutesSince.Recv\t3\n"
      "MVStats.Delay.srv2/acme.MinutesSince.Send\t4\n"
      "MVStats.Delay.plainhost.MinutesSince.Recv\t9\n"
      "MVStats.In.srv3/acme.CountOver\t12\n"
      "MVStats.In.srv3/acme.Min\t1\n"
      "MVStats.In.srv3/acme.Max\t9\n"
      "MVStats.In.srv3/acme.Avg\t5\n"
      "MVStats.Out.srv4/acme.Volume\t1,000\n"
      "MVStats.Out.srv4/acme.Count\t10\n"
      "MVStats.Out.nohost.Volume\t1\n");
  EXPECT_EQ((Rows{{"Velora1/Acme", "srv2/acme", "delay", "3", "4"}}),
            Build("MV_Replication_Delay_Statistics"));
  EXPECT_EQ((Rows{{"Velora1/Acme", "srv3/acme", "in", "12", "1", "9", "5"}}),
            Build("MV_Mail_Incoming_Statistics"));
  EXPECT_EQ((Rows{{"Velora1/Acme", "srv4/acme", "out", "10", "1000"}}),
            Build("MV_Mail_Outgoing_Statistics"));
}

TEST_F(AddInTablesTest, MailSizeShapesAndDomainDirection) {
  InstallSnapshot(
      "MVStats.Size.Sent.Small.Avg\t12\n"
      "MVStats.Size.Sent.Small.Count\t8\n"
      "MVStats.Size.Sent.Small.Max\t99\n"
      "MVStats.Size.Recv.Avg\t48\n"
      "MVStats.Size.Recv.Count\t10\n"
      "MVStats.Size.Other.Avg\t1\n"  // neither shape: skipped
      "MVStats.Dom.Incoming.acme.com.Size\t500\n"
      "MVStats.Dom.Incoming.acme.com.Count\t5\n"
      "MVStats.Both.Outgoing.x.Incoming.y.Size\t7\n"
      "MVStats.Dom.Outgoing.example.org.Size\t300\n"
      "MVStats.Dom.Outgoing.example.org.Count\t3\n"
      "MVStats.Dom.Incoming.Size\t1\n");  // no domain before the measure: skipped
  EXPECT_EQ((Rows{{"Velora1/Acme", "small", "size.sent", "8", "99", "12"},
                  {"Velora1/Acme", "", "size.recv", "10", "", "48"}}),
            Build("MV_Mail_Size_Statistics"));
  EXPECT_EQ((Rows{{"Velora1/Acme", "acme.com", "dom.incoming", "5", "500"},
                  {"Velora1/Acme", "y", "both.outgoing.x.incoming", "", "7"},
                  {"Velora1/Acme", "example.org", "dom.outgoing", "3", "300"}}),
            Build("MV_Mail_Domain_Statistics"));
}

TEST_F(AddInTablesTest, WalkEndsOutsideTheAddInLinesAndMalformedLinesAreSafe) {
  std::string longName(100000, 'n');
  InstallSnapshot(
      "MVStats.A.srv2/acme.Volume\t1\n"
      "MVStats.Volume\t2\n"                                 // no statistic or item
      "MVStats." + longName + ".srv5/x.Volume\t3\n"         // a very long name is kept whole
      "MVStats.Value.Only\tmvstats.b.srv6/y.volume\t4\n"   // the measure in a value
      "Other.C.srv7/acme.Volume\t5\n"                       // ends the walk
      "MVStats.D.srv8/acme.Volume\t6\n");
  Rows rows = Build("MV_Mail_Outgoing_Statistics");
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ((Row{"Velora1/Acme", "srv2/acme", "a", "", "1"}), rows[0]);
  EXPECT_EQ(std::string(longName), rows[1][2]);
  EXPECT_EQ("3", rows[1][4]);
}

TEST_F(AddInTablesTest, DuplicateNameTakesItsFirstLine) {
  InstallSnapshot(
      "MVStats.Out.srv4/acme.Count\t1\n"
      + std::string(40, 'x') + "\t0\n"
      + "MVStats.Out.srv4/acme.Volume\t2\n"
      "MVStats.Out.srv4/acme.Count\t3\n");
  EXPECT_EQ((Rows{{"Velora1/Acme", "srv4/acme", "out", "1", "2"}}),
            Build("MV_Mail_Outgoing_Statistics"));
}

TEST_F(AddInTablesTest, NoAddInSectionNoRows) {
  InstallSnapshot("Server.Users\t4\n");
  EXPECT_EQ(nullptr, pMvStats);
  EXPECT_TRUE(Build("MV_View_Performance_Statistics").empty());
  EXPECT_FALSE(buildAddInTable("Velora_LDAP", const_cast<char*>("1")));
}

TEST_F(AddInTablesTest, ServerNameAndLineSearch) {
  InstallSnapshot("mvstats.a\tsrv1/acme.x\nmvstats.b\thost.x/y\n");
  char* first = pStatBuffer + 10;  // "srv1/acme.x"
  EXPECT_TRUE(isServername(first));
  EXPECT_FALSE(isServername(strchr(first, '\n') + 11));  // "host.x/y": full stop first
  EXPECT_FALSE(isServername(nullptr));
  EXPECT_EQ(pStatBuffer + 7, str_line(pStatBuffer, ".a"));
  EXPECT_EQ(nullptr, str_line(pStatBuffer, ".b"));  // on the next line
  EXPECT_EQ(pStatBuffer, str_line(pStatBuffer, ""));
  char noLineFeed[] = "mvstats.z";
  EXPECT_EQ(nullptr, str_line(noLineFeed, "z"));
}

}  // namespace
