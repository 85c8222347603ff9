#include <climits>
#include <set>

#include "control/control.h"
#include "deploy/deploy.h"
#include "deploy/seal.h"
#include "environment/environment.h"
#include "status/status.h"

namespace tarvex {

namespace {

void subSealProblem(const std::string& strProblem) {
  subWriteLog("ERR : Package Seal - " + strProblem);
}

// The files a seal must list: the manifest and each copy source, in the
// manifest's order, each once.
std::vector<std::string> fncSealedFiles(const std::string& strManifest) {
  std::vector<std::string> objFiles{kManifestName};
  if (!Os().fncFileExists(strManifest)) return objFiles;
  std::set<std::string> objSeen{fncSealKey(kManifestName)};
  for (const std::string& strSection : fncGetSectionNames(strManifest)) {
    if (strSection.empty()) continue;
    if (!fncFlag(fncReadINI(strSection, "Duplix", strManifest))) continue;
    const std::string strFileName =
        fncNativePath(fncReadINI(strSection, "FileName", strManifest));
    if (!strFileName.empty() && objSeen.insert(fncSealKey(strFileName)).second)
      objFiles.push_back(strFileName);
  }
  return objFiles;
}

// A sealed package is deployed only when every file of it is as sealed. A
// seal that is there but cannot be read or parsed lets nothing through.
// Without a seal file the run goes on as ever, and logs nothing here.
bool fncVerifySeal(const std::string& strFolder, const std::string& strManifest) {
  const std::string strSealPath = strFolder + fncSep() + kSealName;
  if (!Os().fncFileExists(strSealPath)) return true;
  bool blnBroken = false;
  Seal objSeal;
  try {
    objSeal = fncParseSeal(Os().fncReadFileBytes(strSealPath));
  } catch (...) {
    subSealProblem(std::string(kSealName) + fncErrorSuffix(fncTrappedError()));
    subRecordFailure("Package Seal Broken; ");
    return false;
  }

  // In the seal's order: its bad lines and its files, by line.
  size_t lngBad = 0;
  for (size_t i = 0; i <= objSeal.objLines.size(); ++i) {
    const long lngLine = i < objSeal.objLines.size() ? objSeal.objLines[i].lngLine : LONG_MAX;
    for (; lngBad < objSeal.objBadLines.size() && objSeal.objBadLines[lngBad] < lngLine; ++lngBad) {
      subSealProblem("line " + std::to_string(objSeal.objBadLines[lngBad]) +
                     " is not a seal line");
      blnBroken = true;
    }
    if (i == objSeal.objLines.size()) break;
    const SealLine& objLine = objSeal.objLines[i];
    g_run.objSealDigests.emplace(fncSealKey(objLine.strName), objLine.strDigest);
    const std::string strPath = fncSealPath(strFolder, objLine.strName);
    std::string strProblem;
    if (!Os().fncFileExists(strPath)) {
      strProblem = " is missing";
    } else {
      try {
        if (Os().fncHashFile(strPath) != objLine.strDigest) strProblem = " does not match";
      } catch (...) {
        strProblem = fncErrorSuffix(fncTrappedError());
      }
    }
    if (!strProblem.empty()) {
      subSealProblem(objLine.strName + strProblem);
      blnBroken = true;
    }
  }

  const bool blnReadFailed = g_run.blnFailed;
  for (const std::string& strFile : fncSealedFiles(strManifest)) {
    if (g_run.objSealDigests.count(fncSealKey(strFile)) != 0) continue;
    subSealProblem(strFile + " is not sealed");
    blnBroken = true;
  }
  // A manifest value that could not be read has failed the run already.
  if (!blnReadFailed && g_run.blnFailed) return false;
  if (blnBroken) {
    g_run.objSealDigests.clear();
    subRecordFailure("Package Seal Broken; ");
    return false;
  }
  subWriteLog("MSG : Package Seal Verified - " + std::to_string(objSeal.objLines.size()) +
              " Files");
  return true;
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
  if (!fncVerifySeal(fncGetShortPath(fncAppFolder()), strManifest)) {
    // A broken seal: no entry is touched.
  } else if (!Os().fncFileExists(strManifest)) {
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
