// The messages an agent sends to the collector, built as single lines (without
// the terminating line feed).  Every attribute value is escaped; attributes
// whose optional value is absent are left out.
//
// Thread-safety: pure functions.
#ifndef QVD_AGENTSIDE_WIRE_WRITER_H_
#define QVD_AGENTSIDE_WIRE_WRITER_H_

#include <optional>
#include <string>
#include <vector>

namespace agentside {

// One filter condition attached to a request.
struct FilterInfo {
  std::string name;
  std::string value;
  std::optional<std::string> op;
  std::optional<std::string> logOp;
};

// Escapes & < > " ' for an attribute value.
std::string EscapeAttr(const std::string& text);

// <dataRequest id=".." [requestStartedID=".."] [subnode=".."]><attrGroup name=".."/>
//   [<requestInfo .../>...]</dataRequest>
std::string DataRequestLine(const std::string& id, const std::string& group,
                            const std::optional<std::string>& requestStartedId,
                            const std::optional<std::string>& subnode,
                            const std::vector<FilterInfo>& info);

// <taskRequest id=".." [subnode=".."]><task command=".." [user=".."]/>
//   [<requestInfo .../>...]</taskRequest>
std::string TaskRequestLine(const std::string& id, const std::string& command,
                            const std::optional<std::string>& user,
                            const std::optional<std::string>& subnode,
                            const std::vector<FilterInfo>& info);

// <startRequestInfo ag=".." [requestStartedID=".."] [subnode=".."]/> (with
// requestInfo children when `info` is not empty).
std::string StartLine(const std::string& group, const std::optional<std::string>& requestStartedId,
                      const std::optional<std::string>& subnode, const std::vector<FilterInfo>& info);

// <stopRequestInfo ag=".." [requestStartedID=".."] [shuttingDown=".."] [subnode=".."]/>
std::string StopLine(const std::string& group, const std::optional<std::string>& requestStartedId,
                     const std::optional<std::string>& shuttingDown,
                     const std::optional<std::string>& subnode, const std::vector<FilterInfo>& info);

// <shutdown/> or <shutdown subnode=".."/>
std::string ShutdownLine(const std::optional<std::string>& subnode);

}  // namespace agentside

#endif  // QVD_AGENTSIDE_WIRE_WRITER_H_
