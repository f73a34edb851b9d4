#include "dbhealth/db_views_config_map.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dbhealth/delete_spaces.h"
#include "dbhealth/velora_config_parser.h"
#include "framework/trace.h"

QVD_TRACE_UNIT("dbhealth/view_config");

DbViewsConfigMap dbViewsConfigMap;

namespace {

constexpr int kDefaultCapacity = 512;
constexpr size_t kLineSize = 1024;  // 1023 characters and the terminator
constexpr size_t kMaxViewName = 255;

enum class LineRead { kLine, kTooLong, kEnd };

// Reads one line (without its line feed) into `line`.  A line longer than
// 1023 characters is read to its end and reported as kTooLong.
LineRead readLine(FILE* file, std::string* line) {
  line->clear();
  int c;
  bool any = false;
  while ((c = getc(file)) != EOF) {
    any = true;
    if (c == '\n') break;
    line->push_back((char)c);
  }
  if (!any) return LineRead::kEnd;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return line->size() >= kLineSize ? LineRead::kTooLong : LineRead::kLine;
}

// A carriage return counts too: the one of a CR LF line end is gone
// already, and one inside the line would end up inside a view name.
bool hasControlBytes(const std::string& line) {
  for (unsigned char c : line)
    if ((c < 0x20 && c != '\t') || c == 0x7F) return true;
  return false;
}

// The parts of `text` between separators, empty ones dropped.
std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace

DbViewsConfigMap::DbViewsConfigMap() : DbViewsConfigMap(kDefaultCapacity) {}

DbViewsConfigMap::DbViewsConfigMap(int n) : m_keys(n), m_values(n), m_capacity(n) {}

int DbViewsConfigMap::add(const char* dbPattern, const char* viewList) {
  if (dbPattern == nullptr || viewList == nullptr) return 1;
  if (m_count >= m_capacity) return 301;
  if (dbPattern[0] == '\0' || viewList[0] == '\0') return 0;
  if (m_keys.add(dbPattern) != 0) return 2;
  if (m_values.add(viewList) != 0) {
    m_keys.remove(m_keys.getCount() - 1);
    return 2;
  }
  ++m_count;
  return 0;
}

void DbViewsConfigMap::removeAll() {
  m_keys.removeAll();
  m_values.removeAll();
  m_count = 0;
}

int DbViewsConfigMap::parseDbViewConfigFile(const char* fileName, DbViewsConfigMap* map) {
  if (fileName == nullptr || map == nullptr) return 1;
  FILE* file = fopen(fileName, "re");
  if (file == nullptr) return 303;
  std::string line;
  int number = 0;
  bool fullReported = false;
  for (;;) {
    LineRead read = readLine(file, &line);
    if (read == LineRead::kEnd) break;
    ++number;
    if (read == LineRead::kTooLong) {
      QVD_ERROR("Line %d of view configuration file %s is longer than %d characters; it is "
                "ignored.",
                number, fileName, (int)kLineSize - 1);
      continue;
    }
    if (hasControlBytes(line)) {
      QVD_ERROR("Line %d of view configuration file %s holds control characters; it is ignored.",
                number, fileName);
      continue;
    }
    std::vector<char> text(line.begin(), line.end());
    text.push_back('\0');
    deleteSpaces(text.data());
    if (text[0] == '\0' || text[0] == '#') continue;
    std::vector<std::string> parts = split(text.data(), '=');
    if (parts.size() < 2) continue;
    std::string views;
    for (const std::string& view : split(parts[1], ',')) {
      if (view.size() > kMaxViewName) {
        QVD_ERROR("View name %.40s... in line %d of view configuration file %s is longer than %d "
                  "characters; it is ignored.",
                  view.c_str(), number, fileName, (int)kMaxViewName);
        continue;
      }
      if (!views.empty()) views += ',';
      views += view;
    }
    // A pair whose list names no view still holds its databases: the
    // first matching pattern wins, and its empty list checks no view.  A
    // lone separator keeps such a list, which the map stores only when it
    // is not empty, and splits into no view name.
    if (views.empty()) views = ",";
    if (map->add(parts[0].c_str(), views.c_str()) == 301 && !fullReported) {
      QVD_ERROR("View configuration file %s holds more than %d pairs; line %d and the lines after "
                "it are ignored.",
                fileName, map->getCapacity(), number);
      fullReported = true;
    }
  }
  fclose(file);
  return 0;
}

int DbViewsConfigMap::getViewList(const char* dbPath, QVD::StringList* views) const {
  if (dbPath == nullptr || views == nullptr) return 1;
  for (int i = 0; i < m_count; ++i) {
    if (!VeloraConfigParser::subPathOf(dbPath, m_keys.getAt(i).c_str())) continue;
    std::vector<char> list(m_values.getAt(i).c_str(),
                           m_values.getAt(i).c_str() + m_values.getAt(i).length() + 1);
    deleteSpaces(list.data());
    QVD::StringList::StringToList(list.data(), ',', views);
    return 0;
  }
  return 302;
}
