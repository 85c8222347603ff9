// The clock, the user's locale's date and time texts, and pauses.
#include <cstdio>

#include "platform/win32/internal.h"

namespace tarvex {
namespace win32 {

SYSTEMTIME fncSystemTime(const LocalTime& objTime) {
  SYSTEMTIME objSystem = {};
  objSystem.wYear = static_cast<WORD>(objTime.intYear);
  objSystem.wMonth = static_cast<WORD>(objTime.intMonth);
  objSystem.wDay = static_cast<WORD>(objTime.intDay);
  objSystem.wHour = static_cast<WORD>(objTime.intHour);
  objSystem.wMinute = static_cast<WORD>(objTime.intMinute);
  objSystem.wSecond = static_cast<WORD>(objTime.intSecond);
  return objSystem;
}

LocalTime fncLocalTime() {
  SYSTEMTIME objSystem;
  GetLocalTime(&objSystem);
  return LocalTime{objSystem.wYear, objSystem.wMonth,  objSystem.wDay,
                   objSystem.wHour, objSystem.wMinute, objSystem.wSecond};
}

int64_t fncUnixTime() {
  FILETIME objNow;
  GetSystemTimeAsFileTime(&objNow);
  const uint64_t lngTicks =
      (static_cast<uint64_t>(objNow.dwHighDateTime) << 32) | objNow.dwLowDateTime;
  // 100 ns ticks since 1601-01-01 UTC; 1970 is 11644473600 s later.
  return static_cast<int64_t>(lngTicks / 10000000) - 11644473600LL;
}

int64_t fncTickMs() { return static_cast<int64_t>(GetTickCount64()); }

std::string fncNumbers(const char* pFormat, int intA, int intB, int intC) {
  char chrBuffer[64];
  std::snprintf(chrBuffer, sizeof chrBuffer, pFormat, intA, intB, intC);
  return chrBuffer;
}

// The host's texts; a fixed numeric form only if the host refuses the date.
std::string fncShortDate(const LocalTime& objTime) {
  SYSTEMTIME objSystem = fncSystemTime(objTime);
  char chrBuffer[256];
  int intLength = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &objSystem, nullptr,
                                 chrBuffer, sizeof chrBuffer);
  if (intLength <= 0)
    return fncNumbers("%d/%d/%04d", objTime.intMonth, objTime.intDay, objTime.intYear);
  return std::string(chrBuffer, intLength - 1);
}

std::string fncLongTime(const LocalTime& objTime) {
  SYSTEMTIME objSystem = fncSystemTime(objTime);
  char chrBuffer[256];
  int intLength =
      GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &objSystem, nullptr, chrBuffer, sizeof chrBuffer);
  if (intLength <= 0)
    return fncNumbers("%d:%02d:%02d", objTime.intHour, objTime.intMinute, objTime.intSecond);
  return std::string(chrBuffer, intLength - 1);
}

std::string fncTimeSeparator() {
  char chrBuffer[16];
  int intLength = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, chrBuffer, sizeof chrBuffer);
  if (intLength <= 1) return ":";
  return std::string(chrBuffer, intLength - 1);
}

void subSleep(uint32_t lngMilliseconds) { Sleep(lngMilliseconds); }

}  // namespace win32
}  // namespace tarvex
