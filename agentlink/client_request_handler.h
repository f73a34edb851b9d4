// Decoder of one incoming agent message: a parser handler that turns the
// elements of a request line into flags and values.
//
// Each start tag is looked at by itself, whatever its nesting or order:
//   dataRequest (id, requestStartedID), taskRequest (id), attrGroup (name),
//   task (command, user), startRequestInfo (ag, requestStartedID),
//   stopRequestInfo (ag, requestStartedID, shuttingDown), requestInfo (name,
//   value, op, logOp), shutdown; `subnode` on any element.
// When a text is set twice, the last occurrence wins.  Parse faults are only
// traced; what was decoded before the fault stays readable.
//
// Every text is a heap copy owned by the handler and freed with it; callers
// copy what they keep.  A handler belongs to one thread.
#ifndef QVD_AGENTLINK_CLIENT_REQUEST_HANDLER_H_
#define QVD_AGENTLINK_CLIENT_REQUEST_HANDLER_H_

#include "agentlink/cp_client.h"
#include "agentlink/xml_handler.h"

class ClientRequestXMLHandler : public XMLHandler {
 public:
  ClientRequestXMLHandler() = default;
  ~ClientRequestXMLHandler() override;
  ClientRequestXMLHandler(const ClientRequestXMLHandler&) = delete;
  ClientRequestXMLHandler& operator=(const ClientRequestXMLHandler&) = delete;

  void startElement(const char* name, HashMap* attributes) override;
  void endElement(const char* name) override;
  // Traces "Client request parse error found: %s"; clears nothing.
  void fatalError(const char* message) override;
  using XMLHandler::fatalError;

  // Texts: null when the message did not carry them.
  const char* getAttrGroup() const { return attrGroup_; }
  const char* getTaskRequest() const { return taskCommand_; }
  const char* getTaskRequestUser() const { return taskUser_; }
  const char* getId() const { return id_; }
  const char* getRequestStartedID() const { return requestStartedID_; }
  const char* getSubnode() const { return subnode_; }
  // The filter conditions in document order; name or value may be null.
  const RequestInfo* getRequestInfoHead() const { return requestInfoHead_; }

  bool isDataRequest() const { return dataRequest_; }
  bool isTaskRequest() const { return taskRequest_; }
  bool isRequestStartedRequest() const { return requestStarted_; }
  bool isRequestStoppedRequest() const { return requestStopped_; }
  bool isShutdownRequest() const { return shutdown_; }
  // True for a shutdown element, or a stopRequestInfo whose shuttingDown is
  // "TRUE" in any letter case.
  bool isShuttingDown() const { return shuttingDown_; }

 private:
  char* attrGroup_ = nullptr;
  char* taskCommand_ = nullptr;
  char* id_ = nullptr;
  char* requestStartedID_ = nullptr;
  char* subnode_ = nullptr;
  RequestInfo* requestInfoHead_ = nullptr;
  RequestInfo* requestInfoTail_ = nullptr;
  bool dataRequest_ = false;
  bool taskRequest_ = false;
  bool requestStarted_ = false;
  bool requestStopped_ = false;
  bool shuttingDown_ = false;
  bool shutdown_ = false;
  char* taskUser_ = nullptr;
};

// Frees a RequestInfo chain with all its texts.  Null does nothing.
void freeRequestInfoChain(RequestInfo* head);

#endif  // QVD_AGENTLINK_CLIENT_REQUEST_HANDLER_H_
