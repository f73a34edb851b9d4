// Time entry points: the model's clock, calendar arithmetic and the
// server's text form of a time.
#include <cstring>
#include <ctime>
#include <string>

#include "serverapi/vaxel.h"
#include "sim/sim_time.h"
#include "sim/simulator.h"

using vaxelsim::ApiCall;
using vaxelsim::kTicksPerSecond;
using vaxelsim::TicksOf;
using vaxelsim::TimeOf;

namespace {

std::string Describe(int64_t ticks) {
  if (ticks == vaxelsim::kTicksWildcard) return "*";
  if (ticks == vaxelsim::kTicksMinimum) return "minimum";
  if (ticks == vaxelsim::kTicksMaximum) return "maximum";
  return vaxelsim::FormatTime(ticks, vaxelsim::TextStyle(), VX_TFMT_DATE_TIME);
}

}  // namespace

extern "C" {

void VxCurrentTime(VxTimeDate* retTime) {
  ApiCall call("VxCurrentTime");
  int64_t now = call.sim.NowTicks();
  if (retTime != nullptr) *retTime = TimeOf(now);
  call.line.Text("time", Describe(now).c_str());
  call.Finish();
}

void VxSpecialTime(uint16_t kind, VxTimeDate* retTime) {
  ApiCall call("VxSpecialTime");
  call.line.Unsigned("kind", kind);
  int64_t t = vaxelsim::kTicksWildcard;
  if (kind == VX_TIME_MINIMUM)
    t = vaxelsim::kTicksMinimum;
  else if (kind == VX_TIME_MAXIMUM)
    t = vaxelsim::kTicksMaximum;
  else if (kind != VX_TIME_WILDCARD)
    call.line.Text("error", "unknown kind, wildcard given");
  if (retTime != nullptr) *retTime = TimeOf(t);
  call.Finish();
}

int VxTimeAdjust(VxTimeDate* time, int seconds, int minutes, int hours, int days, int months,
                 int years) {
  ApiCall call("VxTimeAdjust");
  call.line.Num("seconds", seconds).Num("minutes", minutes).Num("hours", hours).Num("days", days)
      .Num("months", months).Num("years", years);
  if (call.fault) {
    call.Finish("result", call.fault);
    return call.fault;
  }
  VxTime f;
  if (time == nullptr || !vaxelsim::BreakDown(TicksOf(*time), &f)) {
    call.Finish("result", VX_ERR_TIME_RANGE);
    return VX_ERR_TIME_RANGE;
  }
  // Local calendar arithmetic: a day later keeps the wall-clock time across
  // a daylight saving change; mktime normalises the overflowing fields.
  struct tm tm;
  memset(&tm, 0, sizeof tm);
  long long year = static_cast<long long>(f.year) + years;
  long long month = static_cast<long long>(f.month) - 1 + months;
  if (year < -100000 || year > 100000 || month < -1200000 || month > 1200000) {
    call.Finish("result", VX_ERR_TIME_RANGE);
    return VX_ERR_TIME_RANGE;
  }
  tm.tm_year = static_cast<int>(year - 1900);
  tm.tm_mon = static_cast<int>(month);
  tm.tm_mday = f.day + days;
  tm.tm_hour = f.hour + hours;
  tm.tm_min = f.minute + minutes;
  tm.tm_sec = f.second + seconds;
  tm.tm_isdst = -1;
  time_t tt = mktime(&tm);
  int64_t t = static_cast<int64_t>(tt) * kTicksPerSecond + f.hundredth;
  if (tt == static_cast<time_t>(-1) || !vaxelsim::IsOrdinary(t)) {
    call.Finish("result", VX_ERR_TIME_RANGE);
    return VX_ERR_TIME_RANGE;
  }
  *time = TimeOf(t);
  call.line.Text("time", Describe(t).c_str());
  call.Finish("result", 0);
  return 0;
}

int VxTimeCompare(const VxTimeDate* a, const VxTimeDate* b) {
  ApiCall call("VxTimeCompare");
  int result = 0;
  if (a == nullptr || b == nullptr) {
    call.line.Text("error", "null time");
  } else {
    int64_t ta = TicksOf(*a);
    int64_t tb = TicksOf(*b);
    call.line.Text("a", Describe(ta).c_str()).Text("b", Describe(tb).c_str());
    if (ta != vaxelsim::kTicksWildcard && tb != vaxelsim::kTicksWildcard)
      result = ta < tb ? -1 : (ta > tb ? 1 : 0);
  }
  call.Finish("result", result);
  return result;
}

long VxTimeDifference(const VxTimeDate* a, const VxTimeDate* b) {
  ApiCall call("VxTimeDifference");
  long result = 0;
  if (a != nullptr && b != nullptr) {
    int64_t ta = TicksOf(*a);
    int64_t tb = TicksOf(*b);
    // Reserved values have no distance to anything.
    if (vaxelsim::IsOrdinary(ta) && vaxelsim::IsOrdinary(tb))
      result = static_cast<long>((ta - tb) / kTicksPerSecond);
  }
  call.Finish("result", result);
  return result;
}

int VxTimeBreakDown(VxTime* time) {
  ApiCall call("VxTimeBreakDown");
  int result = VX_ERR_TIME_RANGE;
  if (call.fault) {
    result = call.fault;
  } else if (time != nullptr && vaxelsim::BreakDown(TicksOf(time->GM), time)) {
    result = 0;
  }
  call.Finish("result", result);
  return result;
}

int VxTimeAssemble(VxTime* time) {
  ApiCall call("VxTimeAssemble");
  int result = VX_ERR_TIME_RANGE;
  int64_t t = 0;
  if (call.fault) {
    result = call.fault;
  } else if (time != nullptr && vaxelsim::Assemble(*time, &t)) {
    time->GM = TimeOf(t);
    result = 0;
    call.line.Text("time", Describe(t).c_str());
  }
  call.Finish("result", result);
  return result;
}

VxStatus VxTextToTime(const VxLocaleFormat* intl, const VxTimeFormat* format, const char* text,
                      uint16_t textLength, VxTimeDate* retTime) {
  ApiCall call("VxTextToTime");
  (void)format;  // any form the server writes is read back
  size_t n = 0;
  if (text != nullptr)
    while (n < textLength && text[n] != '\0') ++n;
  call.line.Text("text", text, n);
  if (call.fault) return call.Done(call.fault);
  if (text == nullptr || retTime == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  vaxelsim::TextStyle style;
  if (intl != nullptr) {
    style = vaxelsim::StyleOf(intl);
  } else {
    style = call.sim.model.Data().Style();
  }
  int64_t t = 0;
  if (!vaxelsim::ParseTime(text, n, style, call.sim.NowTicks(), &t))
    return call.Done(VX_ERR_TIME_CONVERSION);
  *retTime = TimeOf(t);
  call.line.Text("time", Describe(t).c_str());
  return call.Done(0);
}

VxStatus VxTimeToText(const VxLocaleFormat* intl, const VxTimeFormat* format,
                      const VxTimeDate* time, char* buffer, uint16_t bufferSize,
                      uint16_t* retLength) {
  ApiCall call("VxTimeToText");
  if (retLength != nullptr) *retLength = 0;
  if (buffer != nullptr && bufferSize > 0) buffer[0] = '\0';
  if (call.fault) return call.Done(call.fault);
  if (time == nullptr || buffer == nullptr) return call.Done(VX_ERR_BAD_PARAM);
  vaxelsim::TextStyle style =
      intl != nullptr ? vaxelsim::StyleOf(intl) : call.sim.model.Data().Style();
  std::string text = vaxelsim::FormatTime(TicksOf(*time), style,
                                          format != nullptr ? format->Structure : VX_TFMT_DATE_TIME);
  if (text.empty()) return call.Done(VX_ERR_TIME_RANGE);
  if (text.size() + 1 > bufferSize) return call.Done(VX_ERR_BUFFER_TOO_SMALL);
  memcpy(buffer, text.c_str(), text.size() + 1);
  if (retLength != nullptr) *retLength = static_cast<uint16_t>(text.size());
  call.line.Text("text", buffer);
  return call.Done(0);
}

}  // extern "C"
