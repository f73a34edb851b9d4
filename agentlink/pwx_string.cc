// PWX::String: the agent link's byte string over the shared string core.
#include "agentlink/pwx_string.h"

#include <cstdio>

#include "framework/trace.h"

QVD_TRACE_UNIT("agentlink/string");

namespace PWX {

String::String() { init(31); }

String::String(int n) { init(n); }

String::String(const char* s) { constructFrom(s); }

String::String(const char* s, int n) { constructFrom(s, n); }

String::String(const String& other) : StringCore() { constructCopy(other); }

String::~String() {}

String& String::operator=(const String& other) {
  assignFrom(other);
  return *this;
}

bool String::reserve(int n) {
  if (m_capacity >= n) return true;
  // 64-bit so that a large request with headroom cannot wrap around.
  int64_t wanted = static_cast<int64_t>(n) + (static_cast<int64_t>(n) * growthPercent + 50) / 100;
  if (wanted < n) wanted = n;  // a negative percentage never shrinks the request
  if (!setCapacity(wanted)) {
    QVD_ERROR("Out of memory: cannot reserve %d characters", n);
    return false;
  }
  return true;
}

void String::appendItoa(int value) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%d", value);
  append(digits);
}

String String::substr(int from) const {
  const char* start;
  if (!substrStart(from, &start)) return String();
  return String(start);
}

String String::substr(int from, int n) const {
  const char* start;
  if (!substrStart(from, &start)) return String();
  return String(start, n);
}

}  // namespace PWX
