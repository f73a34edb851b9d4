// Decoding of agent request lines by ClientRequestXMLHandler through the
// parser, as the client does it.
#include "agentlink/client_request_handler.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "agentlink/parser.h"

namespace {

struct Decoded {
  std::unique_ptr<ClientRequestXMLHandler> h{new ClientRequestXMLHandler};
  bool ok = false;
};

Decoded Decode(const std::string& line) {
  Decoded d;
  std::vector<char> buf(line.begin(), line.end());
  buf.push_back('\0');
  Parser p(d.h.get());
  d.ok = p.parse(buf.data());
  return d;  // the handler owns copies; the buffer may go
}

std::string Str(const char* s) { return s != nullptr ? s : "<null>"; }

TEST(ClientRequestHandler, DataRequest) {
  Decoded d = Decode("<dataRequest id=\"9\" requestStartedID=\"3\"><attrGroup name=\"G\"/></dataRequest>");
  EXPECT_TRUE(d.ok);
  EXPECT_TRUE(d.h->isDataRequest());
  EXPECT_FALSE(d.h->isTaskRequest());
  EXPECT_EQ(Str(d.h->getId()), "9");
  EXPECT_EQ(Str(d.h->getRequestStartedID()), "3");
  EXPECT_EQ(Str(d.h->getAttrGroup()), "G");
  EXPECT_EQ(d.h->getSubnode(), nullptr);
  EXPECT_EQ(d.h->getRequestInfoHead(), nullptr);
}

TEST(ClientRequestHandler, TaskRequest) {
  Decoded d = Decode("<taskRequest id=\"4\"><task command=\"c1\" user=\"u1\"/></taskRequest>");
  EXPECT_TRUE(d.h->isTaskRequest());
  EXPECT_EQ(Str(d.h->getId()), "4");
  EXPECT_EQ(Str(d.h->getTaskRequest()), "c1");
  EXPECT_EQ(Str(d.h->getTaskRequestUser()), "u1");
  Decoded noUser = Decode("<taskRequest id=\"5\"><task command=\"c\"/></taskRequest>");
  EXPECT_EQ(noUser.h->getTaskRequestUser(), nullptr);
}

TEST(ClientRequestHandler, StartStopAndShutdownNotices) {
  Decoded start = Decode("<startRequestInfo ag=\"G\" requestStartedID=\"3\"/>");
  EXPECT_TRUE(start.h->isRequestStartedRequest());
  EXPECT_EQ(Str(start.h->getAttrGroup()), "G");
  EXPECT_EQ(Str(start.h->getRequestStartedID()), "3");

  for (const char* yes : {"True", "TRUE", "true", "tRuE"}) {
    Decoded stop = Decode(std::string("<stopRequestInfo ag=\"G\" requestStartedID=\"3\" shuttingDown=\"") + yes + "\"/>");
    EXPECT_TRUE(stop.h->isRequestStoppedRequest());
    EXPECT_TRUE(stop.h->isShuttingDown()) << yes;
    EXPECT_FALSE(stop.h->isShutdownRequest());
  }
  for (const char* no : {"no", "TRUE ", "", "1"}) {
    Decoded stop = Decode(std::string("<stopRequestInfo ag=\"G\" shuttingDown=\"") + no + "\"/>");
    EXPECT_FALSE(stop.h->isShuttingDown()) << no;
  }
  EXPECT_FALSE(Decode("<stopRequestInfo ag=\"G\"/>").h->isShuttingDown());

  Decoded down = Decode("<shutdown/>");
  EXPECT_TRUE(down.h->isShutdownRequest());
  EXPECT_TRUE(down.h->isShuttingDown());
}

TEST(ClientRequestHandler, RequestInfoChainKeepsDocumentOrder) {
  Decoded d = Decode(
      "<dataRequest id=\"1\"><attrGroup name=\"G\"/>"
      "<requestInfo name=\"a\" value=\"1\"/>"
      "<requestInfo name=\"b\" value=\"&lt;2\" op=\"GT\" logOp=\"AND\"/>"
      "<requestInfo name=\"c\" value=\"3\" logOp=\"OR\"/>"
      "<requestInfo value=\"4\"/></dataRequest>");
  const RequestInfo* r = d.h->getRequestInfoHead();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(Str(r->name), "a");
  EXPECT_EQ(r->op, nullptr);
  EXPECT_EQ(r->logOp, nullptr);
  r = r->next;
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(Str(r->value), "<2");
  EXPECT_EQ(Str(r->op), "GT");
  EXPECT_EQ(Str(r->logOp), "AND");
  r = r->next;
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->op, nullptr);
  EXPECT_EQ(Str(r->logOp), "OR");
  r = r->next;
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->name, nullptr);  // kept; the client drops it
  EXPECT_EQ(r->next, nullptr);
}

TEST(ClientRequestHandler, SubnodeFromAnyElementLastWins) {
  EXPECT_EQ(Str(Decode("<dataRequest id=\"1\"><attrGroup name=\"G\" subnode=\"s1\"/></dataRequest>").h->getSubnode()),
            "s1");
  EXPECT_EQ(Str(Decode("<dataRequest id=\"1\" subnode=\"a\"><foo subnode=\"b\"/></dataRequest>").h->getSubnode()),
            "b");
  Decoded other = Decode("<foo subnode=\"x\"/>");
  EXPECT_EQ(Str(other.h->getSubnode()), "x");
  EXPECT_FALSE(other.h->isDataRequest() || other.h->isTaskRequest() || other.h->isRequestStartedRequest() ||
               other.h->isRequestStoppedRequest() || other.h->isShutdownRequest());
  // Last id wins too.
  EXPECT_EQ(Str(Decode("<x><dataRequest id=\"1\"/><dataRequest id=\"2\"/></x>").h->getId()), "2");
}

TEST(ClientRequestHandler, NamesCloseToKnownOnesAreUnknown) {
  // Names are compared exactly: a shared first letter, a prefix, a longer
  // name or another letter case is an unknown element.
  for (const char* name : {"data", "dataRequests", "DataRequest", "tas", "tasks", "taskrequest", "attr", "s",
                           "start", "stopRequest", "shutdownNow", "requestInfos", "r", "x"}) {
    Decoded d = Decode(std::string("<") + name + " id=\"1\" name=\"G\" command=\"c\" ag=\"A\" value=\"v\"/>");
    EXPECT_TRUE(d.ok) << name;
    EXPECT_FALSE(d.h->isDataRequest() || d.h->isTaskRequest() || d.h->isRequestStartedRequest() ||
                 d.h->isRequestStoppedRequest() || d.h->isShutdownRequest() || d.h->isShuttingDown())
        << name;
    EXPECT_EQ(d.h->getId(), nullptr) << name;
    EXPECT_EQ(d.h->getAttrGroup(), nullptr) << name;
    EXPECT_EQ(d.h->getTaskRequest(), nullptr) << name;
    EXPECT_EQ(d.h->getRequestInfoHead(), nullptr) << name;
  }
}

TEST(ClientRequestHandler, WhatWasDecodedBeforeAFaultStays) {
  Decoded d = Decode("<dataRequest id=\"7\"><attrGroup name=\"G\"/><broken x=1>");
  EXPECT_FALSE(d.ok);
  EXPECT_TRUE(d.h->isDataRequest());
  EXPECT_EQ(Str(d.h->getId()), "7");
  EXPECT_EQ(Str(d.h->getAttrGroup()), "G");
}

}  // namespace
