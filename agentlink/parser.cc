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
  while ((kChars.flags[static_cast<unsigned char>(*p)] & flag) == 0) ++p;
  return p;
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

// The smallest table: a tag carries a handful of attributes.
Parser::Parser(XMLHandler* handler) : handler_(handler), attributes_(32) {}

Parser::~Parser() = default;

bool Parser::parse(char* text) {
  char* p = text;
  bool ok = true;
  for (;;) {
    char* lt = *p == '<' ? p : *p != '\0' ? std::strchr(p, '<') : nullptr;
    if (lt == nullptr) {
      // The end of the text (what follows the last tag is ignored).
      if (openElements_.getCount() != 0) {
        if (handler_ != nullptr) {
          handler_->fatalError("Missing end tag for element: %s",
                               static_cast<const char*>(openElements_.peek()));
        }
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
    bool endLike = *q == ' ' || *q == '/' || *q == '>';
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
      if (openElements_.getCount() == 0) {
        if (handler_ != nullptr) handler_->fatalError("Unbalanced end tag found:");
        ok = false;
        break;
      }
      const char* open = static_cast<const char*>(openElements_.pop());
      if (std::strcmp(open, endName) != 0) {
        if (handler_ != nullptr) handler_->fatalError("Mismatched end tag found: %s != %s", endName, open);
        ok = false;
        break;
      }
      if (handler_ != nullptr) handler_->endElement(endName);
      p = e + 1;
    } else if (kind == '>') {
      if (handler_ != nullptr) handler_->startElement(name, &EMPTY_ATTRS);
      openElements_.add(name);
      p = e + 1;
    } else {  // a blank: the attribute list follows
      if (name[0] == '/') {
        if (handler_ != nullptr) handler_->fatalError("Element ending tags cannot have attributes");
        ok = false;
        break;
      }
      bool tagOk = parseAttributes(name, e + 1, &p);
      clearAttributes();
      if (!tagOk) {
        ok = false;
        break;
      }
    }
  }
  openElements_.clear();
  return ok;
}

void Parser::clearAttributes() {
  // Removing the few keys of a tag is cheaper than sweeping every bucket.
  if (keyCount_ > kTrackedKeys) {
    attributes_.clear();
  } else {
    for (int i = 0; i < keyCount_; ++i) attributes_.remove(keys_[i], nullptr);
  }
  keyCount_ = 0;
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
      openElements_.add(name);
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
    char* attrName = p;
    char* eq = ScanTo(p, kAttrNameEnd);
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
    if (!attributes_.put(attrName, value)) {
      keyCount_ = kTrackedKeys + 1;  // not tracked: sweep the whole map
    } else if (keyCount_ < kTrackedKeys) {
      keys_[keyCount_++] = attrName;
    } else {
      ++keyCount_;
    }
    p = close + 1;
  }
}
