// The availability status file as the exporter reads it on a scrape, while
// the collector may be started again on another thread.
#include "qvdexporter/status_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "sim/descriptor_probe.h"

namespace qvdexporter {
namespace {

double StateOf(const std::vector<prometheus::MetricFamily>& families, const std::string& name,
               const std::string& state) {
  for (const auto& f : families)
    if (f.name == name)
      for (const auto& m : f.metric)
        if (!m.label.empty() && m.label[0].value == state) return m.gauge.value;
  return -1;
}

TEST(StatusFile, ReadOnAScrapeThroughACloseOnExecDescriptor) {
  char tmpl[] = "/tmp/qvdexporter_statusXXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  std::vector<prometheus::MetricFamily> families;
  auto collect = [&] { CollectStatusFile(dir + "/qvd_inst1_status.out", &families); };
  EXPECT_TRUE(ReadsCloseOnExec(dir + "/qvd_inst1_status.out", collect, "0\n8\n"));
  EXPECT_EQ(1, StateOf(families, "velora_server_availability", "reachable"));
  EXPECT_EQ(1, StateOf(families, "velora_cluster_availability", "one"));
  EXPECT_EQ(0, StateOf(families, "velora_cluster_availability", "all"));
  ASSERT_EQ(0, std::system(("rm -rf '" + dir + "'").c_str()));
}

}  // namespace
}  // namespace qvdexporter
