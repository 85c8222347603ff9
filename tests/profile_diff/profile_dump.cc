// Dumps what the profile calls return for a set of files, in one text form,
// so that the Win32 calls (under Wine) and this program's POSIX code can be
// compared line by line.
//
//   profile_dump FILE...                 reads each file
//   profile_dump --writes FOLDER FILE... also copies each file into FOLDER,
//                                        writes to the copy and reads it again
//
// For every file: the section-name list at many buffer sizes (all small ones
// and a few around each name's end), then, for every section name and every
// key name that could be meant by the file's raw text (and some variants and
// missing names), the value at a large buffer, at 255 and, when found, at the
// sizes around its length. Each line shows the buffer size, the returned
// count and the bytes up to and including the byte after the count. The
// writes are the program's kinds: update a key, add a key, add a section,
// write an empty value; their results are read back the same way, with the
// names taken from the original file so that both sides ask the same.
#include "profile_dump.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

const uint32_t kBig = 65536;
const size_t kMaxProbes = 400;

std::string fncEscape(const char* pData, size_t lngLength) {
  std::string strOut;
  static const char kHex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < lngLength; ++i) {
    unsigned char chr = static_cast<unsigned char>(pData[i]);
    if (chr >= 0x20 && chr < 0x7F && chr != '\\' && chr != '"') {
      strOut += static_cast<char>(chr);
    } else {
      strOut += "\\x";
      strOut += kHex[chr >> 4];
      strOut += kHex[chr & 15];
    }
  }
  return strOut;
}

std::string fncEscape(const std::string& strText) {
  return fncEscape(strText.data(), strText.size());
}

std::string fncReadRaw(const std::string& strPath) {
  std::string strData;
  FILE* pFile = std::fopen(strPath.c_str(), "rb");
  if (pFile == nullptr) return strData;
  char achBuffer[65536];
  size_t lngRead;
  while ((lngRead = std::fread(achBuffer, 1, sizeof achBuffer, pFile)) > 0)
    strData.append(achBuffer, lngRead);
  std::fclose(pFile);
  // Wide files: keep the low byte of each character (the corpus keeps them ASCII).
  if (strData.size() >= 2 && (static_cast<unsigned char>(strData[0]) == 0xFF ||
                              static_cast<unsigned char>(strData[0]) == 0xFE)) {
    size_t lngLow = static_cast<unsigned char>(strData[0]) == 0xFF ? 0 : 1;
    std::string strNarrow;
    for (size_t i = 2; i + 1 < strData.size(); i += 2) strNarrow += strData[i + lngLow];
    strData = strNarrow;
  }
  return strData;
}

std::string fncTrim(const std::string& strText) {
  size_t lngStart = strText.find_first_not_of(" \t");
  if (lngStart == std::string::npos) return "";
  size_t lngEnd = strText.find_last_not_of(" \t");
  return strText.substr(lngStart, lngEnd - lngStart + 1);
}

std::string fncCase(std::string strText, bool blnUpper) {
  for (char& chr : strText) {
    if (blnUpper && chr >= 'a' && chr <= 'z') chr = static_cast<char>(chr - 32);
    if (!blnUpper && chr >= 'A' && chr <= 'Z') chr = static_cast<char>(chr + 32);
  }
  return strText;
}

// Names as C strings: the calls cannot see past a NUL anyway.
std::string fncCName(const std::string& strText) { return std::string(strText.c_str()); }

void subAdd(std::vector<std::string>& objList, std::set<std::string>& objSeen,
            const std::string& strName) {
  std::string strC = fncCName(strName);
  if (objList.size() < kMaxProbes && objSeen.insert(strC).second) objList.push_back(strC);
}

long g_lngLookups = 0;

void subDumpNames(uint32_t lngSize, const char* pFile) {
  std::vector<char> objBuffer(lngSize + 4, '#');
  uint32_t lngCount = fncDumpSectionNames(objBuffer.data(), lngSize, pFile);
  size_t lngShow = std::min<size_t>(static_cast<size_t>(lngCount) + 1, lngSize);
  bool blnOverrun = std::memcmp(objBuffer.data() + lngSize, "####", 4) != 0;
  std::printf("names size=%u count=%u bytes=\"%s\"%s\n", lngSize, lngCount,
              fncEscape(objBuffer.data(), lngShow).c_str(), blnOverrun ? " OVERRUN" : "");
  ++g_lngLookups;
}

uint32_t fncDumpGet(const std::string& strSection, const std::string& strKey, uint32_t lngSize,
                    const char* pFile) {
  std::vector<char> objBuffer(lngSize + 4, '#');
  uint32_t lngCount =
      fncDumpGetString(strSection.c_str(), strKey.c_str(), objBuffer.data(), lngSize, pFile);
  size_t lngShow = std::min<size_t>(static_cast<size_t>(lngCount) + 1, lngSize);
  bool blnOverrun = std::memcmp(objBuffer.data() + lngSize, "####", 4) != 0;
  std::printf("get [%s] \"%s\" size=%u count=%u bytes=\"%s\"%s\n", fncEscape(strSection).c_str(),
              fncEscape(strKey).c_str(), lngSize, lngCount,
              fncEscape(objBuffer.data(), lngShow).c_str(), blnOverrun ? " OVERRUN" : "");
  ++g_lngLookups;
  return lngCount;
}

struct Candidates {
  std::vector<std::string> objSections, objKeys;
  std::set<std::string> objSeenSections, objSeenKeys;
};

std::vector<std::string> fncSectionList(const char* pFile) {
  std::vector<char> objAll(kBig, '\0');
  uint32_t lngAll = fncDumpSectionNames(objAll.data(), kBig, pFile);
  std::vector<std::string> objNames;
  for (uint32_t i = 0; i < lngAll;) {
    std::string strName(objAll.data() + i);
    objNames.push_back(strName);
    i += static_cast<uint32_t>(strName.size()) + 1;
  }
  return objNames;
}

// Section and key names that the file's raw text could mean, the listed
// names, some variants and missing names.
Candidates fncCandidates(const std::string& strPath, const std::vector<std::string>& objExtraKeys) {
  Candidates objCand;
  for (const std::string& strName : fncSectionList(strPath.c_str()))
    subAdd(objCand.objSections, objCand.objSeenSections, strName);
  std::string strRaw = fncReadRaw(strPath);
  size_t lngPos = 0;
  while (lngPos <= strRaw.size()) {
    size_t lngEnd = strRaw.find_first_of("\r\n", lngPos);
    if (lngEnd == std::string::npos) lngEnd = strRaw.size();
    std::string strLine = fncTrim(strRaw.substr(lngPos, lngEnd - lngPos));
    lngPos = lngEnd + 1;
    if (strLine.empty()) continue;
    size_t lngClose = strLine.rfind(']');
    if (strLine[0] == '[' && lngClose != std::string::npos && lngClose > 0) {
      subAdd(objCand.objSections, objCand.objSeenSections,
             fncTrim(strLine.substr(1, lngClose - 1)));
      subAdd(objCand.objSections, objCand.objSeenSections, strLine.substr(1, lngClose - 1));
      continue;
    }
    size_t lngEq = strLine.find('=');
    subAdd(objCand.objKeys, objCand.objSeenKeys,
           fncTrim(lngEq == std::string::npos ? strLine : strLine.substr(0, lngEq)));
  }
  for (const std::string& strKey : objExtraKeys)
    subAdd(objCand.objKeys, objCand.objSeenKeys, strKey);
  size_t lngFound = objCand.objSections.size();
  for (size_t i = 0; i < lngFound; ++i)
    subAdd(objCand.objSections, objCand.objSeenSections, fncCase(objCand.objSections[i], true));
  subAdd(objCand.objSections, objCand.objSeenSections, "");
  subAdd(objCand.objSections, objCand.objSeenSections, "NoSuchSection");
  subAdd(objCand.objSections, objCand.objSeenSections, "Added Section");
  lngFound = objCand.objKeys.size();
  for (size_t i = 0; i < lngFound; ++i) {
    subAdd(objCand.objKeys, objCand.objSeenKeys, fncCase(objCand.objKeys[i], true));
    subAdd(objCand.objKeys, objCand.objSeenKeys, fncCase(objCand.objKeys[i], false));
    subAdd(objCand.objKeys, objCand.objSeenKeys, " " + objCand.objKeys[i] + "\t");
  }
  subAdd(objCand.objKeys, objCand.objSeenKeys, "");
  subAdd(objCand.objKeys, objCand.objSeenKeys, "NoSuchKey");
  return objCand;
}

// lngMaxSections and blnAllSizes keep the dump of a written copy short.
void subDump(const char* pFile, const Candidates& objCand, size_t lngMaxSections,
             bool blnAllSizes) {
  // Section names: every small size, then around each name's end.
  std::vector<char> objAll(kBig, '\0');
  uint32_t lngAll = fncDumpSectionNames(objAll.data(), kBig, pFile);
  std::set<uint32_t> objSizes = {kBig, 255};
  for (uint32_t i = 0; i <= 40; ++i) objSizes.insert(i);
  uint32_t lngNames = 0;
  for (uint32_t i = 0; i < lngAll && lngNames < 100; ++i) {
    if (objAll[i] != '\0') continue;
    ++lngNames;
    for (uint32_t d = 0; d < 4; ++d)
      if (i + d >= 1) objSizes.insert(i + d);
  }
  for (uint32_t d = 0; d < 4; ++d) objSizes.insert(lngAll + d);
  for (uint32_t lngSize : objSizes) subDumpNames(lngSize, pFile);

  for (size_t i = 0; i < objCand.objSections.size() && i < lngMaxSections; ++i) {
    const std::string& strSection = objCand.objSections[i];
    for (const std::string& strKey : objCand.objKeys) {
      uint32_t lngCount = fncDumpGet(strSection, strKey, kBig, pFile);
      fncDumpGet(strSection, strKey, 255, pFile);
      if (lngCount == 0 || !blnAllSizes) continue;
      std::set<uint32_t> objMore = {0, 1, 2, lngCount, lngCount + 1, lngCount + 2};
      if (lngCount > 3) objMore.insert(lngCount - 1);
      for (uint32_t lngSize : objMore)
        if (lngSize != 255) fncDumpGet(strSection, strKey, lngSize, pFile);
    }
  }
}

std::string fncBaseName(const std::string& strPath) {
  size_t lngSlash = strPath.find_last_of("/\\");
  return strPath.substr(lngSlash == std::string::npos ? 0 : lngSlash + 1);
}

void subDumpFile(const std::string& strPath) {
  std::printf("== %s\n", fncBaseName(strPath).c_str());
  subDump(strPath.c_str(), fncCandidates(strPath, {}), kMaxProbes, true);
}

long g_lngWrites = 0;

void subWrite(const std::string& strSection, const std::string& strKey, const std::string& strValue,
              const std::string& strFile) {
  bool blnDone =
      fncDumpWriteString(strSection.c_str(), strKey.c_str(), strValue.c_str(), strFile.c_str());
  std::printf("write [%s] \"%s\" \"%s\" -> %d\n", fncEscape(strSection).c_str(),
              fncEscape(strKey).c_str(), fncEscape(strValue).c_str(), blnDone ? 1 : 0);
  ++g_lngWrites;
}

// Writes to a copy of the file what the program writes, then reads it all.
void subWriteFile(const std::string& strFolder, const std::string& strPath) {
  std::string strCopy =
      strFolder + (strFolder.find('\\') != std::string::npos ? "\\" : "/") + fncBaseName(strPath);
  std::string strRaw;
  {
    FILE* pIn = std::fopen(strPath.c_str(), "rb");
    if (pIn != nullptr) {
      char achBuffer[65536];
      size_t lngRead;
      while ((lngRead = std::fread(achBuffer, 1, sizeof achBuffer, pIn)) > 0)
        strRaw.append(achBuffer, lngRead);
      std::fclose(pIn);
    }
    FILE* pOut = std::fopen(strCopy.c_str(), "wb");
    if (pOut == nullptr) {
      std::printf("== written %s: cannot copy\n", fncBaseName(strPath).c_str());
      return;
    }
    std::fwrite(strRaw.data(), 1, strRaw.size(), pOut);
    std::fclose(pOut);
  }
  std::printf("== written %s\n", fncBaseName(strPath).c_str());
  std::vector<std::string> objNames = fncSectionList(strPath.c_str());
  Candidates objCand = fncCandidates(strPath, {"AddedKey", "EmptyKey", "Padded", "TopKey"});
  // Update and add in the first sections, and in their upper-case spelling.
  for (size_t i = 0; i < objNames.size() && i < 3; ++i) {
    const std::string& strSection = objNames[i];
    for (size_t k = 0; k < objCand.objKeys.size() && k < 3; ++k)
      subWrite(strSection, objCand.objKeys[k], "updated " + std::to_string(k), strCopy);
    subWrite(fncCase(strSection, true), "AddedKey", "added", strCopy);
    subWrite(strSection, "EmptyKey", "", strCopy);
    subWrite(strSection, "Padded", "  padded  ", strCopy);
  }
  subWrite("Added Section", "FileName", "new.dll", strCopy);
  subWrite("Added Section", "Duplix", "Y", strCopy);
  subWrite("", "TopKey", "top", strCopy);
  // The written sections, the nameless one and the new one come first.
  std::vector<std::string> objFirst = {"", "Added Section"};
  for (size_t i = 0; i < objNames.size() && i < 3; ++i) objFirst.push_back(fncCName(objNames[i]));
  Candidates objOrdered;
  for (const std::string& strSection : objFirst)
    subAdd(objOrdered.objSections, objOrdered.objSeenSections, strSection);
  for (const std::string& strSection : objCand.objSections)
    subAdd(objOrdered.objSections, objOrdered.objSeenSections, strSection);
  objOrdered.objKeys = objCand.objKeys;
  subDump(strCopy.c_str(), objOrdered, 20, false);
}

}  // namespace

int main(int argc, char** argv) {
  int intFirst = 1;
  std::string strWriteFolder;
  if (argc > 2 && std::strcmp(argv[1], "--writes") == 0) {
    strWriteFolder = argv[2];
    intFirst = 3;
  }
  for (int i = intFirst; i < argc; ++i) subDumpFile(argv[i]);
  if (!strWriteFolder.empty())
    for (int i = intFirst; i < argc; ++i) subWriteFile(strWriteFolder, argv[i]);
  std::fprintf(stderr, "lookups %ld writes %ld\n", g_lngLookups, g_lngWrites);
  return 0;
}
