// Test support: reads back the trace lines the code under test writes.
//
// The first call points QVD_TRACE_FILE at a fresh temporary file (removed at
// exit) and reloads the trace configuration, so lines go there from then on;
// each call of TraceCaptureLines returns only what was appended since the
// previous one.  Meant for tests: it changes the process's trace output.
#ifndef QVD_FRAMEWORK_TRACE_CAPTURE_H_
#define QVD_FRAMEWORK_TRACE_CAPTURE_H_

#include <string>
#include <vector>

// Sets the trace levels (a QVD_TRACE value such as "none", "detail" or
// "serverapi=0x40") and skips what was written so far.
void TraceCaptureStart(const char* levels);

// Returns the message part of every line written since the last call (or
// since TraceCaptureStart): the text after "<unit> <KIND> ", for units whose
// name starts with `unitPrefix`.
std::vector<std::string> TraceCaptureLines(const char* unitPrefix);

// True when one of `lines` equals `text`.
bool TraceCaptureHas(const std::vector<std::string>& lines, const std::string& text);

#endif  // QVD_FRAMEWORK_TRACE_CAPTURE_H_
