// Decoding of one agent request line into flags and owned texts.
#include "agentlink/client_request_handler.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "agentlink/hash_map.h"
#include "framework/trace.h"

QVD_TRACE_UNIT("agentlink/request_handler");

namespace {

// Heap copy of s, or null for null (or when memory is short: the field then
// reads as absent, which every reader handles).
char* Dup(const char* s) {
  if (s == nullptr) return nullptr;
  char* c = strdup(s);
  if (c == nullptr) QVD_ERROR("malloc failed");
  return c;
}

// Replaces an owned text field by a copy of `value`, when there is one.
void Store(char** field, const char* value) {
  if (value == nullptr) return;
  std::free(*field);
  *field = Dup(value);
}

const char* Attr(HashMap* attributes, const char* name) {
  return static_cast<const char*>(attributes->get(name));
}

// The elements the handler knows.
enum class Element { kDataRequest, kTaskRequest, kAttrGroup, kTask, kStartRequestInfo, kStopRequestInfo,
                     kRequestInfo, kShutdown, kOther };

// Which element `name` is (exact comparison); the first letter narrows the
// candidates to one or two.
Element ElementOf(const char* name) {
  auto is = [name](const char* known) { return std::strcmp(name, known) == 0; };
  switch (name[0]) {
    case 'd':
      if (is("dataRequest")) return Element::kDataRequest;
      break;
    case 't':
      if (is("taskRequest")) return Element::kTaskRequest;
      if (is("task")) return Element::kTask;
      break;
    case 'a':
      if (is("attrGroup")) return Element::kAttrGroup;
      break;
    case 's':
      if (is("startRequestInfo")) return Element::kStartRequestInfo;
      if (is("stopRequestInfo")) return Element::kStopRequestInfo;
      if (is("shutdown")) return Element::kShutdown;
      break;
    case 'r':
      if (is("requestInfo")) return Element::kRequestInfo;
      break;
    default:
      break;
  }
  return Element::kOther;
}

}  // namespace

void freeRequestInfoChain(RequestInfo* head) {
  while (head != nullptr) {
    RequestInfo* next = head->next;
    std::free(head->name);
    std::free(head->value);
    std::free(head->op);
    std::free(head->logOp);
    std::free(head);
    head = next;
  }
}

ClientRequestXMLHandler::~ClientRequestXMLHandler() {
  std::free(attrGroup_);
  std::free(taskCommand_);
  std::free(id_);
  std::free(requestStartedID_);
  std::free(subnode_);
  std::free(taskUser_);
  freeRequestInfoChain(requestInfoHead_);
}

void ClientRequestXMLHandler::startElement(const char* name, HashMap* attributes) {
  Store(&subnode_, Attr(attributes, "subnode"));

  const Element element = ElementOf(name);
  if (element == Element::kDataRequest) {
    dataRequest_ = true;
    const char* id = Attr(attributes, "id");
    if (id == nullptr) QVD_DETAIL("id is null");
    Store(&id_, id);
    const char* started = Attr(attributes, "requestStartedID");
    if (started == nullptr) QVD_DETAIL("requestStartedID is null");
    Store(&requestStartedID_, started);
  } else if (element == Element::kTaskRequest) {
    QVD_DETAIL("received task request");
    taskRequest_ = true;
    const char* id = Attr(attributes, "id");
    if (id == nullptr) QVD_DETAIL("id is null");
    Store(&id_, id);
  } else if (element == Element::kAttrGroup) {
    Store(&attrGroup_, Attr(attributes, "name"));
  } else if (element == Element::kTask) {
    Store(&taskCommand_, Attr(attributes, "command"));
    Store(&taskUser_, Attr(attributes, "user"));
  } else if (element == Element::kStartRequestInfo) {
    QVD_DETAIL("request started");
    requestStarted_ = true;
    const char* started = Attr(attributes, "requestStartedID");
    if (started == nullptr) QVD_DETAIL("request started - requestStartedID is null");
    Store(&requestStartedID_, started);
    Store(&attrGroup_, Attr(attributes, "ag"));
  } else if (element == Element::kStopRequestInfo) {
    QVD_DETAIL("request stopped");
    requestStopped_ = true;
    Store(&requestStartedID_, Attr(attributes, "requestStartedID"));
    Store(&attrGroup_, Attr(attributes, "ag"));
    const char* going = Attr(attributes, "shuttingDown");
    shuttingDown_ = going != nullptr && strcasecmp(going, "TRUE") == 0;
  } else if (element == Element::kRequestInfo) {
    QVD_DETAIL("request filter info");
    const char* infoName = Attr(attributes, "name");
    const char* infoValue = Attr(attributes, "value");
    if (infoName == nullptr) QVD_DETAIL("request filter info - name is null");
    if (infoValue == nullptr) QVD_DETAIL("request filter info - value is null");
    auto* info = static_cast<RequestInfo*>(std::calloc(1, sizeof(RequestInfo)));
    if (info == nullptr) {
      QVD_ERROR("malloc failed");
      return;
    }
    info->name = Dup(infoName);
    info->value = Dup(infoValue);
    info->op = Dup(Attr(attributes, "op"));
    info->logOp = Dup(Attr(attributes, "logOp"));
    if (requestInfoTail_ == nullptr) {
      requestInfoHead_ = info;
    } else {
      requestInfoTail_->next = info;
    }
    requestInfoTail_ = info;
    QVD_DETAIL("received requestInfo %s, val %s", infoName != nullptr ? infoName : "(null)",
               infoValue != nullptr ? infoValue : "(null)");
  } else if (element == Element::kShutdown) {
    shutdown_ = true;
    shuttingDown_ = true;
  } else {
    QVD_DETAIL("unknown element:<%s>", name);
  }
}

void ClientRequestXMLHandler::endElement(const char*) {}

void ClientRequestXMLHandler::fatalError(const char* message) {
  QVD_ERROR("Client request parse error found: %s\n", message);
}
