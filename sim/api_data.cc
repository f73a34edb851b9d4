// Entry points that work on their arguments alone: network paths, formulas,
// summary tables and value rendering.  Databases, directories, searches and
// views are in api_db.cc, documents and items in api_doc.cc.
#include <cstdio>
#include <cstring>
#include <string>

#include "serverapi/vaxel.h"
#include "sim/formula.h"
#include "sim/sim_time.h"
#include "sim/simulator.h"

using vaxelsim::ApiCall;

namespace {

bool CopyPath(const std::string& text, char* out) {
  if (out == nullptr) return true;
  if (text.size() >= VX_MAXPATH) {
    out[0] = '\0';
    return false;
  }
  memcpy(out, text.c_str(), text.size() + 1);
  return true;
}

uint16_t Get16(const unsigned char* p) {
  uint16_t v;
  memcpy(&v, p, 2);
  return v;
}

// Renders a value (16-bit data type first) as text; false for a type that
// has no text form or a value too short for its type.
bool ValueText(uint16_t type, const unsigned char* value, uint32_t length, char separator,
               const vaxelsim::TextStyle& style, std::string* out) {
  if (value == nullptr || length < 2) return false;
  const unsigned char* data = value + 2;
  uint32_t dataLen = length - 2;
  switch (type) {
    case VX_TYPE_TEXT:
      out->assign(reinterpret_cast<const char*>(data), dataLen);
      return true;
    case VX_TYPE_TEXT_LIST: {
      if (dataLen < 2) return false;
      uint16_t count = Get16(data);
      size_t offset = 2u + 2u * count;
      if (offset > dataLen) return false;
      out->clear();
      for (uint16_t i = 0; i < count; ++i) {
        uint16_t len = Get16(data + 2 + 2 * i);
        if (offset + len > dataLen) return false;
        if (i > 0) *out += separator;
        out->append(reinterpret_cast<const char*>(data + offset), len);
        offset += len;
      }
      return true;
    }
    case VX_TYPE_NUMBER: {
      if (dataLen < 8) return false;
      double d;
      memcpy(&d, data, 8);
      char buf[64];
      snprintf(buf, sizeof buf, "%g", d);
      *out = buf;
      return true;
    }
    case VX_TYPE_TIME: {
      if (dataLen < 8) return false;
      VxTimeDate t;
      memcpy(&t, data, 8);
      *out = vaxelsim::FormatTime(vaxelsim::TicksOf(t), style, VX_TFMT_DATE_TIME);
      return !out->empty();
    }
    default:
      return false;
  }
}

uint16_t CopyText(const std::string& text, char* buffer, uint16_t size) {
  if (buffer == nullptr || size == 0) return 0;
  size_t n = text.size() < size - 1u ? text.size() : size - 1u;
  memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<uint16_t>(n);
}

}  // namespace

extern "C" {

VxStatus VxPathNetConstruct(const char* port, const char* server, const char* file,
                            char* retPath) {
  ApiCall call("VxPathNetConstruct");
  call.line.Text("port", port).Text("server", server).Text("file", file);
  if (retPath != nullptr) retPath[0] = '\0';
  if (call.fault) return call.Done(call.fault);
  if (file == nullptr || retPath == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  std::string path;
  if (port != nullptr && *port != '\0') path = std::string(port) + "!!!";
  if (server != nullptr && *server != '\0') path += std::string(server) + "!!";
  path += file;
  if (!CopyPath(path, retPath)) return call.Done(VX_ERR_BUFFER_TOO_SMALL);
  call.line.Text("path", retPath);
  return call.Done(0);
}

VxStatus VxPathNetParse(const char* path, char* retPort, char* retServer, char* retFile) {
  ApiCall call("VxPathNetParse");
  call.line.Text("path", path);
  for (char* out : {retPort, retServer, retFile})
    if (out != nullptr) out[0] = '\0';
  if (call.fault) return call.Done(call.fault);
  if (path == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  std::string rest = path;
  std::string port, server;
  size_t p = rest.find("!!!");
  if (p != std::string::npos) {
    port = rest.substr(0, p);
    rest = rest.substr(p + 3);
  }
  p = rest.find("!!");
  if (p != std::string::npos) {
    server = rest.substr(0, p);
    rest = rest.substr(p + 2);
  }
  if (!CopyPath(port, retPort) || !CopyPath(server, retServer) || !CopyPath(rest, retFile))
    return call.Done(VX_ERR_BUFFER_TOO_SMALL);
  call.line.Text("server", server.c_str()).Text("file", rest.c_str());
  return call.Done(0);
}

VxStatus VxFormulaCompile(const char* name, uint16_t nameLength, const char* text,
                          uint16_t textLength, VxFormulaHandle* retFormula,
                          uint16_t* retFormulaLength, VxStatus* retCompileError,
                          uint16_t* retErrorLine, uint16_t* retErrorColumn,
                          uint16_t* retErrorOffset, uint16_t* retErrorLength) {
  ApiCall call("VxFormulaCompile");
  (void)name;
  (void)nameLength;
  if (retFormula != nullptr) *retFormula = 0;
  if (retFormulaLength != nullptr) *retFormulaLength = 0;
  if (retCompileError != nullptr) *retCompileError = 0;
  for (uint16_t* p : {retErrorLine, retErrorColumn, retErrorOffset, retErrorLength})
    if (p != nullptr) *p = 0;
  call.line.Text("text", text, text == nullptr ? 0 : textLength);
  if (call.fault) return call.Done(call.fault);
  if (text == nullptr || textLength == 0 || retFormula == nullptr) {
    if (retCompileError != nullptr) *retCompileError = VX_ERR_BAD_PARAM;
    return call.Done(VX_ERR_BAD_PARAM);
  }
  vaxelsim::Selection selection;
  size_t errorAt = 0;
  if (!vaxelsim::ParseSelection(text, textLength, &selection, &errorAt)) {
    if (retCompileError != nullptr) *retCompileError = VX_ERR_BAD_PARAM;
    if (retErrorLine != nullptr) *retErrorLine = 1;
    if (retErrorColumn != nullptr) *retErrorColumn = static_cast<uint16_t>(errorAt + 1);
    if (retErrorOffset != nullptr) *retErrorOffset = static_cast<uint16_t>(errorAt);
    if (retErrorLength != nullptr) *retErrorLength = static_cast<uint16_t>(textLength - errorAt);
    return call.Done(VX_ERR_BAD_PARAM);
  }
  // The compiled form is the formula's text; searches read it back.
  VxHandle h = call.sim.handles.AllocMemory(text, textLength);
  if (h == 0) return call.Done(VX_ERR_NO_MEMORY);
  *retFormula = h;
  if (retFormulaLength != nullptr) *retFormulaLength = textLength;
  call.line.Unsigned("handle", h);
  return call.Done(0);
}

int VxGetSummaryValue(const void* summary, const char* name, char* buffer,
                      uint16_t bufferLength) {
  ApiCall call("VxGetSummaryValue");
  call.line.Text("name", name);
  if (buffer != nullptr && bufferLength > 0) buffer[0] = '\0';
  if (call.fault || summary == nullptr || name == nullptr) {
    call.Finish("result", 0);
    return 0;
  }
  const unsigned char* p = static_cast<const unsigned char*>(summary);
  uint16_t total = Get16(p);
  uint16_t count = Get16(p + 2);
  size_t offset = 4u + 4u * count;
  size_t nameLen = strlen(name);
  for (uint16_t i = 0; i < count && offset <= total; ++i) {
    uint16_t nl = Get16(p + 4 + 4 * i);
    uint16_t vl = Get16(p + 6 + 4 * i);
    if (offset + nl + vl > total) break;
    const unsigned char* itemName = p + offset;
    const unsigned char* value = itemName + nl;
    offset += nl + vl;
    if (nl != nameLen || strncasecmp(reinterpret_cast<const char*>(itemName), name, nl) != 0)
      continue;
    std::string text;
    if (vl < 2 || !ValueText(Get16(value), value, vl, ';', call.sim.model.Data().Style(), &text)) break;
    CopyText(text, buffer, bufferLength);
    call.Finish("result", 1);
    return 1;
  }
  call.Finish("result", 0);
  return 0;
}

uint16_t VxItemValueToText(uint16_t dataType, VxValueRef value, uint32_t valueLength,
                           char* buffer, uint16_t bufferLength, char separator) {
  ApiCall call("VxItemValueToText");
  call.line.Unsigned("type", dataType).Unsigned("length", valueLength);
  if (buffer != nullptr && bufferLength > 0) buffer[0] = '\0';
  std::string text;
  uint16_t n = 0;
  if (!call.fault &&
      ValueText(dataType, static_cast<const unsigned char*>(value.Value), valueLength, separator,
                call.sim.model.Data().Style(),
                &text))
    n = CopyText(text, buffer, bufferLength);
  call.Finish("result", n);
  return n;
}

}  // extern "C"
