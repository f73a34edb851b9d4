// Callback interface of the agent link's XML parser (see parser.h).
//
// The parser reports the start of each element with its attributes, the end
// of each element, character data between tags, and the first fault.  Every
// callback of this base class does nothing, so a handler overrides only what
// it needs.  Texts handed to callbacks point into the text being parsed and
// stay valid only as long as that text; the attribute map is emptied after
// each start tag, so a handler copies what it keeps during the call.
#ifndef QVD_AGENTLINK_XML_HANDLER_H_
#define QVD_AGENTLINK_XML_HANDLER_H_

class HashMap;

class XMLHandler {
 public:
  virtual ~XMLHandler();

  // `attributes` maps attribute name to value (both char texts); never null.
  virtual void startElement(const char* name, HashMap* attributes);
  virtual void endElement(const char* name);
  virtual void characters(const char* text);
  // Called once, with the parser's fault message, when a parse fails.
  virtual void fatalError(const char* message);

  // Format `format` with one or two text arguments (printf rules; a null
  // argument prints as "(null)") and pass the result to fatalError(message).
  void fatalError(const char* format, const char* a);
  void fatalError(const char* format, const char* a, const char* b);
};

#endif  // QVD_AGENTLINK_XML_HANDLER_H_
