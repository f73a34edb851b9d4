// Test support: reads back the trace lines the code under test writes.
#ifndef QVD_STATS_TRACE_CAPTURE_TESTUTIL_H_
#define QVD_STATS_TRACE_CAPTURE_TESTUTIL_H_

#include <string>
#include <vector>

// Sets the trace levels (a QVD_TRACE value) and forgets earlier lines.
void StatsTraceStart(const char* levels);

// The message part of every line written since the last call, for units
// whose name starts with `unitPrefix`.
std::vector<std::string> StatsTraceLines(const char* unitPrefix);

// True when one of `lines` equals `text`.
bool HasLine(const std::vector<std::string>& lines, const std::string& text);

#endif  // QVD_STATS_TRACE_CAPTURE_TESTUTIL_H_
