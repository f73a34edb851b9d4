// Item values in the server API's form, summary item tables, and the JSON
// form of a saved document's items.  Pure functions; thread-safe.
#ifndef QVD_SIM_ITEM_VALUES_H_
#define QVD_SIM_ITEM_VALUES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "sim/db_model.h"
#include "sim/sim_time.h"

namespace vaxelsim {

// Values: a 16-bit data type, then the data.  A text list holds a 16-bit
// count, one 16-bit length per entry, then the entries' bytes; entries must
// be at most 65535 bytes and there at most 65535 of them.
std::string TextValue(const std::string& text);
std::string TextListValue(const std::vector<std::string>& entries);
std::string NumberValue(double number);
std::string TimeValue(int64_t ticks);

// The item named `name` (compared ignoring case, `length` bytes), or null.
const Item* FindItem(const std::vector<Item>& items, const char* name, size_t length);

// The entries of a text or text list value; false for other types or a
// value too short for its content.
bool TextsOf(const std::string& value, std::vector<std::string>* out);

// A summary item table of the items, in order: a 16-bit total length (the
// table's own four header bytes included), a 16-bit item count, per item a
// 16-bit name length and a 16-bit value length, then per item its name and
// value bytes.  Items that would take the table beyond 65535 bytes are left
// out.
std::string SummaryTable(const std::vector<Item>& items);

// The items as one JSON object, written with ", " and ": " between parts:
// texts as JSON texts, text lists as lists of texts, numbers as
// {"number": n} and times as {"time": "..."} in `style`'s date order.
// Bytes that are not UTF-8 are written as \u00XX escapes.
std::string ItemsJson(const std::vector<Item>& items, const TextStyle& style);
// A JSON text literal of `text`, in the same way.
std::string JsonText(const std::string& text);

}  // namespace vaxelsim

#endif  // QVD_SIM_ITEM_VALUES_H_
