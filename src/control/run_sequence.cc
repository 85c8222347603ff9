#include "control/control.h"
#include "deploy/deploy.h"
#include "deploy/seal.h"
#include "environment/environment.h"
#include "status/status.h"

namespace tarvex {

namespace {

// The line a run logs for a seal's problem.
std::string fncSealProblemText(const SealProblem& objProblem) {
  switch (objProblem.intFault) {
    case kSealUnreadable:
    case kSealFileUnreadable:
      return objProblem.strName + fncErrorSuffix(objProblem.objError);
    case kSealBadLine:
      return "line " + std::to_string(objProblem.lngLine) + " is not a seal line";
    case kSealFileMissing:
      return objProblem.strName + " is missing";
    case kSealMismatch:
      return objProblem.strName + " does not match";
    case kSealNotListed:
      return objProblem.strName + " is not sealed";
  }
  return objProblem.strName;
}

// A sealed package is deployed only when every file of it is as sealed. A
// seal that is there but cannot be read or parsed lets nothing through.
// Without a seal file the run goes on as ever, and logs nothing here.
bool fncVerifySeal(const Package& objPackage) {
  if (!objPackage.blnSealed) return true;
  const bool blnReadFailed = g_run.blnFailed;
  const std::vector<std::string> objRequired = fncSealedFiles(objPackage);
  // A manifest value that could not be read has failed the run already.
  if (!blnReadFailed && g_run.blnFailed) return false;
  const std::vector<SealProblem> objProblems = fncCheckSeal(objPackage, objRequired);
  for (const SealProblem& objProblem : objProblems)
    subWriteLog("ERR : Package Seal - " + fncSealProblemText(objProblem));
  if (!objProblems.empty()) {
    subRecordFailure("Package Seal Broken; ");
    return false;
  }
  subWriteLog("MSG : Package Seal Verified - " +
              std::to_string(objPackage.objSeal.objLines.size()) + " Files");
  return true;
}

// Every entry of the manifest as it was read, in file order; after the
// first failure every later entry is skipped, silently.
void subDeployEntries(const Package& objPackage) {
  const std::vector<std::string> objSections = fncGetSectionNames(objPackage.objManifest);
  if (objSections.empty()) {
    subWriteLog("ERR : File Info Not Found in Tarvex.ini");
    subRecordFailure("File Info Not Found in Tarvex.ini; ");
  }
  for (const std::string& strSection : objSections) {
    if (strSection.empty() || g_run.blnFailed) continue;
    EntryValues objEntry = fncReadEntry(strSection, objPackage.objManifest);
    if (g_run.blnFailed) continue;  // a value could not be read
    const std::string strFileName = fncNativePath(objEntry.strFileName);
    // The digest goes with the copy: in a sealed package, nothing is placed
    // unhashed.
    const std::string strDigest = fncSealedDigest(objPackage, strFileName);
    subDuplix(strFileName, g_run.strInstallPath + fncNativePath(objEntry.strFilePath),
              fncFlag(objEntry.strDuplix), fncFlag(objEntry.strExecuteFile),
              objEntry.strParameters, objPackage.blnSealed ? &strDigest : nullptr);
  }
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

  const std::string strFolder = fncGetShortPath(fncAppFolder());
  g_run.strPIDFilePath = strFolder + fncSep() + "Duplix.ini";
  fncCreatePIDFile(g_run.strPID);

  // The package is read here, once: whatever happens to its files from now
  // on changes nothing in this run.
  const Package objPackage = fncReadPackage(strFolder);
  const std::string strManifest = strFolder + fncSep() + kManifestName;
  const int32_t lngManifest = objPackage.objManifestError.lngNumber;
  if (!fncVerifySeal(objPackage)) {
    // A broken seal: no entry is touched.
  } else if (lngManifest == kErrFileNotFound) {
    subWriteLog("ERR : File Not Found " + strManifest);
    subRecordFailure("Tarvex.ini Not Found; ");
  } else if (lngManifest != 0) {
    // There, but no file a run reads (a link, a FIFO, beyond the cap) or
    // unreadable: deploying nothing is no success.
    subWriteLog("ERR : Function - fncReadManifest" +
                fncErrorSuffix(objPackage.objManifestError));
    subRecordFailure("Tarvex.ini Not Readable; ");
  } else {
    subDeployEntries(objPackage);
  }

  subWriteFinalStatus();
  subHandOffPIDFile();
  // An outcome the agent never received is no outcome to it, whatever it was.
  if (!g_run.blnHandedOver) return kExitNotHandedOver;
  return g_run.blnFailed ? kExitFailed : kExitSuccess;
}

}  // namespace tarvex
