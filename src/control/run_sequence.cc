#include "control/control.h"
#include "deploy/deploy.h"
#include "environment/environment.h"
#include "status/status.h"

namespace tarvex {

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
      EntryValues objEntry = fncReadEntry(strSection, strManifest);
      if (g_run.blnFailed) continue;  // a value could not be read
      subDuplix(fncNativePath(objEntry.strFileName),
                g_run.strInstallPath + fncNativePath(objEntry.strFilePath),
                fncFlag(objEntry.strDuplix), fncFlag(objEntry.strExecuteFile),
                objEntry.strParameters);
    }
  }

  subWriteFinalStatus();
  subHandOffPIDFile();
  // An outcome the agent never received is no outcome to it, whatever it was.
  if (!g_run.blnHandedOver) return kExitNotHandedOver;
  return g_run.blnFailed ? kExitFailed : kExitSuccess;
}

}  // namespace tarvex
