#include <algorithm>
#include <cctype>

#include "control/control.h"
#include "deploy/deploy.h"
#include "environment/environment.h"
#include "status/status.h"

namespace tarvex {

namespace {

const char kManifestName[] = "Tarvex.INI";

// A manifest flag is on only for "Y", in any case.
bool fncFlag(const std::string& strValue) {
  std::string strUpper = strValue;
  std::transform(strUpper.begin(), strUpper.end(), strUpper.begin(),
                 [](unsigned char chr) { return static_cast<char>(std::toupper(chr)); });
  return strUpper == "Y";
}

}  // namespace

int fncRunSequence() {
  if (!fncGetVELMORInfo()) {
    subWriteLog("MSG : Failed to retrieve VELMOR Info. Installation Path - " +
                g_run.strInstallPath + " and RegID - " + g_run.strRegID);
    return kExitFailed;
  }
  subWriteLog("MSG : Successfully retrieved VELMOR Info. Installation Path - " +
              g_run.strInstallPath + " and RegID - " + g_run.strRegID);

  g_run.strPIDFilePath = fncGetShortPath(fncAppFolder()) + fncSep() + "Duplix.ini";
  fncCreatePIDFile(g_run.strPID);

  std::string strManifest = fncGetShortPath(fncAppFolder()) + fncSep() + kManifestName;
  if (!Os().fncFileExists(strManifest)) {
    subWriteLog("ERR : File Not Found " + strManifest);
    subRecordFailure("Tarvex.ini Not Found; ");
  } else {
    std::vector<std::string> objSections = fncGetSectionNames(strManifest);
    if (objSections.empty()) {
      subWriteLog("ERR : File Info Not Found in Tarvex.ini");
      subRecordFailure("File Info Not Found in Tarvex.ini; ");
    }
    for (const std::string& strSection : objSections) {
      // After the first failure every later entry is skipped, silently.
      if (strSection.empty() || g_run.blnFailed) continue;
      std::string strFileName = fncNativePath(fncReadINI(strSection, "FileName", strManifest));
      std::string strFilePath =
          g_run.strInstallPath + fncNativePath(fncReadINI(strSection, "FilePath", strManifest));
      bool blnCopy = fncFlag(fncReadINI(strSection, "Duplix", strManifest));
      bool blnExecute = fncFlag(fncReadINI(strSection, "ExecuteFile", strManifest));
      std::string strParameters = fncReadINI(strSection, "Parameters", strManifest);
      if (g_run.blnFailed) continue;  // a value could not be read
      subDuplix(strFileName, strFilePath, blnCopy, blnExecute, strParameters);
    }
  }

  subWriteFinalStatus();
  subHandOffPIDFile();
  return g_run.blnFailed ? kExitFailed : kExitSuccess;
}

}  // namespace tarvex
