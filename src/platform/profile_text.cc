// Profile text: encodings, parsing, lookups and edits, by the rules
// profile_text.h describes.
#include "platform/profile_text.h"

#include <cstring>

#include "platform/platform.h"
#include "platform/text.h"

namespace tarvex {
namespace profile {

using namespace text;

bool fncIsBlank(char chr) {
  unsigned char intByte = static_cast<unsigned char>(chr);
  return (intByte >= 0x09 && intByte <= 0x0D) || intByte == 0x1A || intByte == 0x20;
}

std::string fncCString(const std::string& strText) { return std::string(strText.c_str()); }

std::string fncTrim(const std::string& strText) {
  size_t lngStart = 0, lngEnd = strText.size();
  while (lngStart < lngEnd && fncIsBlank(strText[lngStart])) ++lngStart;
  while (lngEnd > lngStart && fncIsBlank(strText[lngEnd - 1])) --lngEnd;
  return strText.substr(lngStart, lngEnd - lngStart);
}

// ---- encodings

void subDecode(std::string&& strRaw, Profile& objProfile) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(strRaw.data());
  if (strRaw.size() >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
    objProfile.intEncoding = kEncUtf8;
    strRaw.erase(0, 3);
    objProfile.strText = Os().fncFromUtf8(strRaw);
  } else if (strRaw.size() >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    objProfile.intEncoding = kEncUtf16Le;
    objProfile.strText = Os().fncFromUtf8(fncFromUtf16(strRaw.data() + 2, strRaw.size() - 2, false));
  } else if (strRaw.size() >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
    objProfile.intEncoding = kEncUtf16Be;
    objProfile.strText = Os().fncFromUtf8(fncFromUtf16(strRaw.data() + 2, strRaw.size() - 2, true));
  } else {
    objProfile.intEncoding = kEncAnsi;
    objProfile.strText = std::move(strRaw);
  }
}

// Only the POSIX writer encodes: its code page is UTF-8.
std::string fncEncode(const Profile& objProfile, const std::string& strText) {
  switch (objProfile.intEncoding) {
    case kEncUtf8:
      return "\xEF\xBB\xBF" + strText;
    case kEncUtf16Le:
      return "\xFF\xFE" + fncToUtf16(strText, false);
    case kEncUtf16Be:
      return "\xFE\xFF" + fncToUtf16(strText, true);
    default:
      return strText;
  }
}

// ---- parsing

namespace {

void subSplitLines(Profile& objProfile) {
  const std::string& strText = objProfile.strText;
  size_t lngPos = 0;
  while (lngPos < strText.size()) {
    size_t lngEnd = lngPos;
    while (lngEnd < strText.size() && strText[lngEnd] != '\r' && strText[lngEnd] != '\n') ++lngEnd;
    size_t lngNext = lngEnd;
    if (lngNext < strText.size()) {
      if (strText[lngNext] == '\r' && lngNext + 1 < strText.size() && strText[lngNext + 1] == '\n')
        lngNext += 2;
      else
        lngNext += 1;
    }
    objProfile.objLines.push_back(Line{lngPos, lngEnd, lngNext});
    lngPos = lngNext;
  }
}

void subAddSection(Profile& objProfile, const std::string& strName, size_t lngHeader) {
  Section objSection;
  objSection.strName = strName;
  objSection.lngHeader = lngHeader;
  objSection.lngLastLine = lngHeader;
  objProfile.objSections.push_back(std::move(objSection));
  objProfile.objSectionIndex.emplace(fncFold(strName), objProfile.objSections.size() - 1);
  if (lngHeader != kNone && !strName.empty()) {
    objProfile.strNames += strName;
    objProfile.strNames += '\0';
  }
}

}  // namespace

void subParse(Profile& objProfile) {
  subSplitLines(objProfile);
  subAddSection(objProfile, "", kNone);
  const std::string& strText = objProfile.strText;
  for (size_t lngIndex = 0; lngIndex < objProfile.objLines.size(); ++lngIndex) {
    const Line& objLine = objProfile.objLines[lngIndex];
    size_t lngFrom = objLine.lngStart, lngTo = objLine.lngEnd;
    while (lngFrom < lngTo && fncIsBlank(strText[lngFrom])) ++lngFrom;
    while (lngTo > lngFrom && fncIsBlank(strText[lngTo - 1])) --lngTo;
    if (lngFrom >= lngTo) continue;
    if (strText[lngFrom] == '[') {
      size_t lngClose = lngTo;
      while (lngClose > lngFrom && strText[lngClose - 1] != ']') --lngClose;
      if (lngClose > lngFrom + 1) {  // a ']' after the '['
        std::string strName = fncTrim(strText.substr(lngFrom + 1, lngClose - 1 - (lngFrom + 1)));
        subAddSection(objProfile, fncCString(strName), lngIndex);
        continue;
      }
    }
    Section& objSection = objProfile.objSections.back();
    objSection.lngLastLine = lngIndex;
    Key objKey;
    objKey.lngLine = lngIndex;
    size_t lngEqual = lngFrom;
    while (lngEqual < lngTo && strText[lngEqual] != '=') ++lngEqual;
    if (lngEqual < lngTo) {
      size_t lngNameEnd = lngEqual;
      while (lngNameEnd > lngFrom && fncIsBlank(strText[lngNameEnd - 1])) --lngNameEnd;
      size_t lngValue = lngEqual + 1;
      while (lngValue < lngTo && fncIsBlank(strText[lngValue])) ++lngValue;
      objKey.strName = fncCString(strText.substr(lngFrom, lngNameEnd - lngFrom));
      objKey.strValue = fncCString(strText.substr(lngValue, lngTo - lngValue));
      objKey.blnHasValue = true;
    } else {
      objKey.strName = fncCString(strText.substr(lngFrom, lngTo - lngFrom));
      objKey.blnHasValue = false;
    }
    objSection.objKeys.push_back(std::move(objKey));
  }
  // The parsed manifest stays for the run: no spare capacity.
  objProfile.objSections.shrink_to_fit();
  for (Section& objSection : objProfile.objSections) objSection.objKeys.shrink_to_fit();
  objProfile.objLines.shrink_to_fit();
}

const Section* fncFindSection(const Profile& objProfile, const std::string& strSection) {
  auto it = objProfile.objSectionIndex.find(fncFold(fncTrim(fncCString(strSection))));
  return it == objProfile.objSectionIndex.end() ? nullptr : &objProfile.objSections[it->second];
}

const Key* fncFindKey(const Section& objSection, const std::string& strKey) {
  const std::string strProbe = fncFold(fncTrim(fncCString(strKey)));
  for (const Key& objKey : objSection.objKeys) {
    if (objKey.strName.size() != strProbe.size()) continue;
    size_t i = 0;
    while (i < strProbe.size() &&
           (objKey.strName[i] >= 'A' && objKey.strName[i] <= 'Z'
                ? static_cast<char>(objKey.strName[i] + ('a' - 'A'))
                : objKey.strName[i]) == strProbe[i])
      ++i;
    if (i == strProbe.size()) return &objKey;
  }
  return nullptr;
}

Profile fncParseBytes(std::string&& strRaw) {
  Profile objProfile;
  subDecode(std::move(strRaw), objProfile);
  subParse(objProfile);
  return objProfile;
}

// ---- lookups

namespace {

// Copies a value as the Win32 code does: quotes dropped, cut to the buffer.
uint32_t fncCopyValue(const std::string& strValue, char* pBuffer, uint32_t lngSize) {
  const char* pValue = strValue.c_str();
  size_t lngLength = strValue.size();
  bool blnQuoted = false;
  if (lngLength >= 2 && (pValue[0] == '\'' || pValue[0] == '"') &&
      pValue[lngLength - 1] == pValue[0]) {
    blnQuoted = true;
    ++pValue;
    --lngLength;  // the closing quote is still counted here
  }
  size_t lngCopied = lngLength < lngSize - 1 ? lngLength : lngSize - 1;
  std::memcpy(pBuffer, pValue, lngCopied);
  if (blnQuoted && lngSize >= lngLength && lngCopied > 0) --lngCopied;
  pBuffer[lngCopied] = '\0';
  return static_cast<uint32_t>(lngCopied);
}

}  // namespace

uint32_t fncGetString(const Profile* pProfile, const std::string& strSection,
                      const std::string& strKey, char* pBuffer, uint32_t lngSize) {
  if (pBuffer == nullptr || lngSize == 0) return 0;
  const Key* pKey = nullptr;
  if (pProfile != nullptr) {
    const Section* pSection = fncFindSection(*pProfile, strSection);
    if (pSection != nullptr) pKey = fncFindKey(*pSection, strKey);
  }
  if (pKey == nullptr || !pKey->blnHasValue) {
    pBuffer[0] = '\0';
    return 0;
  }
  return fncCopyValue(pKey->strValue, pBuffer, lngSize);
}

uint32_t fncGetSectionNames(const Profile* pProfile, char* pBuffer, uint32_t lngSize) {
  if (pBuffer == nullptr || lngSize == 0) return 0;
  pBuffer[0] = '\0';
  if (lngSize == 1 || pProfile == nullptr) return 0;
  const std::string& strNames = pProfile->strNames;
  // Room for names, each with its NUL, before the final NUL.
  size_t lngRoom = lngSize - 1;
  size_t lngPos = 0;
  while (lngPos < strNames.size()) {
    size_t lngLength = std::strlen(strNames.c_str() + lngPos) + 1;
    if (lngLength >= lngRoom) {
      // The last name is cut so that the list still ends in two NULs.
      std::memcpy(pBuffer + lngPos, strNames.data() + lngPos, lngRoom - 1);
      pBuffer[lngPos + lngRoom - 1] = '\0';
      pBuffer[lngPos + lngRoom] = '\0';
      return lngSize - 2;
    }
    std::memcpy(pBuffer + lngPos, strNames.data() + lngPos, lngLength);
    lngPos += lngLength;
    lngRoom -= lngLength;
  }
  pBuffer[lngPos] = '\0';
  return static_cast<uint32_t>(lngPos);
}

// ---- writing

namespace {

std::string fncLineEnd(const Profile& objProfile) {
  for (const Line& objLine : objProfile.objLines) {
    if (objLine.lngNext == objLine.lngEnd) break;
    return objProfile.strText[objLine.lngEnd] == '\n' ? "\n" : "\r\n";
  }
  return "\r\n";
}

}  // namespace

bool fncEdit(const Profile& objProfile, const std::string& strSection, const std::string& strKey,
             const std::string& strValue, std::string& strText) {
  strText = objProfile.strText;
  std::string strEnd = fncLineEnd(objProfile);
  const Section* pSection = fncFindSection(objProfile, strSection);
  std::string strName = fncTrim(fncCString(strKey));
  if (pSection == nullptr) {
    if (!strText.empty() && strText.back() != '\n' && strText.back() != '\r') strText += strEnd;
    strText +=
        "[" + fncTrim(fncCString(strSection)) + "]" + strEnd + strName + "=" + strValue + strEnd;
    return true;
  }
  const Key* pKey = fncFindKey(*pSection, strKey);
  if (pKey != nullptr) {
    if (pKey->blnHasValue && pKey->strValue == strValue) return false;
    const Line& objLine = objProfile.objLines[pKey->lngLine];
    strText.replace(objLine.lngStart, objLine.lngEnd - objLine.lngStart,
                    pKey->strName + "=" + strValue);
    return true;
  }
  std::string strLine = strName + "=" + strValue + strEnd;
  if (pSection->lngLastLine == kNone) {
    strText.insert(0, strLine);
    return true;
  }
  const Line& objLast = objProfile.objLines[pSection->lngLastLine];
  if (objLast.lngNext == objLast.lngEnd) strLine = strEnd + strLine;  // no line end at the end
  strText.insert(objLast.lngNext, strLine);
  return true;
}

}  // namespace profile
}  // namespace tarvex
