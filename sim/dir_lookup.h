// The buffer of a directory lookup (VxDirLookup) and the walk over it
// (VxDirLocateNextName, VxDirLocateNextMatch, VxDirGetTextItem).
//
// Layout, all numbers in host order:
//   buffer: "VXDL", 32-bit total size, 16-bit name count, 16 bits spare,
//           then the name records;
//   name:   "NAME", 32-bit record size (this header included), 16-bit match
//           count, 16 bits spare, then the match records;
//   match:  "MTCH", 32-bit record size, 16-bit item count, 16 bits spare,
//           then per item a 16-bit value count and per value a 16-bit
//           length and its bytes.
// The walk checks every record's tag and stays inside the sizes it reads,
// so a pointer that is not from the buffer ends the walk instead of reading
// beyond it.  Pure functions; thread-safe.
#ifndef QVD_SIM_DIR_LOOKUP_H_
#define QVD_SIM_DIR_LOOKUP_H_

#include <cstdint>
#include <string>
#include <vector>

namespace vaxelsim {

struct DirMatch {
  std::vector<std::vector<std::string>> items;  // per item requested, its values
};
struct DirName {
  std::vector<DirMatch> matches;
};

// The buffer for these names, in order.  Texts longer than 65535 bytes are
// cut.
std::string EncodeLookup(const std::vector<DirName>& names);

// The name record after `prev` (null: the first); null when none is left.
const void* NextName(const void* buffer, const void* prev, uint16_t* matchCount);
// The match after `prev` (null: the first) within a name record.
const void* NextMatch(const void* buffer, const void* name, const void* prev);
// Value `value` of item `item` of a match; false when there is none.
bool MatchText(const void* match, uint16_t item, uint16_t value, std::string* out);

}  // namespace vaxelsim

#endif  // QVD_SIM_DIR_LOOKUP_H_
