#include "tools/agentsim/bench_model.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "tools/agentsim/replication_log_model.h"

namespace agentsim {

namespace {

// Adds each slow member to the model's servers and its cluster's members.
void AddSlowMembers(nlohmann::json* serverModel, const std::vector<std::pair<std::string, long>>& slow) {
  nlohmann::json& server = *serverModel;
  if (!server.contains("servers") || !server["servers"].is_object()) server["servers"] = nlohmann::json::object();
  if (!server.contains("cluster") || !server["cluster"].is_object())
    server["cluster"] = {{"name", "benchcluster"}, {"members", nlohmann::json::array()}};
  nlohmann::json& members = server["cluster"]["members"];
  if (!members.is_array()) members = nlohmann::json::array();
  for (const auto& [name, delayMs] : slow) {
    server["servers"][name] = {{"ping", 0}, {"delayMs", delayMs}};
    bool listed = false;
    for (const auto& m : members) listed = listed || (m.is_string() && m.get<std::string>() == name);
    if (!listed) members.push_back(name);
  }
}

}  // namespace

std::string CollectorEnv(const Options& opts, const std::string& name) {
  for (const std::string& u : opts.envUnsets)
    if (u == name) return "";
  for (auto it = opts.envSets.rbegin(); it != opts.envSets.rend(); ++it)
    if (it->first == name) return it->second;
  const char* own = opts.cleanEnv ? nullptr : getenv(name.c_str());
  return own ? own : "";
}

BenchModel::~BenchModel() {
  if (dir_.empty()) return;
  if (DIR* d = opendir(dir_.c_str())) {
    while (dirent* e = readdir(d)) {
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) unlink((dir_ + "/" + e->d_name).c_str());
    }
    closedir(d);
  }
  rmdir(dir_.c_str());
}

bool BenchModel::Prepare(Options* opts, std::string* error) {
  if (opts->benchSlowMembers.empty() && opts->benchReplicationLog <= 0) return true;
  std::string model = CollectorEnv(*opts, "VAXEL_SIM_DIR");
  nlohmann::json server = nlohmann::json::object();
  if (!model.empty()) {
    std::ifstream in(model + "/server.json");
    if (in) {
      std::stringstream text;
      text << in.rdbuf();
      server = nlohmann::json::parse(text.str(), nullptr, false);
      if (!server.is_object()) {
        *error = model + "/server.json is not a JSON object";
        return false;
      }
    }
  }
  const char* tmp = getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/agentsim-model-XXXXXX";
  if (mkdtemp(&dir[0]) == nullptr) {
    *error = "cannot make a temporary model directory: " + std::string(strerror(errno));
    return false;
  }
  dir_ = dir;
  if (!model.empty()) {
    std::string target = model;
    char cwd[4096];
    if (model[0] != '/' && getcwd(cwd, sizeof cwd) != nullptr) target = std::string(cwd) + "/" + model;
    if (DIR* d = opendir(model.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == ".." || name == "server.json") continue;
        if (symlink((target + "/" + name).c_str(), (dir_ + "/" + name).c_str()) != 0) {
          *error = "cannot link " + name + " into the temporary model: " + strerror(errno);
          closedir(d);
          return false;
        }
      }
      closedir(d);
    }
  }
  if (opts->benchReplicationLog > 0) AddReplicationLog(&server, opts->benchReplicationLog);
  if (!opts->benchSlowMembers.empty()) AddSlowMembers(&server, opts->benchSlowMembers);
  std::ofstream out(dir_ + "/server.json");
  out << server.dump(opts->benchReplicationLog > 0 ? -1 : 2) << "\n";  // a large log stays compact
  if (!out) {
    *error = "cannot write the temporary model's server.json";
    return false;
  }
  opts->envSets.emplace_back("VAXEL_SIM_DIR", dir_);
  if (opts->benchReplicationLog > 0) opts->envSets.emplace_back("QVD_LOG_VDB_MONITOR", "ON");
  return true;
}

}  // namespace agentsim
