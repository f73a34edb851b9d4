#include "replication/text_utils.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "util/nls.h"

namespace {
int lower(char c) { return tolower(static_cast<unsigned char>(c)); }
}  // namespace

char* ZELitoa(long n, char* out) {
  snprintf(out, 21, "%ld", n);
  return out;
}

int strlowcmp(const char* a, const char* b) {
  for (; *a != '\0' || *b != '\0'; ++a, ++b) {
    if (lower(*a) != lower(*b)) return *a - *b;
  }
  return 0;
}

const char* lowstrstr(const char* text, const char* needle) {
  if (text == nullptr || needle == nullptr || *needle == '\0') return nullptr;
  int first = lower(*needle);
  for (const char* p = text; *p != '\0'; ++p) {
    if (lower(*p) != first) continue;
    const char* t = p;
    const char* n = needle;
    while (*n != '\0' && *t != '\0' && lower(*t) == lower(*n)) ++t, ++n;
    if (*n == '\0') return p;
    if (*t == '\0') return nullptr;  // the rest of text is shorter than needle
  }
  return nullptr;
}

char* zelstrip(char* text, const char* set) {
  size_t len = strlen(text);
  while (len > 0 && strchr(set, text[len - 1]) != nullptr) text[--len] = '\0';
  return text;
}

char* zellstrip(char* text, const char* set) {
  size_t skip = 0;
  while (text[skip] != '\0' && strchr(set, text[skip]) != nullptr) ++skip;
  if (skip > 0) memmove(text, text + skip, strlen(text + skip) + 1);
  return text;
}

int ValidIntAsString(const char* text, long* value) {
  if (*text == '\0') {
    if (value != nullptr) *value = 0;
    return 1;
  }
  char* end = nullptr;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (errno == ERANGE || end == text || *end != '\0') return 0;
  if (value != nullptr) *value = v;
  return 1;
}

size_t get_text_field(const void* value, size_t valueLength, char* out, size_t outSize) {
  if (outSize == 0) return 0;
  out[0] = '\0';
  if (valueLength <= 2) return 0;
  size_t take = valueLength - 2;
  if (take > outSize - 1) take = outSize - 1;
  std::unique_ptr<char[]> temp(new (std::nothrow) char[take + 1]);
  if (!temp) return 0;
  memcpy(temp.get(), static_cast<const char*>(value) + 2, take);
  convert_text_field(temp.get(), take);
  temp[take] = '\0';
  unsigned long n = toHostText(temp.get(), take, out, outSize - 1);
  out[n] = '\0';
  return take;
}

unsigned long toHostText(char* in, size_t length, char* out, size_t outSize) {
  if (length == 0 || outSize == 0) return 0;
  bool plain = true;
  for (size_t i = 0; i < length && plain; ++i)
    plain = static_cast<unsigned char>(in[i]) < 0x80;
  if (!plain) return NLS_VxTranslate(NLS_SERVER_TO_HOST, in, length, out, outSize);
  size_t n = length < outSize ? length : outSize;
  memcpy(out, in, n);
  return n;
}

char* mycopy(char* destination, const char* source, long n) {
  if (n > 0) memcpy(destination, source, static_cast<size_t>(n));
  return destination;
}

void convert_text_field(char* data, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (data[i] == '\0') data[i] = '\n';
}

bool copyField(char* field, size_t size, const char* source) {
  size_t len = strlen(source);
  bool fits = len < size;
  if (!fits) len = size - 1;
  memcpy(field, source, len);
  field[len] = '\0';
  return fits;
}
