// The manifest's lines as the profile rules split them: where each section
// header and key stands. Values are taken from the profile routines, never
// from here; this only says where things are and which names are present.
#include "check/check.h"
#include "deploy/deploy.h"

namespace tarvex {

namespace {

// The blanks the profile rules trim: TAB, LF, VT, FF, CR, ^Z and space.
bool fncIsBlank(char chr) {
  unsigned char intByte = static_cast<unsigned char>(chr);
  return (intByte >= 0x09 && intByte <= 0x0D) || intByte == 0x1A || intByte == 0x20;
}

std::string fncTrimmedPiece(const std::string& strText, size_t lngFrom, size_t lngTo) {
  while (lngFrom < lngTo && fncIsBlank(strText[lngFrom])) ++lngFrom;
  while (lngTo > lngFrom && fncIsBlank(strText[lngTo - 1])) --lngTo;
  std::string strPiece = strText.substr(lngFrom, lngTo - lngFrom);
  return std::string(strPiece.c_str());  // a NUL ends a name or value
}

// The text with its byte-order mark dropped; UTF-16 one byte per unit.
std::string fncPlainText(const std::string& strBytes) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(strBytes.data());
  if (strBytes.size() >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
    return strBytes.substr(3);
  bool blnLittle = strBytes.size() >= 2 && p[0] == 0xFF && p[1] == 0xFE;
  bool blnBig = strBytes.size() >= 2 && p[0] == 0xFE && p[1] == 0xFF;
  if (!blnLittle && !blnBig) return strBytes;
  std::string strText;
  strText.reserve(strBytes.size() / 2);
  for (size_t i = 2; i + 1 < strBytes.size(); i += 2) {
    unsigned intUnit = blnLittle ? (p[i + 1] << 8 | p[i]) : (p[i] << 8 | p[i + 1]);
    strText += intUnit < 0x80 ? static_cast<char>(intUnit) : '?';
  }
  return strText;
}

}  // namespace

std::vector<ScanSection> fncScanManifest(const std::string& strBytes) {
  const std::string strText = fncPlainText(strBytes);
  std::vector<ScanSection> objSections(1, ScanSection{"", 0, {}});
  long lngLine = 0;
  size_t lngPos = 0;
  while (lngPos < strText.size()) {
    ++lngLine;
    size_t lngEnd = strText.find_first_of("\r\n", lngPos);
    if (lngEnd == std::string::npos) lngEnd = strText.size();
    size_t lngNext = lngEnd;
    if (lngNext < strText.size())
      lngNext += (strText[lngNext] == '\r' && lngNext + 1 < strText.size() &&
                  strText[lngNext + 1] == '\n') ? 2 : 1;
    size_t lngFrom = lngPos, lngTo = lngEnd;
    lngPos = lngNext;
    while (lngFrom < lngTo && fncIsBlank(strText[lngFrom])) ++lngFrom;
    while (lngTo > lngFrom && fncIsBlank(strText[lngTo - 1])) --lngTo;
    if (lngFrom >= lngTo || strText[lngFrom] == ';') continue;
    if (strText[lngFrom] == '[') {
      // A header is named by the text up to its last ']'; a '[' line
      // without one is a key line.
      size_t lngClose = lngTo - 1;
      while (lngClose > lngFrom && strText[lngClose] != ']') --lngClose;
      if (lngClose > lngFrom) {
        objSections.push_back(
            ScanSection{fncTrimmedPiece(strText, lngFrom + 1, lngClose), lngLine, {}});
        continue;
      }
    }
    size_t lngEqual = lngFrom;
    while (lngEqual < lngTo && strText[lngEqual] != '=') ++lngEqual;
    ScanKey objKey{fncTrimmedPiece(strText, lngFrom, lngEqual),
                   lngEqual < lngTo ? fncTrimmedPiece(strText, lngEqual + 1, lngTo) : "",
                   lngLine};
    objSections.back().objKeys.push_back(std::move(objKey));
  }
  return objSections;
}

std::vector<const ScanSection*> fncMatchSections(const std::vector<std::string>& objNames,
                                                 const std::vector<ScanSection>& objScan) {
  std::vector<const ScanSection*> objNamed;
  for (size_t i = 1; i < objScan.size(); ++i)
    if (!objScan[i].strName.empty()) objNamed.push_back(&objScan[i]);
  if (objNamed.size() == objNames.size()) return objNamed;
  std::vector<const ScanSection*> objMatched(objNames.size(), nullptr);
  size_t lngNext = 0;
  for (size_t i = 0; i < objNames.size(); ++i) {
    const std::string strUpper = fncUpperCase(objNames[i]);
    const size_t kLookAhead = 64;
    for (size_t k = lngNext; k < objNamed.size() && k < lngNext + kLookAhead; ++k) {
      if (fncUpperCase(objNamed[k]->strName) == strUpper) {
        objMatched[i] = objNamed[k];
        lngNext = k + 1;
        break;
      }
    }
  }
  return objMatched;
}

long fncKeyLine(const ScanSection* pScan, const char* strKey, long lngHeader) {
  if (pScan == nullptr) return lngHeader;
  const std::string strUpper = fncUpperCase(strKey);
  for (const ScanKey& objKey : pScan->objKeys)
    if (fncUpperCase(objKey.strName) == strUpper) return objKey.lngLine;
  return lngHeader;
}

}  // namespace tarvex
