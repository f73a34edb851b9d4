// Entry points of the runtime, statistics, memory, messages, settings,
// server names, ping and text lists.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "serverapi/vaxel.h"
#include "sim/messages.h"
#include "sim/server_names.h"
#include "sim/simulator.h"

using vaxelsim::ApiCall;
using vaxelsim::HandleKind;
using vaxelsim::LogLine;
using vaxelsim::ModelData;

namespace {

// Copies `text` terminated into out[outSize]; false when it does not fit.
bool CopyOut(const std::string& text, char* out, uint16_t outSize) {
  if (out == nullptr || outSize == 0) return false;
  if (text.size() + 1 > outSize) {
    out[0] = '\0';
    return false;
  }
  memcpy(out, text.c_str(), text.size() + 1);
  return true;
}

// Lines of `stats` whose name starts with `prefix` (ignoring case), whole.
std::string FilterStats(const std::string& stats, const std::string& prefix) {
  std::string out;
  size_t pos = 0;
  while (pos < stats.size()) {
    size_t eol = stats.find('\n', pos);
    size_t next = eol == std::string::npos ? stats.size() : eol + 1;
    if (stats.size() - pos >= prefix.size() &&
        strncasecmp(stats.c_str() + pos, prefix.c_str(), prefix.size()) == 0)
      out.append(stats, pos, next - pos);
    pos = next;
  }
  return out;
}

// A text list block: 16-bit count, 16-bit lengths, then the entries.
std::vector<char> BuildTextList(const std::vector<std::string>& entries) {
  std::vector<char> block;
  auto put16 = [&block](uint16_t v) {
    char b[2];
    memcpy(b, &v, 2);
    block.insert(block.end(), b, b + 2);
  };
  put16(static_cast<uint16_t>(entries.size()));
  for (const std::string& e : entries) put16(static_cast<uint16_t>(e.size()));
  for (const std::string& e : entries) block.insert(block.end(), e.begin(), e.end());
  return block;
}

bool Reachable(VxStatus s) {
  VxStatus m = s & 0x3FFF;
  return s == 0 || m == VX_ERR_SERVER_ACCESS_DENIED || m == VX_ERR_SERVER_BUSY;
}

}  // namespace

extern "C" {

VxStatus VxInitRuntime(int argc, char** argv) {
  ApiCall call("VxInitRuntime");
  call.line.Num("argc", argc).Text("program", argc > 0 && argv != nullptr ? argv[0] : nullptr);
  if (call.fault) return call.Done(call.fault);
  VxStatus status = call.sim.model.Data().initRuntime;
  if (status == 0) call.sim.runtimeUp = true;
  vaxelsim::Simulator::ClaimExitLine();
  return call.Done(status);
}

void VxTermRuntime(void) {
  ApiCall call("VxTermRuntime");
  call.sim.runtimeUp = false;
  call.Finish();
}

VxStatus VxInitThread(void) {
  ApiCall call("VxInitThread");
  if (call.fault) return call.Done(call.fault);
  return call.Done(call.sim.model.Data().initThread);
}

void VxTermThread(void) {
  ApiCall call("VxTermThread");
  call.Finish();
}

int VxShouldTerminate(void) {
  ApiCall call("VxShouldTerminate");
  int result = call.fault;
  if (result == 0)
    result = call.sim.model.Data().terminate || call.sim.model.TerminateFilePresent() ? 1 : 0;
  call.Finish("result", result);
  return result;
}

VxStatus VxGetServerStats(const char* serverName, const char* facility, const char* statName,
                          VxMemHandle* retBuffer, uint32_t* retLength) {
  ApiCall call("VxGetServerStats");
  call.line.Text("server", serverName).Text("facility", facility).Text("name", statName);
  if (retBuffer != nullptr) *retBuffer = 0;
  if (retLength != nullptr) *retLength = 0;
  if (call.fault) return call.Done(call.fault);
  if (retBuffer == nullptr || retLength == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  const std::string* stats = call.sim.model.Stats();
  if (stats == nullptr || stats->empty()) {
    call.line.Unsigned("handle", 0).Unsigned("length", 0);
    return call.Done(0);
  }
  std::string filtered;
  const std::string* text = stats;
  if (facility != nullptr || statName != nullptr) {
    std::string prefix = facility != nullptr ? std::string(facility) + "." : "";
    if (statName != nullptr) prefix = statName;
    filtered = FilterStats(*stats, prefix);
    text = &filtered;
  }
  if (text->size() > UINT32_MAX) return call.Done(VX_ERR_NO_MEMORY);
  VxMemHandle h = 0;
  if (!text->empty()) {
    h = call.sim.handles.AllocMemory(text->data(), text->size());
    if (h == 0) return call.Done(VX_ERR_NO_MEMORY);
  }
  *retBuffer = h;
  *retLength = static_cast<uint32_t>(h == 0 ? 0 : text->size());
  call.line.Unsigned("handle", h).Unsigned("length", *retLength);
  return call.Done(0);
}

void* VxLockObject(VxMemHandle handle) {
  ApiCall call("VxLockObject");
  call.line.Unsigned("handle", handle);
  void* p = call.fault ? nullptr : call.sim.handles.Lock(handle);
  call.line.Text("result", p == nullptr ? "null" : "ok");
  call.Finish();
  return p;
}

int VxUnlockObject(VxMemHandle handle) {
  ApiCall call("VxUnlockObject");
  call.line.Unsigned("handle", handle);
  int result;
  if (call.fault) {
    result = call.fault;
  } else {
    int left = call.sim.handles.Unlock(handle);
    if (left < 0) call.line.Text("error", "invalid handle");
    result = left > 0 ? 1 : 0;
  }
  call.Finish("result", result);
  return result;
}

VxStatus VxMemFree(VxMemHandle handle) {
  ApiCall call("VxMemFree");
  call.line.Unsigned("handle", handle);
  if (call.fault) return call.Done(call.fault);
  if (!call.sim.handles.Free(handle, HandleKind::kMemory)) return call.Done(VX_ERR_INVALID_HANDLE);
  return call.Done(0);
}

uint16_t VxLoadString(VxHandle module, VxStatus code, char* buffer, uint16_t size) {
  ApiCall call("VxLoadString");
  unsigned c = code & 0x3FFF;
  call.line.Unsigned("module", module).Unsigned("code", c);
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (call.fault || buffer == nullptr || size == 0) {
    call.Finish("result", 0);
    return 0;
  }
  const ModelData& data = call.sim.model.Data();
  auto it = data.messages.find(c);
  std::string text = it != data.messages.end() ? it->second : vaxelsim::MessageText(c);
  size_t n = std::min<size_t>(text.size(), size - 1u);
  memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  call.Finish("result", static_cast<long long>(n));
  return static_cast<uint16_t>(n);
}

uint16_t VxTranslate(uint16_t mode, const char* in, uint16_t length, char* out,
                     uint16_t outSize) {
  ApiCall call("VxTranslate");
  call.line.Unsigned("mode", mode).Unsigned("length", length).Unsigned("size", outSize);
  if (call.fault || in == nullptr || out == nullptr) {
    call.Finish("result", 0);
    return 0;
  }
  // The server converts at most 16384 bytes per call; the rest is the
  // caller's next call.
  size_t n = std::min<size_t>({length, 16384u, outSize});
  memmove(out, in, n);
  call.Finish("result", static_cast<long long>(n));
  return static_cast<uint16_t>(n);
}

void VxGetIntlSettings(VxLocaleFormat* intl, uint16_t size) {
  ApiCall call("VxGetIntlSettings");
  call.line.Unsigned("size", size);
  if (intl != nullptr && !call.fault) {
    VxLocaleFormat full;
    call.sim.model.Data().FillIntl(&full);
    memcpy(intl, &full, std::min<size_t>(size, sizeof full));
    call.line.Unsigned("flags", full.Flags);
  }
  call.Finish();
}

VxStatus VxGetDataDirectory(char* buffer) {
  ApiCall call("VxGetDataDirectory");
  if (call.fault) {
    if (buffer != nullptr) buffer[0] = '\0';
    return call.Done(call.fault);
  }
  if (buffer == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  const std::string& dir = call.sim.model.Data().dataDirectory;
  CopyOut(dir, buffer, VX_MAXPATH);  // the model keeps it below VX_MAXPATH
  call.line.Text("directory", buffer);
  return call.Done(0);
}

static VxStatus ConvertName(const char* entry, bool abbreviate, const char* name, char* out,
                            uint16_t outSize, uint16_t* outLength) {
  ApiCall call(entry);
  call.line.Text("name", name);
  if (outLength != nullptr) *outLength = 0;
  if (out != nullptr && outSize > 0) out[0] = '\0';
  if (call.fault) return call.Done(call.fault);
  if (name == nullptr || out == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  std::string result;
  bool ok = abbreviate ? vaxelsim::AbbreviateName(name, &result)
                       : vaxelsim::CanonicalizeName(name, &result);
  if (!ok) return call.Done(VX_ERR_NAME_INVALID);
  if (!CopyOut(result, out, outSize)) return call.Done(VX_ERR_BUFFER_TOO_SMALL);
  if (outLength != nullptr) *outLength = static_cast<uint16_t>(result.size());
  call.line.Text("result", result.c_str());
  return call.Done(0);
}

VxStatus VxNameAbbreviate(uint32_t flags, const char* templateName, const char* name, char* out,
                          uint16_t outSize, uint16_t* outLength) {
  (void)flags;
  (void)templateName;
  return ConvertName("VxNameAbbreviate", true, name, out, outSize, outLength);
}

VxStatus VxNameCanonicalize(uint32_t flags, const char* templateName, const char* name,
                            char* out, uint16_t outSize, uint16_t* outLength) {
  (void)flags;
  (void)templateName;
  return ConvertName("VxNameCanonicalize", false, name, out, outSize, outLength);
}

VxStatus VxPingServer(const char* serverName, uint32_t* retIndex, VxListHandle* retClusterList) {
  ApiCall call("VxPingServer");
  call.line.Text("server", serverName);
  if (retIndex != nullptr) *retIndex = 0;
  if (retClusterList != nullptr) *retClusterList = 0;
  if (call.fault) return call.Done(call.fault);
  if (serverName == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  const ModelData& data = call.sim.model.Data();
  vaxelsim::ServerReply reply;
  auto it = data.servers.find(vaxelsim::NameKey(serverName));
  if (it != data.servers.end()) reply = it->second;
  if (reply.delayMs > 0) {
    // Other threads keep using the server while this ping waits.
    call.lock.unlock();
    usleep(static_cast<useconds_t>(reply.delayMs) * 1000u);
    call.lock.lock();
  }
  call.line.Num("delay_ms", reply.delayMs);
  if (retClusterList != nullptr && Reachable(reply.ping)) {
    const ModelData& now = call.sim.model.Data();  // may have changed during the delay
    if (now.hasCluster) {
      std::vector<std::string> entries{now.clusterName};
      entries.insert(entries.end(), now.clusterMembers.begin(), now.clusterMembers.end());
      std::vector<char> block = BuildTextList(entries);
      VxHandle h = call.sim.handles.AllocMemory(block.data(), block.size());
      if (h == 0) return call.Done(VX_ERR_NO_MEMORY);
      *retClusterList = h;
      call.line.Unsigned("list", h);
    }
  }
  return call.Done(reply.ping);
}

uint16_t VxListCount(const void* list, int prefixDataType) {
  ApiCall call("VxListCount");
  uint16_t count = 0;
  if (!call.fault && list != nullptr) {
    const unsigned char* p = static_cast<const unsigned char*>(list) + (prefixDataType ? 2 : 0);
    memcpy(&count, p, 2);
  }
  call.Finish("result", count);
  return count;
}

VxStatus VxListEntryText(const void* list, int prefixDataType, uint16_t index, char** retText,
                         uint16_t* retLength) {
  ApiCall call("VxListEntryText");
  call.line.Unsigned("index", index);
  if (retText != nullptr) *retText = nullptr;
  if (retLength != nullptr) *retLength = 0;
  if (call.fault) return call.Done(call.fault);
  if (list == nullptr || retText == nullptr || retLength == nullptr)
    return call.Done(VX_ERR_BAD_PARAM);
  const unsigned char* p = static_cast<const unsigned char*>(list) + (prefixDataType ? 2 : 0);
  uint16_t count;
  memcpy(&count, p, 2);
  if (index >= count) return call.Done(VX_ERR_BAD_PARAM);
  size_t offset = 2u + 2u * count;
  uint16_t len = 0;
  for (uint16_t i = 0; i <= index; ++i) {
    memcpy(&len, p + 2 + 2 * i, 2);
    if (i < index) offset += len;
  }
  *retText = reinterpret_cast<char*>(const_cast<unsigned char*>(p + offset));
  *retLength = len;
  return call.Done(0);
}

}  // extern "C"
