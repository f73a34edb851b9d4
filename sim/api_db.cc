// Entry points of databases, directories, searches, views and the
// directory's groups, answered from the "databases" and "directory" keys of
// the model (see docs/simulated-server.md).
#include <strings.h>

#include <cstring>
#include <string>
#include <vector>

#include "serverapi/vaxel.h"
#include "sim/dir_lookup.h"
#include "sim/formula.h"
#include "sim/item_values.h"
#include "sim/open_objects.h"
#include "sim/sim_time.h"
#include "sim/simulator.h"

using vaxelsim::ApiCall;
using vaxelsim::DatabaseModel;
using vaxelsim::DbModel;
using vaxelsim::HandleKind;
using vaxelsim::OpenDb;

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

// Which open: plain (VxDbOpen) or with VxDbOpenExtended's options.
struct OpenRequest {
  bool extended = false;
  uint16_t options = 0;
  const VxTimeDate* since = nullptr;
  VxTimeDate* retDataModified = nullptr;
  VxTimeDate* retNonDataModified = nullptr;
};

// The status the model gives an open of this kind.
VxStatus OpenStatus(const DatabaseModel* entry, const OpenRequest& req) {
  if (entry == nullptr) return 0;
  if (!req.extended) return entry->open;
  if (req.options & VX_DBOPEN_CLUSTER_FAILOVER) return entry->failoverOpen;
  if ((req.options & VX_DBOPEN_REPAIR) == VX_DBOPEN_REPAIR) return entry->repairOpen;
  return entry->open;
}

VxStatus OpenPath(ApiCall& call, const char* path, const OpenRequest& req, VxDbHandle* retDb) {
  const vaxelsim::ModelData& data = call.sim.model.Data();
  std::shared_ptr<const DbModel> model = data.db;
  std::string rel = vaxelsim::RelativePath(path, data.dataDirectory);
  const DatabaseModel* entry = nullptr;
  DbModel::Kind kind = model->Resolve(rel, &entry);
  if (kind == DbModel::Kind::kNone) return VX_ERR_FILE_NOT_FOUND;
  VxStatus status = OpenStatus(entry, req);
  if (status != 0) return status;
  int64_t modified =
      entry != nullptr && entry->hasModified ? entry->modified : call.sim.NowTicks();
  if (req.retDataModified != nullptr) *req.retDataModified = vaxelsim::TimeOf(modified);
  if (req.retNonDataModified != nullptr) *req.retNonDataModified = vaxelsim::TimeOf(modified);
  if (req.extended && (req.options & VX_DBOPEN_MODIFIED_SINCE) && req.since != nullptr &&
      !vaxelsim::IsWildcard(*req.since) && vaxelsim::TicksOf(*req.since) > modified)
    return VX_ERR_NOT_MODIFIED;
  auto open = std::make_shared<OpenDb>();
  open->model = model;
  open->path = rel;
  open->entry = entry;
  open->directory = kind == DbModel::Kind::kDirectory;
  open->canonicalPath = req.extended && entry != nullptr && entry->hasFailoverPath
                            ? entry->failoverPath
                            : std::string(path);
  open->expandedPath = rel.empty() ? data.dataDirectory : data.dataDirectory + "/" + rel;
  VxHandle h = call.sim.handles.AddObject(HandleKind::kDatabase, open);
  if (h == 0) return VX_ERR_NO_MEMORY;
  *retDb = h;
  call.line.Unsigned("handle", h);
  return 0;
}

void FillMatch(VxSearchMatch* m, uint32_t noteId, uint16_t noteClass, bool matches) {
  memset(m, 0, sizeof *m);
  memcpy(m->OriginatorId, &noteId, sizeof noteId);
  m->NoteId = noteId;
  m->NoteClass = noteClass;
  m->Flags = matches ? VX_SE_FMATCH : 0;
}

// The last part of a path: a file's title.
std::string TitleOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

extern "C" {

VxStatus VxDbOpen(const char* path, VxDbHandle* retDb) {
  ApiCall call("VxDbOpen");
  call.line.Text("path", path);
  if (retDb != nullptr) *retDb = 0;
  if (call.fault) return call.Done(call.fault);
  if (path == nullptr || retDb == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  return call.Done(OpenPath(call, path, OpenRequest(), retDb));
}

VxStatus VxDbOpenExtended(const char* path, uint16_t options, VxHandle namesList,
                          const VxTimeDate* modifiedSince, VxDbHandle* retDb,
                          VxTimeDate* retDataModified, VxTimeDate* retNonDataModified) {
  ApiCall call("VxDbOpenExtended");
  (void)namesList;
  call.line.Text("path", path).Unsigned("options", options);
  if (retDb != nullptr) *retDb = 0;
  for (VxTimeDate* t : {retDataModified, retNonDataModified})
    if (t != nullptr) memset(t, 0, sizeof *t);
  if (call.fault) return call.Done(call.fault);
  if (path == nullptr || retDb == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  OpenRequest req;
  req.extended = true;
  req.options = options;
  req.since = modifiedSince;
  req.retDataModified = retDataModified;
  req.retNonDataModified = retNonDataModified;
  return call.Done(OpenPath(call, path, req, retDb));
}

VxStatus VxDbClose(VxDbHandle db) {
  ApiCall call("VxDbClose");
  call.line.Unsigned("handle", db);
  if (call.fault) return call.Done(call.fault);
  bool ok = call.sim.handles.Free(db, HandleKind::kDatabase);
  return call.Done(ok ? 0 : VX_ERR_INVALID_HANDLE);
}

VxStatus VxDbPathGet(VxDbHandle db, char* retCanonicalPath, char* retExpandedPath) {
  ApiCall call("VxDbPathGet");
  call.line.Unsigned("handle", db);
  if (retCanonicalPath != nullptr) retCanonicalPath[0] = '\0';
  if (retExpandedPath != nullptr) retExpandedPath[0] = '\0';
  if (call.fault) return call.Done(call.fault);
  std::shared_ptr<OpenDb> open = vaxelsim::DbOf(call, db);
  if (!open) return call.Done(VX_ERR_INVALID_HANDLE);
  if (!CopyPath(open->canonicalPath, retCanonicalPath) ||
      !CopyPath(open->expandedPath, retExpandedPath))
    return call.Done(VX_ERR_BUFFER_TOO_SMALL);
  call.line.Text("path", open->canonicalPath.c_str());
  return call.Done(0);
}

VxStatus VxDbQuotaGet(const char* netPath, VxDbLimits* retQuota) {
  ApiCall call("VxDbQuotaGet");
  call.line.Text("path", netPath);
  if (retQuota != nullptr) memset(retQuota, 0, sizeof *retQuota);
  if (call.fault) return call.Done(call.fault);
  if (netPath == nullptr || retQuota == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  const vaxelsim::ModelData& data = call.sim.model.Data();
  const DatabaseModel* entry = nullptr;
  std::string rel = vaxelsim::RelativePath(netPath, data.dataDirectory);
  if (data.db->Resolve(rel, &entry) == DbModel::Kind::kNone)
    return call.Done(VX_ERR_FILE_NOT_FOUND);
  if (entry == nullptr) return call.Done(0);
  if (entry->quotaStatus != 0) return call.Done(entry->quotaStatus);
  *retQuota = entry->quota;
  return call.Done(0);
}

VxStatus VxDbSpaceUsage(VxDbHandle db, uint32_t* retAllocatedBytes, uint32_t* retFreeBytes) {
  ApiCall call("VxDbSpaceUsage");
  call.line.Unsigned("handle", db);
  if (retAllocatedBytes != nullptr) *retAllocatedBytes = 0;
  if (retFreeBytes != nullptr) *retFreeBytes = 0;
  if (call.fault) return call.Done(call.fault);
  std::shared_ptr<OpenDb> open = vaxelsim::DbOf(call, db);
  if (!open) return call.Done(VX_ERR_INVALID_HANDLE);
  if (open->entry == nullptr) return call.Done(0);
  if (open->entry->spaceStatus != 0) return call.Done(open->entry->spaceStatus);
  if (retAllocatedBytes != nullptr) *retAllocatedBytes = open->entry->allocatedBytes;
  if (retFreeBytes != nullptr) *retFreeBytes = open->entry->freeBytes;
  return call.Done(0);
}

VxStatus VxDbSearch(VxDbHandle db, VxFormulaHandle formula, const char* viewTitle,
                    uint16_t searchFlags, uint16_t noteClassMask, const VxTimeDate* since,
                    VxSearchCallback callback, void* context, VxTimeDate* retUntil) {
  ApiCall call("VxDbSearch");
  (void)viewTitle;
  call.line.Unsigned("handle", db).Unsigned("formula", formula).Unsigned("flags", searchFlags)
      .Unsigned("class", noteClassMask);
  if (retUntil != nullptr) *retUntil = vaxelsim::TimeOf(call.sim.NowTicks());
  if (call.fault) return call.Done(call.fault);
  std::shared_ptr<OpenDb> open = vaxelsim::DbOf(call, db);
  if (!open) return call.Done(VX_ERR_INVALID_HANDLE);
  if (callback == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  vaxelsim::Selection selection;
  if (formula != 0) {
    size_t size = 0;
    const char* text = static_cast<const char*>(call.sim.handles.Peek(formula, &size));
    if (text == nullptr) return call.Done(VX_ERR_INVALID_HANDLE);
    if (!vaxelsim::ParseSelection(text, size, &selection, nullptr))
      return call.Done(VX_ERR_BAD_PARAM);
  }
  bool summaries = (searchFlags & VX_SEARCH_SUMMARY) != 0;
  bool useSince = since != nullptr && !vaxelsim::IsWildcard(*since);
  int64_t sinceTicks = useSince ? vaxelsim::TicksOf(*since) : 0;

  // The callbacks call other entry points: they run without the lock, on
  // the model the database was opened on, which never changes.
  call.lock.unlock();
  vaxelsim::CallbackScope scope;
  VxStatus rc = 0;
  unsigned long matches = 0;
  VxSearchMatch match;
  auto deliver = [&](uint32_t noteId, uint16_t noteClass, bool selected,
                     const std::vector<vaxelsim::Item>& items) {
    FillMatch(&match, noteId, noteClass, selected);
    std::string summary = summaries ? vaxelsim::SummaryTable(items) : std::string();
    ++matches;
    rc = callback(context, &match, summaries ? summary.data() : nullptr);
    return rc == 0;
  };
  if (searchFlags & VX_SEARCH_FILETYPE) {
    if (open->directory) {
      std::vector<vaxelsim::FileEntry> files = open->model->List(
          open->path, (noteClassMask & VX_FILE_RECURSE) != 0,
          (noteClassMask & VX_FILE_DATABASES) != 0, (noteClassMask & VX_FILE_DIRS) != 0);
      uint32_t n = 0;
      for (const vaxelsim::FileEntry& f : files) {
        std::vector<vaxelsim::Item> items = {
            {"$TITLE", vaxelsim::TextValue(TitleOf(f.path))},
            {"$Path", vaxelsim::TextValue(f.path)},
            {"$type", vaxelsim::TextValue(f.database ? "$NOTEFILE" : "$DIR")}};
        if (!deliver(++n, 0, f.database, items)) break;
      }
    }
  } else if (!open->directory && open->entry != nullptr) {
    if (noteClassMask & VX_NOTE_CLASS_DOCUMENT) {
      for (const vaxelsim::Document& doc : open->entry->documents) {
        if (useSince && doc.hasModified && doc.modified < sinceTicks) continue;
        if (!selection.Selects(doc)) continue;
        if (!deliver(doc.id, VX_NOTE_CLASS_DOCUMENT, true, doc.items)) break;
      }
    }
    if (rc == 0 && (noteClassMask & VX_NOTE_CLASS_VIEW)) {
      for (const vaxelsim::ViewModel& v : open->entry->views) {
        std::vector<vaxelsim::Item> items = {{"$TITLE", vaxelsim::TextValue(v.name)}};
        if (!deliver(v.noteId, VX_NOTE_CLASS_VIEW, true, items)) break;
      }
    }
  }
  call.lock.lock();
  call.line.Unsigned("matches", matches);
  return call.Done(rc);
}

VxStatus VxFindDesignNote(VxDbHandle db, const char* name, uint16_t noteClass,
                          const char* flagPattern, uint32_t* retNoteId, uint32_t options) {
  ApiCall call("VxFindDesignNote");
  (void)flagPattern;
  (void)options;
  call.line.Unsigned("handle", db).Text("name", name).Unsigned("class", noteClass);
  if (retNoteId != nullptr) *retNoteId = 0;
  if (call.fault) return call.Done(call.fault);
  std::shared_ptr<OpenDb> open = vaxelsim::DbOf(call, db);
  if (!open) return call.Done(VX_ERR_INVALID_HANDLE);
  if (name == nullptr || retNoteId == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  const vaxelsim::ViewModel* view = nullptr;
  if (open->entry != nullptr && !open->directory && (noteClass & VX_NOTE_CLASS_VIEW))
    view = open->entry->FindView(name);
  if (view == nullptr) return call.Done(VX_ERR_NO_MORE_ENTRIES);  // not in the design index
  *retNoteId = view->noteId;
  call.line.Unsigned("note", view->noteId);
  return call.Done(0);
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
  if (call.fault) return call.Done(call.fault);
  std::shared_ptr<OpenDb> open = vaxelsim::DbOf(call, viewDb);
  if (!open) return call.Done(VX_ERR_INVALID_HANDLE);
  if (retCollection == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  const vaxelsim::ViewModel* view =
      open->entry == nullptr ? nullptr : open->entry->FindViewByNote(viewNoteId);
  if (view == nullptr) return call.Done(VX_ERR_INVALID_NOTE);
  if (view->open != 0) return call.Done(view->open);
  auto coll = std::make_shared<vaxelsim::OpenView>();
  coll->ids = view->documents;
  VxHandle h = call.sim.handles.AddObject(HandleKind::kCollection, coll);
  if (h == 0) return call.Done(VX_ERR_NO_MEMORY);
  *retCollection = h;
  if (retViewUnid != nullptr) memcpy(retViewUnid, &viewNoteId, sizeof viewNoteId);
  call.line.Unsigned("collection", h);
  return call.Done(0);
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
  if (call.fault) return call.Done(call.fault);
  std::shared_ptr<vaxelsim::OpenView> view = vaxelsim::ViewOf(call, collection);
  if (!view) return call.Done(VX_ERR_INVALID_HANDLE);
  const std::vector<uint32_t>& ids = view->ids;
  if (ids.empty()) return call.Done(VX_ERR_NO_MORE_ENTRIES);
  // Counting starts before the first entry: skip 1 lands on it.
  size_t start = skipCount == 0 ? 0 : skipCount - 1;
  size_t n = start >= ids.size() ? 0 : ids.size() - start;
  if (n > returnCount) n = returnCount;
  if (n > 0 && (returnMask & VX_READ_MASK_NOTEID) && retBuffer != nullptr) {
    VxHandle h = call.sim.handles.AllocMemory(ids.data() + start, n * sizeof(uint32_t));
    if (h == 0) return call.Done(VX_ERR_NO_MEMORY);
    *retBuffer = h;
    if (retBufferLength != nullptr) *retBufferLength = static_cast<uint32_t>(n * 4);
    call.line.Unsigned("buffer", h);
  }
  if (retNumberReturned != nullptr) *retNumberReturned = static_cast<uint32_t>(n);
  if (retSignalFlags != nullptr && start + n < ids.size()) *retSignalFlags = VX_SIGNAL_MORE_TO_DO;
  call.line.Unsigned("returned", n);
  return call.Done(0);
}

VxStatus VxViewClose(VxCollectionHandle collection) {
  ApiCall call("VxViewClose");
  call.line.Unsigned("handle", collection);
  if (call.fault) return call.Done(call.fault);
  bool ok = call.sim.handles.Free(collection, HandleKind::kCollection);
  return call.Done(ok ? 0 : VX_ERR_INVALID_HANDLE);
}

VxStatus VxDirLookup(const char* server, uint16_t flags, uint16_t nameSpaceCount,
                     const char* nameSpaces, uint16_t nameCount, const char* names,
                     uint16_t itemCount, const char* items, VxMemHandle* retBuffer) {
  ApiCall call("VxDirLookup");
  call.line.Text("server", server).Unsigned("flags", flags).Text("namespace", nameSpaces);
  if (retBuffer != nullptr) *retBuffer = 0;
  if (call.fault) return call.Done(call.fault);
  if (retBuffer == nullptr || (nameSpaceCount > 0 && nameSpaces == nullptr) ||
      (nameCount > 0 && names == nullptr) || (itemCount > 0 && items == nullptr))
    return call.Done(VX_ERR_BAD_PARAM);
  // Packed texts, each terminated.
  auto unpack = [](const char* packed, uint16_t count) {
    std::vector<std::string> out;
    for (uint16_t i = 0; i < count; ++i) {
      out.emplace_back(packed);
      packed += out.back().size() + 1;
    }
    return out;
  };
  std::vector<std::string> spaces = unpack(nameSpaces, nameSpaceCount);
  std::vector<std::string> wanted = unpack(names, nameCount);
  std::vector<std::string> itemNames = unpack(items, itemCount);
  bool groupSpace = false;
  for (const std::string& s : spaces)
    if (strcasecmp(s.c_str(), "$PeopleGroupsFlat") == 0 || strcasecmp(s.c_str(), "$Groups") == 0)
      groupSpace = true;
  const DbModel& model = *call.sim.model.Data().db;
  std::vector<vaxelsim::DirName> found;
  unsigned long total = 0;
  for (const std::string& name : wanted) {
    vaxelsim::DirName record;
    for (const std::string& group : groupSpace ? model.groups : std::vector<std::string>()) {
      if (!name.empty() && strcasecmp(name.c_str(), group.c_str()) != 0) continue;
      vaxelsim::DirMatch m;
      for (const std::string& item : itemNames) {
        std::vector<std::string> values;
        if (strcasecmp(item.c_str(), "ListName") == 0) values.push_back(group);
        m.items.push_back(values);
      }
      record.matches.push_back(m);
      ++total;
    }
    found.push_back(record);
  }
  std::string buffer = vaxelsim::EncodeLookup(found);
  VxHandle h = call.sim.handles.AllocMemory(buffer.data(), buffer.size());
  if (h == 0) return call.Done(VX_ERR_NO_MEMORY);
  *retBuffer = h;
  call.line.Unsigned("handle", h).Unsigned("matches", total);
  return call.Done(0);
}

void* VxDirLocateNextName(void* lookupBuffer, void* prevName, uint16_t* retMatchCount) {
  ApiCall call("VxDirLocateNextName");
  if (retMatchCount != nullptr) *retMatchCount = 0;
  const void* next = nullptr;
  uint16_t count = 0;
  if (!call.fault) next = vaxelsim::NextName(lookupBuffer, prevName, &count);
  if (next != nullptr) {
    if (retMatchCount != nullptr) *retMatchCount = count;
    call.line.Unsigned("matches", count);
  }
  call.line.Text("result", next != nullptr ? "ok" : "null");
  call.Finish();
  return const_cast<void*>(next);
}

void* VxDirLocateNextMatch(void* lookupBuffer, void* name, void* prevMatch) {
  ApiCall call("VxDirLocateNextMatch");
  const void* next = nullptr;
  if (!call.fault) next = vaxelsim::NextMatch(lookupBuffer, name, prevMatch);
  call.line.Text("result", next != nullptr ? "ok" : "null");
  call.Finish();
  return const_cast<void*>(next);
}

VxStatus VxDirGetTextItem(void* match, uint16_t itemNumber, uint16_t valueNumber, char* buffer,
                          uint16_t bufferSize) {
  ApiCall call("VxDirGetTextItem");
  call.line.Unsigned("item", itemNumber).Unsigned("value", valueNumber);
  if (buffer != nullptr && bufferSize > 0) buffer[0] = '\0';
  if (call.fault) return call.Done(call.fault);
  if (match == nullptr || buffer == nullptr || bufferSize == 0)
    return call.Done(VX_ERR_BAD_PARAM);
  std::string text;
  if (!vaxelsim::MatchText(match, itemNumber, valueNumber, &text))
    return call.Done(VX_ERR_ITEM_NOT_FOUND);
  size_t n = text.size() < bufferSize - 1u ? text.size() : bufferSize - 1u;
  memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  call.line.Text("text", buffer);
  return call.Done(0);
}

}  // extern "C"
