// Outgoing message texts of the agent link.
#include "agentlink/messages.h"

#include <cstring>

#include "framework/trace.h"

QVD_TRACE_UNIT("agentlink/messages");

namespace agentlink {

namespace {

// Replacement of each byte that must be escaped in a row value, or null.
struct EntityTable {
  const char* text[256] = {};
  unsigned char len[256] = {};
  EntityTable() {
    set('&', "&amp;");
    set('\'', "&apos;");
    set('"', "&quot;");
    set('<', "&lt;");
    set('>', "&gt;");
    set('\n', "&#10;");
  }
  void set(char c, const char* e) {
    text[static_cast<unsigned char>(c)] = e;
    len[static_cast<unsigned char>(c)] = static_cast<unsigned char>(std::strlen(e));
  }
};
const EntityTable kEntities;

// Tracks the appends of one builder call: any failed append makes ok()
// false, and rollback() returns the string to its length at the start.
class Builder {
 public:
  explicit Builder(PWX::String* out) : m_out(out), m_start(out->length()) {}

  Builder& add(const char* s, int n) {
    if (m_ok && n > 0) {
      int before = m_out->length();
      m_out->append(s, n);
      m_ok = m_out->length() == before + n;
    }
    return *this;
  }
  Builder& add(const char* s) { return s != nullptr ? add(s, static_cast<int>(std::strlen(s))) : *this; }
  Builder& number(int v) {
    if (m_ok) {
      int before = m_out->length();
      m_out->appendItoa(v);
      m_ok = m_out->length() > before;
    }
    return *this;
  }
  Builder& escaped(const char* v) {
    if (m_ok) m_ok = substituteEntities(v, m_out);
    return *this;
  }
  bool done() {
    if (!m_ok) {
      m_out->copy(m_out->c_str(), m_start);
      QVD_ERROR("malloc failed");
    }
    return m_ok;
  }

 private:
  PWX::String* m_out;
  int m_start;
  bool m_ok = true;
};

}  // namespace

bool substituteEntities(const char* value, PWX::String* escaped) {
  if (value == nullptr) return true;
  size_t plain = std::strcspn(value, "&'\"<>\n");
  int start = escaped->length();
  if (value[plain] == '\0') {
    escaped->append(value, static_cast<int>(plain));
    return escaped->length() == start + static_cast<int>(plain);
  }
  // Some bytes need an entity: size the result once, then append the plain
  // runs and the entities in turn, without an intermediate copy.
  long total = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(value); *p != 0; ++p) {
    total += kEntities.text[*p] != nullptr ? kEntities.len[*p] : 1;
  }
  if (static_cast<long>(escaped->capacity()) <= start + total &&
      !escaped->reserve(static_cast<int>(start + total + 1))) {
    return false;
  }
  const char* p = value;
  for (;;) {
    size_t run = std::strcspn(p, "&'\"<>\n");
    if (run > 0) escaped->append(p, static_cast<int>(run));
    p += run;
    if (*p == '\0') break;
    unsigned char c = static_cast<unsigned char>(*p);
    escaped->append(kEntities.text[c], kEntities.len[c]);
    ++p;
  }
  if (escaped->length() != start + total) {
    escaped->copy(escaped->c_str(), start);
    return false;
  }
  return true;
}

long rowReserveSize(const char** values, int count) {
  long need = 640;
  for (int i = 0; i < count; ++i) {
    if (values != nullptr && values[i] != nullptr) need += static_cast<long>(std::strlen(values[i])) + 18;
  }
  return need;
}

bool buildInstanceXMLSegment(PWX::String* out, const char** values, int count) {
  Builder b(out);
  b.add("<in><al>", 8);
  for (int i = 0; i < count; ++i) {
    b.add("<a v=\"", 6).escaped(values != nullptr ? values[i] : nullptr).add("\"/>", 3);
  }
  b.add("</al></in>", 10);
  return b.done();
}

bool appendRegistrationHead(PWX::String* out) {
  return Builder(out).add("<cpciRegister ver=\"4\"><attrGroupList>").done();
}

bool appendRegistrationGroup(PWX::String* out, const char* name, int version) {
  return Builder(out).add("<attrGroup name=\"").escaped(name).add("\" ver=\"").number(version).add("\"/>").done();
}

bool appendRegistrationTail(PWX::String* out) {
  return Builder(out).add("</attrGroupList></cpciRegister>\n").done();
}

bool appendDataResponseHead(PWX::String* out, const char* id, const char* name) {
  return Builder(out)
      .add("<dataResponse id=\"")
      .escaped(id)
      .add("\"><attrGroup name=\"")
      .escaped(name)
      .add("\">")
      .done();
}

bool appendDataResponseTail(PWX::String* out) {
  return Builder(out).add("</attrGroup></dataResponse>\n").done();
}

bool appendDataError(PWX::String* out, const char* id, const char* name, int rc) {
  return Builder(out)
      .add("<dataResponse id=\"")
      .escaped(id)
      .add("\"><attrGroup name=\"")
      .escaped(name)
      .add("\"><error rc=\"")
      .number(rc)
      .add("\"/></attrGroup></dataResponse>\n")
      .done();
}

bool appendEventHead(PWX::String* out, const char* subnode, const char* name) {
  Builder b(out);
  if (subnode != nullptr) {
    b.add("<pureEvent subnode=\"").escaped(subnode).add("\">");
  } else {
    b.add("<pureEvent>");
  }
  return b.add("<attrGroup name=\"").escaped(name).add("\">").done();
}

bool appendEventTail(PWX::String* out) { return Builder(out).add("</attrGroup></pureEvent>\n").done(); }

bool appendEventError(PWX::String* out, const char* subnode, const char* name, int rc) {
  int start = out->length();
  if (!appendEventHead(out, subnode, name)) return false;
  if (!Builder(out).add("<error rc=\"").number(rc).add("\"/></attrGroup></pureEvent>\n").done()) {
    out->copy(out->c_str(), start);
    return false;
  }
  return true;
}

bool appendTaskResponse(PWX::String* out, const char* id, int rc) {
  return Builder(out).add("<taskResponse id=\"").escaped(id).add("\" rc=\"").number(rc).add("\"/>\n").done();
}

}  // namespace agentlink
