#include "control/run_state.h"
#include "deploy/deploy.h"
#include "environment/environment.h"

namespace tarvex {

bool fncDuplix(const std::string& strSource, const std::string& strDestination,
               const std::string& strSha256, CopyReport* pReport) {
  std::string strFrom = strSource;
  std::string strTo = strDestination;
  if (pReport != nullptr) ++pReport->intAttempts;
  try {
    strFrom = fncGetShortPath(strSource);
    strTo = fncGetShortPath(strDestination);
    const CopyOutcome objOutcome = subCopyFile(strFrom, strTo, strSha256);
    if (pReport != nullptr) {
      pReport->strResult = objOutcome.blnUnchanged ? "unchanged" : "copied";
      pReport->lngBytes = objOutcome.lngBytes;
      // What was placed, or left, holds the sealed bytes: the copy hashed them.
      pReport->strSha256 = strSha256;
      pReport->objError = Error{0, ""};
    }
    return true;
  } catch (...) {
    const Error objError = fncTrappedError();
    subWriteLog("ERR : Function - fncDuplix. Source Path - " + strFrom +
                " to Destination Path - " + strTo + fncErrorSuffix(objError));
    if (pReport != nullptr) {
      pReport->strResult = "failed";
      pReport->objError = objError;
    }
    return false;
  }
}

bool fncDeleteFile(const std::string& strPath) {
  std::string strTarget = strPath;
  try {
    strTarget = fncGetShortPath(strPath);
    Os().fncSetAttributesNormal(strTarget);
    Os().subDeleteFile(strTarget);
    return true;
  } catch (...) {
    subWriteLog("ERR : Function - fncDeleteFile. Source Path - " + strTarget +
                fncErrorSuffix(fncTrappedError()));
    return false;
  }
}

}  // namespace tarvex
