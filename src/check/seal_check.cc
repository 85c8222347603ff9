// The package's seal, as a run checks it: the findings of the one check
// both share (deploy/seal.cc).
#include <algorithm>

#include "check/check.h"
#include "control/run_state.h"
#include "deploy/deploy.h"
#include "deploy/seal.h"

namespace tarvex {

namespace {

const char kBeforeFirstEntry[] = ": a sealed run fails before its first entry";

void subFindSeal(CheckReport& objReport, long lngLine, const std::string& strText) {
  objReport.objFindings.push_back(Finding{lngLine, true, strText + kBeforeFirstEntry, kSealName});
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
    if (!objFinding.blnNote) ++(objFinding.blnError ? objReport.intErrors : objReport.intWarnings);
}

void subCheckSeal(const Package& objPackage, CheckReport& objReport) {
  if (!objPackage.blnSealed) {
    // Only POSIX gets here with a seal in another case, which its runs take
    // for no seal at all.
    for (const std::string& strFile : Os().fncListFiles(objPackage.strFolder))
      if (fncUpperCase(strFile) == fncUpperCase(kSealName))
        objReport.objFindings.push_back(
            Finding{0, true, "the seal is stored as '" + strFile +
                             "': a run on POSIX would not find it, and deploy unsealed", ""});
    return;
  }
  for (const SealProblem& objProblem : fncCheckSeal(objPackage, objReport.objSealedFiles)) {
    const std::string strName = "'" + objProblem.strName + "'";
    switch (objProblem.intFault) {
      case kSealUnreadable:
        subFindSeal(objReport, 0,
                    std::string(kSealName) + " cannot be read:" +
                        fncErrorSuffix(objProblem.objError));
        break;
      case kSealBadLine:
        subFindSeal(objReport, objProblem.lngLine,
                    "not a seal line (64 hex digits, two spaces or ' *', a file name inside "
                    "the package)");
        break;
      case kSealFileMissing:
        subFindSeal(objReport, objProblem.lngLine, strName + " is missing");
        break;
      case kSealMismatch:
        subFindSeal(objReport, objProblem.lngLine, strName + " does not match its digest");
        break;
      case kSealFileUnreadable:
        subFindSeal(objReport, objProblem.lngLine,
                    strName + " cannot be read:" + fncErrorSuffix(objProblem.objError));
        break;
      case kSealNotListed:
        if (objProblem.strName == kManifestName) {
          subFindSeal(objReport, 0, std::string(kManifestName) + " is not sealed");
        } else {
          objReport.objFindings.push_back(Finding{
              fncSourceLine(objReport, objProblem.strName), true,
              "source " + strName + " is not sealed in " + kSealName + kBeforeFirstEntry, ""});
        }
        break;
    }
  }
}

}  // namespace tarvex
