#include "sim/formula.h"

#include <strings.h>

#include <cstring>

#include "sim/item_values.h"

namespace vaxelsim {

namespace {

class Reader {
 public:
  Reader(const char* text, size_t length) : p_(text), n_(length) {}
  void Blanks() {
    while (i_ < n_ && (p_[i_] == ' ' || p_[i_] == '\t' || p_[i_] == '\r' || p_[i_] == '\n')) ++i_;
  }
  // Consumes `word` (ignoring case) when it stands next.
  bool Word(const char* word) {
    Blanks();
    size_t len = strlen(word);
    if (n_ - i_ < len || strncasecmp(p_ + i_, word, len) != 0) return false;
    i_ += len;
    return true;
  }
  // A text in double quotes; \" and \\ stand for themselves.
  bool Quoted(std::string* out) {
    Blanks();
    if (i_ >= n_ || p_[i_] != '"') return false;
    out->clear();
    for (size_t j = i_ + 1; j < n_; ++j) {
      if (p_[j] == '\\' && j + 1 < n_) {
        *out += p_[++j];
      } else if (p_[j] == '"') {
        i_ = j + 1;
        return true;
      } else {
        *out += p_[j];
      }
    }
    return false;
  }
  bool AtEnd() {
    Blanks();
    if (i_ < n_ && p_[i_] == ';') ++i_;
    Blanks();
    return i_ >= n_ || p_[i_] == '\0';
  }
  size_t at() const { return i_; }

 private:
  const char* p_;
  size_t n_;
  size_t i_ = 0;
};

}  // namespace

bool Selection::Selects(const Document& doc) const {
  if (all) return true;
  const Item* form = FindItem(doc.items, "Form", 4);
  std::vector<std::string> texts;
  if (form == nullptr || !TextsOf(form->value, &texts)) return false;
  for (const std::string& t : texts)
    for (const std::string& f : forms)
      if (t == f) return true;
  return false;
}

bool ParseSelection(const char* text, size_t length, Selection* out, size_t* errorOffset) {
  Reader r(text, length);
  Selection sel;
  bool ok = false;
  if (r.Word("SELECT")) {
    if (r.Word("@All")) {
      ok = r.AtEnd();
    } else if (r.Word("FORM") && r.Word("=")) {
      sel.all = false;
      std::string form;
      ok = r.Quoted(&form);
      while (ok) {
        sel.forms.push_back(form);
        if (!r.Word(":")) break;
        ok = r.Quoted(&form);
      }
      ok = ok && r.AtEnd();
    }
  }
  if (!ok) {
    if (errorOffset != nullptr) *errorOffset = r.at();
    return false;
  }
  *out = sel;
  return true;
}

}  // namespace vaxelsim
