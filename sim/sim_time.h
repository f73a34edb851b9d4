// Time of the simulated server: the VxTimeDate encoding, the calendar in the
// host's local zone, and the server's text form of a time.
//
// A VxTimeDate holds a signed 64-bit count of hundredths of a second since
// 1 January 1970 UTC, low word in Innards[0].  Three values are reserved:
// the minimum, the maximum and the wildcard, which compares equal to any
// time.  All functions are pure (apart from reading the host's zone) and
// thread-safe.
#ifndef QVD_SIM_SIM_TIME_H_
#define QVD_SIM_SIM_TIME_H_

#include <cstdint>
#include <string>

#include "serverapi/vaxel.h"

namespace vaxelsim {

constexpr int64_t kTicksPerSecond = 100;
constexpr int64_t kTicksMinimum = INT64_MIN;
constexpr int64_t kTicksMaximum = INT64_MAX - 1;
constexpr int64_t kTicksWildcard = INT64_MAX;

int64_t TicksOf(const VxTimeDate& t);
VxTimeDate TimeOf(int64_t ticks);
inline bool IsWildcard(const VxTimeDate& t) { return TicksOf(t) == kTicksWildcard; }
// A time the calendar functions can handle (years 1..9999, not reserved).
bool IsOrdinary(int64_t ticks);

// The host's real clock.
int64_t RealNowTicks();

// Date order of the text form.
enum class DateOrder { kMDY, kDMY, kYMD };
DateOrder DateOrderOf(uint16_t intlFlags);

// Separators and order used to write and read texts.
struct TextStyle {
  DateOrder order = DateOrder::kMDY;
  char dateSep = '/';
  char timeSep = ':';
};
TextStyle StyleOf(const VxLocaleFormat* intl);

// Local calendar fields <-> ticks.  BreakDown fails for reserved or
// out-of-range times; Assemble fails for invalid fields.
bool BreakDown(int64_t ticks, VxTime* out);
bool Assemble(const VxTime& fields, int64_t* ticks);

// Writes "12/06/2026 10:00:00 AM" (the parts `structure` selects, a
// VX_TFMT_* value).  The wildcard is written as "*".
std::string FormatTime(int64_t ticks, const TextStyle& style, uint8_t structure);

// Reads a date and time in the server's form from at most `length` bytes.
// Accepts the date alone (midnight), the time alone (on the day of
// `todayTicks`), a 24-hour or AM/PM time, seconds and hundredths optional,
// two-digit years (below 50: 20xx), and "/", "-", "." or the style's own
// separator between date fields.  Text after a blank that follows a complete
// date and time is ignored.
bool ParseTime(const char* text, size_t length, const TextStyle& style, int64_t todayTicks,
               int64_t* ticks);

}  // namespace vaxelsim

#endif  // QVD_SIM_SIM_TIME_H_
