// The package's seal, as a run checks it; and the writing of a seal.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "check/check.h"
#include "control/control.h"
#include "deploy/deploy.h"
#include "deploy/seal.h"

namespace tarvex {

namespace {

const char kBeforeFirstEntry[] = ": a sealed run fails before its first entry";

void subFindSeal(CheckReport& objReport, long lngLine, const std::string& strText) {
  objReport.objFindings.push_back(Finding{lngLine, true, strText + kBeforeFirstEntry, kSealName});
}

// Manifest findings first, then the seal's, each by line, as a reader goes
// through the files.
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

}  // namespace

void subCheckSeal(const std::string& strFolder, CheckReport& objReport) {
  const std::string strSealPath = fncJoinPath(strFolder, kSealName);
  if (!Os().fncFileExists(strSealPath)) {
    // Only POSIX gets here with a seal in another case, which its runs take
    // for no seal at all.
    for (const std::string& strFile : Os().fncListFiles(strFolder))
      if (fncUpperCase(strFile) == fncUpperCase(kSealName))
        objReport.objFindings.push_back(
            Finding{0, true, "the seal is stored as '" + strFile +
                             "': a run on POSIX would not find it, and deploy unsealed", ""});
    subOrderAndCount(objReport);
    return;
  }
  Seal objSeal;
  try {
    objSeal = fncParseSeal(Os().fncReadFileBytes(strSealPath));
  } catch (...) {
    subFindSeal(objReport, 0,
                std::string(kSealName) + " cannot be read:" + fncErrorSuffix(fncTrappedError()));
    subOrderAndCount(objReport);
    return;
  }
  for (long lngLine : objSeal.objBadLines)
    subFindSeal(objReport, lngLine,
                "not a seal line (64 hex digits, two spaces or ' *', a file name inside the "
                "package)");
  std::set<std::string> objSealed;
  for (const SealLine& objLine : objSeal.objLines) {
    objSealed.insert(fncSealKey(objLine.strName));
    const std::string strPath = fncSealPath(strFolder, objLine.strName);
    if (!Os().fncFileExists(strPath)) {
      subFindSeal(objReport, objLine.lngLine, "'" + objLine.strName + "' is missing");
      continue;
    }
    try {
      if (Os().fncHashFile(strPath) != objLine.strDigest)
        subFindSeal(objReport, objLine.lngLine,
                    "'" + objLine.strName + "' does not match its digest");
    } catch (...) {
      subFindSeal(objReport, objLine.lngLine,
                  "'" + objLine.strName + "' cannot be read:" +
                      fncErrorSuffix(fncTrappedError()));
    }
  }
  if (objSealed.count(fncSealKey(kManifestName)) == 0)
    subFindSeal(objReport, 0, std::string(kManifestName) + " is not sealed");
  for (const auto& objSource : objReport.objCopySources)
    if (objSealed.count(fncSealKey(objSource.first)) == 0)
      objReport.objFindings.push_back(
          Finding{objSource.second, true,
                  "source '" + objSource.first + "' is not sealed in " + kSealName +
                      kBeforeFirstEntry,
                  ""});
  subOrderAndCount(objReport);
}

std::vector<std::string> fncWriteSeal(const std::string& strFolder, const CheckReport& objReport) {
  std::vector<SealLine> objLines;
  std::set<std::string> objSeen;
  std::vector<std::string> objNames{kManifestName};
  for (const auto& objSource : objReport.objCopySources) objNames.push_back(objSource.first);
  for (const std::string& strName : objNames) {
    if (!objSeen.insert(fncSealKey(strName)).second) continue;
    objLines.push_back(
        SealLine{strName, Os().fncHashFile(fncSealPath(strFolder, strName)), 0});
  }
  const std::string strText = fncSealText(objLines);

  // A temporary file of this run's own beside the seal (made exclusively,
  // never through a link), on the disk before it replaces an existing seal
  // in one rename.
  std::string strTemporary;
  FileHandle objFile = fncCreateTemporary(strFolder, kSealName, &strTemporary);
  try {
    Os().subWrite(objFile, strText.data(), strText.size());
    Os().subFlush(objFile);
    FileHandle objClosing = objFile;
    objFile = kNoFile;
    if (!Os().fncClose(objClosing)) subRaise(kErrIoError, fncErrorText(kErrIoError));
    Os().subReplace(strTemporary, fncJoinPath(strFolder, kSealName));
  } catch (...) {
    if (objFile != kNoFile) Os().fncClose(objFile);
    subDiscardTemporary(strTemporary);
    throw;
  }
  Os().subFlushFolder(strFolder);
  std::vector<std::string> objWritten;
  for (const SealLine& objLine : objLines) objWritten.push_back(fncSealText({objLine}));
  return objWritten;
}

}  // namespace tarvex
