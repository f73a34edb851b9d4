#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <string>
#include <vector>

#include "serverapi/vaxel.h"
#include "sim/descriptor_probe.h"
#include "sim/sim_test_support.h"

namespace {

// The statistics as the collector would take them: text and length.
struct Stats {
  VxStatus status;
  VxMemHandle handle;
  std::string text;
};

Stats TakeStats(const char* name = nullptr) {
  VxMemHandle h = 0;
  uint32_t len = 12345;
  VxStatus s = VxGetServerStats("CN=srv1/O=acme", nullptr, name, &h, &len);
  Stats st{s, h, ""};
  if (h != 0) {
    const char* p = static_cast<const char*>(VxLockObject(h));
    st.text.assign(p, len);
    VxUnlockObject(h);
  }
  return st;
}

std::vector<std::string> ListEntries(VxListHandle h) {
  std::vector<std::string> out;
  void* list = VxLockObject(h);
  uint16_t n = VxListCount(list, 0);
  for (uint16_t i = 0; i < n; ++i) {
    char* text = nullptr;
    uint16_t len = 0;
    EXPECT_EQ(0, VxListEntryText(list, 0, i, &text, &len));
    out.emplace_back(text, len);
  }
  char* text = nullptr;
  uint16_t len = 0;
  EXPECT_EQ(VX_ERR_BAD_PARAM, VxListEntryText(list, 0, n, &text, &len));
  VxUnlockObject(h);
  return out;
}

TEST(Statistics, ServedAsWrittenAndAccountedUntilFreed) {
  TempModel model;
  const std::string text = "Server.Users\t12\r\nServer.Name\tCN=srv1/O=acme\r\nMail.Dead\t0\n";
  model.Write("stats.txt", text);
  Stats st = TakeStats();
  ASSERT_EQ(0, st.status);
  ASSERT_NE(0, st.handle);
  EXPECT_EQ(text, st.text);
  EXPECT_EQ(1u, vaxelsim_memory_handles_held());
  EXPECT_EQ(0, VxMemFree(st.handle));
  EXPECT_EQ(0u, vaxelsim_handles_held());
  // A stale handle reaches nothing.
  EXPECT_EQ(nullptr, VxLockObject(st.handle));
  EXPECT_EQ(VX_ERR_INVALID_HANDLE, VxMemFree(st.handle));

  // One statistic asked for by name: only its lines.
  Stats one = TakeStats("server.users");
  EXPECT_EQ("Server.Users\t12\r\n", one.text);
  VxMemFree(one.handle);
}

TEST(Statistics, AbsentOrEmptyFileGivesNoData) {
  TempModel model;
  Stats none = TakeStats();
  EXPECT_EQ(0, none.status);
  EXPECT_EQ(0, none.handle);
  model.Write("stats.txt", "");
  EXPECT_EQ(0, TakeStats().handle);
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

TEST(Statistics, LocksNestAndFreeingALockedBlockReleasesIt) {
  TempModel model;
  model.Write("stats.txt", "a\t1\n");
  Stats st = TakeStats();
  void* p1 = VxLockObject(st.handle);
  void* p2 = VxLockObject(st.handle);
  EXPECT_EQ(p1, p2);
  EXPECT_EQ(1, VxUnlockObject(st.handle));  // one lock left
  EXPECT_EQ(0, VxUnlockObject(st.handle));
  VxLockObject(st.handle);
  EXPECT_EQ(0, VxMemFree(st.handle));
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

// The simulator runs inside the collector, which starts other programs: no
// descriptor of a model file may reach them.
TEST(Model, FilesAreReadThroughCloseOnExecDescriptors) {
  TempModel model;
  auto terminate = [] { EXPECT_EQ(1, VxShouldTerminate()); };
  EXPECT_TRUE(ReadsCloseOnExec(model.Path("server.json"), terminate, R"({"terminate": true})")) << "server.json";
  model.Write("server.json", "{}");  // a FIFO changed by the write would be read again
  Stats st;
  auto stats = [&st] { st = TakeStats(); };
  EXPECT_TRUE(ReadsCloseOnExec(model.Path("stats.txt"), stats, "a\t1\n")) << "stats.txt";
  EXPECT_EQ("a\t1\n", st.text);
  VxMemFree(st.handle);
}

TEST(Ping, StatusPerServerAndClusterListOfTheMonitoredServer) {
  TempModel model;
  model.Write("server.json", R"({
    "servers": {"CN=srv2/O=acme": {"ping": 0, "delayMs": 0},
                "CN=srv3/O=acme": {"ping": 2566}},
    "cluster": {"name": "cluster1", "members": ["CN=srv2/O=acme", "CN=srv3/O=acme"]}})");
  VxListHandle list = 0;
  EXPECT_EQ(0, VxPingServer("CN=srv1/O=acme", nullptr, &list));
  ASSERT_NE(0, list);
  EXPECT_EQ((std::vector<std::string>{"cluster1", "CN=srv2/O=acme", "CN=srv3/O=acme"}),
            ListEntries(list));
  EXPECT_EQ(0, VxMemFree(list));
  EXPECT_EQ(0, VxPingServer("CN=srv2/O=acme", nullptr, nullptr));
  EXPECT_EQ(2566, VxPingServer("CN=srv3/O=acme", nullptr, nullptr));
  // The same server named in another case or abbreviated.
  EXPECT_EQ(2566, VxPingServer("srv3/acme", nullptr, nullptr));
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

TEST(Ping, NoClusterListWhenTheServerIsDownOrNoClusterIsModelled) {
  TempModel model;
  model.Write("server.json", R"({"servers": {"CN=srv1/O=acme": {"ping": 2566}},
                                 "cluster": {"name": "c", "members": []}})");
  VxListHandle list = 77;
  EXPECT_EQ(2566, VxPingServer("CN=srv1/O=acme", nullptr, &list));
  EXPECT_EQ(0, list);
  // A cluster with no members still answers with its name.
  EXPECT_EQ(0, VxPingServer("CN=srv9/O=acme", nullptr, &list));
  ASSERT_NE(0, list);
  EXPECT_EQ(std::vector<std::string>{"c"}, ListEntries(list));
  VxMemFree(list);
  model.Write("server.json", "{}");
  EXPECT_EQ(0, VxPingServer("CN=srv1/O=acme", nullptr, &list));
  EXPECT_EQ(0, list);
}

TEST(Faults, AlwaysFromTheNthCallAndForACount) {
  TempModel model;
  model.Write("stats.txt", "a\t1\n");
  model.Write("server.json", R"({"faults": {
      "VxGetServerStats": {"status": 549, "fromCall": 3},
      "VxPingServer": 2566,
      "VxInitRuntime": {"status": 1, "fromCall": 2, "count": 1},
      "VxLockObject": {"status": 1, "fromCall": 100}}})");
  for (int call = 1; call <= 4; ++call) {
    Stats st = TakeStats();
    EXPECT_EQ(call < 3 ? 0 : 549, st.status) << "call " << call;
    if (call >= 3) {
      EXPECT_EQ(0, st.handle);
    }
    if (st.handle) VxMemFree(st.handle);
  }
  EXPECT_EQ(2566, VxPingServer("x", nullptr, nullptr));
  EXPECT_EQ(2566, VxPingServer("x", nullptr, nullptr));
  EXPECT_EQ(0, VxInitRuntime(0, nullptr));
  EXPECT_EQ(1, VxInitRuntime(0, nullptr));
  EXPECT_EQ(0, VxInitRuntime(0, nullptr));
  EXPECT_EQ(4ul, vaxelsim_call_count("VxGetServerStats"));
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

TEST(Delays, ACallWaitsWhileOtherThreadsGoOn) {
  TempModel model;
  model.Write("server.json", R"({"delays": {"VxCurrentTime": 2000, "VxTimeCompare": -1}})");
  std::atomic<bool> returned{false};
  std::thread slow([&] {
    VxTimeDate now;
    VxCurrentTime(&now);
    returned = true;
  });
  while (vaxelsim_call_count("VxCurrentTime") == 0) std::this_thread::yield();
  // The waiting call holds nothing up: another thread's calls are answered.
  EXPECT_EQ(0, VxShouldTerminate());
  EXPECT_EQ(0, VxPingServer("s", nullptr, nullptr));
  EXPECT_FALSE(returned.load());
  slow.join();
  EXPECT_TRUE(returned.load());
  // A delay out of range is a problem of the model, and no delay.
  VxTimeDate a = {}, b = {};
  EXPECT_EQ(0, VxTimeCompare(&a, &b));
}

TEST(Faults, RuntimeStatusesComeFromTheModel) {
  TempModel model;
  model.Write("server.json", R"({"initRuntime": 421, "initThread": 7})");
  EXPECT_EQ(421, VxInitRuntime(0, nullptr));
  EXPECT_EQ(7, VxInitThread());
}

TEST(Model, ChangesAreSeenByTheNextCall) {
  TempModel model;
  model.Write("stats.txt", "a\t1\n");
  Stats first = TakeStats();
  VxMemFree(first.handle);
  model.Write("stats.txt", "a\t2\nb\t3\n");
  Stats second = TakeStats();
  EXPECT_EQ("a\t2\nb\t3\n", second.text);
  VxMemFree(second.handle);
  model.Remove("stats.txt");
  EXPECT_EQ(0, TakeStats().handle);

  EXPECT_EQ(0, VxShouldTerminate());
  model.Write("terminate", "");
  EXPECT_NE(0, VxShouldTerminate());
  model.Remove("terminate");
  EXPECT_EQ(0, VxShouldTerminate());
  model.Write("server.json", R"({"terminate": true})");
  EXPECT_NE(0, VxShouldTerminate());
  model.Write("server.json", R"({"terminate": false, "servers": {"s": 2566}})");
  EXPECT_EQ(0, VxShouldTerminate());
  EXPECT_EQ(2566, VxPingServer("s", nullptr, nullptr));
}

TEST(Model, BrokenServerJsonKeepsThePreviousModel) {
  TempModel model;
  model.Write("server.json", R"({"servers": {"s": 2566}})");
  EXPECT_EQ(2566, VxPingServer("s", nullptr, nullptr));
  model.Write("server.json", R"({"servers": {"s": )");  // half written
  EXPECT_EQ(2566, VxPingServer("s", nullptr, nullptr));
  // A wrong value is skipped; the rest of the file still counts.
  model.Write("server.json", R"({"servers": {"s": "down", "t": 2566}, "intl": 5})");
  EXPECT_EQ(0, VxPingServer("s", nullptr, nullptr));
  EXPECT_EQ(2566, VxPingServer("t", nullptr, nullptr));
}

TEST(Settings, IntlDataDirectoryAndMessages) {
  TempModel model;
  VxLocaleFormat intl;
  memset(&intl, 0x55, sizeof intl);
  VxGetIntlSettings(&intl, sizeof intl);
  EXPECT_EQ(0, intl.Flags);
  EXPECT_STREQ(",", reinterpret_cast<const char*>(&intl) + 23);
  EXPECT_STREQ(".", reinterpret_cast<const char*>(&intl) + 28);
  char dir[VX_MAXPATH];
  EXPECT_EQ(0, VxGetDataDirectory(dir));
  EXPECT_STREQ("/local/velora/data", dir);

  model.Write("server.json", R"({"dataDirectory": "/srv/velora/data",
      "intl": {"thousandsSeparator": ".", "decimalSeparator": ",", "dateOrder": "DMY",
               "dateSeparator": "-"},
      "messages": {"549": "Statistics are switched off"}})");
  VxGetIntlSettings(&intl, sizeof intl);
  EXPECT_EQ(VX_INTL_DATE_DMY, intl.Flags);
  EXPECT_STREQ(".", intl.ThousandString);
  EXPECT_STREQ(",", intl.DecimalString);
  EXPECT_STREQ("-", intl.DateString);
  VxGetDataDirectory(dir);
  EXPECT_STREQ("/srv/velora/data", dir);

  char msg[256];
  EXPECT_EQ(strlen("Statistics are switched off"), VxLoadString(0, 549 | 0x4000, msg, 255));
  EXPECT_STREQ("Statistics are switched off", msg);
  VxLoadString(0, VX_ERR_SERVER_ACCESS_DENIED, msg, 255);
  EXPECT_STREQ("You are not authorized to access the server", msg);
  VxLoadString(0, 12345, msg, 255);
  EXPECT_STREQ("Unknown server error (code 12345)", msg);
  char tiny[5];
  EXPECT_EQ(4, VxLoadString(0, VX_ERR_SERVER_BUSY, tiny, sizeof tiny));
  EXPECT_STREQ("Serv", tiny);
}

TEST(Settings, TranslateCopiesAtMost16384BytesPerCall) {
  TempModel model;
  std::string in(20000, 'x');
  in[0] = '\xe9';
  std::string out(65535, '\0');
  EXPECT_EQ(16384, VxTranslate(1, in.data(), 16384, &out[0], 65535));
  EXPECT_EQ(0, memcmp(in.data(), out.data(), 16384));
  EXPECT_EQ(10, VxTranslate(0, in.data(), 10, &out[0], 65535));
  EXPECT_EQ(4, VxTranslate(1, in.data(), 10, &out[0], 4));  // bounded by the output size
  EXPECT_EQ(16384, VxTranslate(1, in.data(), 20000, &out[0], 65535));
}

TEST(Concurrency, ThreadsShareTheServerWhileTheModelChanges) {
  TempModel model;
  model.Write("stats.txt", "a\t1\n");
  model.Write("server.json", R"({"servers": {"s": {"ping": 0, "delayMs": 1}},
                                 "cluster": {"name": "c", "members": ["s"]}})");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 200; ++i) {
        Stats st = TakeStats();
        if (st.handle != 0) VxMemFree(st.handle);
        VxListHandle list = 0;
        VxPingServer("s", nullptr, &list);
        if (list != 0) VxMemFree(list);
        VxTimeDate now;
        VxCurrentTime(&now);
      }
    });
  }
  for (int i = 0; i < 50; ++i) model.Write("stats.txt", std::string(i + 1, 'x') + "\t1\n");
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(0u, vaxelsim_handles_held());
  EXPECT_EQ(800ul, vaxelsim_call_count("VxGetServerStats"));
}

TEST(CallLog, OneLinePerCallAndHandlesHeldAtExit) {
  TempModel model;
  std::string log = model.Path("calls.log");
  model.Write("stats.txt", "a\t1\n");
  model.Write("server.json", R"({"faults": {"VxPingServer": 2566}})");
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("VAXEL_SIM_LOG", log.c_str(), 1);
    vaxelsim_reset();
    VxMemHandle h = 0;
    uint32_t len = 0;
    VxGetServerStats("CN=srv1/O=acme", nullptr, nullptr, &h, &len);
    char buf[20000];
    VxTranslate(1, buf, 16384, buf, 65535);
    VxPingServer("CN=srv2/O=acme", nullptr, nullptr);
    exit(0);  // the statistics block is still held
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(
      "VxGetServerStats server=\"CN=srv1/O=acme\" facility=null name=null handle=1 length=4 rc=0\n"
      "VxTranslate mode=1 length=16384 size=65535 result=16384\n"
      "VxPingServer server=\"CN=srv2/O=acme\" injected=1 rc=2566\n"
      "exit handles_held=1 memory=1 databases=0 documents=0 collections=0\n",
      ReadWholeFile(log));
}

}  // namespace
