// File times: the broken-down local TimeStamp and its conversions.
#pragma once

#include "platform/types.h"

// Local time, broken down. year 0 means the time is absent.
struct TimeStamp {
  uint32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  uint32_t remainder = 0;  // 100 ns units, below 10,000,000
  uint32_t weekday = 0;
  uint32_t day_of_year = 0;
  void clear() { year = 0; }
  bool present() const { return year != 0; }
};

// File times are 100 ns units since 1601-01-01 UTC (the Win32 FILETIME as one number).
using FileTime = uint64_t;

TimeStamp from_file_time(FileTime utc);
FileTime to_file_time(const TimeStamp& t);
uint64_t to_file_time64(const TimeStamp& t);  // 0 for an absent time
uint32_t to_dos_time(const TimeStamp& t);
void from_dos_time(uint32_t dos, TimeStamp& t);  // weekday and day of year untouched
bool times_equal(const TimeStamp& a, const TimeStamp& b);
bool is_later(const TimeStamp& a, const TimeStamp& b);
bool is_same_or_later(const TimeStamp& a, const TimeStamp& b);
uint32_t day_of_year(uint32_t year, uint32_t month, uint32_t day);
