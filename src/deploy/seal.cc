#include "deploy/seal.h"

#include "control/control.h"
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

std::string fncSealText(const std::vector<SealLine>& objLines) {
  std::string strText;
  for (const SealLine& objLine : objLines) {
    std::string strName = objLine.strName;
    for (char& chr : strName)
      if (chr == '\\') chr = '/';
    strText += objLine.strDigest + "  " + strName + "\n";
  }
  return strText;
}

std::string fncSealKey(const std::string& strName) {
  std::string strKey = strName;
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

std::string fncSealedDigest(const std::string& strFileName) {
  auto it = g_run.objSealDigests.find(fncSealKey(strFileName));
  return it == g_run.objSealDigests.end() ? std::string() : it->second;
}

}  // namespace tarvex
