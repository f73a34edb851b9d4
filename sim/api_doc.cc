// Entry points of documents and items: opening the model's documents,
// reading their items, and the documents the collector creates, which each
// VxDocUpdate appends to created.jsonl in the model directory (see
// docs/simulated-server.md).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "serverapi/vaxel.h"
#include "sim/item_values.h"
#include "sim/open_objects.h"
#include "sim/sim_time.h"
#include "sim/simulator.h"

using vaxelsim::ApiCall;
using vaxelsim::HandleKind;
using vaxelsim::Item;
using vaxelsim::OpenDoc;

namespace {

Item* FindMutable(OpenDoc* doc, const char* name, size_t length) {
  return const_cast<Item*>(vaxelsim::FindItem(doc->items, name, length));
}

// Sets an item, keeping the place of one that is already there.
void SetItem(OpenDoc* doc, const char* name, std::string value) {
  Item* item = FindMutable(doc, name, strlen(name));
  if (item != nullptr) {
    item->value = std::move(value);
    return;
  }
  doc->items.push_back(Item{name, std::move(value)});
}

// Appends one line with one write, so lines of several processes never mix.
bool AppendLine(const std::string& path, const std::string& line) {
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const char* p = line.data();
  size_t left = line.size();
  bool ok = true;
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return close(fd) == 0 && ok;
}

bool ValidName(const char* name) {
  return name != nullptr && name[0] != '\0' && strlen(name) < 256;
}

}  // namespace

extern "C" {

VxStatus VxDocOpen(VxDbHandle db, uint32_t noteId, uint16_t flags, VxDocHandle* retDoc) {
  ApiCall call("VxDocOpen");
  call.line.Unsigned("handle", db).Unsigned("note", noteId).Unsigned("flags", flags);
  if (retDoc != nullptr) *retDoc = 0;
  if (call.fault) return call.Done(call.fault);
  std::shared_ptr<vaxelsim::OpenDb> open = vaxelsim::DbOf(call, db);
  if (!open) return call.Done(VX_ERR_INVALID_HANDLE);
  if (retDoc == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  if (open->directory || open->entry == nullptr) return call.Done(VX_ERR_INVALID_NOTE);
  auto doc = std::make_shared<OpenDoc>();
  doc->model = open->model;
  doc->dbPath = open->path;
  doc->noteId = noteId;
  if (const vaxelsim::Document* d = open->entry->FindDocument(noteId)) {
    doc->items = d->items;
  } else if (const vaxelsim::ViewModel* v = open->entry->FindViewByNote(noteId)) {
    doc->items.push_back(Item{"$TITLE", vaxelsim::TextValue(v->name)});  // the view's design
  } else {
    return call.Done(VX_ERR_INVALID_NOTE);
  }
  VxHandle h = call.sim.handles.AddObject(HandleKind::kDocument, doc);
  if (h == 0) return call.Done(VX_ERR_NO_MEMORY);
  *retDoc = h;
  call.line.Unsigned("document", h);
  return call.Done(0);
}

VxStatus VxDocCreate(VxDbHandle db, VxDocHandle* retDoc) {
  ApiCall call("VxDocCreate");
  call.line.Unsigned("handle", db);
  if (retDoc != nullptr) *retDoc = 0;
  if (call.fault) return call.Done(call.fault);
  std::shared_ptr<vaxelsim::OpenDb> open = vaxelsim::DbOf(call, db);
  if (!open || open->directory) return call.Done(VX_ERR_INVALID_HANDLE);
  if (retDoc == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  auto doc = std::make_shared<OpenDoc>();
  doc->model = open->model;
  doc->dbPath = open->path;
  VxHandle h = call.sim.handles.AddObject(HandleKind::kDocument, doc);
  if (h == 0) return call.Done(VX_ERR_NO_MEMORY);
  *retDoc = h;
  call.line.Unsigned("document", h);
  return call.Done(0);
}

VxStatus VxDocUpdate(VxDocHandle doc, uint16_t flags) {
  ApiCall call("VxDocUpdate");
  call.line.Unsigned("handle", doc).Unsigned("flags", flags);
  if (call.fault) return call.Done(call.fault);
  std::shared_ptr<OpenDoc> open = vaxelsim::DocOf(call, doc);
  if (!open) return call.Done(VX_ERR_INVALID_HANDLE);
  const std::string& dir = call.sim.model.Directory();
  if (dir.empty()) return call.Done(0);  // no model directory: nowhere to keep it
  std::string line = "{\"database\": " + vaxelsim::JsonText(open->dbPath) + ", \"items\": " +
                     vaxelsim::ItemsJson(open->items, call.sim.model.Data().Style()) + "}\n";
  std::string path = dir + "/created.jsonl";
  if (!AppendLine(path, line)) {
    call.sim.Report("cannot append a saved document to " + path + ": " + strerror(errno));
    return call.Done(VX_ERR_OPEN_FILE);
  }
  call.line.Unsigned("items", open->items.size());
  return call.Done(0);
}

VxStatus VxDocClose(VxDocHandle doc) {
  ApiCall call("VxDocClose");
  call.line.Unsigned("handle", doc);
  if (call.fault) return call.Done(call.fault);
  bool ok = call.sim.handles.Free(doc, HandleKind::kDocument);
  return call.Done(ok ? 0 : VX_ERR_INVALID_HANDLE);
}

uint16_t VxItemGetText(VxDocHandle doc, const char* itemName, char* buffer,
                       uint16_t bufferLength) {
  ApiCall call("VxItemGetText");
  call.line.Unsigned("handle", doc).Text("item", itemName);
  if (buffer != nullptr && bufferLength > 0) buffer[0] = '\0';
  std::shared_ptr<OpenDoc> open = call.fault ? nullptr : vaxelsim::DocOf(call, doc);
  const Item* item = open && itemName != nullptr
                         ? vaxelsim::FindItem(open->items, itemName, strlen(itemName))
                         : nullptr;
  std::vector<std::string> texts;
  uint16_t n = 0;
  // A text list gives its first entry.
  if (item != nullptr && buffer != nullptr && bufferLength > 0 &&
      vaxelsim::TextsOf(item->value, &texts) && !texts.empty()) {
    size_t len = texts[0].size() < bufferLength - 1u ? texts[0].size() : bufferLength - 1u;
    memcpy(buffer, texts[0].data(), len);
    buffer[len] = '\0';
    n = static_cast<uint16_t>(len);
  }
  call.Finish("result", n);
  return n;
}

int VxItemGetTime(VxDocHandle doc, const char* itemName, VxTimeDate* retTime) {
  ApiCall call("VxItemGetTime");
  call.line.Unsigned("handle", doc).Text("item", itemName);
  std::shared_ptr<OpenDoc> open = call.fault ? nullptr : vaxelsim::DocOf(call, doc);
  const Item* item = open && itemName != nullptr
                         ? vaxelsim::FindItem(open->items, itemName, strlen(itemName))
                         : nullptr;
  int found = 0;
  if (item != nullptr && retTime != nullptr && item->Type() == VX_TYPE_TIME &&
      item->value.size() >= 10) {
    memcpy(retTime, item->value.data() + 2, sizeof *retTime);
    found = 1;
  }
  call.Finish("result", found);
  return found;
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
  if (call.fault) return call.Done(call.fault);
  std::shared_ptr<OpenDoc> open = vaxelsim::DocOf(call, doc);
  if (!open) return call.Done(VX_ERR_INVALID_HANDLE);
  if (itemName == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  Item* item = FindMutable(open.get(), itemName, nameLength);
  if (item == nullptr) return call.Done(VX_ERR_ITEM_NOT_FOUND);
  uint32_t length = static_cast<uint32_t>(item->value.size());
  if (retDataType != nullptr) *retDataType = item->Type();
  if (retValue != nullptr) *retValue = VxValueRef{&item->value[0], length};
  if (retValueLength != nullptr) *retValueLength = length;
  call.line.Unsigned("type", item->Type()).Unsigned("length", length);
  return call.Done(0);
}

VxStatus VxItemScan(VxDocHandle doc, VxItemScanCallback callback, void* context) {
  ApiCall call("VxItemScan");
  call.line.Unsigned("handle", doc);
  if (call.fault) return call.Done(call.fault);
  std::shared_ptr<OpenDoc> open = vaxelsim::DocOf(call, doc);
  if (!open) return call.Done(VX_ERR_INVALID_HANDLE);
  if (callback == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  // The callback calls other entry points and may write into the value: it
  // gets a copy of each, without the lock.
  std::vector<Item> items = open->items;
  call.lock.unlock();
  VxStatus rc = 0;
  unsigned long visited = 0;
  vaxelsim::CallbackScope scope;
  for (Item& item : items) {
    ++visited;
    rc = callback(0, 0, item.name.c_str(), static_cast<uint16_t>(item.name.size()),
                  &item.value[0], static_cast<uint32_t>(item.value.size()), context);
    if (rc != 0) break;
  }
  call.lock.lock();
  call.line.Unsigned("items", visited);
  return call.Done(rc);
}

VxStatus VxItemSetText(VxDocHandle doc, const char* itemName, const char* text,
                       uint16_t textLength) {
  ApiCall call("VxItemSetText");
  call.line.Unsigned("handle", doc).Text("item", itemName).Unsigned("length", textLength);
  if (call.fault) return call.Done(call.fault);
  std::shared_ptr<OpenDoc> open = vaxelsim::DocOf(call, doc);
  if (!open) return call.Done(VX_ERR_INVALID_HANDLE);
  if (!ValidName(itemName) || text == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  size_t length = textLength == 65535 ? strlen(text) : textLength;
  SetItem(open.get(), itemName, vaxelsim::TextValue(std::string(text, length)));
  return call.Done(0);
}

VxStatus VxItemSetTime(VxDocHandle doc, const char* itemName, const VxTimeDate* time) {
  ApiCall call("VxItemSetTime");
  call.line.Unsigned("handle", doc).Text("item", itemName);
  if (call.fault) return call.Done(call.fault);
  std::shared_ptr<OpenDoc> open = vaxelsim::DocOf(call, doc);
  if (!open) return call.Done(VX_ERR_INVALID_HANDLE);
  if (!ValidName(itemName) || time == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  SetItem(open.get(), itemName, vaxelsim::TimeValue(vaxelsim::TicksOf(*time)));
  return call.Done(0);
}

}  // extern "C"
