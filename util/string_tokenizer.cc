// StringTokenizer: delimiter-set tokenizer over QVD::String.
#include "util/string_tokenizer.h"

StringTokenizer::StringTokenizer(const char* text, const char* delimiters)
    : m_token(0), m_rest(text), m_delimiters(delimiters) {
  // Tokens are never longer than the text: one buffer of that size now means
  // next() needs no memory later.
  if (!m_token.reserve(m_rest.length())) m_rest.copy("");
}

StringTokenizer::~StringTokenizer() {}

const char* StringTokenizer::next() {
  int pos = m_rest.findFirstOf(m_delimiters, 0);
  if (pos >= 0) {
    m_token.copy(m_rest.c_str(), pos);
    // The rest moves down within its own buffer.
    m_rest.copy(m_rest.c_str() + pos + 1);
    return m_token.c_str();
  }
  if (m_rest.length() == 0) return nullptr;
  m_token.copy(m_rest.c_str());
  m_rest.copy("");
  return m_token.c_str();
}
