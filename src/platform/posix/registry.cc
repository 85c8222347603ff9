// The machine registry on POSIX: a registry-export text file, named by the
// environment variable TARVEX_REGISTRY (default /etc/tarvex/registry.reg),
// read afresh at every open of the agent's key.
//
// The file is what the Windows registry editor exports:
// - UTF-16LE with a byte-order mark (its own export), UTF-8 with or without
//   a mark, or plain ASCII; text is handed out as UTF-8, this build's code
//   page.
// - A header line "Windows Registry Editor Version 5.00" or "REGEDIT4". It
//   may be missing; any other line that is no key or value is skipped, as is
//   a comment (';').
// - Key lines [HKEY_LOCAL_MACHINE\SOFTWARE\VELMOR]; the root may also be
//   written HKLM. Names compare without regard to ASCII case. The 32-bit view
//   of a 64-bit export, SOFTWARE\WOW6432Node\VELMOR, is what a 32-bit program
//   sees on 64-bit Windows, so it wins over SOFTWARE\VELMOR when both exist.
// - Values: "Name"="text" (REG_SZ, with \\ and \" escapes), @ for the default
//   value, dword:12345678 (REG_DWORD), hex:.. (REG_BINARY), hex(N):.. (type
//   N). A hex list may go on over lines ending in a backslash. hex(2) and
//   hex(7) data of a version 5.00 file are UTF-16LE text and are converted as
//   RegQueryValueExA converts them.
// - Deletions are honoured in file order, as an import would apply them:
//   [-KEY] removes the key and its subkeys, "Name"=- removes a value. A later
//   line for the same value replaces the earlier one.
// - A line that cannot be understood is skipped.
#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_map>

#include "platform/posix/internal.h"

namespace tarvex {
namespace posix {

namespace {

const int32_t kCodeSuccess = 0;
const int32_t kCodeNotFound = 2;
const int32_t kCodeAccessDenied = 5;
const int32_t kCodeInvalidHandle = 6;
const int32_t kCodeInvalidParameter = 87;
const int32_t kCodeMoreData = 234;

const char kDefaultRegistry[] = "/etc/tarvex/registry.reg";
const char kAgentKey[] = "hkey_local_machine\\software\\velmor";
const char kAgentKey32[] = "hkey_local_machine\\software\\wow6432node\\velmor";

struct Value {
  uint32_t lngType;
  std::string strData;  // as RegQueryValueExA hands it out, NULs included
};

// An open key: its values by folded name.
struct KeyData {
  std::unordered_map<std::string, Value> objValues;
};

typedef std::map<std::string, KeyData> KeyMap;  // folded key path -> values

bool fncIsBlank(char chr) { return chr == ' ' || chr == '\t'; }

std::string fncTrim(const std::string& strText) {
  size_t lngStart = 0, lngEnd = strText.size();
  while (lngStart < lngEnd && fncIsBlank(strText[lngStart])) ++lngStart;
  while (lngEnd > lngStart && fncIsBlank(strText[lngEnd - 1])) --lngEnd;
  return strText.substr(lngStart, lngEnd - lngStart);
}

std::string fncDecode(const std::string& strRaw) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(strRaw.data());
  if (strRaw.size() >= 2 && p[0] == 0xFF && p[1] == 0xFE)
    return fncFromUtf16(strRaw.data() + 2, strRaw.size() - 2, false);
  if (strRaw.size() >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) return strRaw.substr(3);
  return strRaw;
}

// Reads "..." at lngPos with \\ and \" escapes; lngPos ends after the
// closing quote. False when the quote is not closed.
bool fncQuoted(const std::string& strLine, size_t& lngPos, std::string& strOut) {
  if (lngPos >= strLine.size() || strLine[lngPos] != '"') return false;
  strOut.clear();
  for (size_t i = lngPos + 1; i < strLine.size(); ++i) {
    char chr = strLine[i];
    if (chr == '"') {
      lngPos = i + 1;
      return true;
    }
    if (chr == '\\' && i + 1 < strLine.size() &&
        (strLine[i + 1] == '\\' || strLine[i + 1] == '"')) {
      strOut += strLine[++i];
      continue;
    }
    strOut += chr;
  }
  return false;
}

int fncHexDigit(char chr) {
  if (chr >= '0' && chr <= '9') return chr - '0';
  if (chr >= 'a' && chr <= 'f') return chr - 'a' + 10;
  if (chr >= 'A' && chr <= 'F') return chr - 'A' + 10;
  return -1;
}

// "01,02,ff" (blanks allowed around the bytes); false on anything else.
bool fncHexList(const std::string& strText, std::string& strOut) {
  strOut.clear();
  size_t i = 0;
  for (;;) {
    while (i < strText.size() && fncIsBlank(strText[i])) ++i;
    if (i >= strText.size()) return strOut.empty();  // "hex:" alone is empty data
    int intHigh = fncHexDigit(strText[i]);
    int intLow = i + 1 < strText.size() ? fncHexDigit(strText[i + 1]) : -1;
    if (intHigh < 0) return false;
    if (intLow < 0) {  // a single digit
      strOut += static_cast<char>(intHigh);
      i += 1;
    } else {
      strOut += static_cast<char>(intHigh << 4 | intLow);
      i += 2;
    }
    while (i < strText.size() && fncIsBlank(strText[i])) ++i;
    if (i >= strText.size()) return true;
    if (strText[i] != ',') return false;
    ++i;
  }
}

// The data after '=': false for a broken one. blnDelete for "-".
bool fncParseData(const std::string& strText, bool blnUnicodeFile, Value& objValue,
                  bool& blnDelete) {
  blnDelete = false;
  if (strText == "-") {
    blnDelete = true;
    return true;
  }
  if (!strText.empty() && strText[0] == '"') {
    size_t lngPos = 0;
    std::string strString;
    if (!fncQuoted(strText, lngPos, strString) || !fncTrim(strText.substr(lngPos)).empty())
      return false;
    objValue.lngType = kRegSz;
    objValue.strData = strString + '\0';
    return true;
  }
  std::string strLower = fncFold(strText);
  if (strLower.compare(0, 6, "dword:") == 0) {
    std::string strDigits = fncTrim(strText.substr(6));
    if (strDigits.empty() || strDigits.size() > 8) return false;
    uint32_t lngNumber = 0;
    for (char chr : strDigits) {
      int intDigit = fncHexDigit(chr);
      if (intDigit < 0) return false;
      lngNumber = lngNumber << 4 | static_cast<uint32_t>(intDigit);
    }
    objValue.lngType = kRegDword;
    objValue.strData.clear();
    for (int i = 0; i < 4; ++i)
      objValue.strData += static_cast<char>((lngNumber >> (8 * i)) & 0xFF);
    return true;
  }
  if (strLower.compare(0, 3, "hex") != 0) return false;
  size_t lngColon = strText.find(':');
  if (lngColon == std::string::npos) return false;
  std::string strKind = strLower.substr(3, lngColon - 3);
  uint32_t lngType = kRegBinary;
  if (!strKind.empty()) {
    if (strKind.size() < 3 || strKind.front() != '(' || strKind.back() != ')' ||
        strKind.size() > 10)
      return false;
    lngType = 0;
    for (size_t i = 1; i + 1 < strKind.size(); ++i) {
      int intDigit = fncHexDigit(strKind[i]);
      if (intDigit < 0) return false;
      lngType = lngType << 4 | static_cast<uint32_t>(intDigit);
    }
  }
  std::string strBytes;
  if (!fncHexList(strText.substr(lngColon + 1), strBytes)) return false;
  // Text types of a version 5.00 file hold UTF-16LE; the A call converts them.
  if (blnUnicodeFile && (lngType == kRegSz || lngType == kRegExpandSz || lngType == 7))
    strBytes = fncFromUtf16(strBytes.data(), strBytes.size(), false);
  objValue.lngType = lngType;
  objValue.strData = strBytes;
  return true;
}

// The key path of a key line, folded, with the HKLM root spelled out; the
// text between the brackets as it stands otherwise.
std::string fncKeyPath(const std::string& strInner) {
  std::string strPath = fncFold(fncTrim(strInner));
  if (strPath.compare(0, 5, "hklm\\") == 0 || strPath == "hklm")
    strPath = "hkey_local_machine" + strPath.substr(4);
  while (!strPath.empty() && strPath.back() == '\\') strPath.pop_back();
  return strPath;
}

void subDeleteTree(KeyMap& objKeys, const std::string& strPath) {
  auto it = objKeys.lower_bound(strPath);
  while (it != objKeys.end() && it->first.compare(0, strPath.size(), strPath) == 0) {
    if (it->first.size() == strPath.size() || it->first[strPath.size()] == '\\')
      it = objKeys.erase(it);
    else
      ++it;
  }
}

// The next physical line, blanks trimmed; lngPos moves past its line end.
std::string fncNextLine(const std::string& strText, size_t& lngPos) {
  size_t lngEnd = strText.find_first_of("\r\n", lngPos);
  if (lngEnd == std::string::npos) lngEnd = strText.size();
  std::string strLine = fncTrim(strText.substr(lngPos, lngEnd - lngPos));
  lngPos = lngEnd;
  if (lngPos < strText.size() && strText[lngPos] == '\r') ++lngPos;
  if (lngPos < strText.size() && strText[lngPos] == '\n') ++lngPos;
  return strLine;
}

KeyMap fncParseRegistry(const std::string& strText) {
  KeyMap objKeys;
  KeyData* pCurrent = nullptr;
  bool blnUnicodeFile = true;
  bool blnFirst = true;
  size_t lngPos = 0;
  while (lngPos < strText.size()) {
    std::string strLine = fncNextLine(strText, lngPos);
    if (strLine.empty() || strLine[0] == ';') continue;
    if (blnFirst) {
      blnFirst = false;
      if (strLine == "REGEDIT4") {
        blnUnicodeFile = false;
        continue;
      }
      if (strLine == "Windows Registry Editor Version 5.00") continue;
    }
    if (strLine[0] == '[') {
      pCurrent = nullptr;
      if (strLine.back() != ']') continue;
      std::string strInner = strLine.substr(1, strLine.size() - 2);
      if (!strInner.empty() && strInner[0] == '-') {
        subDeleteTree(objKeys, fncKeyPath(strInner.substr(1)));
        continue;
      }
      std::string strPath = fncKeyPath(strInner);
      if (!strPath.empty()) pCurrent = &objKeys[strPath];
      continue;
    }
    std::string strName;
    size_t lngAfter = 0;
    if (strLine[0] == '@') {
      lngAfter = 1;
    } else if (!fncQuoted(strLine, lngAfter, strName)) {
      continue;
    }
    while (lngAfter < strLine.size() && fncIsBlank(strLine[lngAfter])) ++lngAfter;
    if (lngAfter >= strLine.size() || strLine[lngAfter] != '=') continue;
    std::string strData = fncTrim(strLine.substr(lngAfter + 1));
    // A hex list goes on over lines that end in a backslash.
    if (fncFold(strData.substr(0, 3)) == "hex") {
      while (!strData.empty() && strData.back() == '\\' && lngPos < strText.size()) {
        strData.pop_back();
        strData = fncTrim(strData) + fncNextLine(strText, lngPos);
      }
    }
    if (pCurrent == nullptr) continue;
    Value objValue;
    bool blnDelete = false;
    if (!fncParseData(strData, blnUnicodeFile, objValue, blnDelete)) continue;
    if (blnDelete)
      pCurrent->objValues.erase(fncFold(strName));
    else
      pCurrent->objValues[fncFold(strName)] = objValue;
  }
  return objKeys;
}

// The whole file, or a system code; anything but a regular file cannot be
// read (5). The file is the machine's registry: a full export is large.
const uint64_t kRegistryCap = uint64_t(1) << 30;

int32_t fncReadRegistry(const std::string& strPath, std::string& strData) {
  try {
    strData = fncReadWholeFile(strPath, kRegistryCap, false);
    return kCodeSuccess;
  } catch (const Error& objError) {
    return objError.lngNumber == kErrFileNotFound || objError.lngNumber == kErrPathNotFound
               ? kCodeNotFound
               : kCodeAccessDenied;
  }
}

}  // namespace

int32_t fncRegOpenAgentKey(RegKey* pKey) {
  if (pKey == nullptr) return kCodeInvalidParameter;
  *pKey = nullptr;
  try {
    const char* pPath = std::getenv("TARVEX_REGISTRY");
    std::string strPath = pPath != nullptr && *pPath != '\0' ? pPath : kDefaultRegistry;
    std::string strRaw;
    int32_t lngCode = fncReadRegistry(strPath, strRaw);
    if (lngCode != kCodeSuccess) return lngCode;
    KeyMap objKeys = fncParseRegistry(fncDecode(strRaw));
    auto it = objKeys.find(kAgentKey32);
    if (it == objKeys.end()) it = objKeys.find(kAgentKey);
    if (it == objKeys.end()) return kCodeNotFound;
    *pKey = new KeyData(std::move(it->second));
    return kCodeSuccess;
  } catch (...) {
    return kErrOutOfMemory;
  }
}

int32_t fncRegQueryValue(RegKey objKey, const std::string& strName, uint32_t* pType, char* pData,
                         uint32_t* pSize) {
  if (objKey == nullptr) return kCodeInvalidHandle;
  if (pData != nullptr && pSize == nullptr) return kCodeInvalidParameter;
  const KeyData* pKeyData = static_cast<const KeyData*>(objKey);
  try {
    auto it = pKeyData->objValues.find(fncFold(std::string(strName.c_str())));
    if (it == pKeyData->objValues.end()) return kCodeNotFound;
    const Value& objValue = it->second;
    uint32_t lngNeeded = static_cast<uint32_t>(objValue.strData.size());
    if (pType != nullptr) *pType = objValue.lngType;
    if (pData == nullptr) {
      if (pSize != nullptr) *pSize = lngNeeded;
      return kCodeSuccess;
    }
    if (*pSize < lngNeeded) {
      *pSize = lngNeeded;
      return kCodeMoreData;
    }
    std::memcpy(pData, objValue.strData.data(), lngNeeded);
    *pSize = lngNeeded;
    return kCodeSuccess;
  } catch (...) {
    return kErrOutOfMemory;
  }
}

void subRegCloseKey(RegKey objKey) { delete static_cast<KeyData*>(objKey); }

}  // namespace posix
}  // namespace tarvex
