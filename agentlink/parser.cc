// XML parser of the agent link: a cursor over the text, no recursion, names
// and values cut in place with zero bytes.
#include "agentlink/parser.h"

#include <cstring>

#include "framework/trace.h"

QVD_TRACE_UNIT("agentlink/parser");

HashMap EMPTY_ATTRS;

namespace {

// Character classes of the scanners: where a tag name, an attribute name
// or an attribute value stops.  Names and values are short, so a table
// lookup per byte beats a library search call.
enum : unsigned char { kNameEnd = 1, kEndNameEnd = 2, kAttrNameEnd = 4, kValueEnd = 8, kValueEntity = 16 };

struct CharTable {
  unsigned char flags[256] = {};
  CharTable() {
    flags[0] = kNameEnd | kEndNameEnd | kAttrNameEnd | kValueEnd;
    flags[static_cast<unsigned char>(' ')] = kNameEnd | kEndNameEnd;
    flags[static_cast<unsigned char>('>')] = kNameEnd | kEndNameEnd;
    flags[static_cast<unsigned char>('/')] = kNameEnd;
    flags[static_cast<unsigned char>('=')] = kAttrNameEnd;
    flags[static_cast<unsigned char>('"')] = kValueEnd;
    flags[static_cast<unsigned char>('&')] = kValueEntity;
  }
};
const CharTable kChars;

// First character at or after p whose class has `flag`; the terminating zero
// always has every flag, so the scan ends there at the latest.
inline char* ScanTo(char* p, unsigned char flag) {
  // Four bytes a round: fewer loop branches on the short runs of a request.
  for (;;) {
    if ((kChars.flags[static_cast<unsigned char>(p[0])] & flag) != 0) return p;
    if ((kChars.flags[static_cast<unsigned char>(p[1])] & flag) != 0) return p + 1;
    if ((kChars.flags[static_cast<unsigned char>(p[2])] & flag) != 0) return p + 2;
    if ((kChars.flags[static_cast<unsigned char>(p[3])] & flag) != 0) return p + 3;
    p += 4;
  }
}

// Value of the digits at p (hexadecimal or decimal) up to the first other
// character, modulo 256: only the low 8 bits of a reference count.
char NumericReference(const char* p, bool hex) {
  unsigned v = 0;
  for (;; ++p) {
    unsigned d;
    char c = *p;
    if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
    else if (hex && c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
    else break;
    v = (v * (hex ? 16u : 10u) + d) & 0xFFu;
  }
  return static_cast<char>(v);
}

}  // namespace

bool replaceEntities(XMLHandler* handler, char* text) {
  char* amp = std::strchr(text, '&');
  if (amp == nullptr) return true;
  // One pass with a read and a write cursor, so a text full of entities
  // costs no more than one without.
  char* w = amp;
  char* r = amp;
  while (*r != '\0') {
    if (*r != '&') {
      *w++ = *r++;
      continue;
    }
    char* semi = std::strchr(r + 1, ';');
    if (semi == nullptr) {
      // No ';' anywhere further on: the rest stays as it is.
      size_t rest = std::strlen(r);
      std::memmove(w, r, rest + 1);
      return true;
    }
    char* name = r + 1;
    size_t len = static_cast<size_t>(semi - name);
    char c;
    if (len == 0) {
      if (handler != nullptr) handler->fatalError("Entity name cannot be empty");
      return false;
    }
    if (len == 2 && name[0] == 'l' && name[1] == 't') {
      c = '<';
    } else if (len == 2 && name[0] == 'g' && name[1] == 't') {
      c = '>';
    } else if (len == 3 && std::memcmp(name, "amp", 3) == 0) {
      c = '&';
    } else if (len == 4 && std::memcmp(name, "quot", 4) == 0) {
      c = '"';
    } else if (len == 4 && std::memcmp(name, "apos", 4) == 0) {
      c = '\'';
    } else if (len < 2 || name[0] != '#') {
      *semi = '\0';
      if (handler != nullptr) handler->fatalError("Unrecognized entity: %s", name);
      return false;
    } else if (name[1] == 'x') {
      c = NumericReference(name + 2, true);
    } else {
      c = NumericReference(name + 1, false);
    }
    *w++ = c;
    r = semi + 1;
    if (c == '\0') return true;  // a reference to code 0 ends the text
  }
  *w = '\0';
  return true;
}

Parser::AttributeMap::AttributeMap() : HashMap(Unallocated{}) {
  storage_.buckets = buckets_;
  storage_.entries = entries_;
  storage_.entryCount = kEntries;
  lendStorage(&storage_, kBuckets);
  changesSeen_ = storage_.changes;
}

Parser::AttributeMap::~AttributeMap() { returnStorage(); }

bool Parser::AttributeMap::add(const char* key, uint32_t hash, const char* value) {
  bool stored = true;
  if (adds_ < kEntries && m_buckets != nullptr && storage_.spare == nullptr && storage_.used < kEntries &&
      m_count < m_threshold) {
    // What put() does, without its calls: a repeated key takes the new
    // value, a new key goes to the head of its chain in the next lent entry
    // (no resize: the count stays within the threshold).
    qvd_internal::HashEntry** head = &m_buckets[hash & static_cast<uint32_t>(m_capacity - 1)];
    qvd_internal::HashEntry* e = *head;
    while (e != nullptr && (e->hash != hash || std::strcmp(e->key, key) != 0)) e = e->next;
    if (e != nullptr) {
      e->data = value;
    } else {
      e = &entries_[storage_.used++];
      e->next = *head;
      e->hash = hash;
      e->key = key;
      e->data = value;
      *head = e;
      ++m_count;
    }
  } else {
    stored = putHashed(key, hash, value);
  }
  if (adds_ < kEntries) hashes_[adds_] = hash;
  ++adds_;
  changesSeen_ = storage_.changes;
  return stored;
}

void Parser::AttributeMap::reset() {
  if (adds_ == 0 && storage_.changes == changesSeen_) return;
  if (storage_.changes == changesSeen_ && adds_ <= kEntries) {
    // Only our own adds, all in lent entries: unhook the chains they used.
    uint32_t mask = static_cast<uint32_t>(m_capacity - 1);
    for (int i = 0; i < adds_; ++i) m_buckets[hashes_[i] & mask] = nullptr;
    m_count = 0;
    storage_.used = 0;
    storage_.spare = nullptr;
  } else {
    clear();  // a handler changed the map, or a tag with many attributes
  }
  adds_ = 0;
  changesSeen_ = storage_.changes;
}

Parser::Parser(XMLHandler* handler) : handler_(handler) {}

Parser::~Parser() = default;

void Parser::push(const char* name) {
  if (depth_ < kInlineDepth) {
    inlineOpen_[depth_++] = name;
  } else if (openElements_.add(name)) {
    ++depth_;
  }
}

const char* Parser::pop() {
  --depth_;
  if (depth_ >= kInlineDepth) return static_cast<const char*>(openElements_.pop());
  return inlineOpen_[depth_];
}

const char* Parser::innermost() const {
  if (depth_ > kInlineDepth) return static_cast<const char*>(openElements_.peek());
  return inlineOpen_[depth_ - 1];
}

bool Parser::parse(char* text) {
  char* p = text;
  bool ok = true;
  for (;;) {
    char* lt = *p == '<' ? p : *p != '\0' ? std::strchr(p, '<') : nullptr;
    if (lt == nullptr) {
      // The end of the text (what follows the last tag is ignored).
      if (depth_ != 0) {
        if (handler_ != nullptr) handler_->fatalError("Missing end tag for element: %s", innermost());
        ok = false;
      }
      break;
    }
    if (lt > p && handler_ != nullptr) {
      *lt = '\0';
      if (!replaceEntities(handler_, p)) {
        ok = false;
        break;
      }
      handler_->characters(p);
    }
    char* q = lt + 1;
    if (q[0] == '!' && q[1] == '-' && q[2] == '-') {
      char* close = std::strstr(q + 3, "-->");
      if (close == nullptr) {
        if (handler_ != nullptr) handler_->fatalError("Unfinished comment found");
        ok = false;
        break;
      }
      p = close + 3;
      continue;
    }
    if (q[0] == '?') {
      char* close = std::strstr(q + 1, "?>");
      if (close == nullptr) {
        if (handler_ != nullptr) handler_->fatalError("Unfinished declaration found");
        ok = false;
        break;
      }
      p = close + 2;
      continue;
    }
    // A tag.  An end tag's name starts with '/', so it may only stop at a
    // blank or '>'.
    char* name = q;
    bool endLike = (kChars.flags[static_cast<unsigned char>(*q)] & kNameEnd) != 0;
    char* e = ScanTo(q, endLike ? kEndNameEnd : kNameEnd);
    if (*e == '\0') {
      if (handler_ != nullptr) handler_->fatalError("Cannot find end of tag");
      ok = false;
      break;
    }
    char kind = *e;
    *e = '\0';
    if (kind == '/') {
      if (e[1] != '>') {
        if (handler_ != nullptr) handler_->fatalError("Incorrect end of tag");
        ok = false;
        break;
      }
      if (handler_ != nullptr) {
        handler_->startElement(name, &EMPTY_ATTRS);
        handler_->endElement(name);
      }
      p = e + 2;
    } else if (kind == '>' && name[0] == '/') {
      const char* endName = name + 1;
      if (depth_ == 0) {
        if (handler_ != nullptr) handler_->fatalError("Unbalanced end tag found:");
        ok = false;
        break;
      }
      const char* open = pop();
      if (std::strcmp(open, endName) != 0) {
        if (handler_ != nullptr) handler_->fatalError("Mismatched end tag found: %s != %s", endName, open);
        ok = false;
        break;
      }
      if (handler_ != nullptr) handler_->endElement(endName);
      p = e + 1;
    } else if (kind == '>') {
      if (handler_ != nullptr) handler_->startElement(name, &EMPTY_ATTRS);
      push(name);
      p = e + 1;
    } else {  // a blank: the attribute list follows
      if (name[0] == '/') {
        if (handler_ != nullptr) handler_->fatalError("Element ending tags cannot have attributes");
        ok = false;
        break;
      }
      bool tagOk = parseAttributes(name, e + 1, &p);
      attributes_.reset();
      if (!tagOk) {
        ok = false;
        break;
      }
    }
  }
  depth_ = 0;
  openElements_.clear();
  return ok;
}

bool Parser::parseAttributes(const char* name, char* p, char** next) {
  for (;;) {
    while (*p == ' ') ++p;
    if (*p == '\0') {
      if (handler_ != nullptr) handler_->fatalError("Cannot find end of tag or start of attribute");
      return false;
    }
    if (*p == '>') {
      if (handler_ != nullptr) handler_->startElement(name, &attributes_);
      push(name);
      *next = p + 1;
      return true;
    }
    if (*p == '/') {
      if (p[1] != '>') {
        if (handler_ != nullptr) handler_->fatalError("Incorrect end of tag found");
        return false;
      }
      if (handler_ != nullptr) {
        handler_->startElement(name, &attributes_);
        handler_->endElement(name);
      }
      *next = p + 2;
      return true;
    }
    // The name runs to '='; its map hash is worked out on the way.
    char* attrName = p;
    char* eq = p;
    uint32_t hash = 5381;
    for (;;) {
      unsigned char c = static_cast<unsigned char>(*eq);
      if ((kChars.flags[c] & kAttrNameEnd) != 0) break;
      hash = hash * 33u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
      ++eq;
    }
    if (*eq == '\0') {
      if (handler_ != nullptr) handler_->fatalError("Cannot find start of attribute value");
      return false;
    }
    *eq = '\0';
    if (eq[1] != '"') {
      if (handler_ != nullptr) handler_->fatalError("Attribute value does not start with quote");
      return false;
    }
    char* value = eq + 2;
    // One pass finds the closing quote and tells whether entities need
    // decoding.
    char* close = value;
    bool entities = false;
    for (;;) {
      close = ScanTo(close, kValueEnd | kValueEntity);
      if (*close != '&') break;
      entities = true;
      ++close;
    }
    if (*close == '\0') {
      if (handler_ != nullptr) handler_->fatalError("Cannot find end of attribute value");
      return false;
    }
    *close = '\0';
    if (entities && !replaceEntities(handler_, value)) return false;
    attributes_.add(attrName, hash, value);
    p = close + 1;
  }
}
