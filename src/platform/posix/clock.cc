// The clock, the locale's date and time texts, and pauses.
#include <langinfo.h>
#include <time.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/internal.h"

namespace tarvex {
namespace posix {

LocalTime fncLocalTime() {
  time_t lngNow = time(nullptr);
  struct tm objTm;
  localtime_r(&lngNow, &objTm);
  return LocalTime{objTm.tm_year + 1900, objTm.tm_mon + 1, objTm.tm_mday,
                   objTm.tm_hour,        objTm.tm_min,     objTm.tm_sec};
}

int64_t fncUnixTime() { return static_cast<int64_t>(time(nullptr)); }

namespace {

std::string fncFormat(const LocalTime& objTime, const char* strFormat) {
  struct tm objTm;
  std::memset(&objTm, 0, sizeof objTm);
  objTm.tm_year = objTime.intYear - 1900;
  objTm.tm_mon = objTime.intMonth - 1;
  objTm.tm_mday = objTime.intDay;
  objTm.tm_hour = objTime.intHour;
  objTm.tm_min = objTime.intMinute;
  objTm.tm_sec = objTime.intSecond;
  objTm.tm_isdst = -1;
  time_t lngTime = mktime(&objTm);  // fills in the weekday for locales that show it
  if (lngTime != static_cast<time_t>(-1)) localtime_r(&lngTime, &objTm);
  char chrBuffer[128];
  size_t lngLength = strftime(chrBuffer, sizeof chrBuffer, strFormat, &objTm);
  return std::string(chrBuffer, lngLength);
}

}  // namespace

std::string fncShortDate(const LocalTime& objTime) { return fncFormat(objTime, "%x"); }
std::string fncLongTime(const LocalTime& objTime) { return fncFormat(objTime, "%X"); }

// The character that follows the hour in the locale's time format.
std::string fncTimeSeparator() {
  const char* strFormat = nl_langinfo(T_FMT);
  if (strFormat == nullptr) return ":";
  const char* p = std::strstr(strFormat, "%H");
  if (p == nullptr) p = std::strstr(strFormat, "%I");
  if (p == nullptr) p = std::strstr(strFormat, "%k");
  if (p == nullptr) p = std::strstr(strFormat, "%l");
  if (p == nullptr || p[2] == '\0' || p[2] == '%') return ":";
  return std::string(1, p[2]);
}

void subSleep(uint32_t lngMilliseconds) {
  struct timespec objWait = {static_cast<time_t>(lngMilliseconds / 1000),
                             static_cast<long>(lngMilliseconds % 1000) * 1000000L};
  while (nanosleep(&objWait, &objWait) != 0 && errno == EINTR) {
  }
}

// 64 bits: a 32-bit long in milliseconds overflows after 24.8 days of uptime.
int64_t fncTickMs() {
  struct timespec objNow;
  clock_gettime(CLOCK_MONOTONIC, &objNow);
  return static_cast<int64_t>(objNow.tv_sec) * 1000 + objNow.tv_nsec / 1000000;
}

}  // namespace posix
}  // namespace tarvex
