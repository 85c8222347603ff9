// Fuzzes the POSIX profile reader and writer with whole files.
//
// Each input is a profile file. It is read with many buffer sizes and the
// results are checked against the return-value rules of the Win32 calls and
// against each other; then one key is written and the file read again: the
// key must read back as written (blanks and enclosing quotes as the reading
// rules drop them), nothing else may change, and writing it a second time
// must leave the file's bytes alone. The last four bytes of the input steer
// what is written.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/posix/internal.h"

using tarvex::posix::fncGetProfileSectionNames;
using tarvex::posix::fncGetProfileString;
using tarvex::posix::fncWriteProfileString;
using tarvex_fuzz::ReadWholeFile;
using tarvex_fuzz::ScratchFolder;
using tarvex_fuzz::WriteWholeFile;

namespace {

const size_t kMaxSections = 6;
const size_t kMaxKeys = 6;
const size_t kMaxSizeChecks = 16;

// The blanks the reading rules trim.
bool IsBlank(char chr) {
  unsigned char u = static_cast<unsigned char>(chr);
  return (u >= 0x09 && u <= 0x0D) || u == 0x1A || u == 0x20;
}

std::string CutAtNul(const std::string& strText) { return std::string(strText.c_str()); }

std::string Trim(const std::string& strText) {
  size_t lngStart = 0, lngEnd = strText.size();
  while (lngStart < lngEnd && IsBlank(strText[lngStart])) ++lngStart;
  while (lngEnd > lngStart && IsBlank(strText[lngEnd - 1])) --lngEnd;
  return strText.substr(lngStart, lngEnd - lngStart);
}

std::string Fold(std::string strText) {
  for (char& chr : strText)
    if (chr >= 'A' && chr <= 'Z') chr = static_cast<char>(chr + ('a' - 'A'));
  return strText;
}

// A name asked for, as lookups compare it. A name in the file is trimmed
// before its NUL cuts it, so it may keep blanks before the NUL that no
// lookup matches; the listed name folded is what lookups compare with.
std::string NameKey(const std::string& strName) { return Fold(Trim(CutAtNul(strName))); }

// The section list, checked for any buffer size; a complete list of the
// names when the buffer held them all.
std::string ReadSectionNames(const std::string& strFile, uint32_t lngSize) {
  std::vector<char> objBuffer(lngSize == 0 ? 1 : lngSize, '\x55');
  uint32_t lngCount = fncGetProfileSectionNames(objBuffer.data(), lngSize, strFile);
  if (lngSize == 0) {
    FUZZ_CHECK(lngCount == 0);
    FUZZ_CHECK(objBuffer[0] == '\x55');  // nothing written into no room
    return std::string();
  }
  if (lngSize == 1) {
    FUZZ_CHECK(lngCount == 0);
    FUZZ_CHECK(objBuffer[0] == '\0');
    return std::string();
  }
  FUZZ_CHECK(lngCount <= lngSize - 2);
  FUZZ_CHECK(objBuffer[lngCount] == '\0');
  // The list ends in two NULs: the last name's and the final one, or two
  // final ones when the list was cut.
  if (lngCount > 0) {
    FUZZ_CHECK(objBuffer[lngCount - 1] == '\0' ||
               (lngCount == lngSize - 2 && objBuffer[lngCount + 1] == '\0'));
  }
  return std::string(objBuffer.data(), lngCount);
}

std::vector<std::string> SplitNames(const std::string& strList) {
  std::vector<std::string> objNames;
  size_t lngPos = 0;
  while (lngPos < strList.size()) {
    size_t lngEnd = strList.find('\0', lngPos);
    FUZZ_CHECK(lngEnd != std::string::npos);  // a complete list: every name ends in NUL
    objNames.push_back(strList.substr(lngPos, lngEnd - lngPos));
    lngPos = lngEnd + 1;
  }
  return objNames;
}

// One value read with a buffer of lngSize bytes, checked.
std::string ReadValue(const std::string& strSection, const std::string& strKey, uint32_t lngSize,
                      const std::string& strFile) {
  // Exactly lngSize bytes, so that a write past the end is an ASan report.
  std::vector<char> objBuffer(lngSize == 0 ? 1 : lngSize, '\x55');
  uint32_t lngCount = fncGetProfileString(strSection, strKey, objBuffer.data(), lngSize, strFile);
  if (lngSize == 0) {
    FUZZ_CHECK(lngCount == 0);
    FUZZ_CHECK(objBuffer[0] == '\x55');
    return std::string();
  }
  FUZZ_CHECK(lngCount < lngSize);
  FUZZ_CHECK(objBuffer[lngCount] == '\0');
  FUZZ_CHECK(std::strlen(objBuffer.data()) == lngCount);
  std::string strValue(objBuffer.data(), lngCount);
  // A value never spans lines.
  FUZZ_CHECK(strValue.find_first_of("\r\n") == std::string::npos);
  return strValue;
}

// Checks a value read with smaller buffers against its whole reading: a
// prefix, cut to the buffer; a quoted value one byte short of the buffer
// comes back one byte shorter still, as on Windows.
void CheckCutValues(const std::string& strSection, const std::string& strKey,
                    const std::string& strWhole, const std::string& strFile) {
  const uint32_t lngWhole = static_cast<uint32_t>(strWhole.size());
  const uint32_t alngSizes[] = {0, 1, 2, lngWhole, lngWhole + 1, lngWhole + 2, 255};
  for (uint32_t lngSize : alngSizes) {
    std::string strCut = ReadValue(strSection, strKey, lngSize, strFile);
    if (lngSize == 0) continue;
    uint32_t lngExpected = lngWhole < lngSize - 1 ? lngWhole : lngSize - 1;
    uint32_t lngGot = static_cast<uint32_t>(strCut.size());
    FUZZ_CHECK(lngGot == lngExpected ||
               (lngSize == lngWhole + 1 && lngWhole > 0 && lngGot == lngWhole - 1));
    FUZZ_CHECK(strWhole.compare(0, lngGot, strCut) == 0);
  }
}

// The input's bytes as ASCII text where it has a UTF-16 mark (one byte of
// each unit), so that names can be taken from it.
std::string AsciiView(const std::string& strData) {
  if (strData.size() >= 2 &&
      (strData.compare(0, 2, "\xFF\xFE") == 0 || strData.compare(0, 2, "\xFE\xFF") == 0)) {
    std::string strOut;
    size_t lngFirst = strData[0] == '\xFF' ? 2 : 3;
    for (size_t i = lngFirst; i < strData.size(); i += 2) strOut += strData[i];
    return strOut;
  }
  return strData;
}

// Candidate keys: the text before the '=' of the input's first lines.
std::vector<std::string> KeyCandidates(const std::string& strText) {
  std::vector<std::string> objKeys;
  size_t lngPos = 0;
  while (lngPos < strText.size() && objKeys.size() < kMaxKeys) {
    size_t lngEnd = strText.find_first_of("\r\n", lngPos);
    if (lngEnd == std::string::npos) lngEnd = strText.size();
    std::string strLine = strText.substr(lngPos, lngEnd - lngPos);
    lngPos = lngEnd + 1;
    std::string strTrimmed = Trim(strLine);
    if (strTrimmed.empty() || strTrimmed[0] == '[') continue;
    objKeys.push_back(strLine.substr(0, strLine.find('=')));
  }
  objKeys.push_back("FileName");
  return objKeys;
}

// A name or value safe to write and read back: no line breaks; in a UTF-16
// file only ASCII, since a byte that is no UTF-8 cannot survive the
// conversion.
std::string Writable(std::string strText, bool blnUtf16) {
  for (char& chr : strText) {
    if (chr == '\r' || chr == '\n') chr = '_';
    if (blnUtf16 && static_cast<unsigned char>(chr) >= 0x80) chr = '?';
  }
  return strText;
}

// A value as it reads: quotes around the whole of it go.
std::string Unquote(const std::string& strValue) {
  if (strValue.size() >= 2 && (strValue[0] == '"' || strValue[0] == '\'') &&
      strValue.back() == strValue[0])
    return strValue.substr(1, strValue.size() - 2);
  return strValue;
}

// What the writer puts after the '=': the value up to its NUL, without its
// leading blanks.
std::string WrittenForm(const std::string& strValue) {
  std::string strOut = CutAtNul(strValue);
  size_t lngLead = 0;
  while (lngLead < strOut.size() && IsBlank(strOut[lngLead])) ++lngLead;
  return strOut.substr(lngLead);
}

std::string Substring(const std::string& strData, uint8_t bytStart, uint8_t bytLength) {
  if (strData.empty()) return std::string();
  size_t lngStart = strData.size() * bytStart / 256;
  return strData.substr(lngStart, bytLength);
}

// ---- A second reading of the rules, kept plain: the reader must agree
// with it on every lookup of a file without a UTF-16 mark.
struct ModelKey {
  std::string strName;
  std::string strValue;
  bool blnHasValue;
};
struct ModelSection {
  std::string strName;
  bool blnHeader;
  std::vector<ModelKey> objKeys;
};

std::vector<ModelSection> ModelParse(std::string strText) {
  if (strText.compare(0, 3, "\xEF\xBB\xBF") == 0) strText.erase(0, 3);
  std::vector<ModelSection> objSections(1, ModelSection{"", false, {}});
  size_t lngPos = 0;
  while (lngPos < strText.size()) {
    size_t lngEnd = strText.find_first_of("\r\n", lngPos);
    if (lngEnd == std::string::npos) lngEnd = strText.size();
    std::string strLine = Trim(strText.substr(lngPos, lngEnd - lngPos));
    lngPos = lngEnd;
    if (strText.compare(lngPos, 2, "\r\n") == 0)
      lngPos += 2;
    else if (lngPos < strText.size())
      lngPos += 1;
    if (strLine.empty()) continue;
    size_t lngClose = strLine.rfind(']');
    if (strLine[0] == '[' && lngClose != std::string::npos && lngClose > 0) {
      objSections.push_back(
          ModelSection{CutAtNul(Trim(strLine.substr(1, lngClose - 1))), true, {}});
      continue;
    }
    size_t lngEqual = strLine.find('=');
    if (lngEqual == std::string::npos) {
      objSections.back().objKeys.push_back(ModelKey{CutAtNul(strLine), "", false});
    } else {
      objSections.back().objKeys.push_back(ModelKey{CutAtNul(Trim(strLine.substr(0, lngEqual))),
                                                    CutAtNul(Trim(strLine.substr(lngEqual + 1))),
                                                    true});
    }
  }
  return objSections;
}

std::string ModelNames(const std::vector<ModelSection>& objSections) {
  std::string strNames;
  for (const ModelSection& objSection : objSections)
    if (objSection.blnHeader && !objSection.strName.empty()) strNames += objSection.strName + '\0';
  return strNames;
}

// The first section and the first key of the name win.
const ModelKey* ModelFind(const std::vector<ModelSection>& objSections,
                          const std::string& strSection, const std::string& strKey) {
  for (const ModelSection& objSection : objSections) {
    if (Fold(objSection.strName) != NameKey(strSection)) continue;
    for (const ModelKey& objKey : objSection.objKeys)
      if (Fold(objKey.strName) == NameKey(strKey)) return &objKey;
    return nullptr;
  }
  return nullptr;
}

std::string ModelValue(const std::vector<ModelSection>& objSections, const std::string& strSection,
                       const std::string& strKey) {
  const ModelKey* pKey = ModelFind(objSections, strSection, strKey);
  return pKey != nullptr && pKey->blnHasValue ? Unquote(pKey->strValue) : std::string();
}

int g_intCounter = 0;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t lngSize) {
  if (lngSize > 65536) return 0;
  const std::string strData(reinterpret_cast<const char*>(pData), lngSize);
  // A few file names in turn: a name comes back with new content while the
  // reader still caches the old one.
  const std::string strFile = ScratchFolder() + "/p" + std::to_string(g_intCounter++ % 4) + ".ini";
  WriteWholeFile(strFile, strData);

  // UTF-16 turns 2 bytes into at most 3 and each name gains one NUL, so
  // twice the input plus a little always holds the list.
  const uint32_t lngLarge = static_cast<uint32_t>(2 * lngSize + 16);
  const std::string strList = ReadSectionNames(strFile, lngLarge);
  const std::vector<std::string> objNames = SplitNames(strList);
  for (const std::string& strName : objNames) {
    FUZZ_CHECK(!strName.empty());  // the nameless section is left out
    FUZZ_CHECK(!IsBlank(strName[0]));
    FUZZ_CHECK(strName.find_first_of("\r\n") == std::string::npos);
  }
  // Smaller buffers: the same list, cut to size - 2.
  for (uint32_t lngSmall : {0u, 1u, 2u, 3u, 7u, 255u, static_cast<uint32_t>(strList.size()) + 1,
                            static_cast<uint32_t>(strList.size()) + 2}) {
    std::string strCut = ReadSectionNames(strFile, lngSmall);
    if (lngSmall < 2) continue;
    size_t lngExpected = strList.size() < lngSmall - 2 ? strList.size() : lngSmall - 2;
    FUZZ_CHECK(strCut.size() == lngExpected);
    FUZZ_CHECK(strList.compare(0, strCut.size(), strCut) == 0);
  }

  // Values: every listed section (and the nameless one) with the candidate
  // keys, whole and cut.
  std::vector<std::string> objSections(1, "");
  for (size_t i = 0; i < objNames.size() && i < kMaxSections; ++i)
    objSections.push_back(objNames[i]);
  const bool blnUtf16 = lngSize >= 2 && (strData.compare(0, 2, "\xFF\xFE") == 0 ||
                                         strData.compare(0, 2, "\xFE\xFF") == 0);
  const std::vector<std::string> objKeys = KeyCandidates(AsciiView(strData));
  std::vector<ModelSection> objModel;
  if (!blnUtf16) {
    objModel = ModelParse(strData);
    FUZZ_CHECK(strList == ModelNames(objModel));
  }
  std::map<std::pair<std::string, std::string>, std::string> objBefore;
  size_t lngSizeChecks = 0;
  for (const std::string& strSection : objSections) {
    for (const std::string& strKey : objKeys) {
      std::string strValue = ReadValue(strSection, strKey, lngLarge, strFile);
      FUZZ_CHECK(strValue.size() + 1 < lngLarge);  // read whole
      if (!blnUtf16) FUZZ_CHECK(strValue == ModelValue(objModel, strSection, strKey));
      objBefore[{strSection, strKey}] = strValue;
      if (!strValue.empty() && lngSizeChecks < kMaxSizeChecks) {
        ++lngSizeChecks;
        CheckCutValues(strSection, strKey, strValue, strFile);
      }
    }
  }

  // The same name with other bytes in place: the reader must not answer
  // from what it cached for the old bytes.
  {
    std::string strOther(strData.rbegin(), strData.rend());
    const std::string strFresh = ScratchFolder() + "/fresh.ini";
    WriteWholeFile(strFresh, strOther);
    WriteWholeFile(strFile, strOther);
    FUZZ_CHECK(ReadSectionNames(strFile, lngLarge) == ReadSectionNames(strFresh, lngLarge));
    unlink(strFresh.c_str());
    WriteWholeFile(strFile, strData);
    FUZZ_CHECK(ReadSectionNames(strFile, lngLarge) == strList);
  }

  // One write, steered by the last four bytes.
  uint8_t abytCtl[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < 4 && i < lngSize; ++i) abytCtl[i] = pData[lngSize - 1 - i];

  std::string strSection;
  switch (abytCtl[0] & 3) {
    case 0:
      strSection = "";
      break;
    case 1:
      strSection = Writable(Substring(strData, abytCtl[1], abytCtl[0] >> 3), blnUtf16);
      break;
    default:
      if (objNames.empty()) {
        strSection = "STATUS_INFO";
      } else {
        strSection = objNames[(abytCtl[0] >> 2) % objNames.size()];
        // Another spelling of the same name: other case, outer blanks.
        if (abytCtl[0] & 0x80) {
          for (char& chr : strSection)
            if ((chr >= 'a' && chr <= 'z') || (chr >= 'A' && chr <= 'Z')) chr ^= 0x20;
          strSection = " " + strSection + "\t";
        }
      }
  }
  std::string strKey;
  if (abytCtl[2] & 1) {
    strKey = Writable(Substring(strData, abytCtl[3], abytCtl[2] >> 3), blnUtf16);
  } else {
    strKey = Writable(objKeys[(abytCtl[2] >> 1) % objKeys.size()], blnUtf16);
  }
  // A key line splits at its first '=' and one that starts with '[' may be
  // a section header, so such names cannot be written as keys.
  for (char& chr : strKey)
    if (chr == '=') chr = '_';
  std::string strKeyName = Trim(CutAtNul(strKey));
  if (!strKeyName.empty() && strKeyName[0] == '[') strKey = "k" + strKey;
  // A key written first into a file without a mark must not look like one
  // (the Windows reader would take it as one too).
  if (!strKeyName.empty() && (static_cast<unsigned char>(strKeyName[0]) == 0xEF ||
                              static_cast<unsigned char>(strKeyName[0]) >= 0xFE))
    strKey = "k" + strKey;
  std::string strValue = Writable(Substring(strData, abytCtl[1], abytCtl[3] % 64), blnUtf16);

  const bool blnSectionExisted = NameKey(strSection).empty() || [&] {
    for (const std::string& strName : objNames)
      if (Fold(strName) == NameKey(strSection)) return true;
    return false;
  }();
  // The value reads back as written, its trailing blanks and enclosing
  // quotes dropped. But a key whose stored value already equals what would
  // be written is left alone, and a stored value cut by a NUL may keep
  // blanks at its end that a written line would lose: then the old reading
  // stays.
  const std::string strWritten = WrittenForm(strValue);
  std::string strExpected = Unquote(Trim(strWritten));
  if (!blnUtf16) {
    const ModelKey* pOld = ModelFind(objModel, strSection, strKey);
    if (pOld != nullptr && pOld->blnHasValue && pOld->strValue == strWritten)
      strExpected = Unquote(pOld->strValue);
  }
  FUZZ_CHECK(fncWriteProfileString(strSection, strKey, strValue, strFile));
  const std::string strReadBack = ReadValue(
      strSection, strKey, lngLarge + 2 * static_cast<uint32_t>(strValue.size()) + 64, strFile);
  FUZZ_CHECK(strReadBack == strExpected || (blnUtf16 && strReadBack == strWritten));
  std::string strListAfter =
      ReadSectionNames(strFile, lngLarge + 2 * static_cast<uint32_t>(strSection.size()) + 64);
  if (blnSectionExisted)
    FUZZ_CHECK(strListAfter == strList);
  else
    FUZZ_CHECK(strListAfter == strList + Trim(CutAtNul(strSection)) + std::string(1, '\0'));
  for (const auto& objEntry : objBefore) {
    if (NameKey(objEntry.first.first) == NameKey(strSection) &&
        NameKey(objEntry.first.second) == NameKey(strKey))
      continue;
    FUZZ_CHECK(ReadValue(objEntry.first.first, objEntry.first.second, lngLarge + 256, strFile) ==
               objEntry.second);
  }

  const std::string strBytes = ReadWholeFile(strFile);
  if (!blnUtf16) FUZZ_CHECK(strListAfter == ModelNames(ModelParse(strBytes)));

  // Writing the same again changes nothing.
  FUZZ_CHECK(fncWriteProfileString(strSection, strKey, strValue, strFile));
  FUZZ_CHECK(ReadWholeFile(strFile) == strBytes);
  return 0;
}
