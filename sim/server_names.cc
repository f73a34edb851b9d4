#include "sim/server_names.h"

#include <cctype>
#include <vector>

namespace vaxelsim {

static bool SplitComponents(const std::string& name, std::vector<std::string>* parts) {
  if (name.empty()) return false;
  size_t start = 0;
  while (true) {
    size_t slash = name.find('/', start);
    std::string part = name.substr(start, slash == std::string::npos ? std::string::npos
                                                                      : slash - start);
    if (part.empty()) return false;
    parts->push_back(part);
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return true;
}

bool AbbreviateName(const std::string& name, std::string* out) {
  std::vector<std::string> parts;
  if (!SplitComponents(name, &parts)) return false;
  std::string result;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string& p = parts[i];
    size_t eq = p.find('=');
    std::string value = eq == std::string::npos ? p : p.substr(eq + 1);
    if (value.empty()) return false;
    if (i > 0) result += '/';
    result += value;
  }
  *out = result;
  return true;
}

bool CanonicalizeName(const std::string& name, std::string* out) {
  std::vector<std::string> parts;
  if (!SplitComponents(name, &parts)) return false;
  if (name.find('=') != std::string::npos || parts.size() == 1) {
    *out = name;
    return true;
  }
  std::string result;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) result += '/';
    result += i == 0 ? "CN=" : (i + 1 == parts.size() ? "O=" : "OU=");
    result += parts[i];
  }
  *out = result;
  return true;
}

std::string NameKey(const std::string& name) {
  std::string canonical;
  if (!CanonicalizeName(name, &canonical)) canonical = name;
  std::string key;
  bool inKey = true;
  // Keys sit between a slash (or the start) and '='.
  for (size_t i = 0; i < canonical.size(); ++i) {
    char c = canonical[i];
    if (c == '/') {
      inKey = true;
      key += c;
      continue;
    }
    if (c == '=' && inKey) {
      inKey = false;
      key += c;
      continue;
    }
    key += static_cast<char>(inKey && canonical.find('=', i) != std::string::npos
                                 ? toupper(static_cast<unsigned char>(c))
                                 : tolower(static_cast<unsigned char>(c)));
  }
  return key;
}

}  // namespace vaxelsim
