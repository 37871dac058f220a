// Portable parts of the time conversions (DOS date-times, comparisons, day of year).
#include "platform/times.h"

uint32_t day_of_year(uint32_t year, uint32_t month, uint32_t day) {
  static const uint32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  uint32_t n = 0;
  for (uint32_t m = 1; m < month && m <= 12; m++) n += kDays[m - 1] + (m == 2 && leap ? 1 : 0);
  return n + day - 1;
}

uint64_t to_file_time64(const TimeStamp& t) { return t.present() ? to_file_time(t) : 0; }

uint32_t to_dos_time(const TimeStamp& t) {
  return ((t.year - 1980) << 25) | (t.month << 21) | (t.day << 16) | (t.hour << 11) | (t.minute << 5) |
         (t.second / 2);
}

void from_dos_time(uint32_t dos, TimeStamp& t) {
  t.second = (dos & 0x1F) * 2;
  t.minute = (dos >> 5) & 0x3F;
  t.hour = (dos >> 11) & 0x1F;
  t.day = (dos >> 16) & 0x1F;
  t.month = (dos >> 21) & 0x0F;
  t.year = (dos >> 25) + 1980;
  t.remainder = 0;
}

bool times_equal(const TimeStamp& a, const TimeStamp& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute &&
         a.second == b.second && a.remainder == b.remainder;
}

bool is_later(const TimeStamp& a, const TimeStamp& b) { return to_file_time64(a) > to_file_time64(b); }
bool is_same_or_later(const TimeStamp& a, const TimeStamp& b) { return is_later(a, b) || times_equal(a, b); }
