#include "agentside/wire_reader.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <initializer_list>

namespace agentside {

namespace {

// A parsed element: the collector's messages carry no text content.
struct Element {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attrs;
  std::vector<Element> children;
  size_t offset = 0;  // where its start tag begins, for messages
  bool selfClosed = false;  // written <x/> rather than <x></x>

  const std::string* Attr(const char* key) const {
    for (const auto& a : attrs)
      if (a.first == key) return &a.second;
    return nullptr;
  }
};

bool IsNameChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.' || c == ':';
}

// Recursive descent over one line.  Nesting in the collector's messages is at
// most five deep; a hostile line is bounded by kMaxDepth.
class LineParser {
 public:
  explicit LineParser(const std::string& s) : s_(s) {}

  bool Parse(Element* root, std::string* error) {
    if (!ParseElement(root, 0)) {
      *error = error_;
      return false;
    }
    if (pos_ != s_.size()) {
      Fail(pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\r')
               ? "white space after the message"
               : "more than one top-level element");
      *error = error_;
      return false;
    }
    return true;
  }

 private:
  static constexpr int kMaxDepth = 16;

  bool Fail(const std::string& what) {
    if (error_.empty()) error_ = "at offset " + std::to_string(pos_) + ": " + what;
    return false;
  }

  bool ParseName(std::string* name) {
    size_t start = pos_;
    while (pos_ < s_.size() && IsNameChar(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    if (pos_ == start) return Fail("a name was expected");
    name->assign(s_, start, pos_ - start);
    return true;
  }

  // Decodes one entity starting at '&' and appends its character(s).
  bool ParseEntity(std::string* out) {
    size_t semi = s_.find(';', pos_);
    if (semi == std::string::npos || semi - pos_ > 12) return Fail("'&' that starts no entity");
    std::string ent = s_.substr(pos_ + 1, semi - pos_ - 1);
    if (ent == "amp") out->push_back('&');
    else if (ent == "lt") out->push_back('<');
    else if (ent == "gt") out->push_back('>');
    else if (ent == "quot") out->push_back('"');
    else if (ent == "apos") out->push_back('\'');
    else if (ent.size() > 1 && ent[0] == '#') {
      bool hex = ent[1] == 'x' || ent[1] == 'X';
      std::string digits = ent.substr(hex ? 2 : 1);
      if (digits.empty()) return Fail("empty character reference");
      for (char c : digits)
        if (!(hex ? isxdigit(static_cast<unsigned char>(c)) : isdigit(static_cast<unsigned char>(c))))
          return Fail("bad character reference &" + ent + ";");
      unsigned long cp = std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
      if (cp == 0 || cp > 0x10FFFF) return Fail("character reference out of range &" + ent + ";");
      AppendUtf8(cp, out);
    } else {
      return Fail("unknown entity &" + ent + ";");
    }
    pos_ = semi + 1;
    return true;
  }

  static void AppendUtf8(unsigned long cp, std::string* out) {
    if (cp < 0x80) {
      out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }

  bool ParseAttrValue(std::string* value) {
    if (pos_ >= s_.size() || s_[pos_] != '"') return Fail("attribute value must be in double quotes");
    ++pos_;
    for (;;) {
      if (pos_ >= s_.size()) return Fail("attribute value not closed");
      char c = s_[pos_];
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c == '&') {
        if (!ParseEntity(value)) return false;
        continue;
      }
      if (c == '<') return Fail("unescaped '<' in an attribute value");
      if (c == '>') return Fail("unescaped '>' in an attribute value");
      if (c == '\'') return Fail("unescaped apostrophe in an attribute value");
      if (c == '\n' || c == '\r') return Fail("line break in an attribute value");
      value->push_back(c);
      ++pos_;
    }
  }

  bool ParseElement(Element* el, int depth) {
    if (depth > kMaxDepth) return Fail("elements nested too deep");
    if (pos_ >= s_.size()) return Fail("an element was expected, the line ended");
    if (s_[pos_] != '<') {
      return Fail(s_[pos_] == ' ' || s_[pos_] == '\t' ? "white space between elements"
                                                      : "text where an element was expected");
    }
    el->offset = pos_;
    ++pos_;
    if (pos_ < s_.size() && (s_[pos_] == '?' || s_[pos_] == '!'))
      return Fail("declarations, comments and CDATA are not part of the protocol");
    if (!ParseName(&el->name)) return false;
    for (;;) {
      if (pos_ >= s_.size()) return Fail("start tag not closed");
      if (s_.compare(pos_, 2, "/>") == 0) {
        pos_ += 2;
        el->selfClosed = true;
        return true;
      }
      if (s_[pos_] == '>') {
        ++pos_;
        break;
      }
      if (s_[pos_] != ' ') return Fail("one blank expected before an attribute");
      ++pos_;
      std::pair<std::string, std::string> attr;
      if (!ParseName(&attr.first)) return false;
      if (pos_ >= s_.size() || s_[pos_] != '=') return Fail("'=' expected after attribute " + attr.first);
      ++pos_;
      if (!ParseAttrValue(&attr.second)) return false;
      if (el->Attr(attr.first.c_str())) return Fail("attribute " + attr.first + " given twice");
      el->attrs.push_back(std::move(attr));
    }
    // Content: child elements only, then the end tag.
    for (;;) {
      if (pos_ >= s_.size()) return Fail("element <" + el->name + "> not closed");
      if (s_.compare(pos_, 2, "</") == 0) {
        pos_ += 2;
        std::string name;
        if (!ParseName(&name)) return false;
        if (name != el->name) return Fail("end tag </" + name + "> does not close <" + el->name + ">");
        if (pos_ >= s_.size() || s_[pos_] != '>') return Fail("end tag not closed");
        ++pos_;
        return true;
      }
      el->children.emplace_back();
      if (!ParseElement(&el->children.back(), depth + 1)) return false;
    }
  }

  const std::string& s_;
  size_t pos_ = 0;
  std::string error_;
};

// Interpretation of the element tree as one of the collector's messages.
class Interpreter {
 public:
  explicit Interpreter(std::string* error) : error_(error) {}

  bool Fail(const Element& el, const std::string& what) {
    *error_ = "at offset " + std::to_string(el.offset) + ": " + what;
    return false;
  }

  // Every attribute of `el` must be in `allowed`; the required ones present.
  bool CheckAttrs(const Element& el, std::initializer_list<const char*> required,
                  std::initializer_list<const char*> optional = {}) {
    for (const auto& a : el.attrs) {
      bool known = false;
      for (const char* k : required) known = known || a.first == k;
      for (const char* k : optional) known = known || a.first == k;
      if (!known) return Fail(el, "unexpected attribute " + a.first + " on <" + el.name + ">");
    }
    for (const char* k : required)
      if (!el.Attr(k)) return Fail(el, "<" + el.name + "> lacks attribute " + k);
    return true;
  }

  bool Number(const Element& el, const char* attr, long* value) {
    const std::string* text = el.Attr(attr);
    if (!ParseWireNumber(*text, value))
      return Fail(el, std::string(attr) + "=\"" + *text + "\" is not a plain decimal number");
    return true;
  }

  // The collector writes leaves as <x/> and containers as <x>...</x>, even
  // when empty.
  bool Leaf(const Element& el) {
    if (!el.selfClosed) return Fail(el, "<" + el.name + "> must be written as an empty-element tag");
    return true;
  }

  bool Container(const Element& el) {
    if (el.selfClosed) return Fail(el, "<" + el.name + "/> must be written with an end tag");
    return true;
  }

  bool Row(const Element& in, std::vector<std::string>* row) {
    if (!CheckAttrs(in, {}) || !Container(in)) return false;
    if (in.children.size() != 1 || in.children[0].name != "al")
      return Fail(in, "<in> must hold exactly one <al>");
    const Element& al = in.children[0];
    if (!CheckAttrs(al, {}) || !Container(al)) return false;
    for (const Element& a : al.children) {
      if (a.name != "a") return Fail(a, "<al> may hold only <a> elements, not <" + a.name + ">");
      if (!CheckAttrs(a, {"v"}) || !Leaf(a)) return false;
      row->push_back(*a.Attr("v"));
    }
    return true;
  }

  // The attrGroup element of a data response or an event: rows or one error.
  bool GroupBody(const Element& ag, WireMessage* msg, WireMessage::Kind rowsKind,
                 WireMessage::Kind errorKind) {
    if (!CheckAttrs(ag, {"name"}) || !Container(ag)) return false;
    msg->group = *ag.Attr("name");
    msg->kind = rowsKind;
    if (ag.children.size() == 1 && ag.children[0].name == "error") {
      const Element& err = ag.children[0];
      if (!CheckAttrs(err, {"rc"}) || !Leaf(err) || !Number(err, "rc", &msg->rc)) return false;
      msg->kind = errorKind;
      return true;
    }
    for (const Element& in : ag.children) {
      if (in.name == "error") return Fail(in, "<error> must be alone in <attrGroup>");
      if (in.name != "in") return Fail(in, "<attrGroup> may hold only <in> rows or one <error>, not <" + in.name + ">");
      msg->rows.emplace_back();
      if (!Row(in, &msg->rows.back())) return false;
    }
    return true;
  }

  bool SingleAttrGroup(const Element& el) {
    if (!Container(el)) return false;
    if (el.children.size() != 1 || el.children[0].name != "attrGroup")
      return Fail(el, "<" + el.name + "> must hold exactly one <attrGroup>");
    return true;
  }

  bool Interpret(const Element& root, WireMessage* msg) {
    if (root.name == "cpciRegister") {
      msg->kind = WireMessage::kRegistration;
      if (!CheckAttrs(root, {"ver"}) || !Number(root, "ver", &msg->protocolVersion)) return false;
      if (!Container(root)) return false;
      if (root.children.size() != 1 || root.children[0].name != "attrGroupList")
        return Fail(root, "<cpciRegister> must hold exactly one <attrGroupList>");
      const Element& list = root.children[0];
      if (!CheckAttrs(list, {}) || !Container(list)) return false;
      for (const Element& g : list.children) {
        if (g.name != "attrGroup") return Fail(g, "<attrGroupList> may hold only <attrGroup>, not <" + g.name + ">");
        long ver = 0;
        if (!CheckAttrs(g, {"name", "ver"}) || !Leaf(g) || !Number(g, "ver", &ver)) return false;
        msg->groups.emplace_back(*g.Attr("name"), ver);
      }
      return true;
    }
    if (root.name == "dataResponse") {
      if (!CheckAttrs(root, {"id"}) || !SingleAttrGroup(root)) return false;
      msg->id = *root.Attr("id");
      return GroupBody(root.children[0], msg, WireMessage::kData, WireMessage::kDataError);
    }
    if (root.name == "pureEvent") {
      if (!CheckAttrs(root, {}, {"subnode"}) || !SingleAttrGroup(root)) return false;
      if (const std::string* sn = root.Attr("subnode")) {
        msg->hasSubnode = true;
        msg->subnode = *sn;
      }
      return GroupBody(root.children[0], msg, WireMessage::kEvent, WireMessage::kEventError);
    }
    if (root.name == "taskResponse") {
      msg->kind = WireMessage::kTask;
      if (!CheckAttrs(root, {"id", "rc"}) || !Leaf(root) || !Number(root, "rc", &msg->rc)) return false;
      msg->id = *root.Attr("id");
      return true;
    }
    return Fail(root, "<" + root.name + "> is not a message a collector sends");
  }

 private:
  std::string* error_;
};

}  // namespace

bool ParseWireNumber(const std::string& text, long* value) {
  size_t i = 0;
  if (!text.empty() && text[0] == '-') i = 1;
  if (i == text.size()) return false;
  for (size_t j = i; j < text.size(); ++j)
    if (text[j] < '0' || text[j] > '9') return false;
  if (text[i] == '0' && (text.size() - i > 1 || i == 1)) return false;  // leading zero or "-0"
  if (text.size() - i > 18) return false;
  errno = 0;
  *value = std::strtol(text.c_str(), nullptr, 10);
  return errno == 0;
}

bool ReadWireMessage(const std::string& line, WireMessage* msg, std::string* error) {
  *msg = WireMessage();
  error->clear();
  Element root;
  LineParser parser(line);
  if (!parser.Parse(&root, error)) return false;
  Interpreter interp(error);
  return interp.Interpret(root, msg);
}

}  // namespace agentside
