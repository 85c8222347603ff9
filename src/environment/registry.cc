#include "control/run_state.h"
#include "environment/environment.h"

namespace tarvex {

namespace {

// Closes the agent's key on every way out, the error path included.
struct KeyCloser {
  RegKey objKey;
  ~KeyCloser() {
    if (objKey != nullptr) Os().subRegCloseKey(objKey);
  }
};

void subLogReadFailure(const std::string& strKeyName, const std::string& strValueName,
                       int32_t lngCode) {
  subWriteLog("ERR : Failed to read Value in Registry key " + strKeyName + " " + strValueName +
              " . Retval - " + std::to_string(lngCode));
}

}  // namespace

std::string fncReadRegValue(RegKey objKey, const std::string& strKeyName,
                            const std::string& strValueName) {
  uint32_t lngType = 0;
  uint32_t lngSize = 0;
  int32_t lngCode = Os().fncRegQueryValue(objKey, strValueName, &lngType, nullptr, &lngSize);
  if (lngCode != 0) {
    subLogReadFailure(strKeyName, strValueName, lngCode);
    return "";
  }
  if (lngType != kRegSz) return "";
  std::string strBuffer(lngSize, '\0');
  lngCode = Os().fncRegQueryValue(objKey, strValueName, &lngType, &strBuffer[0], &lngSize);
  if (lngCode != 0) {
    subLogReadFailure(strKeyName, strValueName, lngCode);
    return "";
  }
  return fncStripNull(strBuffer);
}

// PackageKeys, quietly: a key without it is an agent's as it always was,
// and logs what it always logged. A value that is there but is no string,
// or cannot be read, is there: only signed packages run, and none passes.
void subReadPackageKeys(RegKey objKey) {
  uint32_t lngType = 0;
  uint32_t lngSize = 0;
  int32_t lngCode = Os().fncRegQueryValue(objKey, "PackageKeys", &lngType, nullptr, &lngSize);
  if (lngCode == kErrFileNotFound) return;
  g_run.blnPackageKeys = true;
  if (lngCode != 0 || lngType != kRegSz) return;
  std::string strBuffer(lngSize, '\0');
  lngCode = Os().fncRegQueryValue(objKey, "PackageKeys", &lngType, &strBuffer[0], &lngSize);
  if (lngCode != 0 || lngType != kRegSz) return;
  g_run.strPackageKeys = fncStripNull(strBuffer.substr(0, lngSize));
  g_run.blnPackageKeysRead = true;
}

bool fncGetVELMORInfo() {
  try {
    KeyCloser objKey{nullptr};
    int32_t lngCode = Os().fncRegOpenAgentKey(&objKey.objKey);
    if (lngCode != 0) {
      objKey.objKey = nullptr;
      if (lngCode == kErrFileNotFound)
        subWriteLog(
            "ERR : Unable to locate VELMOR registry entries for Results folder. RetVal - " +
            std::to_string(lngCode));
      else
        subWriteLog("ERR : Unable to open VELMOR registry entries for Results folder. RetVal - " +
                    std::to_string(lngCode));
      return false;
    }
    g_run.strInstallPath = fncReadRegValue(objKey.objKey, "VELMOR", "InstallationPath");
    if (!g_run.strInstallPath.empty()) {
      g_run.strInstallPath = fncGetShortPath(g_run.strInstallPath);
      if (g_run.strInstallPath.back() != Os().chrSeparator) g_run.strInstallPath += fncSep();
      g_run.strRegID = fncReadRegValue(objKey.objKey, "VELMOR", "REGID");
      if (!g_run.strRegID.empty()) subReadPackageKeys(objKey.objKey);
    }
    return !g_run.strRegID.empty() && !g_run.strInstallPath.empty();
  } catch (...) {
    subWriteLog("ERR : Function - fncGetVELMORInfo" + fncErrorSuffix(fncTrappedError()));
    return false;
  }
}

}  // namespace tarvex
