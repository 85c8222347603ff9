// The seal: its text, its names, its check and its writing.
#include "deploy/seal.h"

#include <climits>
#include <set>

#include "control/run_state.h"
#include "deploy/deploy.h"

namespace tarvex {

namespace {

bool fncIsHex(char chr) {
  return (chr >= '0' && chr <= '9') || (chr >= 'a' && chr <= 'f') || (chr >= 'A' && chr <= 'F');
}

// A name a seal may give: a file inside the application folder, without
// control characters (a CR left of a CR CR LF line end among them), so that
// every name a seal holds can be written back as it was read.
bool fncIsInside(const std::string& strName) {
  if (strName.empty()) return false;
  for (char chr : strName)
    if (static_cast<unsigned char>(chr) < 0x20) return false;
  if (strName[0] == '/' || strName[0] == '\\' || (strName.size() >= 2 && strName[1] == ':'))
    return false;
  size_t lngStart = 0;
  while (lngStart <= strName.size()) {
    size_t lngEnd = strName.find_first_of("\\/", lngStart);
    if (lngEnd == std::string::npos) lngEnd = strName.size();
    const std::string strPart = strName.substr(lngStart, lngEnd - lngStart);
    if (strPart.empty() || strPart == "." || strPart == "..") return false;
    lngStart = lngEnd + 1;
  }
  return true;
}

std::string fncTrimmed(const std::string& strText) {
  size_t lngFrom = strText.find_first_not_of(" \t");
  if (lngFrom == std::string::npos) return "";
  return strText.substr(lngFrom, strText.find_last_not_of(" \t") - lngFrom + 1);
}

// "# Package: NAME" and its kind: the statement it makes, or none.
void subReadStatement(const std::string& strLine, long lngLine, SealHeader& objHeader) {
  const size_t lngColon = strLine.find(':');
  if (lngColon == std::string::npos) return;
  const std::string strKey = fncTrimmed(strLine.substr(1, lngColon - 1));
  SealStatement* pStatement = strKey == "Package"   ? &objHeader.objPackage
                              : strKey == "Version" ? &objHeader.objVersion
                              : strKey == "Expires" ? &objHeader.objExpires
                                                    : nullptr;
  if (pStatement == nullptr) return;
  if (pStatement->blnGiven) pStatement->blnRepeated = true;
  pStatement->blnGiven = true;
  pStatement->strValue = fncTrimmed(strLine.substr(lngColon + 1));
  pStatement->lngLine = lngLine;
}

}  // namespace

Seal fncParseSeal(const std::string& strText) {
  Seal objSeal;
  size_t lngStart = 0;
  // A mark that an editor or PowerShell put before the first line.
  if (strText.compare(0, 3, "\xEF\xBB\xBF") == 0) lngStart = 3;
  long lngLine = 0;
  while (lngStart < strText.size()) {
    size_t lngEnd = strText.find('\n', lngStart);
    if (lngEnd == std::string::npos) lngEnd = strText.size();
    std::string strLine = strText.substr(lngStart, lngEnd - lngStart);
    lngStart = lngEnd + 1;
    ++lngLine;
    if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
    if (!strLine.empty() && strLine[0] == '#') {
      subReadStatement(strLine, lngLine, objSeal.objHeader);
      continue;
    }
    bool blnGood = strLine.size() > 66 && strLine[64] == ' ' &&
                   (strLine[65] == ' ' || strLine[65] == '*');
    for (size_t i = 0; blnGood && i < 64; ++i) blnGood = fncIsHex(strLine[i]);
    const std::string strName = blnGood ? strLine.substr(66) : std::string();
    if (!blnGood || !fncIsInside(strName)) {
      objSeal.objBadLines.push_back(lngLine);
      continue;
    }
    std::string strDigest = strLine.substr(0, 64);
    for (char& chr : strDigest)
      if (chr >= 'A' && chr <= 'F') chr = static_cast<char>(chr - 'A' + 'a');
    objSeal.objLines.push_back(SealLine{strName, strDigest, lngLine});
  }
  return objSeal;
}

std::string fncSealText(const std::vector<SealLine>& objLines, const SealHeader& objHeader) {
  std::string strText;
  const std::pair<const char*, const SealStatement*> kStatements[] = {
      {"Package", &objHeader.objPackage},
      {"Version", &objHeader.objVersion},
      {"Expires", &objHeader.objExpires}};
  for (const auto& objStatement : kStatements)
    if (objStatement.second->blnGiven)
      strText += std::string("# ") + objStatement.first + ": " + objStatement.second->strValue + "\n";
  for (const SealLine& objLine : objLines) {
    std::string strName = objLine.strName;
    for (char& chr : strName)
      if (chr == '\\') chr = '/';
    strText += objLine.strDigest + "  " + strName + "\n";
  }
  return strText;
}

std::string fncSealName(const std::string& strFileName) {
  size_t lngFrom = 0;
  while (strFileName.size() > lngFrom + 2 && strFileName[lngFrom] == '.' &&
         (strFileName[lngFrom + 1] == '\\' || strFileName[lngFrom + 1] == '/'))
    lngFrom += 2;
  return strFileName.substr(lngFrom);
}

std::string fncSealKey(const std::string& strName) {
  std::string strKey = fncSealName(strName);
  for (char& chr : strKey)
    if (chr == '\\') chr = '/';
  // The separator tells the build, as it does for manifest paths.
  return Os().chrSeparator == '\\' ? fncUpperCase(strKey) : strKey;
}

std::string fncSealPath(const std::string& strFolder, const std::string& strName) {
  std::string strPath = strName;
  for (char& chr : strPath)
    if (chr == '\\' || chr == '/') chr = Os().chrSeparator;
  return strFolder + fncSep() + strPath;
}

std::vector<SealProblem> fncCheckSeal(const Package& objPackage,
                                      const std::vector<std::string>& objRequired) {
  std::vector<SealProblem> objProblems;
  if (!objPackage.blnSealed) return objProblems;
  if (objPackage.objSealError.lngNumber != 0) {
    objProblems.push_back({kSealUnreadable, 0, kSealName, objPackage.objSealError});
    return objProblems;
  }
  const Seal& objSeal = objPackage.objSeal;
  const std::string strManifestKey = fncSealKey(kManifestName);
  size_t lngBad = 0;
  for (size_t i = 0; i <= objSeal.objLines.size(); ++i) {
    const long lngLine = i < objSeal.objLines.size() ? objSeal.objLines[i].lngLine : LONG_MAX;
    for (; lngBad < objSeal.objBadLines.size() && objSeal.objBadLines[lngBad] < lngLine; ++lngBad)
      objProblems.push_back({kSealBadLine, objSeal.objBadLines[lngBad], "", Error{0, ""}});
    if (i == objSeal.objLines.size()) break;
    const SealLine& objLine = objSeal.objLines[i];
    SealProblem objProblem{kSealMismatch, objLine.lngLine, objLine.strName, Error{0, ""}};
    if (fncSealKey(objLine.strName) == strManifestKey) {
      // The manifest as this run read it, never read again.
      const Error& objError = objPackage.objManifestError;
      if (objError.lngNumber == kErrFileNotFound)
        objProblem.intFault = kSealFileMissing;
      else if (objError.lngNumber != 0)
        objProblem = {kSealFileUnreadable, objLine.lngLine, objLine.strName, objError};
      else if (objPackage.objManifest.strDigest == objLine.strDigest)
        continue;
    } else {
      const std::string strPath = fncSealPath(objPackage.strFolder, objLine.strName);
      if (!Os().fncFileExists(strPath)) {
        objProblem.intFault = kSealFileMissing;
      } else {
        try {
          if (fncHashFile(strPath) == objLine.strDigest) continue;
        } catch (...) {
          objProblem = {kSealFileUnreadable, objLine.lngLine, objLine.strName, fncTrappedError()};
        }
      }
    }
    objProblems.push_back(objProblem);
  }
  for (const std::string& strFile : objRequired)
    if (objPackage.objDigests.count(fncSealKey(strFile)) == 0)
      objProblems.push_back({kSealNotListed, 0, strFile, Error{0, ""}});
  return objProblems;
}

std::vector<std::string> fncWriteSeal(const std::string& strFolder,
                                      const std::vector<std::string>& objNames,
                                      const SealHeader& objHeader,
                                      const std::string* pPrivatePem) {
  std::vector<SealLine> objLines;
  std::set<std::string> objSeen;
  for (const std::string& strName : objNames) {
    if (!objSeen.insert(fncSealKey(strName)).second) continue;
    objLines.push_back(
        SealLine{fncSealName(strName), fncHashFile(fncSealPath(strFolder, strName)), 0});
  }
  // The signature is over the very bytes written; a key that cannot sign
  // leaves both files as they were.
  const std::string strSeal = fncSealText(objLines, objHeader);
  const std::string strSignature =
      pPrivatePem != nullptr ? Os().fncSignP256(*pPrivatePem, strSeal) : std::string();
  // With the mode any new file gets, so that the agent's account may read
  // a seal that a build account made.
  subReplaceWholeFile(strFolder, kSealName, strSeal);
  if (pPrivatePem != nullptr) subReplaceWholeFile(strFolder, kSignatureName, strSignature);
  std::vector<std::string> objWritten;
  for (const SealLine& objLine : objLines) objWritten.push_back(fncSealText({objLine}));
  return objWritten;
}

}  // namespace tarvex
