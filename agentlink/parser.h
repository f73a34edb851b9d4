// The agent link's XML parser: one pass over a zero-terminated, writable
// text, in place, for the strict subset of XML the agent sends.
//
// The subset: elements, attributes in double quotes with no blanks around
// '=', only the blank (0x20) between attributes, comments (<!-- -->) and
// declarations (<? ?>) skipped unexamined, no CDATA, names compared as bytes.
// Entities in attribute values and character data are decoded: &lt; &gt;
// &amp; &quot; &apos; and numeric references (&#65; &#x41;; only the low 8
// bits of the number count).
//
// The parser builds no tree: it reports to an XMLHandler (xml_handler.h).
// Names and values handed to callbacks point into the text, which the parser
// cuts with zero bytes; they live as long as the text.  After a fault the
// text is left partly cut and must not be reused.
//
// Thread-safety: a Parser and its text belong to one thread.  Parsers on
// different threads do not interfere.
#ifndef QVD_AGENTLINK_PARSER_H_
#define QVD_AGENTLINK_PARSER_H_

#include "agentlink/hash_map.h"
#include "agentlink/list.h"
#include "agentlink/xml_handler.h"

// The always empty attribute map handed to startElement for elements without
// attributes.  Shared by every parser and never modified.
extern HashMap EMPTY_ATTRS;

class Parser {
 public:
  // `handler` is not owned and may be null: the text is then still checked,
  // but nobody is told anything.
  explicit Parser(XMLHandler* handler);
  ~Parser();
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // Parses the whole text in place.  True when the text was accepted; false
  // at the first fault, after the handler's fatalError was called once with
  // the fault message.  Callbacks made before a fault stand.  Text after the
  // last complete element is ignored.  REQUIRES: text is not null.
  bool parse(char* text);

 private:
  // Reads the attribute list of the start tag `name` from `p`; on success
  // stores the position after the tag in *next.
  bool parseAttributes(const char* name, char* p, char** next);

  // Empties the attribute map after a tag.
  void clearAttributes();

  static constexpr int kTrackedKeys = 16;

  XMLHandler* handler_;
  List openElements_;  // names of open elements, innermost last
  HashMap attributes_;  // attributes of the start tag being read
  const char* keys_[kTrackedKeys];  // names put into attributes_ for this tag
  int keyCount_ = 0;                // how many were put (may exceed kTrackedKeys)
};

// Decodes the entities of a zero-terminated text in place (the text only
// shrinks).  A '&' without a ';' after it stays as it is.  False, after
// reporting the fault to `handler` when there is one, for an empty entity
// name ("Entity name cannot be empty") or an unknown one ("Unrecognized
// entity: %s").  A numeric reference to code 0 ends the text there.
bool replaceEntities(XMLHandler* handler, char* text);

#endif  // QVD_AGENTLINK_PARSER_H_
