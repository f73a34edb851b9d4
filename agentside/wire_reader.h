// The agent side's own reader of the lines a collector sends on the agent link.
//
// It is deliberately independent of the collector's agent link library and
// strict: a line must be exactly one of the collector's message forms (the
// registration, a data response with rows or an error, an event row or event
// error, a task response), written as the collector writes them: one
// top-level element, double-quoted attributes each after one blank, no white
// space or text between elements, numbers as plain signed decimals, values
// escaped.  Anything else is rejected with a message that says what is
// wrong and where.
//
// Thread-safety: pure functions over their arguments.
#ifndef QVD_AGENTSIDE_WIRE_READER_H_
#define QVD_AGENTSIDE_WIRE_READER_H_

#include <string>
#include <utility>
#include <vector>

namespace agentside {

// One decoded collector message.  Texts are decoded (entities replaced).
struct WireMessage {
  enum Kind { kRegistration, kData, kDataError, kEvent, kEventError, kTask };
  Kind kind = kData;
  // kRegistration: the protocol version and the groups with their versions,
  // in the order sent.
  long protocolVersion = 0;
  std::vector<std::pair<std::string, long>> groups;
  // kData, kDataError, kTask: the request id.
  std::string id;
  // kData, kDataError, kEvent, kEventError: the attribute group.
  std::string group;
  // kEvent, kEventError: the subnode attribute, when present.
  bool hasSubnode = false;
  std::string subnode;
  // kDataError, kEventError, kTask: the result code.
  long rc = 0;
  // kData: every row; kEvent: the rows of the event (exactly one when the
  // message is sound; a count other than one is still returned so that the
  // caller can report it).
  std::vector<std::vector<std::string>> rows;
};

// Decodes one line (without its line feed).  Returns true and fills *msg on
// success; otherwise returns false and sets *error to a readable reason
// ("at offset 17: unknown entity &foo;").
bool ReadWireMessage(const std::string& line, WireMessage* msg, std::string* error);

// True when `text` is a number as the protocol writes it: an optional minus
// sign and decimal digits without leading zeros ("0", "-12"; not "007",
// "+1", " 3", "-0").  On success stores the value in *value.
bool ParseWireNumber(const std::string& text, long* value);

}  // namespace agentside

#endif  // QVD_AGENTSIDE_WIRE_READER_H_
