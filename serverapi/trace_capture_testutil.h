// Test support: captures the trace lines the code under test writes.
//
// The framework opens its output file once, at the first line it writes, so
// the capture file is set up before main runs (by this file's static
// initialiser) and every test reads only what was appended since it asked.
#ifndef QVD_SERVERAPI_TRACE_CAPTURE_TESTUTIL_H_
#define QVD_SERVERAPI_TRACE_CAPTURE_TESTUTIL_H_

#include <string>
#include <vector>

// Sets the trace levels (a QVD_TRACE value such as "none", "detail" or
// "serverapi=0x40") and skips what was written so far.
void TraceCaptureStart(const char* levels);

// Returns the message part of every line written since the last call (or
// since TraceCaptureStart): the text after "<unit> <KIND> ", for units whose
// name starts with `unitPrefix`.
std::vector<std::string> TraceCaptureLines(const char* unitPrefix);

#endif  // QVD_SERVERAPI_TRACE_CAPTURE_TESTUTIL_H_
