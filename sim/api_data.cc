// Entry points of databases, documents, items, searches, views and the
// directory.  Network paths, formulas, summary tables and value rendering
// work on their arguments alone; what needs databases, documents, views or
// directory entries answers VX_ERR_NOT_MODELLED until the model describes
// them (see docs/simulated-server.md, "Databases").
#include <cstdio>
#include <cstring>
#include <string>

#include "serverapi/vaxel.h"
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
               std::string* out) {
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
      *out = vaxelsim::FormatTime(vaxelsim::TicksOf(t), vaxelsim::TextStyle(), VX_TFMT_DATE_TIME);
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
    if (vl < 2 || !ValueText(Get16(value), value, vl, ';', &text)) break;
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
                &text))
    n = CopyText(text, buffer, bufferLength);
  call.Finish("result", n);
  return n;
}

// ---- Not modelled yet: databases, documents, views, directory. ----

VxStatus VxDbOpen(const char* path, VxDbHandle* retDb) {
  ApiCall call("VxDbOpen");
  call.line.Text("path", path);
  if (retDb != nullptr) *retDb = 0;
  return call.Done(call.fault ? call.fault : VX_ERR_NOT_MODELLED);
}

VxStatus VxDbOpenExtended(const char* path, uint16_t options, VxHandle namesList,
                          const VxTimeDate* modifiedSince, VxDbHandle* retDb,
                          VxTimeDate* retDataModified, VxTimeDate* retNonDataModified) {
  ApiCall call("VxDbOpenExtended");
  (void)namesList;
  (void)modifiedSince;
  (void)retDataModified;
  (void)retNonDataModified;
  call.line.Text("path", path).Unsigned("options", options);
  if (retDb != nullptr) *retDb = 0;
  return call.Done(call.fault ? call.fault : VX_ERR_NOT_MODELLED);
}

VxStatus VxDbClose(VxDbHandle db) {
  ApiCall call("VxDbClose");
  call.line.Unsigned("handle", db);
  if (call.fault) return call.Done(call.fault);
  bool ok = call.sim.handles.Free(db, vaxelsim::HandleKind::kDatabase);
  return call.Done(ok ? 0 : VX_ERR_INVALID_HANDLE);
}

VxStatus VxDbPathGet(VxDbHandle db, char* retCanonicalPath, char* retExpandedPath) {
  ApiCall call("VxDbPathGet");
  call.line.Unsigned("handle", db);
  if (retCanonicalPath != nullptr) retCanonicalPath[0] = '\0';
  if (retExpandedPath != nullptr) retExpandedPath[0] = '\0';
  return call.Done(call.fault ? call.fault : VX_ERR_INVALID_HANDLE);
}

VxStatus VxDbQuotaGet(const char* netPath, VxDbLimits* retQuota) {
  ApiCall call("VxDbQuotaGet");
  call.line.Text("path", netPath);
  if (retQuota != nullptr) memset(retQuota, 0, sizeof *retQuota);
  return call.Done(call.fault ? call.fault : VX_ERR_NOT_MODELLED);
}

VxStatus VxDbSpaceUsage(VxDbHandle db, uint32_t* retAllocatedBytes, uint32_t* retFreeBytes) {
  ApiCall call("VxDbSpaceUsage");
  call.line.Unsigned("handle", db);
  if (retAllocatedBytes != nullptr) *retAllocatedBytes = 0;
  if (retFreeBytes != nullptr) *retFreeBytes = 0;
  return call.Done(call.fault ? call.fault : VX_ERR_INVALID_HANDLE);
}

VxStatus VxDbSearch(VxDbHandle db, VxFormulaHandle formula, const char* viewTitle,
                    uint16_t searchFlags, uint16_t noteClassMask, const VxTimeDate* since,
                    VxSearchCallback callback, void* context, VxTimeDate* retUntil) {
  ApiCall call("VxDbSearch");
  (void)viewTitle;
  (void)since;
  (void)callback;
  (void)context;
  call.line.Unsigned("handle", db).Unsigned("formula", formula).Unsigned("flags", searchFlags)
      .Unsigned("class", noteClassMask);
  if (retUntil != nullptr) *retUntil = vaxelsim::TimeOf(call.sim.NowTicks());
  return call.Done(call.fault ? call.fault : VX_ERR_INVALID_HANDLE);
}

VxStatus VxDocOpen(VxDbHandle db, uint32_t noteId, uint16_t flags, VxDocHandle* retDoc) {
  ApiCall call("VxDocOpen");
  call.line.Unsigned("handle", db).Unsigned("note", noteId).Unsigned("flags", flags);
  if (retDoc != nullptr) *retDoc = 0;
  return call.Done(call.fault ? call.fault : VX_ERR_INVALID_HANDLE);
}

VxStatus VxDocCreate(VxDbHandle db, VxDocHandle* retDoc) {
  ApiCall call("VxDocCreate");
  call.line.Unsigned("handle", db);
  if (retDoc != nullptr) *retDoc = 0;
  return call.Done(call.fault ? call.fault : VX_ERR_INVALID_HANDLE);
}

VxStatus VxDocUpdate(VxDocHandle doc, uint16_t flags) {
  ApiCall call("VxDocUpdate");
  call.line.Unsigned("handle", doc).Unsigned("flags", flags);
  return call.Done(call.fault ? call.fault : VX_ERR_INVALID_HANDLE);
}

VxStatus VxDocClose(VxDocHandle doc) {
  ApiCall call("VxDocClose");
  call.line.Unsigned("handle", doc);
  if (call.fault) return call.Done(call.fault);
  bool ok = call.sim.handles.Free(doc, vaxelsim::HandleKind::kDocument);
  return call.Done(ok ? 0 : VX_ERR_INVALID_HANDLE);
}

uint16_t VxItemGetText(VxDocHandle doc, const char* itemName, char* buffer,
                       uint16_t bufferLength) {
  ApiCall call("VxItemGetText");
  call.line.Unsigned("handle", doc).Text("item", itemName);
  if (buffer != nullptr && bufferLength > 0) buffer[0] = '\0';
  call.Finish("result", 0);
  return 0;
}

int VxItemGetTime(VxDocHandle doc, const char* itemName, VxTimeDate* retTime) {
  ApiCall call("VxItemGetTime");
  (void)retTime;
  call.line.Unsigned("handle", doc).Text("item", itemName);
  call.Finish("result", 0);
  return 0;
}

VxStatus VxItemInfo(VxDocHandle doc, const char* itemName, uint16_t nameLength,
                    uint32_t* retItem, uint16_t* retDataType, VxValueRef* retValue,
                    uint32_t* retValueLength) {
  ApiCall call("VxItemInfo");
  call.line.Unsigned("handle", doc).Text("item", itemName, itemName == nullptr ? 0 : nameLength);
  if (retItem != nullptr) *retItem = 0;
  if (retDataType != nullptr) *retDataType = 0;
  if (retValue != nullptr) *retValue = VxValueRef{nullptr, 0};
  if (retValueLength != nullptr) *retValueLength = 0;
  return call.Done(call.fault ? call.fault : VX_ERR_INVALID_HANDLE);
}

VxStatus VxItemScan(VxDocHandle doc, VxItemScanCallback callback, void* context) {
  ApiCall call("VxItemScan");
  (void)callback;
  (void)context;
  call.line.Unsigned("handle", doc);
  return call.Done(call.fault ? call.fault : VX_ERR_INVALID_HANDLE);
}

VxStatus VxItemSetText(VxDocHandle doc, const char* itemName, const char* text,
                       uint16_t textLength) {
  ApiCall call("VxItemSetText");
  (void)text;
  call.line.Unsigned("handle", doc).Text("item", itemName).Unsigned("length", textLength);
  return call.Done(call.fault ? call.fault : VX_ERR_INVALID_HANDLE);
}

VxStatus VxItemSetTime(VxDocHandle doc, const char* itemName, const VxTimeDate* time) {
  ApiCall call("VxItemSetTime");
  (void)time;
  call.line.Unsigned("handle", doc).Text("item", itemName);
  return call.Done(call.fault ? call.fault : VX_ERR_INVALID_HANDLE);
}

VxStatus VxFindDesignNote(VxDbHandle db, const char* name, uint16_t noteClass,
                          const char* flagPattern, uint32_t* retNoteId, uint32_t options) {
  ApiCall call("VxFindDesignNote");
  (void)flagPattern;
  (void)options;
  call.line.Unsigned("handle", db).Text("name", name).Unsigned("class", noteClass);
  if (retNoteId != nullptr) *retNoteId = 0;
  return call.Done(call.fault ? call.fault : VX_ERR_INVALID_HANDLE);
}

VxStatus VxViewOpen(VxDbHandle viewDb, VxDbHandle dataDb, uint32_t viewNoteId,
                    uint16_t openFlags, VxHandle unreadList, VxCollectionHandle* retCollection,
                    VxDocHandle* retViewNote, unsigned char* retViewUnid,
                    VxHandle* retCollapsedList, VxHandle* retSelectedList) {
  ApiCall call("VxViewOpen");
  (void)dataDb;
  (void)unreadList;
  call.line.Unsigned("handle", viewDb).Unsigned("note", viewNoteId).Unsigned("flags", openFlags);
  for (VxHandle* p : {retCollection, retViewNote, retCollapsedList, retSelectedList})
    if (p != nullptr) *p = 0;
  if (retViewUnid != nullptr) memset(retViewUnid, 0, 16);
  return call.Done(call.fault ? call.fault : VX_ERR_INVALID_HANDLE);
}

VxStatus VxViewReadEntries(VxCollectionHandle collection, uint32_t skipCount,
                           uint32_t returnCount, uint32_t returnMask, VxMemHandle* retBuffer,
                           uint32_t* retBufferLength, uint32_t* retNumberReturned,
                           uint16_t* retSignalFlags) {
  ApiCall call("VxViewReadEntries");
  call.line.Unsigned("handle", collection).Unsigned("skip", skipCount)
      .Unsigned("count", returnCount).Unsigned("mask", returnMask);
  if (retBuffer != nullptr) *retBuffer = 0;
  if (retBufferLength != nullptr) *retBufferLength = 0;
  if (retNumberReturned != nullptr) *retNumberReturned = 0;
  if (retSignalFlags != nullptr) *retSignalFlags = 0;
  return call.Done(call.fault ? call.fault : VX_ERR_INVALID_HANDLE);
}

VxStatus VxViewClose(VxCollectionHandle collection) {
  ApiCall call("VxViewClose");
  call.line.Unsigned("handle", collection);
  if (call.fault) return call.Done(call.fault);
  bool ok = call.sim.handles.Free(collection, vaxelsim::HandleKind::kCollection);
  return call.Done(ok ? 0 : VX_ERR_INVALID_HANDLE);
}

VxStatus VxDirLookup(const char* server, uint16_t flags, uint16_t nameSpaceCount,
                     const char* nameSpaces, uint16_t nameCount, const char* names,
                     uint16_t itemCount, const char* items, VxMemHandle* retBuffer) {
  ApiCall call("VxDirLookup");
  (void)nameSpaceCount;
  (void)nameCount;
  (void)names;
  (void)itemCount;
  (void)items;
  call.line.Text("server", server).Unsigned("flags", flags).Text("namespace", nameSpaces);
  if (retBuffer != nullptr) *retBuffer = 0;
  return call.Done(call.fault ? call.fault : VX_ERR_NOT_MODELLED);
}

void* VxDirLocateNextName(void* lookupBuffer, void* prevName, uint16_t* retMatchCount) {
  ApiCall call("VxDirLocateNextName");
  (void)lookupBuffer;
  (void)prevName;
  if (retMatchCount != nullptr) *retMatchCount = 0;
  call.line.Text("result", "null");
  call.Finish();
  return nullptr;
}

void* VxDirLocateNextMatch(void* lookupBuffer, void* name, void* prevMatch) {
  ApiCall call("VxDirLocateNextMatch");
  (void)lookupBuffer;
  (void)name;
  (void)prevMatch;
  call.line.Text("result", "null");
  call.Finish();
  return nullptr;
}

VxStatus VxDirGetTextItem(void* match, uint16_t itemNumber, uint16_t valueNumber, char* buffer,
                          uint16_t bufferSize) {
  ApiCall call("VxDirGetTextItem");
  (void)match;
  call.line.Unsigned("item", itemNumber).Unsigned("value", valueNumber);
  if (buffer != nullptr && bufferSize > 0) buffer[0] = '\0';
  return call.Done(call.fault ? call.fault : VX_ERR_NOT_MODELLED);
}

}  // extern "C"
