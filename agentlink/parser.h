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

#include <cstdint>

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
  // The attribute map of the tag being read: to a handler an ordinary
  // HashMap of the default size, but its bucket array and first entries
  // live inside the parser, so a message costs no heap allocation.
  class AttributeMap : public HashMap {
   public:
    AttributeMap();
    ~AttributeMap() override;
    // put() of a key whose hash_function value the scanner already has.
    bool add(const char* key, uint32_t hash, const char* value);
    // Empties the map after a tag.  When nothing but add() changed it, only
    // the buckets used are reset; otherwise it is cleared in full.
    void reset();

   private:
    static constexpr int kBuckets = 64;  // the default size of a HashMap
    static constexpr int kEntries = 16;  // a tag carries a handful
    qvd_internal::HashStorage storage_;
    qvd_internal::HashEntry* buckets_[kBuckets] = {};
    qvd_internal::HashEntry entries_[kEntries];
    uint32_t hashes_[kEntries];  // hashes of the keys added, for reset()
    int adds_ = 0;
    uint32_t changesSeen_ = 0;  // storage_.changes after the last add()
  };

  // Reads the attribute list of the start tag `name` from `p`; on success
  // stores the position after the tag in *next.
  bool parseAttributes(const char* name, char* p, char** next);

  // The stack of open elements; the first kInlineDepth live in the parser.
  void push(const char* name);
  const char* pop();
  const char* innermost() const;

  static constexpr int kInlineDepth = 16;

  XMLHandler* handler_;
  int depth_ = 0;                          // open elements
  const char* inlineOpen_[kInlineDepth];   // names of the outer ones
  List openElements_;                      // names of deeper ones
  AttributeMap attributes_;                // attributes of the start tag being read
};

// Decodes the entities of a zero-terminated text in place (the text only
// shrinks).  A '&' without a ';' after it stays as it is.  False, after
// reporting the fault to `handler` when there is one, for an empty entity
// name ("Entity name cannot be empty") or an unknown one ("Unrecognized
// entity: %s").  A numeric reference to code 0 ends the text there.
bool replaceEntities(XMLHandler* handler, char* text);

#endif  // QVD_AGENTLINK_PARSER_H_
