// Fuzzes the POSIX registry-file reader with whole files.
//
// Each input is the registry file TARVEX_REGISTRY names. When the agent's
// key opens, InstallationPath, REGID, the default value and a name taken
// from the input are queried the ways RegQueryValueExA is called: size
// first, then the data into a buffer of exactly that size, one byte too
// few, and more than enough. Then the agent lookup itself runs on the file
// and must agree with those answers.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "control/control.h"
#include "environment/environment.h"
#include "fuzz/fuzz_support.h"
#include "platform/posix/internal.h"

using tarvex::posix::fncRegOpenAgentKey;
using tarvex::posix::fncRegQueryValue;
using tarvex::posix::subRegCloseKey;

namespace {

const int32_t kSuccess = 0;
const int32_t kNotFound = 2;
const int32_t kInvalidParameter = 87;
const int32_t kMoreData = 234;

std::string g_strFile;

struct Answer {
  int32_t lngCode;
  uint32_t lngType;
  std::string strData;
};

// Queries one value every way a caller may and checks that the answers
// agree; returns the value.
Answer Query(tarvex::RegKey objKey, const std::string& strName) {
  Answer objAnswer{0, 0, std::string()};
  uint32_t lngType = 0xDEADBEEF, lngSize = 0xDEADBEEF;
  int32_t lngCode = fncRegQueryValue(objKey, strName, &lngType, nullptr, &lngSize);
  FUZZ_CHECK(lngCode == kSuccess || lngCode == kNotFound);
  objAnswer.lngCode = lngCode;
  if (lngCode == kNotFound) {
    char chr = 0;
    uint32_t lngOne = 1;
    FUZZ_CHECK(fncRegQueryValue(objKey, strName, nullptr, &chr, &lngOne) == kNotFound);
    return objAnswer;
  }
  objAnswer.lngType = lngType;
  const uint32_t lngNeeded = lngSize;
  FUZZ_CHECK(lngNeeded < (1u << 20));  // bounded by the file

  // Only the size, no type wanted.
  lngSize = 0;
  FUZZ_CHECK(fncRegQueryValue(objKey, strName, nullptr, nullptr, &lngSize) == kSuccess);
  FUZZ_CHECK(lngSize == lngNeeded);
  // Data without a size is refused.
  char chrOne = 0;
  FUZZ_CHECK(fncRegQueryValue(objKey, strName, nullptr, &chrOne, nullptr) == kInvalidParameter);

  // Exactly the size reported (ASan sees a write past it).
  std::vector<char> objExact(lngNeeded == 0 ? 1 : lngNeeded);
  lngSize = lngNeeded;
  lngType = 0xDEADBEEF;
  FUZZ_CHECK(fncRegQueryValue(objKey, strName, &lngType, objExact.data(), &lngSize) == kSuccess);
  FUZZ_CHECK(lngSize == lngNeeded);
  FUZZ_CHECK(lngType == objAnswer.lngType);
  objAnswer.strData.assign(objExact.data(), lngNeeded);

  // (The type says nothing of the size: hex(1) and hex(4) data hold any
  // bytes, a string without its NUL included, as the registry allows.)

  // One byte too few: more data, the size needed, nothing past the buffer.
  if (lngNeeded > 0) {
    std::vector<char> objShort(lngNeeded - 1 == 0 ? 1 : lngNeeded - 1, '\x55');
    lngSize = lngNeeded - 1;
    FUZZ_CHECK(fncRegQueryValue(objKey, strName, nullptr, objShort.data(), &lngSize) == kMoreData);
    FUZZ_CHECK(lngSize == lngNeeded);
  }
  // Room to spare: the same data, the bytes after it untouched.
  std::vector<char> objLarge(lngNeeded + 8, '\x55');
  lngSize = lngNeeded + 8;
  FUZZ_CHECK(fncRegQueryValue(objKey, strName, nullptr, objLarge.data(), &lngSize) == kSuccess);
  FUZZ_CHECK(lngSize == lngNeeded);
  FUZZ_CHECK(std::string(objLarge.data(), lngNeeded) == objAnswer.strData);
  for (uint32_t i = lngNeeded; i < lngNeeded + 8; ++i) FUZZ_CHECK(objLarge[i] == '\x55');
  return objAnswer;
}

bool SameAnswer(const Answer& a, const Answer& b) {
  return a.lngCode == b.lngCode && a.lngType == b.lngType && a.strData == b.strData;
}

std::string OtherCase(std::string strText) {
  for (char& chr : strText)
    if ((chr >= 'a' && chr <= 'z') || (chr >= 'A' && chr <= 'Z')) chr ^= 0x20;
  return strText;
}

// The first quoted name of the input, as a candidate value name.
std::string NameFromInput(const std::string& strData) {
  size_t lngOpen = strData.find('"');
  if (lngOpen == std::string::npos) return "Name";
  size_t lngClose = strData.find('"', lngOpen + 1);
  if (lngClose == std::string::npos) return strData.substr(lngOpen + 1, 32);
  return strData.substr(lngOpen + 1, lngClose - lngOpen - 1);
}

// What the agent lookup makes of a string value: the text up to its NUL.
std::string TextOf(const Answer& objAnswer) {
  if (objAnswer.lngCode != kSuccess || objAnswer.lngType != tarvex::kRegSz) return std::string();
  return std::string(objAnswer.strData.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_strFile = tarvex_fuzz::ScratchFolder() + "/registry.reg";
  setenv("TARVEX_REGISTRY", g_strFile.c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t lngSize) {
  if (lngSize > 65536) return 0;
  const std::string strData(reinterpret_cast<const char*>(pData), lngSize);
  tarvex_fuzz::WriteWholeFile(g_strFile, strData);

  FUZZ_CHECK(fncRegQueryValue(nullptr, "REGID", nullptr, nullptr, nullptr) != kSuccess);
  tarvex::RegKey objKey = reinterpret_cast<tarvex::RegKey>(1);
  int32_t lngCode = fncRegOpenAgentKey(&objKey);
  FUZZ_CHECK(lngCode == kSuccess || lngCode == kNotFound);
  if (lngCode != kSuccess) {
    FUZZ_CHECK(objKey == nullptr);
    return 0;
  }
  FUZZ_CHECK(objKey != nullptr);

  const Answer objPath = Query(objKey, "InstallationPath");
  const Answer objRegID = Query(objKey, "REGID");
  FUZZ_CHECK(SameAnswer(objPath, Query(objKey, "INSTALLATIONPATH")));
  FUZZ_CHECK(SameAnswer(objRegID, Query(objKey, "regid")));
  Query(objKey, "");
  const std::string strName = NameFromInput(strData);
  const Answer objNamed = Query(objKey, strName);
  FUZZ_CHECK(SameAnswer(objNamed, Query(objKey, OtherCase(strName))));
  // A name ends at its NUL, as the A call sees it.
  FUZZ_CHECK(SameAnswer(objRegID, Query(objKey, std::string("REGID\0tail", 10))));
  subRegCloseKey(objKey);

  // The agent lookup over the same file, through the native table.
  tarvex::g_run.strInstallPath.clear();
  tarvex::g_run.strRegID.clear();
  const bool blnFound = tarvex::fncGetVELMORInfo();
  std::string strPath = TextOf(objPath);
  if (!strPath.empty() && strPath.back() != '/') strPath += '/';
  FUZZ_CHECK(tarvex::g_run.strInstallPath == strPath);
  FUZZ_CHECK(tarvex::g_run.strRegID == (strPath.empty() ? std::string() : TextOf(objRegID)));
  FUZZ_CHECK(blnFound ==
             (!tarvex::g_run.strInstallPath.empty() && !tarvex::g_run.strRegID.empty()));
  return 0;
}
