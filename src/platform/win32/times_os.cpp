// Time conversions through the Win32 API. A time the system cannot convert gives an
// absent TimeStamp, or file time 0.
#include <windows.h>

#include "platform/times.h"

TimeStamp from_file_time(FileTime utc) {
  TimeStamp t;
  FILETIME u, local;
  u.dwLowDateTime = static_cast<DWORD>(utc);
  u.dwHighDateTime = static_cast<DWORD>(utc >> 32);
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&u, &local) || !FileTimeToSystemTime(&local, &st)) return t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.weekday = st.wDayOfWeek;
  st.wMilliseconds = 0;
  FILETIME whole = local;
  SystemTimeToFileTime(&st, &whole);
  t.remainder = local.dwLowDateTime - whole.dwLowDateTime;
  t.day_of_year = day_of_year(t.year, t.month, t.day);
  return t;
}

FileTime to_file_time(const TimeStamp& t) {
  SYSTEMTIME st;
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDay = static_cast<WORD>(t.day);
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  st.wMilliseconds = 0;
  st.wDayOfWeek = 0;
  FILETIME local, utc;
  if (!SystemTimeToFileTime(&st, &local)) return 0;
  uint64_t v = (static_cast<uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
  v += t.remainder;
  local.dwLowDateTime = static_cast<DWORD>(v);
  local.dwHighDateTime = static_cast<DWORD>(v >> 32);
  if (!LocalFileTimeToFileTime(&local, &utc)) return 0;
  return (static_cast<uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
}
