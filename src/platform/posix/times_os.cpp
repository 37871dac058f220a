// Local time of the Linux build: the C library's time zone (TZ) at the moment in question.
#include <ctime>

#include "platform/times.h"

namespace {

constexpr int64_t kUnixEpochInFileTime = 116444736000000000LL;
constexpr int64_t kTicksPerSecond = 10000000;

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

TimeStamp from_file_time(FileTime utc) {
  TimeStamp t;
  int64_t ticks = static_cast<int64_t>(utc) - kUnixEpochInFileTime;
  int64_t sec = ticks / kTicksPerSecond;
  int64_t rem = ticks % kTicksPerSecond;
  if (rem < 0) {
    rem += kTicksPerSecond;
    sec--;
  }
  time_t tt = static_cast<time_t>(sec);
  tm local;
  localtime_r(&tt, &local);
  t.year = static_cast<uint32_t>(local.tm_year + 1900);
  t.month = static_cast<uint32_t>(local.tm_mon + 1);
  t.day = static_cast<uint32_t>(local.tm_mday);
  t.hour = static_cast<uint32_t>(local.tm_hour);
  t.minute = static_cast<uint32_t>(local.tm_min);
  t.second = static_cast<uint32_t>(local.tm_sec);
  t.remainder = static_cast<uint32_t>(rem);
  t.weekday = static_cast<uint32_t>(local.tm_wday);
  t.day_of_year = day_of_year(t.year, t.month, t.day);
  return t;
}

FileTime to_file_time(const TimeStamp& t) {
  tm local = {};
  local.tm_year = static_cast<int>(t.year) - 1900;
  local.tm_mon = static_cast<int>(t.month) - 1;
  local.tm_mday = static_cast<int>(t.day);
  local.tm_hour = static_cast<int>(t.hour);
  local.tm_min = static_cast<int>(t.minute);
  local.tm_sec = static_cast<int>(t.second);
  local.tm_isdst = -1;
  time_t tt = mktime(&local);
  int64_t sec;
  if (tt == static_cast<time_t>(-1)) {
    sec = days_from_civil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
  } else {
    sec = static_cast<int64_t>(tt);
  }
  int64_t v = sec * kTicksPerSecond + kUnixEpochInFileTime + t.remainder;
  return v < 0 ? 0 : static_cast<FileTime>(v);
}
