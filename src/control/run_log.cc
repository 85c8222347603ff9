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

std::string fncSep() { return std::string(1, Os().chrSeparator); }

std::string fncAppFolder() { return Os().fncAppFolder(); }

std::string fncErrorSuffix(const Error& objError) {
  return " " + std::to_string(objError.lngNumber) + " " + objError.strDescription;
}

}  // namespace tarvex
