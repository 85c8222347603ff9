#include "control/control.h"
#include "deploy/deploy.h"
#include "deploy/seal.h"
#include "deploy/signature.h"
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
    g_run.strSealState = "broken";
    return false;
  }
  subWriteLog("MSG : Package Seal Verified - " +
              std::to_string(objPackage.objSeal.objLines.size()) + " Files");
  g_run.strSealState = "verified";
  return true;
}

// Where the agent pins the publisher's keys, only a package they signed
// runs, of a version no older than this machine has deployed, before it
// expires. The verdict's name and version go to *pVerdict.
bool fncVerifySignature(const Package& objPackage, SignatureVerdict* pVerdict) {
  const PackageKeys objKeys =
      g_run.blnPackageKeysRead ? fncParsePackageKeys(g_run.strPackageKeys) : PackageKeys();
  *pVerdict = fncCheckSignature(objPackage, objKeys, g_run.lngStartTime);
  if (pVerdict->intFault == kSignatureGood)
    subHoldAgainstRecord(*pVerdict, fncRecordedVersion(pVerdict->strPackage));
  if (pVerdict->intFault != kSignatureGood) {
    subWriteLog("ERR : Package Signature - " + pVerdict->strReason);
    subRecordFailure("Package Signature Invalid; ");
    return false;
  }
  subWriteLog("MSG : Package Signature Verified - " + pVerdict->strPackage + " " +
              std::to_string(pVerdict->lngVersion));
  g_run.strSignedPackage = pVerdict->strPackage;
  g_run.lngSignedVersion = pVerdict->lngVersion;
  return true;
}

// Every entry of the manifest as it was read, in file order; after the
// first failure every later entry is skipped, silently (the run report
// lists it as skipped).
void subDeployEntries(const Package& objPackage) {
  const std::vector<std::string> objSections = fncGetSectionNames(objPackage.objManifest);
  if (objSections.empty()) {
    subWriteLog("ERR : File Info Not Found in Tarvex.ini");
    subRecordFailure("File Info Not Found in Tarvex.ini; ");
  }
  for (const std::string& strSection : objSections) {
    if (strSection.empty()) continue;
    const bool blnSkipped = g_run.blnFailed;
    EntryValues objEntry = fncReadEntry(strSection, objPackage.objManifest);
    const std::string strFileName = fncNativePath(objEntry.strFileName);
    const std::string strFilePath = g_run.strInstallPath + fncNativePath(objEntry.strFilePath);
    const bool blnCopy = fncFlag(objEntry.strDuplix);
    const bool blnExecute = fncFlag(objEntry.strExecuteFile);
    g_run.objEntries.push_back(EntryReport());
    EntryReport& objReport = g_run.objEntries.back();
    objReport.strSection = strSection;
    objReport.strFileName = objEntry.strFileName;
    objReport.strTarget = strFilePath + fncLastNamePart(strFileName);
    if (blnSkipped || g_run.blnFailed) {
      // Skipped, or failed for a value that could not be read.
      if (blnCopy) objReport.objCopy.strResult = blnSkipped ? "skipped" : "failed";
      if (blnExecute) objReport.objExecution.strResult = "not-started";
      continue;
    }
    EntryOptions objOptions;
    // The digest goes with the copy: in a sealed package, nothing is placed
    // unhashed.
    const std::string strDigest = fncSealedDigest(objPackage, strFileName);
    if (objPackage.blnSealed) objOptions.pSha256 = &strDigest;
    objOptions.objRules =
        fncReadRules(objEntry.strSuccessCodes, objEntry.strRebootCodes, objEntry.strTimeout);
    objOptions.pReport = &objReport;
    subDuplix(strFileName, strFilePath, blnCopy, blnExecute, objEntry.strParameters, objOptions);
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
  const Package objPackage = fncReadPackage(strFolder, nullptr, g_run.blnPackageKeys);
  const std::string strManifest = strFolder + fncSep() + kManifestName;
  const int32_t lngManifest = objPackage.objManifestError.lngNumber;
  SignatureVerdict objSigned;
  if (objPackage.blnSealed) g_run.lngSealFiles = objPackage.objSeal.objLines.size();
  if (g_run.blnPackageKeys && !fncVerifySignature(objPackage, &objSigned)) {
    // Not the publisher's, or not now: no entry is touched.
    if (objPackage.blnSealed) g_run.strSealState = "broken";
  } else if (!fncVerifySeal(objPackage)) {
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
  // Only a SUCCESS the status file holds raises the version a machine
  // accepts.
  if (g_run.blnPackageKeys && !g_run.blnFailed && g_run.blnStatusWritten)
    subRecordVersion(objSigned.strPackage, objSigned.lngVersion);
  subHandOffPIDFile();
  // An outcome the agent never received is no outcome to it, whatever it was.
  if (!g_run.blnHandedOver) return kExitNotHandedOver;
  if (g_run.blnFailed) return kExitFailed;
  return g_run.blnRebootRequired ? Os().intRestartExit : kExitSuccess;
}

}  // namespace tarvex
