// The single-row builder, seen from the agent: which rows arrive for a
// snapshot, with which values and computed columns.
#include "stats/row_builder.h"

#include <string>

#include "framework/trace_capture.h"
#include "gtest/gtest.h"
#include "state/globals.h"
#include "stats/catalogue.h"
#include "stats/fake_agent_testutil.h"
#include "stats/snapshot.h"

namespace {

class RowBuilderTest : public FakeAgentTest {
 protected:
  void SetUp() override {
    FakeAgentTest::SetUp();
    SetSeparators(',', '.');
  }

  // Builds `group` for a fresh request and returns the rows the agent got.
  Rows Build(const char* group) {
    const QvdTableDescriptor* t = findTableDescriptor(group);
    return agent_->Answer(group, [t](const char* id) {
      Parse_Velora_Data(id, t->groupName, t->values, t->columnCount, t->keywords, t->columns);
    });
  }
};

TEST_F(RowBuilderTest, ColumnsComeFromTheirKeywordsAfterTheSection) {
  InstallSnapshot(
      "Calendar.Total.Users\t99\r\n"  // opens the section; the first occurrence wins
      "Calendar.Total.All.Appts.Reservations\t1,500\r\n"
      "Calendar.Total.Appts\t12\r\n"
      "Calendar.Total.Users\t40\r\n"
      "Server.Users\t12\r\n");
  Rows rows = Build("Velora_Calendar");
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ((Row{"Velora1/Acme", "1500", "", "12", "", "", "99"}), rows[0]);
  EXPECT_STREQ("Velora1/Acme", Velora_Calendar[0]);
  EXPECT_STREQ("12", Velora_Calendar[3]);  // the slot points at the terminated value

  // A statistic standing before the section keyword is not found.
  InstallSnapshot(
      "dbcache.hits\t5\n"
      "database.dafailovercount\t0\n"
      "database.darefreshserverinfocount\t3\n"
      "vdbpool.peak\t8\n");
  rows = Build("Velora_Database");
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ("3", rows[0][1]);   // DA_Refresh_Server_Info_Count: tail of a longer name
  EXPECT_EQ("", rows[0][10]);   // Db_Cache_Hits stands before the section
  EXPECT_EQ("8", rows[0][15]);  // VDB_Pool_Peak
}

TEST_F(RowBuilderTest, NoRowWithoutSectionOrStatistics) {
  TraceCaptureStart("stats=detail");
  InstallSnapshot("server.users\t12\n");
  EXPECT_TRUE(Build("Velora_LDAP").empty());
  EXPECT_EQ(nullptr, Velora_LDAP[0]);  // still fresh: the next request tries again
  EXPECT_TRUE(TraceCaptureHas(TraceCaptureLines("stats/"), "No keyword(ldap.) found for Velora_LDAP"));

  InstallSnapshot("ldap.unknown\tx\n");
  EXPECT_TRUE(Build("Velora_LDAP").empty());
  EXPECT_EQ(nullptr, Velora_LDAP[0]);
  EXPECT_TRUE(TraceCaptureHas(TraceCaptureLines("stats/"), "No data results for Velora_LDAP"));
  TraceCaptureStart("error");
}

TEST_F(RowBuilderTest, SlotsNeverKeepValuesOfAnOlderSnapshot) {
  InstallSnapshot("ldap.\t\nldap.sessions.total\t4\n");
  ASSERT_EQ(1u, Build("Velora_LDAP").size());
  EXPECT_STREQ("4", Velora_LDAP[14]);
  InstallSnapshot("smtp.x\t1\n");
  EXPECT_TRUE(Build("Velora_LDAP").empty());
  for (int i = 0; i < Velora_LDAP_ColumnCount; ++i) EXPECT_EQ(nullptr, Velora_LDAP[i]) << i;
}

TEST_F(RowBuilderTest, ServerRowWithoutSnapshotCarriesOnlyTheServerName) {
  responsetime = 3;
  Rows rows = Build("Velora_Server64");
  ASSERT_EQ(1u, rows.size());
  Row expected(16, "");
  expected[0] = "Velora1/Acme";
  EXPECT_EQ(expected, rows[0]);

  InstallSnapshot("server.availabilityindex\t90\nserver.users\t7\nserver.users.peak\t9\n");
  rows = Build("Velora_Server64");
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ("90", rows[0][5]);
  EXPECT_EQ("9", rows[0][10]);  // Users_Peak
  EXPECT_EQ("7", rows[0][12]);  // Users: its keyword never matches the longer name
  EXPECT_EQ("3", rows[0][15]);  // Response_Time
  EXPECT_EQ("", Build("Velora_Server")[0].back());
}

TEST_F(RowBuilderTest, KilobyteIntervalsNeedAPreviousBuild) {
  InstallSnapshot("net.tcpip.bytesreceived\t1,024,000\nnet.tcpip.bytessent\t10240\n");
  Rows first = Build("Velora_NET_TCPIP64");
  ASSERT_EQ(1u, first.size());
  EXPECT_EQ("1024000", first[0][4]);
  EXPECT_EQ("", first[0][6]);
  EXPECT_EQ("", first[0][7]);
  storeKilobyteCounters("Velora_NET_TCPIP64", Velora_NET_TCPIP64);
  EXPECT_EQ(1000, prevTCPIPKBRec);
  EXPECT_EQ(10, prevTCPIPKBSent);

  InstallSnapshot("net.tcpip.bytesreceived\t2,048,000\nnet.tcpip.bytessent\t9216\n");
  Rows second = Build("Velora_NET_TCPIP64");
  ASSERT_EQ(1u, second.size());
  EXPECT_EQ("1000", second[0][6]);
  EXPECT_EQ("-1", second[0][7]);  // a restarted counter goes out unchanged
  // The plain group has no computed columns.
  EXPECT_EQ(6u, Build("Velora_NET_TCPIP")[0].size());
}

TEST_F(RowBuilderTest, SmtpIntervalsAreComputedSeparately) {
  prevSMTPKBRec = 100;
  prevSMTPKBSent = 50;
  InstallSnapshot(
      "smtp.sessions.inbound.bytesreceived\t307200\n"
      "smtp.sessions.inbound.bytessent\t102400\n"
      "smtp.sessions.inbound.kbsentinterval\t77\n");
  Rows rows = Build("Velora_SMTP64");
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ("200", rows[0][7]);
  EXPECT_EQ("50", rows[0][8]);
  storeKilobyteCounters("Velora_SMTP64", Velora_SMTP64);
  EXPECT_EQ(300, prevSMTPKBRec);
  EXPECT_EQ(100, prevSMTPKBSent);

  // Without a previous count the column keeps what its keyword found.
  prevSMTPKBSent = 0;
  InstallSnapshot(
      "smtp.sessions.inbound.bytessent\t102400\n"
      "smtp.sessions.inbound.kbsentinterval\t77\n");
  EXPECT_EQ("77", Build("Velora_SMTP64")[0][8]);
}

TEST_F(RowBuilderTest, TwinGroupsNormaliseSharedValuesOnce) {
  SetSeparators('.', ',');
  InstallSnapshot("ldap.sessions.threads.busy\t3,5\nldap.sessions.total\t1.234.567\n");
  Rows plain = Build("Velora_LDAP");
  Rows wide = Build("Velora_LDAP64");
  ASSERT_EQ(1u, plain.size());
  ASSERT_EQ(1u, wide.size());
  EXPECT_EQ("3.5", plain[0][15]);
  EXPECT_EQ("1234567", plain[0][14]);
  EXPECT_EQ(plain, wide);
}

TEST_F(RowBuilderTest, RowIsTracedColumnByColumn) {
  TraceCaptureStart("stats=detail");
  InstallSnapshot("agent.daily.scheduledruns\t4\n");
  Build("Velora_Agent");
  std::vector<std::string> lines = TraceCaptureLines("stats/rows");
  EXPECT_TRUE(TraceCaptureHas(lines, "Data results for Velora_Agent: "));
  EXPECT_TRUE(TraceCaptureHas(lines, "Server_Name[0]=Velora1/Acme agent.daily."));
  EXPECT_TRUE(TraceCaptureHas(lines, "Daily_Scheduled_Runs[3]=4 agent.daily.scheduledruns\t"));
  EXPECT_TRUE(TraceCaptureHas(lines, "Daily_Access_Denials[1]=NULL agent.daily.accessdenials\t"));
  TraceCaptureStart("error");
}

}  // namespace
