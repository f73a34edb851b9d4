#include "sim/dir_lookup.h"

#include <cstring>

namespace vaxelsim {

namespace {

constexpr char kBufferTag[4] = {'V', 'X', 'D', 'L'};
constexpr char kNameTag[4] = {'N', 'A', 'M', 'E'};
constexpr char kMatchTag[4] = {'M', 'T', 'C', 'H'};
constexpr size_t kHeader = 12;  // tag, size, count, spare

void Put16(std::string* s, uint16_t v) { s->append(reinterpret_cast<const char*>(&v), 2); }
void Put32(std::string* s, uint32_t v) { s->append(reinterpret_cast<const char*>(&v), 4); }
void Set32(std::string* s, size_t at, uint32_t v) { memcpy(&(*s)[at], &v, 4); }

uint16_t Get16(const unsigned char* p) {
  uint16_t v;
  memcpy(&v, p, 2);
  return v;
}
uint32_t Get32(const unsigned char* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

void Header(std::string* s, const char* tag, uint16_t count) {
  s->append(tag, 4);
  Put32(s, 0);  // size, set when the record is complete
  Put16(s, count);
  Put16(s, 0);
}

// A record of `tag` at p lying within [p, end); its size, or 0.
uint32_t RecordAt(const unsigned char* p, const unsigned char* end, const char* tag) {
  if (p == nullptr || end < p || static_cast<size_t>(end - p) < kHeader) return 0;
  if (memcmp(p, tag, 4) != 0) return 0;
  uint32_t size = Get32(p + 4);
  if (size < kHeader || size > static_cast<size_t>(end - p)) return 0;
  return size;
}

}  // namespace

std::string EncodeLookup(const std::vector<DirName>& names) {
  std::string s;
  Header(&s, kBufferTag, static_cast<uint16_t>(names.size() > 65535 ? 65535 : names.size()));
  for (size_t n = 0; n < names.size() && n < 65535; ++n) {
    const DirName& name = names[n];
    size_t nameStart = s.size();
    size_t matches = name.matches.size() > 65535 ? 65535 : name.matches.size();
    Header(&s, kNameTag, static_cast<uint16_t>(matches));
    for (size_t m = 0; m < matches; ++m) {
      const DirMatch& match = name.matches[m];
      size_t matchStart = s.size();
      Header(&s, kMatchTag, static_cast<uint16_t>(match.items.size()));
      for (const std::vector<std::string>& values : match.items) {
        Put16(&s, static_cast<uint16_t>(values.size()));
        for (const std::string& v : values) {
          size_t len = v.size() > 65535 ? 65535 : v.size();
          Put16(&s, static_cast<uint16_t>(len));
          s.append(v, 0, len);
        }
      }
      Set32(&s, matchStart + 4, static_cast<uint32_t>(s.size() - matchStart));
    }
    Set32(&s, nameStart + 4, static_cast<uint32_t>(s.size() - nameStart));
  }
  Set32(&s, 4, static_cast<uint32_t>(s.size()));
  return s;
}

const void* NextName(const void* buffer, const void* prev, uint16_t* matchCount) {
  if (matchCount != nullptr) *matchCount = 0;
  const unsigned char* b = static_cast<const unsigned char*>(buffer);
  if (b == nullptr || memcmp(b, kBufferTag, 4) != 0) return nullptr;
  const unsigned char* end = b + Get32(b + 4);
  const unsigned char* p = b + kHeader;
  if (prev != nullptr) {
    const unsigned char* q = static_cast<const unsigned char*>(prev);
    if (q < p) return nullptr;
    uint32_t size = RecordAt(q, end, kNameTag);
    if (size == 0) return nullptr;
    p = q + size;
  }
  if (RecordAt(p, end, kNameTag) == 0) return nullptr;
  if (matchCount != nullptr) *matchCount = Get16(p + 8);
  return p;
}

const void* NextMatch(const void* buffer, const void* name, const void* prev) {
  const unsigned char* b = static_cast<const unsigned char*>(buffer);
  const unsigned char* n = static_cast<const unsigned char*>(name);
  if (b == nullptr || n == nullptr || memcmp(b, kBufferTag, 4) != 0 || n < b + kHeader)
    return nullptr;
  uint32_t nameSize = RecordAt(n, b + Get32(b + 4), kNameTag);
  if (nameSize == 0) return nullptr;
  const unsigned char* end = n + nameSize;
  const unsigned char* p = n + kHeader;
  if (prev != nullptr) {
    const unsigned char* q = static_cast<const unsigned char*>(prev);
    if (q < p) return nullptr;
    uint32_t size = RecordAt(q, end, kMatchTag);
    if (size == 0) return nullptr;
    p = q + size;
  }
  return RecordAt(p, end, kMatchTag) == 0 ? nullptr : p;
}

bool MatchText(const void* match, uint16_t item, uint16_t value, std::string* out) {
  const unsigned char* m = static_cast<const unsigned char*>(match);
  if (m == nullptr || memcmp(m, kMatchTag, 4) != 0) return false;
  uint32_t size = Get32(m + 4);
  if (size < kHeader) return false;
  const unsigned char* end = m + size;
  const unsigned char* p = m + kHeader;
  uint16_t items = Get16(m + 8);
  for (uint16_t i = 0; i < items; ++i) {
    if (end - p < 2) return false;
    uint16_t values = Get16(p);
    p += 2;
    for (uint16_t v = 0; v < values; ++v) {
      if (end - p < 2) return false;
      uint16_t len = Get16(p);
      p += 2;
      if (end - p < len) return false;
      if (i == item && v == value) {
        out->assign(reinterpret_cast<const char*>(p), len);
        return true;
      }
      p += len;
    }
    if (i == item) return false;
  }
  return false;
}

}  // namespace vaxelsim
