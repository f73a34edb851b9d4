#include "qvdexporter/status_file.h"

#include <sys/stat.h>

#include <sstream>
#include <utility>

#include "agentside/file_text.h"

namespace qvdexporter {

namespace {

std::string Value(const std::vector<std::string>& env, const std::string& name) {
  std::string found;
  for (const std::string& e : env)
    if (e.compare(0, name.size() + 1, name + "=") == 0) found = e.substr(name.size() + 1);
  return found;
}

bool ReadNumber(std::istream& in, int* value) {
  std::string line;
  if (!std::getline(in, line) || line.empty() || line.size() > 3) return false;
  for (char c : line)
    if (c < '0' || c > '9') return false;
  *value = std::stoi(line);
  return true;
}

prometheus::MetricFamily StateSet(const std::string& name, const std::string& help,
                                  const std::vector<std::pair<int, const char*>>& states, int current) {
  prometheus::MetricFamily f;
  f.name = name;
  f.help = help;
  f.type = prometheus::MetricType::Gauge;
  for (const auto& s : states) {
    prometheus::ClientMetric m;
    m.label.push_back({"state", s.second});
    m.gauge.value = s.first == current ? 1 : 0;
    f.metric.push_back(m);
  }
  return f;
}

}  // namespace

std::string StatusFilePath(const std::vector<std::string>& environment) {
  std::string home = Value(environment, "HALCYONHOME"), arch = Value(environment, "QVD_BINARCH"),
              instance = Value(environment, "QVD_INSTANCE_NAME");
  if (home.empty() || arch.empty() || instance.empty()) return "";
  return home + "/" + arch + "/vd/bin/qvd_" + instance + "_status.out";
}

void CollectStatusFile(const std::string& path, std::vector<prometheus::MetricFamily>* out) {
  if (path.empty()) return;
  // Read while the collector may be started again on another thread: the
  // descriptor is close-on-exec (agentside/file_text.h).
  std::string text;
  struct stat st;
  if (!agentside::ReadFileText(path, &text) || stat(path.c_str(), &st) != 0) return;
  std::istringstream in(text);
  int server = 0, cluster = 0;
  if (!ReadNumber(in, &server) || !ReadNumber(in, &cluster)) return;
  static const std::vector<std::pair<int, const char*>> kServer = {{0, "reachable"}, {1, "unreachable"}, {7, "busy"}};
  static const std::vector<std::pair<int, const char*>> kCluster = {
      {0, "all"}, {8, "one"}, {7, "some"}, {1, "none"}, {2, "not_clustered"}};
  auto known = [](const std::vector<std::pair<int, const char*>>& states, int v) {
    for (const auto& s : states)
      if (s.first == v) return true;
    return false;
  };
  if (!known(kServer, server) || !known(kCluster, cluster)) return;
  out->push_back(StateSet("velora_server_availability",
                          "The collector's last availability check of the server: 1 for the state in force.", kServer,
                          server));
  out->push_back(StateSet("velora_cluster_availability",
                          "The collector's last availability check of the other cluster members: 1 for the state in "
                          "force (all, one, some or none of them answered, or the server is not in a cluster).",
                          kCluster, cluster));
  prometheus::MetricFamily ts;
  ts.name = "velora_availability_check_timestamp_seconds";
  ts.help = "When the collector's last availability check ended (the status file's modification time).";
  ts.type = prometheus::MetricType::Gauge;
  prometheus::ClientMetric m;
  m.gauge.value = static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9;
  ts.metric.push_back(m);
  out->push_back(ts);
}

}  // namespace qvdexporter
