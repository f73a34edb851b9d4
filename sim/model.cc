#include "sim/model.h"

#include "sim/server_names.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

namespace vaxelsim {

// Ordered: documents keep their items in the order the file writes them.
using json = nlohmann::ordered_json;

FileStamp FileStamp::Of(const std::string& path) {
  FileStamp s;
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return s;
  s.exists = true;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtimeSec = static_cast<long>(st.st_mtim.tv_sec);
  s.mtimeNsec = st.st_mtim.tv_nsec;
  return s;
}

// Reads the whole file.  The simulator is loaded into the collector, which
// starts other programs (the add-in's relay): the descriptor is opened
// close-on-exec, so that a start on another thread meanwhile inherits
// nothing of the model.
static bool ReadFile(const std::string& path, std::string* out) {
  FILE* f = fopen(path.c_str(), "re");  // e: O_CLOEXEC
  if (f == nullptr) return false;
  std::string text;
  char buf[65536];
  for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  bool ok = ferror(f) == 0;
  fclose(f);
  if (ok) *out = std::move(text);
  return ok;
}

TextStyle ModelData::Style() const {
  VxLocaleFormat intl;
  FillIntl(&intl);
  return StyleOf(&intl);
}

void ModelData::FillIntl(VxLocaleFormat* intl) const {
  memset(intl, 0, sizeof *intl);
  intl->Flags = intlFlags;
  auto put = [](char* field, const std::string& text) {
    strncpy(field, text.c_str(), 4);
    field[4] = '\0';
  };
  put(intl->ThousandString, thousandsSeparator);
  put(intl->DecimalString, decimalSeparator);
  put(intl->DateString, dateSeparator);
  put(intl->TimeString, timeSeparator);
}

namespace {

// A status from a JSON number: 1..65535, or 0 when `allowZero`.
bool StatusOf(const json& v, bool allowZero, VxStatus* out) {
  if (!v.is_number_integer()) return false;
  long long n = v.get<long long>();
  if (n < (allowZero ? 0 : 1) || n > 65535) return false;
  *out = static_cast<VxStatus>(n);
  return true;
}

bool NonNegative(const json& v, long long max, long long* out) {
  if (!v.is_number_integer()) return false;
  long long n = v.get<long long>();
  if (n < 0 || n > max) return false;
  *out = n;
  return true;
}

void ParseIntl(const json& intl, ModelData* m, std::vector<std::string>* problems) {
  if (!intl.is_object()) {
    problems->push_back("\"intl\" is not an object");
    return;
  }
  struct Field {
    const char* key;
    std::string* target;
  } fields[] = {{"thousandsSeparator", &m->thousandsSeparator},
                {"decimalSeparator", &m->decimalSeparator},
                {"dateSeparator", &m->dateSeparator},
                {"timeSeparator", &m->timeSeparator}};
  for (const Field& f : fields) {
    if (!intl.contains(f.key)) continue;
    const json& v = intl[f.key];
    if (!v.is_string() || v.get<std::string>().size() > 4) {
      problems->push_back(std::string("\"intl.") + f.key + "\" must be a text of at most 4 bytes");
      continue;
    }
    *f.target = v.get<std::string>();
  }
  if (intl.contains("dateOrder")) {
    const json& v = intl["dateOrder"];
    std::string order = v.is_string() ? v.get<std::string>() : "";
    if (order == "MDY")
      m->intlFlags = 0;
    else if (order == "DMY")
      m->intlFlags = VX_INTL_DATE_DMY;
    else if (order == "YMD")
      m->intlFlags = VX_INTL_DATE_YMD;
    else
      problems->push_back("\"intl.dateOrder\" must be \"MDY\", \"DMY\" or \"YMD\"");
  }
}

void ParseClock(const json& clock, ModelData* m, std::vector<std::string>* problems) {
  if (!clock.is_object()) {
    problems->push_back("\"clock\" is not an object");
    return;
  }
  if (clock.contains("fixed")) {
    const json& v = clock["fixed"];
    int64_t ticks = 0;
    if (v.is_string() && ParseTime(v.get<std::string>().c_str(), v.get<std::string>().size(),
                                   m->Style(), RealNowTicks(), &ticks)) {
      m->clock = ModelData::Clock::kFixed;
      m->fixedTicks = ticks;
    } else {
      problems->push_back("\"clock.fixed\" is not a date and time in the model's date order");
    }
  } else if (clock.contains("offsetSeconds")) {
    const json& v = clock["offsetSeconds"];
    if (v.is_number_integer() && v.get<long long>() > -(1LL << 40) &&
        v.get<long long>() < (1LL << 40)) {
      m->clock = ModelData::Clock::kOffset;
      m->offsetSeconds = v.get<long long>();
    } else {
      problems->push_back("\"clock.offsetSeconds\" must be a whole number of seconds");
    }
  }
}

void ParseServers(const json& servers, ModelData* m, std::vector<std::string>* problems) {
  if (!servers.is_object()) {
    problems->push_back("\"servers\" is not an object");
    return;
  }
  for (auto it = servers.begin(); it != servers.end(); ++it) {
    ServerReply r;
    const json& v = it.value();
    bool ok = true;
    if (v.is_number_integer()) {
      ok = StatusOf(v, true, &r.ping);
    } else if (v.is_object()) {
      if (v.contains("ping")) ok = StatusOf(v["ping"], true, &r.ping);
      long long delay = 0;
      if (ok && v.contains("delayMs")) {
        ok = NonNegative(v["delayMs"], 600000, &delay);
        r.delayMs = static_cast<int>(delay);
      }
    } else {
      ok = false;
    }
    if (!ok) {
      problems->push_back("\"servers." + it.key() +
                          "\" needs \"ping\" 0..65535 and \"delayMs\" 0..600000");
      continue;
    }
    m->servers[NameKey(it.key())] = r;
  }
}

void ParseCluster(const json& cluster, ModelData* m, std::vector<std::string>* problems) {
  if (!cluster.is_object() || !cluster.contains("name") || !cluster["name"].is_string()) {
    problems->push_back("\"cluster\" needs a \"name\" text");
    return;
  }
  std::vector<std::string> members;
  if (cluster.contains("members")) {
    const json& list = cluster["members"];
    if (!list.is_array()) {
      problems->push_back("\"cluster.members\" is not a list of names");
      return;
    }
    for (const json& name : list) {
      if (!name.is_string() || name.get<std::string>().empty() ||
          name.get<std::string>().size() > 65535) {
        problems->push_back("\"cluster.members\" holds an entry that is not a name");
        return;
      }
      members.push_back(name.get<std::string>());
    }
  }
  m->hasCluster = true;
  m->clusterName = cluster["name"].get<std::string>();
  m->clusterMembers = members;
}

void ParseFaults(const json& faults, ModelData* m, std::vector<std::string>* problems) {
  if (!faults.is_object()) {
    problems->push_back("\"faults\" is not an object");
    return;
  }
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    Fault f;
    const json& v = it.value();
    bool ok;
    if (v.is_number_integer()) {
      ok = StatusOf(v, false, &f.status);
    } else if (v.is_object() && v.contains("status")) {
      ok = StatusOf(v["status"], false, &f.status);
      long long n = 0;
      if (ok && v.contains("fromCall")) {
        ok = NonNegative(v["fromCall"], 1LL << 62, &n) && n >= 1;
        f.fromCall = static_cast<uint64_t>(n);
      }
      if (ok && v.contains("count")) {
        ok = NonNegative(v["count"], 1LL << 62, &n);
        f.count = static_cast<uint64_t>(n);
      }
    } else {
      ok = false;
    }
    if (!ok) {
      problems->push_back("\"faults." + it.key() +
                          "\" needs a status 1..65535 (and \"fromCall\" >= 1, \"count\" >= 0)");
      continue;
    }
    m->faults[it.key()] = f;
  }
}

void ParseDelays(const json& delays, ModelData* m, std::vector<std::string>* problems) {
  if (!delays.is_object()) {
    problems->push_back("\"delays\" is not an object");
    return;
  }
  for (auto it = delays.begin(); it != delays.end(); ++it) {
    long long ms = 0;
    if (!NonNegative(it.value(), 600000, &ms)) {
      problems->push_back("\"delays." + it.key() + "\" needs milliseconds 0..600000");
      continue;
    }
    m->delays[it.key()] = static_cast<int>(ms);
  }
}

}  // namespace


bool Model::Parse(const std::string& text, ModelData* m, std::vector<std::string>* problems) {
  json doc = json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) {
    problems->push_back("server.json is not a JSON object");
    return false;
  }
  if (doc.contains("dataDirectory")) {
    const json& v = doc["dataDirectory"];
    if (v.is_string() && v.get<std::string>().size() < VX_MAXPATH)
      m->dataDirectory = v.get<std::string>();
    else
      problems->push_back("\"dataDirectory\" must be a text of at most 255 bytes");
  }
  if (doc.contains("intl")) ParseIntl(doc["intl"], m, problems);
  if (doc.contains("clock")) ParseClock(doc["clock"], m, problems);
  if (doc.contains("servers")) ParseServers(doc["servers"], m, problems);
  if (doc.contains("cluster")) ParseCluster(doc["cluster"], m, problems);
  if (doc.contains("faults")) ParseFaults(doc["faults"], m, problems);
  if (doc.contains("delays")) ParseDelays(doc["delays"], m, problems);
  if (doc.contains("terminate")) {
    if (doc["terminate"].is_boolean())
      m->terminate = doc["terminate"].get<bool>();
    else
      problems->push_back("\"terminate\" must be true or false");
  }
  if (doc.contains("initRuntime") && !StatusOf(doc["initRuntime"], true, &m->initRuntime))
    problems->push_back("\"initRuntime\" must be a status 0..65535");
  if (doc.contains("initThread") && !StatusOf(doc["initThread"], true, &m->initThread))
    problems->push_back("\"initThread\" must be a status 0..65535");
  if (doc.contains("messages")) {
    const json& msgs = doc["messages"];
    if (!msgs.is_object()) {
      problems->push_back("\"messages\" is not an object");
    } else {
      for (auto it = msgs.begin(); it != msgs.end(); ++it) {
        char* end = nullptr;
        unsigned long code = strtoul(it.key().c_str(), &end, 0);
        if (end == it.key().c_str() || *end != '\0' || code > 0x3FFF || !it.value().is_string()) {
          problems->push_back("\"messages." + it.key() + "\" needs a code 0..16383 and a text");
          continue;
        }
        m->messages[static_cast<unsigned>(code)] = it.value().get<std::string>();
      }
    }
  }
  TimeContext tc;
  tc.style = m->Style();
  tc.now = m->clock == ModelData::Clock::kFixed    ? m->fixedTicks
           : m->clock == ModelData::Clock::kOffset ? RealNowTicks() + m->offsetSeconds * kTicksPerSecond
                                                   : RealNowTicks();
  m->db = ParseDbModel(doc, tc, problems);
  return true;
}

void Model::SetDirectory(const std::string& dir) {
  dir_ = dir;
  held_ = false;
  jsonStamp_ = FileStamp();
  badJsonStamp_ = FileStamp();
  data_ = std::make_shared<ModelData>();
  statsStamp_ = FileStamp();
  haveStats_ = false;
  stats_.clear();
}

const ModelData& Model::Data() {
  if (dir_.empty() || held_) return *data_;
  std::string path = dir_ + "/server.json";
  FileStamp now = FileStamp::Of(path);
  if (now == jsonStamp_) return *data_;
  if (now.exists && now == badJsonStamp_) return *data_;
  auto fresh = std::make_shared<ModelData>();
  std::string text;
  if (now.exists && ReadFile(path, &text)) {
    std::vector<std::string> problems;
    bool ok = Parse(text, fresh.get(), &problems);
    for (const std::string& p : problems) report_("model " + path + ": " + p);
    if (!ok) {
      badJsonStamp_ = now;  // keep the previous model until the file changes
      return *data_;
    }
  }
  jsonStamp_ = now;
  data_ = fresh;
  return *data_;
}

const std::string* Model::Stats() {
  if (dir_.empty()) return nullptr;
  std::string path = dir_ + "/stats.txt";
  FileStamp now = FileStamp::Of(path);
  if (now != statsStamp_) {
    statsStamp_ = now;
    stats_.clear();
    haveStats_ = now.exists && ReadFile(path, &stats_);
  }
  return haveStats_ ? &stats_ : nullptr;
}

bool Model::TerminateFilePresent() {
  if (dir_.empty()) return false;
  return FileStamp::Of(dir_ + "/terminate").exists;
}

}  // namespace vaxelsim
