#include "agentside/wire_writer.h"

namespace agentside {

namespace {

void Attr(std::string* out, const char* name, const std::string& value) {
  *out += ' ';
  *out += name;
  *out += "=\"";
  *out += EscapeAttr(value);
  *out += '"';
}

void OptAttr(std::string* out, const char* name, const std::optional<std::string>& value) {
  if (value) Attr(out, name, *value);
}

void InfoElements(std::string* out, const std::vector<FilterInfo>& info) {
  for (const FilterInfo& f : info) {
    *out += "<requestInfo";
    Attr(out, "name", f.name);
    Attr(out, "value", f.value);
    OptAttr(out, "op", f.op);
    OptAttr(out, "logOp", f.logOp);
    *out += "/>";
  }
}

// A notice element that is empty unless it carries filter conditions.
std::string Notice(const char* element, std::string attrs, const std::vector<FilterInfo>& info) {
  std::string out = std::string("<") + element + attrs;
  if (info.empty()) return out + "/>";
  out += '>';
  InfoElements(&out, info);
  return out + "</" + element + ">";
}

}  // namespace

std::string EscapeAttr(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string DataRequestLine(const std::string& id, const std::string& group,
                            const std::optional<std::string>& requestStartedId,
                            const std::optional<std::string>& subnode,
                            const std::vector<FilterInfo>& info) {
  std::string out = "<dataRequest";
  Attr(&out, "id", id);
  OptAttr(&out, "requestStartedID", requestStartedId);
  OptAttr(&out, "subnode", subnode);
  out += "><attrGroup";
  Attr(&out, "name", group);
  out += "/>";
  InfoElements(&out, info);
  return out + "</dataRequest>";
}

std::string TaskRequestLine(const std::string& id, const std::string& command,
                            const std::optional<std::string>& user,
                            const std::optional<std::string>& subnode,
                            const std::vector<FilterInfo>& info) {
  std::string out = "<taskRequest";
  Attr(&out, "id", id);
  OptAttr(&out, "subnode", subnode);
  out += "><task";
  Attr(&out, "command", command);
  OptAttr(&out, "user", user);
  out += "/>";
  InfoElements(&out, info);
  return out + "</taskRequest>";
}

std::string StartLine(const std::string& group, const std::optional<std::string>& requestStartedId,
                      const std::optional<std::string>& subnode, const std::vector<FilterInfo>& info) {
  std::string attrs;
  Attr(&attrs, "ag", group);
  OptAttr(&attrs, "requestStartedID", requestStartedId);
  OptAttr(&attrs, "subnode", subnode);
  return Notice("startRequestInfo", attrs, info);
}

std::string StopLine(const std::string& group, const std::optional<std::string>& requestStartedId,
                     const std::optional<std::string>& shuttingDown,
                     const std::optional<std::string>& subnode, const std::vector<FilterInfo>& info) {
  std::string attrs;
  Attr(&attrs, "ag", group);
  OptAttr(&attrs, "requestStartedID", requestStartedId);
  OptAttr(&attrs, "shuttingDown", shuttingDown);
  OptAttr(&attrs, "subnode", subnode);
  return Notice("stopRequestInfo", attrs, info);
}

std::string ShutdownLine(const std::optional<std::string>& subnode) {
  std::string attrs;
  OptAttr(&attrs, "subnode", subnode);
  return "<shutdown" + attrs + "/>";
}

}  // namespace agentside
