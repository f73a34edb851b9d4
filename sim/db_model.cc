#include "sim/db_model.h"

#include <strings.h>

#include <nlohmann/json.hpp>

#include "sim/item_values.h"

namespace vaxelsim {

using json = nlohmann::ordered_json;

namespace {

// Views get note ids of their own, apart from the documents' ids.
constexpr uint32_t kFirstViewNoteId = 0x7FFF0000u;
constexpr size_t kMaxModelPath = 4096;

bool StatusOf(const json& v, VxStatus* out) {
  if (!v.is_number_integer()) return false;
  long long n = v.get<long long>();
  if (n < 0 || n > 65535) return false;
  *out = static_cast<VxStatus>(n);
  return true;
}

bool U32Of(const json& v, uint32_t* out) {
  if (!v.is_number_integer()) return false;
  long long n = v.get<long long>();
  if (n < 0 || n > 0xFFFFFFFFLL) return false;
  *out = static_cast<uint32_t>(n);
  return true;
}

// "today", "today-N" or "today+N", then a blank and a time of day (or
// nothing: midnight), on that day by the model's clock.  True when `s`
// starts with "today"; then *ok tells whether the rest could be read.
bool RelativeTime(const std::string& s, const TimeContext& tc, int64_t* ticks, bool* ok) {
  if (s.compare(0, 5, "today") != 0) return false;
  *ok = false;
  size_t i = 5;
  long days = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) {
    size_t j = i + 1;
    while (j < s.size() && j < i + 6 && s[j] >= '0' && s[j] <= '9') ++j;
    if (j == i + 1) return true;
    days = std::stol(s.substr(i + 1, j - i - 1));
    if (s[i] == '-') days = -days;
    i = j;
  }
  // Noon of the day asked for: a daylight saving change never moves it to
  // another day.
  VxTime fields;
  if (!BreakDown(tc.now, &fields)) return true;
  fields.hour = 12;
  fields.minute = fields.second = fields.hundredth = 0;
  int64_t noon = 0;
  if (!Assemble(fields, &noon)) return true;
  noon += days * 86400 * kTicksPerSecond;
  std::string rest = s.substr(i);
  while (!rest.empty() && rest.front() == ' ') rest.erase(0, 1);
  if (rest.empty()) rest = "00:00:00";
  *ok = ParseTime(rest.c_str(), rest.size(), tc.style, noon, ticks);
  return true;
}

bool TimeOfText(const json& v, const TimeContext& tc, int64_t* ticks) {
  if (!v.is_string()) return false;
  const std::string& s = v.get_ref<const std::string&>();
  bool ok = false;
  if (RelativeTime(s, tc, ticks, &ok)) return ok;
  return ParseTime(s.c_str(), s.size(), tc.style, tc.now, ticks);
}

// A text with every "{{today...}}" replaced by that time in the model's
// form; a placeholder that cannot be read stays as written.
std::string ExpandTimes(const std::string& text, const TimeContext& tc) {
  std::string out;
  size_t at = 0;
  while (true) {
    size_t open = text.find("{{today", at);
    size_t close = open == std::string::npos ? open : text.find("}}", open);
    if (close == std::string::npos) break;
    int64_t ticks = 0;
    bool ok = false;
    RelativeTime(text.substr(open + 2, close - open - 2), tc, &ticks, &ok);
    out.append(text, at, open - at);
    if (ok)
      out += FormatTime(ticks, tc.style, VX_TFMT_DATE_TIME);
    else
      out.append(text, open, close + 2 - open);
    at = close + 2;
  }
  out.append(text, at, std::string::npos);
  return out;
}

// Reads one item value; false with a reason in *why.
bool ItemValueOf(const json& v, const TimeContext& style, std::string* out, std::string* why) {
  if (v.is_string()) {
    *out = TextValue(ExpandTimes(v.get<std::string>(), style));
    return true;
  }
  if (v.is_array()) {
    std::vector<std::string> entries;
    if (v.size() > 65535) {
      *why = "holds more than 65535 entries";
      return false;
    }
    for (const json& e : v) {
      if (!e.is_string() || e.get_ref<const std::string&>().size() > 65535) {
        *why = "is a list holding an entry that is not a text of at most 65535 bytes";
        return false;
      }
      entries.push_back(ExpandTimes(e.get<std::string>(), style));
      if (entries.back().size() > 65535) entries.back().resize(65535);
    }
    *out = TextListValue(entries);
    return true;
  }
  if (v.is_object() && v.size() == 1 && v.contains("number")) {
    if (!v["number"].is_number()) {
      *why = "has a \"number\" that is not a number";
      return false;
    }
    *out = NumberValue(v["number"].get<double>());
    return true;
  }
  if (v.is_object() && v.size() == 1 && v.contains("time")) {
    int64_t ticks = 0;
    if (!TimeOfText(v["time"], style, &ticks)) {
      *why = "has a \"time\" that is not a date and time in the model's date order";
      return false;
    }
    *out = TimeValue(ticks);
    return true;
  }
  *why = "must be a text, a list of texts, {\"number\": n} or {\"time\": \"...\"}";
  return false;
}

void ParseDocuments(const std::string& where, const json& docs, const TimeContext& style,
                    DatabaseModel* db, std::vector<std::string>* problems) {
  if (!docs.is_array()) {
    problems->push_back(where + ".documents\" is not a list");
    return;
  }
  for (size_t i = 0; i < docs.size(); ++i) {
    const json& d = docs[i];
    std::string at = where + ".documents[" + std::to_string(i) + "]";
    Document doc;
    if (!d.is_object() || !d.contains("id") || !U32Of(d["id"], &doc.id) || doc.id == 0) {
      problems->push_back(at + "\" needs an \"id\" 1..4294967295");
      continue;
    }
    if (db->documentIndex.count(doc.id) != 0) {
      problems->push_back(at + "\" repeats the id " + std::to_string(doc.id));
      continue;
    }
    if (d.contains("modified")) {
      if (TimeOfText(d["modified"], style, &doc.modified))
        doc.hasModified = true;
      else
        problems->push_back(at + ".modified\" is not a date and time in the model's date order");
    }
    if (d.contains("items")) {
      const json& items = d["items"];
      if (!items.is_object()) {
        problems->push_back(at + ".items\" is not an object");
      } else {
        for (auto it = items.begin(); it != items.end(); ++it) {
          Item item;
          item.name = it.key();
          std::string why;
          if (item.name.empty() || item.name.size() > 255) {
            problems->push_back(at + ".items\" holds a name that is empty or longer than 255 bytes");
            continue;
          }
          if (FindItem(doc.items, item.name.data(), item.name.size()) != nullptr) {
            problems->push_back(at + ".items." + item.name + "\" is there twice (names ignore case)");
            continue;
          }
          if (!ItemValueOf(it.value(), style, &item.value, &why)) {
            problems->push_back(at + ".items." + item.name + "\" " + why);
            continue;
          }
          doc.items.push_back(std::move(item));
        }
      }
    }
    db->documentIndex[doc.id] = db->documents.size();
    db->documents.push_back(std::move(doc));
  }
}

void ParseViews(const std::string& where, const json& views, DatabaseModel* db,
                std::vector<std::string>* problems) {
  if (!views.is_object()) {
    problems->push_back(where + ".views\" is not an object");
    return;
  }
  for (auto it = views.begin(); it != views.end(); ++it) {
    std::string at = where + ".views." + it.key();
    const json& v = it.value();
    ViewModel view;
    view.name = it.key();
    view.noteId = kFirstViewNoteId + static_cast<uint32_t>(db->views.size()) * 4;
    if (!v.is_object()) {
      problems->push_back(at + "\" is not an object");
      continue;
    }
    if (v.contains("open") && !StatusOf(v["open"], &view.open))
      problems->push_back(at + ".open\" must be a status 0..65535");
    if (v.contains("documents")) {
      const json& ids = v["documents"];
      bool ok = ids.is_array();
      if (ok) {
        for (const json& id : ids) {
          uint32_t n = 0;
          if (!U32Of(id, &n)) {
            ok = false;
            break;
          }
          view.documents.push_back(n);
        }
      }
      if (!ok) {
        problems->push_back(at + ".documents\" must be a list of note ids");
        view.documents.clear();
      }
    }
    db->views.push_back(std::move(view));
  }
}

void ParseDatabase(const std::string& key, const json& v, const TimeContext& style,
                   DatabaseModel* db, std::vector<std::string>* problems) {
  std::string where = "\"databases." + key;
  if (v.contains("directory")) {
    if (v["directory"].is_boolean())
      db->directory = v["directory"].get<bool>();
    else
      problems->push_back(where + ".directory\" must be true or false");
  }
  struct StatusKey {
    const char* key;
    VxStatus* target;
  } statuses[] = {{"open", &db->open},
                  {"repairOpen", &db->repairOpen},
                  {"failoverOpen", &db->failoverOpen}};
  for (const StatusKey& s : statuses)
    if (v.contains(s.key) && !StatusOf(v[s.key], s.target))
      problems->push_back(where + "." + s.key + "\" must be a status 0..65535");
  if (v.contains("failoverPath")) {
    const json& p = v["failoverPath"];
    if (p.is_string() && p.get_ref<const std::string&>().size() < VX_MAXPATH) {
      db->hasFailoverPath = true;
      db->failoverPath = p.get<std::string>();
    } else {
      problems->push_back(where + ".failoverPath\" must be a text of at most 255 bytes");
    }
  }
  if (v.contains("space")) {
    const json& s = v["space"];
    bool ok = s.is_object();
    if (ok && s.contains("allocatedBytes")) ok = U32Of(s["allocatedBytes"], &db->allocatedBytes);
    if (ok && s.contains("freeBytes")) ok = U32Of(s["freeBytes"], &db->freeBytes);
    if (ok && s.contains("status")) ok = StatusOf(s["status"], &db->spaceStatus);
    if (!ok)
      problems->push_back(where + ".space\" needs byte counts 0..4294967295 and a status");
  }
  if (v.contains("quota")) {
    const json& q = v["quota"];
    bool ok = q.is_object();
    struct Field {
      const char* key;
      uint32_t* target;
    } fields[] = {{"warningThreshold", &db->quota.WarningThreshold},
                  {"sizeLimit", &db->quota.SizeLimit},
                  {"currentSize", &db->quota.CurrentSize},
                  {"maxSize", &db->quota.MaxSize}};
    for (const Field& f : fields)
      if (ok && q.contains(f.key)) ok = U32Of(q[f.key], f.target);
    if (ok && q.contains("status")) ok = StatusOf(q["status"], &db->quotaStatus);
    if (!ok) problems->push_back(where + ".quota\" needs figures 0..4294967295 and a status");
  }
  if (v.contains("modified")) {
    if (TimeOfText(v["modified"], style, &db->modified))
      db->hasModified = true;
    else
      problems->push_back(where + ".modified\" is not a date and time in the model's date order");
  }
  if (v.contains("views")) ParseViews(where, v["views"], db, problems);
  if (v.contains("documents")) ParseDocuments(where, v["documents"], style, db, problems);
}

}  // namespace

const Document* DatabaseModel::FindDocument(uint32_t id) const {
  auto it = documentIndex.find(id);
  return it == documentIndex.end() ? nullptr : &documents[it->second];
}

const ViewModel* DatabaseModel::FindView(const char* name) const {
  if (name == nullptr) return nullptr;
  for (const ViewModel& v : views) {
    size_t start = 0;
    while (start <= v.name.size()) {
      size_t bar = v.name.find('|', start);
      if (bar == std::string::npos) bar = v.name.size();
      std::string part = v.name.substr(start, bar - start);
      if (strcasecmp(part.c_str(), name) == 0) return &v;
      start = bar + 1;
    }
  }
  return nullptr;
}

const ViewModel* DatabaseModel::FindViewByNote(uint32_t noteId) const {
  for (const ViewModel& v : views)
    if (v.noteId == noteId) return &v;
  return nullptr;
}

DbModel::Kind DbModel::Resolve(const std::string& path, const DatabaseModel** entry) const {
  *entry = nullptr;
  auto it = databases.find(path);
  if (it != databases.end()) *entry = &it->second;
  if (path.empty() || folders.count(path) != 0 || (it != databases.end() && it->second.directory))
    return Kind::kDirectory;
  return it != databases.end() ? Kind::kDatabase : Kind::kNone;
}

std::vector<FileEntry> DbModel::List(const std::string& dir, bool recursive, bool wantDatabases,
                                     bool wantDirectories) const {
  std::map<std::string, bool> found;  // path -> is a database; byte-wise order
  std::string prefix = dir.empty() ? "" : dir + "/";
  auto below = [&](const std::string& p) {
    if (p.size() <= prefix.size() || p.compare(0, prefix.size(), prefix) != 0) return false;
    return recursive || p.find('/', prefix.size()) == std::string::npos;
  };
  for (const auto& [path, db] : databases) {
    if (!below(path)) continue;
    bool isDir = db.directory || folders.count(path) != 0;
    if (isDir ? wantDirectories : wantDatabases) found[path] = !isDir;
  }
  if (wantDirectories)
    for (const std::string& f : folders)
      if (below(f)) found.emplace(f, false);
  std::vector<FileEntry> out;
  out.reserve(found.size());
  for (const auto& [path, isDb] : found) out.push_back(FileEntry{path, isDb});
  return out;
}

std::string RelativePath(const char* path, const std::string& dataDirectory) {
  std::string p = path == nullptr ? "" : path;
  size_t at = p.find("!!!");
  if (at != std::string::npos) p.erase(0, at + 3);
  at = p.find("!!");
  if (at != std::string::npos) p.erase(0, at + 2);
  for (char& c : p)
    if (c == '\\') c = '/';
  std::string dataDir = dataDirectory;
  for (char& c : dataDir)
    if (c == '\\') c = '/';
  while (!dataDir.empty() && dataDir.back() == '/') dataDir.pop_back();
  if (!dataDir.empty() && p.compare(0, dataDir.size(), dataDir) == 0 &&
      (p.size() == dataDir.size() || p[dataDir.size()] == '/')) {
    p.erase(0, dataDir.size());
    while (!p.empty() && p.front() == '/') p.erase(0, 1);
  }
  while (!p.empty() && p.back() == '/') p.pop_back();
  return p;
}

std::shared_ptr<const DbModel> ParseDbModel(const json& doc, const TimeContext& style,
                                            std::vector<std::string>* problems) {
  auto model = std::make_shared<DbModel>();
  if (doc.contains("databases")) {
    const json& dbs = doc["databases"];
    if (!dbs.is_object()) {
      problems->push_back("\"databases\" is not an object");
    } else {
      for (auto it = dbs.begin(); it != dbs.end(); ++it) {
        const std::string& key = it.key();
        // Paths longer than a real server's 255 bytes are allowed: tests
        // hand them to the collector to see it refuse or cut them.
        if (key.empty() || key.size() > kMaxModelPath || !it.value().is_object()) {
          problems->push_back("\"databases." + key.substr(0, 300) +
                              "\" needs a path of 1..4096 bytes and an object");
          continue;
        }
        DatabaseModel db;
        ParseDatabase(key, it.value(), style, &db, problems);
        if (db.directory) model->folders.insert(key);
        for (size_t slash = key.find('/'); slash != std::string::npos;
             slash = key.find('/', slash + 1))
          if (slash > 0) model->folders.insert(key.substr(0, slash));
        model->databases[key] = std::move(db);
      }
    }
  }
  if (doc.contains("directory")) {
    const json& dir = doc["directory"];
    if (!dir.is_object()) {
      problems->push_back("\"directory\" is not an object");
    } else if (dir.contains("groups")) {
      const json& groups = dir["groups"];
      bool ok = groups.is_array();
      std::vector<std::string> names;
      if (ok)
        for (const json& g : groups) {
          if (!g.is_string() || g.get_ref<const std::string&>().size() > 65535) {
            ok = false;
            break;
          }
          names.push_back(g.get<std::string>());
        }
      if (ok) {
        model->hasGroups = true;
        model->groups = std::move(names);
      } else {
        problems->push_back("\"directory.groups\" must be a list of names");
      }
    }
  }
  return model;
}

}  // namespace vaxelsim
