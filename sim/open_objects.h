// What the simulator's database, document and collection handles hold.
//
// An open database keeps the model it was opened on, so a model that
// changes while it is open does not change it.  A document holds its own
// copy of its items: callers may write into values handed out to them, and
// the collector's new documents grow item by item.  Guarded by the
// simulator's mutex like the handle table that owns them.
#ifndef QVD_SIM_OPEN_OBJECTS_H_
#define QVD_SIM_OPEN_OBJECTS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/db_model.h"
#include "sim/simulator.h"

namespace vaxelsim {

struct OpenDb {
  std::shared_ptr<const DbModel> model;
  std::string path;                      // relative to the data directory
  const DatabaseModel* entry = nullptr;  // in model; null for an unlisted folder
  bool directory = false;
  std::string canonicalPath;  // what VxDbPathGet answers
  std::string expandedPath;
};

struct OpenDoc {
  std::shared_ptr<const DbModel> model;
  std::string dbPath;
  uint32_t noteId = 0;  // 0 for a new document
  std::vector<Item> items;
};

struct OpenView {
  std::vector<uint32_t> ids;
};

// The object of a handle of that kind, or null.  REQUIRES: the call's lock.
inline std::shared_ptr<OpenDb> DbOf(ApiCall& call, VxHandle h) {
  return std::static_pointer_cast<OpenDb>(call.sim.handles.Object(h, HandleKind::kDatabase));
}
inline std::shared_ptr<OpenDoc> DocOf(ApiCall& call, VxHandle h) {
  return std::static_pointer_cast<OpenDoc>(call.sim.handles.Object(h, HandleKind::kDocument));
}
inline std::shared_ptr<OpenView> ViewOf(ApiCall& call, VxHandle h) {
  return std::static_pointer_cast<OpenView>(call.sim.handles.Object(h, HandleKind::kCollection));
}

}  // namespace vaxelsim

#endif  // QVD_SIM_OPEN_OBJECTS_H_
