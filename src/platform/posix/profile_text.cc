// Profile text: encodings, parsing and edits, by the rules profile.cc
// describes.
#include "platform/posix/profile_text.h"

#include "platform/posix/internal.h"

namespace tarvex {
namespace posix {
namespace profile {

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
    objProfile.strText = std::move(strRaw);
  } else if (strRaw.size() >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    objProfile.intEncoding = kEncUtf16Le;
    objProfile.strText = fncFromUtf16(strRaw.data() + 2, strRaw.size() - 2, false);
  } else if (strRaw.size() >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
    objProfile.intEncoding = kEncUtf16Be;
    objProfile.strText = fncFromUtf16(strRaw.data() + 2, strRaw.size() - 2, true);
  } else {
    objProfile.intEncoding = kEncAnsi;
    objProfile.strText = std::move(strRaw);
  }
}

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
  // The parsed manifest stays cached for the run: no spare capacity.
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
}  // namespace posix
}  // namespace tarvex
