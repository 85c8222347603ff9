#include "control/run_state.h"
#include "deploy/deploy.h"
#include "environment/environment.h"

namespace tarvex {

bool fncDuplix(const std::string& strSource, const std::string& strDestination,
               const std::string& strSha256) {
  std::string strFrom = strSource;
  std::string strTo = strDestination;
  try {
    strFrom = fncGetShortPath(strSource);
    strTo = fncGetShortPath(strDestination);
    subCopyFile(strFrom, strTo, strSha256);
    return true;
  } catch (...) {
    subWriteLog("ERR : Function - fncDuplix. Source Path - " + strFrom +
                " to Destination Path - " + strTo + fncErrorSuffix(fncTrappedError()));
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
