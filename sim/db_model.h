// The simulated server's databases, directories, documents, views and
// directory groups, as the "databases" and "directory" keys of server.json
// describe them (see docs/simulated-server.md).
//
// A DbModel is built once per read of server.json and never changed
// afterwards, so open handles keep the model they were opened on (through a
// shared pointer) while the file changes under them.  Thread-safe to read.
#ifndef QVD_SIM_DB_MODEL_H_
#define QVD_SIM_DB_MODEL_H_

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "serverapi/vaxel.h"
#include "sim/sim_time.h"

namespace vaxelsim {

// One item of a document: its name and its value as the server API hands it
// out (a 16-bit data type, then the data).
struct Item {
  std::string name;
  std::string value;
  uint16_t Type() const;
};

struct Document {
  uint32_t id = 0;
  bool hasModified = false;  // without: every search with a since-time finds it
  int64_t modified = 0;
  std::vector<Item> items;  // in the order written
};

struct ViewModel {
  std::string name;  // as written; may hold aliases after "|"
  uint32_t noteId = 0;
  VxStatus open = 0;
  std::vector<uint32_t> documents;  // entries of the collection, in order
};

struct DatabaseModel {
  bool directory = false;
  VxStatus open = 0;
  VxStatus repairOpen = 0;
  VxStatus failoverOpen = 0;
  bool hasFailoverPath = false;
  std::string failoverPath;
  uint32_t allocatedBytes = 0;
  uint32_t freeBytes = 0;
  VxStatus spaceStatus = 0;
  VxDbLimits quota = {0, 0, 0, 0};
  VxStatus quotaStatus = 0;
  bool hasModified = false;
  int64_t modified = 0;
  std::vector<ViewModel> views;  // in the order written
  std::vector<Document> documents;  // in the order written
  std::map<uint32_t, size_t> documentIndex;  // note id -> position in documents

  const Document* FindDocument(uint32_t id) const;
  // The view whose name or one of whose "|"-separated aliases equals `name`,
  // ignoring case; null when none.
  const ViewModel* FindView(const char* name) const;
  const ViewModel* FindViewByNote(uint32_t noteId) const;
};

// One file a directory search reports.
struct FileEntry {
  std::string path;  // relative to the data directory, as the model's key
  bool database = false;
};

struct DbModel {
  std::map<std::string, DatabaseModel> databases;  // by path, byte-wise order
  std::set<std::string> folders;  // every folder holding a modelled path
  bool hasGroups = false;
  std::vector<std::string> groups;  // directory.groups, in order

  // What a path names, after `\` became `/`: a database (entry set), a
  // directory (entry set when the model lists it, else null), or nothing.
  enum class Kind { kNone, kDatabase, kDirectory };
  Kind Resolve(const std::string& path, const DatabaseModel** entry) const;
  // The databases and subdirectories of directory `dir`: direct children,
  // or every path below it when `recursive`; in byte-wise path order.
  std::vector<FileEntry> List(const std::string& dir, bool recursive, bool databases,
                              bool directories) const;
};

// The path relative to the data directory that a path the collector passes
// names: the part after the server ("port!!!server!!file" and
// "server!!file" lose their prefixes), `\` turned into `/`, a leading data
// directory and trailing "/" removed.
std::string RelativePath(const char* path, const std::string& dataDirectory);

// How the model's times are read: in the model's date order, and "today"
// by the model's clock (see ParseDbModel).
struct TimeContext {
  TextStyle style;
  int64_t now = 0;
};

// Reads "databases" and "directory" of a server.json document.  Times are
// read in the date order of `tc.style`; a time may also be written
// "today-N 08:00:05 AM" (N days before the day of `tc.now`; "today",
// "today+N" likewise), and texts may hold "{{today-N 08:00:05 AM}}", which
// becomes that time in the model's form.  Problems are appended to `problems`; a
// wrong entry is left out, the others still count.
std::shared_ptr<const DbModel> ParseDbModel(const nlohmann::ordered_json& doc,
                                            const TimeContext& tc,
                                            std::vector<std::string>* problems);

}  // namespace vaxelsim

#endif  // QVD_SIM_DB_MODEL_H_
