// The handles a collector holds, followed from the simulator's call log:
// hand-outs and releases of every kind, failed calls, texts that look like
// keys, lines written in pieces, and the exit line that ends a process.
#include "tools/agentsim/sim_handles.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace agentsim {
namespace {

TEST(SimHandlesTest, CountsHandlesHandedOutAndNotReleased) {
  SimHandles h("/nonexistent/calls.log");
  h.Line("VxInitRuntime argc=1 program=\"qvdclient\" rc=0");
  h.Line("VxGetServerStats server=\"CN=srv1/O=acme\" facility=null name=null handle=3 length=10240 rc=0");
  h.Line("VxGetServerStats server=\"CN=srv1/O=acme\" facility=null name=null handle=0 length=0 rc=0");  // no data
  // A quoted text that holds what looks like keys does not count.
  h.Line("VxDbOpen path=\"x handle=77 rc=0 \\\" handle=78\" handle=5 rc=0");
  h.Line("VxDbOpenExtended path=\"CN=srv1/O=acme!!log.vdb\" options=512 rc=572");
  h.Line("VxDbOpen path=\"a.vdb\" injected=1 rc=559");
  h.Line("VxDocOpen handle=5 note=4097 flags=0 document=7 rc=0");
  h.Line("VxDocCreate handle=5 document=8 rc=0");
  h.Line("VxViewOpen handle=5 note=2 flags=0 collection=9 rc=0");
  h.Line("VxViewReadEntries handle=9 skip=1 count=4294967295 mask=1 buffer=10 returned=3 rc=0");
  h.Line("VxDirLookup server=\"CN=srv1/O=acme\" flags=33 namespace=\"$PeopleGroupsFlat\" handle=11 matches=2 rc=0");
  h.Line("VxFormulaCompile text=\"SELECT @All\" handle=12 rc=0");
  h.Line("VxPathNetConstruct port=null server=\"" + std::string(1100, 'x') + "\"... file=\"log.vdb\" rc=0");
  EXPECT_EQ(h.held(), 8u);
  EXPECT_EQ(h.HeldByEntryPoint().at("VxDbOpen"), 1u);

  h.Line("VxMemFree handle=3 rc=0");
  h.Line("VxMemFree handle=3 rc=277");  // a second free is refused
  h.Line("VxDocClose handle=7 rc=0");
  h.Line("VxDocClose handle=8 rc=0");
  h.Line("VxViewClose handle=9 rc=0");
  h.Line("VxMemFree handle=10 rc=0");
  h.Line("VxMemFree handle=11 rc=0");
  h.Line("VxDbClose handle=99 rc=277");
  EXPECT_EQ(h.held(), 2u);
  auto by = h.HeldByEntryPoint();
  EXPECT_EQ(by.size(), 2u);
  EXPECT_EQ(by["VxDbOpen"], 1u);
  EXPECT_EQ(by["VxFormulaCompile"], 1u);
  EXPECT_FALSE(h.exitHandlesHeld());

  // The process ends: its handles are gone with it, the simulator's count
  // is kept, and a later process starts from none.
  h.Line("exit handles_held=2 memory=1 databases=1 documents=0 collections=0");
  EXPECT_EQ(h.held(), 0u);
  EXPECT_EQ(h.exitHandlesHeld(), 2);
  h.Line("VxDbOpen path=\"a.vdb\" handle=5 rc=0");
  EXPECT_EQ(h.held(), 1u);
}

TEST(SimHandlesTest, ReadsOnlyCompleteLinesAsTheLogGrows) {
  char dir[] = "/tmp/agentsim-handles-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/calls.log";
  SimHandles h(path);
  EXPECT_FALSE(h.Update());  // not there yet

  {
    std::ofstream out(path, std::ios::binary);
    out << "VxDbOpen path=\"a.vdb\" handle=5 rc=0\nVxDbOpen path=\"b.vdb\" hand";
  }
  ASSERT_TRUE(h.Update());
  EXPECT_EQ(h.held(), 1u);
  EXPECT_EQ(h.lines(), 1u);
  {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << "le=6 rc=0\nVxDbClose handle=5 rc=0\n";
  }
  ASSERT_TRUE(h.Update());
  EXPECT_EQ(h.held(), 1u);
  EXPECT_EQ(h.HeldByEntryPoint().at("VxDbOpen"), 1u);
  EXPECT_EQ(h.lines(), 3u);

  // A log replaced by a shorter one is read from its start.
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "VxDbClose handle=6 rc=0\n";
  }
  ASSERT_TRUE(h.Update());
  EXPECT_EQ(h.held(), 0u);
  unlink(path.c_str());
  rmdir(dir);
}

}  // namespace
}  // namespace agentsim
