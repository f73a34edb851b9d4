// Trace facility of the agent framework (stand-in).
//
// Every source module of the collector owns one trace unit, declared with
// QVD_TRACE_UNIT at file scope.  A unit carries level flags:
//   TRACE_DETAIL (0x01)  detail lines
//   TRACE_FLOW   (0x40)  function entry and exit events
//   TRACE_ERROR  (0x80)  error lines
// A line marked "always" is written whenever the unit's flags are not 0.
//
// Levels come from QVD_TRACE ("none", "error" (default), "flow", "detail",
// "all" in any letter case, or a number; optionally per unit:
// "error,stats=detail").  Unknown words are ignored; TraceConfigProblems
// names them.  A unit
// setting names a unit or a prefix of unit names ending at a '/':
// "stats=detail" covers "stats/snapshot" and "stats/rows".  The control file
// named by QVD_TRACE_CONTROL, when set, is read at start and again on every
// SIGHUP; its first line replaces QVD_TRACE.  Each reload moves the change
// counter, and TraceLevel() re-syncs a unit the next time it is asked.
// When QVD_TRACE_CONTROL is set at the first trace call and SIGHUP still has
// its default action, the SIGHUP handler is installed then.
//
// Output goes to the file named by QVD_TRACE_FILE (appended), else stderr.
// Every reload (SIGHUP or TraceReload) closes the file and opens the name
// QVD_TRACE_FILE has then, so a rotated trace file is followed.
// One line per call:
//   2026-12-07 10:00:00.123 [tid] unit KIND message
// Lines are written with one write(2) each under a process-wide lock, so
// they never interleave and are on disk (page cache) once the call returns.
// A line that cannot be written (a reader of standard error that went away)
// is dropped; the program must ignore SIGPIPE for that (qvdclient does).
//
// Thread-safety: every function may be called from any thread.
#ifndef QVD_FRAMEWORK_TRACE_H_
#define QVD_FRAMEWORK_TRACE_H_

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

enum : unsigned {
  TRACE_DETAIL = 0x01,
  TRACE_FLOW = 0x40,
  TRACE_ERROR = 0x80,
  TRACE_ALL = 0xFFu,
  TRACE_ALWAYS = 0x100,  // kind only: a line written whenever flags != 0
};

// Kinds of TraceEvent.
enum TraceEventKind { TRACE_ENTRY = 0, TRACE_EXIT = 1, TRACE_EXIT_VOID = 2 };

// One unit per source module.  Zero-initialised apart from the name; the
// framework fills in the level on first use.
struct TraceUnit {
  const char* name;
  std::atomic<unsigned> level{0};
  std::atomic<unsigned> synced{0};  // change counter value of the last sync
};

// Declares the module's unit: QVD_TRACE_UNIT("stats/snapshot");
#define QVD_TRACE_UNIT(unit_name) [[maybe_unused]] static TraceUnit qvd_trace_unit{unit_name}

// The framework's change counter; moves on every level reload.  Never 0.
unsigned TraceChangeCounter();

// Re-reads the unit's level from the current configuration.
void TraceSync(TraceUnit* unit);

// Returns the unit's flags, calling TraceSync first when the change counter
// moved since the unit was last synced.  When nothing changed this costs a
// few atomic loads and no lock or read-modify-write.
unsigned TraceLevel(TraceUnit* unit);

// Writes one line of the given kind (TRACE_DETAIL, TRACE_ERROR, TRACE_ALWAYS
// or TRACE_FLOW) without testing the level; callers test it.  A trailing
// line feed in the formatted text is dropped.
void TracePrintf(TraceUnit* unit, unsigned kind, int line, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));

// Writes an entry (TRACE_ENTRY), exit-with-result (TRACE_EXIT) or
// exit-without-result (TRACE_EXIT_VOID) event for function `func`.
void TraceEvent(TraceUnit* unit, int line, int kind, const char* func, long result);

// Writes `header` then `len` bytes of `buf`, 16 to a line, in hexadecimal with
// their printable form, all in one write:
//   <prefix> DETAIL header
//     00000000  3c 61 3e ...                                      |<a>...|
void TraceDump(TraceUnit* unit, int line, const char* header, const void* buf, size_t len);

// Re-reads the level configuration (QVD_TRACE and the control file), reopens
// the output file and moves the change counter.  The SIGHUP handler requests
// the same through a flag that the next TraceLevel() call acts on.
void TraceReload();

// The levels in force, as a setting with every level as its word or as a
// 0x number, and where they came from:
//   "error,core/availability=detail (from the control file /x/trace.control)"
std::string TraceLevelsInForce();

// What is wrong with the trace configuration in force, one readable text
// each: every ignored word of the level setting, and a QVD_TRACE_FILE that
// could not be opened when a line was last written (with the system's
// reason; lines then go to standard error).
std::vector<std::string> TraceConfigProblems();

// The items of a level setting `text` ("error,stats=detial") that the
// trace facility would ignore.
std::vector<std::string> TraceUnknownWords(const char* text);

// Registers the function called after every reload that SIGHUP requested,
// on the thread whose trace call carried the reload out, with no trace lock
// held (it may trace).  Null removes it.
void TraceSetReloadListener(void (*listener)());

// Installs the SIGHUP handler that makes the next TraceLevel() call reload
// the configuration.  Idempotent.
void TraceInstallSignalHandler();

// Convenience macros over the module's unit (declared by QVD_TRACE_UNIT).
#define QVD_TRACE_ON(flag) ((TraceLevel(&qvd_trace_unit) & (flag)) != 0)
#define QVD_DETAIL(...)                                                               \
  do {                                                                                \
    if (QVD_TRACE_ON(TRACE_DETAIL))                                                   \
      TracePrintf(&qvd_trace_unit, TRACE_DETAIL, __LINE__, __VA_ARGS__);              \
  } while (0)
#define QVD_ERROR(...)                                                                \
  do {                                                                                \
    if (QVD_TRACE_ON(TRACE_ERROR))                                                    \
      TracePrintf(&qvd_trace_unit, TRACE_ERROR, __LINE__, __VA_ARGS__);               \
  } while (0)
#define QVD_ALWAYS(...)                                                               \
  do {                                                                                \
    if (TraceLevel(&qvd_trace_unit) != 0)                                             \
      TracePrintf(&qvd_trace_unit, TRACE_ALWAYS, __LINE__, __VA_ARGS__);              \
  } while (0)
#define QVD_ENTRY()                                                                   \
  do {                                                                                \
    if (QVD_TRACE_ON(TRACE_FLOW))                                                     \
      TraceEvent(&qvd_trace_unit, __LINE__, TRACE_ENTRY, __func__, 0);                \
  } while (0)
#define QVD_EXIT(result)                                                              \
  do {                                                                                \
    if (QVD_TRACE_ON(TRACE_FLOW))                                                     \
      TraceEvent(&qvd_trace_unit, __LINE__, TRACE_EXIT, __func__, (long)(result));    \
  } while (0)
#define QVD_EXIT_VOID()                                                               \
  do {                                                                                \
    if (QVD_TRACE_ON(TRACE_FLOW))                                                     \
      TraceEvent(&qvd_trace_unit, __LINE__, TRACE_EXIT_VOID, __func__, 0);            \
  } while (0)

#endif  // QVD_FRAMEWORK_TRACE_H_
