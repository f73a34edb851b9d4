// Numbers in the collector's answers.
//
// The collector sends statistics as plain numbers ("1234567", "97.25"), but
// some columns pass a figure as the server wrote it, with the server's
// thousands and decimal separators ("1,234,567", or "1.234.567,5" on a
// server set up that way).  A cell is a number when it is one of these
// forms, and nothing else: a date, a word, an empty cell or a number with
// trailing text is never a sample.
//
// Thread-safety: pure functions.
#ifndef QVD_QVDEXPORTER_NUMBER_H_
#define QVD_QVDEXPORTER_NUMBER_H_

#include <string>

namespace qvdexporter {

// The server's separators; the default is what the example server uses.
struct NumberFormat {
  char thousands = ',';
  char decimal = '.';
};

// Reads `text` as a number and stores it in *value.  Accepted: an optional
// minus sign, then either plain digits with an optional "." fraction, or
// digits in groups of three split by `format.thousands` (the first group 1
// to 3 digits) with an optional `format.decimal` fraction.  The plain form is
// tried first, so "1.234" is 1.234 even on a server whose thousands
// separator is ".".  Returns false for anything else, and for a magnitude
// that does not fit a double.
bool ParseNumber(const std::string& text, const NumberFormat& format, double* value);

}  // namespace qvdexporter

#endif  // QVD_QVDEXPORTER_NUMBER_H_
