// QVD::String over the shared string core.
#include "util/qvd_string.h"

namespace QVD {

const String EMPTY_STRING;

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

void String::replace(char from, char to) {
  for (int i = 0; i < m_length; i++) {
    if (m_buffer[i] == from) m_buffer[i] = to;
  }
}

}  // namespace QVD
