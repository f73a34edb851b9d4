#include "tools/agentsim/sim_handles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>
#include <vector>

namespace agentsim {

namespace {

// The key that names the handle a successful call hands out.
const char* HandedOutKey(const std::string& entry) {
  static const std::pair<const char*, const char*> kOpeners[] = {
      {"VxGetServerStats", "handle"}, {"VxDbOpen", "handle"},       {"VxDbOpenExtended", "handle"},
      {"VxDocOpen", "document"},      {"VxDocCreate", "document"},  {"VxViewOpen", "collection"},
      {"VxViewReadEntries", "buffer"}, {"VxDirLookup", "handle"},   {"VxFormulaCompile", "handle"},
  };
  for (const auto& o : kOpeners)
    if (entry == o.first) return o.second;
  return nullptr;
}

bool Releases(const std::string& entry) {
  return entry == "VxMemFree" || entry == "VxDbClose" || entry == "VxDocClose" || entry == "VxViewClose";
}

// Splits "Entry key=value key="text" ..." into the entry point and its
// pairs; quoted texts keep their escapes (only numbers are looked at).
std::string Split(const std::string& line, std::vector<std::pair<std::string, std::string>>* pairs) {
  size_t sp = line.find(' ');
  std::string entry = line.substr(0, sp);
  size_t i = sp == std::string::npos ? line.size() : sp + 1;
  while (i < line.size()) {
    size_t eq = line.find('=', i);
    if (eq == std::string::npos) break;
    std::string key = line.substr(i, eq - i);
    size_t j = eq + 1;
    std::string value;
    if (j < line.size() && line[j] == '"') {
      for (++j; j < line.size() && line[j] != '"'; ++j)
        if (line[j] == '\\') ++j;
      ++j;  // the closing quote
      while (j < line.size() && line[j] == '.') ++j;  // a cut text's "..."
    } else {
      size_t end = line.find(' ', j);
      if (end == std::string::npos) end = line.size();
      value = line.substr(j, end - j);
      j = end;
    }
    pairs->emplace_back(key, value);
    i = j + 1;
  }
  return entry;
}

bool Number(const std::string& text, unsigned long* out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  *out = strtoul(text.c_str(), &end, 10);
  return *end == '\0';
}

}  // namespace

void SimHandles::Line(const std::string& line) {
  ++lines_;
  std::vector<std::pair<std::string, std::string>> pairs;
  std::string entry = Split(line, &pairs);
  auto value = [&pairs](const char* key) -> const std::string* {
    for (const auto& p : pairs)
      if (p.first == key) return &p.second;
    return nullptr;
  };
  if (entry == "exit") {
    unsigned long n;
    const std::string* v = value("handles_held");
    if (v != nullptr && Number(*v, &n)) exitHeld_ = static_cast<long>(n);
    held_.clear();  // that process has ended
    return;
  }
  const std::string* rc = value("rc");
  if (rc == nullptr || *rc != "0") return;
  unsigned long h;
  if (const char* key = HandedOutKey(entry)) {
    const std::string* v = value(key);
    if (v != nullptr && Number(*v, &h) && h != 0) held_[h] = entry;
  } else if (Releases(entry)) {
    const std::string* v = value("handle");
    if (v != nullptr && Number(*v, &h)) held_.erase(h);
  }
}

bool SimHandles::Update() {
  int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  // A log that shrank was replaced: read the new one from its start.
  if (fstat(fd, &st) == 0 && st.st_size < offset_) {
    offset_ = 0;
    partial_.clear();
  }
  char buf[1 << 16];
  for (;;) {
    ssize_t n = pread(fd, buf, sizeof buf, offset_);
    if (n <= 0) break;
    offset_ += n;
    size_t start = 0;
    for (ssize_t k = 0; k < n; ++k) {
      if (buf[k] != '\n') continue;
      partial_.append(buf + start, static_cast<size_t>(k) - start);
      Line(partial_);
      partial_.clear();
      start = static_cast<size_t>(k) + 1;
    }
    partial_.append(buf + start, static_cast<size_t>(n) - start);
  }
  close(fd);
  return true;
}

std::map<std::string, size_t> SimHandles::HeldByEntryPoint() const {
  std::map<std::string, size_t> by;
  for (const auto& h : held_) ++by[h.second];
  return by;
}

}  // namespace agentsim
