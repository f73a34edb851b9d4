// The handles the simulated server hands out: memory blocks, and open
// databases, documents and view collections.
//
// Handles are 16 bits wide; 0 is never valid.  A freed handle is not reused
// until every other handle value has been used once, so a stale handle is
// reported as invalid rather than reaching another object.  Not thread-safe:
// the simulator's mutex guards the one table.
#ifndef QVD_SIM_HANDLE_TABLE_H_
#define QVD_SIM_HANDLE_TABLE_H_

#include <cstddef>
#include <memory>
#include <vector>

#include "serverapi/vaxel.h"

namespace vaxelsim {

enum class HandleKind : unsigned char { kFree = 0, kMemory, kDatabase, kDocument, kCollection };

class HandleTable {
 public:
  HandleTable();

  // A memory block of `size` bytes copied from `init` (or zeroed when null),
  // followed by one zero byte that is not part of the block.  0 when every
  // handle is in use.
  VxHandle AllocMemory(const void* init, size_t size);
  // Address of the block and its lock count raised; null for a handle that
  // is not a memory handle.
  void* Lock(VxHandle h);
  // Lowers the lock count; returns the remaining count, -1 for a bad handle.
  int Unlock(VxHandle h);
  // Address and size without locking; null for a bad handle.
  void* Peek(VxHandle h, size_t* size);

  // Registers an object of another kind.  0 when every handle is in use.
  VxHandle AddObject(HandleKind kind, std::shared_ptr<void> object);
  // The object of handle h when it is of `kind`, else null.
  std::shared_ptr<void> Object(VxHandle h, HandleKind kind) const;

  // Releases h when it is of `kind`.  False for a bad handle.
  bool Free(VxHandle h, HandleKind kind);

  size_t Held() const { return held_; }
  size_t Held(HandleKind kind) const;
  // Releases every handle.
  void Clear();

 private:
  struct Entry {
    HandleKind kind = HandleKind::kFree;
    int locks = 0;
    size_t size = 0;
    std::unique_ptr<char[]> block;
    std::shared_ptr<void> object;
  };
  VxHandle Claim();

  std::vector<Entry> entries_;  // index = handle; entry 0 unused
  VxHandle next_ = 1;
  size_t held_ = 0;
};

}  // namespace vaxelsim

#endif  // QVD_SIM_HANDLE_TABLE_H_
