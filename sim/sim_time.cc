#include "sim/sim_time.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace vaxelsim {

int64_t TicksOf(const VxTimeDate& t) {
  uint64_t u = (static_cast<uint64_t>(t.Innards[1]) << 32) | t.Innards[0];
  return static_cast<int64_t>(u);
}

VxTimeDate TimeOf(int64_t ticks) {
  uint64_t u = static_cast<uint64_t>(ticks);
  VxTimeDate t;
  t.Innards[0] = static_cast<uint32_t>(u & 0xFFFFFFFFu);
  t.Innards[1] = static_cast<uint32_t>(u >> 32);
  return t;
}

// Years 1 to 9999 in ticks, with a day of margin for any time zone.
constexpr int64_t kFirstTick = -62135596800LL * kTicksPerSecond + 86400LL * kTicksPerSecond;
constexpr int64_t kLastTick = 253402300799LL * kTicksPerSecond - 86400LL * kTicksPerSecond;

bool IsOrdinary(int64_t ticks) { return ticks >= kFirstTick && ticks <= kLastTick; }

int64_t RealNowTicks() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * kTicksPerSecond + ts.tv_nsec / 10000000;
}

DateOrder DateOrderOf(uint16_t intlFlags) {
  if (intlFlags & VX_INTL_DATE_DMY) return DateOrder::kDMY;
  if (intlFlags & VX_INTL_DATE_YMD) return DateOrder::kYMD;
  return DateOrder::kMDY;
}

TextStyle StyleOf(const VxLocaleFormat* intl) {
  TextStyle s;
  if (intl == nullptr) return s;
  s.order = DateOrderOf(intl->Flags);
  if (intl->DateString[0] != '\0' && !isdigit(static_cast<unsigned char>(intl->DateString[0])))
    s.dateSep = intl->DateString[0];
  if (intl->TimeString[0] != '\0' && !isdigit(static_cast<unsigned char>(intl->TimeString[0])))
    s.timeSep = intl->TimeString[0];
  return s;
}

static int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

bool BreakDown(int64_t ticks, VxTime* out) {
  if (!IsOrdinary(ticks)) return false;
  int64_t secs = FloorDiv(ticks, kTicksPerSecond);
  time_t tt = static_cast<time_t>(secs);
  struct tm tm;
  if (localtime_r(&tt, &tm) == nullptr) return false;
  out->year = tm.tm_year + 1900;
  out->month = tm.tm_mon + 1;
  out->day = tm.tm_mday;
  out->weekday = tm.tm_wday + 1;
  out->hour = tm.tm_hour;
  out->minute = tm.tm_min;
  out->second = tm.tm_sec;
  out->hundredth = static_cast<int32_t>(ticks - secs * kTicksPerSecond);
  out->dst = tm.tm_isdst > 0 ? 1 : 0;
  out->zone = static_cast<int32_t>(-tm.tm_gmtoff / 3600);
  out->GM = TimeOf(ticks);
  return true;
}

static int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2) {
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return leap ? 29 : 28;
  }
  return kDays[month - 1];
}

bool Assemble(const VxTime& f, int64_t* ticks) {
  if (f.year < 1 || f.year > 9999 || f.month < 1 || f.month > 12 || f.day < 1 ||
      f.day > DaysInMonth(f.year, f.month) || f.hour < 0 || f.hour > 23 || f.minute < 0 ||
      f.minute > 59 || f.second < 0 || f.second > 59 || f.hundredth < 0 || f.hundredth > 99)
    return false;
  struct tm tm;
  memset(&tm, 0, sizeof tm);
  tm.tm_year = f.year - 1900;
  tm.tm_mon = f.month - 1;
  tm.tm_mday = f.day;
  tm.tm_hour = f.hour;
  tm.tm_min = f.minute;
  tm.tm_sec = f.second;
  tm.tm_isdst = -1;
  time_t tt = mktime(&tm);
  if (tt == static_cast<time_t>(-1) && !(tm.tm_year == 69 && tm.tm_mon == 11 && tm.tm_mday == 31))
    return false;
  int64_t t = static_cast<int64_t>(tt) * kTicksPerSecond + f.hundredth;
  if (!IsOrdinary(t)) return false;
  *ticks = t;
  return true;
}

std::string FormatTime(int64_t ticks, const TextStyle& style, uint8_t structure) {
  if (ticks == kTicksWildcard) return "*";
  VxTime f;
  if (!BreakDown(ticks, &f)) return std::string();
  char date[32];
  char time[32];
  const char s = style.dateSep;
  switch (style.order) {
    case DateOrder::kDMY:
      snprintf(date, sizeof date, "%02d%c%02d%c%04d", f.day, s, f.month, s, f.year);
      break;
    case DateOrder::kYMD:
      snprintf(date, sizeof date, "%04d%c%02d%c%02d", f.year, s, f.month, s, f.day);
      break;
    case DateOrder::kMDY:
      snprintf(date, sizeof date, "%02d%c%02d%c%04d", f.month, s, f.day, s, f.year);
      break;
  }
  int h12 = f.hour % 12 == 0 ? 12 : f.hour % 12;
  snprintf(time, sizeof time, "%02d%c%02d%c%02d %s", h12, style.timeSep, f.minute, style.timeSep,
           f.second, f.hour < 12 ? "AM" : "PM");
  if (structure == VX_TFMT_DATE_ONLY) return date;
  if (structure == VX_TFMT_TIME_ONLY) return time;
  return std::string(date) + " " + time;
}

namespace {

// A cursor over at most `length` bytes that ends at a terminator.
struct Cursor {
  const char* p;
  const char* end;
  bool AtEnd() const { return p >= end || *p == '\0'; }
  char Peek() const { return AtEnd() ? '\0' : *p; }
  void SkipBlanks() {
    while (!AtEnd() && (*p == ' ' || *p == '\t')) ++p;
  }
  // Reads 1 to 4 digits; returns the number of digits (0: none).
  int Number(int* value) {
    int n = 0;
    int v = 0;
    while (!AtEnd() && isdigit(static_cast<unsigned char>(*p)) && n < 4) {
      v = v * 10 + (*p - '0');
      ++p;
      ++n;
    }
    *value = v;
    return n;
  }
};

bool IsDateSep(char c, const TextStyle& st) {
  return c == '/' || c == '-' || c == '.' || c == st.dateSep;
}

// h:mm[:ss[.hh]] [AM|PM]
bool ParseClock(Cursor* c, const TextStyle& st, VxTime* f) {
  int h = 0, m = 0, s = 0, hh = 0;
  if (c->Number(&h) == 0 || h > 24) return false;
  if (c->Peek() != st.timeSep && c->Peek() != ':') return false;
  ++c->p;
  if (c->Number(&m) != 2) return false;
  if (c->Peek() == st.timeSep || c->Peek() == ':') {
    ++c->p;
    if (c->Number(&s) != 2) return false;
    if (c->Peek() == '.' || c->Peek() == ',') {
      ++c->p;
      int digits = c->Number(&hh);
      if (digits == 0 || digits > 2) return false;
      if (digits == 1) hh *= 10;
    }
  }
  Cursor save = *c;
  c->SkipBlanks();
  char a = static_cast<char>(toupper(static_cast<unsigned char>(c->Peek())));
  if ((a == 'A' || a == 'P') && c->p + 1 < c->end &&
      toupper(static_cast<unsigned char>(c->p[1])) == 'M') {
    c->p += 2;
    if (h < 1 || h > 12) return false;
    h = h % 12 + (a == 'P' ? 12 : 0);
  } else {
    *c = save;
    if (h == 24) {
      if (m != 0 || s != 0 || hh != 0) return false;
      h = 0;  // 24:00 is midnight; the day is not moved on.
    }
  }
  f->hour = h;
  f->minute = m;
  f->second = s;
  f->hundredth = hh;
  return true;
}

// Three date fields in the style's order.
bool ParseDate(Cursor* c, const TextStyle& st, VxTime* f) {
  int v[3];
  int digits[3];
  for (int i = 0; i < 3; ++i) {
    digits[i] = c->Number(&v[i]);
    if (digits[i] == 0) return false;
    if (i < 2) {
      if (!IsDateSep(c->Peek(), st)) return false;
      ++c->p;
    }
  }
  int yi = st.order == DateOrder::kYMD ? 0 : 2;
  int mi = st.order == DateOrder::kDMY ? 1 : (st.order == DateOrder::kYMD ? 1 : 0);
  int di = st.order == DateOrder::kDMY ? 0 : (st.order == DateOrder::kYMD ? 2 : 1);
  int year = v[yi];
  if (digits[yi] <= 2) year += year < 50 ? 2000 : 1900;
  f->year = year;
  f->month = v[mi];
  f->day = v[di];
  return true;
}

bool EndsCleanly(Cursor* c) {
  if (c->AtEnd()) return true;
  return *c->p == ' ' || *c->p == '\t' || *c->p == '\r' || *c->p == '\n';
}

}  // namespace

bool ParseTime(const char* text, size_t length, const TextStyle& st, int64_t todayTicks,
               int64_t* ticks) {
  if (text == nullptr) return false;
  Cursor c{text, text + length};
  c.SkipBlanks();
  VxTime f;
  memset(&f, 0, sizeof f);
  // A time alone starts with digits followed by the time separator.
  Cursor probe = c;
  int dummy;
  probe.Number(&dummy);
  bool timeOnly = probe.Peek() == st.timeSep || probe.Peek() == ':';
  if (timeOnly) {
    VxTime today;
    if (!BreakDown(todayTicks, &today)) return false;
    f.year = today.year;
    f.month = today.month;
    f.day = today.day;
    if (!ParseClock(&c, st, &f) || !EndsCleanly(&c)) return false;
  } else {
    if (!ParseDate(&c, st, &f)) return false;
    if (!EndsCleanly(&c)) return false;
    Cursor afterDate = c;
    c.SkipBlanks();
    if (!c.AtEnd() && isdigit(static_cast<unsigned char>(c.Peek()))) {
      if (!ParseClock(&c, st, &f) || !EndsCleanly(&c)) return false;
    } else {
      c = afterDate;
    }
  }
  return Assemble(f, ticks);
}

}  // namespace vaxelsim
