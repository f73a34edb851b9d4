#include "tools/agentsim/soak_model.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace agentsim {

namespace {

bool ReadFile(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *out = s.str();
  return true;
}

// Replaces `path` whole: a reader sees the old file or the new one.
bool WriteFile(const std::string& path, const std::string& content, std::string* error) {
  std::string tmp = path + ".soak-tmp";
  FILE* f = fopen(tmp.c_str(), "wb");
  bool ok = f != nullptr && fwrite(content.data(), 1, content.size(), f) == content.size();
  if (f != nullptr && fclose(f) != 0) ok = false;
  if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
    *error = "cannot write " + path + ": " + strerror(errno);
    return false;
  }
  return true;
}

// "1,204" or "37": the number, and whether it was written with separators.
bool WholeNumber(const std::string& text, unsigned long long* value, bool* grouped) {
  if (text.empty()) return false;
  *value = 0;
  *grouped = false;
  for (char c : text) {
    if (c == ',') {
      *grouped = true;
    } else if (c >= '0' && c <= '9') {
      if (*value > 100000000000000ULL) return false;
      *value = *value * 10 + static_cast<unsigned>(c - '0');
    } else {
      return false;
    }
  }
  return text.front() != ',' && text.back() != ',';
}

std::string Format(unsigned long long v, bool grouped) {
  std::string digits = std::to_string(v);
  if (!grouped) return digits;
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace

bool SoakModel::Load(const std::string& dir, std::string* error) {
  dir_ = dir;
  std::string text;
  haveStats_ = ReadFile(dir + "/stats.txt", &text);
  statLines_.clear();
  if (haveStats_) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      statLines_.push_back(line);
    }
  }
  haveServer_ = ReadFile(dir + "/server.json", &text);
  groups_.clear();
  if (haveServer_) {
    server_ = nlohmann::json::parse(text, nullptr, false);
    if (!server_.is_object()) {
      *error = dir + "/server.json is not a JSON object";
      return false;
    }
    auto d = server_.find("directory");
    if (d != server_.end() && d->is_object()) {
      auto g = d->find("groups");
      if (g != d->end() && g->is_array())
        for (const auto& name : *g)
          if (name.is_string()) groups_.push_back(name.get<std::string>());
    }
  }
  return true;
}

bool SoakModel::Change(unsigned long n, std::string* error) {
  if (haveStats_) {
    std::string out;
    size_t lastDestination = 0;
    std::vector<std::string> lines;
    for (size_t i = 0; i < statLines_.size(); ++i) {
      const std::string& line = statLines_[i];
      size_t tab = line.find('\t');
      unsigned long long v;
      bool grouped;
      if (tab != std::string::npos && WholeNumber(line.substr(tab + 1), &v, &grouped)) {
        v += static_cast<unsigned long long>(n) * (i % 13 + 1);
        lines.push_back(line.substr(0, tab + 1) + Format(v, grouped));
      } else {
        lines.push_back(line);
      }
      if (line.compare(0, 11, "MailByDest.") == 0) lastDestination = lines.size();
    }
    if (n % 2 == 1) {
      std::string dest = "MailByDest.soak" + std::to_string(n % 5);
      std::vector<std::string> extra = {
          dest + ".TotalRouted\t" + Format(100 + n, true), dest + ".Transferred\t" + Format(90 + n, true),
          dest + ".Delivered\t10", dest + ".TotalKBTransferred\t" + Format(4000 + n * 7, true)};
      size_t at = lastDestination > 0 ? lastDestination : lines.size();
      lines.insert(lines.begin() + static_cast<long>(at), extra.begin(), extra.end());
    }
    for (const std::string& line : lines) out += line + "\n";
    if (!WriteFile(dir_ + "/stats.txt", out, error)) return false;
  }
  if (haveServer_) {
    nlohmann::json groups = nlohmann::json::array();
    for (size_t i = 0; i < groups_.size(); ++i)
      if (n % 2 == 1 || groups_.empty() || i != (n / 2) % groups_.size()) groups.push_back(groups_[i]);
    if (n % 2 == 1) groups.push_back("SoakGroup" + std::to_string(n));
    nlohmann::json server = server_;
    if (!server["directory"].is_object()) server["directory"] = nlohmann::json::object();
    server["directory"]["groups"] = groups;
    if (!WriteFile(dir_ + "/server.json", server.dump(2) + "\n", error)) return false;
  }
  return true;
}

}  // namespace agentsim
