// Selection formulas the simulated server understands:
//   SELECT @All
//   SELECT FORM = "Events":"Replication"
// Keywords and the item name FORM ignore case; blanks may stand between
// the parts and a ";" may end the formula.  Thread-safe.
#ifndef QVD_SIM_FORMULA_H_
#define QVD_SIM_FORMULA_H_

#include <cstddef>
#include <string>
#include <vector>

#include "sim/db_model.h"

namespace vaxelsim {

struct Selection {
  bool all = true;                 // SELECT @All, or no formula
  std::vector<std::string> forms;  // else: the forms selected, compared exactly

  // True when the document is selected: every document for @All, else one
  // whose "Form" item (a text, or a text list with such an entry) is one of
  // the forms.
  bool Selects(const Document& doc) const;
};

// Reads a formula.  False when it is not one of the shapes above; then
// *errorOffset is the byte where reading failed.
bool ParseSelection(const char* text, size_t length, Selection* out, size_t* errorOffset);

}  // namespace vaxelsim

#endif  // QVD_SIM_FORMULA_H_
