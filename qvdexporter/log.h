// The exporter's log: one logfmt line per message on standard error, as
// Prometheus's own programs write them:
//   ts=2026-12-07T10:15:30.123Z level=warn msg="the collector ended; ..."
//
// Thread-safety: Log() may be called from any thread; lines never mix.
#ifndef QVD_QVDEXPORTER_LOG_H_
#define QVD_QVDEXPORTER_LOG_H_

#include <string>

namespace qvdexporter {

enum class Level { kDebug, kInfo, kWarn, kError };

// Lines below `level` are not written (default: info).
void SetLogLevel(Level level);

// Writes one line; `message` is quoted and escaped.
void Log(Level level, const std::string& message);

}  // namespace qvdexporter

#endif  // QVD_QVDEXPORTER_LOG_H_
