// The text of every message the collector sends to the agent.  Each builder
// appends to a PWX::String and returns false when the string could not hold
// the text (memory short); the string is then back at its length before the
// call, so a half-built message is never left behind.
//
// Framing: every message is one top-level element without an XML
// declaration or line feeds inside, followed by one line feed.  Every text
// a message carries (row values, group names, request ids, subnodes) is
// escaped (& ' " < > and line feed), so a message stays one well-formed
// line whatever the agent sent.
//
// Thread-safety: pure functions over the caller's string.
#ifndef QVD_AGENTLINK_MESSAGES_H_
#define QVD_AGENTLINK_MESSAGES_H_

#include "agentlink/pwx_string.h"

namespace agentlink {

// Appends `value` with & ' " < > and line feed replaced by &amp; &apos;
// &quot; &lt; &gt; &#10;.  A value without them is appended as it stands.
// Null appends nothing.
bool substituteEntities(const char* value, PWX::String* escaped);

// <in><al><a v="V1"/>...</al></in>: one row of `count` escaped values (a null
// value is an empty one).
bool buildInstanceXMLSegment(PWX::String* out, const char** values, int count);

// Room a row needs on top of the current length: 640 + (length + 18) for
// every value that is not null.
long rowReserveSize(const char** values, int count);

// <cpciRegister ver="4"><attrGroupList>
bool appendRegistrationHead(PWX::String* out);
// <attrGroup name="NAME" ver="VERSION"/>
bool appendRegistrationGroup(PWX::String* out, const char* name, int version);
// </attrGroupList></cpciRegister> and a line feed
bool appendRegistrationTail(PWX::String* out);

// <dataResponse id="ID"><attrGroup name="NAME">
bool appendDataResponseHead(PWX::String* out, const char* id, const char* name);
// </attrGroup></dataResponse> and a line feed
bool appendDataResponseTail(PWX::String* out);
// The whole data error message with its line feed.
bool appendDataError(PWX::String* out, const char* id, const char* name, int rc);

// <pureEvent> or <pureEvent subnode="SUBNODE">, then <attrGroup name="NAME">
bool appendEventHead(PWX::String* out, const char* subnode, const char* name);
// </attrGroup></pureEvent> and a line feed
bool appendEventTail(PWX::String* out);
// The whole event error message with its line feed.
bool appendEventError(PWX::String* out, const char* subnode, const char* name, int rc);

// <taskResponse id="ID" rc="RC"/> and a line feed
bool appendTaskResponse(PWX::String* out, const char* id, int rc);

}  // namespace agentlink

#endif  // QVD_AGENTLINK_MESSAGES_H_
