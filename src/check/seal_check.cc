// The package's seal, as a run checks it: the findings of the one check
// both share (deploy/seal.cc).
#include <algorithm>

#include "check/check.h"
#include "control/run_state.h"
#include "deploy/deploy.h"
#include "deploy/seal.h"
#include "deploy/signature.h"

namespace tarvex {

namespace {

const char kBeforeFirstEntry[] = ": a sealed run fails before its first entry";

void subFindSeal(CheckReport& objReport, CheckRule intRule, long lngLine,
                 const std::string& strText) {
  objReport.objFindings.push_back(
      Finding{intRule, lngLine, strText + kBeforeFirstEntry, kSealName});
}

// The line of the manifest that names a copy source; 0 for the manifest.
long fncSourceLine(const CheckReport& objReport, const std::string& strName) {
  for (const auto& objSource : objReport.objCopySources)
    if (fncSealKey(objSource.first) == fncSealKey(strName)) return objSource.second;
  return 0;
}

}  // namespace

void subOrderAndCount(CheckReport& objReport) {
  std::stable_sort(objReport.objFindings.begin(), objReport.objFindings.end(),
                   [](const Finding& a, const Finding& b) {
                     if (a.strFile != b.strFile) return a.strFile < b.strFile;
                     return a.lngLine < b.lngLine;
                   });
  objReport.intErrors = objReport.intWarnings = 0;
  for (const Finding& objFinding : objReport.objFindings)
    switch (fncRule(objFinding.intRule).intLevel) {
      case kLevelError: ++objReport.intErrors; break;
      case kLevelWarning: ++objReport.intWarnings; break;
      case kLevelNote: break;
    }
}

void subCheckSeal(const Package& objPackage, CheckReport& objReport) {
  if (!objPackage.blnSealed) {
    // Only POSIX gets here with a seal in another case, which its runs take
    // for no seal at all.
    for (const std::string& strFile : Os().fncListFiles(objPackage.strFolder))
      if (fncUpperCase(strFile) == fncUpperCase(kSealName))
        objReport.objFindings.push_back(
            Finding{kRuleSealCaseOnly, 0,
                    "the seal is stored as '" + strFile +
                        "': a run on POSIX would not find it, and deploy unsealed", ""});
    return;
  }
  for (const SealProblem& objProblem : fncCheckSeal(objPackage, objReport.objSealedFiles)) {
    const std::string strName = "'" + objProblem.strName + "'";
    switch (objProblem.intFault) {
      case kSealUnreadable:
        subFindSeal(objReport, kRuleSealUnreadable, 0,
                    std::string(kSealName) + " cannot be read:" +
                        fncErrorSuffix(objProblem.objError));
        break;
      case kSealBadLine:
        subFindSeal(objReport, kRuleSealLine, objProblem.lngLine,
                    "not a seal line (64 hex digits, two spaces or ' *', a file name inside "
                    "the package)");
        break;
      case kSealFileMissing:
        subFindSeal(objReport, kRuleSealMissingFile, objProblem.lngLine, strName + " is missing");
        break;
      case kSealMismatch:
        subFindSeal(objReport, kRuleSealMismatch, objProblem.lngLine,
                    strName + " does not match its digest");
        break;
      case kSealFileUnreadable:
        subFindSeal(objReport, kRuleSealFileUnreadable, objProblem.lngLine,
                    strName + " cannot be read:" + fncErrorSuffix(objProblem.objError));
        break;
      case kSealNotListed:
        if (objProblem.strName == kManifestName) {
          subFindSeal(objReport, kRuleNotSealed, 0, std::string(kManifestName) + " is not sealed");
        } else {
          objReport.objFindings.push_back(Finding{
              kRuleNotSealed, fncSourceLine(objReport, objProblem.strName),
              "source " + strName + " is not sealed in " + kSealName + kBeforeFirstEntry, ""});
        }
        break;
    }
  }
}

void subCheckSignature(const Package& objPackage, const std::string* pKey,
                       CheckReport& objReport) {
  if (pKey == nullptr) {
    // A run reads the signature only where the agent pins keys.
    if (Os().fncFileExists(fncSealPath(objPackage.strFolder, kSignatureName)))
      objReport.objFindings.push_back(
          Finding{kRuleSignatureUnchecked, 0,
                  std::string(kSignatureName) +
                      " is not checked without --key PUB.pem: a run verifies it only where the "
                      "agent's PackageKeys pins keys, and ignores it elsewhere",
                  kSealName});
    return;
  }
  PackageKeys objKeys;
  objKeys.blnReadable = true;
  objKeys.objKeys.push_back(*pKey);
  // Without the machine's record of what it deployed, the version is held
  // against nothing.
  const SignatureVerdict objVerdict = fncCheckSignature(objPackage, objKeys, Os().fncUnixTime());
  CheckRule intRule = kRuleSignatureInvalid;
  switch (objVerdict.intFault) {
    case kSignatureGood:
      objReport.objFindings.push_back(Finding{
          kRuleSignatureVerified, 0,
          "signed package '" + objVerdict.strPackage + "' version " +
              std::to_string(objVerdict.lngVersion) +
              " verifies with this key (a run also refuses a version older than the machine "
              "has deployed, which only the machine knows)",
          kSealName});
      return;
    case kSignatureFileMissing: intRule = kRuleSignatureMissing; break;
    case kSignatureFileUnreadable: intRule = kRuleSignatureUnreadable; break;
    case kSignatureStatementMissing:
    case kSignatureExpiresUnreadable: intRule = kRuleSignatureStatement; break;
    case kSignatureExpired: intRule = kRuleSignatureExpired; break;
    default: break;  // does not verify: with one key read, and no record, nothing else
  }
  objReport.objFindings.push_back(Finding{
      intRule, objVerdict.lngLine,
      "signature: " + objVerdict.strReason + ": a run that pins this key deploys nothing",
      kSealName});
}

}  // namespace tarvex
