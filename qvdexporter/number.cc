#include "qvdexporter/number.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace qvdexporter {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits from `i` on; returns how many.
size_t Digits(const std::string& s, size_t i) {
  size_t n = 0;
  while (i + n < s.size() && IsDigit(s[i + n])) ++n;
  return n;
}

// Converts a canonical "-123.45" text with strtod under the C locale rules
// it was built for.
bool Convert(const std::string& canonical, double* value) {
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(canonical.c_str(), &end);
  if (end == nullptr || *end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

// Plain: -?digits(.digits)?
bool Plain(const std::string& s, size_t start, double* value) {
  size_t i = start;
  size_t whole = Digits(s, i);
  if (whole == 0) return false;
  i += whole;
  if (i < s.size() && s[i] == '.') {
    size_t frac = Digits(s, i + 1);
    if (frac == 0) return false;
    i += 1 + frac;
  }
  return i == s.size() && Convert(s, value);
}

// Grouped: -?d{1,3}(T d{3})+ (D digits)? or -?digits D digits.
bool Grouped(const std::string& s, size_t start, const NumberFormat& f, double* value) {
  std::string canonical = start > 0 ? "-" : "";
  size_t i = start;
  size_t first = Digits(s, i);
  if (first == 0) return false;
  canonical.append(s, i, first);
  i += first;
  size_t groups = 0;
  while (i < s.size() && s[i] == f.thousands && f.thousands != f.decimal) {
    if (Digits(s, i + 1) != 3) return false;
    canonical.append(s, i + 1, 3);
    i += 4;
    ++groups;
  }
  if (groups > 0 && first > 3) return false;
  if (i < s.size() && s[i] == f.decimal) {
    size_t frac = Digits(s, i + 1);
    if (frac == 0) return false;
    canonical += '.';
    canonical.append(s, i + 1, frac);
    i += 1 + frac;
  }
  return i == s.size() && Convert(canonical, value);
}

}  // namespace

bool ParseNumber(const std::string& text, const NumberFormat& format, double* value) {
  size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
  if (start == text.size()) return false;
  return Plain(text, start, value) || Grouped(text, start, format, value);
}

}  // namespace qvdexporter
