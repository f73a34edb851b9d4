#include "agentside/columns.h"

#include <sstream>

#include "agentside/file_text.h"

#ifdef QVD_AGENTSIDE_HAVE_CATALOGUE
#include "stats/catalogue.h"
#endif

namespace agentside {

namespace {

#ifdef QVD_AGENTSIDE_HAVE_CATALOGUE
const QvdTableDescriptor* Builtin(const std::string& group) { return findTableDescriptor(group.c_str()); }
#endif

}  // namespace

bool ColumnCatalogue::LoadOverrides(const std::string& path, std::string* error) {
  std::string text;
  if (!ReadFileText(path, &text)) {
    *error = "cannot read column file " + path;
    return false;
  }
  std::istringstream in(text);
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    for (char& c : line)
      if (c == ',' || c == '\t' || c == '\r') c = ' ';
    std::istringstream words(line);
    std::string group;
    if (!(words >> group) || group[0] == '#') continue;
    std::vector<std::string> names;
    std::string name;
    while (words >> name) names.push_back(name);
    if (names.empty()) {
      *error = path + ":" + std::to_string(lineNo) + ": group " + group + " has no columns";
      return false;
    }
    overrides_[group] = std::move(names);
  }
  return true;
}

std::vector<std::string> ColumnCatalogue::Names(const std::string& group) const {
  auto it = overrides_.find(group);
  if (it != overrides_.end()) return it->second;
#ifdef QVD_AGENTSIDE_HAVE_CATALOGUE
  if (const QvdTableDescriptor* t = Builtin(group)) {
    std::vector<std::string> names;
    for (int i = 0; i < t->columnCount; ++i)
      names.push_back(t->columns && t->columns[i] ? t->columns[i] : "col" + std::to_string(i + 1));
    return names;
  }
#endif
  return {};
}

std::vector<std::string> ColumnCatalogue::NamesFor(const std::string& group, size_t count) const {
  std::vector<std::string> names = Names(group);
  if (names.size() > count) names.resize(count);
  while (names.size() < count) names.push_back("col" + std::to_string(names.size() + 1));
  return names;
}

int ColumnCatalogue::Count(const std::string& group) const {
  auto it = overrides_.find(group);
  if (it != overrides_.end()) return static_cast<int>(it->second.size());
#ifdef QVD_AGENTSIDE_HAVE_CATALOGUE
  if (const QvdTableDescriptor* t = Builtin(group)) return t->columnCount;
#endif
  return -1;
}

bool ColumnCatalogue::IsSnapshotGroup(const std::string& group) {
#ifdef QVD_AGENTSIDE_HAVE_CATALOGUE
  if (const QvdTableDescriptor* t = Builtin(group))
    return t->kind == QVD_TABLE_SINGLE_ROW || t->kind == QVD_TABLE_MULTI_ROW || t->kind == QVD_TABLE_ADDIN;
#endif
  // Without the catalogue: the groups built by background work by name.
  return group != kEventGroup && group != "Velora_Replication" && group != "Velora_Corrupt_Failover_DB" &&
         group != "Velora_DB_Whitespace" && group != "Velora_Group_Updates";
}

bool ColumnCatalogue::HaveBuiltinCatalogue() {
#ifdef QVD_AGENTSIDE_HAVE_CATALOGUE
  return true;
#else
  return false;
#endif
}

}  // namespace agentside
