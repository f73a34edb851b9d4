#include "sim/item_values.h"

#include <strings.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vaxelsim {

namespace {

void Put16(std::string* out, uint16_t v) { out->append(reinterpret_cast<const char*>(&v), 2); }

uint16_t Get16(const std::string& s, size_t at) {
  uint16_t v;
  memcpy(&v, s.data() + at, 2);
  return v;
}

// Length of the UTF-8 sequence starting at p (at most `left` bytes), or 0
// when it is not a valid one.
size_t Utf8Length(const unsigned char* p, size_t left) {
  unsigned char c = p[0];
  size_t n;
  uint32_t cp;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) {
    n = 2;
    cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3;
    cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (n > left) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string TextValue(const std::string& text) {
  std::string v;
  Put16(&v, VX_TYPE_TEXT);
  v += text;
  return v;
}

std::string TextListValue(const std::vector<std::string>& entries) {
  std::string v;
  Put16(&v, VX_TYPE_TEXT_LIST);
  Put16(&v, static_cast<uint16_t>(entries.size()));
  for (const std::string& e : entries) Put16(&v, static_cast<uint16_t>(e.size()));
  for (const std::string& e : entries) v += e;
  return v;
}

std::string NumberValue(double number) {
  std::string v;
  Put16(&v, VX_TYPE_NUMBER);
  v.append(reinterpret_cast<const char*>(&number), 8);
  return v;
}

std::string TimeValue(int64_t ticks) {
  std::string v;
  Put16(&v, VX_TYPE_TIME);
  VxTimeDate t = TimeOf(ticks);
  v.append(reinterpret_cast<const char*>(&t), 8);
  return v;
}

const Item* FindItem(const std::vector<Item>& items, const char* name, size_t length) {
  if (name == nullptr) return nullptr;
  for (const Item& item : items)
    if (item.name.size() == length && strncasecmp(item.name.data(), name, length) == 0)
      return &item;
  return nullptr;
}

bool TextsOf(const std::string& value, std::vector<std::string>* out) {
  out->clear();
  if (value.size() < 2) return false;
  uint16_t type = Get16(value, 0);
  if (type == VX_TYPE_TEXT) {
    out->push_back(value.substr(2));
    return true;
  }
  if (type != VX_TYPE_TEXT_LIST || value.size() < 4) return false;
  uint16_t count = Get16(value, 2);
  size_t offset = 4u + 2u * count;
  if (offset > value.size()) return false;
  for (uint16_t i = 0; i < count; ++i) {
    uint16_t len = Get16(value, 4 + 2 * i);
    if (offset + len > value.size()) return false;
    out->push_back(value.substr(offset, len));
    offset += len;
  }
  return true;
}

std::string SummaryTable(const std::vector<Item>& items) {
  std::vector<const Item*> kept;
  size_t total = 4;
  for (const Item& item : items) {
    size_t need = 4 + item.name.size() + item.value.size();
    if (item.name.size() > 65535 || item.value.size() > 65535 || total + need > 65535) continue;
    total += need;
    kept.push_back(&item);
  }
  std::string s;
  s.reserve(total);
  Put16(&s, static_cast<uint16_t>(total));
  Put16(&s, static_cast<uint16_t>(kept.size()));
  for (const Item* item : kept) {
    Put16(&s, static_cast<uint16_t>(item->name.size()));
    Put16(&s, static_cast<uint16_t>(item->value.size()));
  }
  for (const Item* item : kept) {
    s += item->name;
    s += item->value;
  }
  return s;
}

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  for (size_t i = 0; i < n;) {
    unsigned char c = p[i];
    char esc[8];
    switch (c) {
      case '"': out += "\\\""; ++i; continue;
      case '\\': out += "\\\\"; ++i; continue;
      case '\n': out += "\\n"; ++i; continue;
      case '\r': out += "\\r"; ++i; continue;
      case '\t': out += "\\t"; ++i; continue;
      default: break;
    }
    if (c < 0x20) {
      snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
      ++i;
      continue;
    }
    size_t len = Utf8Length(p + i, n - i);
    if (len == 0) {  // not UTF-8: the byte as a Latin-1 character
      snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
      ++i;
      continue;
    }
    out.append(text, i, len);
    i += len;
  }
  out += '"';
  return out;
}

std::string ItemsJson(const std::vector<Item>& items, const TextStyle& style) {
  std::string out = "{";
  bool first = true;
  for (const Item& item : items) {
    if (!first) out += ", ";
    first = false;
    out += JsonText(item.name);
    out += ": ";
    uint16_t type = item.value.size() >= 2 ? Get16(item.value, 0) : 0;
    std::vector<std::string> texts;
    if (type == VX_TYPE_TEXT && TextsOf(item.value, &texts)) {
      out += JsonText(texts[0]);
    } else if (type == VX_TYPE_TEXT_LIST && TextsOf(item.value, &texts)) {
      out += '[';
      for (size_t i = 0; i < texts.size(); ++i) {
        if (i > 0) out += ", ";
        out += JsonText(texts[i]);
      }
      out += ']';
    } else if (type == VX_TYPE_NUMBER && item.value.size() >= 10) {
      double d;
      memcpy(&d, item.value.data() + 2, 8);
      char buf[64];
      if (std::isfinite(d)) {
        snprintf(buf, sizeof buf, "%.15g", d);  // the shortest form that reads back
        if (strtod(buf, nullptr) != d) snprintf(buf, sizeof buf, "%.17g", d);
      } else
        snprintf(buf, sizeof buf, "null");
      out += "{\"number\": ";
      out += buf;
      out += '}';
    } else if (type == VX_TYPE_TIME && item.value.size() >= 10) {
      VxTimeDate t;
      memcpy(&t, item.value.data() + 2, 8);
      out += "{\"time\": ";
      out += JsonText(FormatTime(TicksOf(t), style, VX_TFMT_DATE_TIME));
      out += '}';
    } else {
      out += "null";
    }
  }
  out += '}';
  return out;
}

uint16_t Item::Type() const { return value.size() >= 2 ? Get16(value, 0) : 0; }

}  // namespace vaxelsim
