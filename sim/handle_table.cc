#include "sim/handle_table.h"

#include <cstring>
#include <new>

namespace vaxelsim {

HandleTable::HandleTable() : entries_(65536) {}

VxHandle HandleTable::Claim() {
  for (unsigned tries = 0; tries < 65535; ++tries) {
    VxHandle h = next_;
    next_ = next_ == 65535 ? 1 : static_cast<VxHandle>(next_ + 1);
    if (entries_[h].kind == HandleKind::kFree) return h;
  }
  return 0;
}

VxHandle HandleTable::AllocMemory(const void* init, size_t size) {
  VxHandle h = Claim();
  if (h == 0) return 0;
  std::unique_ptr<char[]> block(new (std::nothrow) char[size + 1]);
  if (!block) return 0;
  if (init != nullptr && size > 0)
    memcpy(block.get(), init, size);
  else
    memset(block.get(), 0, size);
  block[size] = '\0';
  Entry& e = entries_[h];
  e.kind = HandleKind::kMemory;
  e.locks = 0;
  e.size = size;
  e.block = std::move(block);
  ++held_;
  return h;
}

void* HandleTable::Lock(VxHandle h) {
  Entry& e = entries_[h];
  if (h == 0 || e.kind != HandleKind::kMemory) return nullptr;
  ++e.locks;
  return e.block.get();
}

int HandleTable::Unlock(VxHandle h) {
  Entry& e = entries_[h];
  if (h == 0 || e.kind != HandleKind::kMemory) return -1;
  if (e.locks > 0) --e.locks;
  return e.locks;
}

void* HandleTable::Peek(VxHandle h, size_t* size) {
  Entry& e = entries_[h];
  if (h == 0 || e.kind != HandleKind::kMemory) return nullptr;
  if (size != nullptr) *size = e.size;
  return e.block.get();
}

VxHandle HandleTable::AddObject(HandleKind kind, std::shared_ptr<void> object) {
  VxHandle h = Claim();
  if (h == 0) return 0;
  Entry& e = entries_[h];
  e.kind = kind;
  e.object = std::move(object);
  ++held_;
  return h;
}

std::shared_ptr<void> HandleTable::Object(VxHandle h, HandleKind kind) const {
  const Entry& e = entries_[h];
  if (h == 0 || e.kind != kind) return nullptr;
  return e.object;
}

bool HandleTable::Free(VxHandle h, HandleKind kind) {
  Entry& e = entries_[h];
  if (h == 0 || e.kind != kind || kind == HandleKind::kFree) return false;
  e = Entry();
  --held_;
  return true;
}

size_t HandleTable::Held(HandleKind kind) const {
  size_t n = 0;
  for (const Entry& e : entries_)
    if (e.kind == kind) ++n;
  return n;
}

void HandleTable::Clear() {
  for (Entry& e : entries_) e = Entry();
  held_ = 0;
  next_ = 1;
}

}  // namespace vaxelsim
