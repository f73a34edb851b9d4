#include "dbhealth/velora_config_parser.h"

#include <cstring>
#include <vector>

#include "dbhealth/delete_spaces.h"
#include "dbhealth/vaxel_api_util.h"
#include "framework/trace.h"

QVD_TRACE_UNIT("dbhealth/config");

namespace {

std::string slashed(const char* path) {
  std::string s(path);
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

bool endsWith(const std::string& s, const char* tail) {
  size_t n = strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

std::vector<std::string> components(const char* path) {
  std::vector<std::string> parts;
  std::string s = slashed(path);
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find('/', start);
    if (end == std::string::npos) end = s.size();
    if (end > start) parts.push_back(s.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// True when the first `n` components of `a` and `b` are equal.
bool samePrefix(const std::vector<std::string>& a, const std::vector<std::string>& b, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

}  // namespace

VeloraConfigParser::VeloraConfigParser(const char* serverName, const char* includePath,
                                       const char* excludePath) {
  if (serverName == nullptr || includePath == nullptr) return;
  m_serverName.reset(new std::string(serverName));
  m_includePath.reset(new std::string(includePath));
  m_includeList.reset(new QVD::StringList(kMaxConfiguredPaths));
  parseIncludePath();
  if (excludePath != nullptr) {
    m_excludePath.reset(new std::string(excludePath));
    m_excludeList.reset(new QVD::StringList(kMaxConfiguredPaths));
    parseExcludePath();
  }
}

VeloraConfigParser::~VeloraConfigParser() = default;

void VeloraConfigParser::fillList(const char* what, std::string* text, QVD::StringList* list) {
  std::vector<char> buffer(text->begin(), text->end());
  buffer.push_back('\0');
  deleteSpaces(buffer.data());
  *text = buffer.data();
  list->removeAll();
  size_t start = 0;
  bool emptyEntry = false;
  while (start <= text->size()) {
    size_t end = text->find(';', start);
    if (end == std::string::npos) end = text->size();
    std::string entry = text->substr(start, end - start);
    bool inside = start > 0 && end < text->size();
    if (entry.empty()) {
      if (inside) emptyEntry = true;
    } else if (list->add(entry.c_str()) == 101) {
      QVD_ERROR("Checking database %s path holds more than %d paths; %s and the paths after it "
                "are ignored.",
                what, kMaxConfiguredPaths, entry.c_str());
      break;
    }
    start = end + 1;
  }
  if (emptyEntry) QVD_DETAIL("Checking database %s path holds an empty path (;;); it is skipped.", what);
}

int VeloraConfigParser::parseIncludePath() {
  if (m_includeList == nullptr) return 1;
  fillList("include", m_includePath.get(), m_includeList.get());
  return 0;
}

int VeloraConfigParser::parseExcludePath() {
  if (m_excludeList == nullptr) return 1;
  fillList("exclude", m_excludePath.get(), m_excludeList.get());
  return 0;
}

int VeloraConfigParser::getPathType(const char* path) {
  if (path == nullptr || path[0] == '\0') return DB_PATH_INVALID;
  std::string s = slashed(path);
  if (s == "*" || (s.size() > 2 && endsWith(s, "/*"))) return DB_PATH_WILDCARD;
  if (s.size() > 4 && (endsWith(s, ".vdb") || endsWith(s, ".box"))) return DB_PATH_FILE;
  return DB_PATH_DIRECTORY;
}

bool VeloraConfigParser::subPathOf(const char* path, const char* parent) {
  if (path == nullptr || parent == nullptr) return false;
  if (path[0] == '\0') return true;
  if (strcmp(path, parent) == 0) return true;
  std::vector<std::string> child = components(path);
  std::vector<std::string> scope = components(parent);
  if (child.empty() || scope.empty()) return false;
  int childType = getPathType(path);
  int scopeType = getPathType(parent);
  if (childType == DB_PATH_FILE && scopeType == DB_PATH_DIRECTORY)
    return child.size() == scope.size() + 1 && samePrefix(child, scope, scope.size());
  if ((childType == DB_PATH_FILE || childType == DB_PATH_DIRECTORY) && scopeType == DB_PATH_WILDCARD)
    return child.size() >= scope.size() && samePrefix(child, scope, scope.size() - 1);
  return false;
}

bool VeloraConfigParser::isExcluded(const char* dbPath) const {
  if (dbPath == nullptr || dbPath[0] == '\0' || m_excludeList == nullptr) return false;
  for (int i = 0; i < m_excludeList->getCount(); ++i)
    if (subPathOf(dbPath, m_excludeList->getAt(i).c_str())) return true;
  return false;
}

int VeloraConfigParser::getDbList(QVD::StringList* dbList, QVD::StringList* invalidList) {
  if (dbList == nullptr || invalidList == nullptr) return 1;
  if (m_includeList == nullptr) return 0;
  const char* server = m_serverName->c_str();
  for (int i = 0; i < m_includeList->getCount(); ++i) {
    const char* entry = m_includeList->getAt(i).c_str();
    VaxelApiUtil api;
    switch (getPathType(entry)) {
      case DB_PATH_INVALID: invalidList->add(entry); break;
      case DB_PATH_WILDCARD: {
        std::string directory = strcmp(entry, "*") == 0 ? "" : std::string(entry, strlen(entry) - 2);
        if (api.findDatabases(server, directory.c_str(), true, dbList) != 0) invalidList->add(entry);
        break;
      }
      case DB_PATH_DIRECTORY:
        if (api.findDatabases(server, entry, false, dbList) != 0) invalidList->add(entry);
        break;
      case DB_PATH_FILE:
        if (!VaxelApiUtil::fitsNetPath(server, entry)) {
          QVD_ERROR("Path %s on server %s is longer than %d characters with the server name; it "
                    "is not checked.",
                    entry, server, 255);
          invalidList->add(entry);
        } else if (!dbList->contains(entry)) {
          dbList->add(entry);
        }
        break;
    }
  }
  return 0;
}

int VeloraConfigParser::checkConfiguration(QVD::StringList* invalidIncludes,
                                           QVD::StringList* invalidExcludes) {
  if (invalidIncludes == nullptr || invalidExcludes == nullptr) return 1;
  if (m_includeList != nullptr) checkPaths(m_includeList.get(), invalidIncludes);
  if (m_excludeList != nullptr) checkPaths(m_excludeList.get(), invalidExcludes);
  return 0;
}

int VeloraConfigParser::checkPaths(QVD::StringList* paths, QVD::StringList* invalid) {
  if (paths == nullptr || invalid == nullptr || m_serverName == nullptr) return 1;
  for (int i = 0; i < paths->getCount(); ++i) {
    const char* entry = paths->getAt(i).c_str();
    int type = getPathType(entry);
    if (type == DB_PATH_INVALID) {
      invalid->add(entry);
      continue;
    }
    std::string openable = entry;
    if (type == DB_PATH_WILDCARD) openable = openable == "*" ? "" : openable.substr(0, openable.size() - 2);
    VaxelApiUtil api;
    if (api.openDatabase(m_serverName->c_str(), openable.c_str()) != 0) invalid->add(entry);
  }
  return 0;
}

int VeloraConfigParser::checkDuplicateIncludePaths(QVD::StringList* removed) {
  if (m_includeList == nullptr || removed == nullptr) return 0;
  QVD::StringList& list = *m_includeList;
  const int n = list.getCount();
  std::vector<int> redundant;
  if (list.contains("*")) {
    bool keptStar = false;
    for (int i = 0; i < n; ++i) {
      if (!keptStar && strcmp(list.getAt(i).c_str(), "*") == 0) {
        keptStar = true;
        continue;
      }
      redundant.push_back(i);
    }
  } else {
    for (int i = 0; i < n; ++i) {
      const char* entry = list.getAt(i).c_str();
      for (int j = 0; j < n; ++j) {
        if (j == i) continue;
        const char* other = list.getAt(j).c_str();
        bool equal = strcmp(entry, other) == 0;
        if ((!equal && subPathOf(entry, other)) || (equal && j > i)) {
          redundant.push_back(i);
          break;
        }
      }
    }
  }
  for (int i : redundant) removed->add(list.getAt(i).c_str());
  list.remove(redundant.data(), (int)redundant.size());
  return 0;
}
