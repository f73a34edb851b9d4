// Taking the statistics snapshot from the simulated server: conversion,
// lower-cased names, the add-in mark, failures, and the server's memory
// handles, which must all be released.
#include "stats/snapshot.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "framework/trace_capture.h"
#include "gtest/gtest.h"
#include "sim/vaxel_sim.h"
#include "state/globals.h"
#include "stats/catalogue.h"

namespace {

char kServer[] = "Velora1/Acme";

class SnapshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/qvd_snapshot_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    dir_ = dir;
    setenv("VAXEL_SIM_DIR", dir_.c_str(), 1);
    vaxelsim_reset();
    server_name = kServer;
    TraceCaptureStart("error");
  }
  void TearDown() override {
    freeStats();
    std::remove((dir_ + "/stats.txt").c_str());
    std::remove((dir_ + "/server.json").c_str());
    rmdir(dir_.c_str());
  }
  void Write(const char* name, const std::string& text) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
  }
  std::string Snapshot() const { return std::string(pStatBuffer, dwStatBufferLen); }

  std::string dir_;
};

TEST_F(SnapshotTest, NamesAreLoweredAndValuesKeepTheirCase) {
  const std::string text =
      "Server.Users\t12\r\n"
      "Server.Status\tRunning OK\r\n"
      "MVStats.View.Perf.Avg\tHigh\n"
      "Mail.Dead\t0";
  Write("stats.txt", text);
  Velora_LDAP[0] = kServer;  // answered from the previous snapshot
  ASSERT_EQ(0, queryStats());
  EXPECT_EQ(
      "server.users\t12\r\n"
      "server.status\tRunning OK\r\n"
      "mvstats.view.perf.avg\tHigh\n"
      "mail.dead\t0",
      Snapshot());
  EXPECT_EQ(text.size(), dwStatBufferLen);
  EXPECT_EQ('\0', pStatBuffer[dwStatBufferLen]);
  EXPECT_EQ(pStatBuffer + text.find("MVStats"), pMvStats);
  EXPECT_EQ(nullptr, Velora_LDAP[0]);  // fresh again for the new snapshot
  EXPECT_EQ(0u, vaxelsim_memory_handles_held());

  // A second snapshot replaces the first; without add-in lines pMvStats is null.
  Write("stats.txt", "Server.Users\t13\n");
  ASSERT_EQ(0, queryStats());
  EXPECT_EQ("server.users\t13\n", Snapshot());
  EXPECT_EQ(nullptr, pMvStats);
  EXPECT_EQ(0u, vaxelsim_memory_handles_held());
}

TEST_F(SnapshotTest, DetailTracingDumpsTheSnapshot) {
  Write("stats.txt", "Server.Users\t12\n");
  TraceCaptureStart("stats=detail");
  ASSERT_EQ(0, queryStats());
  auto lines = TraceCaptureLines("stats/snapshot");
  EXPECT_TRUE(TraceCaptureHas(lines, "queryStats calling VxGetServerStats"));
  EXPECT_TRUE(TraceCaptureHas(lines, "###################Start statistics for Server Name:Velora1/Acme"));
  EXPECT_TRUE(TraceCaptureHas(lines, "server.users\t12"));
  EXPECT_TRUE(TraceCaptureHas(lines, "^^^^^^^^^^^^^^^^^^^End statistics for Server Name:Velora1/Acme"));
}

TEST_F(SnapshotTest, FailuresLeaveNoSnapshotAndNoHandle) {
  Write("stats.txt", "Server.Users\t12\n");
  ASSERT_EQ(0, queryStats());

  // The server refuses: its status comes back, with its message.
  Write("server.json", R"({"faults": {"VxGetServerStats": 549}})");
  TraceCaptureStart("stats=error");
  EXPECT_EQ(549, queryStats());
  EXPECT_EQ(nullptr, pStatBuffer);
  EXPECT_EQ(0u, dwStatBufferLen);
  EXPECT_EQ(nullptr, pMvStats);
  auto lines = TraceCaptureLines("stats/snapshot");
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(0u, lines[0].find("VxGetServerStats failed on server:Velora1/Acme with rc:549, Message:"))
      << lines[0];
  EXPECT_STREQ(lines[0].substr(lines[0].find("Message:") + 8).c_str(), szErrorString);
  EXPECT_EQ(0u, vaxelsim_memory_handles_held());

  // No statistics at all.
  Write("server.json", "{}");
  Write("stats.txt", "");
  EXPECT_EQ(1, queryStats());
  EXPECT_EQ(nullptr, pStatBuffer);
  EXPECT_TRUE(TraceCaptureHas(TraceCaptureLines("stats/snapshot"),
                      "Velora1/Acme unable to get the statistic hStatBuffer"));

  // The block cannot be reached: the handle is still released.
  Write("stats.txt", "Server.Users\t12\n");
  Write("server.json", R"({"faults": {"VxLockObject": 1}})");
  EXPECT_EQ(1, queryStats());
  EXPECT_EQ(nullptr, pStatBuffer);
  EXPECT_EQ(0u, vaxelsim_memory_handles_held());
  EXPECT_EQ(1u, TraceCaptureLines("stats/snapshot").size());
}

TEST_F(SnapshotTest, InstalledTextIsTreatedLikeAFetchedOne) {
  const char text[] = "Server.Users\tAbC\nMVStats.X\t1\n";
  ASSERT_EQ(0, installStatsText(text, sizeof(text) - 1));
  EXPECT_EQ("server.users\tAbC\nmvstats.x\t1\n", Snapshot());
  EXPECT_EQ(pStatBuffer + 17, pMvStats);

  // Only a line feed ends a value, and a name runs up to the next tab, also
  // across lines that have none.
  const char odd[] = "No Tab Here\nA.B\tVal\tMore Val\rX\r\n\tLEAD\nZ\xC4Y\t\xC4Q\nEnd";
  ASSERT_EQ(0, installStatsText(odd, sizeof(odd) - 1));
  EXPECT_EQ("no tab here\na.b\tVal\tMore Val\rX\r\n\tLEAD\nz\xC4y\t\xC4Q\nend", Snapshot());
  uint64_t generation = statsSnapshotGeneration();
  freeStats();
  EXPECT_EQ(nullptr, pStatBuffer);
  EXPECT_NE(generation, statsSnapshotGeneration());
}

}  // namespace
