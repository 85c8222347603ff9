#include <new>
#include <stdexcept>

#include "control/run_state.h"

namespace tarvex {

RunState g_run;

void subWriteLog(const std::string& strMessage) {
  // Every error handler writes through here, so nothing may escape: a line
  // that cannot be written is lost and the run goes on.
  try {
    if (g_run.objLog != nullptr) Os().subWriteLine(g_run.objLog, strMessage);
  } catch (...) {
  }
}

void subRecordFailure(const std::string& strFragment) {
  g_run.blnFailed = true;
  g_run.strFailureDesc += strFragment;
}

Error fncTrappedError() {
  try {
    throw;
  } catch (const Error& objError) {
    return objError;
  } catch (const std::bad_alloc&) {
    return Error{kErrOutOfMemory, fncErrorText(kErrOutOfMemory)};
  } catch (const std::length_error&) {
    return Error{kErrOutOfMemory, fncErrorText(kErrOutOfMemory)};
  } catch (...) {
    return Error{kErrInternal, fncErrorText(kErrInternal)};
  }
}

int64_t fncUtcSeconds(const LocalTime& objTime) {
  // Days from 1970-01-01 to the date, proleptic Gregorian.
  const int64_t lngYear = objTime.intYear - (objTime.intMonth <= 2 ? 1 : 0);
  const int64_t lngEra = (lngYear >= 0 ? lngYear : lngYear - 399) / 400;
  const int64_t lngYearOfEra = lngYear - lngEra * 400;
  const int64_t lngDayOfYear =
      (153 * (objTime.intMonth + (objTime.intMonth > 2 ? -3 : 9)) + 2) / 5 + objTime.intDay - 1;
  const int64_t lngDays = lngEra * 146097 + lngYearOfEra * 365 + lngYearOfEra / 4 -
                          lngYearOfEra / 100 + lngDayOfYear - 719468;
  return lngDays * 86400 + objTime.intHour * 3600 + objTime.intMinute * 60 + objTime.intSecond;
}

std::string fncSep() { return std::string(1, Os().chrSeparator); }

std::string fncAppFolder() { return Os().fncAppFolder(); }

std::string fncErrorSuffix(const Error& objError) {
  return " " + std::to_string(objError.lngNumber) + " " + objError.strDescription;
}

}  // namespace tarvex
