// The agent side's reader against hand-written collector lines: every message
// form a collector sends, the escaping of values, and the malformed lines it
// must refuse (a lenient reader would hide the collector's faults).
#include "agentside/wire_reader.h"

#include <gtest/gtest.h>

namespace agentside {
namespace {

WireMessage Read(const std::string& line) {
  WireMessage msg;
  std::string error;
  EXPECT_TRUE(ReadWireMessage(line, &msg, &error)) << line << "\n" << error;
  return msg;
}

std::string Reject(const std::string& line) {
  WireMessage msg;
  std::string error;
  EXPECT_FALSE(ReadWireMessage(line, &msg, &error)) << line;
  return error;
}

TEST(WireReader, RegistrationListsGroupsInOrderWithVersions) {
  WireMessage m = Read(
      "<cpciRegister ver=\"4\"><attrGroupList><attrGroup name=\"Velora_Tasks\" ver=\"2\"/>"
      "<attrGroup name=\"MV_Server\" ver=\"1\"/></attrGroupList></cpciRegister>");
  EXPECT_EQ(m.kind, WireMessage::kRegistration);
  EXPECT_EQ(m.protocolVersion, 4);
  ASSERT_EQ(m.groups.size(), 2u);
  EXPECT_EQ(m.groups[0], std::make_pair(std::string("Velora_Tasks"), 2L));
  EXPECT_EQ(m.groups[1], std::make_pair(std::string("MV_Server"), 1L));

  WireMessage empty = Read("<cpciRegister ver=\"4\"><attrGroupList></attrGroupList></cpciRegister>");
  EXPECT_TRUE(empty.groups.empty());
}

TEST(WireReader, DataResponsesWithRowsWithoutRowsAndErrors) {
  WireMessage m = Read(
      "<dataResponse id=\"12\"><attrGroup name=\"G\"><in><al><a v=\"3\"/><a v=\"a&amp;b\"/></al></in>"
      "<in><al><a v=\"\"/><a v=\"x\"/></al></in></attrGroup></dataResponse>");
  EXPECT_EQ(m.kind, WireMessage::kData);
  EXPECT_EQ(m.id, "12");
  EXPECT_EQ(m.group, "G");
  ASSERT_EQ(m.rows.size(), 2u);
  EXPECT_EQ(m.rows[0], (std::vector<std::string>{"3", "a&b"}));
  EXPECT_EQ(m.rows[1], (std::vector<std::string>{"", "x"}));

  WireMessage none = Read("<dataResponse id=\"5\"><attrGroup name=\"G\"></attrGroup></dataResponse>");
  EXPECT_EQ(none.kind, WireMessage::kData);
  EXPECT_TRUE(none.rows.empty());

  WireMessage noColumns = Read("<dataResponse id=\"5\"><attrGroup name=\"G\"><in><al></al></in></attrGroup></dataResponse>");
  ASSERT_EQ(noColumns.rows.size(), 1u);
  EXPECT_TRUE(noColumns.rows[0].empty());

  WireMessage err = Read("<dataResponse id=\"7\"><attrGroup name=\"G\"><error rc=\"-1\"/></attrGroup></dataResponse>");
  EXPECT_EQ(err.kind, WireMessage::kDataError);
  EXPECT_EQ(err.id, "7");
  EXPECT_EQ(err.rc, -1);
}

TEST(WireReader, EventsEventErrorsAndTaskResponses) {
  WireMessage ev = Read("<pureEvent><attrGroup name=\"MV_Server\"><in><al><a v=\"s\"/><a v=\"t\"/></al></in></attrGroup></pureEvent>");
  EXPECT_EQ(ev.kind, WireMessage::kEvent);
  EXPECT_FALSE(ev.hasSubnode);
  ASSERT_EQ(ev.rows.size(), 1u);
  EXPECT_EQ(ev.rows[0][1], "t");

  WireMessage sub = Read("<pureEvent subnode=\"n1\"><attrGroup name=\"G\"><error rc=\"1001\"/></attrGroup></pureEvent>");
  EXPECT_EQ(sub.kind, WireMessage::kEventError);
  EXPECT_TRUE(sub.hasSubnode);
  EXPECT_EQ(sub.subnode, "n1");
  EXPECT_EQ(sub.rc, 1001);

  WireMessage task = Read("<taskResponse id=\"7\" rc=\"0\"/>");
  EXPECT_EQ(task.kind, WireMessage::kTask);
  EXPECT_EQ(task.id, "7");
  EXPECT_EQ(task.rc, 0);
}

TEST(WireReader, DecodesEveryEscapeTheCollectorWrites) {
  WireMessage m = Read(
      "<dataResponse id=\"1\"><attrGroup name=\"G\"><in><al>"
      "<a v=\"a&lt;b&amp;&quot;\"/><a v=\"x&gt;y&apos;z\"/><a v=\"line1&#10;line2\"/><a v=\"&#x41;&#233;\"/>"
      "</al></in></attrGroup></dataResponse>");
  ASSERT_EQ(m.rows.size(), 1u);
  EXPECT_EQ(m.rows[0][0], "a<b&\"");
  EXPECT_EQ(m.rows[0][1], "x>y'z");
  EXPECT_EQ(m.rows[0][2], "line1\nline2");
  EXPECT_EQ(m.rows[0][3], "A\xC3\xA9");
  // Bytes that need no escape pass through unchanged, high bytes included.
  WireMessage raw = Read("<dataResponse id=\"1\"><attrGroup name=\"G\"><in><al><a v=\"\xE3\x81\x82 \t/=\"/></al></in></attrGroup></dataResponse>");
  EXPECT_EQ(raw.rows[0][0], "\xE3\x81\x82 \t/=");
}

TEST(WireReader, RefusesLinesThatAreNotWrittenAsTheCollectorMust) {
  const char* kBad[] = {
      "",
      "<?xml version=\"1.0\"?><taskResponse id=\"1\" rc=\"0\"/>",
      " <taskResponse id=\"1\" rc=\"0\"/>",
      "<taskResponse id=\"1\" rc=\"0\"/> ",
      "<taskResponse id=\"1\" rc=\"0\"/><taskResponse id=\"2\" rc=\"0\"/>",
      "<taskResponse id='1' rc=\"0\"/>",
      "<taskResponse  id=\"1\" rc=\"0\"/>",
      "<taskResponse id=\"1\" rc=\"00\"/>",
      "<taskResponse id=\"1\" rc=\"+1\"/>",
      "<taskResponse id=\"1\" rc=\" 1\"/>",
      "<taskResponse id=\"1\" rc=\"-0\"/>",
      "<taskResponse id=\"1\"/>",
      "<taskResponse id=\"1\" rc=\"0\" extra=\"x\"/>",
      "<taskResponse id=\"1\" id=\"2\" rc=\"0\"/>",
      "<cpciRegister ver=\"04\"><attrGroupList></attrGroupList></cpciRegister>",
      "<cpciRegister ver=\"4\"></cpciRegister>",
      "<cpciRegister ver=\"4\"><attrGroupList><attrGroup name=\"G\"/></attrGroupList></cpciRegister>",
      "<dataResponse id=\"1\"><attrGroup name=\"G\"> <in><al></al></in></attrGroup></dataResponse>",
      "<dataResponse id=\"1\"><attrGroup name=\"G\">text</attrGroup></dataResponse>",
      "<dataResponse id=\"1\"><attrGroup name=\"G\"><in><al><a v=\"a>b\"/></al></in></attrGroup></dataResponse>",
      "<dataResponse id=\"1\"><attrGroup name=\"G\"><in><al><a v=\"a'b\"/></al></in></attrGroup></dataResponse>",
      "<dataResponse id=\"1\"><attrGroup name=\"G\"><in><al><a v=\"a&b\"/></al></in></attrGroup></dataResponse>",
      "<dataResponse id=\"1\"><attrGroup name=\"G\"><in><al><a v=\"&nbsp;\"/></al></in></attrGroup></dataResponse>",
      "<dataResponse id=\"1\"><attrGroup name=\"G\"><in><al><a v=\"&#0;\"/></al></in></attrGroup></dataResponse>",
      "<dataResponse id=\"1\"><attrGroup name=\"G\"><in><al><a v=\"x\"></a></al></in></attrGroup></dataResponse>",
      "<dataResponse id=\"1\"><attrGroup name=\"G\"><in><al><a v=\"x\"><b/></a></al></in></attrGroup></dataResponse>",
      "<dataResponse id=\"1\"><attrGroup name=\"G\"><in><al><b v=\"x\"/></al></in></attrGroup></dataResponse>",
      "<dataResponse id=\"1\"><attrGroup name=\"G\"><in></in></attrGroup></dataResponse>",
      "<dataResponse id=\"1\"><attrGroup name=\"G\"><error rc=\"1\"/><in><al></al></in></attrGroup></dataResponse>",
      "<dataResponse id=\"1\"><attrGroup name=\"G\"></attrGroup><attrGroup name=\"H\"></attrGroup></dataResponse>",
      "<dataResponse><attrGroup name=\"G\"></attrGroup></dataResponse>",
      "<dataResponse id=\"1\"><attrGroup name=\"G\"></attrGroup></dataRespons>",
      "<dataResponse id=\"1\"><attrGroup name=\"G\"></attrGroup>",
      "<pureEvent id=\"1\"><attrGroup name=\"G\"></attrGroup></pureEvent>",
      "<dataRequest id=\"1\"><attrGroup name=\"G\"/></dataRequest>",
      "<dataResponse id=\"1\"><attrGroup name=\"G\"/></dataResponse>",
      "<dataResponse id=\"1\"><attrGroup name=\"G\"><in><al/></in></attrGroup></dataResponse>",
      "<taskResponse id=\"1\" rc=\"0\"></taskResponse>",
  };
  for (const char* line : kBad) Reject(line);
  EXPECT_NE(Reject("<dataResponse id=\"1\"><attrGroup name=\"G\"><in><al><a v=\"&foo;\"/></al></in></attrGroup></dataResponse>")
                .find("unknown entity &foo;"),
            std::string::npos);
}

TEST(WireReader, HostileNestingIsRefusedNotRecursedWithoutBound) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<x>";
  std::string error = Reject(deep);
  EXPECT_NE(error.find("nested too deep"), std::string::npos) << error;
}

TEST(WireReader, NumbersAsTheProtocolWritesThem) {
  long v = 0;
  EXPECT_TRUE(ParseWireNumber("0", &v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(ParseWireNumber("-12", &v));
  EXPECT_EQ(v, -12);
  for (const char* bad : {"", "-", "007", "-0", "+1", "1 ", "1e3", "99999999999999999999"})
    EXPECT_FALSE(ParseWireNumber(bad, &v)) << bad;
}

}  // namespace
}  // namespace agentside
